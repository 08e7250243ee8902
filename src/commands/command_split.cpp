// Cutting one command line into program token, parameters and "/X5" switch tail, and finding the
// program that runs it through the system's file associations.
#include "commands/command_split.h"

#include <optional>

#include "core/ascii_text.h"

namespace x5::commands {

namespace {

// Position of the last "/X5" in any case, or npos.
size_t LastSwitchPosition(std::string_view line) {
  if (line.size() < 3) {
    return std::string_view::npos;
  }
  for (size_t p = line.size() - 3 + 1; p-- > 0;) {
    if (line[p] == '/' && core::UpperAscii(line[p + 1]) == 'X' && line[p + 2] == '5') {
      return p;
    }
  }
  return std::string_view::npos;
}

// The lookup pads its fixed result buffer with NULs and may cut a path at a blank with one, so
// NULs become blanks before the path is trimmed.
std::string CleanLookupResult(std::string path) {
  for (char& c : path) {
    if (c == '\0') {
      c = ' ';
    }
  }
  return std::string(core::Trim(path));
}

// A leading backslash means the root of the current drive; the retry pins it to the runner's
// own drive. UNC paths ("\\server\...") already name their share and are left alone.
std::string WithRunnerDrive(const std::string& command, char drive) {
  if (drive == '\0') {
    return command;
  }
  const std::string prefix{drive, ':'};
  if (command.size() >= 2 && command[0] == '"' && command[1] == '\\' &&
      !(command.size() >= 3 && command[2] == '\\')) {
    return "\"" + prefix + command.substr(1);
  }
  if (!command.empty() && command[0] == '\\' && !(command.size() >= 2 && command[1] == '\\')) {
    return prefix + command;
  }
  return command;
}

// The extension of a program name (with its dot): after the last dot of the last path
// component only, so a dot in a folder name is not taken for one.
std::string_view ExtensionOf(std::string_view name) {
  const size_t component = name.find_last_of("\\/:");
  const size_t start = component == std::string_view::npos ? 0 : component + 1;
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot < start || dot + 1 == name.size()) {
    return {};
  }
  return name.substr(dot);
}

bool EndsWithIgnoringCase(std::string_view text, std::string_view tail) {
  if (tail.size() > text.size()) {
    return false;
  }
  const std::string_view end = text.substr(text.size() - tail.size());
  for (size_t i = 0; i < tail.size(); ++i) {
    if (core::UpperAscii(end[i]) != core::UpperAscii(tail[i])) {
      return false;
    }
  }
  return true;
}

bool ContainsIgnoringCase(std::string_view text, std::string_view what) {
  return core::UpperAscii(text).find(core::UpperAscii(what)) != std::string::npos;
}

}  // namespace

std::string SplitToken(std::string_view source, std::string& rest, bool strip_quotes) {
  rest.clear();
  const std::string_view text = core::Trim(source);
  if (text.empty()) {
    return {};
  }
  if (text.front() != '"') {
    const size_t blank = text.find(' ');
    if (blank == std::string_view::npos || blank == 0) {
      return std::string(text);
    }
    rest.assign(text.substr(blank));
    return std::string(text.substr(0, blank));
  }
  std::string token;
  token.reserve(text.size());
  if (!strip_quotes) {
    token.push_back('"');
  }
  const size_t last = text.size() - 1;
  for (size_t i = 1; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '"') {
      token.push_back(c);
      continue;
    }
    if (i == last) {  // closing quote at the very end
      if (!strip_quotes) {
        token.push_back('"');
      }
      return token;
    }
    if (text[i + 1] == '"') {  // a doubled quote stands for one
      token.append(strip_quotes ? 1 : 2, '"');
      ++i;
      continue;
    }
    if (!strip_quotes) {
      token.push_back('"');
    }
    rest.assign(text.substr(i + 1));
    return token;
  }
  return token;  // never closed: runs to the end
}

std::string SwitchTailOf(std::string_view line) {
  const std::string_view text = core::TrimLeft(line);
  const size_t p = LastSwitchPosition(text);
  if (p == std::string_view::npos) {
    return {};
  }
  std::string tail = " ";
  tail.append(text.substr(p));
  return tail;
}

CommandCuts FindCommandCuts(std::string_view line) {
  CommandCuts cuts;
  const size_t first = line.find_first_not_of(' ');
  if (first == std::string_view::npos) {
    return cuts;
  }
  cuts.begin = first;
  const std::string_view text = line.substr(first);
  const size_t p = LastSwitchPosition(text);
  if (p != std::string_view::npos) {
    cuts.switch_at = first + p;
  }
  const std::string_view command = core::Trim(text.substr(0, p));
  if (p == 0 || command.empty()) {
    return cuts;
  }
  cuts.command_end = first + command.size();
  std::string rest;
  SplitToken(command, rest, false);
  cuts.token_end = cuts.command_end - rest.size();
  return cuts;
}

void ParseCommandLine(CommandLineParts& parts,
                      std::string_view line,
                      const Associations& associations,
                      char runner_drive) {
  parts = CommandLineParts{};
  const std::string_view text = core::TrimLeft(line);
  if (text.empty()) {
    return;
  }

  std::string_view command = text;
  const size_t p = LastSwitchPosition(text);
  if (p != std::string_view::npos) {
    parts.switch_tail = " ";
    parts.switch_tail.append(text.substr(p));
    if (p == 0) {
      return;  // the line is only a switch
    }
    command = text.substr(0, p);
    if (core::Trim(command).empty()) {
      return;
    }
    size_t q = p + 3;
    if (q < text.size() && (text[q] == '+' || text[q] == '-')) {
      ++q;
    }
    if (q < text.size()) {
      parts.switch_argument.assign(core::Trim(text.substr(q)));
    }
  }

  // The written split stays in the record when the lookup fails, so the line runs as written.
  std::string written_parameters;
  const std::string written_name = SplitToken(command, written_parameters, true);
  const std::string written_token = SplitToken(command, written_parameters, false);

  std::string current(command);
  bool retried = false;
  std::string found;
  for (;;) {
    std::string ignored;
    parts.program_name = SplitToken(current, ignored, true);
    parts.program_token = SplitToken(current, parts.parameters, false);
    std::optional<std::string> path;
    // No program is named with a "*": such a name holds a masked password, which is never looked
    // up (the lookup would hand the system a text the console does not show).
    if (!parts.program_name.empty() && parts.program_name.find('*') == std::string::npos) {
      path = associations.FindExecutable(parts.program_name, "");
    }
    if (path) {
      found = CleanLookupResult(std::move(*path));
      if (!found.empty()) {
        break;
      }
    }
    std::string changed =
        retried || current.size() < 3 ? current : WithRunnerDrive(current, runner_drive);
    const bool may_retry = !retried && current.size() >= 3 && changed != current &&
                           !ContainsIgnoringCase(changed, ".X5") &&
                           changed.find('.', 1) != std::string::npos;
    if (!may_retry) {
      parts.program_name = written_name;
      parts.program_token = written_token;
      parts.parameters = written_parameters;
      return;
    }
    current = std::move(changed);
    retried = true;
  }

  const std::string_view extension = ExtensionOf(parts.program_name);
  parts.kind = extension.empty() || EndsWithIgnoringCase(found, extension) ? CommandKind::kProgram
                                                                           : CommandKind::kDocument;
  parts.associated_program = std::move(found);
}

}  // namespace x5::commands
