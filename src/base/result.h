#pragma once
// A value or an error, for the portable core.
//
// The core reports failures as values that say where and what went wrong,
// and of which kind, so that a program maps kinds to its own exit codes
// instead of reading messages. std::expected would do, but the fuzzing
// build uses clang 14, whose front end cannot compile libstdc++'s
// <expected>; this small type keeps every compiler we use on the same code.
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace qm {

// What went wrong, as far as a caller could act on it differently.
enum class ErrorKind {
  Unspecified, // no kind given: the message says it all
  Missing,     // the file (or a folder on its path) does not exist
  Denied,      // the system refused access
  NotRegular,  // a folder, device, FIFO or socket where a regular file belongs
  Unreadable,  // opened, but could not be read whole
  TooLarge,    // larger than the program takes
  NotAModule,  // not a PE module at all
  Damaged,     // a module or block whose structure does not hold together
  NoRoom,      // a module with no place for the new resources
  CannotWrite, // a new file could not be written or put in place
  Locked,      // another program holds the file
  OutOfMemory, // the bytes did not fit in memory
  Invalid,     // a value refused (a fields file, an argument)
  Empty,       // an input with nothing in it
  Refused,     // an input of the wrong kind (not a version block or resource file, or none in it)
  NoVersion,   // a module without the version resource asked for
  Usage,       // the command line itself is wrong
  WouldBreak,  // the change would break what the module carries (appended data, a signature)
  Different,   // a check found the file other than asked (not a failure of the program)
};

// The part the file an error is about plays, so that a program picks its
// exit code from the kind and the role together: a missing block file and a
// missing module are different failures to a build script.
enum class FileRole {
  None,   // not about a file (a value, the command line)
  Input,  // a block file, fields file or file to show: only read
  Module, // a module that is only read (extract, show)
  Target, // the module being changed
  Output, // a file being written
};

struct Error {
  std::string message;
  ErrorKind kind = ErrorKind::Unspecified;
  FileRole role = FileRole::None;
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
  ErrorKind kind() const { return std::get<1>(state_).kind; }
  // The whole error, to pass on with its kind.
  const Error &failure() const { return std::get<1>(state_); }

private:
  std::variant<T, Error> state_;
};

// For operations that give nothing back but may fail.
struct Done {};
using Status = Result<Done>;
inline Status Ok() { return Done{}; }

inline Error Fail(std::string message) { return Error{std::move(message)}; }
inline Error Fail(ErrorKind kind, std::string message) { return Error{std::move(message), kind}; }

// The same error with `prefix` before its message; kind and role stay.
inline Error Context(std::string_view prefix, Error error) {
  error.message.insert(0, prefix);
  return error;
}
// The same error, now known to be about a file in `role` (kept if already set).
inline Error InRole(FileRole role, Error error) {
  if (error.role == FileRole::None) error.role = role;
  return error;
}

} // namespace qm

// Passing an error up whole, kind and role included, without retyping it:
//   QM_UNWRAP_OR_RETURN(headers, ParseHeaders(source));
//   QM_RETURN_IF_ERROR(update.Put(...));
// A function that wants to add context spells the check out and uses
// Context() instead.
#define QM_RESULT_CONCAT_INNER(a, b) a##b
#define QM_RESULT_CONCAT(a, b) QM_RESULT_CONCAT_INNER(a, b)
#define QM_UNWRAP_OR_RETURN(var, expr) QM_UNWRAP_OR_RETURN_IMPL(QM_RESULT_CONCAT(qm_result_, __LINE__), var, expr)
#define QM_UNWRAP_OR_RETURN_IMPL(tmp, var, expr)                                                                       \
  auto tmp = (expr);                                                                                                   \
  if (!tmp) return tmp.failure();                                                                                      \
  auto var = std::move(*tmp)
#define QM_RETURN_IF_ERROR(expr)                                                                                       \
  do {                                                                                                                 \
    if (auto qm_status_ = (expr); !qm_status_) return qm_status_.failure();                                            \
  } while (false)
