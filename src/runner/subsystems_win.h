// The points where the main sequence and the job log call the other subsystems, with
// the runner-wide state they need taken from the run.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/secret_string.h"
#include "commands/dispatcher.h"
#include "variables/variables.h"

namespace x5 {

struct Run;

// Defines the step variables and loads the global parameters.
void SetStepVariables(Run& run);
// Passwords masked: for everything the runner shows or reads itself.
std::string ExpandVariables(Run& run, std::string_view text, MaskPasswords, bool quote_empty);
// Passwords deciphered (and masked in the same pass): only for what is handed to the step.
Expansion ExpandVariables(Run& run, std::string_view text, DecipherPasswords, bool quote_empty);
// A text that holds deciphered passwords, expanded again: it stays secret.
SecretString ExpandVariables(Run& run, const SecretString& text, MaskPasswords, bool quote_empty);
int32_t AddVariable(Run& run, std::string_view name, std::string_view value);
// pass 2 before the step, 3 after it; returns the messages for the report text.
std::string EvaluateConditions(Run& run, int32_t pass);
// mode 2 executes the switches and gives the command line to run and its shown form; 1 and 0
// only give the shown form.
DispatchedCommand DispatchCommand(Run& run, std::string_view text, uint8_t mode);

}  // namespace x5
