// Wiping of secret buffers.
#include "cipher/secret_string.h"

namespace x5 {

void WipeBytes(void* data, size_t size) noexcept {
  // A volatile store cannot be removed as a dead store before the memory is freed.
  volatile unsigned char* p = static_cast<volatile unsigned char*>(data);
  for (size_t i = 0; i < size; ++i)
    p[i] = 0;
}

void SecretString::Clear() noexcept {
  // Growing to the capacity never reallocates, and makes the whole buffer (the small-string buffer
  // too) addressable for the wipe.
  text_.resize(text_.capacity());
  WipeBytes(text_.data(), text_.size());
  text_.clear();
}

}  // namespace x5
