// Tests of the chunked file searches: agreement with the chunk-by-chunk reference (results and
// every pacer call), borders, long texts, huge files, kills, read failures, and ColumnOf.
#include "conditions/file_search.h"

#include <gtest/gtest.h>

#include <random>

#include "conditions/memory_files.h"

namespace x5::IskanjePlus {
namespace {

ConditionFile MemoryFileOf(const std::string& content, MemoryReader** reader = nullptr) {
  auto r = std::make_unique<MemoryReader>(std::make_shared<const std::string>(content));
  if (reader)
    *reader = r.get();
  return ConditionFile(std::move(r));
}

struct Searcher {
  RecordingPacer pacer;
  CaseMap map = AsciiCaseMap();
  SearchEnv env{pacer, 4096, map};
};

// One search, and a run of searches for the N-th occurrence in a column, against separate
// chunk-by-chunk reference searches: the same results and the same pacer calls, chunk for chunk.
TEST(FileSearchTest, MatchesChunkByChunkReferenceOnRandomInputs) {
  std::mt19937_64 rng(20240517);
  const CaseMap map = AsciiCaseMap();
  auto pick = [&](int64_t lo, int64_t hi) {
    return std::uniform_int_distribution<int64_t>(lo, hi)(rng);
  };
  for (int round = 0; round < 4000; ++round) {
    const std::string alphabet = round % 3 == 0 ? "ab" : "aAbB\n";
    std::string data(static_cast<size_t>(pick(0, 300)), 'a');
    for (char& c : data)
      c = alphabet[static_cast<size_t>(pick(0, static_cast<int64_t>(alphabet.size()) - 1))];
    std::string text(static_cast<size_t>(pick(1, round % 10 == 0 ? 40 : 5)), 'a');
    for (char& c : text)
      c = alphabet[static_cast<size_t>(pick(0, static_cast<int64_t>(alphabet.size()) - 1))];
    const bool fold = pick(0, 1) == 1;
    const int64_t buffer = pick(1, 24);
    const int64_t stop_at = pick(0, 3) == 0 ? pick(0, 12) : -1;
    const auto size = static_cast<int64_t>(data.size());
    const bool forward = pick(0, 1) == 1;
    const int64_t start = forward ? pick(0, size + 2) : pick(-1, size + 3);
    const int64_t limit = pick(0, 2) == 0 ? 0 : pick(0, size + 2);
    const int64_t first_read = pick(1, 64);
    const int64_t largest_read = pick(1, 128);
    const int64_t max_per_read = pick(0, 3) == 0 ? pick(1, 7) : 0;
    const int64_t preload_at = size > 0 && pick(0, 1) == 1 ? pick(0, size - 1) : -1;
    const int64_t preload_length = preload_at >= 0 ? pick(1, size - preload_at) : 0;
    SCOPED_TRACE(testing::Message() << "round " << round << " data=" << data << " text=" << text
                                    << " fold=" << fold << " buffer=" << buffer << " forward="
                                    << forward << " start=" << start << " limit=" << limit);
    auto open = [&] {
      auto reader = std::make_unique<MemoryReader>(std::make_shared<const std::string>(data));
      reader->max_per_read = max_per_read;
      ConditionFile file(std::move(reader));
      // Something already buffered, as after an earlier search of the same rule.
      if (preload_at >= 0)
        EXPECT_FALSE(file.Block(preload_at, preload_length).empty());
      return file;
    };

    RecordingPacer expected_pacer;
    expected_pacer.stop_at = stop_at;
    int64_t expected_start = start;
    const int64_t expected =
        forward
            ? ReferenceSearchForward(data, text, fold, map, buffer, start, limit, expected_pacer)
            : ReferenceSearchBackward(data, text, fold, map, buffer, expected_start, limit,
                                      expected_pacer);
    RecordingPacer pacer;
    pacer.stop_at = stop_at;
    SearchEnv env{pacer, static_cast<int32_t>(buffer), map, first_read, largest_read};
    ConditionFile file = open();
    int64_t actual_start = start;
    const int64_t actual = forward ? SearchForward(env, file, text, fold, start, limit)
                                   : SearchBackward(env, file, text, fold, actual_start, limit);
    ASSERT_EQ(actual, expected);
    ASSERT_EQ(pacer.chunks, expected_pacer.chunks);
    ASSERT_EQ(actual_start, expected_start);

    // Runs of searches both ways, mostly asking for columns within a short look-back, so hits
    // are many and line starts are told from what was seen before.
    for (const bool occurrence_forward : {true, false, true, false}) {
      OccurrenceQuery query;
      query.text = text;
      query.case_folding = fold;
      query.forward = occurrence_forward;
      query.start = pick(0, 1) == 0 ? 0 : pick(1, size + 2);
      query.quantity = pick(0, 2) == 0 ? pick(1, 40) : 0;
      query.count = pick(0, 1) == 0 ? pick(1, 60) : pick(1, 4);
      query.column = pick(0, 3) == 0 ? 0 : pick(1, 6);
      query.line_limit = pick(0, 5) == 0 ? 0 : pick(1, 8);
      SCOPED_TRACE(testing::Message()
                   << "occurrence forward=" << query.forward << " start=" << query.start
                   << " quantity=" << query.quantity << " count=" << query.count
                   << " column=" << query.column << " line limit=" << query.line_limit);
      expected_pacer.chunks.clear();
      const int64_t expected_occurrence =
          ReferenceFindOccurrence(data, query, map, buffer, expected_pacer);
      pacer.chunks.clear();
      ConditionFile occurrence_file = open();
      ASSERT_EQ(FindOccurrence(env, occurrence_file, query), expected_occurrence);
      ASSERT_EQ(pacer.chunks, expected_pacer.chunks);
    }
  }
}

TEST(FileSearchTest, FindsTextAcrossChunkBordersBothWays) {
  // 4096-byte chunks overlap by the text length - 1: place the text across each border.
  for (int64_t border : {4096, 4096 + 4093, 2 * 4093 + 4096}) {
    for (int64_t shift = -5; shift <= 1; ++shift) {
      std::string data(20000, '.');
      const int64_t at = border + shift;
      data.replace(static_cast<size_t>(at), 6, "NEEDLE");
      Searcher s;
      ConditionFile file = MemoryFileOf(data);
      EXPECT_EQ(SearchForward(s.env, file, "NEEDLE", false, 1, 0), at + 1);
      int64_t start = -1;
      EXPECT_EQ(SearchBackward(s.env, file, "NEEDLE", false, start, 0), at + 1);
      EXPECT_EQ(start, 20000);
    }
  }
}

TEST(FileSearchTest, PacesInChunksOfTheBufferSize) {
  // Chunks of 8 bytes move on by 8 - length + 1 (forward, the last full chunk ending at the end is
  // followed by a short final one); only a text longer than the buffer gets longer chunks.
  struct Case {
    size_t length;
    int64_t chunk;
    size_t forward_full;  // forward: full chunks, then one final chunk of forward_final bytes
    int64_t forward_final;
    size_t backward_full;  // backward: full chunks only, the last one starting at byte 1
  };
  const Case cases[] = {
      {3, 8, 3, 2, 3},
      {6, 8, 5, 5, 5},
      {8, 8, 13, 7, 13},
      {9, 12, 3, 8, 3},
  };
  for (const Case& c : cases) {
    Searcher s;
    s.env.buffer_size = 8;
    ConditionFile file = MemoryFileOf(std::string(20, '.'));
    const std::string text(c.length, 'x');
    std::vector<int64_t> expected(c.forward_full, c.chunk);
    expected.push_back(c.forward_final);
    EXPECT_EQ(SearchForward(s.env, file, text, false, 1, 0), kNotFound);
    EXPECT_EQ(s.pacer.chunks, expected) << c.length;
    s.pacer.chunks.clear();
    int64_t start = -1;
    EXPECT_EQ(SearchBackward(s.env, file, text, false, start, 0), kNotFound);
    EXPECT_EQ(s.pacer.chunks, std::vector<int64_t>(c.backward_full, c.chunk)) << c.length;
  }
}

TEST(FileSearchTest, KillStopsBeforeTheNextChunkAndHidesLaterHits) {
  std::string data(100000, 'x');
  data.replace(50000, 4, "STOP");
  for (int64_t stop_at : {0, 3, 11, 12}) {
    Searcher s;
    s.pacer.stop_at = stop_at;
    ConditionFile file = MemoryFileOf(data);
    // The text lies in chunk 12 (4093-byte steps): a stop at 12 or before wins.
    EXPECT_EQ(SearchForward(s.env, file, "STOP", false, 1, 0), kSearchKilled) << stop_at;
    EXPECT_EQ(static_cast<int64_t>(s.pacer.chunks.size()), stop_at + 1);
  }
  Searcher s;
  s.pacer.stop_at = 13;
  ConditionFile file = MemoryFileOf(data);
  EXPECT_EQ(SearchForward(s.env, file, "STOP", false, 1, 0), 50001);
}

TEST(FileSearchTest, UnusableRangesAndTinyFiles) {
  Searcher s;
  struct Case {
    std::string data;
    std::string text;
    int64_t start;
    int64_t limit;
    int64_t forward;
    int64_t backward;
  };
  const Case cases[] = {
      {"", "A", 1, 0, kRangeUnusable, kRangeUnusable},
      {"A", "A", 1, 0, 1, 1},
      {"A", "AB", 1, 0, kRangeUnusable, kRangeUnusable},
      {"AB", "B", 2, 0, 2, 2},
      {"AB", "A", 3, 0, kRangeUnusable, 1},  // backward from beyond the end: from the end
      {"ABAB", "AB", 0, 0, kRangeUnusable, kRangeUnusable},
      {"ABAB", "AB", 2, 3, kNotFound, kRangeUnusable},  // window 2..3 / 3..2
      {"ABAB", "", 1, 0, kRangeUnusable, kRangeUnusable},
  };
  for (const Case& c : cases) {
    ConditionFile file = MemoryFileOf(c.data);
    EXPECT_EQ(SearchForward(s.env, file, c.text, false, c.start, c.limit), c.forward) << c.data;
    int64_t start = c.start;
    EXPECT_EQ(SearchBackward(s.env, file, c.text, false, start, c.limit), c.backward) << c.data;
  }
}

TEST(FileSearchTest, TextLongerThanTheBufferIsFoundAndEnds) {
  std::string text(6000, 'q');
  text[2999] = 'Z';
  std::string data(50000, 'q');
  data.replace(40000, text.size(), text);
  Searcher s;
  ConditionFile file = MemoryFileOf(data);
  const int64_t first = SearchForward(s.env, file, text, false, 1, 0);
  EXPECT_EQ(first, 40001);
  // Chunks move on by at least half a buffer, so the chunk count stays proportional to the size.
  EXPECT_LE(s.pacer.chunks.size(), 50000u / 2048 + 2);
  int64_t start = -1;
  EXPECT_EQ(SearchBackward(s.env, file, text, false, start, 0), 40001);
  EXPECT_EQ(SearchForward(s.env, file, std::string(6000, 'Z'), false, 1, 0), kNotFound);
}

TEST(FileSearchTest, ReadFailureIsReported) {
  Searcher s;
  MemoryReader* reader = nullptr;
  ConditionFile file = MemoryFileOf(std::string(300000, 'x'), &reader);
  reader->fail_from = 200000;
  EXPECT_EQ(SearchForward(s.env, file, "y", false, 1, 0), kReadFailed);
  int64_t start = -1;
  EXPECT_EQ(SearchBackward(s.env, file, "y", false, start, 0), kReadFailed);
  // Within the readable part the search still works.
  EXPECT_EQ(SearchForward(s.env, file, "y", false, 1, 100000), kNotFound);
}

TEST(FileSearchTest, FilesBeyondFourGigabytes) {
  const int64_t size = (int64_t{5} << 30) + 123;
  const int64_t at = size - 1000;
  auto reader = std::make_unique<PatternReader>(size, '-', "MARK", at);
  PatternReader* raw = reader.get();
  ConditionFile file(std::move(reader));
  Searcher s;
  int64_t start = -1;
  EXPECT_EQ(SearchBackward(s.env, file, "MARK", false, start, 0), at + 1);
  EXPECT_EQ(start, size);
  EXPECT_LE(raw->bytes_read, kFirstReadBytes);
  // A forward window far into the file.
  EXPECT_EQ(SearchForward(s.env, file, "mark", true, at - 5000, at + 5000), at + 1);
  EXPECT_EQ(ColumnOf(file, at + 1, 256), 0);
}

TEST(FileSearchTest, ColumnOfLooksBackForTheLineStart) {
  ConditionFile file = MemoryFileOf("abc\ndefgh\n\nxyz");
  struct Case {
    int64_t position;
    int64_t limit;
    int64_t column;
  };
  const Case cases[] = {
      {0, 256, 0}, {-4, 256, 0}, {1, 256, 1},  {3, 256, 3},  {4, 256, 4},  // LF itself is col 4
      {5, 256, 1}, {9, 256, 5},  {11, 256, 1}, {12, 256, 1}, {15, 256, 4},
      {9, 5, 5},   {9, 4, 0},                   // the line start lies beyond the look-back
      {3, 2, 3},                                // the look-back reaches the start of the file
      {4, 3, 4},   {5, 3, 1},    {99, 256, 0},  // beyond the end: cannot be told
  };
  for (const Case& c : cases)
    EXPECT_EQ(ColumnOf(file, c.position, c.limit), c.column) << c.position << " " << c.limit;
}

TEST(FileSearchTest, ARunOfHitsReadsTheFileOnce) {
  std::string data;
  for (int i = 0; i < 20000; ++i)
    data += "ERR line " + std::to_string(i) + "\n";
  for (bool forward : {true, false}) {
    MemoryReader* reader = nullptr;
    ConditionFile file = MemoryFileOf(data, &reader);
    Searcher s;
    OccurrenceQuery query;
    query.text = "ERR";
    query.forward = forward;
    query.count = 2;
    query.column = 2;  // never: every one of the 20000 hits is looked at
    // Forward the last search finds nothing; backward none is left to do after the first byte.
    EXPECT_EQ(FindOccurrence(s.env, file, query), forward ? kNotFound : kRangeUnusable);
    EXPECT_EQ(s.pacer.chunks.size(), forward ? 20001u : 20000u);  // one chunk per search
    EXPECT_EQ(reader->size_calls, 1);
    EXPECT_LE(reader->bytes_read, static_cast<int64_t>(data.size()) + 4096) << forward;
  }
}

}  // namespace
}  // namespace x5::IskanjePlus
