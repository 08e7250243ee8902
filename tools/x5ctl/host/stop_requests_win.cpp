// Stop requests on Windows: console events.
#include <windows.h>

#include <atomic>

#include "win/unique_handle.h"
#include "x5ctl/host/stop_requests.h"

namespace x5::ctl::host {
namespace {

// Numbers of the stop requests, as the C runtime's signals: the exit status is 128 + the number.
constexpr int kCtrlC = 2;       // SIGINT
constexpr int kCtrlBreak = 21;  // SIGBREAK
constexpr int kClose = 1;       // as a hangup: the console went away
constexpr int kShutdown = 15;   // as SIGTERM

// What the console control handler (a thread of the system's) notes for the conversation.
std::atomic<int> g_stops{0};
std::atomic<int> g_first_stop{0};
std::atomic<ULONGLONG> g_first_stop_time{0};
HANDLE g_event = nullptr;  // set when something was noted
HANDLE g_hard = nullptr;   // set on a second stop request, never reset

BOOL WINAPI OnConsoleEvent(DWORD event) {
  int number = 0;
  switch (event) {
    case CTRL_C_EVENT:
      number = kCtrlC;
      break;
    case CTRL_BREAK_EVENT:
      number = kCtrlBreak;
      break;
    case CTRL_CLOSE_EVENT:
      number = kClose;
      break;
    case CTRL_SHUTDOWN_EVENT:
      number = kShutdown;
      break;
    default:
      // A logoff reaches programs started by services whenever any user logs off: not ours.
      return TRUE;
  }
  // A repeat within a second is the same request (one key press may reach us more than once).
  const ULONGLONG now = GetTickCount64();
  int expected = 0;
  if (g_first_stop.compare_exchange_strong(expected, number)) {
    g_first_stop_time = now;
    g_stops = 1;
    SetEvent(g_event);
  } else if (now - g_first_stop_time.load() >= 1000) {
    g_stops = 2;
    SetEvent(g_hard);
  }
  // Returning from a close or shutdown event ends the process: hold it here while the
  // conversation kills the step and finishes (the system ends us after its own grace period).
  if (event == CTRL_CLOSE_EVENT || event == CTRL_SHUTDOWN_EVENT)
    Sleep(INFINITE);
  return TRUE;
}

class ConsoleStopRequests final : public StopRequests {
 public:
  ConsoleStopRequests() = default;
  ConsoleStopRequests(const ConsoleStopRequests&) = delete;
  ConsoleStopRequests& operator=(const ConsoleStopRequests&) = delete;

  core::Result<void> Install() {
    event_.reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    hard_.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!event_ || !hard_)
      return core::Failure{"cannot create events for console events", GetLastError()};
    g_stops = 0;
    g_first_stop = 0;
    g_event = event_.get();
    g_hard = hard_.get();
    if (!SetConsoleCtrlHandler(OnConsoleEvent, TRUE))
      return core::Failure{"cannot watch console events", GetLastError()};
    installed_ = true;
    return {};
  }

  ~ConsoleStopRequests() override {
    if (installed_)
      SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    g_event = g_hard = nullptr;
  }

  bool Requested() const override { return g_stops.load() >= 2; }

  Noted Now() const override {
    Noted noted;
    noted.stop_signal = g_first_stop.load();
    return noted;
  }

  bool WaitFor(std::chrono::milliseconds limit) override {
    HANDLE both[2] = {event_.get(), hard_.get()};
    return WaitForMultipleObjects(2, both, FALSE, static_cast<DWORD>(limit.count())) !=
           WAIT_TIMEOUT;
  }

 private:
  win::ScopedHandle event_;
  win::ScopedHandle hard_;
  bool installed_ = false;
};

}  // namespace

core::Result<std::unique_ptr<StopRequests>> WatchStopRequests() {
  auto requests = std::make_unique<ConsoleStopRequests>();
  if (core::Result<void> installed = requests->Install(); !installed)
    return std::move(installed).failure();
  return std::unique_ptr<StopRequests>(std::move(requests));
}

}  // namespace x5::ctl::host
