// End-of-job cleanup: pictures of what the step left behind, the console lines naming it, and the
// picture request during the step.
#include "runner/cleanup_win.h"

#include <windows.h>

#include <algorithm>
#include <exception>
#include <map>
#include <string>
#include <vector>

#include "core/fault.h"
#include "pictures/capture_bounds.h"
#include "pictures/capture_win.h"
#include "pictures/picture_names.h"
#include "pictures/process_evidence.h"
#include "runner/job_processes_win.h"
#include "runner/run_win.h"
#include "win/job_folder_win.h"
#include "win/unique_handle.h"

namespace x5::runner {
namespace {

// The pictures of an earlier capture in this step, with the BMP fallbacks of JPG pictures and
// files a capture left unfinished; matched by their real names, deleted only through the folder's
// checks (a link of such a name is refused, never followed).
void DeleteOldPictures(pictures::PictureType picture_type,
                       win::JobFolder& folder,
                       std::vector<std::string>& lines) {
  WIN32_FIND_DATAA data{};
  win::ScopedFindHandle find(FindFirstFileA((folder.Path() + "*").c_str(), &data));
  if (!find)
    return;
  do {
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
        !pictures::IsOldPictureName(data.cFileName, picture_type)) {
      continue;
    }
    const win::JobFileOutcome deleted = folder.Delete(data.cFileName);
    if (deleted.Refused())
      lines.push_back(deleted.refusal);
  } while (FindNextFileA(find.get(), &data));
}

// The processes about to be ended: the job's, or the step's main process where there is no job.
// Each listed process is opened once and kept only when it is still in the job: an id whose
// process ended meanwhile may already name another program's process. Should memory run out,
// the processes held so far are named and pictured; the job's end still ends them all.
//
// A process's id passes to no other process while a handle to it is open, so an id that the
// job's list holds after its process was opened is that process's: one more read of the list
// confirms them all, where asking each process costs a round trip to the system per process.
HeldProcesses ProcessesToEnd(const StepProcess& step, core::OsLevel os_level) noexcept {
  HeldProcesses held;
  try {
    if (os_level == core::OsLevel::kFour && step.record.process_id >= 1) {
      HANDLE copy = nullptr;
      if (DuplicateHandle(GetCurrentProcess(), step.Process(), GetCurrentProcess(), &copy, 0, FALSE,
                          DUPLICATE_SAME_ACCESS)) {
        held.processes.push_back(
            {static_cast<uint32_t>(step.record.process_id), win::ScopedHandle(copy)});
      }
      return held;
    }
    held.from_job = true;
    if (!step.HasJob())
      return held;
    const core::Result<std::vector<uint32_t>> listed = ReadJobProcessIds(step.Job());
    if (!listed)
      return held;
    held.processes.reserve(listed->size());
    for (uint32_t id : *listed) {
      // Wine answers the job question only with the full query right; Windows also with the
      // limited one, which a process of another user may still grant.
      win::ScopedHandle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, id));
      if (!process)
        process.reset(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
      if (process)
        held.processes.push_back({id, std::move(process)});
    }
    core::Result<std::vector<uint32_t>> again = ReadJobProcessIds(step.Job());
    if (again)
      std::sort(again->begin(), again->end());
    std::erase_if(held.processes, [&](const HeldProcess& p) {
      if (again)
        return !std::binary_search(again->begin(), again->end(), p.id);
      BOOL in_job = FALSE;
      return !IsProcessInJob(p.handle.get(), step.Job(), &in_job) || !in_job;
    });
  } catch (const std::exception&) {
    // Out of memory: go on with the processes held so far (see above).
    core::UnexpectedFault("ProcessesToEnd");
  }
  return held;
}

// The image name of one process, asked of that process alone: a system-wide process snapshot
// costs tens of milliseconds under load, and KILL waits for this.
std::string ImageName(HANDLE process) {
  char path[MAX_PATH] = {};
  DWORD size = MAX_PATH;
  if (!QueryFullProcessImageNameA(process, 0, path, &size))
    return {};
  const std::string full(path, size);
  const size_t slash = full.find_last_of("\\/");
  return slash == std::string::npos ? full : full.substr(slash + 1);
}

// The visible top-level windows of each held process (same order as the processes), each list
// in Z order, from one pass over the desktop: naming, the picture deadline and the pictures all
// use it. Should memory run out, what was listed so far is kept.
using ProcessWindows = std::vector<std::vector<HWND>>;

ProcessWindows WindowsOf(const HeldProcesses& held) noexcept {
  ProcessWindows windows;
  try {
    windows.resize(held.processes.size());
    if (held.processes.empty())
      return windows;
    std::map<uint32_t, size_t> index;
    for (size_t i = 0; i < held.processes.size(); ++i)
      index.emplace(held.processes[i].id, i);
    for (HWND window : pictures::TopLevelWindows()) {
      DWORD owner = 0;
      GetWindowThreadProcessId(window, &owner);
      const auto it = index.find(owner);
      if (it != index.end() && IsWindowVisible(window))
        windows[it->second].push_back(window);
    }
  } catch (const std::exception&) {
    core::UnexpectedFault("WindowsOf");
  }
  return windows;
}

// The windows listed for the i-th held process; none when the list could not be made.
const std::vector<HWND>& WindowsAt(const ProcessWindows& windows, size_t i) noexcept {
  static const std::vector<HWND> kNone;
  return i < windows.size() ? windows[i] : kNone;
}

// One line per process about to be ended, naming what it is and what it shows: the evidence an
// operator needs also when no picture is taken.
void NameProcessesToEnd(StepEnding& ending, const ProcessWindows& windows) noexcept {
  try {
    for (size_t i = 0; i < ending.held.processes.size(); ++i) {
      const HeldProcess& process = ending.held.processes[i];
      pictures::ProcessEvidence evidence;
      evidence.process_id = process.id;
      evidence.image_name = ImageName(process.handle.get());
      for (HWND window : WindowsAt(windows, i)) {
        // The caption of another process's window, read without asking the window (it may hang).
        char title[1024];
        const int length = GetWindowTextA(window, title, sizeof(title));
        if (length > 0)
          evidence.titles.emplace_back(title, static_cast<size_t>(length));
      }
      ending.lines.push_back(pictures::ProcessEvidenceLine(evidence));
    }
  } catch (const std::exception&) {
    core::UnexpectedFault("ProcessEvidence");
    // The lines are a help to the operator; the cleanup goes on without them.
  }
}

// The evidence that a process was handed to the capture and is about to be ended: written for
// each one, whether its pictures could be taken or not.
void KilledAtEndLine(const StepProcess& step, StepEnding& ending, uint32_t id) {
  const std::string job =
      ending.held.from_job ? "  Job #" + std::to_string(step.JobHandleValue()) : std::string();
  ending.lines.push_back("\r\nProcess #" + std::to_string(id) + job +
                         " killed at end of job, final window(s) picture(s) may exist!\r\n");
}

void KilledAtEndLines(const StepProcess& step, StepEnding& ending) noexcept {
  try {
    for (const HeldProcess& process : ending.held.processes)
      KilledAtEndLine(step, ending, process.id);
  } catch (const std::exception&) {
    core::UnexpectedFault("KilledAtEndLines");
  }
}

// One deadline for all windows of all held processes; when it runs out the rest are left out
// (and counted), so a step whose windows stop answering is still ended promptly.
void PictureProcesses(const StepProcess& step,
                      const sequence::StepState& state,
                      StepEnding& ending,
                      const ProcessWindows& windows,
                      bool killed_at_end) noexcept {
  try {
    if (ending.held.processes.empty())
      return;
    size_t window_count = 0;
    for (const std::vector<HWND>& list : windows)
      window_count += list.size();
    pictures::CaptureDeadline deadline(
        pictures::PictureTimeAllowedMs(window_count, state.switches.picture_interval));
    for (size_t i = 0; i < ending.held.processes.size(); ++i) {
      const uint32_t id = ending.held.processes[i].id;
      pictures::CaptureProcessWindows(id, WindowsAt(windows, i), state.global_parameter_directory,
                                      killed_at_end, state.switches.picture_interval,
                                      state.switches.picture_type, deadline);
      if (killed_at_end)
        KilledAtEndLine(step, ending, id);
    }
    if (deadline.Missed() > 0) {
      ending.lines.push_back(
          pictures::PicturesCutShortLine(deadline.AllowedMs(), deadline.Missed(), killed_at_end));
    }
  } catch (const std::exception&) {
    // Failed captures are not reported; the processes are ended all the same.
    core::UnexpectedFault("PictureProcesses");
  }
}

}  // namespace

StepEnding EndOfJobPictures(const RunInputs& inputs,
                            const StepProcess& step,
                            const sequence::StepState& state,
                            PictureOccasion occasion) {
  StepEnding ending;
  const bool killed_at_end = occasion == PictureOccasion::kKilledAtEnd;
  const bool pictures_on = state.switches.picture_interval >= 0;
  if (!killed_at_end && !pictures_on)
    return ending;
  ending.held = ProcessesToEnd(step, inputs.os_level);
  const ProcessWindows windows = WindowsOf(ending.held);
  if (killed_at_end)
    NameProcessesToEnd(ending, windows);
  if (!pictures_on)
    return ending;
  // Pictures are written and deleted only in the global parameter directory: before it is known,
  // or where it cannot be opened, there is nowhere to put them, but the processes are named as
  // handed to the capture all the same.
  if (state.global_parameter_directory.empty()) {
    if (killed_at_end)
      KilledAtEndLines(step, ending);
    return ending;
  }
  try {
    // Held until the capture is over, so the folder cannot be swapped for a link meanwhile.
    win::JobFolder folder = win::JobFolder::Open(
        state.global_parameter_directory,
        state.global_parameter_directory + "#*." +
            std::string(pictures::PictureTypeText(state.switches.picture_type)));
    if (!folder) {
      if (folder.Failure().Refused())
        ending.lines.push_back(folder.Failure().refusal);
      if (killed_at_end)
        KilledAtEndLines(step, ending);
      return ending;
    }
    DeleteOldPictures(state.switches.picture_type, folder, ending.lines);
    PictureProcesses(step, state, ending, windows, killed_at_end);
  } catch (const std::exception&) {
    // No pictures: the processes are named and ended all the same.
    core::UnexpectedFault("EndOfJobPictures");
  }
  return ending;
}

void WriteEndingLines(console::Console& console, const std::vector<std::string>& lines) noexcept {
  try {
    console.SendLines(lines);
  } catch (const std::exception&) {
    core::UnexpectedFault("WriteEndingLines");
  }
}

namespace {

// A file system that does not notify still has its requests seen within this time of commands.
constexpr uint64_t kLookAtLeastEveryMs = 1000;

}  // namespace

PictureRequestWatch::PictureRequestWatch(const RunInputs& inputs,
                                         const sequence::StepState& state) noexcept
    : wanted_(inputs.os_level >= core::OsLevel::kFour &&
              !state.global_parameter_directory.empty()) {
  if (wanted_) {
    change_.reset(FindFirstChangeNotificationA(state.global_parameter_directory.c_str(), FALSE,
                                               FILE_NOTIFY_CHANGE_FILE_NAME));
  }
}

uint32_t PictureRequestWatch::Wait(HANDLE process, bool& look) noexcept {
  look = false;
  if (!change_) {
    look = wanted_;
    return WaitForSingleObject(process, 0);
  }
  const HANDLE both[2] = {process, change_.get()};
  // The step first: once it has ended, a request no longer matters.
  const DWORD wait = WaitForMultipleObjects(2, both, FALSE, 0);
  if (wait == WAIT_FAILED) {
    // A watch that cannot be waited for is dropped; the step's own wait decides, as before.
    change_.reset();
    look = true;
    return WaitForSingleObject(process, 0);
  }
  const uint64_t now = GetTickCount64();
  if (wait == WAIT_OBJECT_0 + 1) {
    // Watching again before the look, so a change during it is not missed.
    if (!FindNextChangeNotification(change_.get()))
      change_.reset();
    look = true;
  } else if (wait == WAIT_TIMEOUT) {
    // The first command looks too: a request made before the watch began changes nothing after.
    look = last_look_ == 0 || now - last_look_ >= kLookAtLeastEveryMs;
  } else {
    return wait;
  }
  if (look)
    last_look_ = now;
  return WAIT_TIMEOUT;
}

bool PictureRequest(const RunInputs& inputs,
                    const StepProcess& step,
                    const sequence::StepState& state,
                    console::Console& console,
                    bool& request_ignored) {
  if (inputs.os_level < core::OsLevel::kFour || request_ignored ||
      state.global_parameter_directory.empty())
    return false;
  try {
    const std::string marker = state.global_parameter_directory + "_X5C_";
    // A cheap look first: most changes in the folder are not a request.
    if (GetFileAttributesA(marker.c_str()) == INVALID_FILE_ATTRIBUTES)
      return false;
    win::JobFileOutcome deleted;
    {
      win::JobFolder folder =
          win::JobFolder::Open(state.global_parameter_directory, marker, "deleted");
      if (!folder) {
        deleted = folder.Failure();
      } else if (folder.Kind("_X5C_") != win::JobEntryKind::kPlainFile) {
        return false;  // a folder or a link of that name is no request
      } else {
        deleted = folder.Delete("_X5C_");
      }
    }
    if (deleted.state == win::JobFileOutcome::State::kNothingToDelete)
      return false;  // gone meanwhile
    if (!deleted.Done()) {
      // A request that stays would ask again after every command: it counts once, then no more.
      request_ignored = true;
      console.SendText(deleted.Refused()
                           ? deleted.refusal
                           : "***** Picture request " + marker + " cannot be deleted (error " +
                                 std::to_string(deleted.error) +
                                 "): it is ignored from now on *****");
      return false;
    }
  } catch (const std::exception&) {
    core::UnexpectedFault("PictureRequest");
    return false;
  }
  WriteEndingLines(console,
                   EndOfJobPictures(inputs, step, state, PictureOccasion::kOnRequest).lines);
  return true;
}

}  // namespace x5::runner
