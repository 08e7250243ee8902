// The printer report of the "/X5P" switch: one line per printer the step's user can open, written
// to "Printers.txt" in the global parameter directory.
#include "commands/printer_report.h"

#include <cstring>

#include "core/fault.h"

namespace x5::commands {
namespace {

constexpr size_t kMaxAnsiText = 512;

}  // namespace

std::string CopyAnsiText(const char* text) {
  if (text == nullptr) {
    return {};
  }
  const size_t length = strnlen(text, kMaxAnsiText);
  if (length == kMaxAnsiText) {
    return {};
  }
  return std::string(text, length);
}

std::string LocationOf(std::string_view description) {
  const size_t last = description.rfind(',');
  if (last == std::string_view::npos) {
    return {};
  }
  const std::string_view after_last = description.substr(last + 1);
  if (after_last.size() >= 2) {
    return std::string(after_last);
  }
  const size_t first = description.find(',');
  const size_t second = description.find(',', first + 1);
  if (second != std::string_view::npos) {
    return std::string(description.substr(first + 1, second - first - 1));
  }
  return std::string(description.substr(0, first));
}

std::string PrinterLine(const PrinterEntry& printer,
                        std::string_view description,
                        std::string_view comment) {
  const std::string location = LocationOf(description);
  std::string line = location.empty() ? printer.driver_name : location;
  line += '/';
  if (!comment.empty()) {
    line.append(comment);
    line += ": ";
  } else {
    line += printer.port_name;
    line += ' ';
  }
  line += printer.device_name;
  return line;
}

std::string PrinterReport(PrinterSource& printers) {
  std::string report = "Printing Off: ";
  for (const PrinterEntry& printer : printers.Installed()) {
    std::string description;
    std::string comment;
    if (!printers.Describe(printer.device_name, description, comment)) {
      continue;
    }
    report += "\r\n";
    report += PrinterLine(printer, description, comment);
  }
  return report;
}

std::string WritePrinterReport(PrinterSource& printers,
                               FileAccess& files,
                               std::string_view directory,
                               bool& written) noexcept {
  written = false;
  try {
    std::string report = PrinterReport(printers);
    // Only into the global parameter directory: before it is known, nowhere.
    if (directory.empty())
      return report;
    std::string path(directory);
    path.append(kPrinterReportFile);
    std::string refusal;
    const WriteOutcome outcome = files.WriteJobFile(path, report + "\r\n", refusal);
    written = outcome.state == WriteOutcome::State::kWritten;
    if (!refusal.empty())
      return report + "\r\n" + refusal;
    return report;
  } catch (...) {
    core::UnexpectedFault("WritePrinterReport");
    return {};  // not written
  }
}

}  // namespace x5::commands
