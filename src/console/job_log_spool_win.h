// The job log file written while the step runs: console rows moved to it as they appear.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/result.h"
#include "win/job_folder_win.h"
#include "win/unique_handle.h"

namespace x5::console {

// Moves the rows of a console into a file as they are written, on a thread of its own, so the
// console can stay small (its host keeps a picture of the whole buffer) while the file holds
// every line, in order, on disk as soon as it is moved. The file is the task's console file,
// emptied when the spool starts, opened through its job folder (never through a link).
class JobLogSpool {
 public:
  // Starts moving rows of `console` into `file_name`. A file that cannot be opened (a link is
  // refused: `refusal` gets the console line that says so) starts no spool.
  [[nodiscard]] static std::unique_ptr<JobLogSpool> Start(HANDLE console,
                                                          const std::string& file_name,
                                                          std::string& refusal);
  JobLogSpool(const JobLogSpool&) = delete;
  JobLogSpool& operator=(const JobLogSpool&) = delete;
  // Stops the thread; what was moved stays in the file.
  ~JobLogSpool();

  // Moves every complete row now.
  void MoveNow();
  // Moves every complete row now and writes the row being written after them, so the file holds
  // the whole console text (that row is written again, longer, by the next move). Fails when a
  // write to the file failed at any time.
  [[nodiscard]] core::Result<void> Save();
  // Writes the job log so far and the row being written into `file_name` (a DIAG file), replaced
  // whole through its folder.
  [[nodiscard]] core::Result<void> CopyTo(const std::string& file_name, std::string& refusal);

 private:
  JobLogSpool(HANDLE console, win::JobFolder folder, win::ScopedFileHandle file);
  static DWORD WINAPI Thread(void* self);
  void Loop();
  // Moves the complete rows (and, with `with_cursor_row`, the row being written, provisionally).
  // True when rows were moved. Called with the lock held.
  bool MoveLocked(bool with_cursor_row);
  bool WriteLocked(const std::string& text, size_t provisional);
  // True when the rows from the last mark down are as the last call found them: nothing to move.
  bool UnchangedLocked();

  HANDLE console_;
  win::JobFolder folder_;  // held open: the folder can be neither renamed nor replaced
  win::ScopedFileHandle file_;
  win::ScopedHandle stop_;
  win::ScopedHandle thread_;
  SRWLOCK lock_ = SRWLOCK_INIT;
  bool had_mark_ = false;     // a mark was put: the console should still show it
  bool line_open_ = false;    // the last row moved filled the console: its line goes on
  uint64_t provisional_ = 0;  // bytes at the file's end that the next move writes again
  bool write_failed_ = false;
  // What the quiet looks compare: the rows from `watched_first_` to the console's last, as found.
  std::vector<CHAR_INFO> watched_;
  int32_t watched_first_ = -1;
  int32_t watched_columns_ = 0;
  int32_t watched_rows_ = 0;
};

}  // namespace x5::console
