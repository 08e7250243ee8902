// End-of-job cleanup: pictures of what the step left behind, the console lines naming it, and the
// picture request during the step.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "win/unique_handle.h"

namespace x5::console {
class Console;
}  // namespace x5::console

namespace x5::sequence {
struct StepState;
}  // namespace x5::sequence

namespace x5::runner {

class StepProcess;
struct RunInputs;

// A process of the step, opened once from the job's list and confirmed in the job. While its
// handle is held its id cannot pass to another process, so what is named, pictured and ended
// under that id is the step's.
struct HeldProcess {
  uint32_t id = 0;
  win::ScopedHandle handle;
};

struct HeldProcesses {
  std::vector<HeldProcess> processes;
  bool from_job = false;  // the job's list (else the step's main process alone)
};

// What the end of the job or a KILL is about to end: the processes, held open until they are
// ended, and the console lines that name them and say what was pictured. The lines say what was
// ended, so they are written after the end (WriteEndingLines), in one go: each console write is a
// round trip the operator's KILL need not wait for.
struct StepEnding {
  HeldProcesses held;
  std::vector<std::string> lines;
};

// Why the step's windows are pictured: its processes are about to be ended (a KILL, the end of
// the job), or a "_X5C_" asked for pictures without ending anything.
enum class PictureOccasion { kKilledAtEnd, kOnRequest };

// Pictures the step's remaining windows. Killed at end (the processes are about to be ended) it
// first names every one of them, with its image and window titles, even when pictures
// are off, and names each process pictured; such pictures leave out what would change nothing
// before the end (hiding the window, raising one already in front). All its picture work ends
// within 2 s plus the picture interval per window, 60 s at most; what was left out is said in
// one line. The step's windows are listed in one pass over the desktop for all of this.
[[nodiscard]] StepEnding EndOfJobPictures(const RunInputs& inputs,
                                          const StepProcess& step,
                                          const sequence::StepState& state,
                                          PictureOccasion occasion);

// Writes the lines gathered by EndOfJobPictures to the console.
void WriteEndingLines(console::Console& console, const std::vector<std::string>& lines) noexcept;

// After each operator command: whether the step still runs and whether the global parameter
// directory may hold a picture request, in one wait on the step and a change notification on the
// folder (a look in the folder cost about a tenth of a STAT's round trip under Wine). Where the
// folder cannot be watched, every command looks; where it is watched, a look also comes at least
// once a second, for a file system that does not notify (a share written from another machine).
class PictureRequestWatch {
 public:
  PictureRequestWatch(const RunInputs& inputs, const sequence::StepState& state) noexcept;
  PictureRequestWatch(const PictureRequestWatch&) = delete;
  PictureRequestWatch& operator=(const PictureRequestWatch&) = delete;

  // WaitForSingleObject's result for `process` without waiting (WAIT_OBJECT_0 once it ended,
  // WAIT_TIMEOUT while it runs); `look` says whether to look for a request now.
  uint32_t Wait(HANDLE process, bool& look) noexcept;

 private:
  win::ScopedChangeNotification change_;
  bool wanted_ = false;
  uint64_t last_look_ = 0;  // GetTickCount64 of the last look; 0 before the first
};

// A "_X5C_" file in the global parameter directory asks for pictures without ending anything. Only
// a plain file counts (not a folder, not a link); one that cannot be deleted is said once on the
// console and not acted on again (`request_ignored` keeps that for the run). True when pictures
// were taken (the step may have ended meanwhile).
bool PictureRequest(const RunInputs& inputs,
                    const StepProcess& step,
                    const sequence::StepState& state,
                    console::Console& console,
                    bool& request_ignored);

}  // namespace x5::runner
