// The one way a routine says it failed: Result<T> holds either its value or a Failure (what went
// wrong, in words, and the system's own error code when the system said why).
//
// Result is [[nodiscard]] as a type, so a caller that drops one is told; `(void)` on a Result marks
// a failure that is ignored on purpose, and says why beside it. Routines whose results are
// routinely ignored (getters, formatting, counts) are not marked [[nodiscard]] at all.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace x5::core {

struct Failure {
  std::string text;          // for people: what could not be done, and why when known
  uint32_t system_code = 0;  // errno, or the Windows error code; 0 when the system gave none

  // The same failure with `context` ("reading the task: ") in front of its text.
  Failure Within(std::string_view context) const {
    return Failure{std::string(context) + text, system_code};
  }
};

template <class T = void>
class [[nodiscard]] Result {
 public:
  // Both implicit, so that a routine can `return value;` or `return Failure{...};`.
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  Result(Failure failure) : state_(std::in_place_index<1>, std::move(failure)) {}

  bool ok() const noexcept { return state_.index() == 0; }
  explicit operator bool() const noexcept { return ok(); }

  // The value; only when ok().
  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T&& operator*() && { return std::move(*this).value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  // Why not; only when !ok().
  const Failure& failure() const& { return std::get<1>(state_); }
  Failure&& failure() && { return std::get<1>(std::move(state_)); }

 private:
  std::variant<T, Failure> state_;
};

// A routine that has no value to give back: success, or why not.
template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(Failure failure) : failure_(std::move(failure)) {}

  bool ok() const noexcept { return !failure_; }
  explicit operator bool() const noexcept { return ok(); }

  const Failure& failure() const& { return *failure_; }
  Failure&& failure() && { return std::move(*failure_); }

 private:
  std::optional<Failure> failure_;
};

}  // namespace x5::core
