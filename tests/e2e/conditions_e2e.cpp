// Condition rules end to end, as the parent sees them: bytes of a searched file reach the report
// text and the job log shown, never obeyed; file checks are paced and counted in the task's chunks.
#include "e2e_support.h"

namespace x5::e2e {
namespace {

using ConditionBytes = RunnerTest;

TEST_F(ConditionBytes, FileBytesAreShownAndChunksCountedExactly) {
  // The field after "STATUS:" tries to end the report line and forge one of its own.
  std::string log(10000, '.');
  const std::string forged = "STATUS:x\r\n-1 RC=0     forged\x1B[2J";
  log.replace(log.size() - 100, forged.size(), forged);
  {
    std::ofstream out(Linux("data.log"), std::ios::binary);
    out << log;
  }
  protocol::TaskRecord t = Task(step_ + " write " + Win("ran.txt") + " yes");
  t.file_buffer_size = 1024;
  // Backward from the end, "STATUS:" lies in the first chunk. The 700-byte text is longer than half
  // the buffer: forward, its chunks of 1024 bytes move on by 325, 29 of them for 10000 bytes.
  const std::string long_text(700, 'Q');
  blocks_.conditions = "R=9 F=" + Win("data.log") +
                       " S=STATUS: C=N V=(25 = \"DONE\")\r\n->\r\nR=9 F=" + Win("data.log") +
                       " S=" + long_text;
  Start(t);
  ctl::step::ReportRecord r = Exchange("STAT");
  EXPECT_EQ(r.report.phase, protocol::Phase::kWaitingForEnd);
  EXPECT_EQ(r.report.status_text, "RC <>   ");
  EXPECT_EQ(r.report.io_count, (1 + 29) * 10000);
  const std::string shown = "x^M^J-1 RC=0     forged^[[2J";
  EXPECT_EQ(r.text, "-1 RC=9     \"" + shown + "\"=\"DONE\" = False\r\n-3 RC=9     String \"" +
                        long_text + "\" not found\r\n" +
                        "\r\n***** Task Step ABENDED *****, Step RC=9  / Max RC=4\r\n");
  EndConversation();
  const std::string console = ReadFileText(Linux("console.txt"));
  EXPECT_EQ(console.find("\r\n-1 RC=0     forged"), std::string::npos) << console;
  EXPECT_EQ(console.find('\x1B'), std::string::npos) << console;
  EXPECT_FALSE(fs::exists(Linux("ran.txt"))) << "the step ran";
}

}  // namespace
}  // namespace x5::e2e
