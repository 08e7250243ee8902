// Cryptographic random bytes on POSIX systems, from getrandom().
#include "cipher/random_source.h"

#include <sys/random.h>

#include <cerrno>

namespace x5::cipher {

bool FillRandom(std::span<uint8_t> out) noexcept {
  size_t done = 0;
  while (done < out.size()) {
    ssize_t got = getrandom(out.data() + done, out.size() - done, 0);
    if (got < 0) {
      if (errno == EINTR)
        continue;
      return false;
    }
    done += static_cast<size_t>(got);
  }
  return true;
}

}  // namespace x5::cipher
