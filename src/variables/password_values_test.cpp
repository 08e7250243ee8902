// Deciphered texts stored back as password variables.
#include <gtest/gtest.h>

#include "cipher/password_cipher.h"
#include "variables/testing/test_fakes.h"
#include "variables/variables.h"

namespace x5::variables {
namespace {

using testing::FakeRun;

TEST(AddPasswordVariable, StoresTheEncipheredFormAndWritesNoPlainText) {
  struct Case {
    std::string plain;
    core::Added result;
  };
  for (const Case& c : {Case{"s3cret", core::Added::kDefined}, Case{"", core::Added::kDefined},
                        Case{std::string(127, 'k'), core::Added::kDefined},
                        Case{std::string(128, 'k'), core::Added::kNotEnciphered}}) {
    variables::testing::FakeRun run;
    run.global_parameter_directory = "C:\\J\\S1\\";
    SCOPED_TRACE(c.plain.size());
    EXPECT_EQ(AddPasswordVariable(run.context, "PW$", c.plain, &cipher::FillRandom), c.result);
    if (c.result == core::Added::kNotEnciphered) {
      EXPECT_TRUE(run.table.empty());
      EXPECT_TRUE(run.files.files.empty());
      continue;
    }
    const std::optional<std::string_view> value = FindVariable(run.table, "PW$");
    ASSERT_TRUE(value && !value->empty());
    EXPECT_EQ(value->front(), kPasswordMarker);
    EXPECT_EQ(cipher::DecipherVariable(value->substr(1)).View(), c.plain);
    EXPECT_EQ(ExpandVariables(run.context, "%PW$%", kMaskPasswords, false), "*****");
    EXPECT_EQ(run.files.files["C:\\J\\S1\\PW$.$$$"], "\"" + std::string(*value) + "\"\r\n");
  }
}

}  // namespace
}  // namespace x5::variables
