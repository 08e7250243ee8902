// `x5ctl check JOB.toml`: each step of a job checked as `check --both` checks a task, with the RC
// the step before would leave, and the job's table and outcome as `x5ctl job run` would show them.
#include <filesystem>
#include <ostream>

#include "x5ctl/check/check.h"
#include "x5ctl/check/checker.h"
#include "x5ctl/job/job_file.h"
#include "x5ctl/job/job_state.h"
#include "x5ctl/text/ansi_text.h"
#include "x5ctl/text/format.h"
#include "x5ctl/text/task_layers.h"

namespace x5::ctl::check {

bool IsJobFile(const std::string& path) {
  const core::Result<std::string> toml = text::ReadTomlFile(path, "task file");
  if (!toml)
    return false;
  const core::Result<toml::table> parsed = text::ParseToml(*toml, path);
  return parsed && parsed->contains("step");
}

int RunJobCheck(const CheckOptions& options, std::ostream& out, std::ostream& errors) {
  core::Result<job::Job> loaded = job::LoadJobFile(options.task_path);
  if (!loaded) {
    errors << text::ProblemLine(loaded.failure().text);
    return kCheckUsage;
  }
  const job::Job& job = *loaded;
  const int count = static_cast<int>(job.steps.size());
  // The table's records, as a run of the whole job that went as predicted would leave them.
  job::JobState state = job::StartRun(job, std::nullopt, 1, count, "check", "check");
  if (!options.json) {
    out << "Checking the job "
        << text::TerminalText(std::filesystem::path(options.task_path).filename().string()) << ": "
        << count << (count == 1 ? " step" : " steps")
        << ", each as check --both checks a task, each with the RC the one before would leave\n";
  }
  bool unchecked = false;
  int32_t rc = job.task_rc;
  for (const job::JobStep& step : job.steps) {
    text::TaskFile task = step.task;
    task.task.task_rc = rc;
    CheckOptions step_options = options;
    step_options.task_path = options.task_path + " step " + std::to_string(step.number);
    core::Result<PredictedStep> predicted = CheckTask(task, step_options);
    if (!predicted) {
      errors << text::ProblemLine(predicted.failure().text);
      return kCheckUsage;
    }
    if (!options.json) {
      out << "\n===== step " << step.number << " of " << count << ": "
          << text::TerminalText(text::VisibleText(step.name)) << ", task RC " << rc << " =====\n";
    }
    out << predicted->shown;
    job::StepRecord& record = state.steps[static_cast<size_t>(step.number - 1)];
    record.stage = job::Stage::kDone;
    record.rc_in = rc;
    record.status_text = predicted->status_text;
    record.result_flag = predicted->result_flag;
    record.current_rc = predicted->current_rc;
    record.rc_out = predicted->current_rc;
    record.exit_status = predicted->exit_status;
    record.meaning = predicted->verdict;
    record.goes_on = true;
    unchecked = unchecked || predicted->exit_status == kCheckUnchecked;
    // As the RC file carries it: the next step starts with this step's current RC.
    rc = predicted->current_rc;
  }
  const std::optional<step::ExecOutcome> outcome = job::JobOutcome(state);
  const int status = unchecked || !outcome ? kCheckUnchecked : outcome->status;
  if (options.json) {
    // The job record as `job run --json` writes it, with the outcome a check can tell.
    Json record = Json::parse(job::JobJson(job, state));
    if (unchecked) {
      record["exit_status"] = status;
      record["meaning"] = "not predicted: a step's check could not be completed";
    }
    out << text::JsonLine(record) << "\n";
  } else {
    out << "\nThe job as predicted:\n" << job::FormatTable(state);
    out << "Outcome: "
        << (unchecked ? std::string("not predicted: a step's check could not be completed")
                      : text::TerminalText(text::VisibleText(outcome ? outcome->meaning : "")))
        << " (exit status " << status << ")\n";
  }
  return status;
}

}  // namespace x5::ctl::check
