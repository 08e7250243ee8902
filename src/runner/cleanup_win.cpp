// End-of-job cleanup: pictures of what the step left behind, the console lines naming it, and the
// picture request during the step.
#include "runner/cleanup_win.h"

#include <windows.h>

#include <string>

#include "pictures/capture_win.h"
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

void DeleteOldPictures(const Run& run) {
  const std::string& dir = run.global_parameter_directory;
  WIN32_FIND_DATAA data{};
  ScopedFindHandle find(FindFirstFileA((dir + "#*." + run.picture_type).c_str(), &data));
  if (!find)
    return;
  do {
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      DeleteFileA((dir + data.cFileName).c_str());
    }
  } while (FindNextFileA(find.get(), &data));
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
