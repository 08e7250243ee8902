// Wiping of secret buffers.
#include "core/secret_string.h"

#include <cstring>

namespace x5::core {

void WipeBytes(void* data, size_t size) noexcept {
  if (size == 0)
    return;
#if defined(__GNUC__) || defined(__clang__)
  // The empty asm claims to read the memory, so the memset cannot be dropped as a dead store; it
  // keeps memset's speed for large buffers.
  std::memset(data, 0, size);
  __asm__ __volatile__("" : : "r"(data) : "memory");
#else
  volatile unsigned char* p = static_cast<volatile unsigned char*>(data);
  for (size_t i = 0; i < size; ++i)
    p[i] = 0;
#endif
}

void SecretString::Clear() noexcept {
  // Growing to the capacity never reallocates, and makes the whole buffer (the small-string buffer
  // too) addressable for the wipe.
  text_.resize(text_.capacity());
  WipeBytes(text_.data(), text_.size());
  text_.clear();
}

}  // namespace x5::core
