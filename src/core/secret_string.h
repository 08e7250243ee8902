// SecretString: a text buffer for deciphered passwords that is wiped before its memory is released.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace x5::core {

// Overwrites `size` bytes with zeros in a way the optimiser may not drop.
void WipeBytes(void* data, size_t size) noexcept;

// An allocator that wipes every block before handing it back, so growing a secret buffer leaves no
// copy of it behind in freed memory.
template <typename T>
struct WipingAllocator {
  using value_type = T;
  WipingAllocator() noexcept = default;
  template <typename U>
  WipingAllocator(const WipingAllocator<U>&) noexcept {}
  T* allocate(size_t n) { return std::allocator<T>().allocate(n); }
  void deallocate(T* p, size_t n) noexcept {
    WipeBytes(p, n * sizeof(T));
    std::allocator<T>().deallocate(p, n);
  }
  template <typename U>
  bool operator==(const WipingAllocator<U>&) const noexcept {
    return true;
  }
};

using WipingString = std::basic_string<char, std::char_traits<char>, WipingAllocator<char>>;

// Move-only text whose buffer (the inline small-string buffer included) is wiped when it is
// cleared, reassigned or destroyed.
class SecretString {
 public:
  SecretString() noexcept = default;
  explicit SecretString(std::string_view text) : text_(text.data(), text.size()) {}
  SecretString(const SecretString&) = delete;
  SecretString& operator=(const SecretString&) = delete;
  SecretString(SecretString&& other) noexcept : text_(std::move(other.text_)) { other.Clear(); }
  SecretString& operator=(SecretString&& other) noexcept {
    if (this != &other) {
      Clear();
      text_.swap(other.text_);
      other.Clear();
    }
    return *this;
  }
  ~SecretString() { Clear(); }

  std::string_view View() const noexcept { return {text_.data(), text_.size()}; }
  // NUL-terminated, for the A functions of the platform.
  const char* CStr() const noexcept { return text_.c_str(); }
  size_t Size() const noexcept { return text_.size(); }
  bool Empty() const noexcept { return text_.empty(); }
  [[nodiscard]] std::span<char> Span() noexcept { return {text_.data(), text_.size()}; }
  char& operator[](size_t i) noexcept { return text_[i]; }
  char operator[](size_t i) const noexcept { return text_[i]; }

  void Reserve(size_t n) { text_.reserve(n); }
  void Resize(size_t n, char fill = '\0') { text_.resize(n, fill); }
  void Append(std::string_view text) { text_.append(text.data(), text.size()); }
  void Append(char c) { text_.push_back(c); }
  // Wipes the whole buffer, then empties it; the capacity stays.
  void Clear() noexcept;

 private:
  WipingString text_;
};

}  // namespace x5::core
