// Figures for the condition file search: throughput of forward and backward, case-sensitive and
// case-insensitive searches over a real file or a generated in-memory log, the latency of finding
// a text near the end of a large file backward, and rules that count occurrences or test their
// column against one full scan of the same file. Prints figures; asserts nothing.
//
//   search_bench                          in-memory figures
//   search_bench --file F --text T [--fold] [--backward] [--buffer N] [--repeat R] [--read BYTES]
//                                         one search over F per repeat (median printed)
//   search_bench --file F --text T --latency [--repeat R]
//                                         open + backward search per repeat (median in us)
//   search_bench --file F --text T --breakdown [--fold] [--buffer N] [--repeat R]
//                                         where a forward search's CPU time goes: the reads
//                                         alone, the reads and one load per 64-byte line, the
//                                         whole search, the scanner on bytes in the cache, and
//                                         cat's work (reads written to the null device)
//   search_bench --file F --text T --count N --column C [--buffer N] [--repeat R]
//                                         whole rules, as the runner evaluates them, forward and
//                                         backward: S=(C, "T") and S=T N=N next to S=(0, "QQQ")
//                                         (an absent text: one full scan), interleaved; medians
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "conditions/byte_scan.h"
#include "conditions/file_reader.h"
#include "conditions/file_rule.h"
#include "conditions/file_search.h"
#include "conditions/testing/memory_files.h"

namespace {

using x5::conditions::ConditionFile;
using x5::conditions::SearchEnv;

// Counts chunks and kilobytes as the runner's pacer does, and never stops.
class CountingPacer final : public x5::conditions::Pacer {
 public:
  bool Poll(int64_t chunk_bytes) override {
    ++chunks;
    kilobytes += (chunk_bytes + 1023) / 1024;
    return true;
  }
  int64_t chunks = 0;
  int64_t kilobytes = 0;
};

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// The thread's CPU time (user and system, so the kernel's copy from its cache counts): on a quiet
// machine the same as the wall clock, on a loaded one without the time spent waiting for a core.
double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

struct Options {
  std::string file;
  std::string text;
  bool fold = false;
  bool backward = false;
  bool latency = false;
  bool breakdown = false;
  int32_t buffer = 4096;
  int repeat = 5;
  int64_t read = x5::conditions::kLargestReadBytes;
  int32_t count = 0;  // > 0: the counted-rule figures
  int32_t column = 0;
};

int64_t RunSearch(x5::conditions::ConditionFile& file, const Options& o, CountingPacer& pacer) {
  const x5::conditions::CaseMap map = x5::conditions::AsciiCaseMap();
  x5::conditions::SearchEnv env{pacer, o.buffer, map, x5::conditions::kFirstReadBytes, o.read};
  if (!o.backward)
    return x5::conditions::SearchForward(env, file, o.text, o.fold, 1, 0);
  int64_t start = -1;
  return x5::conditions::SearchBackward(env, file, o.text, o.fold, start, 0);
}

x5::conditions::ConditionFile OpenOrDie(const std::string& path) {
  auto reader = x5::conditions::OpenFileReader(path, false);
  if (!reader) {
    std::fprintf(stderr, "cannot open %s (error %u)\n", path.c_str(), reader.failure().system_code);
    std::exit(2);
  }
  return x5::conditions::ConditionFile(std::move(*reader));
}

int FileMode(const Options& o) {
  std::vector<double> times;
  int64_t result = 0;
  int64_t size = 0;
  CountingPacer pacer;
  for (int i = 0; i < o.repeat; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    x5::conditions::ConditionFile file = OpenOrDie(o.file);
    size = file.Size().value_or(0);
    pacer = CountingPacer();
    result = o.latency ? [&] {
      Options b = o;
      b.backward = true;
      return RunSearch(file, b, pacer);
    }()
                       : RunSearch(file, o, pacer);
    times.push_back(Seconds(std::chrono::steady_clock::now() - t0));
  }
  const double t = Median(times);
  if (o.latency) {
    std::printf("latency backward: %.1f us (found at %lld, %lld chunk(s) paced)\n", t * 1e6,
                static_cast<long long>(result), static_cast<long long>(pacer.chunks));
  } else {
    std::printf("%s %s buffer %d: %.4f s, %.2f GB/s (result %lld, %lld chunks, %lld KB paced)\n",
                o.backward ? "backward" : "forward", o.fold ? "folded" : "exact", o.buffer, t,
                static_cast<double>(size) / t / 1e9, static_cast<long long>(result),
                static_cast<long long>(pacer.chunks), static_cast<long long>(pacer.kilobytes));
  }
  return 0;
}

// The reads of a forward search (the same reader, the same growing read sizes, the same buffer),
// without the scan: with `touch`, one load from every 64-byte line of what each read delivered.
int64_t ReadsAlone(const Options& o, bool touch) {
  x5::conditions::ConditionFile file = OpenOrDie(o.file);
  const int64_t size = file.Size().value_or(0);
  int64_t read = x5::conditions::kFirstReadBytes;
  int64_t sum = 0;
  for (int64_t at = 0; at < size;) {
    const std::span<const uint8_t> block = file.Block(at, std::min(read, size - at));
    if (block.empty())
      break;
    if (touch) {
      for (size_t i = 0; i < block.size(); i += 64)
        sum += block[i];
    }
    at += static_cast<int64_t>(block.size());
    read = std::min(read * 2, o.read);
  }
  return sum;
}

// What cat does, in this process: 128 KB reads into one buffer, each written to the null device.
int64_t CatsWork(const Options& o) {
  std::FILE* in = std::fopen(o.file.c_str(), "rb");
#ifdef _WIN32
  std::FILE* out = std::fopen("NUL", "wb");
#else
  std::FILE* out = std::fopen("/dev/null", "wb");
#endif
  int64_t total = 0;
  if (in != nullptr && out != nullptr) {
    std::setvbuf(in, nullptr, _IONBF, 0);
    std::setvbuf(out, nullptr, _IONBF, 0);
    std::vector<char> buffer(128 * 1024);
    for (size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), in)) > 0;) {
      std::fwrite(buffer.data(), 1, n, out);
      total += static_cast<int64_t>(n);
    }
  }
  if (in != nullptr)
    std::fclose(in);
  if (out != nullptr)
    std::fclose(out);
  return total;
}

// CPU seconds per GiB of each part, medians of the repeats, interleaved.
int BreakdownMode(const Options& o) {
  const x5::conditions::CaseMap map = x5::conditions::AsciiCaseMap();
  const x5::conditions::Needle needle(o.text, o.fold, map);
  std::vector<uint8_t> hot(static_cast<size_t>(o.read), '.');
  double gib = 0;
  std::vector<double> parts[5];
  int64_t sink = 0;
  for (int r = 0; r < o.repeat; ++r) {
    double c0 = CpuSeconds();
    sink += ReadsAlone(o, false);
    parts[0].push_back(CpuSeconds() - c0);
    c0 = CpuSeconds();
    sink += ReadsAlone(o, true);
    parts[1].push_back(CpuSeconds() - c0);
    CountingPacer pacer;
    c0 = CpuSeconds();
    {
      x5::conditions::ConditionFile file = OpenOrDie(o.file);
      gib = static_cast<double>(file.Size().value_or(0)) / (1 << 30);
      sink += RunSearch(file, o, pacer);
    }
    parts[2].push_back(CpuSeconds() - c0);
    // The scanner alone over the same number of bytes, on one read's worth that stays cached.
    c0 = CpuSeconds();
    for (double done = 0; done < gib * (1 << 30); done += static_cast<double>(hot.size()))
      sink += needle.FindFirst(hot);
    parts[3].push_back(CpuSeconds() - c0);
    c0 = CpuSeconds();
    sink += CatsWork(o);
    parts[4].push_back(CpuSeconds() - c0);
  }
  static const char* const kNames[] = {
      "reads alone", "reads + one load per 64-byte line", "the search (reads + scan)",
      "the scanner alone, bytes in the cache", "cat's work (128 KB reads, written to null)"};
  std::printf("where a forward %s search's CPU time goes, ms per GiB (medians of %d, %s):\n",
              o.fold ? "folded" : "exact", o.repeat, o.file.c_str());
  for (int i = 0; i < 5; ++i)
    std::printf("  %-42s %7.1f\n", kNames[i], Median(parts[i]) * 1e3 / gib);
  std::printf("  search speed / cat's work's: %.2f\n", Median(parts[4]) / Median(parts[2]));
  // Any search that reads through the file API copies every byte and looks at every line: that
  // is the limit a scan can approach, whatever it compares.
  std::printf("  search speed / the limit's (reads + one load per line): %.2f\n",
              Median(parts[1]) / Median(parts[2]));
  return sink == 42 ? 1 : 0;
}

// A rule's console note and variable go nowhere.
struct Quiet final : x5::core::ConsoleSink, x5::core::VariableStore {
  void Line(std::string_view) override {}
  x5::core::Added AddVariable(std::string_view, std::string_view) override {
    return x5::core::Added::kDefined;
  }
};

// Rules as the runner evaluates them (file lookup, open, search loop, close), with case folding on
// as in a rule without C=N: a column rule and a counted rule, and the same kind of rule for an
// absent text of the same length, which reads the whole file once.
int CountMode(const Options& o) {
  struct Case {
    const char* name;
    std::string text;
    int32_t count;
    int32_t column;
    bool forward;
  };
  const std::string absent(o.text.size(), 'Q');
  const Case cases[] = {
      {"full scan", absent, 1, 0, true},      {"column", o.text, 1, o.column, true},
      {"counted", o.text, o.count, 0, true},  {"full scan", absent, 1, 0, false},
      {"column", o.text, 1, o.column, false}, {"counted", o.text, o.count, 0, false},
  };
  constexpr size_t kCases = std::size(cases);
  std::vector<double> times[kCases];
  std::vector<double> cpu[kCases];
  CountingPacer pacers[kCases];
  std::string outputs[kCases];
  auto files = x5::conditions::MakeSystemRuleFiles();
  Quiet quiet;
  for (int r = 0; r < o.repeat; ++r) {
    for (size_t i = 0; i < kCases; ++i) {
      const Case& c = cases[i];
      x5::core::RcState rc;
      CountingPacer pacer;
      x5::conditions::ConditionLimits limits;
      limits.file_buffer_size = o.buffer;
      x5::conditions::ConditionContext context(limits, rc, quiet, quiet, pacer, *files);
      x5::conditions::RuleSettings s;
      s.rc_value = 8;
      s.file_name = o.file;
      s.size_operator = ">=";
      s.attribute_operator = "<>";
      s.attribute_pattern = "    ";
      s.case_folding = true;
      s.search_text = x5::conditions::ToUpper(c.text, context.case_map);
      s.search_column = c.column;
      s.occurrence_count = c.count;
      const auto t0 = std::chrono::steady_clock::now();
      const double c0 = CpuSeconds();
      outputs[i] = x5::conditions::CheckFileRule(context, s, 1, false, c.forward);
      cpu[i].push_back(CpuSeconds() - c0);
      times[i].push_back(Seconds(std::chrono::steady_clock::now() - t0));
      pacers[i] = pacer;
    }
  }
  std::printf(
      "rules over %s, buffer %d, %d repeats, medians of the wall clock and of the CPU time;"
      " ratios of the CPU times\n",
      o.file.c_str(), o.buffer, o.repeat);
  for (size_t i = 0; i < kCases; ++i) {
    const Case& c = cases[i];
    const double t = Median(times[i]);
    const double u = Median(cpu[i]);
    const double scan = Median(cpu[i / 3 * 3]);
    std::string rule = "S=(" + std::to_string(c.column) + ", \"" + c.text + "\")";
    if (c.count > 1)
      rule += " N=" + std::to_string(c.count);
    std::string out = outputs[i];
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
      out.pop_back();
    std::printf("  %-8s %-9s %-22s %8.4f s %8.4f s cpu %6.2fx scan %9lld chunks %11lld KB  %s\n",
                c.forward ? "forward" : "backward", c.name, rule.c_str(), t, u, u / scan,
                static_cast<long long>(pacers[i].chunks),
                static_cast<long long>(pacers[i].kilobytes), out.c_str());
  }
  return 0;
}

std::string MakeLog(size_t size) {
  static const char* const kLevels[] = {"INFO ", "DEBUG", "WARN ", "INFO ", "TRACE", "ERROR"};
  static const char* const kWords[] = {"alpha",  "request", "response", "worker", "queue",
                                       "commit", "session", "user",     "order",  "cache"};
  std::mt19937 rng(42);
  std::string out;
  out.reserve(size + 200);
  char line[256];
  for (int i = 0; out.size() < size; ++i) {
    int n = std::snprintf(line, sizeof line, "2024-05-%02d %02d:%02d:%02d.%03d %s [worker-%u] ",
                          1 + i % 28, i % 24, i % 60, (i * 7) % 60, i % 1000, kLevels[rng() % 6],
                          static_cast<unsigned>(rng() % 64));
    out.append(line, static_cast<size_t>(n));
    for (unsigned w = 3 + rng() % 8; w > 0; --w) {
      out += kWords[rng() % 10];
      out += ' ';
    }
    n = std::snprintf(line, sizeof line, "id=%u took %u ms\r\n",
                      static_cast<unsigned>(rng() % 10000000), static_cast<unsigned>(rng() % 5000));
    out.append(line, static_cast<size_t>(n));
  }
  out.resize(size);
  return out;
}

int MemoryMode() {
  constexpr size_t kSize = size_t{256} << 20;
  auto data = std::make_shared<const std::string>(MakeLog(kSize));
  std::printf("in-memory log of %zu MiB (reads are memcpy; no kernel copy)\n", kSize >> 20);
  for (int32_t buffer : {4096, 65536}) {
    for (bool fold : {false, true}) {
      for (bool backward : {false, true}) {
        Options o;
        o.text = fold ? "fatal: disk quota exceeded" : "FATAL: disk quota exceeded";
        o.fold = fold;
        o.backward = backward;
        o.buffer = buffer;
        std::vector<double> times;
        CountingPacer pacer;
        for (int i = 0; i < 5; ++i) {
          x5::conditions::ConditionFile file(
              std::make_unique<x5::conditions::testing::MemoryReader>(data));
          pacer = CountingPacer();
          const auto t0 = std::chrono::steady_clock::now();
          (void)RunSearch(file, o, pacer);
          times.push_back(Seconds(std::chrono::steady_clock::now() - t0));
        }
        const double t = Median(times);
        std::printf("  %-8s %-6s buffer %5d: %6.2f GB/s (%lld chunks)\n",
                    backward ? "backward" : "forward", fold ? "folded" : "exact", buffer,
                    static_cast<double>(kSize) / t / 1e9, static_cast<long long>(pacer.chunks));
      }
    }
  }
  // A text in the last 4 KiB of a 1 GiB file, found backward.
  std::vector<double> times;
  for (int i = 0; i < 21; ++i) {
    const int64_t size = int64_t{1} << 30;
    x5::conditions::ConditionFile file(std::make_unique<x5::conditions::testing::PatternReader>(
        size, '.', "TAIL-MARK", size - 3000));
    CountingPacer pacer;
    Options o;
    o.text = "TAIL-MARK";
    o.backward = true;
    const auto t0 = std::chrono::steady_clock::now();
    (void)RunSearch(file, o, pacer);
    times.push_back(Seconds(std::chrono::steady_clock::now() - t0));
  }
  std::printf("  text in the last 4 KiB of 1 GiB, backward: %.1f us\n", Median(times) * 1e6);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto next = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "%s needs a value\n", a.c_str());
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "--file")
      o.file = next();
    else if (a == "--text")
      o.text = next();
    else if (a == "--fold")
      o.fold = true;
    else if (a == "--backward")
      o.backward = true;
    else if (a == "--latency")
      o.latency = true;
    else if (a == "--breakdown")
      o.breakdown = true;
    else if (a == "--buffer")
      o.buffer = std::atoi(next().c_str());
    else if (a == "--repeat")
      o.repeat = std::max(1, std::atoi(next().c_str()));
    else if (a == "--read")
      o.read = std::atoll(next().c_str());
    else if (a == "--count")
      o.count = std::max(1, std::atoi(next().c_str()));
    else if (a == "--column")
      o.column = std::max(0, std::atoi(next().c_str()));
    else {
      std::fprintf(stderr, "unknown option %s\n", a.c_str());
      return 2;
    }
  }
  if (o.file.empty())
    return MemoryMode();
  if (o.text.empty()) {
    std::fprintf(stderr, "--text is required with --file\n");
    return 2;
  }
  if (o.count > 0 || o.column > 0)
    return CountMode(o);
  if (o.breakdown)
    return BreakdownMode(o);
  return FileMode(o);
}
