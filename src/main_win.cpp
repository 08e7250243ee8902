// Entry point of x5runner.exe: the runner takes no arguments; the parent speaks on its pipes.
#include <windows.h>

#include "runner/main_sequence_win.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  return x5::runner::RunMainSequence();
}
