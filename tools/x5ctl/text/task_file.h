// Task files: a readable TOML description of one step, turned into the task record, its text
// blocks and the operator commands to send. Also the one-line form of an operator command.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"
#include "protocol/protocol.h"

namespace x5::ctl::text {

// The three text blocks exactly as they go down the pipe. `variables` already starts with its
// list delimiter when the task uses one other than ";".
struct TaskBlocks {
  std::string command;
  std::string conditions;
  std::string variables;
};

// The record a task file starts from; every value a task file leaves out comes from here (the
// values are listed in docs/x5ctl.md). The step directory, left empty here, is derived from the
// step number when a task file does not name it.
[[nodiscard]] protocol::TaskRecord DefaultTaskRecord();

// Sets the three length fields to the sizes of the blocks.
void FillBlockLengths(protocol::TaskRecord& task, const TaskBlocks& blocks);

// The 1085 record bytes followed by the three blocks. The blocks are sent whole, whatever the
// length fields say, so a record can announce lengths that disagree with what follows.
[[nodiscard]] std::vector<uint8_t> EncodeTaskStream(const protocol::TaskRecord& task,
                                                    const TaskBlocks& blocks);

// One thing to do in a conversation: send an operator command, pause, or close the runner's input.
struct OpStep {
  enum class Kind { kSend, kSleep, kClose };
  Kind kind = Kind::kSend;
  std::string name;      // kSend: exactly 4 characters, blank padded ("END" becomes "END ")
  int32_t argument = 0;  // kSend
  int64_t delay_ms = 0;  // wait this long first (kSleep: the whole pause)
};

// Reads one op line: "NAME [ARGUMENT]" (NAME of 1 to 4 characters, sent as written, case
// included; ARGUMENT a 32-bit integer, decimal or 0x hexadecimal, default 0), "sleep MS", or
// "close". Blank lines and lines starting with '#' give no step; a line not understood fails.
core::Result<std::optional<OpStep>> ParseOpLine(std::string_view line);

// The `ops = [...]` line of a task file that reads back as these steps ("" for none).
std::string FormatOps(const std::vector<OpStep>& ops);

// Gives the 40-character enciphered password field for a plain password, or "" when the password
// cannot be enciphered.
using FieldEncipher = std::function<std::string(std::string_view)>;

struct TaskFile {
  protocol::TaskRecord task;  // length fields set (from the blocks, or from [raw])
  TaskBlocks blocks;
  std::vector<OpStep> ops;          // the file's `ops` list
  std::string extra;                // [raw] extra: bytes sent right after the blocks
  std::optional<size_t> send_only;  // [raw] send_only: send just this many leading bytes

  // What x5ctl writes to the runner before the first operator command.
  [[nodiscard]] std::vector<uint8_t> Stream() const;
};

// Parses a task file's text. Every key must be known; values are range-checked and text is
// converted to ANSI bytes. `encipher_field` serves the password_plain key. A refusal's text is
// "NAME:LINE: message".
core::Result<TaskFile> ParseTaskFile(std::string_view toml_text,
                                     std::string_view source_name,
                                     const FieldEncipher& encipher_field = {});

// The runner's own cipher for the task record's password field: what password_plain becomes.
std::string EncipherPasswordField(std::string_view plain);

// Reads and parses the file at `path`.
core::Result<TaskFile> LoadTaskFile(const std::string& path,
                                    const FieldEncipher& encipher_field = {});

}  // namespace x5::ctl::text
