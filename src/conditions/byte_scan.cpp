// Vectorised (SSE2 / AVX2 on x86-64, chosen at run time) and portable scanning for a search text.
#include "conditions/byte_scan.h"

#include <array>
#include <bit>
#include <cstring>

#if defined(__x86_64__) || defined(_M_X64)
#define X5_SCAN_X86 1
#include <immintrin.h>
#endif

namespace x5::conditions {
namespace {

// Bytes roughly from most to least frequent in log and report files; probes avoid the front.
constexpr std::string_view kCommonBytes =
    " etaoinsr012hldcum3456789.:-fpgwybv\n\r/=k_,ETARIONS[]()LCDUMPxGFHBW\"'YVKjqz\tXJQZ";

constexpr std::array<uint16_t, 256> MakeByteWeights() {
  std::array<uint16_t, 256> weights{};
  for (int b = 0; b < 256; ++b)
    weights[b] = static_cast<uint16_t>(b >= 0x20 && b < 0x7f ? 50 : (b < 0x20 ? 5 : 10));
  for (size_t rank = 0; rank < kCommonBytes.size(); ++rank)
    weights[static_cast<uint8_t>(kCommonBytes[rank])] = static_cast<uint16_t>(1000 - 10 * rank);
  return weights;
}

constexpr std::array<uint16_t, 256> kByteWeights = MakeByteWeights();

// Expected frequency of bytes passing a probe: the weights of every byte b with (b | mask) ==
// value, found by running over the subsets of the mask's bits.
uint32_t ProbeCost(uint8_t mask, uint8_t value) {
  const uint8_t fixed = static_cast<uint8_t>(value & ~mask);
  uint32_t cost = 0;
  uint8_t sub = 0;
  do {
    cost += kByteWeights[fixed | sub];
    sub = static_cast<uint8_t>((sub - mask) & mask);
  } while (sub != 0);
  return cost;
}

inline bool PassesProbes(const Needle& n, const uint8_t* at) {
  const Needle::Probe& a = n.probe(0);
  const Needle::Probe& b = n.probe(1);
  return (at[a.offset] | a.mask) == a.value && (at[b.offset] | b.mask) == b.value;
}

int64_t FirstScalar(const Needle& n, const uint8_t* h, size_t begin, size_t end) {
  for (size_t s = begin; s < end; ++s) {
    if (PassesProbes(n, h + s) && n.MatchesAt(h + s))
      return static_cast<int64_t>(s);
  }
  return -1;
}

int64_t LastScalar(const Needle& n, const uint8_t* h, size_t begin, size_t end) {
  for (size_t s = end; s > begin; --s) {
    if (PassesProbes(n, h + s - 1) && n.MatchesAt(h + s - 1))
      return static_cast<int64_t>(s - 1);
  }
  return -1;
}

#if X5_SCAN_X86

// In the loops below `starts` is the number of candidate start offsets (block size - text size +
// 1). A vector step covers starts s .. s + width - 1 < starts and loads bytes up to
// s + width - 1 + offset <= starts - 1 + (text size - 1) = block size - 1: always inside the block.

template <bool kFold>
__attribute__((target("avx2"))) inline __m256i Avx2Hits(const uint8_t* at,
                                                        __m256i mask1,
                                                        __m256i value1,
                                                        __m256i mask2,
                                                        __m256i value2,
                                                        size_t off1,
                                                        size_t off2) {
  __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + off1));
  __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + off2));
  if constexpr (kFold) {
    a = _mm256_or_si256(a, mask1);
    b = _mm256_or_si256(b, mask2);
  }
  return _mm256_and_si256(_mm256_cmpeq_epi8(a, value1), _mm256_cmpeq_epi8(b, value2));
}

// The first / last candidate among the set bits (starts s + bit) that matches in full.
inline bool FirstOfBits(const Needle& n,
                        const uint8_t* h,
                        size_t s,
                        uint32_t bits,
                        int64_t& found) {
  for (; bits != 0; bits &= bits - 1) {
    const size_t at = s + static_cast<size_t>(std::countr_zero(bits));
    if (n.MatchesAt(h + at)) {
      found = static_cast<int64_t>(at);
      return true;
    }
  }
  return false;
}

inline bool LastOfBits(const Needle& n, const uint8_t* h, size_t s, uint32_t bits, int64_t& found) {
  while (bits != 0) {
    const int top = 31 - std::countl_zero(bits);
    if (n.MatchesAt(h + s + top)) {
      found = static_cast<int64_t>(s + top);
      return true;
    }
    bits &= ~(uint32_t{1} << top);
  }
  return false;
}

__attribute__((target("avx2"))) inline uint32_t Bits(__m256i e) {
  return static_cast<uint32_t>(_mm256_movemask_epi8(e));
}

// Four vectors (128 starts) per step: the loop is bound by loads and compares, and fewer
// branches per byte keep it near the core's limit.
template <bool kFold>
__attribute__((target("avx2"))) int64_t FirstAvx2(const Needle& n,
                                                  const uint8_t* h,
                                                  size_t starts) {
  const Needle::Probe& p1 = n.probe(0);
  const Needle::Probe& p2 = n.probe(1);
  const __m256i m1 = _mm256_set1_epi8(static_cast<char>(p1.mask));
  const __m256i v1 = _mm256_set1_epi8(static_cast<char>(p1.value));
  const __m256i m2 = _mm256_set1_epi8(static_cast<char>(p2.mask));
  const __m256i v2 = _mm256_set1_epi8(static_cast<char>(p2.value));
  const size_t o1 = p1.offset;
  const size_t o2 = p2.offset;
  int64_t found = -1;
  size_t s = 0;
  for (; s + 128 <= starts; s += 128) {
    const __m256i e0 = Avx2Hits<kFold>(h + s, m1, v1, m2, v2, o1, o2);
    const __m256i e1 = Avx2Hits<kFold>(h + s + 32, m1, v1, m2, v2, o1, o2);
    const __m256i e2 = Avx2Hits<kFold>(h + s + 64, m1, v1, m2, v2, o1, o2);
    const __m256i e3 = Avx2Hits<kFold>(h + s + 96, m1, v1, m2, v2, o1, o2);
    const __m256i any = _mm256_or_si256(_mm256_or_si256(e0, e1), _mm256_or_si256(e2, e3));
    if (_mm256_testz_si256(any, any))
      continue;
    if (FirstOfBits(n, h, s, Bits(e0), found) || FirstOfBits(n, h, s + 32, Bits(e1), found) ||
        FirstOfBits(n, h, s + 64, Bits(e2), found) || FirstOfBits(n, h, s + 96, Bits(e3), found))
      return found;
  }
  for (; s + 32 <= starts; s += 32) {
    if (FirstOfBits(n, h, s, Bits(Avx2Hits<kFold>(h + s, m1, v1, m2, v2, o1, o2)), found))
      return found;
  }
  return FirstScalar(n, h, s, starts);
}

template <bool kFold>
__attribute__((target("avx2"))) int64_t LastAvx2(const Needle& n, const uint8_t* h, size_t starts) {
  const Needle::Probe& p1 = n.probe(0);
  const Needle::Probe& p2 = n.probe(1);
  const __m256i m1 = _mm256_set1_epi8(static_cast<char>(p1.mask));
  const __m256i v1 = _mm256_set1_epi8(static_cast<char>(p1.value));
  const __m256i m2 = _mm256_set1_epi8(static_cast<char>(p2.mask));
  const __m256i v2 = _mm256_set1_epi8(static_cast<char>(p2.value));
  const size_t o1 = p1.offset;
  const size_t o2 = p2.offset;
  int64_t found = -1;
  size_t end = starts;
  for (; end >= 128; end -= 128) {
    const size_t s = end - 128;
    const __m256i e0 = Avx2Hits<kFold>(h + s, m1, v1, m2, v2, o1, o2);
    const __m256i e1 = Avx2Hits<kFold>(h + s + 32, m1, v1, m2, v2, o1, o2);
    const __m256i e2 = Avx2Hits<kFold>(h + s + 64, m1, v1, m2, v2, o1, o2);
    const __m256i e3 = Avx2Hits<kFold>(h + s + 96, m1, v1, m2, v2, o1, o2);
    const __m256i any = _mm256_or_si256(_mm256_or_si256(e0, e1), _mm256_or_si256(e2, e3));
    if (_mm256_testz_si256(any, any))
      continue;
    if (LastOfBits(n, h, s + 96, Bits(e3), found) || LastOfBits(n, h, s + 64, Bits(e2), found) ||
        LastOfBits(n, h, s + 32, Bits(e1), found) || LastOfBits(n, h, s, Bits(e0), found))
      return found;
  }
  for (; end >= 32; end -= 32) {
    if (LastOfBits(n, h, end - 32, Bits(Avx2Hits<kFold>(h + end - 32, m1, v1, m2, v2, o1, o2)),
                   found))
      return found;
  }
  return LastScalar(n, h, 0, end);
}

template <bool kFold>
inline uint32_t Sse2Bits(const uint8_t* at,
                         __m128i mask1,
                         __m128i value1,
                         __m128i mask2,
                         __m128i value2,
                         size_t off1,
                         size_t off2) {
  __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + off1));
  __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + off2));
  if constexpr (kFold) {
    a = _mm_or_si128(a, mask1);
    b = _mm_or_si128(b, mask2);
  }
  return static_cast<uint32_t>(
      _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, value1), _mm_cmpeq_epi8(b, value2))));
}

template <bool kFold>
int64_t FirstSse2(const Needle& n, const uint8_t* h, size_t starts) {
  const Needle::Probe& p1 = n.probe(0);
  const Needle::Probe& p2 = n.probe(1);
  const __m128i m1 = _mm_set1_epi8(static_cast<char>(p1.mask));
  const __m128i v1 = _mm_set1_epi8(static_cast<char>(p1.value));
  const __m128i m2 = _mm_set1_epi8(static_cast<char>(p2.mask));
  const __m128i v2 = _mm_set1_epi8(static_cast<char>(p2.value));
  int64_t found = -1;
  size_t s = 0;
  for (; s + 32 <= starts; s += 32) {
    const uint32_t bits = Sse2Bits<kFold>(h + s, m1, v1, m2, v2, p1.offset, p2.offset) |
                          Sse2Bits<kFold>(h + s + 16, m1, v1, m2, v2, p1.offset, p2.offset) << 16;
    if (bits != 0 && FirstOfBits(n, h, s, bits, found))
      return found;
  }
  return FirstScalar(n, h, s, starts);
}

template <bool kFold>
int64_t LastSse2(const Needle& n, const uint8_t* h, size_t starts) {
  const Needle::Probe& p1 = n.probe(0);
  const Needle::Probe& p2 = n.probe(1);
  const __m128i m1 = _mm_set1_epi8(static_cast<char>(p1.mask));
  const __m128i v1 = _mm_set1_epi8(static_cast<char>(p1.value));
  const __m128i m2 = _mm_set1_epi8(static_cast<char>(p2.mask));
  const __m128i v2 = _mm_set1_epi8(static_cast<char>(p2.value));
  int64_t found = -1;
  size_t end = starts;
  for (; end >= 32; end -= 32) {
    const size_t s = end - 32;
    const uint32_t bits = Sse2Bits<kFold>(h + s, m1, v1, m2, v2, p1.offset, p2.offset) |
                          Sse2Bits<kFold>(h + s + 16, m1, v1, m2, v2, p1.offset, p2.offset) << 16;
    if (bits != 0 && LastOfBits(n, h, s, bits, found))
      return found;
  }
  return LastScalar(n, h, 0, end);
}

bool CpuHasAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}

#endif  // X5_SCAN_X86

}  // namespace

Needle::Needle(std::string_view text, bool fold, const CaseMap& map)
    : bytes_(fold ? ToUpper(text, map) : std::string(text)), fold_(fold), map_(map) {
#if X5_SCAN_X86
  use_avx2_ = CpuHasAvx2();
#endif
  if (bytes_.empty())
    return;
  // For each folded byte: the first byte folding to it and the bits in which all such bytes
  // differ, so one OR and one compare accept every one of them.
  std::array<uint8_t, 256> first_of{};
  std::array<uint8_t, 256> mask_of{};
  std::array<bool, 256> seen{};
  if (fold_) {
    for (int b = 0; b < 256; ++b) {
      const uint8_t t = map_.upper[b];
      if (!seen[t]) {
        seen[t] = true;
        first_of[t] = static_cast<uint8_t>(b);
      }
      mask_of[t] = static_cast<uint8_t>(mask_of[t] | (b ^ first_of[t]));
    }
  }
  // The two cheapest probes at different offsets (the same one twice for a one-byte text).
  uint32_t best_cost = UINT32_MAX;
  uint32_t second_cost = UINT32_MAX;
  for (size_t i = 0; i < bytes_.size(); ++i) {
    const auto t = static_cast<uint8_t>(bytes_[i]);
    Probe p;
    p.offset = i;
    if (fold_ && seen[t]) {
      p.mask = mask_of[t];
      p.value = static_cast<uint8_t>(first_of[t] | mask_of[t]);
    } else {
      p.value = t;  // unfolded, or no byte folds to it (then nothing matches; the compare says so)
    }
    const uint32_t cost = ProbeCost(p.mask, p.value);
    if (cost < best_cost) {
      second_ = first_;
      second_cost = best_cost;
      first_ = p;
      best_cost = cost;
    } else if (cost < second_cost) {
      second_ = p;
      second_cost = cost;
    }
  }
  if (bytes_.size() == 1)
    second_ = first_;
}

bool Needle::MatchesAt(const uint8_t* at) const noexcept {
  const auto* n = reinterpret_cast<const uint8_t*>(bytes_.data());
  if (!fold_)
    return std::memcmp(at, n, bytes_.size()) == 0;
  for (size_t i = 0; i < bytes_.size(); ++i) {
    if (map_.upper[at[i]] != n[i])
      return false;
  }
  return true;
}

int64_t Needle::FindFirst(std::span<const uint8_t> block) const noexcept {
  if (bytes_.empty() || block.size() < bytes_.size())
    return -1;
  const size_t starts = block.size() - bytes_.size() + 1;
#if X5_SCAN_X86
  if (use_avx2_)
    return fold_ ? FirstAvx2<true>(*this, block.data(), starts)
                 : FirstAvx2<false>(*this, block.data(), starts);
  return fold_ ? FirstSse2<true>(*this, block.data(), starts)
               : FirstSse2<false>(*this, block.data(), starts);
#else
  return FirstScalar(*this, block.data(), 0, starts);
#endif
}

int64_t Needle::FindLast(std::span<const uint8_t> block) const noexcept {
  if (bytes_.empty() || block.size() < bytes_.size())
    return -1;
  const size_t starts = block.size() - bytes_.size() + 1;
#if X5_SCAN_X86
  if (use_avx2_)
    return fold_ ? LastAvx2<true>(*this, block.data(), starts)
                 : LastAvx2<false>(*this, block.data(), starts);
  return fold_ ? LastSse2<true>(*this, block.data(), starts)
               : LastSse2<false>(*this, block.data(), starts);
#else
  return LastScalar(*this, block.data(), 0, starts);
#endif
}

}  // namespace x5::conditions
