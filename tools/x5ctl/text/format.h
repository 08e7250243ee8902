// Protocol records for people and scripts: readable lines, one JSON object per record, and the
// decoding of captured byte streams of either direction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "protocol/protocol.h"
#include "x5ctl/step/session.h"
#include "x5ctl/text/task_file.h"

namespace x5::ctl::text {

// "YYYY-MM-DD HH:MM:SS UTC" of now: when a holder took an RC file, when a job's step started.
std::string UtcNow();

// A FILETIME that holds local time (100 ns units since 1601-01-01) as "YYYY-MM-DD HH:MM:SS";
// "-" for 0 (not set yet), the raw number for a negative value.
std::string FormatFileTime(int64_t filetime);
// 100 ns units as seconds with three decimals: "1.250 s".
std::string FormatDuration(int64_t units_100ns);
// The report's fixed-point I/O count (count * 10000) as "12.0000".
std::string FormatIoCount(int64_t fixed);
// "initialising", "before the step", ..., or "unknown" for a value the runner never sends.
std::string PhaseName(protocol::Phase phase);

// Readable forms; each ends with a line end.
std::string FormatStatus(const protocol::StatusRecord& status);
std::string FormatReport(const step::ReportRecord& report, size_t number);
std::string FormatCommand(std::string_view name, int32_t argument);
// The task in the task file's own key names (text fields right-trimmed as the runner reads them);
// lengths that disagree with the blocks appear under [raw]. With the task file's ops, it reads back
// as the same task file.
std::string FormatTask(const protocol::TaskRecord& task,
                       const TaskBlocks& blocks,
                       const std::vector<OpStep>& ops = {});

// A JSON value on one line, without the line end, as every JSON line of x5ctl is written: text
// that is not UTF-8 never throws (it becomes U+FFFD) and control characters are escaped, the C1
// ones and DEL too, so a JSON line shown on a terminal cannot drive it.
std::string JsonLine(const nlohmann::ordered_json& json);
std::string JsonLine(const nlohmann::json& json);

// One JSON object on one line, without the line end. Text is decoded from Windows-1252.
std::string StatusJson(const protocol::StatusRecord& status);
std::string ReportJson(const step::ReportRecord& report, size_t number);
std::string CommandJson(std::string_view name, int32_t argument);
std::string TaskJson(const protocol::TaskRecord& task, const TaskBlocks& blocks);
// The same record as an object, for records that show some of its fields under the same names.
nlohmann::ordered_json TaskObject(const protocol::TaskRecord& task, const TaskBlocks& blocks);
// Events of a conversation that are not records: the runner's exit, and a failure.
std::string ExitJson(int32_t exit_code);
std::string ErrorJson(std::string_view message);
// Why the step ended as it did (x5ctl explain, run --explain); the paragraph in ANSI bytes.
std::string ExplanationJson(std::string_view paragraph);

// What the runner wrote: the status record, then step reports with their report text.
struct RunnerStream {
  std::optional<protocol::StatusRecord> status;
  std::vector<step::ReportRecord> reports;
  size_t trailing = 0;  // bytes at the end that do not make a whole record
  std::string problem;  // why decoding stopped early; empty when the stream was whole
};
[[nodiscard]] RunnerStream DecodeRunnerStream(std::span<const uint8_t> bytes);
// Step reports only (what follows the status record).
[[nodiscard]] RunnerStream DecodeReportStream(std::span<const uint8_t> bytes);

// What the parent wrote: the task record, the blocks its length fields announce, then operator
// commands.
struct ParentStream {
  std::optional<protocol::TaskRecord> task;
  TaskBlocks blocks;  // as sent; the variables block keeps its leading delimiter
  std::vector<protocol::OperatorCommand> commands;
  size_t trailing = 0;
  std::string problem;
};
[[nodiscard]] ParentStream DecodeParentStream(std::span<const uint8_t> bytes);

}  // namespace x5::ctl::text
