// Searching a rule file for a text, forward or backward, in paced chunks of the task's file buffer
// size; for the N-th occurrence in a given column; and the column of a byte within its text line.
#pragma once

#include <cstdint>
#include <string_view>

#include "conditions/case_map.h"
#include "conditions/condition_file.h"

namespace x5::conditions {

// Search results besides a 1-based position.
inline constexpr int64_t kNotFound = 0;
inline constexpr int64_t kRangeUnusable = -1;
inline constexpr int64_t kReadFailed = -2;
inline constexpr int64_t kSearchKilled = -9;

// Default sizes of one read call. Reads grow from the first size to the largest while a search
// goes on, so a text near the start is found with a small read and long scans make few calls.
inline constexpr int64_t kFirstReadBytes = 64 * 1024;
inline constexpr int64_t kLargestReadBytes = 1024 * 1024;

struct SearchEnv {
  Pacer& pacer;
  int32_t buffer_size = 4096;  // the chunk: the unit of pacing and accounting
  const CaseMap& case_map;
  int64_t first_read_bytes = kFirstReadBytes;
  int64_t largest_read_bytes = kLargestReadBytes;
};

// The chunk length used for a text: the buffer size, so chunks move on by the buffer size - the
// text length + 1. A text longer than the buffer would never move on in chunks of the buffer size;
// for it the chunk is the text plus half a buffer (less one byte), so chunks move on by half a
// buffer.
[[nodiscard]] int64_t ChunkLengthFor(int64_t buffer_size, int64_t text_length) noexcept;

// First occurrence of `text` that lies wholly in positions start .. last, where last is the file's
// length or end_limit when that is not 0 and smaller. Before every chunk the pacer is asked, with
// the chunk's byte count; chunks overlap by the text length - 1 so a text across a border is found.
// Returns the 1-based position, kNotFound, kRangeUnusable (the range cannot hold the text),
// kReadFailed, or kSearchKilled (the pacer answered stop; no later chunk counts).
[[nodiscard]] int64_t SearchForward(SearchEnv& env,
                                    ConditionFile& file,
                                    std::string_view text,
                                    bool case_folding,
                                    int64_t start,
                                    int64_t end_limit) noexcept;

// Last occurrence that lies wholly in positions low .. start (low is low_limit when it is 2 or
// more, else 1). A start of -1 means the file's end and is replaced by the file's length; a start
// beyond the end is taken as the end. Results as SearchForward.
[[nodiscard]] int64_t SearchBackward(SearchEnv& env,
                                     ConditionFile& file,
                                     std::string_view text,
                                     bool case_folding,
                                     int64_t& start,
                                     int64_t low_limit) noexcept;

// What a rule asks of its search text.
struct OccurrenceQuery {
  std::string_view text;
  bool case_folding = true;
  bool forward = true;
  int64_t start = 0;         // 1-based; 0: the start of the file (forward) or its end (backward)
  int64_t quantity = 0;      // the window of each search, see FindOccurrence; 0: none
  int64_t count = 1;         // which counted occurrence is wanted
  int64_t column = 0;        // above 0: only occurrences at this column of their line count
  int64_t line_limit = 256;  // as ColumnOf
};

// The count-th occurrence of the text that lies in the column. Gives what searching again from each
// hit gives: forward SearchForward from position, position + 1 after each hit, with the end limit
// position + quantity; backward SearchBackward from position, hit - 1 after each hit, with the low
// limit position - quantity - 1 (the first computed from -1 when no start is given); a hit counts
// when the column is 0 or ColumnOf the hit equals it. Each of those searches asks the pacer for
// exactly its own chunks. But the file's length is read and the text prepared once, the scan goes
// on from a hit inside the bytes already read, and line starts are remembered as the hits go, so
// a million hits cost little more than one scan of the file. Returns the position, or the
// outcome of the search that ended the run (kNotFound, kRangeUnusable, kReadFailed,
// kSearchKilled).
[[nodiscard]] int64_t FindOccurrence(SearchEnv& env,
                                     ConditionFile& file,
                                     const OccurrenceQuery& query) noexcept;

// The 1-based column of the byte at `position` within its text line, looking back at most
// `line_limit` bytes for the line feed before it (256 when not above 0); when no line feed is
// there, the position itself if the look-back reached the start of the file, else 0. 0 also when
// the bytes cannot be read.
[[nodiscard]] int64_t ColumnOf(ConditionFile& file, int64_t position, int64_t line_limit) noexcept;

}  // namespace x5::conditions
