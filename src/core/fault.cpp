// Naming an unexpected exception, and stopping at it in test and fuzz builds.
#include "core/fault.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>

#include "core/shown_text.h"

namespace x5::core {

std::string_view UnexpectedFault(const char* where) noexcept {
  const char* text = "unknown exception";
  bool allocation = false;
  if (std::current_exception()) {
    // The handled exception stays alive while the caller's catch block runs, and so does what().
    try {
      throw;
    } catch (const std::bad_alloc&) {
      text = "out of memory";
      allocation = true;
    } catch (const std::exception& e) {
      if (e.what() && *e.what())
        text = e.what();
    } catch (...) {
    }
  }
#ifdef X5_ABORT_ON_FAULT
  if (!allocation) {
    std::fprintf(stderr, "x5: unexpected fault in %s: %s\n", where ? where : "?", text);
    std::abort();
  }
#else
  (void)where;
  (void)allocation;
#endif
  return text;
}

std::string FaultLine(std::string_view where, std::string_view fault) {
  std::string line = "***** Unexpected fault in ";
  AppendShown(line, where);
  line += ": ";
  AppendShown(line, fault);
  line += " *****";
  return line;
}

}  // namespace x5::core
