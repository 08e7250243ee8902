// The report and accounting routine: measures the step, sends a report during the step, writes
// the job log block after it; and the copy of the console into the task's console file.
#pragma once

namespace x5 {

struct Run;

void ReportAndAccount(Run& run);
// Copies the console text into the console file named in the task; "FILE ?" when that fails.
void SaveConsoleFile(Run& run);

}  // namespace x5
