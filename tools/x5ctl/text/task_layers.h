// A task read from several TOML tables at once (a job's defaults, a step's task file, the step's
// own keys), and the TOML reading the task files and job files share. Kept out of task_file.h so
// that only the readers compile the TOML library.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

// Parse errors come back as values, so no exception leaves a reader. Every file that reads TOML
// includes this header rather than the library's, so all of them agree on it.
#define TOML_EXCEPTIONS 0
#include <toml++/toml.h>

#include "core/result.h"
#include "protocol/protocol.h"
#include "x5ctl/text/task_file.h"

namespace x5::ctl::text {

// The text of a TOML file; a folder or a file that cannot be read is refused, named as `what`
// ("task file", "job file").
core::Result<std::string> ReadTomlFile(const std::string& path, std::string_view what);

// Parses TOML text; a refusal reads "NAME:LINE:COLUMN: message".
core::Result<toml::table> ParseToml(std::string_view toml_text, std::string_view source_name);

// "NAME:LINE: key: what", the form of every problem with a key.
std::string KeyProblem(const toml::node& node,
                       std::string_view source_name,
                       std::string_view key,
                       std::string_view what);

// One table of task keys and the file it came from. Keys in `skip` are the caller's own.
struct TaskLayer {
  const toml::table* table = nullptr;
  std::string source;
  std::vector<std::string> skip;
};

// Reads the layers over `start` in order: a key a later layer gives replaces an earlier one's, and
// what depends on all of them (the step directory from the step number, line ends, the variables
// block's delimiter, an enciphered password_plain, the lengths) is settled after the last.
core::Result<TaskFile> ReadTaskLayers(std::span<const TaskLayer> layers,
                                      const protocol::TaskRecord& start,
                                      const FieldEncipher& encipher_field);

}  // namespace x5::ctl::text
