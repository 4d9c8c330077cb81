// The shared single-threaded cell behind every value that several JavaScript objects hold at
// once (a bar context, a backtest): one writer or many readers at a time, with the borrow checked
// at run time. Borrows last one operation; a conflicting borrow (possible only through re-entrant
// calls) is an error value, never an abort. Copying the cell handle shares the value.
#pragma once

#include <memory>
#include <string>
#include <type_traits>
#include <utility>

#include "core/error.h"

namespace bw {

// What a borrow gives back for f's result R: Result<R>; Result<Unit> for void; a Result<U> that f
// returns itself is passed through rather than nested.
template <class R>
struct BorrowResult {
  using type = Result<R>;
};
template <>
struct BorrowResult<void> {
  using type = Result<Unit>;
};
template <class U>
struct BorrowResult<Result<U>> {
  using type = Result<U>;
};

// T names itself in the borrow errors through `T::kCellName` ("Bar context is already borrowed").
template <class T>
class SharedCell {
  struct Cell {
    explicit Cell(T v) : value(std::move(v)) {}
    T value;
    int readers = 0;
    bool writing = false;
  };

  template <class F, class V>
  static auto run(F&& f, V& value) -> typename BorrowResult<std::invoke_result_t<F, V&>>::type {
    if constexpr (std::is_void_v<std::invoke_result_t<F, V&>>) {
      std::forward<F>(f)(value);
      return Unit{};
    } else {
      return std::forward<F>(f)(value);
    }
  }

 public:
  explicit SharedCell(T value) : c_(std::make_shared<Cell>(std::move(value))) {}

  // Runs f(const T&) under a read borrow.
  template <class F>
  auto read(F&& f) const -> typename BorrowResult<std::invoke_result_t<F, const T&>>::type {
    if (c_->writing) return Error(Status::GenericFailure, std::string(T::kCellName) + " is already mutably borrowed");
    ++c_->readers;
    struct Release {
      Cell* c;
      ~Release() { --c->readers; }
    } release{c_.get()};
    return run(std::forward<F>(f), static_cast<const T&>(c_->value));
  }
  // Runs f(T&) under the write borrow.
  template <class F>
  auto write(F&& f) const -> typename BorrowResult<std::invoke_result_t<F, T&>>::type {
    if (c_->writing || c_->readers > 0)
      return Error(Status::GenericFailure, std::string(T::kCellName) + " is already borrowed");
    c_->writing = true;
    struct Release {
      Cell* c;
      ~Release() { c->writing = false; }
    } release{c_.get()};
    return run(std::forward<F>(f), c_->value);
  }

  bool sameCell(const SharedCell& o) const { return c_ == o.c_; }

 protected:
  // The value without a borrow, for a handle being built around a value nobody else holds yet.
  const T& unshared() const { return c_->value; }

 private:
  std::shared_ptr<Cell> c_;
};

}  // namespace bw
