// Fuzzes the ciphers' input: deciphering arbitrary hexadecimal text and fields, and round trips
// of arbitrary passwords through both forms.
#include "cipher/password_cipher.h"
#include "fuzz_check.h"

using x5::fuzz::Check;
using x5::fuzz::FixedFill;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096)
    return 0;
  namespace R = x5::cipher;
  const std::string input = x5::fuzz::Text(data, size);

  const x5::core::SecretString variable = R::DecipherVariable(input);
  Check(variable.Size() <= R::kVariablePlainMax);
  const x5::core::SecretString field = R::DecipherField(input);
  Check(field.Size() <= R::kFieldPlainMax);
  Check(R::FromHex(input).size() <= size / 2);

  const std::string plain = input.substr(0, R::kVariablePlainMax);
  if (!plain.empty()) {
    // Upper-case hex of a length fixed by the password's.
    const std::string hex = R::EncipherVariable(plain, &FixedFill);
    Check(hex.size() == (plain.size() <= 5 ? 12 : 2 * (plain.size() + 1)));
    Check(hex.find_first_not_of("0123456789ABCDEF") == std::string::npos);
    Check(R::DecipherVariable(hex).View() == plain);
  }
  const std::string short_plain = input.substr(0, R::kFieldPlainMax);
  const std::string enciphered = R::EncipherField(short_plain, &FixedFill);
  Check(enciphered.size() == R::kFieldLength);
  Check(R::DecipherField(enciphered).View() == short_plain);
  return 0;
}
