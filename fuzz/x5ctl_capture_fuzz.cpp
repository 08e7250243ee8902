// x5ctl's decoding of captured streams (either direction) and their readable and JSON forms: any
// bytes decode without a fault, and what is printed stays lines of visible text and JSON lines
// that parse, with no byte a terminal would obey.
#include <nlohmann/json.hpp>

#include "fuzz_check.h"
#include "x5ctl/text/format.h"

using x5::fuzz::Check;
namespace text = x5::ctl::text;

namespace {

// Readable output: line ends only where the format puts them, no other control byte, no C1
// character, no DEL.
void CheckShown(const std::string& shown) {
  for (size_t i = 0; i < shown.size(); ++i) {
    const auto byte = static_cast<uint8_t>(shown[i]);
    Check(byte >= 0x20 || byte == '\n');
    Check(byte != 0x7F);
    Check(!(byte == 0xC2 && i + 1 < shown.size() && static_cast<uint8_t>(shown[i + 1]) >= 0x80 &&
            static_cast<uint8_t>(shown[i + 1]) <= 0x9F));
  }
}

void CheckJson(const std::string& line) {
  CheckShown(line);
  Check(line.find('\n') == std::string::npos);
  Check(!nlohmann::json::parse(line, nullptr, false).is_discarded());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  const text::RunnerStream runner = text::DecodeRunnerStream(bytes);
  size_t texts = 0;
  if (runner.status) {
    CheckShown(text::FormatStatus(*runner.status));
    CheckJson(text::StatusJson(*runner.status));
  }
  for (size_t i = 0; i < runner.reports.size(); ++i) {
    texts += runner.reports[i].text.size();
    CheckShown(text::FormatReport(runner.reports[i], i + 1));
    CheckJson(text::ReportJson(runner.reports[i], i + 1));
  }
  // Nothing is decoded that was not in the stream.
  Check(texts + runner.reports.size() * x5::protocol::kStepReportSize <= size);
  CheckJson(text::ErrorJson(runner.problem));
  const text::ParentStream parent = text::DecodeParentStream(bytes);
  if (parent.task)
    CheckJson(text::TaskJson(*parent.task, parent.blocks));
  for (const x5::protocol::OperatorCommand& command : parent.commands) {
    CheckShown(text::FormatCommand(command.name, command.argument));
    CheckJson(text::CommandJson(command.name, command.argument));
  }
  return 0;
}
