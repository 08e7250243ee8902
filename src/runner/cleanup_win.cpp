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
#include "runner/job_win.h"
#include "runner/run_win.h"
#include "win/unique_handle.h"

namespace x5 {
namespace {

bool FileExists(const std::string& path) {
  WIN32_FIND_DATAA data{};
  ScopedFindHandle find(FindFirstFileA(path.c_str(), &data));
  return static_cast<bool>(find);
}

void DeleteMatching(const std::string& dir, const std::string& pattern) {
  WIN32_FIND_DATAA data{};
  ScopedFindHandle find(FindFirstFileA((dir + pattern).c_str(), &data));
  if (!find)
    return;
  do {
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      DeleteFileA((dir + data.cFileName).c_str());
    }
  } while (FindNextFileA(find.get(), &data));
}

// The pictures of an earlier capture in this step, with the BMP fallbacks of JPG pictures and
// files a capture left unfinished.
void DeleteOldPictures(const Run& run) {
  for (const std::string& pattern : modCapture::OldPicturePatterns(run.picture_type))
    DeleteMatching(run.global_parameter_directory, pattern);
}

// The processes about to be ended: the job's, or the step's main process where there is no job.
// Each listed process is opened once and kept only when it is still in the job: an id whose
// process ended meanwhile may already name another program's process. Should memory run out,
// the processes held so far are named and pictured; the job's end still ends them all.
HeldProcesses ProcessesToEnd(const Run& run) noexcept {
  HeldProcesses held;
  try {
    if (run.os_version == 4 && run.step.process_id >= 1) {
      HANDLE copy = nullptr;
      if (DuplicateHandle(GetCurrentProcess(), run.process.get(), GetCurrentProcess(), &copy, 0,
                          FALSE, DUPLICATE_SAME_ACCESS)) {
        held.processes.push_back({static_cast<uint32_t>(run.step.process_id), ScopedHandle(copy)});
      }
      return held;
    }
    held.from_job = true;
    if (!run.HasJob())
      return held;
    mJobInfoPart::JobProcessIds list = mJobInfoPart::ReadJobProcessIds(run.job.get());
    if (list.result < 0)
      return held;
    held.processes.reserve(list.ids.size());
    for (uint32_t id : list.ids) {
      // Wine answers the job question only with the full query right; Windows also with the
      // limited one, which a process of another user may still grant.
      ScopedHandle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, id));
      if (!process)
        process.reset(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
      BOOL in_job = FALSE;
      if (!process || !IsProcessInJob(process.get(), run.job.get(), &in_job) || !in_job)
        continue;
      held.processes.push_back({id, std::move(process)});
    }
  } catch (const std::exception&) {
    // Out of memory: go on with the processes held so far (see above).
    (void)UnexpectedFault("ProcessesToEnd");
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

// Writes one line per process about to be ended, naming what it is and what it shows: the
// evidence an operator needs also when no picture is taken.
void NameProcessesToEnd(Run& run, const HeldProcesses& held) noexcept {
  try {
    if (held.processes.empty())
      return;
    std::map<uint32_t, ProcessEvidence> evidence;
    for (const HeldProcess& process : held.processes) {
      ProcessEvidence& item = evidence[process.id];
      item.process_id = process.id;
      item.image_name = ImageName(process.handle.get());
    }
    for (HWND window : modCapture::TopLevelWindows()) {
      DWORD owner = 0;
      GetWindowThreadProcessId(window, &owner);
      auto it = evidence.find(owner);
      if (it == evidence.end() || !IsWindowVisible(window))
        continue;
      // The caption of another process's window, read without asking the window (it may hang).
      char title[1024];
      const int length = GetWindowTextA(window, title, sizeof(title));
      if (length > 0)
        it->second.titles.emplace_back(title, static_cast<size_t>(length));
    }
    for (const HeldProcess& process : held.processes)
      (void)run.console.SendText(ProcessEvidenceLine(evidence[process.id]));
  } catch (const std::exception&) {
    (void)UnexpectedFault("ProcessEvidence");
    // The lines are a help to the operator; the cleanup goes on without them.
  }
}

bool IsHeld(const HeldProcesses& held, DWORD process_id) {
  return std::any_of(held.processes.begin(), held.processes.end(),
                     [process_id](const HeldProcess& p) { return p.id == process_id; });
}

// Visible top-level windows of the held processes: what the pictures may take time for.
size_t WindowsToPicture(const HeldProcesses& held) {
  size_t count = 0;
  for (HWND window : modCapture::TopLevelWindows()) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (IsHeld(held, owner) && IsWindowVisible(window))
      ++count;
  }
  return count;
}

// One deadline for all windows of all held processes; when it runs out the rest are left out
// (and counted), so a step whose windows stop answering is still ended promptly.
void PictureProcesses(Run& run, const HeldProcesses& held, bool killed_at_end) noexcept {
  try {
    if (held.processes.empty())
      return;
    modCapture::CaptureDeadline deadline(
        modCapture::PictureTimeAllowedMs(WindowsToPicture(held), run.picture_interval));
    for (const HeldProcess& process : held.processes) {
      (void)modCapture::CaptureProcessWindows(process.id, run.global_parameter_directory,
                                              killed_at_end, run.picture_interval, run.picture_type,
                                              deadline);
      if (!killed_at_end)
        continue;
      const std::string job =
          held.from_job ? "  Job #" + std::to_string(run.JobHandleValue()) : std::string();
      (void)run.console.SendText(
          "\r\nProcess #" + std::to_string(process.id) + job +
          " killed at end of job, final window(s) picture(s) may exist!\r\n");
    }
    if (deadline.Missed() > 0) {
      (void)run.console.SendText(
          modCapture::PicturesCutShortLine(deadline.AllowedMs(), deadline.Missed(), killed_at_end));
    }
  } catch (const std::exception&) {
    // Failed captures are not reported; the processes are ended all the same.
    (void)UnexpectedFault("PictureProcesses");
  }
}

}  // namespace

HeldProcesses EndOfJobPictures(Run& run, bool killed_at_end) {
  const bool pictures_on = run.picture_interval >= 0;
  if (!killed_at_end && !pictures_on)
    return {};
  HeldProcesses held = ProcessesToEnd(run);
  if (killed_at_end)
    NameProcessesToEnd(run, held);
  if (!pictures_on)
    return held;
  DeleteOldPictures(run);
  PictureProcesses(run, held, killed_at_end);
  return held;
}

void PictureRequest(Run& run) {
  if (run.os_version < 4)
    return;
  const std::string marker = run.global_parameter_directory + "_X5C_";
  if (!FileExists(marker))
    return;
  DeleteFileA(marker.c_str());
  (void)EndOfJobPictures(run, false);
}

}  // namespace x5
