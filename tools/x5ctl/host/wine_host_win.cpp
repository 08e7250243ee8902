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

core::Result<StartedDisplay> StartVirtualDisplay() {
  return core::Failure{"a virtual display is for runners under Wine on Linux"};
}

void SetEnvironment(const std::string& name, const std::string& value, bool replace) {
  if (replace || std::getenv(name.c_str()) == nullptr)
    _putenv_s(name.c_str(), value.c_str());
}

core::Result<int> RunToEnd(const std::vector<std::string>& argv) {
  return core::Failure{"cannot run " + (argv.empty() ? std::string() : argv[0]) + " here"};
}

}  // namespace x5::ctl::host
