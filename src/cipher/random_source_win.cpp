// Cryptographic random bytes on Windows, from RtlGenRandom (advapi32).
#include "cipher/random_source.h"

#include <windows.h>
#include <ntsecapi.h>

#include <algorithm>

namespace x5::cipher {

bool FillRandom(std::span<uint8_t> out) noexcept {
  size_t done = 0;
  while (done < out.size()) {
    ULONG piece = static_cast<ULONG>(std::min<size_t>(out.size() - done, 1u << 20));
    if (!RtlGenRandom(out.data() + done, piece))
      return false;
    done += piece;
  }
  return true;
}

}  // namespace x5::cipher
