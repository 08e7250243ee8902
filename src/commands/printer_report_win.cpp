// The spooler's printers (winspool): the installed list at level 2, each printer's level-1
// description and comment.
#include "commands/printer_report.h"

#include <windows.h>
#include <winspool.h>

#include <cstdint>
#include <vector>

#include "win/unique_handle.h"

namespace x5::commands {
namespace {

struct PrinterHandleTraits {
  using Handle = HANDLE;
  static Handle Empty() noexcept { return nullptr; }
  static bool IsValid(Handle h) noexcept { return h != nullptr; }
  static void Close(Handle h) noexcept { ClosePrinter(h); }
};
using ScopedPrinter = win::UniqueHandle<PrinterHandleTraits>;

// Spooler buffers hold structures with pointers; 8-byte words keep them aligned (and the size a
// whole number of 32-bit words).
std::vector<uint64_t> AlignedBuffer(DWORD bytes) {
  return std::vector<uint64_t>((static_cast<size_t>(bytes) + 7) / 8);
}

class SpoolerPrinters final : public PrinterSource {
 public:
  // A fault is not "no printers": it reaches WritePrinterReport, which then writes no report.
  std::vector<PrinterEntry> Installed() override { return List(); }

  bool Describe(const std::string& device_name,
                std::string& description,
                std::string& comment) override {
    return Read(device_name, description, comment);
  }

 private:
  static std::vector<PrinterEntry> List() {
    constexpr DWORD kFlags = PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS;
    std::vector<PrinterEntry> printers;
    DWORD needed = 0;
    DWORD count = 0;
    EnumPrintersA(kFlags, nullptr, 2, nullptr, 0, &needed, &count);
    // The list may grow between the calls; ask again a few times.
    for (int attempt = 0; attempt < 4 && needed > 0; ++attempt) {
      std::vector<uint64_t> buffer = AlignedBuffer(needed);
      const auto size = static_cast<DWORD>(buffer.size() * sizeof(uint64_t));
      if (EnumPrintersA(kFlags, nullptr, 2, reinterpret_cast<BYTE*>(buffer.data()), size, &needed,
                        &count)) {
        const auto* info = reinterpret_cast<const PRINTER_INFO_2A*>(buffer.data());
        for (DWORD i = 0; i < count; ++i) {
          printers.push_back({CopyAnsiText(info[i].pPrinterName), CopyAnsiText(info[i].pDriverName),
                              CopyAnsiText(info[i].pPortName)});
        }
        return printers;
      }
      if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        break;
      }
    }
    return printers;
  }

  static bool Read(const std::string& device_name, std::string& description, std::string& comment) {
    description.clear();
    comment.clear();
    std::string name = device_name;
    ScopedPrinter printer;
    if (!OpenPrinterA(name.data(), printer.put(), nullptr)) {
      return false;
    }
    DWORD needed = 0;
    GetPrinterA(printer.get(), 1, nullptr, 0, &needed);
    if (needed == 0) {
      return true;
    }
    std::vector<uint64_t> buffer = AlignedBuffer(needed);
    const auto size = static_cast<DWORD>(buffer.size() * sizeof(uint64_t));
    if (!GetPrinterA(printer.get(), 1, reinterpret_cast<BYTE*>(buffer.data()), size, &needed)) {
      return true;
    }
    const auto* info = reinterpret_cast<const PRINTER_INFO_1A*>(buffer.data());
    description = CopyAnsiText(info->pDescription);
    comment = CopyAnsiText(info->pComment);
    return true;
  }
};

}  // namespace

std::unique_ptr<PrinterSource> MakeSpoolerPrinters() {
  return std::make_unique<SpoolerPrinters>();
}

}  // namespace x5::commands
