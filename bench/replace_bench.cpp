// Times the replace switches' work on a 5,000,000-byte file with 10,000 occurrences: the in-memory
// transform (exact and without regard to case) and the whole edit as the runner does it (read,
// replace, save through a temporary file). Usage: replace_bench [FILE FIND REPLACEMENT [RUNS]]
// With a FILE the whole edit rewrites that file in place, as `sed -i` would.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "commands/case_fold.h"
#include "commands/command_context.h"
#include "commands/file_access.h"
#include "commands/replace_in_file.h"
#include "commands/replace_text.h"

namespace {

constexpr size_t kFileSize = 5'000'000;
constexpr size_t kOccurrences = 10'000;

// Log-like lines, with the find text placed every kFileSize / kOccurrences bytes.
std::string MakeText(const std::string& find) {
  const std::string line = "2024-05-01 12:00:00 INFO worker 17 processed batch item ok\r\n";
  std::string text;
  text.reserve(kFileSize);
  const size_t every = kFileSize / kOccurrences;
  while (text.size() < kFileSize) {
    const size_t room = std::min(every - find.size(), kFileSize - text.size());
    for (size_t filled = 0; filled < room;) {
      const size_t piece = std::min(line.size(), room - filled);
      text.append(line, 0, piece);
      filled += piece;
    }
    if (text.size() + find.size() <= kFileSize) {
      text += find;
    }
  }
  text.resize(kFileSize);
  return text;
}

template <typename Work>
double MedianMilliseconds(int runs, Work work) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    work();
    times.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const std::string find = argc > 2 ? argv[2] : "NEEDLE42";
  const std::string replacement = argc > 3 ? argv[3] : "REPLACED-TEXT";
  const int runs = argc > 4 ? std::max(1, std::atoi(argv[4])) : 15;
  auto files = x5::commands::MakeSystemFileAccess();

  std::string text;
  if (argc > 1) {
    if (files->ReadWhole(argv[1], x5::commands::kMaxEditFileBytes, text).state !=
        x5::commands::ReadOutcome::State::kRead) {
      std::fprintf(stderr, "cannot read %s (at most %lld bytes)\n", argv[1],
                   static_cast<long long>(x5::commands::kMaxEditFileBytes));
      return 1;
    }
  } else {
    text = MakeText(find);
  }

  const x5::commands::CaseFold fold;
  std::string out;
  size_t occurrences = 0;
  for (size_t at = text.find(find); at != std::string::npos;
       at = text.find(find, at + find.size())) {
    ++occurrences;
  }
  const double exact = MedianMilliseconds(runs, [&] {
    (void)x5::commands::ReplaceAll(text, find, replacement, nullptr,
                                   x5::commands::kMaxEditBufferBytes, out);
  });
  const double folded = MedianMilliseconds(runs, [&] {
    (void)x5::commands::ReplaceAll(text, find, replacement, &fold,
                                   x5::commands::kMaxEditBufferBytes, out);
  });
  std::printf("input: %zu bytes, %zu occurrences of \"%s\" -> \"%s\", median of %d runs\n",
              text.size(), occurrences, find.c_str(), replacement.c_str(), runs);
  std::printf("in memory, exact (/X5L)         %8.2f ms  %7.2f GB/s\n", exact,
              text.size() / exact / 1e6);
  std::printf("in memory, ignoring case (/X5R) %8.2f ms  %7.2f GB/s\n", folded,
              text.size() / folded / 1e6);

  if (argc > 1) {
    // The whole edit as the runner does it, rewriting the file in place (read, replace, save).
    // The original content is put back between runs, outside the timing.
    const std::string original = text;
    const std::string path = argv[1];
    const std::string parameters = "\"" + find + "\" \"" + replacement + "\" \"" + path + "\"";
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
      if (files->WriteAtomically(path, original).state !=
          x5::commands::WriteOutcome::State::kWritten) {
        std::fprintf(stderr, "cannot restore %s\n", path.c_str());
        return 1;
      }
      const auto start = std::chrono::steady_clock::now();
      x5::commands::PendingEdit edit;
      if (x5::commands::EditFile(edit, x5::commands::EditRequest::kReplaceExact, parameters, *files,
                                 fold, x5::commands::kMaxEditBufferBytes) !=
              x5::commands::EditResult::kFileRead ||
          x5::commands::SaveEdit(edit, *files) != x5::commands::EditResult::kSaved) {
        std::fprintf(stderr, "edit failed: %s\n", edit.message.c_str());
        return 1;
      }
      times.push_back(
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
              .count());
    }
    std::sort(times.begin(), times.end());
    std::printf("whole edit in place (/X5L)      %8.2f ms\n", times[times.size() / 2]);
  }
  return 0;
}
