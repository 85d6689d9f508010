// The return type of every fallible core routine: a value or one CoreError.
#pragma once

#include <optional>
#include <type_traits>
#include <utility>

#include "core_error.hpp"

namespace quorvel {

/// The failing side of a Result, made by fail().
struct Failure {
  CoreError error;
};

/// Shorthand for the failing side of a Result.
[[nodiscard]] constexpr Failure fail(CoreError e) noexcept { return Failure{e}; }

/// Holds either a T or the CoreError that prevented it. Tested like a
/// pointer: true when it holds a value, which * and -> then reach.
template <class T>
class [[nodiscard]] Result {
 public:
  Result(Failure failure) noexcept : error_(failure.error) {}  // NOLINT: implicit by design

  template <class U = T>
    requires(std::is_constructible_v<T, U &&> &&
             !std::is_same_v<std::remove_cvref_t<U>, Result> &&
             !std::is_same_v<std::remove_cvref_t<U>, Failure>)
  Result(U&& value) : value_(std::in_place, std::forward<U>(value)) {}  // NOLINT: implicit

  [[nodiscard]] bool has_value() const noexcept { return value_.has_value(); }
  explicit operator bool() const noexcept { return value_.has_value(); }

  [[nodiscard]] T& operator*() & noexcept { return *value_; }
  [[nodiscard]] const T& operator*() const& noexcept { return *value_; }
  [[nodiscard]] T&& operator*() && noexcept { return std::move(*value_); }
  [[nodiscard]] T* operator->() noexcept { return &*value_; }
  [[nodiscard]] const T* operator->() const noexcept { return &*value_; }

  /// The error; meaningful only when there is no value.
  [[nodiscard]] CoreError error() const noexcept { return error_; }

 private:
  std::optional<T> value_;
  CoreError error_{};
};

}  // namespace quorvel
