// The runner's own console (the job log): open, title, write lines, save text, size, close.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/interfaces.h"
#include "console/job_log_spool_win.h"
#include "core/result.h"
#include "win/unique_handle.h"

namespace x5::console {

// How Console::OpenConsole ended.
enum class ConsoleOpening : uint8_t {
  kOpen,
  kOutputNotOpened,  // allocated, but its output could not be opened: the console is freed again
  kNotAllocated,     // no console could be allocated
};

class Console {
 public:
  Console() = default;
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;
  ~Console();

  [[nodiscard]] ConsoleOpening OpenConsole(const std::string& title, uint8_t os_version);
  // Closes the console's handles and detaches the runner from the console. Always false.
  bool CloseConsole();
  // Writes the text and a line end; false when the write failed.
  bool SendText(std::string_view text);
  // Writes each line as SendText would, in as few console writes as the console takes; false when
  // a write failed.
  bool SendLines(const std::vector<std::string>& lines);

  HANDLE Output() const { return output_.get(); }
  HANDLE Input() const { return input_.get(); }
  bool IsOpen() const { return static_cast<bool>(output_); }
  // The first line written to the console, by which a save tells whether rows scrolled away.
  const std::string& FirstLine() const { return first_line_; }

  // Moves the console's rows into `file_name` from now on, as they appear (JobLogSpool); a
  // refused link is said in one console line. False when the file could not be opened: the
  // console is then copied only by SaveText.
  bool StartJobLog(const std::string& file_name);
  // The whole job log into `file_name`: the task's console file (where the moved rows already
  // are), or a DIAG file. Fails as SaveConsoleText does.
  core::Result<void> SaveText(const std::string& file_name, bool is_job_log_file);

 private:
  win::ScopedFileHandle output_;
  win::ScopedFileHandle input_;
  bool allocated_ = false;
  std::string first_line_;
  std::unique_ptr<JobLogSpool> spool_;  // stopped before the console's handles close
};

// Copies the console text from first_row to the cursor row into file_name, which is written only
// when neither it nor its folder is a link (a refusal is said in one console line), and replaced
// only by a complete copy. When rows scrolled out of the buffer (`first_line`: see
// Console::FirstLine) the file starts with a line that says so. A negative cursor row leaves
// nothing to copy and no file is touched. Fails when the console text could not be read or the
// file not written whole: the earlier file is then left as it was.
core::Result<void> SaveConsoleText(HANDLE screen_buffer,
                                   int32_t first_row,
                                   const std::string& file_name,
                                   std::string_view first_line = {});
// Gives the screen buffer the job log's size (JobLogBufferSize); the window stays as it is where
// the buffer still holds it. Fails when it could not be read or sized.
core::Result<void> FitJobLogBuffer(HANDLE screen_buffer);
// Gives the console `columns` x `rows` cells, window and buffer in the order the cell count asks
// for. Fails when the buffer cannot be read or the size cannot be carried (nothing is changed).
core::Result<void> SizeConsole(HANDLE screen_buffer, int32_t columns, int32_t rows);
// Minimises the top-level window titled exactly Title; false when there is none.
bool MinimizeConsoleWindow(const std::string& title);

// Console lines for portable code.
class ConsoleSinkWin : public core::ConsoleSink {
 public:
  explicit ConsoleSinkWin(Console& console) : console_(console) {}
  void Line(std::string_view text) override { console_.SendText(text); }

 private:
  Console& console_;
};

}  // namespace x5::console
