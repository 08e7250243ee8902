// The job author's workbench against the real runner: `x5ctl check` gives the report text the
// runner gave for the same task and files, and the explanation names the rule and the RC rule that
// decided.
#include <nlohmann/json.hpp>

#include <sstream>

#include "e2e_support.h"
#include "x5ctl/check/check.h"
#include "x5ctl/step/explain.h"
#include "x5ctl/text/ansi_text.h"
#include "x5ctl/text/format.h"

namespace x5::e2e {
namespace {

class Workbench : public RunnerTest {};

TEST_F(Workbench, CheckGivesTheRunnersReportTextAndExplainSaysWhy) {
  // A rule before the step fires on a marker file; after the step a reverse rule finds what the
  // step wrote into the job log, which makes the step abend. It searches forward: the log saved
  // at the end also holds the runner's own notes of these rules, which quote the search text.
  std::ofstream(Linux("JOB/S01/marker.txt")) << "present";
  std::string toml = TaskFileHead() + "picture_interval = -1\ncommand = " +
                     ctl::text::TomlString(step_ + " echo import FAILED") + "\n";
  toml += "conditions = '''\nR=R2 F=%X5S%marker.txt\nR=3 F=(%X5S%missing.txt > 0)\n+>\n";
  toml += "R=R8 F=" + Win("console.txt") + " S=\"import FAILED\"\n'''\n";
  const fs::path task_file = Linux("task.toml");
  std::ofstream(task_file) << toml;
  core::Result<ctl::text::TaskFile> parsed = ctl::text::ParseTaskFile(toml, "task.toml");
  ASSERT_TRUE(parsed) << parsed.failure().text;
  blocks_ = parsed->blocks;
  Start(parsed->task);
  const ctl::step::ReportRecord final_report = StatUntilFinal();
  EndConversation();
  ASSERT_NE(final_report.text.find("ABENDED"), std::string::npos) << final_report.text;

  ctl::check::CheckOptions options;
  options.task_path = task_file.string();
  options.drives = {"C=" + drive_c_.string()};
  options.sections = ctl::check::CheckOptions::Sections::kAfter;
  options.json = true;
  std::ostringstream out;
  std::ostringstream errors;
  // One table: the check's status is the one exec exits with for the real final report.
  EXPECT_EQ(ctl::check::RunCheck(options, out, errors),
            ctl::step::OutcomeOfFinalReport(final_report.report).status)
      << errors.str();
  const std::string report_text_record =
      "{\"record\":\"report_text\",\"text\":" +
      nlohmann::json(ctl::text::Utf8FromAnsi(final_report.text)).dump() + "}";
  EXPECT_NE(out.str().find(report_text_record), std::string::npos)
      << "the runner said:\n"
      << final_report.text << "\nthe check said:\n"
      << out.str();

  const std::string paragraph = ctl::step::ExplainStep(
      ctl::text::DecodeRunnerStream(session_->Received()), ReadFileText(Linux("console.txt")));
  for (const char* part :
       {"ran and its process ended", "Rule line 1 (before the step) set RC 2, having found",
        "Rule line 2 (before the step) set RC 3", "Rule line 4 (after the step) set RC 8",
        "found step RC 8 (set by rule line 4) above the maximum RC 4"})
    EXPECT_NE(paragraph.find(part), std::string::npos) << part << " is not in: " << paragraph;
}

}  // namespace
}  // namespace x5::e2e
