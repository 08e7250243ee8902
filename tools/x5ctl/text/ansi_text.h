// Conversions between the runner's ANSI bytes (Windows-1252) and the UTF-8 text of task files,
// terminals and JSON.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"

namespace x5::ctl::text {

// UTF-8 to one byte per character. U+0000..U+00FF give the byte of the same value (so any byte
// can be written as \u00XX); the Windows-1252 characters of 0x80..0x9F (euro sign, typographic
// quotes, ...) give their code page byte. Any other character, or malformed UTF-8, is refused.
core::Result<std::string> AnsiFromUtf8(std::string_view utf8);

// Windows-1252 bytes to UTF-8. Every byte maps to its own code point, so the bytes can be
// recovered; the five bytes that code page leaves undefined map to U+0081, U+008D, ... .
std::string Utf8FromAnsi(std::string_view bytes);

// Text for a terminal: printable characters decoded as Utf8FromAnsi does, control characters and
// undefined bytes written as \xNN. A backslash stays as it is, so paths read as written (JSON
// output carries the exact bytes). Blanks stay blanks.
std::string VisibleText(std::string_view bytes);

// x5ctl's own text (UTF-8, with paths, options and runner bytes of any origin mixed in) made safe
// for a terminal or a log: valid UTF-8 stays, and control characters (C0, DEL, C1), stray bytes
// and malformed sequences are written as \xNN (a C1 character as \u0080..\u009F), so no byte
// of it can move a cursor, set a title or end a line. Every line x5ctl prints passes here or
// through VisibleText.
std::string TerminalText(std::string_view utf8);

// One problem line for standard error: "x5ctl: " + TerminalText(message) + line end.
std::string ProblemLine(std::string_view message);

// The bytes between double quotes with blanks kept visible and the quote escaped: "STEP OK ".
std::string QuotedText(std::string_view bytes);

// A TOML basic string (with its quotes) whose value converts back to exactly these bytes with
// AnsiFromUtf8: printable ASCII as is, everything else as \u00XX.
std::string TomlString(std::string_view bytes);

// The words of a line, split at blanks, tabs and line ends (views into `line`).
std::vector<std::string_view> Words(std::string_view line);

// The lines of a text cut at CR LF, the runner's line end (a lone CR or LF stays in its line); a
// text ending in CR LF gives no empty last line unless `keep_last`.
[[nodiscard]] std::vector<std::string> CrLfLines(std::string_view text, bool keep_last = false);

}  // namespace x5::ctl::text
