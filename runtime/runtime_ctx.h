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

// The bars that the coming advances of a collect will reach, read in one go: only the fields the
// kept series need, one column each. Row r is bar `first + r`.
struct BarBlock {
  uint64_t first = 0;
  uint64_t length = 0;  // the series length, read with the bars
  size_t rows = 0;
  std::vector<double> open, high, low, close, volume;
  std::vector<std::optional<int64_t>> openTime, closeTime;
};

class RuntimeCtx {
 public:
  explicit RuntimeCtx(SharedCtx ctx, uint16_t reads = kAllBuiltins) : ctx_(std::move(ctx)), reads_(reads) {}

  NumSeries open, high, low, close, volume, hl2, hlc3, hlcc4, ohlc4;
  IntSeries bar_index, last_bar_index, open_time, close_time;

  // The bar at the context's current index (the context does not move) and the series length,
  // under one read borrow. Fails on an empty series or an index past the end.
  Result<BarSnapshot> fetch() const;
  // The same into `out` (its bar only when the instance keeps a price or time series).
  Result<Unit> fetch(BarSnapshot& out) const;
  // Advances every kept series and sets this bar's values, in the refresh order.
  void apply(const BarSnapshot& s);
  // fetch() then apply(): one refresh.
  Result<Unit> update();
  // Up to `max` of the bars that the coming advances will reach, under one borrow and one read of
  // the series; no rows at the end. The context does not move.
  Result<Unit> readBlock(BarBlock& out, size_t max) const;
  // Moves the shared context over the block's bars, under one write borrow: it ends on the
  // block's last bar. False when the context is not where the block was read (unreachable while
  // nothing runs between the read and the advance).
  Result<bool> advanceOver(const BarBlock& b) const;
  // One refresh from row r of a block: the same values, in the same order, as apply().
  void apply(const BarBlock& b, size_t r) {
    if (reads_ != 0) applyRow(b, r);
  }
  // The same for an instance that keeps exactly the series of mask M, known at compile time: only
  // those are touched, without a test per series.
  template <uint16_t M>
  void applyKept(const BarBlock& b, size_t r) {
    if constexpr (M != 0) {
      constexpr bool o = M & (kOpen | kOhlc4);
      constexpr bool hl = M & (kHigh | kLow | kHl2 | kHlc3 | kHlcc4 | kOhlc4);
      constexpr bool c = M & (kClose | kHlc3 | kHlcc4 | kOhlc4);
      refresh<M, true>(o ? b.open[r] : kNaN, hl ? b.high[r] : kNaN, hl ? b.low[r] : kNaN, c ? b.close[r] : kNaN,
                 (M & kVolume) ? b.volume[r] : kNaN, b.first + r, b.length,
                 (M & kOpenTime) ? b.openTime[r] : std::nullopt, (M & kCloseTime) ? b.closeTime[r] : std::nullopt);
    }
  }
  // Room in every kept series for `extra` more steps.
  void reserveMore(size_t extra);

  const SharedCtx& ctx() const { return ctx_; }
  uint16_t reads() const { return reads_; }
  // Whether a refresh reads anything of the bar itself (prices, volume, times) rather than only
  // its index and the length: a step that keeps none of those series needs no copy of the bar.
  bool readsBar() const { return (reads_ & ~(kBarIndex | kLastBarIndex)) != 0; }

 private:
  void applyRow(const BarBlock& b, size_t r);
  // The refresh of the kept series: those of mask M when it is exact (known at compile time),
  // else those of M that the instance keeps, tested one by one.
  template <uint16_t M, bool Exact>
  void refresh(double o, double h, double l, double c, double v, uint64_t barIndex, uint64_t length,
               std::optional<int64_t> openMs, std::optional<int64_t> closeMs) {
    const uint16_t m = Exact ? M : (M & reads_);
    // Advance then set: on these series, which grow together from empty, that is one push.
    if ((M & kOpen) && (m & kOpen)) open.push(o);
    if ((M & kHigh) && (m & kHigh)) high.push(h);
    if ((M & kLow) && (m & kLow)) low.push(l);
    if ((M & kClose) && (m & kClose)) close.push(c);
    if ((M & kVolume) && (m & kVolume)) volume.push(v);
    if ((M & kHl2) && (m & kHl2)) hl2.push((h + l) * 0.5);
    if ((M & kHlc3) && (m & kHlc3)) hlc3.push(((h + l) + c) / 3);
    if ((M & kHlcc4) && (m & kHlcc4)) hlcc4.push((((h + l) + c) + c) * 0.25);
    if ((M & kOhlc4) && (m & kOhlc4)) ohlc4.push((((o + h) + l) + c) * 0.25);
    if ((M & kBarIndex) && (m & kBarIndex)) bar_index.push(static_cast<int64_t>(barIndex));
    if ((M & kLastBarIndex) && (m & kLastBarIndex))
      last_bar_index.push(length == 0 ? 0 : static_cast<int64_t>(length - 1));
    if ((M & kOpenTime) && (m & kOpenTime)) open_time.push(openMs);
    if ((M & kCloseTime) && (m & kCloseTime)) close_time.push(closeMs);
  }

  SharedCtx ctx_;
  uint16_t reads_;
};

}  // namespace bw::rt
