// The portable half of the Wine host: what the runner needs and how a missing piece is named.
#include "x5ctl/host/wine_host.h"

#include "core/machine_key.h"

namespace x5::ctl::host {

std::string RunnerPrefixRegistry() {
  return "REGEDIT4\r\n\r\n"
         // Consoles of 120 x 30, the window's size: Wine's console host keeps a picture of the
         // whole buffer, so the 9001 rows of a current Windows cost 540 MB for every console
         // started here (every runner's, until it sizes its own, 90 rows: hundreds at once
         // exhaust the memory). The runner keeps the history in its console file.
         "[HKEY_CURRENT_USER\\Console]\r\n"
         "\"ScreenBufferSize\"=dword:001e0078\r\n"
         "\"WindowSize\"=dword:001e0078\r\n\r\n"
         "[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\r\n"
         "\"ShowCrashDialog\"=dword:00000000\r\n\r\n"
         "[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"
         "\"Managed\"=\"N\"\r\n\r\n"
         "[HKEY_LOCAL_MACHINE\\" +
         std::string(core::kRunnersMachineKey) + "]\r\n\r\n";
}

WineCommandParts SplitWineCommand(std::string_view wine_command) {
  WineCommandParts parts;
  size_t pos = 0;
  while (pos < wine_command.size()) {
    const size_t start = wine_command.find_first_not_of(" \t", pos);
    if (start == std::string_view::npos)
      break;
    size_t end = wine_command.find_first_of(" \t", start);
    if (end == std::string_view::npos)
      end = wine_command.size();
    const std::string word(wine_command.substr(start, end - start));
    pos = end;
    const size_t equals = word.find('=');
    if (word == "env" && parts.settings.empty())
      continue;
    if (equals != std::string::npos && equals > 0) {
      parts.settings.emplace_back(word.substr(0, equals), word.substr(equals + 1));
      continue;
    }
    parts.program = word;
    break;
  }
  return parts;
}

std::string WineHostProblem(const WineHostFacts& facts) {
  if (!facts.uses_wine)
    return {};
  std::vector<std::string> missing;
  if (!facts.wine_found)
    missing.push_back(facts.wine_program + " is not installed (not found on PATH)");
  if (facts.display.empty())
    missing.push_back("no display for the runner's console: DISPLAY is not set");
  else if (facts.display_local && !facts.display_answers)
    missing.push_back("no display for the runner's console: no X server answers on DISPLAY=" +
                      facts.display);
  else if (!facts.display_problem.empty())
    missing.push_back("no display for the runner's console: " + facts.display_problem);
  const std::string where = facts.prefix_named
                                ? "WINEPREFIX=" + facts.prefix
                                : "WINEPREFIX is not set and the default prefix " + facts.prefix;
  if (!facts.prefix_exists)
    missing.push_back("no Wine prefix: " + where + " does not exist");
  else if (!facts.prefix_built)
    missing.push_back("no Wine prefix: " + where + " is not a built prefix (it has no system.reg)");
  if (missing.empty())
    return {};
  std::string message = "the runner cannot start here: ";
  for (size_t i = 0; i < missing.size(); ++i)
    message += (i == 0 ? "" : "; ") + missing[i];
  return message +
         ". `x5ctl setup-host` prepares a prefix and a display and prints the WINEPREFIX, DISPLAY "
         "and XAUTHORITY lines to set";
}

std::string DefaultWinePrefix() {
  const std::string data = EnvOr("XDG_DATA_HOME");
  return (data.empty() ? EnvOr("HOME", "/root") + "/.local/share" : data) + "/x5runner/wine-prefix";
}

std::optional<int> LocalDisplayNumber(std::string_view display) {
  if (display.starts_with("unix:"))
    display.remove_prefix(4);
  if (!display.starts_with(":"))
    return std::nullopt;
  display.remove_prefix(1);
  // Digits, then optionally "." and the screen's digits, and nothing else.
  auto digits = [](std::string_view part) {
    return !part.empty() && part.size() <= 5 &&
           part.find_first_not_of("0123456789") == std::string_view::npos;
  };
  const size_t dot = display.find('.');
  const std::string_view number = display.substr(0, dot);
  if (!digits(number) || (dot != std::string_view::npos && !digits(display.substr(dot + 1))))
    return std::nullopt;
  int value = 0;
  for (char c : number)
    value = value * 10 + (c - '0');
  return value;
}

std::string UnsafeInLine(std::string_view value) {
  if (value.empty())
    return "it is empty";
  for (const char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F)
      return "it holds a control character";
    if (c == '\'' || c == '\\' || c == '$' || c == '`')
      return std::string("it holds the character ") + c;
  }
  return {};
}

std::string SchedulerEnvironment(const std::string& prefix,
                                 const std::string& display,
                                 const std::string& xauthority) {
  std::string lines = "WINEPREFIX='" + prefix + "'\nDISPLAY='" + display + "'\n";
  if (!xauthority.empty())
    lines += "XAUTHORITY='" + xauthority + "'\n";
  return lines;
}

}  // namespace x5::ctl::host
