// The printer report: location rules, line layouts, skipped printers and the report file.
#include "commands/printer_report.h"

#include <gtest/gtest.h>

#include "commands/testing/commands_test_support.h"

namespace x5::commands {
namespace {

TEST(PrinterReport, LocationOfTheDescriptionAndTheLine) {
  const std::pair<std::string, std::string> cases[] = {
      {"no comma", ""},
      {"HP,LaserJet,Room 12", "Room 12"},
      {"HP,LaserJet,,", "LaserJet"},  // ends in two commas: the second field
      {"HP,LaserJet,x", "LaserJet"},  // last field too short
      {"Only,x", "Only"},             // one comma, short last field
      {",", ""},
      {"a,bc", "bc"},
  };
  for (const auto& [description, location] : cases)
    EXPECT_EQ(LocationOf(description), location) << description;
  const PrinterEntry printer{"\\\\srv\\P1", "HP Driver", "IP_10.0.0.1"};
  EXPECT_EQ(PrinterLine(printer, "a,b,Floor 2", "duplex"), "Floor 2/duplex: \\\\srv\\P1");
  EXPECT_EQ(PrinterLine(printer, "", ""), "HP Driver/IP_10.0.0.1 \\\\srv\\P1");
}

TEST(PrinterReport, SkipsPrintersThatDoNotOpenAndWritesTheFile) {
  commands::testing::ListedPrinters printers;
  commands::testing::MemoryFiles files;
  printers.installed = {{"P1", "D1", "LPT1:"}, {"P2", "D2", "LPT2:"}, {"P3", "D3", "COM1:"}};
  printers.opening = {{"P1", {"x,y,Hall", ""}}, {"P3", {"", "note"}}};
  const std::string report = "Printing Off: \r\nHall/LPT1: P1\r\nD3/note: P3";
  bool written = false;
  EXPECT_EQ(WritePrinterReport(printers, files, "C:\\J\\S\\", written), report);
  EXPECT_TRUE(written);
  EXPECT_EQ(files.files["C:\\J\\S\\Printers.txt"], report + "\r\n");
  files.write_failure = WriteOutcome::State::kWriteFailed;
  (void)WritePrinterReport(printers, files, "C:\\J\\S\\", written);  // only `written` counts here
  EXPECT_FALSE(written);
  // A refusal is said after the report; before the directory is known nothing is written.
  files.refusal = "***** C:\\J\\S\\Printers.txt not written: its folder is a link *****";
  EXPECT_EQ(WritePrinterReport(printers, files, "C:\\J\\S\\", written),
            report + "\r\n" + files.refusal);
  files.writes.clear();
  EXPECT_EQ(WritePrinterReport(printers, files, "", written), report);
  EXPECT_FALSE(written);
  EXPECT_TRUE(files.writes.empty());
}

TEST(PrinterReport, CopyAnsiTextStopsAtTheFirstNul) {
  EXPECT_EQ(CopyAnsiText(nullptr), "");
  EXPECT_EQ(CopyAnsiText("abc"), "abc");
  const std::string exactly511 = std::string(511, 'x');
  EXPECT_EQ(CopyAnsiText(exactly511.c_str()), exactly511);
  const std::string unterminated = std::string(512, 'x') + std::string(1, '\0');
  EXPECT_EQ(CopyAnsiText(unterminated.c_str()), "");
}

}  // namespace
}  // namespace x5::commands
