// Readable and JSON forms of records, and the decoding of captured streams.
#include "x5ctl/text/format.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sstream>

namespace x5::ctl::text {
namespace {

TEST(Format, TimesCountsAndPhases) {
  const std::pair<int64_t, const char*> times[] = {
      {0, "-"},
      {133'536'836'960'000'000, "2024-02-29 12:34:56"},
      {116'444'736'009'999'999, "1970-01-01 00:00:00"},  // fractions are cut, not rounded
      {-5, "-5"},
  };
  for (const auto& [filetime, text] : times)
    EXPECT_EQ(FormatFileTime(filetime), text) << filetime;
  EXPECT_EQ(FormatDuration(-5'000), "-0.001 s");  // milliseconds are rounded
  EXPECT_EQ(FormatIoCount(5), "0.0005");
  EXPECT_EQ(FormatIoCount(-15000), "-1.5000");
  EXPECT_EQ(PhaseName(static_cast<protocol::Phase>(9)), "unknown");  // a byte no runner sends
}

step::ReportRecord FinalReport() {
  step::ReportRecord r;
  r.report.start_time = 116'444'736'000'000'000;
  r.report.end_time = 116'444'736'600'000'000;
  r.report.kernel_time = 1'000'000;
  r.report.io_count = 120000;
  r.report.peak_memory_kb = 2048;
  r.report.memory_kb = 1024;
  r.report.status_text = "STEP OK ";
  r.report.current_rc = 7;
  r.report.phase = protocol::Phase::kEndReceived;
  r.text = "***** WARNING - ABEND MODE, Task RC= 7 *****\r\n\r\nM\xfcller";
  r.report.report_text_length = static_cast<int32_t>(r.text.size());
  return r;
}

TEST(Format, ReportShowsBlanksLinesAndMissingLineEnd) {
  EXPECT_EQ(
      FormatReport(FinalReport(), 3),
      "report 3  phase 5 (END received)  status \"STEP OK \"  code 0  current RC 7  flag \"+\"\n"
      "  start 1970-01-01 00:00:00  end 1970-01-01 00:01:00  kernel 0.100 s  user 0.000 s\n"
      "  peak memory 2048 KB  memory 1024 KB  I/O 12.0000  version 1\n"
      "  report text, 54 bytes:\n"
      "  | ***** WARNING - ABEND MODE, Task RC= 7 *****\n  |\n  | M\xc3\xbcller\n"
      "  (no line end after the last line)\n");
  // A report without text says nothing about text.
  EXPECT_EQ(FormatReport(step::ReportRecord{}, 1).find("report text"), std::string::npos);
}

TEST(Format, JsonRecordsCarryEveryField) {
  auto report = nlohmann::json::parse(ReportJson(FinalReport(), 2));
  const auto expected = nlohmann::json::parse(
      R"({"record": "report", "number": 2, "status_text": "STEP OK ", "phase": 5, "current_rc": 7,
          "result_flag": "+", "io_count": 12.0, "io_count_raw": 120000,
          "start_time": "1970-01-01 00:00:00"})");
  for (const auto& [key, value] : expected.items())
    EXPECT_EQ(report[key], value) << key;
  EXPECT_TRUE(report["report_text"].get<std::string>().ends_with("\r\n\r\nM\xc3\xbcller"));
  EXPECT_TRUE(nlohmann::json::parse(ReportJson(step::ReportRecord{}, 1))["end_time"].is_null());
}

std::vector<uint8_t> CapturedStream(const std::vector<step::ReportRecord>& reports) {
  protocol::StatusRecord status;
  status.status_text = "Started ";
  auto head = protocol::EncodeStatusRecord(status);
  std::vector<uint8_t> bytes(head.begin(), head.end());
  for (const step::ReportRecord& r : reports) {
    auto b = protocol::EncodeStepReport(r.report);
    bytes.insert(bytes.end(), b.begin(), b.end());
    bytes.insert(bytes.end(), r.text.begin(), r.text.end());
  }
  return bytes;
}

TEST(Decode, CapturedRunnerStream) {
  step::ReportRecord running;
  running.report.status_text = "1       ";
  running.report.status_code = protocol::kStillRunning;
  running.report.phase = protocol::Phase::kStepLaunched;
  step::ReportRecord no_text = running;  // a negative length is no text, not text to the end
  no_text.report.report_text_length = -4;
  std::vector<uint8_t> bytes = CapturedStream({running, no_text, FinalReport()});

  RunnerStream whole = DecodeRunnerStream(bytes);
  EXPECT_TRUE(whole.problem.empty()) << whole.problem;
  ASSERT_TRUE(whole.status);
  EXPECT_EQ(whole.status->status_text, "Started ");
  ASSERT_EQ(whole.reports.size(), 3u);
  EXPECT_EQ(whole.reports[1].report.status_code, protocol::kStillRunning);
  EXPECT_EQ(whole.reports[1].text, "");
  EXPECT_EQ(whole.reports[2].text, FinalReport().text);

  // Cut inside the report text, inside a report, and before the status record ends.
  RunnerStream in_text = DecodeRunnerStream(std::span(bytes).first(bytes.size() - 3));
  EXPECT_EQ(in_text.reports.size(), 3u);
  EXPECT_NE(in_text.problem.find("report 3 announces"), std::string::npos) << in_text.problem;
  RunnerStream in_report = DecodeRunnerStream(std::span(bytes).first(28 + 80 + 10));
  EXPECT_EQ(in_report.reports.size(), 1u);
  EXPECT_EQ(in_report.trailing, 10u);
  RunnerStream short_status = DecodeRunnerStream(std::span(bytes).first(20));
  EXPECT_FALSE(short_status.status);
  EXPECT_FALSE(short_status.problem.empty());
}

TEST(Decode, CapturedParentStream) {
  protocol::TaskRecord task = DefaultTaskRecord();
  TaskBlocks blocks{"cmd /c echo hi", "", "\x01SET A=1"};
  FillBlockLengths(task, blocks);
  std::vector<uint8_t> bytes = EncodeTaskStream(task, blocks);
  for (const char* name : {"STAT", "KILL", "END "}) {
    auto c = protocol::EncodeOperatorCommand(name, 5);
    bytes.insert(bytes.end(), c.begin(), c.end());
  }
  ParentStream whole = DecodeParentStream(bytes);
  EXPECT_TRUE(whole.problem.empty()) << whole.problem;
  EXPECT_EQ(whole.blocks.variables, "\x01SET A=1");
  ASSERT_EQ(whole.commands.size(), 3u);
  EXPECT_EQ(whole.commands[2].name, "END ");
  EXPECT_EQ(whole.commands[1].argument, 5);

  ParentStream cut = DecodeParentStream(std::span(bytes).first(protocol::kTaskRecordSize + 4));
  EXPECT_NE(cut.problem.find("command block announces 14 bytes but 4 follow"), std::string::npos)
      << cut.problem;
}

}  // namespace
}  // namespace x5::ctl::text
