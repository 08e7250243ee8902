// Bare references for the pipe benchmarks: "ready" writes one byte and ends (a bare start);
// "echo" answers every 8 bytes read with 80 bytes, like a runner answering STAT.
#include <windows.h>

#include <cstring>

int main(int argc, char** argv) {
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD n = 0;
  if (argc > 1 && std::strcmp(argv[1], "echo") == 0) {
    char command[8];
    char report[80] = {};
    for (;;) {
      DWORD got = 0;
      while (got < sizeof(command)) {
        if (!ReadFile(in, command + got, sizeof(command) - got, &n, nullptr) || n == 0)
          return 0;
        got += n;
      }
      WriteFile(out, report, sizeof(report), &n, nullptr);
    }
  }
  char ready = 'R';
  WriteFile(out, &ready, 1, &n, nullptr);
  return 0;
}
