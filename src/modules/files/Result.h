// A value, or the operating system's reason why there is none.
#pragma once

#include <cerrno>
#include <optional>
#include <system_error>
#include <utility>

namespace tavero::modules::files {

inline std::error_code errorFromErrno(int errnoValue) { return std::error_code(errnoValue, std::generic_category()); }

template <class T>
class Result {
 public:
  Result(T value) : value_(std::move(value)) {}
  // REQUIRES: `error` is an error (not 0), so a failure always has a reason.
  Result(std::error_code error) : error_(error ? error : errorFromErrno(EIO)) {}

  static Result fromErrno() { return Result(errorFromErrno(errno)); }

  explicit operator bool() const { return value_.has_value(); }
  T& operator*() { return *value_; }
  const T& operator*() const { return *value_; }
  T* operator->() { return &*value_; }
  const T* operator->() const { return &*value_; }
  T value_or(T fallback) const { return value_ ? *value_ : std::move(fallback); }
  // The reason of a failure (empty on success).
  const std::error_code& error() const { return error_; }

 private:
  std::optional<T> value_;
  std::error_code error_;
};

}  // namespace tavero::modules::files
