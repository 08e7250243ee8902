// The byte folding of the system's ANSI code page, for replacements without regard to case.
#include "commands/case_fold.h"

#include <windows.h>

namespace x5::commands {

CaseFold SystemCaseFold() {
  CaseFold fold;
  for (int c = 1; c < 256; ++c) {
    char byte = static_cast<char>(c);
    CharLowerBuffA(&byte, 1);
    fold.map[c] = static_cast<uint8_t>(byte);
  }
  return fold;
}

}  // namespace x5::commands
