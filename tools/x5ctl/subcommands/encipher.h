// `x5ctl encipher-field` and `x5ctl encipher-variable`: a password enciphered as the runner reads
// it, for a task file's password field or a SETP line.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>

namespace CLI {
class App;
}

namespace x5::ctl::subcommands {

enum class PasswordUse {
  kField,     // the task record's password field: a `password = "..."` line
  kVariable,  // a SETP line: hexadecimal text
};

// Prints the enciphered password; the exit status (subcommands/tool_exit.h).
[[nodiscard]] int RunEncipher(const std::string& password,
                              PasswordUse use,
                              std::ostream& out,
                              std::ostream& errors);

[[nodiscard]] std::function<int()> SetUpEncipherField(CLI::App& encipher);
[[nodiscard]] std::function<int()> SetUpEncipherVariable(CLI::App& encipher);

}  // namespace x5::ctl::subcommands
