#pragma once
// A value or an error message, for the portable core.
//
// The core reports failures as values that say where and what went wrong.
// std::expected would do, but the fuzzing build uses clang 14, whose
// front end cannot compile libstdc++'s <expected>; this small type keeps
// every compiler we use on the same code.
#include <string>
#include <utility>
#include <variant>

namespace qm {

struct Error {
  std::string message;
};

template <typename T> class [[nodiscard]] Result {
public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T &value() & { return std::get<0>(state_); }
  const T &value() const & { return std::get<0>(state_); }
  T &&value() && { return std::get<0>(std::move(state_)); }
  T &operator*() & { return value(); }
  const T &operator*() const & { return value(); }
  T *operator->() { return &value(); }
  const T *operator->() const { return &value(); }

  const std::string &error() const { return std::get<1>(state_).message; }

private:
  std::variant<T, Error> state_;
};

// For operations that give nothing back but may fail.
struct Done {};
using Status = Result<Done>;
inline Status Ok() { return Done{}; }

inline Error Fail(std::string message) { return Error{std::move(message)}; }

} // namespace qm
