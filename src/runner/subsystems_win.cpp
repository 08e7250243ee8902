// The points where the main sequence, the launch and the job log call the other subsystems.
#include "runner/subsystems_win.h"

#include "cipher/password_cipher.h"
#include "runner/run_win.h"

namespace x5 {

void SetStepVariables(Run& run) {
  VariableContext context = VariablesOf(run);
  (void)x5::SetStepVariables(context);
}

std::string ExpandVariables(Run& run,
                            std::string_view text,
                            bool decipher_passwords,
                            bool quote_empty) {
  return x5::ExpandVariables(VariablesOf(run), text, decipher_passwords, quote_empty);
}

int32_t AddVariable(Run& run, std::string_view name, std::string_view value) {
  VariableContext context = VariablesOf(run);
  return x5::AddVariable(context, name, value);
}

std::string EvaluateConditions(Run&, int32_t) {
  return {};
}

std::string DispatchCommand(Run&, std::string_view text, uint8_t) {
  std::string result;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find("\r\n", pos);
    std::string_view line = text.substr(pos, end == std::string_view::npos ? text.npos : end - pos);
    if (!line.empty()) {
      if (!result.empty())
        result += '&';
      result += line;
    }
    if (end == std::string_view::npos)
      break;
    pos = end + 2;
  }
  return result;
}

SecretString DecipherVariableValue(std::string_view enciphered) {
  return Rozavadedo::DecipherVariable(enciphered);
}

}  // namespace x5
