// Fakes for the command tests: in-memory files, a scripted association table, a recording
// console, a simple expander and a context that ties them together.
#pragma once

#include <cstdint>
#include <map>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "cipher/password_cipher.h"
#include "commands/command_context.h"
#include "core/testing/recording_console.h"

namespace x5::commands::testing {

class CountingConsoleFile : public ConsoleFile {
 public:
  void Save() override { ++saves; }
  int saves = 0;
};

// Each variable made as "NAME=value"; a password's value in the TableExpander's form, "PW:" and
// the plain text.
class RecordingVariables : public core::VariableStore {
 public:
  core::Added AddVariable(std::string_view name, std::string_view value) override {
    added.push_back(std::string(name) + "=" + std::string(value));
    return core::Added::kDefined;
  }
  core::Added AddPassword(std::string_view name, std::string_view plain) override {
    if (plain.size() > cipher::kVariablePlainMax)
      return core::Added::kNotEnciphered;
    return AddVariable(name, "PW:" + std::string(plain));
  }
  std::vector<std::string> added;
};

// %NAME% references from a table. A value starting with "PW:" is a password: deciphered it is the
// rest, masked "*****". An empty value gives "" with quote_empty. Unknown names stay as written.
class TableExpander : public core::Expander {
 public:
  std::string Expand(std::string_view text, bool quote_empty) override {
    return Table(text, quote_empty).shown;
  }
  core::Expansion ExpandDeciphered(std::string_view text, bool quote_empty) override {
    return Table(text, quote_empty);
  }
  core::SecretString ExpandSecret(const core::SecretString& text, bool quote_empty) override {
    return core::SecretString(Table(text.View(), quote_empty).shown);
  }
  std::map<std::string, std::string> values;
  bool out_of_memory = false;

 private:
  core::Expansion Table(std::string_view text, bool quote_empty) {
    if (out_of_memory)
      throw std::bad_alloc();
    core::Expansion out;
    size_t start = 0;
    while (start < text.size()) {
      const size_t open = text.find('%', start);
      const size_t close = open == std::string_view::npos ? open : text.find('%', open + 1);
      const auto found = close == std::string_view::npos
                             ? values.end()
                             : values.find(std::string(text.substr(open + 1, close - open - 1)));
      const size_t copy_end =
          found == values.end() ? (close == std::string_view::npos ? text.size() : close) : open;
      out.deciphered.Append(text.substr(start, copy_end - start));
      out.shown.append(text.substr(start, copy_end - start));
      start = copy_end;
      if (found == values.end())
        continue;
      const std::string& value = found->second;
      if (value.starts_with("PW:")) {
        out.passwords.push_back({out.shown.size(), out.deciphered.Size(), value.size() - 3});
        out.deciphered.Append(std::string_view(value).substr(3));
        out.shown.append("*****");
      } else {
        const std::string by = value.empty() && quote_empty ? "\"\"" : value;
        out.deciphered.Append(by);
        out.shown.append(by);
      }
      start = close + 1;
    }
    return out;
  }
};

class TableAssociations : public Associations {
 public:
  std::optional<std::string> FindExecutable(std::string_view document,
                                            std::string_view) const override {
    lookups.emplace_back(document);
    const auto found = paths.find(std::string(document));
    if (found == paths.end())
      return std::nullopt;
    return found->second;
  }
  std::map<std::string, std::string> paths;
  mutable std::vector<std::string> lookups;
};

class MemoryFiles : public FileAccess {
 public:
  ReadOutcome ReadWhole(std::string_view path, int64_t max_bytes, std::string& into) override {
    into.clear();
    ++reads[std::string(path)];
    if (read_error != 0)
      return {ReadOutcome::State::kReadFailed, 0, read_error};
    const auto found = files.find(std::string(path));
    if (found == files.end())
      return {ReadOutcome::State::kMissing, 0, 2};
    const auto size = static_cast<int64_t>(found->second.size());
    if (size > max_bytes)
      return {ReadOutcome::State::kTooLarge, size, 0};
    into = found->second;
    return {ReadOutcome::State::kRead, size, 0};
  }
  WriteOutcome WriteAtomically(std::string_view path, std::string_view content) override {
    ++writes[std::string(path)];
    if (write_failure != WriteOutcome::State::kWritten)
      return {write_failure, 5};
    files[std::string(path)] = std::string(content);
    return {WriteOutcome::State::kWritten, 0};
  }
  WriteOutcome WriteJobFile(std::string_view path,
                            std::string_view content,
                            std::string& refused) override {
    return (refused = refusal).empty() ? WriteAtomically(path, content)
                                       : WriteOutcome{WriteOutcome::State::kWriteFailed, 5};
  }
  std::string ErrorText(int32_t error) override { return "Error text " + std::to_string(error); }

  std::map<std::string, std::string> files;
  std::string refusal;  // a job-folder write is refused with this line
  std::map<std::string, int> reads;
  std::map<std::string, int> writes;
  int32_t read_error = 0;
  WriteOutcome::State write_failure = WriteOutcome::State::kWritten;
};

// The installed printers; those that open have a description and comment.
class ListedPrinters : public commands::PrinterSource {
 public:
  std::vector<commands::PrinterEntry> Installed() override { return installed; }
  bool Describe(const std::string& device_name,
                std::string& description,
                std::string& comment) override {
    const auto found = opening.find(device_name);
    if (found != opening.end())
      std::tie(description, comment) = found->second;
    return found != opening.end();
  }
  std::vector<commands::PrinterEntry> installed;
  std::map<std::string, std::pair<std::string, std::string>> opening;
};

// Everything a command needs, owned in one place.
struct CommandWorld {
  TableExpander expander;
  RecordingVariables variables;
  core::testing::RecordingConsole console;
  CountingConsoleFile console_file;
  TableAssociations associations;
  MemoryFiles files;
  ListedPrinters printers;
  // maximum, task, step minimum and step maximum RC, no abend mode, the step RC value
  core::RcState rc{8, 2, 1, 4, false, 2};
  SwitchState state;
  std::string directory = "C:\\Jobs\\J1\\S1\\";
  CommandContext context{.expander = expander,
                         .variables = variables,
                         .console = console,
                         .console_file = console_file,
                         .associations = associations,
                         .files = files,
                         .printers = printers,
                         .rc = rc,
                         .state = state,
                         .global_parameter_directory = directory,
                         .runner_drive = 'D'};
};

}  // namespace x5::commands::testing
