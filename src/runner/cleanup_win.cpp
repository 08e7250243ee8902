// End-of-job cleanup: pictures of what the step left behind, the console lines naming it, and the
// picture request during the step.
#include "runner/cleanup_win.h"

#include <windows.h>

#include <exception>
#include <map>
#include <string>
#include <vector>

#include "core/fault.h"
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
std::vector<uint32_t> ProcessesToEnd(const Run& run) {
  if (run.os_version == 4 && run.step.process_id >= 1)
    return {static_cast<uint32_t>(run.step.process_id)};
  if (!run.HasJob())
    return {};
  mJobInfoPart::JobProcessIds list = mJobInfoPart::ReadJobProcessIds(run.job.get());
  if (list.result < 0)
    return {};
  return std::move(list.ids);
}

// The image name of one process, asked of that process alone: a system-wide process snapshot
// costs tens of milliseconds under load, and KILL waits for this.
std::string ImageName(uint32_t process_id) {
  ScopedHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id));
  if (!process)
    return {};
  char path[MAX_PATH] = {};
  DWORD size = MAX_PATH;
  if (!QueryFullProcessImageNameA(process.get(), 0, path, &size))
    return {};
  const std::string full(path, size);
  const size_t slash = full.find_last_of("\\/");
  return slash == std::string::npos ? full : full.substr(slash + 1);
}

// Writes one line per process about to be ended, naming what it is and what it shows: the
// evidence an operator needs also when no picture is taken.
void NameProcessesToEnd(Run& run) noexcept {
  try {
    const std::vector<uint32_t> ids = ProcessesToEnd(run);
    if (ids.empty())
      return;
    std::map<uint32_t, ProcessEvidence> evidence;
    for (uint32_t id : ids)
      evidence[id].process_id = id;
    for (auto& [id, item] : evidence)
      item.image_name = ImageName(id);
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
    for (uint32_t id : ids)
      (void)run.console.SendText(ProcessEvidenceLine(evidence[id]));
  } catch (const std::exception&) {
    (void)UnexpectedFault("ProcessEvidence");
    // The lines are a help to the operator; the cleanup goes on without them.
  }
}

void Capture(Run& run, uint32_t process_id, bool killed_at_end) {
  (void)modCapture::CaptureProcessWindows(process_id, run.global_parameter_directory, killed_at_end,
                                          run.picture_interval, run.picture_type);
}

void PictureJob(Run& run, bool killed_at_end) {
  if (!run.HasJob())
    return;
  mJobInfoPart::JobProcessIds list = mJobInfoPart::ReadJobProcessIds(run.job.get());
  if (list.result < 0 || list.ids.empty())
    return;
  for (uint32_t id : list.ids) {
    Capture(run, id, killed_at_end);
    if (killed_at_end) {
      (void)run.console.SendText(
          "\r\nProcess #" + std::to_string(id) + "  Job #" + std::to_string(run.JobHandleValue()) +
          " killed at end of job, final window(s) picture(s) may exist!\r\n");
    }
  }
}

void PictureProcessOrJob(Run& run, bool killed_at_end, uint32_t process_id) {
  if (process_id < 1) {
    PictureJob(run, killed_at_end);
    return;
  }
  Capture(run, process_id, killed_at_end);
  if (killed_at_end) {
    (void)run.console.SendText("\r\nProcess #" + std::to_string(process_id) +
                               " killed at end of job, final window(s) picture(s) may exist!\r\n");
  }
}

}  // namespace

void EndOfJobPictures(Run& run, bool killed_at_end) {
  if (killed_at_end)
    NameProcessesToEnd(run);
  if (run.picture_interval < 0)
    return;
  DeleteOldPictures(run);
  if (run.os_version == 4) {
    PictureProcessOrJob(run, killed_at_end, run.step.process_id);
  } else if (run.HasJob()) {
    PictureJob(run, killed_at_end);
  }
}

void PictureRequest(Run& run) {
  if (run.os_version < 4)
    return;
  const std::string marker = run.global_parameter_directory + "_X5C_";
  if (!FileExists(marker))
    return;
  DeleteFileA(marker.c_str());
  EndOfJobPictures(run, false);
}

}  // namespace x5
