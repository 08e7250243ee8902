// Differential fuzzing of the chunked file searches: the block-reading searches, single or a run of
// them for the N-th occurrence in a column, must give the same result and ask the pacer for exactly
// the same chunks as plain chunk-by-chunk searches, for any data, text, buffer and read sizes,
// window, folding, short reads, buffered leftovers and kills.
#include <fuzzer/FuzzedDataProvider.h>

#include <memory>

#include "conditions/file_search.h"
#include "conditions/testing/memory_files.h"
#include "fuzz_check.h"

using x5::fuzz::Check;

using namespace x5::conditions;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const int64_t buffer = in.ConsumeIntegralInRange<int64_t>(1, 64);
  const int64_t first_read = in.ConsumeIntegralInRange<int64_t>(1, 256);
  const int64_t largest_read = in.ConsumeIntegralInRange<int64_t>(1, 1024);
  const bool fold = in.ConsumeBool();
  const bool forward = in.ConsumeBool();
  const bool occurrences = in.ConsumeBool();
  const int64_t preload_from = in.ConsumeBool() ? in.ConsumeIntegral<uint8_t>() : -1;
  const int64_t stop_at = in.ConsumeBool() ? in.ConsumeIntegralInRange<int64_t>(0, 31) : -1;
  const int64_t max_per_read = in.ConsumeBool() ? in.ConsumeIntegralInRange<int64_t>(1, 16) : 0;
  const int64_t start = in.ConsumeIntegralInRange<int64_t>(forward ? 0 : -2, 765);
  const int64_t limit = in.ConsumeBool() ? in.ConsumeIntegralInRange<int64_t>(0, 765) : 0;
  x5::conditions::OccurrenceQuery query;
  query.forward = forward;
  query.case_folding = fold;
  query.start = start < 0 ? 0 : start;
  query.quantity = limit;
  if (occurrences) {
    query.count = in.ConsumeIntegralInRange<int64_t>(1, 64);
    query.column = in.ConsumeIntegralInRange<int64_t>(0, 7);
    query.line_limit = in.ConsumeIntegralInRange<int64_t>(0, 9);
  }
  const std::string text = in.ConsumeRandomLengthString(80);
  const std::string file = in.ConsumeRemainingBytesAsString();
  if (text.empty())
    return 0;
  query.text = text;
  const x5::conditions::CaseMap map = x5::conditions::AsciiCaseMap();

  x5::conditions::testing::RecordingPacer expected_pacer;
  expected_pacer.stop_at = stop_at;
  int64_t expected_start = start;
  int64_t expected;
  if (occurrences)
    expected =
        x5::conditions::testing::ReferenceFindOccurrence(file, query, map, buffer, expected_pacer);
  else if (forward)
    expected = x5::conditions::testing::ReferenceSearchForward(file, text, fold, map, buffer, start,
                                                               limit, expected_pacer);
  else
    expected = x5::conditions::testing::ReferenceSearchBackward(
        file, text, fold, map, buffer, expected_start, limit, expected_pacer);

  x5::conditions::testing::RecordingPacer pacer;
  pacer.stop_at = stop_at;
  x5::conditions::SearchEnv env{pacer, static_cast<int32_t>(buffer), map, first_read, largest_read};
  auto reader = std::make_unique<x5::conditions::testing::MemoryReader>(
      std::make_shared<const std::string>(file));
  reader->max_per_read = max_per_read;
  x5::conditions::ConditionFile condition_file(std::move(reader));
  const auto file_size = static_cast<int64_t>(file.size());
  if (preload_from >= 0 && file_size > 0)
    (void)condition_file.Block(preload_from % file_size, file_size - preload_from % file_size);
  int64_t actual_start = start;
  int64_t actual;
  if (occurrences)
    actual = x5::conditions::FindOccurrence(env, condition_file, query);
  else if (forward)
    actual = x5::conditions::SearchForward(env, condition_file, text, fold, start, limit);
  else
    actual = x5::conditions::SearchBackward(env, condition_file, text, fold, actual_start, limit);
  Check(actual == expected && pacer.chunks == expected_pacer.chunks &&
        actual_start == expected_start);
  Check(actual <= 0 || x5::conditions::ColumnOf(condition_file, actual, buffer) >= 0);
  return 0;
}
