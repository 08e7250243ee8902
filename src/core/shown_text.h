// Bytes that came from outside (searched files, window titles, image names) as they are shown in
// the job log and the report text: shown, never obeyed.
#pragma once

#include <string>
#include <string_view>

namespace x5::core {

// Each control byte (below 32, and 127) becomes "^" and the character 64 above it, as terminals
// show them ("^M" for a carriage return, "^J" for a line feed, "^@" for NUL, "^[" for escape, "^?"
// for 127), so a quoted text cannot end, overwrite or colour a line. Other bytes pass unchanged.
std::string ShownText(std::string_view bytes);
void AppendShown(std::string& out, std::string_view bytes);

}  // namespace x5::core
