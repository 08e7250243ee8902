// Holding and resuming the step's threads, with a ledger of every suspend the runner applied so
// that every hold can be released before a kill, an END or the cleanup.
#include "runner/thread_hold.h"

#include <algorithm>
#include <new>
#include <optional>
#include <set>

namespace x5::runner {
namespace {

// The failure of a hold or resume: the last call that failed. The text fits a string's own
// storage, so making it never allocates.
core::Result<void> Outcome(const std::optional<uint32_t>& last_error) noexcept {
  if (!last_error)
    return {};
  return core::Failure{"threads failed", *last_error};
}

}  // namespace

core::Result<void> HoldLedger::Hold(ThreadSource& source) noexcept {
  std::optional<uint32_t> last_error;
  try {
    std::set<uint32_t> done;  // threads this hold has dealt with
    for (int pass = 0; pass < kHoldPasses; ++pass) {
      // A later pass that fails leaves what earlier passes held.
      const core::Result<std::vector<uint32_t>> listed = source.List();
      if (!listed) {
        last_error = listed.failure().system_code;
        break;
      }
      bool found_new = false;
      for (uint32_t id : *listed) {
        if (!done.insert(id).second)
          continue;
        found_new = true;
        auto it = held_.find(id);
        if (it == held_.end()) {
          std::unique_ptr<HeldThread> thread = source.Open(id);
          if (!thread)
            continue;  // ended meanwhile, or not ours to touch
          // Recorded before it is suspended, so a suspend can never go unrecorded.
          it = held_.emplace(id, Entry{std::move(thread), 0}).first;
        }
        const core::Result<int64_t> previous = it->second.thread->Suspend();
        if (!previous) {
          last_error = previous.failure().system_code;
          if (it->second.count == 0)
            held_.erase(it);
          continue;
        }
        ++it->second.count;
      }
      if (!found_new)
        break;
    }
  } catch (const std::bad_alloc&) {
    // What is held so far is in the ledger and will be released.
    last_error = kOutOfMemoryError;
  }
  return Outcome(last_error);
}

core::Result<void> HoldLedger::Resume() noexcept {
  std::optional<uint32_t> last_error;
  for (auto it = held_.begin(); it != held_.end();) {
    const core::Result<int64_t> previous = it->second.thread->Resume();
    if (!previous)
      last_error = previous.failure().system_code;
    // A thread that cannot be resumed has ended (or never will be resumable): forget one suspend.
    if (--it->second.count <= 0 || (previous && *previous == 0))
      it = held_.erase(it);
    else
      ++it;
  }
  return Outcome(last_error);
}

void HoldLedger::ResumeAllHeld() noexcept {
  for (auto& [id, entry] : held_) {
    for (int32_t i = 0; i < entry.count; ++i) {
      const core::Result<int64_t> previous = entry.thread->Resume();
      if (!previous || *previous <= 0)
        break;  // ended, or no suspend left on it
    }
  }
  held_.clear();
}

}  // namespace x5::runner
