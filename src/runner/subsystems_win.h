// The points where the main sequence and the job log call the other subsystems, with
// the runner-wide state they need taken from the run.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/secret_string.h"
#include "commands/dispatcher.h"
#include "sequence/main_sequence.h"
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
// One pass of the condition rules; returns the messages for the report text.
std::string EvaluateConditions(Run& run, sequence::Pass pass);
// kExecute carries out the switches and gives the command line to run and its shown form; the
// other modes only give the shown form.
DispatchedCommand DispatchCommand(Run& run, std::string_view text, DispatchMode mode);

}  // namespace x5
