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
  int32_t picture_interval = 200;
  std::string picture_type = "JPG";
  bool show_resolved = false;  // "/X5?": the job log shows the command as it runs
  commands::PendingEdit edit;
  int32_t last_result = 0;
};

}  // namespace x5::sequence
