// On Windows the runner starts directly: there is no Wine host to read or prepare.
#include "x5ctl/host/wine_host.h"

#include <cstdlib>

namespace x5::ctl::host {

WineHostFacts ReadWineHostFacts(std::string_view) {
  return {};
}

bool DisplayAnswers(const std::string&) {
  return false;
}

std::string DisplayProblem(const std::string&) {
  return {};
}

core::Result<StartedDisplay> StartVirtualDisplay(const std::string&) {
  return core::Failure{"a virtual display is for runners under Wine on Linux"};
}

void SetEnvironment(const std::string& name, const std::string& value, bool replace) {
  if (replace || std::getenv(name.c_str()) == nullptr)
    _putenv_s(name.c_str(), value.c_str());
}

core::Result<void> ClaimPrefix(const std::string&) {
  return core::Failure{"a Wine prefix is for runners under Wine on Linux"};
}

core::Result<std::string> WriteNewFileInPrefix(const std::string&,
                                               const std::vector<std::string>&,
                                               const std::string&,
                                               const std::string&,
                                               const std::string&) {
  return core::Failure{"a Wine prefix is for runners under Wine on Linux"};
}

void RemoveFileInPrefix(const std::string&, const std::vector<std::string>&, const std::string&) {}

core::Result<int> RunToEnd(const std::vector<std::string>& argv, const ChildErrors&) {
  return core::Failure{"cannot run " + (argv.empty() ? std::string() : argv[0]) + " here"};
}

}  // namespace x5::ctl::host
