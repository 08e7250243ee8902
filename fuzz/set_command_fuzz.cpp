// Fuzzes the SET switch: cutting of any switch text, and the command's effects on variables, the
// console and the step RC value.
#include "commands/testing/commands_test_support.h"
#include "commands/set_command.h"
#include "core/name_fold.h"
#include "fuzz_check.h"

using x5::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 16)
    return 0;
  const std::string text = "/X5S" + x5::fuzz::Text(data, size);
  const x5::commands::SetSwitch parsed = x5::commands::ParseSetSwitch(text);
  Check(parsed.assignments.size() <= x5::commands::kMaxSetAssignments);
  for (const x5::commands::SetAssignment& assignment : parsed.assignments) {
    Check(!assignment.name.empty());
    Check(assignment.name.front() != ' ' && assignment.name.back() != ' ');
    Check(parsed.delimiter == ' ' || assignment.value.find(parsed.delimiter) == std::string::npos);
    Check(assignment.name.size() + assignment.value.size() < text.size());
  }

  x5::commands::testing::CommandWorld world;
  const int32_t result = x5::commands::SetCommand(world.context, text, text);
  Check(result >= -1 && result <= 1);
  // Assignments are made in order until one names a variable badly (a control byte, say).
  size_t named_well = 0;
  while (named_well < parsed.assignments.size() &&
         x5::core::VariableNameProblem(parsed.assignments[named_well].name).empty())
    ++named_well;
  Check(world.variables.added.size() == named_well);
  Check((result == 1) == (!parsed.assignments.empty() && !parsed.invalid &&
                          named_well == parsed.assignments.size()));
  Check(world.rc.step_rc_value == (result == 1 ? 2 : 5));
  Check(world.console_file.saves == (result == 1 ? 0 : 1));
  return 0;
}
