// A step program for the end-to-end tests. Usage: x5step ACTION [ARG] [ACTION [ARG] ...]
//   echo TEXT     write TEXT and a line end to standard output (the runner's console)
//   sleep MS      sleep
//   exit CODE     end with that exit code
//   env NAME      write NAME=value (or NAME is not set) to standard output
//   alive F       exit code = how many of the process ids listed in file F still run
//   tree D F MS   append the own id to file F, start "x5step tree D-1 F MS" when D > 0, sleep MS
//   pidfile PATH  append the own process id to PATH (one line)
//   window TITLE  create a visible top-level window with that title and pump messages
//   spawn N A...  start "x5step A..." with the next N arguments (quoted) and go on after them
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void Out(const std::string& text) {
  std::string line = text + "\r\n";
  DWORD n = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line.data(), static_cast<DWORD>(line.size()), &n,
            nullptr);
}

LRESULT CALLBACK WindowProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_DESTROY)
    PostQuitMessage(0);
  return DefWindowProcA(w, m, wp, lp);
}

void PumpFor(DWORD ms) {
  DWORD end = GetTickCount() + ms;
  MSG msg;
  while (GetTickCount() < end) {
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    Sleep(10);
  }
}

void MakeWindow(const char* title) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "x5stepwindow";
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  RegisterClassA(&wc);
  HWND w = CreateWindowA("x5stepwindow", title, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50, 320, 200,
                         nullptr, nullptr, wc.hInstance, nullptr);
  ShowWindow(w, SW_SHOW);
  UpdateWindow(w);
}

}  // namespace

int main(int argc, char** argv) {
  bool windows = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    const char* arg = i + 1 < argc ? argv[i + 1] : "";
    if (a == "echo") {
      Out(arg);
      ++i;
    } else if (a == "sleep") {
      if (windows) {
        PumpFor(static_cast<DWORD>(atoi(arg)));
      } else {
        Sleep(static_cast<DWORD>(atoi(arg)));
      }
      ++i;
    } else if (a == "exit") {
      return atoi(arg);
    } else if (a == "env") {
      char buf[4096];
      DWORD n = GetEnvironmentVariableA(arg, buf, sizeof(buf));
      Out(n ? std::string(arg) + "=" + std::string(buf, n) : std::string(arg) + " is not set");
      ++i;
    } else if (a == "pidfile") {
      FILE* f = fopen(arg, "a");
      if (f) {
        fprintf(f, "%lu\n", GetCurrentProcessId());
        fclose(f);
      }
      ++i;
    } else if (a == "window") {
      MakeWindow(arg);
      windows = true;
      ++i;
    } else if (a == "alive") {
      // alive PIDFILE: the exit code is the number of listed processes still running.
      int alive = 0;
      if (FILE* f = fopen(arg, "r")) {
        unsigned long pid = 0;
        while (fscanf(f, "%lu", &pid) == 1) {
          HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, pid);
          if (h != nullptr) {
            if (WaitForSingleObject(h, 0) == WAIT_TIMEOUT) ++alive;
            CloseHandle(h);
          }
        }
        fclose(f);
      }
      return alive;
    } else if (a == "spawn" && i + 1 < argc) {
      // spawn N ARGS...: a child running the next N arguments, e.g. a second window of the step.
      const int n = atoi(arg);
      char self[MAX_PATH];
      GetModuleFileNameA(nullptr, self, MAX_PATH);
      std::string cmd = std::string("\"") + self + "\"";
      for (int k = 0; k < n && i + 2 + k < argc; ++k)
        cmd += std::string(" \"") + argv[i + 2 + k] + "\"";
      STARTUPINFOA si{};
      si.cb = sizeof(si);
      PROCESS_INFORMATION pi{};
      if (CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                         &pi)) {
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
      }
      i += 1 + n;
    } else if (a == "tree" && i + 3 < argc) {
      // tree DEPTH PIDFILE MS: record the own id, start a tree one level lower, then sleep.
      int depth = atoi(argv[i + 1]);
      const char* pidfile = argv[i + 2];
      const char* ms = argv[i + 3];
      if (FILE* f = fopen(pidfile, "a")) {
        fprintf(f, "%lu\n", GetCurrentProcessId());
        fclose(f);
      }
      if (depth > 0) {
        char self[MAX_PATH];
        GetModuleFileNameA(nullptr, self, MAX_PATH);
        std::string cmd = std::string("\"") + self + "\" tree " + std::to_string(depth - 1) +
                          " \"" + pidfile + "\" " + ms;
        STARTUPINFOA si{};
        si.cb = sizeof(si);
        PROCESS_INFORMATION pi{};
        if (CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                           &pi)) {
          CloseHandle(pi.hThread);
          CloseHandle(pi.hProcess);
        }
      }
      Sleep(static_cast<DWORD>(atoi(ms)));
      i += 3;
    }
  }
  return 0;
}
