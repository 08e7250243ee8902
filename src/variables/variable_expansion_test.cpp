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
      {"%UNDEFINED%", false, false, "%UNDEFINED%"},
      {"50% of %X%", false, false, "50% of 1"},
      {"%X%-%x%.%X", false, false, "1-1.%X"},
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

// Whole names, the first definition winning; letters compare as the system compares environment
// names: every letter of the code page folds, not only A-Z, so no name the table holds is ever
// taken from the environment instead.
TEST(FindVariable, MatchesWholeNamesAsEnvironmentNames) {
  const std::vector<std::string> table = {
      "AB=1",           "ABC=2",  "abc=3",  "X=",     "bad",     "PASSW\xD6RT=4", "\xC9T\xC9=5",
      "\x8A\x8C\x8E=6", "\x9F=7", "\xDF=8", "\xD7=9", "\xB5=10", "A@=11",         "[=12"};
  const std::pair<std::string, const char*> cases[] = {
      {"abc", "2"},          {"Ab", "1"},     {"x", ""},
      {"A", "none"},         {"bad", "none"}, {"Passw\xF6rt", "4"},  // O with diaeresis
      {"\xE9t\xE9", "5"},                                            // E acute
      {"\x9A\x9C\x9E", "6"},                                         // S/Z with caron, OE
      {"\xFF", "7"},                                                 // Y with diaeresis
      {"SS", "none"},    // sharp s has no one-letter upper case
      {"\xF7", "none"},  // multiplication and division signs
      {"\xCC", "none"},      {"a`", "none"},  {"{", "none"},  // neighbours of the letters
  };
  for (const auto& [used, want] : cases)
    EXPECT_EQ(FindVariable(table, used).value_or("none"), want) << used;
}

}  // namespace
}  // namespace x5::variables
