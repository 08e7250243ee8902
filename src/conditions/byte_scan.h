// Fast search for one byte string inside a memory block, forward or backward, with optional case
// folding done inside the scanner (the block itself is never copied or folded).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "conditions/case_map.h"

namespace x5::conditions {

// A search text prepared for scanning. Two of its bytes, chosen to be rare in text files, are
// compared a vector at a time; only their joint matches are compared in full.
class Needle {
 public:
  // With `fold`, a byte b of a block matches a byte n of the text when map.upper[b] ==
  // map.upper[n]. The map is copied.
  Needle(std::string_view text, bool fold, const CaseMap& map);

  size_t size() const noexcept { return bytes_.size(); }
  // The text as it is compared (upper-cased when folding).
  const std::string& bytes() const noexcept { return bytes_; }

  // Offset of the first / last occurrence that lies wholly inside `block`, or -1. An empty text
  // is never found.
  [[nodiscard]] int64_t FindFirst(std::span<const uint8_t> block) const noexcept;
  [[nodiscard]] int64_t FindLast(std::span<const uint8_t> block) const noexcept;

  // A byte b passes probe i when (b | mask) == value; every byte that matches the text's byte at
  // `offset` passes (a few others may too and are weeded out by the full compare).
  struct Probe {
    size_t offset = 0;
    uint8_t mask = 0;
    uint8_t value = 0;
  };

  [[nodiscard]] bool MatchesAt(const uint8_t* at) const noexcept;
  const Probe& probe(int i) const noexcept { return i == 0 ? first_ : second_; }
  bool folds() const noexcept { return fold_; }

 private:
  std::string bytes_;
  bool fold_ = false;
  CaseMap map_;
  Probe first_;
  Probe second_;
  bool use_avx2_ = false;
};

}  // namespace x5::conditions
