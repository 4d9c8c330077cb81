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

// One jump of a context's cursor. Counts and indexes are 32-bit and sign-extended into the
// unsigned index arithmetic, so a negative count moves back (wrapping past 0 lands on the last bar).
struct CtxSkip {
  enum class Kind : uint8_t { End, Bars, BarIndex, OpenTimeEq, OpenTimeGeq };
  Kind kind = Kind::End;
  int32_t n = 0;  // Bars: the count; BarIndex: the index
  DateTime time;  // OpenTimeEq, OpenTimeGeq

  static CtxSkip end() { return CtxSkip{}; }
  static CtxSkip bars(int32_t count) { return CtxSkip{Kind::Bars, count, {}}; }
  static CtxSkip barIndex(int32_t index) { return CtxSkip{Kind::BarIndex, index, {}}; }
  static CtxSkip openTimeEq(DateTime t) { return CtxSkip{Kind::OpenTimeEq, 0, t}; }
  static CtxSkip openTimeGeq(DateTime t) { return CtxSkip{Kind::OpenTimeGeq, 0, t}; }
};

struct Ctx {
  Sym sym;
  ArcOhlcv ohlcv;
  uint64_t barIndex = 0;
  bool initialized = false;

  // Candidate = barIndex + 1 when initialised, else 0; moves there when the series (its length
  // read afresh) has that bar. The new bar index, or nothing at the end.
  std::optional<uint64_t> advance() { return advanceWithin(ohlcv.length()); }
  // The same step against a length the caller has just read under the series' read lock, so
  // that it can also read the new bar in that one hold (the collect loops of the indicators).
  std::optional<uint64_t> advanceWithin(uint64_t length) {
    const uint64_t candidate = initialized ? barIndex + 1 : 0;
    if (candidate >= length) return std::nullopt;
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
  // Moves the bar index as told, never past the last bar; the initialised flag stays as it is.
  // On an empty series there is no last bar and the index may end up past the end.
  void skip(const CtxSkip& s);
  // Bars per year: seconds of a trading year (365 days for Crypto, else 252) over the length of
  // one bar of the series' timeframe. "Unknown timeframe" for ticks, ranges and Unknown.
  Result<double> annualizationFactor() const;
  size_t length() const { return ohlcv.length(); }
  Timeframe timeframe() const { return ohlcv.timeframe(); }
};

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
  auto read(F&& f) const -> typename BorrowResult<std::invoke_result_t<F, const Ctx&>>::type {
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
  auto write(F&& f) const -> typename BorrowResult<std::invoke_result_t<F, Ctx&>>::type {
    if (c_->writing || c_->readers > 0) return Error(Status::GenericFailure, "Bar context is already borrowed");
    c_->writing = true;
    struct Release {
      Cell* c;
      ~Release() { c->writing = false; }
    } release{c_.get()};
    if constexpr (std::is_void_v<std::invoke_result_t<F, Ctx&>>) {
      std::forward<F>(f)(c_->ctx);
      return Unit{};
    } else {
      return std::forward<F>(f)(c_->ctx);
    }
  }

  bool sameCell(const SharedCtx& o) const { return c_ == o.c_; }
  // A new cell holding a copy of this context: same shared series, own cursor and symbol.
  Result<SharedCtx> copy() const {
    return read([](const Ctx& c) { return SharedCtx(c); });
  }

 private:
  std::shared_ptr<Cell> c_;
};

}  // namespace bw
