// Deciphered texts stored back as password variables, in the form SETP lines give them.
#include "cipher/password_cipher.h"
#include "core/fault.h"
#include "variables/variables.h"

namespace x5::variables {

core::Added AddPasswordVariable(VariableContext& context,
                                std::string_view name,
                                std::string_view plain,
                                cipher::RandomFill fill) noexcept {
  try {
    std::string value(1, kPasswordMarker);
    if (!plain.empty()) {
      const std::string enciphered = cipher::EncipherVariable(plain, fill);
      if (enciphered.empty())
        return core::Added::kNotEnciphered;
      value += enciphered;
    }
    return AddVariable(context, name, value);
  } catch (...) {
    core::UnexpectedFault("AddPasswordVariable");
    return core::Added::kNotEnciphered;  // nothing was added
  }
}

}  // namespace x5::variables
