// Diagnostic pictures through the real runner: on request and at KILL, of leftovers at the end of
// the job, and switched off.
#include <map>
#include <regex>
#include <set>

#include "e2e_support.h"
#include "pictures/testing/picture_probe.h"

namespace x5::e2e {
namespace {

struct Picture {
  std::string name;
  std::optional<pictures::testing::PictureInfo> info;
  std::vector<uint8_t> bytes;
  // The same pixels, whatever the file's name.
  bool operator==(const Picture& other) const { return bytes == other.bytes; }
};

std::vector<Picture> PicturesIn(const fs::path& dir) {
  std::vector<Picture> pictures;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || name[0] != '#')
      continue;
    const std::string text = ReadFileText(entry.path());
    Picture p{name, std::nullopt, std::vector<uint8_t>(text.begin(), text.end())};
    p.info = pictures::testing::ProbePicture(p.bytes);
    pictures.push_back(std::move(p));
  }
  std::sort(pictures.begin(), pictures.end(),
            [](const Picture& a, const Picture& b) { return a.name < b.name; });
  return pictures;
}

// Distinct pixel values of an uncompressed 24- or 32-bit BMP: a grab that failed is one colour.
size_t DistinctBmpColours(const std::vector<uint8_t>& bmp) {
  if (bmp.size() < 54)
    return 0;
  uint32_t offset = 0;
  std::memcpy(&offset, &bmp[10], 4);
  uint16_t bits = 0;
  std::memcpy(&bits, &bmp[28], 2);
  const size_t step = bits / 8;
  std::set<uint32_t> colours;
  for (size_t at = offset; step >= 3 && at + 3 <= bmp.size(); at += step)
    colours.insert(bmp[at] | bmp[at + 1] << 8 | bmp[at + 2] << 16);
  return colours.size();
}

class Pictures : public RunnerTest {
 protected:
  fs::path StepDir() const { return Linux("JOB/S01"); }
};

// Two requests picture each window without ending anything, the second only as the first if the
// first put each window back; a KILL leaves out the steps of a capture that would change nothing
// before the end, yet takes the same pictures. The lines naming what was ended come first.
TEST_F(Pictures, RequestsAndKillTakeTheSamePictures) {
  // Two windows of one process at one place: the later one in front, the earlier covered by it.
  // BMP pictures, so equal pixels make equal files; an interval long enough that a window raised
  // has repainted before its grab on a busy machine too (without one, Wine may show what covered
  // it, or nothing, a moment before).
  Start(Task("/X5J B600\r\n" + step_ + " window Back window Front pidfile " + Win("pids.txt") +
             " sleep 30000"));
  ASSERT_TRUE(WaitUntil([&] { return !ReadPids(Linux("pids.txt")).empty(); }));
  const std::string pid = std::to_string(ReadPids(Linux("pids.txt"))[0]);
  // By window handle and title (the number after the first "#" follows the Z order, which may
  // change between two sets of pictures).
  auto by_window = [&] {
    std::map<std::string, Picture> found;
    for (Picture& p : PicturesIn(StepDir()))
      found[p.name.substr(p.name.find('#', 1) + 1)] = p;
    return found;
  };
  std::map<std::string, Picture> requested;
  for (int request = 1; request <= 2; ++request) {
    std::ofstream(StepDir() / "_X5C_").put('x');
    EXPECT_EQ(Exchange("STAT").report.status_text, "1       ");
    Exchange("STAT");  // read once the request has been carried out
    EXPECT_FALSE(fs::exists(StepDir() / "_X5C_"));
    EXPECT_EQ(AliveCount(Linux("pids.txt")), 1);
    const std::map<std::string, Picture> pictures = by_window();
    ASSERT_EQ(pictures.size(), 2u) << "request " << request;
    for (const auto& [name, p] : pictures)
      fs::remove(StepDir() / p.name);
    if (request == 1)
      requested = pictures;
    else
      EXPECT_TRUE(pictures == requested) << "the second request's pictures differ";
  }
  for (const auto& [name, p] : requested) {
    ASSERT_TRUE(p.info) << name;
    EXPECT_EQ(p.info->kind, pictures::testing::PictureKind::kBmp) << name;
    EXPECT_GE(p.info->depth, 24) << name;  // the display runs at 24 bits
    EXPECT_EQ(p.info->width, 320) << name;
    EXPECT_EQ(p.info->height, 200) << name;
    EXPECT_GE(DistinctBmpColours(p.bytes), 2u) << name << " is blank";
  }

  EXPECT_EQ(Exchange("KILL").report.status_text, "999     ");
  StatUntilFinal();
  EndConversation();
  EXPECT_TRUE(by_window() == requested) << "the KILL's pictures differ from those on request";
  const std::string console = ReadFileText(Linux("console.txt"));
  EXPECT_TRUE(Contains(console, "New valid /X5J value is: 600 msec type is BMP")) << console;
  EXPECT_EQ(Count(console, "Ending process"), 1u) << console;
  const size_t named = console.find("Ending process #" + pid + " x5step.exe, windows: ");
  ASSERT_NE(named, std::string::npos) << console;
  const std::string line = console.substr(named, console.find("\r\n", named) - named);
  EXPECT_TRUE(Contains(line, "\"Front\"") && Contains(line, "\"Back\"")) << line;
  const size_t pictured = console.find("\r\nProcess #" + pid + "  Job #");
  EXPECT_TRUE(pictured != std::string::npos && pictured > named) << console;
  EXPECT_EQ(AliveCount(Linux("pids.txt")), 0);
}

// A process the step left behind, with a window, at the end of the job: pictured (interval 0) or
// not (-1), named in the job log and ended either way. Pictures switched off delete none.
class Leftovers : public Pictures, public testing::WithParamInterface<int32_t> {};

TEST_P(Leftovers, ArePicturedOrNotNamedAndEnded) {
  const int32_t interval = GetParam();
  std::ofstream(StepDir() / "#1_1#2_old.JPG").put('x');
  protocol::TaskRecord t = Task(step_ + " spawn 6 window Left1 pidfile " + Win("pids.txt") +
                                " sleep 30000 sleep 3000 exit 0");
  t.picture_interval = interval;
  Start(t);
  ASSERT_TRUE(WaitUntil([&] { return !ReadPids(Linux("pids.txt")).empty(); }));
  const unsigned long child = ReadPids(Linux("pids.txt"))[0];
  EXPECT_EQ(StatUntilFinal().report.status_text, "STEP OK ");
  EndConversation();

  const std::vector<Picture> pictures = PicturesIn(StepDir());
  const std::string console = ReadFileText(Linux("console.txt"));
  if (interval < 0) {
    ASSERT_EQ(pictures.size(), 1u);
    EXPECT_EQ(pictures[0].name, "#1_1#2_old.JPG");
    EXPECT_FALSE(Contains(console, "\r\nProcess #")) << console;
  } else {
    // The old picture deleted; the new one named after the process and the window, as JPG.
    ASSERT_EQ(pictures.size(), 1u);
    const std::regex name("#" + std::to_string(child) + "_1#[0-9]+_Left1\\.jpg");
    EXPECT_TRUE(std::regex_match(pictures[0].name, name)) << pictures[0].name;
    ASSERT_TRUE(pictures[0].info) << pictures[0].name << " is not a picture";
    EXPECT_EQ(pictures[0].info->kind, pictures::testing::PictureKind::kJpeg);
    EXPECT_EQ(pictures[0].info->width, 320);  // the helper's window, frame included
    EXPECT_EQ(pictures[0].info->height, 200);
    EXPECT_TRUE(Contains(console, "\r\nProcess #" + std::to_string(child) + "  Job #")) << console;
  }
  EXPECT_TRUE(Contains(
      console, "Ending process #" + std::to_string(child) + " x5step.exe, windows: \"Left1\"\r\n"))
      << console;
  EXPECT_EQ(AliveCount(Linux("pids.txt")), 0);
}

INSTANTIATE_TEST_SUITE_P(Pictures, Leftovers, testing::Values(0, -1), [](const auto& info) {
  return info.param < 0 ? std::string("Off") : std::string("On");
});

}  // namespace
}  // namespace x5::e2e
