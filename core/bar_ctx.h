// The bar context: the cursor that walks one shared series for one symbol, shared by reference
// between every holder through a single-threaded cell with a run-time borrow check (core/borrow.h).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <utility>

#include "core/borrow.h"
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
  static constexpr const char* kCellName = "Bar context";

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
  // The same step, also returning a copy of the new bar: one read of the series for both.
  std::optional<std::pair<uint64_t, OhlcvBar>> advanceToBar() {
    return ohlcv.read([this](const Ohlcv& o) -> std::optional<std::pair<uint64_t, OhlcvBar>> {
      auto i = advanceWithin(o.bars.size());
      if (!i) return std::nullopt;
      return std::pair(*i, o.bars[*i]);
    });
  }
  // Moves the bar index to the skip's target; the initialised flag stays as it is.
  void skip(const CtxSkip& s) { barIndex = skipTarget(s); }
  // Where a skip moves the bar index, never past the last bar. On an empty series there is no
  // last bar and the index may end up past the end.
  uint64_t skipTarget(const CtxSkip& s) const;
  // Bars per year: seconds of a trading year (365 days for Crypto, else 252) over the length of
  // one bar of the series' timeframe. "Unknown timeframe" for ticks, ranges and Unknown.
  Result<double> annualizationFactor() const;
  size_t length() const { return ohlcv.length(); }
  Timeframe timeframe() const { return ohlcv.timeframe(); }
};

// Copying a SharedCtx shares the cell (that is `ref`); `Ctx` copies make `copy`.
class SharedCtx : public SharedCell<Ctx> {
 public:
  explicit SharedCtx(Ctx ctx = {}) : SharedCell(std::move(ctx)) {}

  // A new cell holding a copy of this context: same shared series, own cursor and symbol.
  Result<SharedCtx> copy() const {
    return read([](const Ctx& c) { return SharedCtx(c); });
  }
};

}  // namespace bw
