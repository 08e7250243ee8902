// Expansion of %NAME% references: table, environment, date pictures, passwords, empty values.
#include "variables/variables.h"

#include <gtest/gtest.h>

#include "cipher/password_cipher.h"
#include "variables/testing/test_fakes.h"

namespace x5::variables {
namespace {

using testing::FakeRun;

class ExpandVariablesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    run_.table = {"X=1",
                  "A=",
                  std::string("P=") + kPasswordMarker + cipher::EncipherVariable("s3cret"),
                  std::string("Q=") + kPasswordMarker,
                  "D=first",
                  "d=second",
                  "R=%X%",
                  "Name With Blanks=ok",
                  "=hidden"};  // an empty name ("%%") is never a reference
    run_.environment.values = {{"PATH", "/usr/bin"},
                               {"EMPTYENV", ""},
                               {std::string(30, 'E'), "thirty"},
                               {std::string(31, 'E'), "thirty-one"},
                               {"X", "from the environment"},
                               {"PW", "s3cr"}};
  }
  // The deciphering pass also gives the masked form, which must be the masked expansion's.
  std::string Expand(std::string_view text, bool decipher = false, bool quote = false) {
    const std::string masked = ExpandVariables(run_.context, text, kMaskPasswords, quote);
    if (!decipher)
      return masked;
    const core::Expansion both = ExpandVariables(run_.context, text, kDecipherPasswords, quote);
    EXPECT_EQ(both.shown, masked) << text;
    return std::string(both.deciphered.View());
  }
  variables::testing::FakeRun run_;
};

TEST_F(ExpandVariablesTest, Table) {
  struct Case {
    std::string text;
    bool decipher, quote;
    std::string want;
  };
  const std::string e30 = std::string(30, 'E');
  const std::string e31 = std::string(31, 'E');
  const Case cases[] = {
      {"%X", false, false, "%X"},
      {"%UNDEFINED%", false, false, "%UNDEFINED%"},
      {"50% of %X%", false, false, "50% of 1"},
      {"%X%-%x%.%X", false, false, "1-1.%X"},
      {"%%", false, false, "%%"},
      {"%%X%", false, false, "%1"},
      {"%A%xyz", false, false, "xyz"},
      {"%A%xyz", false, true, "\"\"xyz"},
      {"-p %P%", false, false, "-p *****"},
      {"-p %P%", true, false, "-p s3cret"},
      {"[%Q%]", false, false, "[*****]"},
      {"[%Q%]", true, false, "[]"},
      {"%path%|%PATH%", false, false, "/usr/bin|/usr/bin"},
      {"%EMPTYENV%", false, false, "%EMPTYENV%"},
      {"%" + e30 + "%", false, false, "thirty"},
      {"%" + e31 + "%", false, false, "%" + e31 + "%"},
      {"%R%", false, false, "%X%"},  // a value is not expanded again
      // A name no variable can have is not looked up where the environment would read it cut.
      {std::string("%PW\0X%", 7), false, false, std::string("%PW\0X%", 7)},
      {"%Name With Blanks%", false, false, "ok"},
      {"at %#hh:mm#%.", false, false, "at 14:07."},
      {"%#%", false, false, "%#%"},
      {"%##%", false, false, "2024-03-05 14:07:09"},
      {"%#" + std::string(98, 'x') + "#%", false, false, std::string(98, 'x')},
      {"%#" + std::string(99, 'x') + "#%", false, false, "%#" + std::string(99, 'x') + "#%"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Expand(c.text, c.decipher, c.quote), c.want) << c.text;
}

TEST_F(ExpandVariablesTest, ResolveVariableMarksEmptyAndMissing) {
  EXPECT_EQ(ResolveVariable(run_.context, "X"), "1");
  EXPECT_EQ(ResolveVariable(run_.context, "NOPE"), "");
  EXPECT_EQ(ResolveVariable(run_.context, "P").front(), kPasswordMarker);
}

TEST_F(ExpandVariablesTest, DeciphersPasswordsLongerThanTheirReferences) {
  // The output outgrows its first buffer several times while holding the password, both forms.
  const std::string password(120, 'k');
  run_.table.insert(run_.table.begin(),
                    std::string("LONG=") + kPasswordMarker + cipher::EncipherVariable(password));
  std::string text;
  for (int i = 0; i < 50; ++i)
    text += "%LONG%";
  EXPECT_EQ(Expand(text, true), std::string(50 * password.size(), 'k'));
  EXPECT_EQ(Expand(text, false), std::string(250, '*'));
}

TEST_F(ExpandVariablesTest, ASecretTextStaysSecretWhenExpandedAgain) {
  const core::SecretString secret("k=s3cret %X% %P% %A%");
  EXPECT_EQ(ExpandVariables(run_.context, secret, kMaskPasswords, true).View(),
            "k=s3cret 1 ***** \"\"");
}

// Names compare as the system compares environment names: every letter of the code page folds,
// not only A-Z, so no name the table holds is ever taken from the environment instead (the
// table's X wins over the environment's in the expansion table).
TEST(FindVariable, NamesCompareAsEnvironmentNames) {
  struct Case {
    std::string defined, used;
    bool same;
  };
  const Case cases[] = {
      {"PASSW\xD6RT", "Passw\xF6rt", true},    // O with diaeresis
      {"\xC9T\xC9", "\xE9t\xE9", true},        // E acute
      {"\x8A\x8C\x8E", "\x9A\x9C\x9E", true},  // S/Z with caron, OE
      {"\x9F", "\xFF", true},                  // Y with diaeresis
      {"\xDF", "SS", false},                   // sharp s has no one-letter upper case
      {"\xD7", "\xF7", false},                 // multiplication and division signs
      {"\xB5", "\xCC", false},
      {"A@", "a`", false},  // neighbours of the letters
      {"[", "{", false},
  };
  for (const Case& c : cases) {
    const std::vector<std::string> table = {c.defined + "=v"};
    EXPECT_EQ(FindVariable(table, c.used).has_value(), c.same) << c.defined << " " << c.used;
  }
}

TEST(FindVariable, MatchesWholeNamesWithoutRegardToCase) {
  const std::vector<std::string> table = {"AB=1", "ABC=2", "abc=3", "X=", "bad"};
  EXPECT_EQ(FindVariable(table, "abc").value_or("none"), "2");
  EXPECT_EQ(FindVariable(table, "Ab").value_or("none"), "1");
  EXPECT_EQ(FindVariable(table, "x").value_or("none"), "");
  EXPECT_FALSE(FindVariable(table, "A").has_value());
  EXPECT_FALSE(FindVariable(table, "bad").has_value());
}

}  // namespace
}  // namespace x5::variables
