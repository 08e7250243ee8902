// Differential fuzzing of the chunked file searches: the block-reading searches, single or a run of
// them for the N-th occurrence in a column, must give the same result and ask the pacer for exactly
// the same chunks as plain chunk-by-chunk searches, for any data, text, buffer and read sizes,
// window, folding, short reads, buffered leftovers and kills.
#include <cstdint>
#include <memory>
#include <string>

#include "conditions/file_search.h"
#include "conditions/memory_files.h"
#include "fuzz_check.h"

using x5::fuzz::Check;

using namespace x5::IskanjePlus;

namespace {

struct Input {
  const uint8_t* p;
  size_t n;
  uint8_t Byte() {
    if (n == 0)
      return 0;
    --n;
    return *p++;
  }
  std::string Rest() { return std::string(reinterpret_cast<const char*>(p), n); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in{data, size};
  const int64_t buffer = 1 + in.Byte() % 64;
  const int64_t first_read = 1 + in.Byte();
  const int64_t largest_read = 1 + in.Byte() * 4;
  const uint8_t mode = in.Byte();
  const bool fold = mode & 1;
  const bool forward = mode & 2;
  const bool preload = mode & 4;
  const int64_t stop_at = (mode & 8) ? in.Byte() % 32 : -1;
  const int64_t max_per_read = (mode & 16) ? 1 + in.Byte() % 16 : 0;
  const int64_t start = static_cast<int64_t>(in.Byte()) * 3 - (forward ? 0 : 2);
  const int64_t limit = (mode & 32) ? static_cast<int64_t>(in.Byte()) * 3 : 0;
  const bool occurrences = mode & 64;
  OccurrenceQuery query;
  query.forward = forward;
  query.case_folding = fold;
  query.start = start < 0 ? 0 : start;
  query.quantity = limit;
  if (occurrences) {
    query.count = 1 + in.Byte() % 64;
    query.column = in.Byte() % 8;
    query.line_limit = in.Byte() % 10;
  }
  const size_t text_length = 1 + in.Byte() % 80;
  const std::string rest = in.Rest();
  if (rest.size() < text_length)
    return 0;
  const std::string text = rest.substr(0, text_length);
  const std::string file = rest.substr(text_length);
  query.text = text;
  const x5::CaseMap map = x5::AsciiCaseMap();

  RecordingPacer expected_pacer;
  expected_pacer.stop_at = stop_at;
  int64_t expected_start = start;
  int64_t expected;
  if (occurrences)
    expected = ReferenceFindOccurrence(file, query, map, buffer, expected_pacer);
  else if (forward)
    expected = ReferenceSearchForward(file, text, fold, map, buffer, start, limit, expected_pacer);
  else
    expected = ReferenceSearchBackward(file, text, fold, map, buffer, expected_start, limit,
                                       expected_pacer);

  RecordingPacer pacer;
  pacer.stop_at = stop_at;
  SearchEnv env{pacer, static_cast<int32_t>(buffer), map, first_read, largest_read};
  auto reader = std::make_unique<MemoryReader>(std::make_shared<const std::string>(file));
  reader->max_per_read = max_per_read;
  ConditionFile condition_file(std::move(reader));
  if (preload && !file.empty()) {
    const int64_t at = static_cast<int64_t>(mode) % static_cast<int64_t>(file.size());
    (void)condition_file.Block(at, static_cast<int64_t>(file.size()) - at);
  }
  int64_t actual_start = start;
  int64_t actual;
  if (occurrences)
    actual = FindOccurrence(env, condition_file, query);
  else if (forward)
    actual = SearchForward(env, condition_file, text, fold, start, limit);
  else
    actual = SearchBackward(env, condition_file, text, fold, actual_start, limit);
  Check(actual == expected && pacer.chunks == expected_pacer.chunks &&
        actual_start == expected_start);
  Check(actual <= 0 || ColumnOf(condition_file, actual, buffer) >= 0);
  return 0;
}
