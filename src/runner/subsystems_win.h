// The points where the main sequence and the job log call the other subsystems, with
// the runner-wide state they need taken from the run.
#pragma once

#include <string>
#include <string_view>

#include "commands/dispatcher.h"
#include "sequence/main_sequence.h"
#include "sequence/step_state.h"

namespace x5::runner {

struct Run;
struct RunInputs;
struct RunOutcome;
struct RunServices;

// One pass of the condition rules; returns the messages for the report text. It takes the whole
// run: the rules read the inputs and variables and set the RC, and between file chunks the pacer
// answers operator commands from the pipes, the outcome and the step's process.
std::string EvaluateConditions(Run& run, sequence::Pass pass);
// kExecute carries out the switches and gives the command line to run and its shown form; the
// other modes only give the shown form.
commands::DispatchedCommand DispatchCommand(const RunInputs& inputs,
                                            sequence::StepState& state,
                                            RunOutcome& outcome,
                                            RunServices& services,
                                            std::string_view text,
                                            commands::DispatchMode mode);

}  // namespace x5::runner
