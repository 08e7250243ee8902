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
//   tick F MS N   append "tick K" to file F every MS milliseconds, N times (0: without end)
//   prio F OUT    for each process id listed in F, write "PID CLASS T1,T2,..." to OUT: the
//                 priority class and the priority of each of its threads
//   write F TEXT  replace file F by TEXT
//   envfile N F   replace file F by the value of environment variable N (empty when not set)
//   type F        copy file F to standard output
//   fan N F MS    start N-1 children that sleep MS, write the ids of all N processes to F at once
//                 when all run (own id first), then sleep MS
//   signal NAME   release the semaphore NAME once (a child of fan saying it runs)
//   exitof F OUT  hold the first process listed in F open (creating OUT.open once it does), wait
//                 for it to end and write its exit code to OUT
//   cwd F         replace file F by the current directory
//   stuckmove T   like window, but once it is up the window's procedure never returns from a
//                 position change (WM_WINDOWPOSCHANGING): a step hung in a message it was sent
//   deaf T        like window, but the thread handles no message after creating it (later
//                 sleeps do not pump)
#include <windows.h>

#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void Out(const std::string& text) {
  std::string line = text + "\r\n";
  DWORD n = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line.data(), static_cast<DWORD>(line.size()), &n,
            nullptr);
}

bool g_block_position_changes = false;

LRESULT CALLBACK WindowProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_WINDOWPOSCHANGING && g_block_position_changes)
    Sleep(INFINITE);
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

void WriteWhole(const char* path, const std::string& text) {
  if (FILE* f = fopen(path, "wb")) {
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
  }
}

std::vector<unsigned long> ReadPids(const char* path) {
  std::vector<unsigned long> pids;
  if (FILE* f = fopen(path, "r")) {
    unsigned long pid = 0;
    while (fscanf(f, "%lu", &pid) == 1)
      pids.push_back(pid);
    fclose(f);
  }
  return pids;
}

// One line per listed process: its id, its priority class (0 when it cannot be read) and the
// priorities of its threads in snapshot order.
void WritePriorities(const char* pid_file, const char* out_file) {
  std::string out;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  for (unsigned long pid : ReadPids(pid_file)) {
    DWORD priority_class = 0;
    if (HANDLE p = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid)) {
      priority_class = GetPriorityClass(p);
      CloseHandle(p);
    }
    out += std::to_string(pid) + " " + std::to_string(priority_class) + " ";
    THREADENTRY32 te{};
    te.dwSize = sizeof(te);
    bool first = true;
    if (snapshot != INVALID_HANDLE_VALUE && Thread32First(snapshot, &te)) {
      do {
        if (te.th32OwnerProcessID != pid)
          continue;
        if (HANDLE t = OpenThread(THREAD_QUERY_INFORMATION, FALSE, te.th32ThreadID)) {
          out += (first ? "" : ",") + std::to_string(GetThreadPriority(t));
          first = false;
          CloseHandle(t);
        }
      } while (Thread32Next(snapshot, &te));
    }
    out += "\n";
  }
  if (snapshot != INVALID_HANDLE_VALUE)
    CloseHandle(snapshot);
  WriteWhole(out_file, out);
}

// N processes in all: this one and N-1 sleeping children. The id list is written once every child
// runs (each signals a semaphore named after this process), and it appears whole (written beside
// and renamed), so a reader never sees a part of it nor a child still starting.
void Fan(int n, const char* pid_file, const char* ms) {
  std::string ids = std::to_string(GetCurrentProcessId()) + "\n";
  const std::string ready_name = "x5step-fan-" + std::to_string(GetCurrentProcessId());
  HANDLE ready = CreateSemaphoreA(nullptr, 0, n > 1 ? n : 1, ready_name.c_str());
  char self[MAX_PATH];
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  int started = 0;
  for (int k = 1; k < n; ++k) {
    std::string cmd = std::string("\"") + self + "\" signal " + ready_name + " sleep " + ms;
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                       &pi)) {
      ids += std::to_string(pi.dwProcessId) + "\n";
      ++started;
      CloseHandle(pi.hThread);
      CloseHandle(pi.hProcess);
    }
  }
  // At most half a minute in all: a child that never comes up shows in the list as a process
  // that cannot be opened, rather than holding the list back.
  const DWORD give_up = GetTickCount() + 30000;
  for (int k = 0; k < started && ready != nullptr; ++k) {
    const DWORD now = GetTickCount();
    if (static_cast<LONG>(give_up - now) <= 0 ||
        WaitForSingleObject(ready, give_up - now) != WAIT_OBJECT_0)
      break;
  }
  if (ready != nullptr)
    CloseHandle(ready);
  const std::string part = std::string(pid_file) + ".part";
  WriteWhole(part.c_str(), ids);
  MoveFileExA(part.c_str(), pid_file, MOVEFILE_REPLACE_EXISTING);
  Sleep(static_cast<DWORD>(atoi(ms)));
}

// Holds the first listed process open (so its exit code outlives it), says so by creating
// OUT.open, waits for it to end and writes its exit code to OUT.
void WriteExitCode(const char* pid_file, const char* out_file) {
  const std::vector<unsigned long> pids = ReadPids(pid_file);
  if (pids.empty())
    return;
  HANDLE p = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pids[0]);
  if (p == nullptr)
    return;
  WriteWhole((std::string(out_file) + ".open").c_str(), "");
  DWORD code = 0;
  if (WaitForSingleObject(p, 60000) == WAIT_OBJECT_0 && GetExitCodeProcess(p, &code))
    WriteWhole(out_file, std::to_string(code));
  CloseHandle(p);
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
            if (WaitForSingleObject(h, 0) == WAIT_TIMEOUT)
              ++alive;
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
    } else if (a == "tick" && i + 3 < argc) {
      // Opened and closed for every line, so a reader on the other side sees each line at once.
      const char* file = argv[i + 1];
      const DWORD ms = static_cast<DWORD>(atoi(argv[i + 2]));
      const int count = atoi(argv[i + 3]);
      for (int k = 1; count <= 0 || k <= count; ++k) {
        if (FILE* f = fopen(file, "a")) {
          fprintf(f, "tick %d\n", k);
          fclose(f);
        }
        Sleep(ms);
      }
      i += 3;
    } else if (a == "prio" && i + 2 < argc) {
      WritePriorities(argv[i + 1], argv[i + 2]);
      i += 2;
    } else if (a == "write" && i + 2 < argc) {
      WriteWhole(argv[i + 1], argv[i + 2]);
      i += 2;
    } else if (a == "envfile" && i + 2 < argc) {
      char buf[4096];
      DWORD n = GetEnvironmentVariableA(argv[i + 1], buf, sizeof(buf));
      WriteWhole(argv[i + 2], std::string(buf, n < sizeof(buf) ? n : 0));
      i += 2;
    } else if (a == "type") {
      std::string text;
      if (FILE* f = fopen(arg, "rb")) {
        char buf[4096];
        size_t n = 0;
        while ((n = fread(buf, 1, sizeof(buf), f)) > 0)
          text.append(buf, n);
        fclose(f);
      }
      DWORD n = 0;
      WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &n,
                nullptr);
      ++i;
    } else if (a == "fan" && i + 3 < argc) {
      Fan(atoi(argv[i + 1]), argv[i + 2], argv[i + 3]);
      i += 3;
    } else if (a == "signal") {
      if (HANDLE h = OpenSemaphoreA(SEMAPHORE_MODIFY_STATE, FALSE, arg)) {
        ReleaseSemaphore(h, 1, nullptr);
        CloseHandle(h);
      }
      ++i;
    } else if (a == "stuckmove" || a == "deaf") {
      MakeWindow(arg);
      if (a == "stuckmove") {
        PumpFor(200);  // what creating and showing the window queued
        g_block_position_changes = true;
      }
      windows = a == "stuckmove";
      ++i;
    } else if (a == "exitof" && i + 2 < argc) {
      WriteExitCode(argv[i + 1], argv[i + 2]);
      i += 2;
    } else if (a == "cwd") {
      char buf[MAX_PATH];
      const DWORD n = GetCurrentDirectoryA(MAX_PATH, buf);
      WriteWhole(arg, std::string(buf, n < MAX_PATH ? n : 0));
      ++i;
    }
  }
  return 0;
}
