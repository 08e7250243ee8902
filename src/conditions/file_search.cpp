// Chunked forward and backward search in rule files, runs of searches for the N-th occurrence in a
// column, and the column of a byte in its line.
//
// The chunks (buffer size, overlapping by the text length - 1) stay the unit of pacing: the pacer
// is asked once per chunk, in order, with the chunk's byte count, and a stop answered for a chunk
// means that no hit in it or after it counts. How the bytes get into memory is separate: reads
// span many chunks (growing up to a megabyte) and the scanner runs over a whole read at once. The
// chunks partition the possible start offsets of a hit, so the chunk a hit belongs to is known
// from its offset, and the chunks before it are asked for once the scan has passed them.
//
// A rule that wants the N-th occurrence, or one in a given column, runs one search after another
// from each hit, each with its own chunks; they share the file's length, the prepared text and the
// bytes already read, and the line starts seen so far, so a hit costs a few pacer calls and a look
// at the bytes since the one before it.
#include "conditions/file_search.h"

#include <algorithm>
#include <new>
#include <optional>

#include "conditions/byte_scan.h"
#include "core/fault.h"

namespace x5::conditions {
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
    core::UnexpectedFault("Needle");
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

namespace {

// Consecutive searches for one text in one file: the file's length, the prepared text, the chunk
// geometry and the growing read length are shared, and each search starts in the bytes the one
// before it left in the block buffer.
class TextScan {
 public:
  TextScan(SearchEnv& env, ConditionFile& file, const Needle& needle, int64_t size)
      : env_(env),
        file_(file),
        needle_(needle),
        size_(size),
        length_(static_cast<int64_t>(needle.size())),
        chunk_(ChunkLengthFor(env.buffer_size, length_)),
        stride_(chunk_ - length_ + 1),
        read_(FirstReadLength(env, length_)) {}

  // As SearchForward.
  int64_t Forward(int64_t start, int64_t end_limit) {
    int64_t last = size_;
    if (end_limit != 0 && end_limit < last)
      last = end_limit;
    if (start < 1 || start > last || last < 1 || last - start + 1 < length_)
      return kRangeUnusable;

    // 0-based: hits start in [first, end - length]; chunk k starts at first + k * stride.
    const int64_t first = start - 1;
    const int64_t end = last;
    const int64_t final_index = first + chunk_ > end ? 0 : (end - chunk_ - first) / stride_ + 1;
    ChunkPolls polls(env_.pacer, chunk_, final_index, end - (first + final_index * stride_));

    int64_t at = first;
    for (;;) {
      const int64_t want = std::min(read_, end - at);
      std::span<const uint8_t> block = file_.BufferedFrom(at, want);
      if (static_cast<int64_t>(block.size()) < length_)
        block = file_.Block(at, want);
      if (block.empty())
        return kReadFailed;
      const int64_t block_end = at + static_cast<int64_t>(block.size());
      const int64_t hit = needle_.FindFirst(block);
      if (hit >= 0) {
        const int64_t offset = at + hit;
        if (!polls.Through((offset - first) / stride_))
          return kSearchKilled;
        return offset + 1;
      }
      if (block_end >= end)
        return polls.Through(final_index) ? kNotFound : kSearchKilled;
      // Chunks whose every start lies at or before block_end - length have been scanned.
      if (!polls.Through((block_end - length_ - first + 1) / stride_ - 1))
        return kSearchKilled;
      at = block_end - length_ + 1;
      read_ = NextReadLength(env_, read_, length_);
    }
  }

  // As SearchBackward, with a start that is not -1.
  int64_t Backward(int64_t start, int64_t low_limit) {
    // Bytes past the end do not exist: a start beyond it searches from the end.
    const int64_t top = std::min(start, size_);
    const int64_t low = low_limit >= 2 ? low_limit : 1;
    if (top < 1 || low > top || top - low + 1 < length_)
      return kRangeUnusable;

    // 0-based: hits start in [bottom, end - length]; chunk k ends at end - k * stride.
    const int64_t end = top;
    const int64_t bottom = low - 1;
    const int64_t final_index =
        end - chunk_ <= bottom ? 0 : (end - chunk_ - bottom + stride_ - 1) / stride_;
    ChunkPolls polls(env_.pacer, chunk_, final_index, end - final_index * stride_ - bottom);

    int64_t block_end = end;
    for (;;) {
      const int64_t want = std::min(read_, block_end - bottom);
      std::span<const uint8_t> block = file_.BufferedUpTo(block_end, want);
      if (static_cast<int64_t>(block.size()) < length_)
        block = file_.Block(block_end - want, want);
      if (block.empty())
        return kReadFailed;
      const int64_t at = block_end - static_cast<int64_t>(block.size());
      const int64_t hit = needle_.FindLast(block);
      if (hit >= 0) {
        const int64_t offset = at + hit;
        if (!polls.Through((end - length_ - offset) / stride_))
          return kSearchKilled;
        return offset + 1;
      }
      if (at <= bottom)
        return polls.Through(final_index) ? kNotFound : kSearchKilled;
      // Chunks whose every start lies at or after `at` have been scanned.
      const int64_t span = end - chunk_ - at;
      if (!polls.Through(span < 0 ? -1 : span / stride_))
        return kSearchKilled;
      block_end = at + length_ - 1;
      read_ = NextReadLength(env_, read_, length_);
    }
  }

 private:
  SearchEnv& env_;
  ConditionFile& file_;
  const Needle& needle_;
  int64_t size_;
  int64_t length_;
  int64_t chunk_;
  int64_t stride_;
  int64_t read_;
};

// Line starts for the columns of a run of hits that rise (forward) or fall (backward). The bytes
// looked at and the last line feed among them are remembered, so each byte before a hit is looked
// at about once however many hits there are, and hits on one line need no look at all.
class LineStarts {
 public:
  LineStarts(const Needle& feed, int64_t line_limit) : feed_(feed), limit_(line_limit) {
    if (limit_ <= 0)
      limit_ = 256;
  }

  // As ColumnOf.
  int64_t Column(ConditionFile& file, int64_t position) {
    if (position < 1)
      return 0;
    if (position == 1)
      return 1;
    const int64_t at = position - 1;  // 0-based
    const int64_t from = std::max<int64_t>(0, at - limit_);
    const int64_t feed = LastFeed(file, from, at);
    if (feed >= 0)
      return at - feed;
    if (feed == kUnreadable)
      return 0;
    // No line feed: the column is known only when the look-back reached the start of the file.
    return from == 0 ? position : 0;
  }

 private:
  static constexpr int64_t kNone = -1;
  static constexpr int64_t kUnreadable = -2;

  // The last line feed in bytes [from, to) (0-based), kNone or kUnreadable.
  int64_t LastFeed(ConditionFile& file, int64_t from, int64_t to) {
    if (to >= seen_to_) {
      // Above what has been seen: the new bytes first.
      const int64_t above = std::max(from, seen_to_);
      const int64_t feed = LookAt(file, above, to);
      if (feed >= 0)
        Remember(feed, to, feed);
      if (feed != kNone)
        return feed;
      if (above > seen_to_) {
        Remember(above, to, kNone);
        return kNone;
      }
      seen_to_ = to;  // no feed in the new bytes: what was seen before answers
    } else if (to <= seen_from_) {
      const int64_t feed = LookAt(file, from, to);
      if (feed != kUnreadable)
        Remember(feed >= 0 ? feed : from, to, feed);
      return feed;
    }
    // seen_from_ < to <= seen_to_: the seen bytes below `to` hold no feed but perhaps the first.
    if (last_feed_ >= 0)
      return last_feed_ >= from ? last_feed_ : kNone;
    if (seen_from_ <= from)
      return kNone;
    const int64_t feed = LookAt(file, from, seen_from_);
    if (feed != kUnreadable)
      Remember(feed >= 0 ? feed : from, seen_to_, feed);
    return feed;
  }

  void Remember(int64_t from, int64_t to, int64_t last_feed) {
    seen_from_ = from;
    seen_to_ = to;
    last_feed_ = last_feed;
  }

  // The last line feed in bytes [from, to), looking from the top down: first at what the block
  // buffer holds, then in small reads.
  int64_t LookAt(ConditionFile& file, int64_t from, int64_t to) {
    constexpr int64_t kPiece = 64 * 1024;
    constexpr int64_t kNear = 16;
    while (to > from) {
      std::span<const uint8_t> bytes = file.BufferedUpTo(to, to - from);
      if (bytes.empty()) {
        const int64_t n = std::min(kPiece, to - from);
        bytes = file.Peek(to - n, n);
        if (bytes.empty())
          return kUnreadable;
      }
      const auto n = static_cast<int64_t>(bytes.size());
      // A hit at or near the start of its line has its feed a few bytes back: a plain look at
      // them spares the scanner its set-up, which is most of a column's cost then.
      const int64_t near = std::min<int64_t>(n, kNear);
      for (int64_t k = 1; k <= near; ++k) {
        if (bytes[static_cast<size_t>(n - k)] == '\n')
          return to - k;
      }
      const int64_t at = feed_.FindLast(bytes.first(static_cast<size_t>(n - near)));
      if (at >= 0)
        return to - n + at;
      to -= n;
    }
    return kNone;
  }

  const Needle& feed_;
  int64_t limit_;
  // Bytes [seen_from_, seen_to_) have been looked at. None of them is a line feed, except perhaps
  // the first: last_feed_ is seen_from_ when it is one, else kNone.
  int64_t seen_from_ = 0;
  int64_t seen_to_ = 0;
  int64_t last_feed_ = kNone;
};

std::optional<Needle> FeedNeedle() noexcept {
  return MakeNeedle("\n", false, AsciiCaseMap());
}

}  // namespace

int64_t SearchForward(SearchEnv& env,
                      ConditionFile& file,
                      std::string_view text,
                      bool case_folding,
                      int64_t start,
                      int64_t end_limit) noexcept {
  if (text.empty())
    return kRangeUnusable;
  const std::optional<int64_t> size = file.Size();
  if (!size)
    return kReadFailed;
  const std::optional<Needle> needle = MakeNeedle(text, case_folding, env.case_map);
  if (!needle)
    return kReadFailed;
  return TextScan(env, file, *needle, *size).Forward(start, end_limit);
}

int64_t SearchBackward(SearchEnv& env,
                       ConditionFile& file,
                       std::string_view text,
                       bool case_folding,
                       int64_t& start,
                       int64_t low_limit) noexcept {
  const std::optional<int64_t> size = file.Size();
  if (!size)
    return kReadFailed;
  if (start == -1)
    start = *size;
  if (text.empty())
    return kRangeUnusable;
  const std::optional<Needle> needle = MakeNeedle(text, case_folding, env.case_map);
  if (!needle)
    return kReadFailed;
  return TextScan(env, file, *needle, *size).Backward(start, low_limit);
}

int64_t FindOccurrence(SearchEnv& env, ConditionFile& file, const OccurrenceQuery& query) noexcept {
  if (query.text.empty())
    return kRangeUnusable;
  const std::optional<int64_t> size = file.Size();
  if (!size)
    return kReadFailed;
  const std::optional<Needle> needle = MakeNeedle(query.text, query.case_folding, env.case_map);
  const std::optional<Needle> feed = FeedNeedle();
  if (!needle || !feed)
    return kReadFailed;
  TextScan scan(env, file, *needle, *size);
  LineStarts lines(*feed, query.line_limit);
  int64_t counted = 0;
  int64_t position = query.start != 0 ? query.start : (query.forward ? 1 : -1);
  for (;;) {
    int64_t hit;
    if (query.forward) {
      hit = scan.Forward(position, query.quantity > 0 ? position + query.quantity : 0);
    } else {
      const int64_t low_limit = query.quantity > 0 ? position - query.quantity - 1 : 0;
      hit = scan.Backward(position == -1 ? *size : position, low_limit);
    }
    if (hit < 1)
      return hit;
    if (query.column <= 0 || lines.Column(file, hit) == query.column) {
      if (++counted >= query.count)
        return hit;
    }
    position = query.forward ? hit + 1 : hit - 1;
  }
}

int64_t ColumnOf(ConditionFile& file, int64_t position, int64_t line_limit) noexcept {
  const std::optional<Needle> feed = FeedNeedle();
  if (!feed)
    return 0;
  return LineStarts(*feed, line_limit).Column(file, position);
}

}  // namespace x5::conditions
