// Replacing every occurrence of a literal text in a buffer, exactly or without regard to case,
// in time linear in the buffer's size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "commands/case_fold.h"

namespace x5::commands {

// Finds the leftmost occurrence of a fixed needle. Candidates come from a fast scan for the first
// byte; when verifying them costs more than a few times the bytes passed (a needle like "aaab" in
// "aaaa..."), the finder switches to a KMP scan so that the total stays linear.
class LiteralFinder {
 public:
  // `fold` null: exact comparison. The needle must outlive nothing: it is copied.
  LiteralFinder(std::string_view needle, const CaseFold* fold);

  // Position of the first occurrence at or after `from`, or npos.
  [[nodiscard]] size_t Find(std::string_view haystack, size_t from);

 private:
  size_t FindCandidate(std::string_view haystack, size_t from);
  size_t NextOf(std::string_view haystack, size_t which, size_t from);
  // How many bytes from `at` on agree with the needle (its length on a match).
  size_t MatchLength(std::string_view haystack, size_t at) const;
  size_t FindKmp(std::string_view haystack, size_t from);
  uint8_t Fold(uint8_t c) const { return fold_ != nullptr ? (*fold_)(c) : c; }

  std::string needle_;  // folded when comparing without regard to case
  const CaseFold* fold_;
  std::vector<uint8_t> first_bytes_;  // the bytes that fold to the needle's first byte
  std::vector<size_t> failure_;       // KMP table, built when first needed
  // For a first byte with two forms (a letter): where each form occurs next in `cached_`.
  // A remembered position holds for searches from `searched_from_` up to it.
  const char* cached_ = nullptr;
  size_t cached_size_ = 0;
  size_t next_[2] = {0, 0};
  size_t searched_from_[2] = {0, 0};
  bool next_valid_[2] = {false, false};
  uint64_t verify_cost_ = 0;
  uint64_t progress_ = 0;
  bool use_kmp_ = false;
};

enum class ReplaceOutcome : uint8_t {
  kDone,      // `out` holds the new text
  kTooLarge,  // the new text would exceed the limit
  kNoMemory,  // the new text could not be allocated
};

// Writes `text` with every non-overlapping occurrence of `find` (leftmost first, scanning on after
// each one) replaced by `replacement` into `out`. `find` must not be empty. `fold` null compares
// exactly. Never grows `out` beyond `max_bytes`.
[[nodiscard]] ReplaceOutcome ReplaceAll(std::string_view text,
                                        std::string_view find,
                                        std::string_view replacement,
                                        const CaseFold* fold,
                                        size_t max_bytes,
                                        std::string& out) noexcept;

}  // namespace x5::commands
