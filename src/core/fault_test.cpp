// Unexpected faults: named, and fatal in this (test) build unless they are allocation failures.
#include "core/fault.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>
#include <vector>

namespace x5 {
namespace {

struct Console {
  std::vector<std::string> lines;
  void Line(std::string_view text) { lines.emplace_back(text); }
};

TEST(Fault, AllocationFailureIsNamedAndReported) {
  Console console;
  try {
    throw std::bad_alloc();
  } catch (...) {
    ReportFault(console, "the check", UnexpectedFault("test"));
  }
  EXPECT_EQ(console.lines,
            std::vector<std::string>{"***** Unexpected fault in the check: out of memory *****"});
}

TEST(FaultDeathTest, AnyOtherFaultStopsTestBuilds) {
  EXPECT_DEATH(
      {
        try {
          throw std::out_of_range("index 7\r\nforged line");
        } catch (...) {
          (void)UnexpectedFault("the check");
        }
      },
      "unexpected fault in the check: index 7");
}

}  // namespace
}  // namespace x5
