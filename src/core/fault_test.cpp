// Unexpected faults other than allocation failures are fatal in this (test) build; how an
// allocation failure is reported is pinned by the rule test that meets one.
#include "core/fault.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace x5::core {
namespace {

TEST(FaultDeathTest, AnyOtherFaultStopsTestBuilds) {
  EXPECT_DEATH(
      {
        try {
          throw std::out_of_range("index 7\r\nforged line");
        } catch (...) {
          UnexpectedFault("the check");
        }
      },
      "unexpected fault in the check: index 7");
}

}  // namespace
}  // namespace x5::core
