// Faults nobody expected: an exception that reaches a routine's boundary. The routine turns it into
// its failure result (never into an empty success); test and fuzz builds stop at once instead, so
// the fault is seen where it happened.
#pragma once

#include <string>
#include <string_view>

namespace x5::core {

// Call only from inside a catch block. Names the exception being handled: "out of memory" for an
// allocation failure, else the exception's own text ("unknown exception" when it has none); the
// text stays valid until that catch block ends. Built with X5_ABORT_ON_FAULT (the native unit-test
// and fuzz builds), anything but an allocation failure prints `where` and the text to stderr and
// aborts: allocation failure is a failure a routine can meet in production, the rest are bugs.
std::string_view UnexpectedFault(const char* where) noexcept;

// "***** Unexpected fault in WHERE: FAULT *****", the fault shown as text.
std::string FaultLine(std::string_view where, std::string_view fault);

// Writes FaultLine to a console sink (anything with Line(std::string_view)); a console that fails
// as well loses the line.
template <class Sink>
void ReportFault(Sink& console, std::string_view where, std::string_view fault) noexcept {
  try {
    console.Line(FaultLine(where, fault));
  } catch (...) {
    UnexpectedFault("ReportFault");
  }
}

}  // namespace x5::core
