// A password placed in every text a job can reference it from reaches the step deciphered and no
// file the runner writes, nor any byte it sends to the parent, whether the launch succeeds or not.
#include "cipher/password_cipher.h"
#include "e2e_support.h"

namespace x5::e2e {
namespace {

using Secrets = RunnerTest;

constexpr const char* kPlain = "Zq7Secr3tPw";

// The plain password in bytes, also where a saved console broke a line in its middle.
void ExpectNoPlain(const std::string& where, const std::string& bytes) {
  EXPECT_FALSE(Contains(bytes, kPlain) || Contains(Unwrapped(bytes), kPlain)) << where;
}

TEST_F(Secrets, PasswordReachesOnlyTheStep) {
  const std::string hex = cipher::EncipherVariable(kPlain);
  ASSERT_FALSE(hex.empty());
  // The step's own files (and the file a replace switch was asked to edit) may hold it.
  fs::create_directories(Linux("OUT"));
  fs::create_directories(Linux(std::string("wd-") + kPlain));
  const std::string out = Win("OUT\\");
  std::ofstream(Linux("OUT/cfg.txt"), std::ios::binary) << "pw=@PW@;u=@U@";

  // Run 1: every switch, SET lines and a global parameter built from the password, rules naming
  // it, a working directory holding it; the step runs while DIAG and pictures are taken.
  protocol::TaskRecord t = Task();
  t.working_directory = Win("wd-%PW%");
  t.picture_interval = 0;
  blocks_.command = "/X5R @PW@ %PW% " + out + "cfg.txt\r\n/X5L @U@ %PW%\r\n" +
                    "/X5S;PW2$=%PW%;A$=1\r\n/X5J %PW%\r\n/X5P %PW%\r\n/X5? %PW%\r\n" + step_ +
                    " write " + out + "arg.txt %PW% envfile PW " + out + "env.txt envfile PW2$ " +
                    out + "env2.txt cwd " + out + "cwd.txt write " + out +
                    "set.txt %X% window Secrets pidfile " + out + "pid.txt sleep 4000";
  blocks_.variables = "SETP PW=" + hex + ";SET X=%PW%;SET G$=%PW%";
  blocks_.conditions =
      "R=2 F=(" + out + "missing-%PW%.txt > 0)\r\n+>\r\nR=3 F=" + out + "arg.txt S=%PW%";
  Start(t);
  ASSERT_TRUE(WaitUntil([&] { return !ReadPids(Linux("OUT/pid.txt")).empty(); }));
  (void)Exchange("DIAG", -1);
  std::ofstream(Linux("JOB/S01/_X5C_")).put('x');
  (void)Exchange("STAT");
  (void)Exchange("STAT");
  const ctl::step::ReportRecord first = StatUntilFinal();
  EXPECT_EQ(first.report.status_text, "STEP OK ");
  EXPECT_TRUE(Contains(first.text, "Invalid file \"" + out + "missing-*****.txt\"")) << first.text;
  EndConversation();
  std::string sent(session_->Received().begin(), session_->Received().end());

  EXPECT_EQ(ReadFileText(Linux("OUT/arg.txt")), kPlain);
  EXPECT_EQ(ReadFileText(Linux("OUT/env.txt")), kPlain);
  EXPECT_EQ(ReadFileText(Linux("OUT/env2.txt")), kPlain);  // a "/X5S" value is a password
  EXPECT_EQ(ReadFileText(Linux("OUT/cwd.txt")), Win(std::string("wd-") + kPlain));
  EXPECT_EQ(ReadFileText(Linux("OUT/cfg.txt")), std::string("pw=") + kPlain + ";u=" + kPlain);
  const std::string stored = ReadFileText(Linux("JOB/S01/PW2$.$$$"));
  ASSERT_GE(stored.size(), 5u);
  EXPECT_EQ(stored.substr(0, 2), "\"\xFF");
  EXPECT_EQ(cipher::DecipherVariable(stored.substr(2, stored.size() - 5)).View(), kPlain);
  const std::string console = ReadFileText(Linux("console.txt"));
  // Shown masked, not left out (each switch's masking has a unit test).
  for (const std::string& masked :
       {std::string("/X5S SET PW2$=*****\r\n"), std::string("Invalid /X5J value: *****"),
        std::string(" write ") + out + "set.txt ***** window",
        std::string("WorkDir=") + Win("wd-*****\r\n")})
    EXPECT_TRUE(Contains(console, masked)) << masked << "\n" << console;

  // Run 2, the same job step: the parameters written by run 1 are loaded; the working directory
  // does not exist, so the launch fails and the message shows the command.
  t = Task(step_ + " write " + out + "arg2.txt %PW% %PW2$% %X% %G$%");
  t.console_file = Win("console2.txt");
  t.working_directory = Win("nowhere-%PW%");
  blocks_.variables = "SETP PW=" + hex + ";SET X=%PW%";
  Start(t);
  const ctl::step::ReportRecord second = Exchange("STAT");
  EXPECT_EQ(second.report.status_text, "STEP=?  ");
  EXPECT_TRUE(Contains(second.text, "***** Error - Command  \"" + step_ + " write " + out +
                                        "arg2.txt ***** ***** ***** *****\"  STEP=?   RC="))
      << second.text;
  EndConversation();
  EXPECT_FALSE(fs::exists(Linux("OUT/arg2.txt")));
  sent.append(session_->Received().begin(), session_->Received().end());

  ExpectNoPlain("bytes sent to the parent", sent);
  size_t files = 0;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(dir_linux_)) {
    const fs::path relative = fs::relative(entry.path(), dir_linux_);
    const std::string first_part = relative.begin()->string();
    if (first_part == "OUT" || first_part == std::string("wd-") + kPlain)
      continue;
    ExpectNoPlain(relative.string() + " (name)", relative.string());
    if (entry.is_regular_file()) {
      ++files;
      ExpectNoPlain(relative.string(), ReadFileText(entry.path()));
    }
  }
  // Both console files, DIAG, "Printers.txt" and the parameter files were looked at.
  EXPECT_GE(files, 7u);
  EXPECT_TRUE(fs::exists(Linux("JOB/S01/Printers.txt")));
  EXPECT_TRUE(fs::exists(Linux("JOB/S01/DIAG1.txt")));
}

}  // namespace
}  // namespace x5::e2e
