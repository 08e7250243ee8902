// Steps run under another user's logon: the "$local$" domain form and the user's hive, seen
// through the runner's pipes and the registry of the Wine prefix.
// Under Wine every logon succeeds with a token that cannot start a process or build the user's
// environment, so the logon path is seen here up to the profile load.
#include <pwd.h>
#include <unistd.h>

#include "e2e_support.h"

namespace x5::e2e {
namespace {

// The user Wine maps the Linux account to, and the SID Wine gives that user.
std::string WineUserName() {
  if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_name != nullptr)
    return pw->pw_name;
  return EnvOr("USER", "root");
}
constexpr char kWineUserSidHex[] = "010500000000000515000000000000000000000000000000E8030000";

// Wine's reg.exe in the test prefix; its exit code, or -1 when it could not run.
int Reg(std::vector<std::string> args) {
  args.insert(args.begin(), "reg");
  return RunWine(std::move(args)).code.value_or(-1);
}

class Identity : public RunnerTest {
 protected:
  void TearDown() override {
    RunnerTest::TearDown();
    if (!profile_key_.empty())
      (void)Reg({"delete", profile_key_, "/f"});
  }
  std::string profile_key_;
};

// The "$local$" domain form loads the user's hive, which stays loaded until the end of the run,
// after the console is closed. Under Wine the profile library then refuses the logon token.
TEST_F(Identity, UsersHiveIsLoadedForTheRunAndUnloadedAtItsEnd) {
  // A profile-list entry for Wine's user whose profile folder holds a hive made here, with one
  // value to find once the runner has loaded it as HKEY_USERS\<hive name>.
  const std::string hive = "X5E2E-" + std::to_string(getpid());
  fs::create_directories(Linux("profile"));
  WriteText(Linux("profile/NTUSER.DAT"),
            "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\X5E2E\n\n#arch=win64\n\n"
            "[Software\\\\x5e2e] 1700000000\n\"probe\"=\"from-the-hive\"\n");
  profile_key_ = "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\" + hive;
  EXPECT_EQ(
      Reg({"add", profile_key_, "/v", "Sid", "/t", "REG_BINARY", "/d", kWineUserSidHex, "/f"}), 0);
  // Stored as the system stores it, with a reference the runner expands.
  EXPECT_EQ(Reg({"add", profile_key_, "/v", "ProfileImagePath", "/t", "REG_EXPAND_SZ", "/d",
                 "%SystemDrive%" + dir_.substr(2) + "profile", "/f"}),
            0);
  const auto loaded = [&] {
    return Reg({"query", "HKU\\" + hive + "\\Software\\x5e2e", "/v", "probe"}) == 0;
  };

  protocol::TaskRecord t = Task(step_ + " exit 0");
  t.user_name = WineUserName();
  t.domain = "$local$";
  Start(t);
  const ctl::step::ReportRecord r = Exchange("STAT");
  EXPECT_EQ(r.report.status_text, "PROFILE?");
  EXPECT_EQ(r.report.current_rc, 99);
  EXPECT_EQ(r.text,
            "\r\n***** Error - Command  \"" + blocks_.command + "\"  PROFILE? RC=5 *****\r\n\r\n");
  EXPECT_TRUE(loaded());
  EndConversation();
  EXPECT_FALSE(loaded());
}

}  // namespace
}  // namespace x5::e2e
