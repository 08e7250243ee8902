// Deciphered texts stored back as password variables, in the form SETP lines give them.
#include "cipher/password_cipher.h"
#include "core/fault.h"
#include "variables/variables.h"

namespace x5::variables {

int32_t AddPasswordVariable(VariableContext& context,
                            std::string_view name,
                            std::string_view plain,
                            cipher::RandomFill fill) noexcept {
  try {
    std::string value(1, kPasswordMarker);
    if (!plain.empty()) {
      const std::string enciphered = cipher::EncipherVariable(plain, fill);
      if (enciphered.empty())
        return 0;
      value += enciphered;
    }
    return AddVariable(context, name, value);
  } catch (...) {
    core::UnexpectedFault("AddPasswordVariable");
    return 0;  // nothing was added
  }
}

}  // namespace x5::variables
