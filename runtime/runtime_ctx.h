// The runtime context of compiled code: the thirteen built-in bar series, refreshed from the
// shared bar context once per step. An instance keeps only the series its step reads (the
// `reads` mask); the others stay empty and cost nothing per bar.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "core/bar_ctx.h"
#include "core/error.h"
#include "core/ohlcv.h"
#include "runtime/series.h"

namespace bw::rt {

// One bit per built-in series, in the order of the refresh.
enum Builtin : uint16_t {
  kOpen = 1u << 0,
  kHigh = 1u << 1,
  kLow = 1u << 2,
  kClose = 1u << 3,
  kVolume = 1u << 4,
  kHl2 = 1u << 5,
  kHlc3 = 1u << 6,
  kHlcc4 = 1u << 7,
  kOhlc4 = 1u << 8,
  kBarIndex = 1u << 9,
  kLastBarIndex = 1u << 10,
  kOpenTime = 1u << 11,
  kCloseTime = 1u << 12,
};
inline constexpr uint16_t kAllBuiltins = (1u << 13) - 1;

// What one refresh reads from the bar context, taken before the instance changes anything, so
// that a step that cannot read its bar fails without side effects.
struct BarSnapshot {
  OhlcvBar bar;
  uint64_t barIndex = 0;
  uint64_t length = 0;
};

class RuntimeCtx {
 public:
  explicit RuntimeCtx(SharedCtx ctx, uint16_t reads = kAllBuiltins) : ctx_(std::move(ctx)), reads_(reads) {}

  NumSeries open, high, low, close, volume, hl2, hlc3, hlcc4, ohlc4;
  IntSeries bar_index, last_bar_index, open_time, close_time;

  // The bar at the context's current index (the context does not move) and the series length,
  // under one read borrow. Fails on an empty series or an index past the end.
  Result<BarSnapshot> fetch() const;
  // Advances every kept series and sets this bar's values, in the refresh order.
  void apply(const BarSnapshot& s);
  // fetch() then apply(): one refresh.
  Result<Unit> update();
  // Reads up to `max` bars that the coming advances will reach, under one borrow and one read of
  // the series (the collect loops, which then advance bar by bar without locking the series
  // again). Each snapshot carries its bar index and the length read; empty at the end. Its bar
  // is copied only when the instance keeps a price or time series (readsBar).
  Result<Unit> peekAhead(std::vector<BarSnapshot>& out, size_t max) const;
  // Advances the shared context to the next bar of a series of `length` bars (as read by
  // peekAhead), under the write borrow only; nothing at the end.
  Result<std::optional<uint64_t>> advanceWithin(uint64_t length) const;

  const SharedCtx& ctx() const { return ctx_; }
  uint16_t reads() const { return reads_; }
  // Whether a refresh reads anything of the bar itself (prices, volume, times) rather than only
  // its index and the length: a step that keeps none of those series needs no copy of the bar.
  bool readsBar() const { return (reads_ & ~(kBarIndex | kLastBarIndex)) != 0; }

 private:
  SharedCtx ctx_;
  uint16_t reads_;
};

}  // namespace bw::rt
