// Error values and results: every fallible core operation returns a Result<T>, which holds either
// a value or an Error. The binding layer turns an Error into a thrown JavaScript exception whose
// `code` is the status name.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace bw {

// Node-API status numbering, so a status converts to and from the host's value one to one.
enum class Status : int {
  Ok = 0,
  InvalidArg,
  ObjectExpected,
  StringExpected,
  NameExpected,
  FunctionExpected,
  NumberExpected,
  BooleanExpected,
  ArrayExpected,
  GenericFailure,
  PendingException,
  Cancelled,
  EscapeCalledTwice,
  HandleScopeMismatch,
  CallbackScopeMismatch,
  QueueFull,
  Closing,
  BigintExpected,
  DateExpected,
  ArrayBufferExpected,
  DetachableArraybufferExpected,
  WouldDeadlock,
  NoExternalBuffersAllowed,
};

std::string_view statusName(Status s);
std::string_view statusName(int rawStatus);  // "Unknown" outside the known range

struct Error {
  Status status = Status::InvalidArg;
  std::string reason;
  std::shared_ptr<const Error> cause;

  Error() = default;
  Error(Status s, std::string r) : status(s), reason(std::move(r)) {}
  Error(Status s, std::string r, Error c)
      : status(s), reason(std::move(r)), cause(std::make_shared<const Error>(std::move(c))) {}
};

// The common case: a broken precondition of an operation.
inline Error invalidArg(std::string reason) { return Error(Status::InvalidArg, std::move(reason)); }

struct Unit {};

// A value or an error value. Deliberately small: construct from either, test, take.
template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
  Result(Error e) : v_(std::in_place_index<1>, std::move(e)) {}

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<0>(v_); }
  const T& value() const& { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  const Error& error() const& { return std::get<1>(v_); }
  Error&& error() && { return std::get<1>(std::move(v_)); }

 private:
  std::variant<T, Error> v_;
};

using Status_ = Result<Unit>;  // for operations with nothing to return
inline Result<Unit> okUnit() { return Unit{}; }

}  // namespace bw

// Propagate an error from an expression returning a Result; evaluates to nothing.
#define BW_TRY(expr)                                   \
  do {                                                 \
    auto&& bw_try_r_ = (expr);                         \
    if (!bw_try_r_.ok()) return std::move(bw_try_r_).error(); \
  } while (0)

// Bind the value of a Result expression to `var`, or return its error.
#define BW_ASSIGN(var, expr)                                   \
  auto&& var##_result_ = (expr);                               \
  if (!var##_result_.ok()) return std::move(var##_result_).error(); \
  auto var = std::move(var##_result_).value()
