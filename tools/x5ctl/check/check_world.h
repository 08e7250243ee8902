// The world `x5ctl check` runs the runner's own code in: Windows paths mapped onto local folders,
// and the runner's small interfaces implemented so that they read through that mapping, record
// what they were asked, and never write, delete, decipher or print anything.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "commands/command_context.h"
#include "commands/command_split.h"
#include "commands/file_access.h"
#include "commands/printer_report.h"
#include "conditions/condition_file.h"
#include "conditions/parse_number.h"
#include "core/interfaces.h"
#include "core/result.h"
#include "variables/variables.h"
#include "x5ctl/host/drive_map.h"

namespace x5::ctl::check {

using host::DriveMap;
using host::MappedPath;

// A file the check looked at, for the notes that follow a rule or a command line.
struct FileLookup {
  std::string path;  // as the runner named it
  MappedPath mapped;
  bool found = false;
  bool written = false;  // served from what a switch of this check "wrote" there
};

// A write the runner would make and the check only records.
struct RecordedWrite {
  std::string what;  // "global parameter file", "edited file", "printer report", "console file"
  std::string path;  // as the runner named it
  MappedPath mapped;
  size_t bytes = 0;
  bool would_fail = false;  // no mapping covers its folder: the runner's write would fail too
};

// Everything the world was asked, in order. The check reads it in ranges to say what each rule
// line or command line did.
struct Journal {
  std::vector<std::string> console;  // the runner's console lines
  std::vector<FileLookup> files;
  std::vector<RecordedWrite> writes;
  std::vector<std::string> associations;        // names the shell would have been asked about
  std::vector<std::string> environment_misses;  // names the runner's environment would answer
  std::vector<std::string> environment_given;   // names answered from --env
  bool clock_used = false;
  bool printers_asked = false;
  bool error_texts_used = false;
  int64_t bytes_read = 0;  // by rule searches
};

struct WorldOptions {
  std::map<std::string, std::string> environment;  // --env NAME=VALUE (names upper case)
  std::optional<core::LocalTime> now;              // --now; else this machine's clock
  conditions::NumberFormat number_format;
};

// The adapters, over one drive map and one journal. Files the check "wrote" are kept in memory,
// so later reads in the same check (a rule on an edited file) see what the runner would see.
class World {
 public:
  World(const DriveMap& drives, WorldOptions options);
  ~World();
  World(const World&) = delete;
  World& operator=(const World&) = delete;

  [[nodiscard]] Journal& journal() { return journal_; }
  const Journal& journal() const { return journal_; }
  const DriveMap& drives() const { return drives_; }
  const WorldOptions& options() const { return options_; }

  [[nodiscard]] core::ConsoleSink& console();
  const variables::Environment& environment() const;
  const variables::Clock& clock() const;
  const variables::DateNames& date_names() const;
  [[nodiscard]] variables::ParameterFiles& parameter_files();
  [[nodiscard]] conditions::RuleFiles& rule_files();
  [[nodiscard]] commands::FileAccess& file_access();
  [[nodiscard]] conditions::Pacer& pacer();
  [[nodiscard]] commands::PrinterSource& printers();
  const commands::Associations& associations() const;
  // Records the copy of the console text into `console_file` (the task's, trimmed).
  [[nodiscard]] commands::ConsoleFile& console_file(const std::string& console_file);

  // What a recorded write left at the path, when there was one.
  [[nodiscard]] const std::string* Written(const MappedPath& mapped) const;
  void Record(RecordedWrite write, std::string content);
  FileLookup& Look(std::string_view path);

 private:
  struct Adapters;
  const DriveMap& drives_;
  WorldOptions options_;
  Journal journal_;
  std::map<std::string, std::string> written_;  // by local path
  std::unique_ptr<Adapters> adapters_;
};

}  // namespace x5::ctl::check
