// The report and accounting routine: measures the step, sends a report during the step, writes
// the job log block after it; and the copy of the console into the task's console file.
#include "runner/report_win.h"

#include <windows.h>

#include "protocol/status_texts.h"
#include "runner/accounting.h"
#include "runner/job_win.h"
#include "runner/run_win.h"
#include "runner/subsystems_win.h"

namespace x5 {
namespace {

LocalTime LocalFromFileTime(int64_t file_time) {
  return CalendarFromFileTime(file_time);
}

// Failed measurements are named on the console once per run, never in the report.
void SayFailures(Run& run, const runner::QueryFailures& failures) {
  if (!failures.any || !run.services.console.IsOpen())
    return;
  std::string lines = run.outcome.accounting_notices.Take(failures);
  if (!lines.empty())
    (void)run.services.console.SendText(lines);
}

}  // namespace

void ReportAndAccount(Run& run) {
  int32_t process_count = 1;
  uint64_t measured_io = 0;
  StepReport& report = run.outcome.report;
  if (run.inputs.os_version == 4) {
    runner::ProcessMemory memory = runner::QueryProcessMemory(run.step.process.get());
    report.memory_kb = memory.memory.current_kb;
    report.peak_memory_kb = memory.memory.peak_kb;
    SayFailures(run, memory.failures);
  }
  if (run.outcome.final_flag) {
    const std::string separator = SeparatorLine(run.inputs.task.console_columns);
    (void)run.services.console.SendText("\r\n" + separator);
    LocalTime creation;
    LocalTime exit;
    if (run.inputs.os_version >= 4) {
      runner::ProcessTimes times = runner::QueryProcessTimes(run.step.process.get());
      if (times.ok) {
        run.step.times.Read(times.creation, times.exit);
        report.kernel_time = times.kernel_time;
        report.user_time = times.user_time;
      }
      SayFailures(run, times.failures);
      creation = run.step.times.Creation();
      exit = run.step.times.Exit(run.services.clock.Now());
    } else {
      creation = LocalFromFileTime(report.start_time);
      exit = run.services.clock.Now();
    }
    const int64_t job_value =
        run.step.HasJob() ? static_cast<int64_t>(run.step.JobHandleValue()) : 0;
    (void)run.services.console.SendText(IdentificationLine(run.inputs.console_title, job_value));
    const std::string shown =
        DispatchCommand(
            run, ExpandVariables(run, run.inputs.command_text, kMaskPasswords, false),
            run.state.show_resolved ? DispatchMode::kShowResolved : DispatchMode::kShowAsWritten)
            .shown;
    (void)run.services.console.SendText(CommandLogLine(shown));
    (void)run.services.console.SendText(WorkDirLogLine(
        ExpandVariables(run, Trimmed(run.inputs.task.working_directory), kMaskPasswords, false)));
    (void)run.services.console.SendText(separator);
    (void)run.services.console.SendText(
        RcLine(run.step.record.process_id, report.status_text, report.status_code) + "\r\n");
    if (run.outcome.accounting_flag) {
      (void)run.services.console.SendText(StartedLine(creation));
      (void)run.services.console.SendText(EndedLine(exit));
      (void)run.services.console.SendText(
          ExitCodeLine(static_cast<uint32_t>(report.step_exit_code)));
    }
  } else {
    // A step in a job is reported with the job's times, read below; its main process's times
    // would be one more request to the system in every operator command's answer for nothing.
    if (run.inputs.os_version >= 4 && !run.step.HasJob()) {
      runner::ProcessTimes times = runner::QueryProcessTimes(run.step.process.get());
      if (times.ok) {
        run.step.times.Read(times.creation, times.exit);
        report.kernel_time = times.kernel_time;
        report.user_time = times.user_time;
      }
    }
    report.status_code = run.step.last_wait_result;
    report.status_text = ReportStatusText(run.outcome.report_code);
  }
  if (run.step.HasJob()) {
    runner::JobAccounting job = runner::QueryJobAccounting(run.step.job.get());
    process_count = job.figures.process_count;
    report.kernel_time = job.figures.kernel_time;
    report.user_time = job.figures.user_time;
    measured_io = job.figures.measured_io;
    report.peak_memory_kb = job.figures.peak_memory_kb;
    report.memory_kb = job.figures.memory_kb;
    SayFailures(run, job.failures);
  }
  if (run.inputs.os_version >= 4 && run.outcome.accounting_flag) {
    (void)run.services.console.SendText(IoLine(measured_io, report.peak_memory_kb, process_count));
    (void)run.services.console.SendText(DurationLine(report.kernel_time, kKernelLabel));
    (void)run.services.console.SendText(DurationLine(report.user_time, kUserLabel) + "\r\n");
  }
  report.io_count = runner::IoCountField(measured_io, run.kilobytes_read);
  if (!run.outcome.final_flag)
    WriteStepReport(run.outcome, run.services.output.get());
}

void SaveConsoleFile(Run& run) {
  const std::string file = Trimmed(run.inputs.task.console_file);
  // Without an open console there is no job log to save, and the last one is kept.
  if (file.empty() || !run.services.console.IsOpen())
    return;
  if (SaveConsoleText(run.services.console.Output(), 0, file, run.services.console.FirstLine()) ==
      -1) {
    run.outcome.report.status_text = Padded(kStatusConsoleFileFailed, 8);
  }
}

}  // namespace x5
