// The runner's own console (the job log): open, title, write lines, save text, size, close.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/interfaces.h"
#include "win/unique_handle.h"

namespace x5::console {

class Console {
 public:
  Console() = default;
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;
  ~Console();

  // 1 open, 0 output could not be opened (console freed again), 2 no console could be allocated.
  int32_t OpenConsole(const std::string& title, uint8_t os_version);
  // Closes the console's handles and detaches the runner from the console. Always false.
  bool CloseConsole();
  // Writes the text and a line end; the write call's result (0 on failure).
  int32_t SendText(std::string_view text);
  // Writes each line as SendText would, in as few console writes as the console takes. 1 when
  // every write succeeded, else 0.
  int32_t SendLines(const std::vector<std::string>& lines);

  HANDLE Output() const { return output_.get(); }
  HANDLE Input() const { return input_.get(); }
  bool IsOpen() const { return static_cast<bool>(output_); }
  // The first line written to the console, by which a save tells whether rows scrolled away.
  const std::string& FirstLine() const { return first_line_; }

 private:
  win::ScopedFileHandle output_;
  win::ScopedFileHandle input_;
  bool allocated_ = false;
  std::string first_line_;
};

// Copies the console text from FirstRow to the cursor row into FileName, which is written only
// when neither it nor its folder is a link (a refusal is said in one console line), and replaced
// only by a complete copy. When rows scrolled out of the buffer (`first_line`: see
// Console::FirstLine) the file starts with a line that says so. 1 done, 0 cursor row negative
// (no file touched), -1 the console text could not be read or the file not written whole (the
// earlier file is left as it was).
int32_t SaveConsoleText(HANDLE screen_buffer,
                        int32_t FirstRow,
                        const std::string& FileName,
                        std::string_view first_line = {});
// Grows the screen buffer to at least the job log's least size (the window stays as it is).
// 2 grown, 0 large enough already, -1 the buffer could not be read or grown.
int32_t GrowJobLogBuffer(HANDLE screen_buffer);
// 1 shrunk, 2 grown, 0 same cell count, -1 refused.
int32_t SizeConsole(HANDLE screen_buffer, int32_t columns, int32_t rows);
// Minimises the top-level window titled exactly Title; 0 when there is none.
int32_t MinimizeConsoleWindow(const std::string& title);

// Console lines for portable code.
class ConsoleSinkWin : public core::ConsoleSink {
 public:
  explicit ConsoleSinkWin(Console& console) : console_(console) {}
  void Line(std::string_view text) override { console_.SendText(text); }

 private:
  Console& console_;
};

}  // namespace x5::console
