// Tests of the chunked file searches: agreement with the chunk-by-chunk reference (results and
// every pacer call) across read borders, pacing (also of a text longer than the buffer), huge
// files, kills, read failures, ColumnOf. (How much a search reads is the search benchmark's.)
#include "conditions/file_search.h"

#include <gtest/gtest.h>

#include "conditions/testing/memory_files.h"

namespace x5::conditions {
namespace {

ConditionFile MemoryFileOf(const std::string& content,
                           conditions::testing::MemoryReader** reader = nullptr) {
  auto r = std::make_unique<conditions::testing::MemoryReader>(
      std::make_shared<const std::string>(content));
  if (reader)
    *reader = r.get();
  return ConditionFile(std::move(r));
}

struct Searcher {
  conditions::testing::RecordingPacer pacer;
  CaseMap map = AsciiCaseMap();
  SearchEnv env{pacer, 4096, map};
};

// Reads of a few bytes put the text across a read border at every offset, found forward and
// backward, asking the pacer for the chunks a chunk-by-chunk search asks for. (Random inputs, and
// runs of hits in a column, are the differential fuzz target's; the rules' tests count hits.)
TEST(FileSearchTest, AgreesWithTheChunkByChunkReferenceAcrossReadBorders) {
  const CaseMap map = AsciiCaseMap();
  for (int64_t at = 0; at <= 37; ++at) {
    std::string data(40, '.');
    data.replace(static_cast<size_t>(at), 3, "aBc");
    conditions::testing::RecordingPacer pacer, expected;
    SearchEnv env{pacer, 5, map, 4, 8};
    ConditionFile file = MemoryFileOf(data);
    int64_t start = -1, expected_start = -1;
    EXPECT_EQ(SearchForward(env, file, "abc", true, 1, 0), at + 1);
    EXPECT_EQ(SearchBackward(env, file, "abc", true, start, 0), at + 1);
    conditions::testing::ReferenceSearchForward(data, "abc", true, map, 5, 1, 0, expected);
    conditions::testing::ReferenceSearchBackward(data, "abc", true, map, 5, expected_start, 0,
                                                 expected);
    EXPECT_EQ(pacer.chunks, expected.chunks) << at;
  }
}

TEST(FileSearchTest, PacesInChunksOfTheBufferSize) {
  // Chunks of 8 bytes move on by 8 - length + 1 (forward, the last full chunk ending at the end is
  // followed by a short final one); only a text longer than the buffer gets longer chunks.
  // Forward: forward_full chunks, then one of forward_final bytes; backward: backward_full
  // chunks, the last one starting at byte 1.
  struct Case {
    size_t length;
    int64_t chunk;
    size_t forward_full;
    int64_t forward_final;
    size_t backward_full;
  };
  const Case cases[] = {{3, 8, 3, 2, 3}, {8, 8, 13, 7, 13}, {9, 12, 3, 8, 3}};
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
  // The text lies in chunk 12 (4093-byte steps): a stop at 12 or before wins.
  for (int64_t stop_at : {0, 12, 13}) {
    Searcher s;
    s.pacer.stop_at = stop_at;
    ConditionFile file = MemoryFileOf(data);
    EXPECT_EQ(SearchForward(s.env, file, "STOP", false, 1, 0),
              stop_at <= 12 ? kSearchKilled : 50001);
    EXPECT_EQ(static_cast<int64_t>(s.pacer.chunks.size()), std::min<int64_t>(stop_at + 1, 13));
  }
}

TEST(FileSearchTest, UnusableRangesAndTinyFiles) {
  Searcher s;
  struct Case {
    std::string data, text;
    int64_t start, limit, forward, backward;
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

TEST(FileSearchTest, ReadFailureIsReported) {
  Searcher s;
  conditions::testing::MemoryReader* reader = nullptr;
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
  auto reader = std::make_unique<conditions::testing::PatternReader>(size, '-', "MARK", at);
  conditions::testing::PatternReader* raw = reader.get();
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
    int64_t position, limit, column;
  };
  const Case cases[] = {
      {0, 256, 0}, {1, 256, 1},  {4, 256, 4}, {5, 256, 1}, {12, 256, 1}, {15, 256, 4},  // 4: the LF
      {9, 5, 5},   {9, 4, 0},     // the line start lies beyond the look-back
      {3, 2, 3},   {99, 256, 0},  // the look-back reaches the file start; beyond the end
  };
  for (const Case& c : cases)
    EXPECT_EQ(ColumnOf(file, c.position, c.limit), c.column) << c.position << " " << c.limit;
  // A feed just below a hit is looked for byte by byte, one further back by the scanner.
  ConditionFile long_line = MemoryFileOf("\n" + std::string(70, 'a'));
  for (const int64_t position : {2, 16, 17, 18, 19, 40, 71})
    EXPECT_EQ(ColumnOf(long_line, position, 256), position - 1) << position;
}

}  // namespace
}  // namespace x5::conditions
