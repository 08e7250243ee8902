// What `x5ctl exec` says is missing on a Wine host, and the wine command's words it reads.
#include "x5ctl/host/wine_host.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

namespace x5::ctl::host {
namespace {

WineHostFacts Ready() {
  WineHostFacts facts;
  facts.uses_wine = true;
  facts.wine_program = "wine";
  facts.wine_found = true;
  facts.display = ":7";
  facts.display_local = true;
  facts.display_answers = true;
  facts.prefix = "/p";
  facts.prefix_named = true;
  facts.prefix_exists = true;
  facts.prefix_built = true;
  return facts;
}

struct Row {
  const char* name;
  void (*change)(WineHostFacts&);
  const char* expected;  // the whole list of what is missing, "" for none
};

const Row kRows[] = {
    {"Ready", [](WineHostFacts&) {}, ""},
    {"NotThroughWine", [](WineHostFacts& f) { f = WineHostFacts{}; }, ""},
    {"RemoteDisplayTakenOnTrust",
     [](WineHostFacts& f) { f.display = "host:0", f.display_local = f.display_answers = false; },
     ""},
    {"NoWine", [](WineHostFacts& f) { f.wine_found = false; },
     "wine is not installed (not found on PATH)"},
    {"DisplayGone", [](WineHostFacts& f) { f.display_answers = false; },
     "no display for the runner's console: no X server answers on DISPLAY=:7"},
    {"DefaultPrefixNotBuilt",
     [](WineHostFacts& f) {
       f.prefix = "/home/u/.local/share/x5runner/wine-prefix";
       f.prefix_named = f.prefix_built = false;
     },
     "no Wine prefix: WINEPREFIX is not set and the default prefix "
     "/home/u/.local/share/x5runner/wine-prefix is not a built prefix (it has no system.reg)"},
};

class Missing : public testing::TestWithParam<Row> {};

TEST_P(Missing, IsNamedInOneMessage) {
  WineHostFacts facts = Ready();
  GetParam().change(facts);
  const std::string expected = GetParam().expected;
  EXPECT_EQ(WineHostProblem(facts),
            expected.empty() ? ""
                             : "the runner cannot start here: " + expected +
                                   ". `x5ctl setup-host` prepares a prefix and a display and "
                                   "prints the WINEPREFIX, DISPLAY and XAUTHORITY lines to set");
}

INSTANTIATE_TEST_SUITE_P(Host, Missing, testing::ValuesIn(kRows), [](const auto& info) {
  return std::string(info.param.name);
});

TEST(WineCommand, SettingsInFrontOfTheProgramAreRead) {
  using Settings = std::vector<std::pair<std::string, std::string>>;
  WineCommandParts parts = SplitWineCommand("  env WINEPREFIX=/p DISPLAY=:3  wine64 --x A=B");
  EXPECT_EQ(parts.program, "wine64");
  EXPECT_EQ(parts.settings, (Settings{{"WINEPREFIX", "/p"}, {"DISPLAY", ":3"}}));
  EXPECT_EQ(SplitWineCommand("").program, "");
  EXPECT_EQ(SplitWineCommand("/opt/wine/bin/wine").program, "/opt/wine/bin/wine");
}

// What setup-host prints must stay a value when a shell sources it, and only a display of this
// machine counts as one (":0.<anything>" did).
TEST(HostLines, DisplaysAndValuesThatCanBePrinted) {
  const std::pair<const char*, std::optional<int>> displays[] = {{":0", 0},
                                                                 {":12.3", 12},
                                                                 {"unix:1", 1},
                                                                 {":0.;id", std::nullopt},
                                                                 {":0.", std::nullopt},
                                                                 {":", std::nullopt},
                                                                 {"host:0", std::nullopt}};
  for (const auto& [display, number] : displays)
    EXPECT_EQ(LocalDisplayNumber(display), number) << display;
  for (const char* bad : {"/p x';id>F;'", "/p\nLD_PRELOAD=x", "/p$(id)", "/p`id`", "/p\\x"})
    EXPECT_NE(UnsafeInLine(bad), "") << bad;
  EXPECT_EQ(UnsafeInLine("/home/batch/wine prefix"), "");
}

// What setup-host writes into a prefix of its own user (Wine's log, the settings file) is never
// written through a link planted there, by a step that runs as that user or anyone else who can
// write the prefix: the link's target keeps its bytes and no file appears where it leads.
TEST(PrefixFiles, LinksPlantedInTheUsersOwnPrefixAreNotFollowed) {
  namespace fs = std::filesystem;
  const fs::path root =
      fs::path(::testing::TempDir()) / ("x5ctl_prefix_" + std::to_string(getpid()));
  const fs::path prefix = root / "prefix";
  const fs::path victim = root / "victim";
  const fs::path elsewhere = root / "elsewhere";
  const std::vector<std::string> temp = {"drive_c", "windows", "temp"};
  const std::string log = (prefix / "setup-host.log").string();
  const auto log_wine = [&] {
    const core::Result<int> ran =
        RunToEnd({"sh", "-c", "echo wine says >&2"}, {ChildErrors::Kind::kAppendTo, log});
    return ran ? std::string() : ran.failure().text;
  };
  const auto write_settings = [&] {
    const core::Result<std::string> made =
        WriteNewFileInPrefix(prefix.string(), temp, "x5runner-prefix", ".reg", "REGEDIT4\n");
    return made ? std::string() : made.failure().text;
  };
  struct Row {
    const char* name;
    std::function<void()> plant;
    std::function<std::string()> write;
    const char* refusal;  // "" when the write goes through
  };
  const Row rows[] = {
      {"plain log", [] {}, log_wine, ""},
      {"plain settings", [] {}, write_settings, ""},
      {"log links to a file", [&] { fs::create_symlink(victim, log); }, log_wine, "symbolic link"},
      {"log links nowhere", [&] { fs::create_symlink(elsewhere / "new", log); }, log_wine,
       "symbolic link"},
      {"log is a hard link", [&] { fs::create_hard_link(victim, log); }, log_wine, "one name"},
      {"temp links to a folder",
       [&] { fs::create_symlink(elsewhere, prefix / "drive_c" / "windows" / "temp"); },
       write_settings, "link or no folder"},
      {"drive_c links to a folder",
       [&] {
         fs::remove_all(prefix / "drive_c");
         fs::create_symlink(elsewhere, prefix / "drive_c");
       },
       write_settings, "link or no folder"},
  };
  for (const Row& row : rows) {
    fs::remove_all(root);
    fs::create_directories(prefix / "drive_c" / "windows");
    fs::create_directories(elsewhere);
    std::ofstream(victim) << "victim's\n";
    ASSERT_TRUE(ClaimPrefix(prefix.string()).ok()) << row.name;
    row.plant();
    const std::string refusal = row.write();
    if (*row.refusal == '\0')
      EXPECT_EQ(refusal, "") << row.name;
    else
      EXPECT_NE(refusal.find(row.refusal), std::string::npos) << row.name << ": " << refusal;
    std::ifstream in(victim);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "victim's\n") << row.name;
    EXPECT_TRUE(fs::is_empty(elsewhere)) << row.name;
  }
  fs::remove_all(root);
}

}  // namespace
}  // namespace x5::ctl::host
