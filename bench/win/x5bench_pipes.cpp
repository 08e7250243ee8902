// Whole-process figures under Wine, measured from a Win32 parent as a scheduler would see them:
// (a) task sent -> "Started " received, against a bare start of a trivial program;
// (b) STAT round trips to a running step, against a bare 8-byte/80-byte pipe echo, in turns.
// With X5_BENCH_BREAKDOWN set, (c): where a STAT's time goes, each system call a runner makes for
// it timed alone, and the runner's round trip against an echo that makes the same calls.
// With X5_BENCH_OTHER_RUNNER naming another build's runner (a Windows path), that runner is
// measured too, in the same turns, for a before-and-after on a busy machine (no figures of its
// own). Usage: x5bench_pipes RUNNER.EXE TRIVIAL.EXE STEP_COMMAND [STARTS] [ROUNDS]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_support_win.h"
#include "protocol/protocol.h"

namespace {

using x5::bench::Median;
using x5::bench::NowUs;
using x5::bench::Percentile;
using x5::bench::PrintFigure;
using x5::bench::ReadExact;
using x5::bench::WriteAll;

struct Child {
  HANDLE process = nullptr;
  HANDLE to_child = nullptr;
  HANDLE from_child = nullptr;
};

bool Launch(const std::string& command, Child& child) {
  SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
  HANDLE in_read, in_write, out_read, out_write;
  if (!CreatePipe(&in_read, &in_write, &sa, 0) || !CreatePipe(&out_read, &out_write, &sa, 0)) {
    return false;
  }
  SetHandleInformation(in_write, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA si{};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = in_read;
  si.hStdOutput = out_write;
  si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION pi{};
  std::string line = command;
  BOOL ok =
      CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
  CloseHandle(in_read);
  CloseHandle(out_write);
  if (!ok)
    return false;
  CloseHandle(pi.hThread);
  child = Child{pi.hProcess, in_write, out_read};
  return true;
}

void Finish(Child& c) {
  CloseHandle(c.to_child);
  char sink[4096];
  DWORD n;
  while (ReadFile(c.from_child, sink, sizeof(sink), &n, nullptr) && n > 0) {
  }
  WaitForSingleObject(c.process, 30000);
  CloseHandle(c.from_child);
  CloseHandle(c.process);
}

std::vector<uint8_t> TaskStream(const std::string& command) {
  x5::protocol::TaskRecord t;
  t.window_left = t.window_top = t.window_width = t.window_height = -1;
  t.console_columns = 80;
  t.console_rows = 25;
  t.user_name = "bench";
  t.job_name = "BENCH";
  t.job_base_directory = "C:\\x5bench\\";
  t.step_directory = "S01";
  t.maximum_rc = 4;
  t.task_rc = 1;
  t.step_minimum_rc = 1;
  t.step_maximum_rc = 4;
  t.picture_interval = -1;
  t.os_version = 6;
  t.command_length = static_cast<int32_t>(command.size());
  x5::protocol::TaskBytes bytes = x5::protocol::EncodeTaskRecord(t);
  std::vector<uint8_t> stream(bytes.begin(), bytes.end());
  stream.insert(stream.end(), command.begin(), command.end());
  return stream;
}

double Trip(Child& c) {
  static const auto stat = x5::protocol::EncodeOperatorCommand("STAT", 0);
  uint8_t report[80];
  const double t0 = NowUs();
  if (!WriteAll(c.to_child, stat.data(), 8) || !ReadExact(c.from_child, report, 80))
    return -1;
  return NowUs() - t0;
}

// A runner whose step runs: "Started " comes before the step is launched, and the first STAT is
// answered once it runs (not timed).
bool StartRunner(const std::string& runner, const std::vector<uint8_t>& task, Child& r) {
  if (!Launch(runner, r) || !WriteAll(r.to_child, task.data(), static_cast<DWORD>(task.size())))
    return false;
  uint8_t status[x5::protocol::kStatusRecordSize];
  return ReadExact(r.from_child, status, sizeof(status)) && Trip(r) >= 0;
}

void Stop(Child& c) {
  auto kill = x5::protocol::EncodeOperatorCommand("KILL", 0);
  WriteAll(c.to_child, kill.data(), 8);
  Finish(c);
}

// (c) The calls a runner makes for each STAT, on a step of the same command in a job made here,
// then four round trips side by side in blocks of 100: the bare echo, an echo that makes the
// same calls, the same without the look for a picture request, and the runner.
int Breakdown(const std::string& runner,
              const std::string& trivial,
              const std::string& step,
              const std::vector<uint8_t>& task,
              int rounds) {
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  HANDLE job = CreateJobObjectA(&inherit, nullptr);
  STARTUPINFOA si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  std::string line = step;
  if (job == nullptr || !CreateProcessA(nullptr, line.data(), &inherit, nullptr, FALSE,
                                        CREATE_SUSPENDED, nullptr, nullptr, &si, &pi)) {
    std::fprintf(stderr, "breakdown: no step in a job\n");
    return 1;
  }
  AssignProcessToJobObject(job, pi.hProcess);
  ResumeThread(pi.hThread);
  CloseHandle(pi.hThread);
  // Where the runner looks for a picture request after each command: its step folder.
  const std::string marker = "C:\\x5bench\\BENCH\\S01\\_X5C_";

  std::printf("\nwhere a STAT's time goes (medians of %d, us):\n", rounds);
  double sum = 0;
  auto time = [&](const char* what, auto&& call) {
    std::vector<double> v;
    v.reserve(static_cast<size_t>(rounds));
    for (int i = 0; i < rounds; ++i) {
      const double t0 = NowUs();
      call();
      v.push_back(NowUs() - t0);
    }
    const double m = Median(v);
    sum += m;
    std::printf("  %-58s %7.1f\n", what, m);
  };
  time("is the step still running (WaitForSingleObject, 0)",
       [&] { (void)WaitForSingleObject(pi.hProcess, 0); });
  FILETIME creation{}, exit{}, kernel{}, user{};
  time("process times (GetProcessTimes; not asked for a step in a job)",
       [&] { (void)GetProcessTimes(pi.hProcess, &creation, &exit, &kernel, &user); });
  time("creation as local time (SystemTimeToTzSpecificLocalTime; neither)", [&] {
    SYSTEMTIME utc, local;
    FileTimeToSystemTime(&creation, &utc);
    (void)SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local);
  });
  time("job accounting, basic and I/O (QueryInformationJobObject)", [&] {
    JOBOBJECT_BASIC_AND_IO_ACCOUNTING_INFORMATION both{};
    (void)QueryInformationJobObject(job, JobObjectBasicAndIoAccountingInformation, &both,
                                    sizeof both, nullptr);
  });
  time("job accounting, extended limits (QueryInformationJobObject)", [&] {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION extended{};
    (void)QueryInformationJobObject(job, JobObjectExtendedLimitInformation, &extended,
                                    sizeof extended, nullptr);
  });
  time("look for a picture request (GetFileAttributesA)",
       [&] { (void)GetFileAttributesA(marker.c_str()); });
  std::printf("  %-58s %7.1f\n", "the calls together", sum);
  // What the runner makes of the first and the last: one wait on the step and a change
  // notification on its folder.
  HANDLE change = FindFirstChangeNotificationA("C:\\x5bench\\BENCH\\S01\\", FALSE,
                                               FILE_NOTIFY_CHANGE_FILE_NAME);
  if (change != INVALID_HANDLE_VALUE) {
    const HANDLE both[2] = {pi.hProcess, change};
    time("instead of both: one wait on the step and a change notification",
         [&] { (void)WaitForMultipleObjects(2, both, FALSE, 0); });
    FindCloseChangeNotification(change);
  } else {
    std::printf("  (no change notification on the step folder: error %lu)\n", GetLastError());
  }
  std::fflush(stdout);

  Child bare, calls, no_look, run;
  const std::string calls_line =
      trivial + " echo-calls " + std::to_string(reinterpret_cast<uintptr_t>(job)) + " " +
      std::to_string(reinterpret_cast<uintptr_t>(pi.hProcess)) + " " + marker;
  const std::string no_look_line = calls_line.substr(0, calls_line.size() - marker.size()) + "-";
  if (!Launch(trivial + " echo", bare) || !Launch(calls_line, calls) ||
      !Launch(no_look_line, no_look) || !StartRunner(runner, task, run)) {
    std::fprintf(stderr, "breakdown: a child did not start\n");
    return 1;
  }
  std::vector<double> bare_trip, calls_trip, no_look_trip, runner_trip;
  for (int done = 0; done < rounds; done += 100) {
    for (auto [child, trips] :
         {std::pair{&bare, &bare_trip}, std::pair{&calls, &calls_trip},
          std::pair{&no_look, &no_look_trip}, std::pair{&run, &runner_trip}}) {
      for (int i = 0; i < 100; ++i) {
        const double us = Trip(*child);
        if (us < 0)
          return 1;
        trips->push_back(us);
      }
    }
  }
  Finish(bare);
  Finish(calls);
  Finish(no_look);
  Stop(run);
  TerminateJobObject(job, 0);
  CloseHandle(pi.hProcess);
  CloseHandle(job);
  const double b = Median(bare_trip), c = Median(calls_trip), n = Median(no_look_trip),
               r = Median(runner_trip);
  std::printf(
      "round trips side by side, blocks of 100 (median us): bare echo %.0f; echo making the"
      " runner's calls %.0f (%.2fx), the same without the look for a picture request %.0f"
      " (%.2fx); runner %.0f (%.2fx), beyond its calls %.0f us\n",
      b, c, c / b, n, n / b, r, r / b, r - c);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: x5bench_pipes RUNNER TRIVIAL STEP_COMMAND [STARTS] [ROUNDS]\n");
    return 2;
  }
  const std::string runner = std::string("\"") + argv[1] + "\"";
  const std::string trivial = std::string("\"") + argv[2] + "\"";
  const std::string step = argv[3];
  const int starts = argc > 4 ? std::atoi(argv[4]) : 20;
  const int rounds = argc > 5 ? std::atoi(argv[5]) : 2000;

  const char* other_path = std::getenv("X5_BENCH_OTHER_RUNNER");
  const std::string other = other_path != nullptr && *other_path != '\0'
                                ? std::string("\"") + other_path + "\""
                                : std::string();
  // (a) starts, interleaved so both see the same warm Wine.
  std::vector<double> bare_start, runner_start, other_start;
  const std::vector<uint8_t> task = TaskStream(step);
  auto start_runner = [&](const std::string& path, std::vector<double>& starts_of) {
    Child r;
    const double t0 = NowUs();
    if (!Launch(path, r))
      return false;
    if (!WriteAll(r.to_child, task.data(), static_cast<DWORD>(task.size())))
      return false;
    uint8_t status[x5::protocol::kStatusRecordSize];
    if (!ReadExact(r.from_child, status, sizeof(status)))
      return false;
    starts_of.push_back(NowUs() - t0);
    auto kill = x5::protocol::EncodeOperatorCommand("KILL", 0);
    WriteAll(r.to_child, kill.data(), 8);
    Finish(r);
    return true;
  };
  for (int i = 0; i < starts; ++i) {
    Child c;
    double t0 = NowUs();
    if (!Launch(trivial, c))
      return 1;
    char ready;
    if (!ReadExact(c.from_child, &ready, 1))
      return 1;
    bare_start.push_back(NowUs() - t0);
    Finish(c);
    if (!start_runner(runner, runner_start) ||
        (!other.empty() && !start_runner(other, other_start)))
      return 1;
  }

  const double a_bare = Percentile(bare_start, 0.5), a_run = Percentile(runner_start, 0.5);
  std::printf(
      "start to first answer, median of %d (ms): bare program %.1f, runner \"Started \" %.1f,"
      " ratio %.2f (goal <= 1.05)\n",
      starts, a_bare / 1000, a_run / 1000, a_run / a_bare);
  PrintFigure("start, runner \"Started \" / bare program's first answer (median)", a_run / a_bare,
              "<= 1.05");
  if (!other.empty())
    std::printf("other runner \"Started \" %.1f ms, ratio %.2f\n",
                Percentile(other_start, 0.5) / 1000, Percentile(other_start, 0.5) / a_bare);
  std::fflush(stdout);

  // (b) round trips, the echo and the runner alive together and asked in turn, blocks of 100
  // (or fewer), so that both see the same machine, as the starts do.
  std::vector<double> bare_trip, runner_trip, other_trip;
  {
    Child e, r, o;
    if (!Launch(trivial + " echo", e) || !StartRunner(runner, task, r) ||
        (!other.empty() && !StartRunner(other, task, o)))
      return 1;
    std::vector<std::pair<Child*, std::vector<double>*>> turns{{&e, &bare_trip},
                                                               {&r, &runner_trip}};
    if (!other.empty())
      turns.emplace_back(&o, &other_trip);
    for (int done = 0; done < rounds;) {
      const int block = std::min(100, rounds - done);
      for (auto [child, trips] : turns) {
        for (int i = 0; i < block; ++i) {
          const double us = Trip(*child);
          if (us < 0)
            return 1;
          trips->push_back(us);
        }
      }
      done += block;
    }
    Finish(e);
    Stop(r);
    if (!other.empty())
      Stop(o);
  }

  const double b_bare50 = Percentile(bare_trip, 0.5), b_run50 = Percentile(runner_trip, 0.5);
  const double b_bare99 = Percentile(bare_trip, 0.99), b_run99 = Percentile(runner_trip, 0.99);
  std::printf(
      "STAT round trip over %d (us): bare echo median %.0f p99 %.0f; runner median %.0f p99"
      " %.0f; ratios median %.2f p99 %.2f (goals <= 1.1 and <= 1.5)\n",
      rounds, b_bare50, b_bare99, b_run50, b_run99, b_run50 / b_bare50, b_run99 / b_bare99);
  PrintFigure("STAT round trip / bare echo (median)", b_run50 / b_bare50, "<= 1.1");
  PrintFigure("STAT round trip / bare echo (p99)", b_run99 / b_bare99, "<= 1.5");
  if (!other.empty())
    std::printf("other runner STAT median %.0f p99 %.0f us, ratios %.2f and %.2f\n",
                Percentile(other_trip, 0.5), Percentile(other_trip, 0.99),
                Percentile(other_trip, 0.5) / b_bare50, Percentile(other_trip, 0.99) / b_bare99);
  std::fflush(stdout);
  if (std::getenv("X5_BENCH_BREAKDOWN") != nullptr)
    return Breakdown(runner, trivial, step, task, rounds);
  return 0;
}
