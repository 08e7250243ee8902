// Steps run under another user's logon: refused logons, the profile library, the "$local$" domain
// form and the user's hive, seen through the runner's pipes and the registry of the Wine prefix.
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

constexpr char kProfileList[] =
    "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

class Identity : public RunnerTest {
 protected:
  void TearDown() override {
    for (const std::string& key : cleanup_keys_)
      (void)Reg({"delete", key, "/f"});
    RunnerTest::TearDown();
  }

  // Wine's reg.exe in the test prefix; its exit code, or -1 when it could not run.
  static int Reg(std::vector<std::string> args) {
    args.insert(args.begin(), "reg");
    return RunWine(std::move(args)).code.value_or(-1);
  }

  // A profile-list entry for Wine's user whose profile folder holds a hive made here, with one
  // value to find once the runner has loaded it as HKEY_USERS\<hive name>.
  std::string MakeUserProfile() {
    const std::string hive_name = "X5E2E-" + std::to_string(getpid());
    fs::create_directories(Linux("profile"));
    std::ofstream(Linux("profile/NTUSER.DAT"), std::ios::binary)
        << "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\X5E2E\n\n#arch=win64\n\n"
           "[Software\\\\x5e2e] 1700000000\n\"probe\"=\"from-the-hive\"\n";
    const std::string key = std::string(kProfileList) + "\\" + hive_name;
    cleanup_keys_.push_back(key);
    EXPECT_EQ(Reg({"add", key, "/v", "Sid", "/t", "REG_BINARY", "/d", kWineUserSidHex, "/f"}), 0);
    // Stored as the system stores it, with a reference the runner expands.
    const std::string folder = "%SystemDrive%" + dir_.substr(2) + "profile";
    EXPECT_EQ(
        Reg({"add", key, "/v", "ProfileImagePath", "/t", "REG_EXPAND_SZ", "/d", folder, "/f"}), 0);
    return hive_name;
  }

  bool HiveLoaded(const std::string& hive_name) {
    return Reg({"query", "HKU\\" + hive_name + "\\Software\\x5e2e", "/v", "probe"}) == 0;
  }

  TaskRecord LogonTask(const std::string& user, const std::string& domain) {
    TaskRecord t = Task(step_ + " exit 0");
    t.user_name = user;
    t.domain = domain;
    return t;
  }

  void ExpectLaunchFailure(const ReportRecord& r, const char* status, int code) {
    EXPECT_EQ(r.report.status_text, status);
    EXPECT_EQ(r.report.status_code, 0);
    EXPECT_EQ(r.report.phase, 4);
    EXPECT_EQ(r.report.current_rc, 99);
    EXPECT_EQ(r.text, "\r\n***** Error - Command  \"" + blocks_.command + "\"  " + status +
                          " RC=" + std::to_string(code) + " *****\r\n\r\n");
  }

  std::vector<std::string> cleanup_keys_;
};

TEST_F(Identity, LogonWithoutUserNameIsRefused) {
  Start(LogonTask("", "CORP"));
  const ReportRecord r = Exchange("STAT");
  EXPECT_EQ(r.report.status_text, "LOGON ? ");
  EXPECT_EQ(r.report.current_rc, 99);
  EXPECT_EQ(r.text, "\r\n***** INVALID LOGON  RC=99 *****\r\n\r\n");
  EndConversation();
  EXPECT_NE(ReadFileText(Linux("console.txt")).find("***** INVALID LOGON  RC=99 *****"),
            std::string::npos);
}

TEST_F(Identity, MissingProfileLibraryIsAProfileFailure) {
  // A runner without dvup.dll beside it.
  const fs::path alone = Linux("alone");
  fs::create_directories(alone);
  fs::copy_file(runner_, alone / "x5runner.exe");
  runner_ = (alone / "x5runner.exe").string();
  Start(LogonTask(WineUserName(), "$local$"));
  ExpectLaunchFailure(Exchange("STAT"), "PROFILE?", 5);
  EndConversation();
}

// One test, so that no two runners look up the same user's profile at once: the lookup finds
// the first profile-list entry of the user's SID.
TEST_F(Identity, UsersHiveIsLoadedForTheRunAndUnloadedHoweverItEnds) {
  const std::string hive = MakeUserProfile();
  // The account lookup fails: no hive, no desktop entry; the launch goes on to the profile, which
  // Wine's logon token cannot give, so the profile library refuses it.
  Start(LogonTask("nosuchuser", "CORP"));
  ExpectLaunchFailure(Exchange("STAT"), "PROFILE?", 5);
  EXPECT_FALSE(HiveLoaded(hive));
  EndConversation();

  // The "$local$" domain form: the hive stays loaded until the end of the run, after the console
  // is closed.
  Start(LogonTask(WineUserName(), "$local$"));
  ExpectLaunchFailure(Exchange("STAT"), "PROFILE?", 5);
  EXPECT_TRUE(HiveLoaded(hive));
  EndConversation();
  EXPECT_FALSE(HiveLoaded(hive));

  // No "END ": the parent's pipe just ends.
  Start(LogonTask(WineUserName(), "$local$"));
  ExpectLaunchFailure(Exchange("STAT"), "PROFILE?", 5);
  EXPECT_TRUE(HiveLoaded(hive));
  session_->CloseInput();
  EXPECT_EQ(session_->Wait(), std::optional<int32_t>(0));
  EXPECT_FALSE(HiveLoaded(hive));
}

}  // namespace
}  // namespace x5::e2e
