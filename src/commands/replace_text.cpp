// Replacing every occurrence of a literal text in a buffer, exactly or without regard to case,
// in time linear in the buffer's size.
#include "commands/replace_text.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "core/fault.h"

namespace x5::commands {
namespace {

// Verification may cost this many compares per byte passed before the finder turns to KMP.
constexpr uint64_t kVerifyBudgetPerByte = 4;
constexpr uint64_t kVerifyBudgetSlack = 4096;

}  // namespace

LiteralFinder::LiteralFinder(std::string_view needle, const CaseFold* fold)
    : needle_(needle), fold_(fold) {
  for (char& c : needle_) {
    c = static_cast<char>(Fold(static_cast<uint8_t>(c)));
  }
  if (!needle_.empty()) {
    const auto first = static_cast<uint8_t>(needle_.front());
    for (int c = 0; c < 256; ++c) {
      if (Fold(static_cast<uint8_t>(c)) == first) {
        first_bytes_.push_back(static_cast<uint8_t>(c));
      }
    }
  }
}

size_t LiteralFinder::NextOf(std::string_view haystack, size_t which, size_t from) {
  if (!next_valid_[which] || from < searched_from_[which] || next_[which] < from) {
    searched_from_[which] = from;
    const void* hit =
        std::memchr(haystack.data() + from, first_bytes_[which], haystack.size() - from);
    next_[which] = hit == nullptr
                       ? std::string_view::npos
                       : static_cast<size_t>(static_cast<const char*>(hit) - haystack.data());
    next_valid_[which] = true;
  }
  return next_[which];
}

size_t LiteralFinder::FindCandidate(std::string_view haystack, size_t from) {
  if (first_bytes_.size() <= 2) {
    // One memchr per form, each remembered until passed: both forms are scanned once in all.
    if (cached_ != haystack.data() || cached_size_ != haystack.size()) {
      cached_ = haystack.data();
      cached_size_ = haystack.size();
      next_valid_[0] = next_valid_[1] = false;
    }
    const size_t first = NextOf(haystack, 0, from);
    return first_bytes_.size() == 1 ? first : std::min(first, NextOf(haystack, 1, from));
  }
  const auto first = static_cast<uint8_t>(needle_.front());
  const char* data = haystack.data();
  for (size_t i = from; i < haystack.size(); ++i) {
    if (Fold(static_cast<uint8_t>(data[i])) == first) {
      return i;
    }
  }
  return std::string_view::npos;
}

size_t LiteralFinder::MatchLength(std::string_view haystack, size_t at) const {
  const size_t m = needle_.size();
  const auto* text = reinterpret_cast<const uint8_t*>(haystack.data() + at);
  const auto* needle = reinterpret_cast<const uint8_t*>(needle_.data());
  size_t k = 0;
  if (fold_ == nullptr) {
    while (k < m && text[k] == needle[k]) {
      ++k;
    }
  } else {
    while (k < m && Fold(text[k]) == needle[k]) {
      ++k;
    }
  }
  return k;
}

size_t LiteralFinder::FindKmp(std::string_view haystack, size_t from) {
  const size_t m = needle_.size();
  if (failure_.empty()) {
    failure_.assign(m + 1, 0);
    size_t k = 0;
    for (size_t i = 1; i < m; ++i) {
      while (k > 0 && needle_[i] != needle_[k]) {
        k = failure_[k];
      }
      if (needle_[i] == needle_[k]) {
        ++k;
      }
      failure_[i + 1] = k;
    }
  }
  size_t k = 0;  // occurrences do not overlap: every search starts afresh
  for (size_t i = from; i < haystack.size(); ++i) {
    const char c = static_cast<char>(Fold(static_cast<uint8_t>(haystack[i])));
    while (k > 0 && c != needle_[k]) {
      k = failure_[k];
    }
    if (c == needle_[k]) {
      ++k;
    }
    if (k == m) {
      return i + 1 - m;
    }
  }
  return std::string_view::npos;
}

size_t LiteralFinder::Find(std::string_view haystack, size_t from) {
  const size_t m = needle_.size();
  if (m == 0 || from >= haystack.size() || haystack.size() - from < m) {
    return std::string_view::npos;
  }
  if (use_kmp_) {
    return FindKmp(haystack, from);
  }
  const size_t last_start = haystack.size() - m;
  size_t at = from;
  while (at <= last_start) {
    at = FindCandidate(haystack, at);
    if (at == std::string_view::npos || at > last_start) {
      return std::string_view::npos;
    }
    const size_t matched = MatchLength(haystack, at);
    if (matched == m) {
      progress_ += at + m - from;
      return at;
    }
    verify_cost_ += matched + 1;
    if (verify_cost_ > kVerifyBudgetPerByte * (progress_ + at - from) + kVerifyBudgetSlack) {
      use_kmp_ = true;
      return FindKmp(haystack, at + 1);
    }
    ++at;
  }
  return std::string_view::npos;
}

ReplaceOutcome ReplaceAll(std::string_view text,
                          std::string_view find,
                          std::string_view replacement,
                          const CaseFold* fold,
                          size_t max_bytes,
                          std::string& out) noexcept {
  try {
    out.clear();
    if (text.size() > max_bytes) {
      return ReplaceOutcome::kTooLarge;
    }
    out.reserve(replacement.size() <= find.size()
                    ? text.size()
                    : std::min(max_bytes, text.size() + text.size() / 8));
    LiteralFinder finder(find, fold);
    size_t pos = 0;
    for (size_t hit = finder.Find(text, 0); hit != std::string_view::npos;
         hit = finder.Find(text, pos)) {
      const size_t piece = hit - pos;
      if (out.size() + piece + replacement.size() > max_bytes) {
        out.clear();
        return ReplaceOutcome::kTooLarge;
      }
      out.append(text.substr(pos, piece));
      out.append(replacement);
      pos = hit + find.size();
    }
    if (out.size() + (text.size() - pos) > max_bytes) {
      out.clear();
      return ReplaceOutcome::kTooLarge;
    }
    out.append(text.substr(pos));
    return ReplaceOutcome::kDone;
  } catch (const std::bad_alloc&) {
    out.clear();
    out.shrink_to_fit();
    return ReplaceOutcome::kNoMemory;
  } catch (...) {
    core::UnexpectedFault("ReplaceAll");
    out.clear();
    return ReplaceOutcome::kNoMemory;
  }
}

}  // namespace x5::commands
