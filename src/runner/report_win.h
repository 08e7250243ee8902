// The report and accounting routine: measures the step, sends a report during the step, writes
// the job log block after it; and the copy of the console into the task's console file.
#pragma once

#include <string>

namespace x5::runner {

class StepProcess;
struct RunInputs;
struct RunOutcome;
struct RunServices;

// The command and working directory the job log block names, as the step's user wrote them (or
// resolved, after /X5?), passwords masked.
struct JobLogCommand {
  std::string command;
  std::string working_directory;
};

// During the step: measures it and sends the step report that answers an operator command.
void ReportStep(const RunInputs& inputs,
                StepProcess& step,
                RunOutcome& outcome,
                RunServices& services);
// After the step (the outcome's final flag set): measures it and writes the job log block.
void AccountStep(const RunInputs& inputs,
                 StepProcess& step,
                 RunOutcome& outcome,
                 RunServices& services,
                 const JobLogCommand& command);
// Copies the console text into the console file named in the task; false when it could not be
// written (with no console, or no file named, there is nothing to save and the last file stays).
[[nodiscard]] bool SaveConsoleFile(const RunInputs& inputs, RunServices& services);
// The same, with "FILE ?" in the reports when it fails, where the main sequence does not decide:
// after the last report, and where a failed switch copies the job log.
void SaveConsoleFileOrMark(const RunInputs& inputs, RunOutcome& outcome, RunServices& services);

}  // namespace x5::runner
