// The report and accounting routine: measures the step, sends a report during the step, writes
// the job log block after it; and the copy of the console into the task's console file.
#include "runner/report_win.h"

#include <windows.h>

#include "core/calendar.h"
#include "protocol/status_texts.h"
#include "runner/accounting.h"
#include "runner/accounting_win.h"
#include "runner/job_log_lines.h"
#include "runner/run_win.h"

namespace x5::runner {
namespace {

core::LocalTime LocalFromFileTime(int64_t file_time) {
  return core::CalendarFromFileTime(file_time);
}

// The step's main process times replace those kept when the system gives them.
// A measurement that fails leaves the figures as they were, and is said nowhere: the job log is
// the step's, and rules search it for the step's failures.
void ReadProcessTimes(StepProcess& step, protocol::StepReport& report) {
  const core::Result<ProcessTimes> times = QueryProcessTimes(step.Process());
  if (!times)
    return;
  step.times.Read(times->creation, times->exit);
  report.kernel_time = times->kernel_time;
  report.user_time = times->user_time;
}

// With `command` (after the step) it writes the job log block; without it (during the step) it
// sends the step report.
void ReportAndAccount(const RunInputs& inputs,
                      StepProcess& step,
                      RunOutcome& outcome,
                      RunServices& services,
                      const JobLogCommand* command) {
  int32_t process_count = 1;
  uint64_t measured_io = 0;
  protocol::StepReport& report = outcome.report;
  if (inputs.os_level == core::OsLevel::kFour) {
    const core::Result<ProcessMemoryKb> memory = QueryProcessMemory(step.Process());
    report.memory_kb = memory ? memory->current_kb : 0;
    report.peak_memory_kb = memory ? memory->peak_kb : 0;
  }
  if (command != nullptr) {
    const std::string separator = SeparatorLine(inputs.task.console_columns);
    services.console.SendText("\r\n" + separator);
    core::LocalTime creation;
    core::LocalTime exit;
    if (inputs.os_level >= core::OsLevel::kFour) {
      ReadProcessTimes(step, report);
      creation = step.times.Creation();
      exit = step.times.Exit(services.clock.Now());
    } else {
      creation = LocalFromFileTime(report.start_time);
      exit = services.clock.Now();
    }
    const int64_t job_value = step.HasJob() ? static_cast<int64_t>(step.JobHandleValue()) : 0;
    services.console.SendText(IdentificationLine(inputs.console_title, job_value));
    services.console.SendText(CommandLogLine(command->command));
    services.console.SendText(WorkDirLogLine(command->working_directory));
    services.console.SendText(separator);
    services.console.SendText(
        RcLine(step.record.process_id, report.status_text, report.status_code) + "\r\n");
    if (outcome.accounting_flag) {
      services.console.SendText(StartedLine(creation));
      services.console.SendText(EndedLine(exit));
      services.console.SendText(ExitCodeLine(step.exit_code));
    }
  } else {
    // A step in a job is reported with the job's times, read below; its main process's times
    // would be one more request to the system in every operator command's answer for nothing.
    if (inputs.os_level >= core::OsLevel::kFour && !step.HasJob())
      ReadProcessTimes(step, report);
    report.status_code = step.last_wait_result;
    report.status_text = ReportStatusText(outcome.report_code.number);
  }
  if (step.HasJob()) {
    JobAccounting job = QueryJobAccounting(step.Job());
    process_count = job.figures.process_count;
    report.kernel_time = job.figures.kernel_time;
    report.user_time = job.figures.user_time;
    measured_io = job.figures.measured_io;
    report.peak_memory_kb = job.figures.peak_memory_kb;
    report.memory_kb = job.figures.memory_kb;
  }
  if (inputs.os_level >= core::OsLevel::kFour && outcome.accounting_flag) {
    services.console.SendText(IoLine(measured_io, report.peak_memory_kb, process_count));
    services.console.SendText(DurationLine(report.kernel_time, kKernelLabel));
    services.console.SendText(DurationLine(report.user_time, kUserLabel) + "\r\n");
  }
  report.io_count = IoCountField(measured_io, outcome.kilobytes_read);
  if (command == nullptr)
    WriteStepReport(outcome, services.output.get());
}

}  // namespace

void ReportStep(const RunInputs& inputs,
                StepProcess& step,
                RunOutcome& outcome,
                RunServices& services) {
  ReportAndAccount(inputs, step, outcome, services, nullptr);
}

void AccountStep(const RunInputs& inputs,
                 StepProcess& step,
                 RunOutcome& outcome,
                 RunServices& services,
                 const JobLogCommand& command) {
  ReportAndAccount(inputs, step, outcome, services, &command);
}

bool SaveConsoleFile(const RunInputs& inputs, RunServices& services) {
  const std::string file = protocol::Trimmed(inputs.task.console_file);
  // Without an open console there is no job log to save, and the last one is kept.
  if (file.empty() || !services.console.IsOpen())
    return true;
  return static_cast<bool>(services.console.SaveText(file, true));
}

void SaveConsoleFileOrMark(const RunInputs& inputs, RunOutcome& outcome, RunServices& services) {
  if (!SaveConsoleFile(inputs, services))
    outcome.report.status_text = protocol::Padded(protocol::kStatusConsoleFileFailed, 8);
}

}  // namespace x5::runner
