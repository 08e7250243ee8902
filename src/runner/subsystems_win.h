// The points where the main sequence, the launch and the job log call the other subsystems, with
// the runner-wide state they need taken from the run.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "cipher/secret_string.h"

namespace x5 {

struct Run;

// Defines the step variables and loads the global parameters.
void SetStepVariables(Run& run);
std::string ExpandVariables(Run& run,
                            std::string_view text,
                            bool decipher_passwords,
                            bool quote_empty);
int32_t AddVariable(Run& run, std::string_view name, std::string_view value);
// pass 2 before the step, 3 after it; returns the messages for the report text.
std::string EvaluateConditions(Run& run, int32_t pass);
// mode 2 executes the switches; 1 and 0 only show the command line.
std::string DispatchCommand(Run& run, std::string_view text, uint8_t mode);
// The value of a password variable (after its marker), deciphered for the step's environment.
SecretString DecipherVariableValue(std::string_view enciphered);

}  // namespace x5
