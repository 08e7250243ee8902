// Times ExpandVariables on texts of 1 KB, 1 MB and 16 MB with a reference every 100 bytes and
// prints the cost per MB of each, so a cost that grows faster than the text shows at once. The
// deciphering expansion gives both forms (deciphered and masked) in one pass.
// Usage: expand_bench [ROUNDS]   (fewer rounds than the figure's 20, for a quick look)
#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "cipher/password_cipher.h"
#include "variables/testing/test_fakes.h"
#include "variables/variables.h"

namespace {

// Every 100 bytes: filler and one reference. The references cycle through a late table entry, an
// early one, an environment variable, an undefined name (which stays in the text) and a password
// variable (masked, or deciphered).
std::string MakeText(size_t size) {
  static const char* const kReferences[] = {"%LASTVAR%", "%X5N%", "%HOMEPATH%", "%NOSUCH%", "%PW%"};
  std::string text;
  text.reserve(size + 100);
  for (size_t i = 0; text.size() < size; ++i) {
    const std::string reference = kReferences[i % 5];
    text.append(100 - reference.size(), 'a' + static_cast<char>(i % 26));
    text.append(reference);
  }
  text.resize(size);
  return text;
}

// A plain map: the test fake keeps a log of every lookup, which would grow across the runs.
class MapEnvironment final : public x5::variables::Environment {
 public:
  std::optional<std::string> Get(std::string_view name) const override {
    for (const auto& [key, value] : values)
      if (key == name)
        return value;
    return std::nullopt;
  }
  std::vector<std::pair<std::string, std::string>> values;
};

// CPU time of this thread: on a shared machine wall time mostly measures the other processes.
double ThreadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// One timed run of `batch` expansions (short texts are batched so the clock's own cost does not
// count), in seconds per expansion.
double SecondsPerExpansion(x5::variables::VariableContext& context,
                           const std::string& text,
                           bool decipher,
                           int batch,
                           size_t& sink) {
  const double start = ThreadSeconds();
  for (int b = 0; b < batch; ++b) {
    if (decipher)
      sink +=
          x5::variables::ExpandVariables(context, text, x5::variables::kDecipherPasswords, false)
              .deciphered.Size();
    else
      sink += x5::variables::ExpandVariables(context, text, x5::variables::kMaskPasswords, false)
                  .size();
  }
  return (ThreadSeconds() - start) / batch;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = std::min(20, argc > 1 ? std::max(1, std::atoi(argv[1])) : 20);
  // glibc hands each run's 18 MB buffers back to the system (its trim threshold) and the next run
  // faults them in again, which triples the 16 MB figure; the runner's allocator is another, so
  // the figure keeps to the expansion's own cost.
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  x5::variables::testing::FakeRun run;
  // A table shaped like a real step's: the X5 variables, a few SET lines, X5W last.
  run.table = {"X5S=C:\\Jobs\\PAY\\S01\\",
               "X5T=C:\\Jobs\\PAY\\",
               "X5N=42",
               "X5D=S01",
               "X5Step=3",
               "X5User=clerk",
               "X5Name=PAY",
               "X5RepC=0",
               "X5Max=8",
               "X5TRC=0",
               "A=1",
               "B=two",
               "OUTDIR=D:\\out",
               "LASTVAR=the last value",
               "X5W=C:\\work"};
  run.table.push_back("PW=" + std::string(1, x5::variables::kPasswordMarker) +
                      x5::cipher::EncipherVariable("bench-secret"));
  MapEnvironment environment;
  environment.values = {{"HOMEPATH", "\\Users\\clerk"}, {"PATH", "C:\\Windows"}};
  x5::variables::VariableContext context{
      run.table,   run.task,    "",        ';',       run.global_parameter_directory,
      run.console, environment, run.clock, run.names, run.files};

  struct Size {
    const char* label;
    size_t bytes;
    int batch;
  };
  const Size sizes[] = {{"1 KB", 1 << 10, 2000}, {"1 MB", 1 << 20, 1}, {"16 MB", 16 << 20, 1}};
  // The sizes take turns, round after round, and each keeps its best: a slow spell of the machine
  // then slows a round of all three rather than the one size measured during it. Measured size
  // after size, the ratios swung from 0.6 to 1.8 between runs of the same build.
  for (bool decipher : {false, true}) {
    std::printf("decipher_passwords=%s\n", decipher ? "true" : "false");
    std::printf("%-6s %12s %10s %10s %8s\n", "size", "cpu/run", "ms/MB", "MB/s", "vs 1 MB");
    std::string texts[3];
    double per_mb[3] = {1e30, 1e30, 1e30};
    for (int i = 0; i < 3; ++i)
      texts[i] = MakeText(sizes[i].bytes);
    size_t sink = 0;
    for (int r = 0; r < rounds; ++r) {
      for (int i = 0; i < 3; ++i) {
        const double mb = static_cast<double>(sizes[i].bytes) / (1 << 20);
        per_mb[i] = std::min(
            per_mb[i], SecondsPerExpansion(context, texts[i], decipher, sizes[i].batch, sink) / mb);
      }
    }
    if (sink == 0)
      std::puts("(empty output)");
    const double per_mb_1m = per_mb[1];
    for (int i = 0; i < 3; ++i) {
      const double mb = static_cast<double>(sizes[i].bytes) / (1 << 20);
      std::printf("%-6s %10.1f us %10.3f %10.1f %7.2fx\n", sizes[i].label, per_mb[i] * mb * 1e6,
                  per_mb[i] * 1e3, 1.0 / per_mb[i], per_mb[i] / per_mb_1m);
    }
    for (int i : {0, 2}) {
      std::printf("figure: expansion%s, %s: cost per MB / 1 MB's | %.2f | <= 1.5\n",
                  decipher ? " deciphering" : "", sizes[i].label, per_mb[i] / per_mb_1m);
    }
  }
  return 0;
}
