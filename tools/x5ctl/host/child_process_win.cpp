// Starting the runner on Windows with CreateProcessA and anonymous pipes, and deadline-bound I/O.
#include "x5ctl/host/child_process.h"

#include <windows.h>

#include <algorithm>
#include <new>

#include "win/unique_handle.h"

namespace x5::ctl::host {
namespace {

// Room for a task record with large blocks, so the first write rarely waits for the runner.
constexpr DWORD kPipeBufferSize = 1 << 20;

DWORD WaitMilliseconds(Deadline deadline) {
  if (deadline == Deadline::max())
    return INFINITE;
  auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  if (left.count() <= 0)
    return 0;
  return static_cast<DWORD>(std::min<long long>(left.count(), INFINITE - 1));
}

// Quotes one argument so the child's C runtime splits it back out unchanged.
std::string QuoteArgument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos)
    return arg;
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"')
      out.append(backslashes * 2 + 1, '\\');
    else
      out.append(backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  return out + "\"";
}

std::string SystemMessage(DWORD code) {
  char buffer[512] = {};
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           code, 0, buffer, sizeof buffer, nullptr);
  std::string text(buffer, n);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
    text.pop_back();
  return text + " (error " + std::to_string(code) + ")";
}

// `what` with the system's words for the last error, and its code.
core::Failure WordedSystemFailure(const std::string& what) {
  const DWORD code = GetLastError();
  return core::Failure{what + SystemMessage(code), code};
}

class WinChild final : public ChildProcess {
 public:
  WinChild(win::ScopedHandle job,
           win::ScopedHandle process,
           win::ScopedHandle input,
           win::ScopedHandle output)
      : job_(std::move(job)),
        process_(std::move(process)),
        input_(std::move(input)),
        output_(std::move(output)) {}

  ~WinChild() override {
    if (!exit_code_) {
      Kill();
      Wait(std::chrono::steady_clock::now() + std::chrono::seconds(10));
    }
  }

  // Anonymous pipes have no overlapped reads: peek until bytes wait, the pipe breaks or time is up.
  IoResult Read(std::span<uint8_t> into, Deadline deadline) override {
    if (!output_)
      return Moved{Io::kEndOfPipe, 0};
    if (into.empty())
      return Moved{};
    DWORD pause = 0;
    for (;;) {
      if (Interrupted())
        return Moved{Io::kInterrupted, 0};
      DWORD waiting = 0;
      if (!PeekNamedPipe(output_.get(), nullptr, 0, nullptr, &waiting, nullptr)) {
        if (GetLastError() == ERROR_BROKEN_PIPE)
          return Moved{Io::kEndOfPipe, 0};
        return WordedSystemFailure("reading the runner's output failed: ");
      }
      if (waiting > 0) {
        DWORD want = static_cast<DWORD>(std::min<size_t>(into.size(), waiting));
        DWORD got = 0;
        if (!ReadFile(output_.get(), into.data(), want, &got, nullptr)) {
          if (GetLastError() == ERROR_BROKEN_PIPE)
            return Moved{Io::kEndOfPipe, 0};
          return WordedSystemFailure("reading the runner's output failed: ");
        }
        if (got > 0)
          return Moved{Io::kOk, got};
      }
      if (std::chrono::steady_clock::now() >= deadline)
        return Moved{Io::kTimedOut, 0};
      Sleep(pause);
      pause = std::min<DWORD>(pause + 1, 10);
    }
  }

  // A full pipe makes WriteFile wait for the runner; the large pipe buffer keeps that rare.
  IoResult Write(std::span<const uint8_t> bytes, Deadline) override {
    if (!input_)
      return Moved{Io::kEndOfPipe, 0};
    size_t put = 0;
    while (put < bytes.size()) {
      DWORD piece = static_cast<DWORD>(std::min<size_t>(bytes.size() - put, 1 << 20));
      DWORD written = 0;
      if (!WriteFile(input_.get(), bytes.data() + put, piece, &written, nullptr)) {
        const DWORD error = GetLastError();
        if (error == ERROR_BROKEN_PIPE || error == ERROR_NO_DATA)
          return Moved{Io::kEndOfPipe, put};
        return WordedSystemFailure("writing to the runner failed after " + std::to_string(put) +
                                   " bytes: ");
      }
      put += written;
    }
    return Moved{Io::kOk, put};
  }

  void CloseInput() override { input_.reset(); }

  std::optional<int32_t> Wait(Deadline deadline) override {
    if (exit_code_)
      return exit_code_;
    DWORD result = WaitForSingleObject(process_.get(), WaitMilliseconds(deadline));
    if (result == WAIT_TIMEOUT)
      return std::nullopt;
    DWORD code = 0;
    if (result != WAIT_OBJECT_0 || !GetExitCodeProcess(process_.get(), &code))
      code = static_cast<DWORD>(-1);
    exit_code_ = static_cast<int32_t>(code);
    return exit_code_;
  }

  void Kill() override {
    if (!exit_code_)
      TerminateProcess(process_.get(), 1);
  }

 private:
  win::ScopedHandle job_;  // kill-on-close: the runner goes when we do, however we end
  win::ScopedHandle process_;
  win::ScopedHandle input_;   // our end of the child's standard input
  win::ScopedHandle output_;  // our end of the child's standard output
  std::optional<int32_t> exit_code_;
};

}  // namespace

core::Result<std::unique_ptr<ChildProcess>> StartProgram(const std::vector<std::string>& argv,
                                                         const ChildErrors& errors) {
  // Dropped errors go to NUL; a log is opened for appending without following a link.
  win::ScopedFileHandle error_file;
  if (errors.kind != ChildErrors::Kind::kInherit) {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    const bool discard = errors.kind == ChildErrors::Kind::kDiscard;
    error_file.reset(CreateFileA(discard ? "NUL" : errors.log.c_str(), FILE_APPEND_DATA,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                 discard ? OPEN_EXISTING : OPEN_ALWAYS,
                                 discard ? 0 : FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!error_file)
      return WordedSystemFailure((discard ? std::string("NUL") : errors.log) + ": ");
  }
  // The child's ends are inheritable; ours are not, so the runner (and its step) never holds
  // our ends open and each side sees the other's end of pipe.
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  win::ScopedHandle child_stdin, parent_input, parent_output, child_stdout;
  if (!CreatePipe(child_stdin.put(), parent_input.put(), &inherit, kPipeBufferSize) ||
      !CreatePipe(parent_output.put(), child_stdout.put(), &inherit, kPipeBufferSize) ||
      !SetHandleInformation(parent_input.get(), HANDLE_FLAG_INHERIT, 0) ||
      !SetHandleInformation(parent_output.get(), HANDLE_FLAG_INHERIT, 0))
    return WordedSystemFailure("cannot create pipes: ");
  std::string command_line;
  for (const std::string& arg : argv)
    command_line += (command_line.empty() ? "" : " ") + QuoteArgument(arg);

  // The runner lives in a job that we alone hold, killed when we end. Its own children leave
  // our job silently, so that the runner can put its step into a job of its own (also on
  // systems without nested jobs); the runner's job then ends the step when the runner goes.
  win::ScopedHandle job(CreateJobObjectA(nullptr, nullptr));
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags =
      JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK;
  if (!job || !SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits,
                                       sizeof limits))
    return WordedSystemFailure("cannot create a job object for the runner: ");

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = child_stdin.get();
  startup.hStdOutput = child_stdout.get();
  startup.hStdError = error_file ? error_file.get() : GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION info{};
  // Suspended until it is in the job, so that it never runs outside it.
  if (!CreateProcessA(nullptr, command_line.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED,
                      nullptr, nullptr, &startup, &info))
    return WordedSystemFailure("cannot start " + argv[0] + ": ");
  win::ScopedHandle process(info.hProcess);
  win::ScopedHandle thread(info.hThread);
  if (!AssignProcessToJobObject(job.get(), process.get()) ||
      ResumeThread(thread.get()) == static_cast<DWORD>(-1)) {
    core::Failure failure = WordedSystemFailure("cannot hold " + argv[0] + " in a job object: ");
    TerminateProcess(process.get(), 1);
    return failure;
  }
  return std::unique_ptr<ChildProcess>(std::make_unique<WinChild>(
      std::move(job), std::move(process), std::move(parent_input), std::move(parent_output)));
}

std::vector<RunnerCandidate> RunnerCandidates(const std::filesystem::path& own) {
  // The zip and a build's mingw folder both hold the runner beside x5ctl.exe; the folder above is
  // often one where any user may make folders (C:\).
  return {{own / "x5runner.exe", {}}};
}

std::string DefaultWineCommand() {
  return {};
}

std::string ExecutableDirectory() {
  char buffer[MAX_PATH + 1] = {};
  DWORD n = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
  if (n == 0 || n >= MAX_PATH)
    return {};
  std::string path(buffer, n);
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool StdinIsTerminal() {
  return GetFileType(GetStdHandle(STD_INPUT_HANDLE)) == FILE_TYPE_CHAR;
}

}  // namespace x5::ctl::host
