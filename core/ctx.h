// The bar context: the cursor that walks one shared series for one symbol, shared by reference
// between every holder through a single-threaded cell with a run-time borrow check.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <type_traits>

#include "core/error.h"
#include "core/ohlcv.h"
#include "core/sym.h"

namespace bw {

struct Ctx {
  Sym sym;
  ArcOhlcv ohlcv;
  uint64_t barIndex = 0;
  bool initialized = false;

  // Candidate = barIndex + 1 when initialised, else 0; moves there when the series (its length
  // read afresh) has that bar. The new bar index, or nothing at the end.
  std::optional<uint64_t> advance() {
    const uint64_t candidate = initialized ? barIndex + 1 : 0;
    if (candidate >= ohlcv.length()) return std::nullopt;
    barIndex = candidate;
    initialized = true;
    return candidate;
  }
  // A copy of the bar at the bar index; fails on an empty series or past the end.
  Result<OhlcvBar> bar() const;
  void reset() {
    barIndex = 0;
    initialized = false;
  }
};

// Shared single-threaded cell: one writer or many readers at a time. Borrows are held only for
// one operation; a conflicting borrow (possible only through re-entrant calls) is an error value,
// never an abort. Copying a SharedCtx shares the cell (that is `ref`); `Ctx` copies make `copy`.
class SharedCtx {
  struct Cell {
    Ctx ctx;
    int readers = 0;
    bool writing = false;
  };

 public:
  explicit SharedCtx(Ctx ctx = {}) : c_(std::make_shared<Cell>()) { c_->ctx = std::move(ctx); }

  // Runs f(const Ctx&) under a read borrow.
  template <class F>
  auto read(F&& f) const -> Result<std::invoke_result_t<F, const Ctx&>> {
    if (c_->writing) return Error(Status::GenericFailure, "Bar context is already mutably borrowed");
    ++c_->readers;
    struct Release {
      Cell* c;
      ~Release() { --c->readers; }
    } release{c_.get()};
    if constexpr (std::is_void_v<std::invoke_result_t<F, const Ctx&>>) {
      std::forward<F>(f)(static_cast<const Ctx&>(c_->ctx));
      return Unit{};
    } else {
      return std::forward<F>(f)(static_cast<const Ctx&>(c_->ctx));
    }
  }
  // Runs f(Ctx&) under the write borrow.
  template <class F>
  auto write(F&& f) const -> Result<std::invoke_result_t<F, Ctx&>> {
    if (c_->writing || c_->readers > 0) return Error(Status::GenericFailure, "Bar context is already borrowed");
    c_->writing = true;
    struct Release {
      Cell* c;
      ~Release() { c->writing = false; }
    } release{c_.get()};
    return std::forward<F>(f)(c_->ctx);
  }

  bool sameCell(const SharedCtx& o) const { return c_ == o.c_; }

 private:
  std::shared_ptr<Cell> c_;
};

}  // namespace bw
