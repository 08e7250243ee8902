// Chunked forward and backward search in rule files, and the column of a byte in its line.
//
// The chunks (buffer size, overlapping by the text length - 1) stay the unit of pacing: the pacer
// is asked once per chunk, in order, with the chunk's byte count, and a stop answered for a chunk
// means that no hit in it or after it counts. How the bytes get into memory is separate: reads
// span many chunks (growing up to a megabyte) and the scanner runs over a whole read at once. The
// chunks partition the possible start offsets of a hit, so the chunk a hit belongs to is known
// from its offset, and the chunks before it are asked for once the scan has passed them.
#include "conditions/file_search.h"

#include <algorithm>
#include <new>
#include <optional>

#include "conditions/byte_scan.h"
#include "core/fault.h"

namespace x5::IskanjePlus {
namespace {

// Asks the pacer for chunks 0, 1, ... in order, each once.
class ChunkPolls {
 public:
  ChunkPolls(Pacer& pacer, int64_t chunk_length, int64_t final_index, int64_t final_length)
      : pacer_(pacer),
        chunk_length_(chunk_length),
        final_index_(final_index),
        final_length_(final_length) {}

  // Asks for every chunk up to and including `index`; false once the pacer answers stop.
  bool Through(int64_t index) {
    for (; next_ <= index; ++next_) {
      if (!pacer_.Poll(next_ == final_index_ ? final_length_ : chunk_length_))
        return false;
    }
    return true;
  }

 private:
  Pacer& pacer_;
  int64_t chunk_length_;
  int64_t final_index_;
  int64_t final_length_;
  int64_t next_ = 0;
};

std::optional<Needle> MakeNeedle(std::string_view text, bool fold, const CaseMap& map) noexcept {
  try {
    return Needle(text, fold, map);
  } catch (...) {
    (void)UnexpectedFault("Needle");
    return std::nullopt;  // the search ends as a failed read
  }
}

int64_t FirstReadLength(const SearchEnv& env, int64_t text_length) {
  return std::max({env.first_read_bytes, int64_t{1}, 2 * text_length});
}

int64_t NextReadLength(const SearchEnv& env, int64_t current, int64_t text_length) {
  return std::max(std::min(current * 2, env.largest_read_bytes),
                  std::max(current, 2 * text_length));
}

}  // namespace

int64_t ChunkLengthFor(int64_t buffer_size, int64_t text_length) noexcept {
  const int64_t buffer = std::max<int64_t>(buffer_size, 1);
  if (text_length <= buffer)
    return buffer;
  return text_length - 1 + std::max<int64_t>(buffer / 2, 1);
}

int64_t SearchForward(SearchEnv& env,
                      ConditionFile& file,
                      std::string_view text,
                      bool case_folding,
                      int64_t start,
                      int64_t end_limit) noexcept {
  const auto length = static_cast<int64_t>(text.size());
  if (length == 0)
    return kRangeUnusable;
  const int64_t size = file.Size();
  if (size < 0)
    return kReadFailed;
  int64_t last = size;
  if (end_limit != 0 && end_limit < last)
    last = end_limit;
  if (start < 1 || start > last || last < 1 || last - start + 1 < length)
    return kRangeUnusable;
  const std::optional<Needle> needle = MakeNeedle(text, case_folding, env.case_map);
  if (!needle)
    return kReadFailed;

  // 0-based: hits start in [first, end - length]; chunk k starts at first + k * stride.
  const int64_t chunk = ChunkLengthFor(env.buffer_size, length);
  const int64_t stride = chunk - length + 1;
  const int64_t first = start - 1;
  const int64_t end = last;
  const int64_t final_index = first + chunk > end ? 0 : (end - chunk - first) / stride + 1;
  ChunkPolls polls(env.pacer, chunk, final_index, end - (first + final_index * stride));

  int64_t read = FirstReadLength(env, length);
  int64_t at = first;
  for (;;) {
    const int64_t want = std::min(read, end - at);
    std::span<const uint8_t> block = file.BufferedFrom(at, want);
    if (static_cast<int64_t>(block.size()) < length)
      block = file.Block(at, want);
    if (block.empty())
      return kReadFailed;
    const int64_t block_end = at + static_cast<int64_t>(block.size());
    const int64_t hit = needle->FindFirst(block);
    if (hit >= 0) {
      const int64_t offset = at + hit;
      if (!polls.Through((offset - first) / stride))
        return kSearchKilled;
      return offset + 1;
    }
    if (block_end >= end)
      return polls.Through(final_index) ? kNotFound : kSearchKilled;
    // Chunks whose every start lies at or before block_end - length have been scanned.
    if (!polls.Through((block_end - length - first + 1) / stride - 1))
      return kSearchKilled;
    at = block_end - length + 1;
    read = NextReadLength(env, read, length);
  }
}

int64_t SearchBackward(SearchEnv& env,
                       ConditionFile& file,
                       std::string_view text,
                       bool case_folding,
                       int64_t& start,
                       int64_t low_limit) noexcept {
  const auto length = static_cast<int64_t>(text.size());
  const int64_t size = file.Size();
  if (size < 0)
    return kReadFailed;
  if (start == -1)
    start = size;
  if (length == 0)
    return kRangeUnusable;
  // Bytes past the end do not exist: a start beyond it searches from the end.
  const int64_t top = std::min(start, size);
  const int64_t low = low_limit >= 2 ? low_limit : 1;
  if (top < 1 || low > top || top - low + 1 < length)
    return kRangeUnusable;
  const std::optional<Needle> needle = MakeNeedle(text, case_folding, env.case_map);
  if (!needle)
    return kReadFailed;

  // 0-based: hits start in [bottom, end - length]; chunk k ends at end - k * stride.
  const int64_t chunk = ChunkLengthFor(env.buffer_size, length);
  const int64_t stride = chunk - length + 1;
  const int64_t end = top;
  const int64_t bottom = low - 1;
  const int64_t final_index =
      end - chunk <= bottom ? 0 : (end - chunk - bottom + stride - 1) / stride;
  ChunkPolls polls(env.pacer, chunk, final_index, end - final_index * stride - bottom);

  int64_t read = FirstReadLength(env, length);
  int64_t block_end = end;
  for (;;) {
    const int64_t want = std::min(read, block_end - bottom);
    std::span<const uint8_t> block = file.BufferedUpTo(block_end, want);
    if (static_cast<int64_t>(block.size()) < length)
      block = file.Block(block_end - want, want);
    if (block.empty())
      return kReadFailed;
    const int64_t at = block_end - static_cast<int64_t>(block.size());
    const int64_t hit = needle->FindLast(block);
    if (hit >= 0) {
      const int64_t offset = at + hit;
      if (!polls.Through((end - length - offset) / stride))
        return kSearchKilled;
      return offset + 1;
    }
    if (at <= bottom)
      return polls.Through(final_index) ? kNotFound : kSearchKilled;
    // Chunks whose every start lies at or after `at` have been scanned.
    const int64_t span = end - chunk - at;
    if (!polls.Through(span < 0 ? -1 : span / stride))
      return kSearchKilled;
    block_end = at + length - 1;
    read = NextReadLength(env, read, length);
  }
}

int64_t ColumnOf(ConditionFile& file, int64_t position, int64_t line_limit) noexcept {
  if (position < 1)
    return 0;
  if (position == 1)
    return 1;
  const int64_t limit = line_limit > 0 ? line_limit : 256;
  // 1-based positions from .. position - 1 are examined, nearest first.
  const int64_t from = std::max<int64_t>(1, position - limit);
  constexpr int64_t kPiece = 64 * 1024;
  int64_t piece_end = position - 1;  // 0-based exclusive end
  while (piece_end > from - 1) {
    const int64_t n = std::min(kPiece, piece_end - (from - 1));
    const std::span<const uint8_t> bytes = file.Peek(piece_end - n, n);
    if (bytes.empty())
      return 0;
    for (int64_t i = n; i > 0; --i) {
      if (bytes[static_cast<size_t>(i - 1)] == '\n')
        return position - (piece_end - n + i);
    }
    piece_end -= n;
  }
  // No line feed: the column is known only when the look-back reached the start of the file.
  return from == 1 ? position : 0;
}

}  // namespace x5::IskanjePlus
