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
#include "win/job_folder_win.h"
#include "win/unique_handle.h"

namespace x5 {
namespace {

// The pictures of an earlier capture in this step, with the BMP fallbacks of JPG pictures and
// files a capture left unfinished; matched by their real names, deleted only through the folder's
// checks (a link of such a name is refused, never followed).
void DeleteOldPictures(Run& run, JobFolder& folder) {
  WIN32_FIND_DATAA data{};
  ScopedFindHandle find(FindFirstFileA((folder.Path() + "*").c_str(), &data));
  if (!find)
    return;
  do {
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
        !modCapture::IsOldPictureName(data.cFileName, run.picture_type)) {
      continue;
    }
    const JobFileOutcome deleted = folder.Delete(data.cFileName);
    if (deleted.Refused())
      (void)run.console.SendText(deleted.refusal);
  } while (FindNextFileA(find.get(), &data));
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
  // Pictures are written and deleted only in the global parameter directory: before it is known
  // there is nowhere to put them.
  if (!pictures_on || run.global_parameter_directory.empty())
    return held;
  try {
    // Held until the capture is over, so the folder cannot be swapped for a link meanwhile.
    JobFolder folder = JobFolder::Open(run.global_parameter_directory,
                                       run.global_parameter_directory + "#*." + run.picture_type);
    if (!folder) {
      if (folder.Failure().Refused())
        (void)run.console.SendText(folder.Failure().refusal);
      return held;
    }
    DeleteOldPictures(run, folder);
    PictureProcesses(run, held, killed_at_end);
  } catch (const std::exception&) {
    // No pictures: the processes are named and ended all the same.
    (void)UnexpectedFault("EndOfJobPictures");
  }
  return held;
}

void PictureRequest(Run& run) {
  if (run.os_version < 4 || run.picture_request_ignored || run.global_parameter_directory.empty())
    return;
  try {
    const std::string marker = run.global_parameter_directory + "_X5C_";
    // A cheap look first: this runs after every operator command.
    if (GetFileAttributesA(marker.c_str()) == INVALID_FILE_ATTRIBUTES)
      return;
    JobFileOutcome deleted;
    {
      JobFolder folder = JobFolder::Open(run.global_parameter_directory, marker, "deleted");
      if (!folder) {
        deleted = folder.Failure();
      } else if (folder.Kind("_X5C_") != JobEntryKind::kPlainFile) {
        return;  // a folder or a link of that name is no request
      } else {
        deleted = folder.Delete("_X5C_");
      }
    }
    if (deleted.result == 0)
      return;  // gone meanwhile
    if (!deleted.Done()) {
      // A request that stays would ask again after every command: it counts once, then no more.
      run.picture_request_ignored = true;
      (void)run.console.SendText(deleted.Refused() ? deleted.refusal
                                                   : "***** Picture request " + marker +
                                                         " cannot be deleted (error " +
                                                         std::to_string(-deleted.result) +
                                                         "): it is ignored from now on *****");
      return;
    }
  } catch (const std::exception&) {
    (void)UnexpectedFault("PictureRequest");
    return;
  }
  (void)EndOfJobPictures(run, false);
}

}  // namespace x5
