// A complete in-memory setting for evaluating condition rules: console, variables, return-code
// state, files and pacer that record what happens. Used by tests and the rule fuzzer.
#pragma once

#include <string>
#include <vector>

#include "conditions/file_rule.h"
#include "conditions/testing/memory_files.h"
#include "conditions/rule_language.h"

namespace x5::conditions::testing {

struct RuleHarness : core::ConsoleSink, core::VariableStore {
  void Line(std::string_view text) override { console.emplace_back(text); }
  core::Added AddVariable(std::string_view name, std::string_view value) override {
    variables.push_back(std::string(name) + "=" + std::string(value));
    return core::Added::kDefined;
  }

  // All passes' lines of `text` in the given pass.
  std::string Run(Pass pass, std::string_view text) {
    return EvaluateConditions(context, settings, pass, text);
  }
  // One before-step line, backward unless `forward`.
  std::string Line1(std::string_view line, bool forward = false) {
    return EvaluateRuleLine(context, settings, Pass::kBeforeStep, line, 1, false, forward);
  }

  std::vector<std::string> console;
  std::vector<std::string> variables;
  core::RcState rc;
  MemoryRuleFiles files;
  RecordingPacer pacer;
  RuleSettings settings;
  ConditionContext context{ConditionLimits{}, rc, *this, *this, pacer, files};
};

}  // namespace x5::conditions::testing
