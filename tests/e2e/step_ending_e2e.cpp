// What a KILL leaves in the job log and the step's folder now that it leaves out the steps of a
// capture that would change nothing before the end: the same pictures a picture request takes,
// and the lines naming what was ended, whole and in order, after the end.
#include <map>

#include "e2e_support.h"

namespace x5::e2e {
namespace {

// The picture files of a folder (names starting with "#"), by window handle and title (the name
// after its second "#": the window's number follows the Z order, which may change between two
// sets of pictures), with their bytes.
std::map<std::string, std::string> PictureFiles(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    const size_t second = name.find('#', 1);
    if (name.starts_with("#") && second != std::string::npos)
      files[name.substr(second + 1)] = ReadFileText(entry.path());
  }
  return files;
}

class StepEnding : public RunnerTest {};

TEST_F(StepEnding, KillPicturesShowWhatARequestShows) {
  // Two windows of one process at one place: the later one in front, the earlier covered by it.
  // BMP pictures, so equal pixels make equal files; the usual interval, so that a window raised
  // has repainted before its grab (without one, Wine may show what covered it a moment before).
  Start(Task("/X5J B200\r\n" + step_ + " window Back window Front pidfile " + Win("pids.txt") +
             " sleep 30000"));
  ASSERT_TRUE(WaitUntil([&] { return !ReadPids(Linux("pids.txt")).empty(); }));
  const std::string pid = std::to_string(ReadPids(Linux("pids.txt"))[0]);
  const fs::path folder = Linux("JOB/S01");

  std::ofstream(folder / "_X5C_").put('x');
  Exchange("STAT");
  Exchange("STAT");  // read once the request has been carried out
  const std::map<std::string, std::string> requested = PictureFiles(folder);
  ASSERT_EQ(requested.size(), 2u);
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().filename().string().starts_with("#"))
      fs::remove(entry.path());
  }

  // The window in front is grabbed as it is, the one it covers raised first; neither is hidden.
  EXPECT_EQ(Exchange("KILL").report.status_text, "999     ");
  StatUntilFinal();
  EndConversation();
  const std::map<std::string, std::string> killed = PictureFiles(folder);
  EXPECT_EQ(killed.size(), 2u);
  for (const auto& [name, bytes] : requested) {
    const auto it = killed.find(name);
    ASSERT_NE(it, killed.end()) << name;
    EXPECT_TRUE(it->second == bytes) << name << " differs from its picture on request";
  }

  const std::string console = ReadFileText(Linux("console.txt"));
  const size_t named = console.find("Ending process #" + pid + " x5step.exe, windows: ");
  const size_t pictured = console.find("\r\nProcess #" + pid + "  Job #");
  ASSERT_NE(named, std::string::npos) << console;
  const std::string line = console.substr(named, console.find("\r\n", named) - named);
  EXPECT_NE(line.find("\"Front\""), std::string::npos) << line;
  EXPECT_NE(line.find("\"Back\""), std::string::npos) << line;
  EXPECT_NE(pictured, std::string::npos) << console;
  EXPECT_LT(named, pictured) << console;
  EXPECT_EQ(AliveCount(Linux("pids.txt")), 0);
}

}  // namespace
}  // namespace x5::e2e
