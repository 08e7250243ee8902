// Requests that reach x5ctl from outside while it runs a step: signals on Linux (SIGTERM, SIGINT,
// SIGHUP stop; SIGTSTP holds; SIGCONT resumes), console events on Windows (Ctrl+C, Ctrl+Break,
// closing the console, shutdown). Per platform: host/stop_requests_posix.cpp,
// host/stop_requests_win.cpp.
#pragma once

#include <chrono>
#include <memory>

#include "core/result.h"
#include "x5ctl/step/session.h"

namespace x5::ctl::host {

// The handlers only note the requests; the conversation acts on them. A second stop request, a
// second or more after the first, makes Requested() true: the runner is then ended at once.
class StopRequests : public Interrupt {
 public:
  struct Noted {
    int stop_signal = 0;  // number of the first stop request (exit status 128 + it), 0: none
    int holds = 0;        // hold requests so far
    int resumes = 0;      // resume requests so far
  };
  virtual Noted Now() const = 0;
  // Returns when a request arrives (true) or when `limit` has passed (false).
  virtual bool WaitFor(std::chrono::milliseconds limit) = 0;
};

// Installs this process's handlers. One at a time.
core::Result<std::unique_ptr<StopRequests>> WatchStopRequests();

}  // namespace x5::ctl::host
