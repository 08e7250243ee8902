// The RC file's text and its reading; locking and the atomic write are per platform.
#include "x5ctl/host/rc_file.h"

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <system_error>

#include "x5ctl/text/format.h"

namespace x5::ctl::host {
namespace {

bool Blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

core::Result<int32_t> ParseRcFileText(std::string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && Blank(text[begin]))
    ++begin;
  while (end > begin && Blank(text[end - 1]))
    --end;
  const std::string_view number = text.substr(begin, end - begin);
  if (number.empty())
    return core::Failure{"holds no RC (an RC file holds one decimal number)"};
  // from_chars takes no plus sign; a minus sign it does.
  const std::string_view digits = number.front() == '+' ? number.substr(1) : number;
  int32_t rc = 0;
  const auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), rc);
  if (ec == std::errc::result_out_of_range)
    return core::Failure{"holds an RC out of range (-2147483648 to 2147483647)"};
  if (ec != std::errc() || ptr != digits.data() + digits.size() || digits.empty() ||
      (digits.front() == '-' && number.front() == '+'))
    return core::Failure{"holds something other than one decimal number"};
  return rc;
}

core::Result<KilledStepRc> ParseKilledStepRc(std::string_view text) {
  if (text == "abend")
    return KilledStepRc{};
  if (text == "report")
    return KilledStepRc{KilledStepRc::Kind::kReport, 0};
  core::Result<int32_t> rc = ParseRcFileText(text);
  if (!rc || text.empty() || Blank(text.front()) || Blank(text.back()))
    return core::Failure{"\"" + std::string(text) +
                         "\": the RC of a killed step is abend, report or a number"};
  return KilledStepRc{KilledStepRc::Kind::kValue, *rc};
}

std::optional<int32_t> RcOfKilledStep(const KilledStepRc& choice,
                                      int32_t maximum_rc,
                                      std::optional<int32_t> report_rc) {
  switch (choice.kind) {
    case KilledStepRc::Kind::kReport:
      return report_rc;
    case KilledStepRc::Kind::kValue:
      return choice.value;
    case KilledStepRc::Kind::kAbend:
      break;
  }
  const int32_t abend = maximum_rc == INT32_MAX ? INT32_MAX : maximum_rc + 1;
  return report_rc && *report_rc > abend ? *report_rc : abend;
}

std::string RcFileText(int32_t rc) {
  return std::to_string(rc) + "\n";
}

std::filesystem::path RcLockPath(const std::filesystem::path& rc_file) {
  std::filesystem::path lock = rc_file;
  lock += ".lock";
  return lock;
}

std::string RcHolderNote(int64_t process_id, std::string_view host, std::string_view what) {
  return "x5ctl exec pid " + std::to_string(process_id) + " on " + std::string(host) + " since " +
         text::UtcNow() + ", " + std::string(what) + "\n";
}

core::Result<std::optional<int32_t>> RcFromText(const std::filesystem::path& path,
                                                std::string_view text) {
  if (text.size() > kRcFileMaxBytes)
    return core::Failure{path.string() + ": not an RC file (more than " +
                         std::to_string(kRcFileMaxBytes) + " bytes)"};
  core::Result<int32_t> rc = ParseRcFileText(text);
  if (!rc)
    return rc.failure().Within(path.string() + ": the RC file ");
  return std::optional<int32_t>(*rc);
}

}  // namespace x5::ctl::host
