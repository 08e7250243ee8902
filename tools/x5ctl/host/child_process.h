// A child process with pipes on its standard input and output, started per platform
// (host/child_process_posix.cpp, host/child_process_win.cpp); tests may supply their own.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/result.h"

namespace x5::ctl::host {

using Deadline = std::chrono::steady_clock::time_point;

// Lets a caller cut every wait of a session short (a second stop signal: "end the runner now").
// Once requested it stays requested.
class Interrupt {
 public:
  virtual ~Interrupt() = default;
  virtual bool Requested() const = 0;
  // POSIX: a descriptor that turns readable (and stays so) once Requested() holds, so waits end at
  // once; -1 when there is none (waits then look at least every 50 ms).
  virtual int WakeDescriptor() const { return -1; }
};

// A started child process whose standard input and output are pipes held by us. Implemented per
// platform (host/child_process_posix.cpp, host/child_process_win.cpp); tests may supply their own.
class ChildProcess {
 public:
  // How a read or write ended when no system call failed.
  enum class Io { kOk, kEndOfPipe, kTimedOut, kInterrupted };
  struct Moved {
    Io status = Io::kOk;
    size_t bytes = 0;  // bytes moved
  };
  // A system call that fails is the failure, with the system's code (a write's failure says how
  // many bytes went before it).
  using IoResult = core::Result<Moved>;

  virtual ~ChildProcess() = default;
  // Returns as soon as at least one byte has arrived (up to into.size()), at the end of the pipe,
  // or at the deadline. Deadline::max() waits without limit.
  virtual IoResult Read(std::span<uint8_t> into, Deadline deadline) = 0;
  // Writes all bytes unless the pipe breaks or the deadline passes.
  virtual IoResult Write(std::span<const uint8_t> bytes, Deadline deadline) = 0;
  // Closes our end of the child's standard input; the child's next read sees the end of the pipe.
  virtual void CloseInput() = 0;
  // The exit code once the process has ended, nullopt when it still runs at the deadline.
  // On POSIX a process ended by signal N gives 128 + N, and only the low 8 bits of a code survive.
  virtual std::optional<int32_t> Wait(Deadline deadline) = 0;
  // Ends the process at once (on POSIX its whole process group).
  virtual void Kill() = 0;

  // Everything the child writes until it closes its output, the deadline passes or a read fails
  // (what arrived before stays).
  std::string ReadUntilEnd(Deadline deadline);

  // Read and Write give up with kInterrupted once `interrupt` (which must outlive the child) is
  // requested; null: never.
  void SetInterrupt(const Interrupt* interrupt) { interrupt_ = interrupt; }

 protected:
  const Interrupt* interrupt() const { return interrupt_; }
  bool Interrupted() const { return interrupt_ != nullptr && interrupt_->Requested(); }

 private:
  const Interrupt* interrupt_ = nullptr;
};

// Where a child's standard error goes: passed through, dropped, or appended to a log file (opened
// without following a link; it must be a regular file of this user's with one name).
struct ChildErrors {
  enum class Kind { kInherit, kDiscard, kAppendTo };
  Kind kind = Kind::kInherit;
  std::string log;  // kAppendTo
};

// Starts argv[0] (searched on PATH) with the given arguments and pipes on its standard input and
// output; standard error goes where `errors` says, the environment passes through. The child dies
// with the caller,
// however the caller ends: on Linux it runs in a process group of its own and gets SIGKILL when
// the thread that started it ends (a parent-death signal: start it from a thread that lives as
// long as the child should); on Windows it is held in a job object that is killed on close.
core::Result<std::unique_ptr<ChildProcess>> StartChildProcess(const std::vector<std::string>& argv,
                                                              const ChildErrors& errors = {});
// The platform part of StartChildProcess, for a non-empty argv[0].
core::Result<std::unique_ptr<ChildProcess>> StartProgram(const std::vector<std::string>& argv,
                                                         const ChildErrors& errors);

// A place where an installation puts the runner, and why it is not looked at ("" when it is).
struct RunnerCandidate {
  std::filesystem::path path;
  std::string skipped;
};
// Where x5ctl looks for the runner when --runner is not given, from x5ctl's own folder `own`: only
// where an installation put it, never in a folder a step or another user could have made. Beside
// x5ctl (the Windows zip, a build's mingw folder); on Linux also the package's lib/x5runner beside
// its bin, and a build tree's mingw folder beside the build folder x5ctl lies in (one holding
// CMakeCache.txt), each only while nobody but root and the owner of x5ctl's folder can change the
// folders on the way.
std::vector<RunnerCandidate> RunnerCandidates(const std::filesystem::path& own);

// The command that runs a Windows program here: "wine" on Linux, "" (run directly) on Windows.
std::string DefaultWineCommand();
// Directory of the running executable, without a trailing separator ("" when unknown).
std::string ExecutableDirectory();
bool StdinIsTerminal();

}  // namespace x5::ctl::host
