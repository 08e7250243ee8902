#include "x5ctl/subcommands/encipher.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <memory>
#include <optional>

#include "cipher/password_cipher.h"
#include "x5ctl/subcommands/tool_exit.h"
#include "x5ctl/text/ansi_text.h"
#include "x5ctl/text/format.h"

namespace x5::ctl::subcommands {
namespace {

std::function<int()> SetUpEncipher(CLI::App& encipher, PasswordUse use) {
  const bool field = use == PasswordUse::kField;
  auto password = std::make_shared<std::string>();
  encipher
      .add_option("password", *password,
                  field ? "Plain password (at most 39 characters)"
                        : "Plain password (at most 127 characters)")
      ->required();
  if (field) {
    encipher.footer(
        "Prints a `password = \"...\"` line for a task file: the 40 enciphered bytes, with\n"
        "everything but printable ASCII written as \\u00XX. A task file may instead hold the\n"
        "plain password as password_plain; x5ctl then enciphers it itself.\n\n" +
        std::string(kToolExitStatusHelp));
  } else {
    encipher.footer(kToolExitStatusHelp);
  }
  return [password, use] { return RunEncipher(*password, use, std::cout, std::cerr); };
}

}  // namespace

int RunEncipher(const std::string& password,
                PasswordUse use,
                std::ostream& out,
                std::ostream& errors) {
  core::Result<std::string> plain = text::AnsiFromUtf8(password);
  if (!plain) {
    errors << text::ProblemLine(plain.failure().text);
    return kToolUsage;
  }
  if (use == PasswordUse::kField) {
    const std::string cipher = cipher::EncipherField(*plain);
    if (cipher.empty()) {
      errors << "x5ctl: the password cannot be enciphered (at most " << cipher::kFieldPlainMax
             << " characters)\n";
      return kToolUsage;
    }
    out << "password = " << text::TomlString(cipher) << "\n";
    return kToolDone;
  }
  const std::string cipher = cipher::EncipherVariable(*plain);
  if (cipher.empty()) {
    errors << "x5ctl: the password cannot be enciphered (1 to " << cipher::kVariablePlainMax
           << " characters)\n";
    return kToolUsage;
  }
  out << cipher << "\n";
  return kToolDone;
}

std::function<int()> SetUpEncipherField(CLI::App& encipher) {
  return SetUpEncipher(encipher, PasswordUse::kField);
}

std::function<int()> SetUpEncipherVariable(CLI::App& encipher) {
  return SetUpEncipher(encipher, PasswordUse::kVariable);
}

}  // namespace x5::ctl::subcommands
