// What the variables, rules and switches set as the main sequence goes, and what later stages
// read again: the runner and `x5ctl check` keep it alike, in one shape.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "commands/command_context.h"
#include "conditions/rule_settings.h"

namespace x5::sequence {

struct StepState {
  std::vector<std::string> variables;  // the runner variable table, "NAME=value"
  std::string global_parameter_directory;
  std::string condition_rules;             // the rules block, variables expanded
  conditions::RuleSettings rule_settings;  // kept across the checks before and after the step
  commands::SwitchState switches;          // picture settings, "/X5?" and the pending edit
};

}  // namespace x5::sequence
