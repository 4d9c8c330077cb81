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
  // Room in every kept series for `extra` more steps.
  void reserveMore(size_t extra);

  const SharedCtx& ctx() const { return ctx_; }
  uint16_t reads() const { return reads_; }
  // Whether a refresh reads anything of the bar itself (prices, volume, times) rather than only
  // its index and the length: a step that keeps none of those series needs no copy of the bar.
  bool readsBar() const { return (reads_ & ~(kBarIndex | kLastBarIndex)) != 0; }

 private:
  void applyRow(const BarBlock& b, size_t r);
  void refresh(double o, double h, double l, double c, double v, uint64_t barIndex, uint64_t length,
               std::optional<int64_t> openMs, std::optional<int64_t> closeMs) {
    const uint16_t m = reads_;
    // Advance then set: on these series, which grow together from empty, that is one push.
    const auto put = [](auto& s, auto x) { s.push(x); };
    if (m & kOpen) put(open, o);
    if (m & kHigh) put(high, h);
    if (m & kLow) put(low, l);
    if (m & kClose) put(close, c);
    if (m & kVolume) put(volume, v);
    if (m & kHl2) put(hl2, (h + l) * 0.5);
    if (m & kHlc3) put(hlc3, ((h + l) + c) / 3);
    if (m & kHlcc4) put(hlcc4, (((h + l) + c) + c) * 0.25);
    if (m & kOhlc4) put(ohlc4, (((o + h) + l) + c) * 0.25);
    if (m & kBarIndex) put(bar_index, std::optional<int64_t>(static_cast<int64_t>(barIndex)));
    if (m & kLastBarIndex) put(last_bar_index, std::optional<int64_t>(length == 0 ? 0 : static_cast<int64_t>(length - 1)));
    if (m & kOpenTime) put(open_time, openMs);
    if (m & kCloseTime) put(close_time, closeMs);
  }

  SharedCtx ctx_;
  uint16_t reads_;
};

}  // namespace bw::rt
