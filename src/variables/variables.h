// The runner variable table, variable expansion, step variables, SET lines and global parameter
// files, with the context they work in.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cipher/random_source.h"
#include "core/name_fold.h"
#include "core/secret_string.h"
#include "core/interfaces.h"
#include "core/result.h"
#include "protocol/protocol.h"
#include "variables/date_picture.h"

namespace x5::variables {

// First character of a password variable's value; the enciphered password follows it.
inline constexpr char kPasswordMarker = '\xFF';
// Longest name looked up in the table and the environment.
inline constexpr size_t kMaxVariableName = 30;
// Longest date picture name, both "#" included.
inline constexpr size_t kMaxDatePictureName = 100;
// Suffix of a global parameter file after the parameter's name.
inline constexpr std::string_view kGlobalParameterSuffix = ".$$$";

// Local wall-clock time.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual core::LocalTime Now() const = 0;
};

// The runner process's own environment.
class Environment {
 public:
  virtual ~Environment() = default;
  // The whole value, however long; nullopt when the variable is not defined.
  virtual std::optional<std::string> Get(std::string_view name) const = 0;
};

// Most global parameter files loaded, and most bytes of their first lines together: a folder the
// step's user can fill must not make the variable table (and the step's environment) unbounded.
inline constexpr size_t kMaxParameterFiles = 10000;
inline constexpr size_t kMaxParameterBytes = size_t{16} << 20;

struct ParameterListing {
  std::vector<std::string> names;  // in listing order
  size_t left_out = 0;             // further matching names beyond the number asked for
  std::string refusal;             // the console line when the folder was not listed: a link
};

// Global parameter files on disk. Paths use "\" as the runner builds them.
class ParameterFiles {
 public:
  virtual ~ParameterFiles() = default;
  // Names (without the directory) of at most `max_names` plain files matching *.$$$ by their
  // real names in `directory` (which ends with "\"), in listing order; none when the directory
  // cannot be listed.
  [[nodiscard]] virtual ParameterListing List(const std::string& directory, size_t max_names) = 0;
  // The file's first line without its line end; nullopt when the file cannot be read.
  [[nodiscard]] virtual std::optional<std::string> ReadFirstLine(const std::string& path) = 0;
  // Replaces the file's content so that a reader sees the old content or the whole new one,
  // never a part. A file or folder that is a link is not written: the write fails and `refusal`
  // holds the console line that says so.
  virtual core::Result<void> WriteAtomically(const std::string& path,
                                             std::string_view content,
                                             std::string& refusal) = 0;
};

// Where SetStepVariables took a variable from.
enum class VariableOrigin {
  kGlobalParameterFile,  // NAME$.$$$ in the step's folder
  kTask,                 // X5S to X5TRC, from the task record
  kSetLine,              // a SET line of the variables block
  kSetpLine,             // a SETP line: a password
  kWorkingDirectory,     // X5W
};

// Told of each variable SetStepVariables defines (the runner has none; a tool that shows where
// each variable came from does).
class VariableObserver {
 public:
  virtual ~VariableObserver() = default;
  // The table's entry at `index` came from `origin`; `source` is the global parameter file's path.
  virtual void Defined(size_t index, VariableOrigin origin, std::string_view source) = 0;
};

// Everything the variable routines read and change; the references point into the runner-wide
// state and must outlive the context.
struct VariableContext {
  std::vector<std::string>& table;  // the runner variable table, "NAME=value" in order
  const protocol::TaskRecord& task;
  std::string_view variables_text;  // the variables block
  char list_delimiter = ';';
  std::string& global_parameter_directory;  // empty until the global parameters are loaded
  core::ConsoleSink& console;
  const Environment& environment;
  const Clock& clock;
  const DateNames& date_names;
  ParameterFiles& files;
  // How names compare: as the system compares environment names, so that a name the table holds
  // is never taken from the environment.
  const core::NameFold& names = core::kWesternNameFold;
  VariableObserver* observer = nullptr;
};

// ------------------------------------------------------------------------------ variable table

// The value of the first entry named `name` (compared as `names` folds them); nullopt when there
// is none.
[[nodiscard]] std::optional<std::string_view> FindVariable(
    const std::vector<std::string>& table,
    std::string_view name,
    const core::NameFold& names = core::kWesternNameFold) noexcept;

// ------------------------------------------------------------------------------ expansion

// How an expansion treats password values. The choice is a type, so that a deciphered text can
// only come back in the wiping string type.
struct MaskPasswords {};
struct DecipherPasswords {};
inline constexpr MaskPasswords kMaskPasswords{};
inline constexpr DecipherPasswords kDecipherPasswords{};

// Replaces every %NAME% whose name resolves; references that resolve to nothing stay as written.
// A variable defined empty expands to "" (two quotes) when `quote_empty` is true, else to nothing.
// Password values are shown as "*****".
std::string ExpandVariables(const VariableContext& context,
                            std::string_view text,
                            MaskPasswords,
                            bool quote_empty) noexcept;
// Password values deciphered, and in the same pass masked: only for texts handed to the step.
[[nodiscard]] core::Expansion ExpandVariables(const VariableContext& context,
                                              std::string_view text,
                                              DecipherPasswords,
                                              bool quote_empty) noexcept;
// A text that already holds deciphered passwords stays secret, whatever it is expanded with.
[[nodiscard]] core::SecretString ExpandVariables(const VariableContext& context,
                                                 const core::SecretString& text,
                                                 MaskPasswords,
                                                 bool quote_empty) noexcept;

// ------------------------------------------------------------------------------ step variables

struct SetLineResult {
  int32_t next = -1;  // > 0 where the next line starts, 0 last line, -1 stop
  std::string name;
  std::string value;
};

// Parses the SET or SETP line that starts at the 1-based `position` of `text`.
[[nodiscard]] SetLineResult ParseSetLine(int32_t position, std::string_view text);

// The variables block with every list delimiter replaced by CR LF.
std::string VariablesBlockLines(std::string_view block, char list_delimiter);

// The value a global parameter file's first line holds (quotes removed).
std::string ParameterFileValue(std::string_view first_line);

// Why `name` cannot be a global parameter file, written or loaded; empty when it can.
[[nodiscard]] std::string_view GlobalParameterNameProblem(std::string_view name) noexcept;

// Appends NAME=value to the table; a global parameter (name ending in "$") set after the loading
// is also written to its file. A name no variable can have is refused (the console says why); a
// file that cannot be written leaves the variable defined all the same.
core::Added AddVariable(VariableContext& context,
                        std::string_view name,
                        std::string_view value) noexcept;
core::Added AddVariable(VariableContext& context, std::string_view name, int64_t value) noexcept;

// Adds a deciphered text as a password variable: the password marker and the text enciphered
// with filler from `fill`, as a SETP line stores it, so neither the table nor a global parameter
// file holds it plain. An empty text gives the marker alone. What AddVariable gives, or
// kNotEnciphered when the text cannot be enciphered (longer than the variable cipher carries, or
// no filler); nothing is added then.
core::Added AddPasswordVariable(VariableContext& context,
                                std::string_view name,
                                std::string_view plain,
                                cipher::RandomFill fill) noexcept;

// Loads the global parameters, defines the X5 variables of the task and the SET lines of the
// variables block, then X5W. Returns the number of variables defined.
int32_t SetStepVariables(VariableContext& context) noexcept;

// ------------------------------------------------------------------------------ seams

// Expansion for the subsystems that take an Expander.
class ContextExpander final : public core::Expander {
 public:
  explicit ContextExpander(const VariableContext& context) : context_(context) {}
  std::string Expand(std::string_view text, bool quote_empty) override {
    return ExpandVariables(context_, text, kMaskPasswords, quote_empty);
  }
  core::Expansion ExpandDeciphered(std::string_view text, bool quote_empty) override {
    return ExpandVariables(context_, text, kDecipherPasswords, quote_empty);
  }
  core::SecretString ExpandSecret(const core::SecretString& text, bool quote_empty) override {
    return ExpandVariables(context_, text, kMaskPasswords, quote_empty);
  }

 private:
  const VariableContext& context_;
};

// AddVariable for the subsystems that take a VariableStore.
class ContextVariableStore final : public core::VariableStore {
 public:
  // `fill` enciphers the passwords it is given; without one it keeps none.
  explicit ContextVariableStore(VariableContext& context, cipher::RandomFill fill = nullptr)
      : context_(context), fill_(fill) {}
  core::Added AddVariable(std::string_view name, std::string_view value) override {
    return x5::variables::AddVariable(context_, name, value);
  }
  core::Added AddPassword(std::string_view name, std::string_view plain) override {
    return fill_ != nullptr ? AddPasswordVariable(context_, name, plain, fill_)
                            : core::Added::kNotEnciphered;
  }

 private:
  VariableContext& context_;
  cipher::RandomFill fill_;
};

}  // namespace x5::variables
