// A step program for the end-to-end tests. Usage: x5step ACTION [ARG] [ACTION [ARG] ...]
//   echo TEXT     write TEXT and a line end to standard output (the runner's console)
//   lines N W     write N lines "output line K" padded with "." to W characters
//   paced N W K MS  the lines of "lines N W", K lines a write with a pause of MS after each
//   cls           clear the console as a command interpreter's cls does
//   esc           write a line holding escape sequences that colour a terminal and clear it
//   sleep MS      sleep (pumping messages once a window exists)
//   exit CODE     end with that exit code
//   env NAME      write NAME=value (or NAME is not set) to standard output
//   envfile N F   replace file F by the value of environment variable N (empty when not set)
//   alive F       exit code = how many of the process ids listed in file F still run
//   pidfile F     append the own process id to file F (one line)
//   tree D F MS   pidfile F, start "x5step tree D-1 F MS" when D > 0, sleep MS
//   spawn N A...  start "x5step A..." with the next N arguments (quoted) and go on after them
//   fan N F MS    start N-1 children that sleep MS, write the ids of all N processes to F at once
//                 when all run (own id first; each says so by "signal NAME"), then sleep MS
//   window TITLE  create a visible top-level window with that title; "stuckmove TITLE": one whose
//                 procedure never returns from a position change once it is up; "deaf TITLE": one
//                 whose thread handles no message after creating it
//   await NAME MS  wait until some process says "signal NAME" (before or after), at most MS
//   since TEXT    write "TEXT N ms": N the milliseconds since this process started
//   tick F MS N   append "tick K" to file F every MS milliseconds, N times (0: without end)
//   prio F OUT    for each process id listed in F, write "PID CLASS T1,T2,..." to OUT: its
//                 priority class and the distinct priorities of its threads
//   write F TEXT  replace file F by TEXT
//   type F        copy file F to standard output
//   cwd F         replace file F by the current directory
#include <windows.h>

#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void Write(const std::string& text) {
  DWORD n = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &n,
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
  const DWORD start = GetTickCount();
  MSG msg;
  // Woken by messages only, as a program's message loop is: hundreds of windows polling their
  // queues would keep the Wine server busy.
  for (DWORD waited = 0; waited < ms; waited = GetTickCount() - start) {
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - waited, QS_ALLINPUT);
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

void WriteWhole(const std::string& path, const std::string& text, const char* mode = "wb") {
  if (FILE* f = fopen(path.c_str(), mode)) {
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
  }
}

std::string ReadWhole(const char* path) {
  std::string text;
  if (FILE* f = fopen(path, "rb")) {
    char buf[4096];
    for (size_t n = 0; (n = fread(buf, 1, sizeof(buf), f)) > 0;)
      text.append(buf, n);
    fclose(f);
  }
  return text;
}

std::vector<unsigned long> ReadPids(const char* path) {
  std::vector<unsigned long> pids;
  if (FILE* f = fopen(path, "r")) {
    for (unsigned long pid = 0; fscanf(f, "%lu", &pid) == 1;)
      pids.push_back(pid);
    fclose(f);
  }
  return pids;
}

void AppendPid(const char* path) {
  WriteWhole(path, std::to_string(GetCurrentProcessId()) + "\n", "a");
}

// Starts this program again with `arguments`; the child's id, 0 when it could not start.
unsigned long StartSelf(const std::string& arguments, bool inherit_handles) {
  char self[MAX_PATH];
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string cmd = std::string("\"") + self + "\" " + arguments;
  STARTUPINFOA si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, inherit_handles, 0, nullptr, nullptr,
                      &si, &pi))
    return 0;
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return pi.dwProcessId;
}

std::string EnvValue(const char* name, bool* set = nullptr) {
  char buf[4096];
  const DWORD n = GetEnvironmentVariableA(name, buf, sizeof(buf));
  if (set != nullptr)
    *set = n > 0;
  return std::string(buf, n < sizeof(buf) ? n : 0);
}

// One line per listed process: its id, its priority class (0 when it cannot be read) and the
// distinct priorities of its threads in snapshot order.
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
    std::string priorities;
    if (snapshot != INVALID_HANDLE_VALUE && Thread32First(snapshot, &te)) {
      do {
        if (te.th32OwnerProcessID != pid)
          continue;
        if (HANDLE t = OpenThread(THREAD_QUERY_INFORMATION, FALSE, te.th32ThreadID)) {
          const std::string one = "," + std::to_string(GetThreadPriority(t)) + ",";
          if ((priorities + ",").find(one) == std::string::npos)
            priorities += one.substr(0, one.size() - 1);
          CloseHandle(t);
        }
      } while (Thread32Next(snapshot, &te));
    }
    out += (priorities.empty() ? "" : priorities.substr(1)) + "\n";
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
  int started = 0;
  for (int k = 1; k < n; ++k) {
    if (unsigned long pid = StartSelf("signal " + ready_name + " sleep " + ms, false)) {
      ids += std::to_string(pid) + "\n";
      ++started;
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
  WriteWhole(part, ids);
  MoveFileExA(part.c_str(), pid_file, MOVEFILE_REPLACE_EXISTING);
  Sleep(static_cast<DWORD>(atoi(ms)));
}

int AliveCount(const char* pid_file) {
  int alive = 0;
  for (unsigned long pid : ReadPids(pid_file)) {
    if (HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, pid)) {
      alive += WaitForSingleObject(h, 0) == WAIT_TIMEOUT ? 1 : 0;
      CloseHandle(h);
    }
  }
  return alive;
}

}  // namespace

int main(int argc, char** argv) {
  const DWORD started = GetTickCount();
  bool windows = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    // The action's arguments; "" past the end.
    auto arg = [&](int k) { return i + k < argc ? argv[i + k] : ""; };
    if (a == "echo") {
      Write(std::string(arg(1)) + "\r\n");
      i += 1;
    } else if (a == "lines") {
      const int width = atoi(arg(2));
      std::string all;
      for (int k = 1; k <= atoi(arg(1)); ++k) {
        std::string line = "output line " + std::to_string(k);
        if (static_cast<int>(line.size()) < width)
          line.append(static_cast<size_t>(width) - line.size(), '.');
        all += line + "\r\n";
      }
      Write(all);
      i += 2;
    } else if (a == "paced") {
      const int width = atoi(arg(2));
      const int per_write = atoi(arg(3)) > 0 ? atoi(arg(3)) : 1;
      std::string batch;
      for (int k = 1; k <= atoi(arg(1)); ++k) {
        std::string line = "output line " + std::to_string(k);
        if (static_cast<int>(line.size()) < width)
          line.append(static_cast<size_t>(width) - line.size(), '.');
        batch += line + "\r\n";
        if (k % per_write == 0 || k == atoi(arg(1))) {
          Write(batch);
          batch.clear();
          Sleep(static_cast<DWORD>(atoi(arg(4))));
        }
      }
      i += 4;
    } else if (a == "cls") {
      const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
      CONSOLE_SCREEN_BUFFER_INFO info{};
      if (GetConsoleScreenBufferInfo(out, &info)) {
        const DWORD cells = static_cast<DWORD>(info.dwSize.X) * info.dwSize.Y;
        DWORD done = 0;
        FillConsoleOutputCharacterA(out, ' ', cells, COORD{0, 0}, &done);
        FillConsoleOutputAttribute(out, info.wAttributes, cells, COORD{0, 0}, &done);
        SetConsoleCursorPosition(out, COORD{0, 0});
      }
    } else if (a == "esc") {
      Write("\x1B[31mred\x1B[0m \x1B[2J\x1B]0;title\x07\r\n");
    } else if (a == "sleep") {
      windows ? PumpFor(static_cast<DWORD>(atoi(arg(1)))) : Sleep(static_cast<DWORD>(atoi(arg(1))));
      i += 1;
    } else if (a == "exit") {
      return atoi(arg(1));
    } else if (a == "env") {
      bool set = false;
      const std::string value = EnvValue(arg(1), &set);
      Write(std::string(arg(1)) + (set ? "=" + value : " is not set") + "\r\n");
      i += 1;
    } else if (a == "envfile") {
      WriteWhole(arg(2), EnvValue(arg(1)));
      i += 2;
    } else if (a == "alive") {
      return AliveCount(arg(1));
    } else if (a == "pidfile") {
      AppendPid(arg(1));
      i += 1;
    } else if (a == "tree") {
      AppendPid(arg(2));
      if (const int depth = atoi(arg(1)); depth > 0)
        StartSelf("tree " + std::to_string(depth - 1) + " \"" + arg(2) + "\" " + arg(3), true);
      Sleep(static_cast<DWORD>(atoi(arg(3))));
      i += 3;
    } else if (a == "spawn") {
      // A child running the next N arguments, e.g. a second window of the step.
      const int n = atoi(arg(1));
      std::string arguments;
      for (int k = 0; k < n && i + 2 + k < argc; ++k)
        arguments += std::string(" \"") + argv[i + 2 + k] + "\"";
      StartSelf(arguments, true);
      i += 1 + n;
    } else if (a == "fan") {
      Fan(atoi(arg(1)), arg(2), arg(3));
      i += 3;
    } else if (a == "signal") {
      if (HANDLE h = CreateSemaphoreA(nullptr, 0, 1 << 16, arg(1))) {
        ReleaseSemaphore(h, 1, nullptr);
        CloseHandle(h);
      }
      i += 1;
    } else if (a == "window" || a == "stuckmove" || a == "deaf") {
      MakeWindow(arg(1));
      if (a == "stuckmove") {
        PumpFor(200);  // what creating and showing the window queued
        g_block_position_changes = true;
      }
      windows = a != "deaf";
      i += 1;
    } else if (a == "await") {
      // Whichever of "await" and "signal" comes first makes the semaphore.
      if (HANDLE h = CreateSemaphoreA(nullptr, 0, 1 << 16, arg(1))) {
        WaitForSingleObject(h, static_cast<DWORD>(atoi(arg(2))));
        CloseHandle(h);
      }
      i += 2;
    } else if (a == "since") {
      Write(std::string(arg(1)) + " " + std::to_string(GetTickCount() - started) + " ms\r\n");
      i += 1;
    } else if (a == "tick") {
      // Opened and closed for every line, so a reader on the other side sees each line at once.
      const int count = atoi(arg(3));
      for (int k = 1; count <= 0 || k <= count; ++k) {
        WriteWhole(arg(1), "tick " + std::to_string(k) + "\n", "a");
        Sleep(static_cast<DWORD>(atoi(arg(2))));
      }
      i += 3;
    } else if (a == "prio") {
      WritePriorities(arg(1), arg(2));
      i += 2;
    } else if (a == "write") {
      WriteWhole(arg(1), arg(2));
      i += 2;
    } else if (a == "type") {
      Write(ReadWhole(arg(1)));
      i += 1;
    } else if (a == "cwd") {
      char buf[MAX_PATH];
      const DWORD n = GetCurrentDirectoryA(MAX_PATH, buf);
      WriteWhole(arg(1), std::string(buf, n < MAX_PATH ? n : 0));
      i += 1;
    }
  }
  return 0;
}
