// Replacing every occurrence of a literal text in a buffer, exactly or without regard to case,
// in time linear in the buffer's size.
#include "commands/replace_text.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace x5 {
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

size_t LiteralFinder::FindCandidate(std::string_view haystack, size_t from) const {
  const char* data = haystack.data();
  const size_t size = haystack.size();
  if (first_bytes_.size() == 1) {
    const void* hit = std::memchr(data + from, first_bytes_.front(), size - from);
    return hit == nullptr ? std::string_view::npos
                          : static_cast<size_t>(static_cast<const char*>(hit) - data);
  }
  const auto first = static_cast<uint8_t>(needle_.front());
  for (size_t i = from; i < size; ++i) {
    if (Fold(static_cast<uint8_t>(data[i])) == first) {
      return i;
    }
  }
  return std::string_view::npos;
}

bool LiteralFinder::Matches(std::string_view haystack, size_t at) const {
  const size_t m = needle_.size();
  if (fold_ == nullptr) {
    return std::memcmp(haystack.data() + at, needle_.data(), m) == 0;
  }
  for (size_t k = 0; k < m; ++k) {
    if (Fold(static_cast<uint8_t>(haystack[at + k])) != static_cast<uint8_t>(needle_[k])) {
      return false;
    }
  }
  return true;
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
    if (Matches(haystack, at)) {
      progress_ += at + m - from;
      return at;
    }
    verify_cost_ += m;
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
    out.clear();
    return ReplaceOutcome::kNoMemory;
  }
}

}  // namespace x5
