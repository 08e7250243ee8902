// Fuzzes variable expansion: first byte = flags, the rest = the text to expand.
#include "cipher/password_cipher.h"
#include "variables/testing/test_fakes.h"
#include "variables/variables.h"
#include "fuzz_check.h"

using x5::fuzz::Check;
using x5::fuzz::FixedFill;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 1 << 16)
    return 0;
  const bool decipher = data[0] & 1;
  const bool quote = data[0] & 2;
  const std::string text = x5::fuzz::Text(data, size, 1);

  // Two runs that differ only in the password's value.
  auto expand = [&](const std::string& password) {
    x5::variables::testing::FakeRun run;
    run.table = {"X=1", "A=",
                 "P=" + std::string(1, x5::variables::kPasswordMarker) +
                     x5::cipher::EncipherVariable(password, &FixedFill),
                 "Q=" + std::string(1, x5::variables::kPasswordMarker) + "zz", "R=%X%"};
    run.environment.values = {{"PATH", "/bin"}, {"EMPTY", ""}};
    const std::string masked =
        x5::variables::ExpandVariables(run.context, text, x5::variables::kMaskPasswords, quote);
    const x5::core::Expansion both =
        x5::variables::ExpandVariables(run.context, text, x5::variables::kDecipherPasswords, quote);
    // The masked half of the deciphering pass is the masked expansion itself.
    Check(both.shown == masked);
    return decipher ? std::string(both.deciphered.View()) : masked;
  };
  const std::string out = expand("PlainSecretWord");
  if (text.find('%') == std::string::npos)
    Check(out == text);
  // A masked password leaves no trace of its value.
  if (!decipher)
    Check(out == expand("OtherSecretText"));

  // With nothing defined and no date pictures, every reference stays as written.
  x5::variables::testing::FakeRun empty;
  if (text.find('#') == std::string::npos)
    Check(x5::variables::ExpandVariables(empty.context, text, x5::variables::kMaskPasswords,
                                         quote) == text);
  return 0;
}
