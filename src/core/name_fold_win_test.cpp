// The name folding against the system's own comparison of environment names: two one-byte-apart
// names are one variable for the system exactly when they fold alike.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "core/name_fold.h"

namespace x5::core {
namespace {

std::string NameWith(int c) {
  return std::string("X5FOLD_") + static_cast<char>(c);
}

TEST(NameFold, FoldsAsTheSystemComparesEnvironmentNames) {
  const NameFold fold = SystemNameFold();
  const NameFold western;
  char value[8];
  for (int b = 1; b < 256; ++b) {
    if (b == '=')
      continue;
    const std::string defined = NameWith(b);
    ASSERT_TRUE(SetEnvironmentVariableA(defined.c_str(), "v"));
    for (int c = 1; c < 256; ++c) {
      if (c == '=')
        continue;
      const bool found = GetEnvironmentVariableA(NameWith(c).c_str(), value, sizeof value) == 1;
      EXPECT_EQ(found, fold.upper[b] == fold.upper[c]) << "bytes " << b << " and " << c;
      // The portable table is the western code page's, which the test prefix uses.
      if (GetACP() == 1252) {
        EXPECT_EQ(found, western.upper[b] == western.upper[c]) << "bytes " << b << " and " << c;
      }
    }
    SetEnvironmentVariableA(defined.c_str(), nullptr);
  }
}

}  // namespace
}  // namespace x5::core
