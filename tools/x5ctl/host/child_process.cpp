// Starting a child process: what both platforms check before their own part.
#include "x5ctl/host/child_process.h"

#include <new>

namespace x5::ctl::host {

core::Result<std::unique_ptr<ChildProcess>> StartChildProcess(const std::vector<std::string>& argv,
                                                              const ChildErrors& errors) {
  if (argv.empty() || argv[0].empty())
    return core::Failure{"no program to start"};
  try {
    return StartProgram(argv, errors);
  } catch (const std::bad_alloc&) {
    return core::Failure{"out of memory starting the runner"};
  }
}

std::string ChildProcess::ReadUntilEnd(Deadline deadline) {
  std::string out;
  uint8_t buffer[4096];
  for (;;) {
    const IoResult got = Read(buffer, deadline);
    if (!got || got->status != Io::kOk)
      return out;
    out.append(reinterpret_cast<const char*>(buffer), got->bytes);
  }
}

}  // namespace x5::ctl::host
