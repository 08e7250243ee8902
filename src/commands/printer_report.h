// The printer report of the "/X5P" switch: one line per printer the step's user can open, written
// to "Printers.txt" in the global parameter directory.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "commands/file_access.h"

namespace x5::commands {

// An installed printer as the spooler lists it.
struct PrinterEntry {
  std::string device_name;
  std::string driver_name;
  std::string port_name;
};

// The spooler's view of the printers.
class PrinterSource {
 public:
  virtual ~PrinterSource() = default;
  // Every installed printer, in the spooler's order.
  [[nodiscard]] virtual std::vector<PrinterEntry> Installed() = 0;
  // Opens the printer and reads its description and comment; false when it cannot be opened.
  // A printer that opens but whose details cannot be read gives true with empty texts.
  [[nodiscard]] virtual bool Describe(const std::string& device_name,
                                      std::string& description,
                                      std::string& comment) = 0;
};

// The spooler (winspool). Windows build only.
[[nodiscard]] std::unique_ptr<PrinterSource> MakeSpoolerPrinters();

// Copies a NUL-terminated text of at most 512 characters; a null pointer or a text without NUL
// within 512 characters gives the empty string. Never reads past the first NUL.
std::string CopyAnsiText(const char* text);

// The location part of a printer description ("desc,name,comment" style, comma separated).
std::string LocationOf(std::string_view description);

// One report line for a printer.
std::string PrinterLine(const PrinterEntry& printer,
                        std::string_view description,
                        std::string_view comment);

// "Printing Off: " followed by a line end and a line for every printer that can be opened.
std::string PrinterReport(PrinterSource& printers);

// Builds the report and writes it, with a line end, to `directory` (the global parameter
// directory) + "Printers.txt", replacing the file in one step; nothing is written while the
// directory is empty. `written` tells whether the file was written. The returned report ends with
// the refusal line when a link in the folder kept the file from being written.
[[nodiscard]] std::string WritePrinterReport(PrinterSource& printers,
                                             FileAccess& files,
                                             std::string_view directory,
                                             bool& written) noexcept;

inline constexpr std::string_view kPrinterReportFile = "Printers.txt";

}  // namespace x5::commands
