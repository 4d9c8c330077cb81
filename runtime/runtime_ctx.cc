#include "runtime/runtime_ctx.h"

#include <algorithm>


namespace bw::rt {

namespace {

std::optional<int64_t> millis(const std::optional<DateTime>& t) {
  if (!t) return std::nullopt;
  return t->toMillis();
}

}  // namespace

Result<Unit> RuntimeCtx::fetch(BarSnapshot& out) const {
  const bool copyBar = readsBar();
  return ctx_.read([copyBar, &out](const Ctx& c) -> Result<Unit> {
    // Bar and length under one read lock of the series, written in place: nothing is copied
    // that the refresh does not read.
    const bool found = c.ohlcv.read([&](const Ohlcv& o) {
      if (c.barIndex >= o.bars.size()) return false;
      out.barIndex = c.barIndex;
      out.length = o.bars.size();
      if (copyBar) out.bar = o.bars[c.barIndex];
      return true;
    });
    if (found) return Unit{};
    // No current bar: the same failure as reading the context's bar.
    auto b = c.bar();
    if (!b.ok()) return std::move(b).error();
    out = BarSnapshot{*b, c.barIndex, c.length()};
    return Unit{};
  });
}

Result<BarSnapshot> RuntimeCtx::fetch() const {
  BarSnapshot s;
  BW_TRY(fetch(s));
  return s;
}

void RuntimeCtx::apply(const BarSnapshot& s) {
  if (reads_ == 0) return;
  const OhlcvBar& b = s.bar;
  refresh<kAllBuiltins, false>(b.open, b.high, b.low, b.close, b.volume, s.barIndex, s.length, millis(b.openTime), millis(b.closeTime));
}

void RuntimeCtx::applyRow(const BarBlock& b, size_t r) {
  const auto col = [r](const std::vector<double>& c) { return c.empty() ? kNaN : c[r]; };
  const auto opt = [r](const std::vector<std::optional<int64_t>>& c) {
    return c.empty() ? std::optional<int64_t>() : c[r];
  };
  refresh<kAllBuiltins, false>(col(b.open), col(b.high), col(b.low), col(b.close), col(b.volume), b.first + r, b.length,
          opt(b.openTime), opt(b.closeTime));
}

Result<Unit> RuntimeCtx::readBlock(BarBlock& out, size_t max) const {
  const uint16_t m = reads_;
  // A column only for what some kept series is computed from.
  const bool o = m & (kOpen | kOhlc4);
  const bool hl = m & (kHigh | kLow | kHl2 | kHlc3 | kHlcc4 | kOhlc4);
  const bool c = m & (kClose | kHlc3 | kHlcc4 | kOhlc4);
  const bool v = m & kVolume;
  const bool ot = m & kOpenTime;
  const bool ct = m & kCloseTime;
  out.rows = 0;
  return ctx_.read([&](const Ctx& cx) {
    cx.ohlcv.read([&](const Ohlcv& s) {
      const uint64_t n = s.bars.size();
      const uint64_t start = cx.initialized ? cx.barIndex + 1 : 0;
      out.first = start;
      out.length = n;
      if (start >= n) return;
      const size_t rows = static_cast<size_t>(std::min<uint64_t>(max, n - start));
      const auto size = [rows](auto& col, bool kept) { col.resize(kept ? rows : 0); };
      size(out.open, o);
      size(out.high, hl);
      size(out.low, hl);
      size(out.close, c);
      size(out.volume, v);
      size(out.openTime, ot);
      size(out.closeTime, ct);
      out.rows = rows;
      if (!(o || hl || c || v || ot || ct)) return;  // only the index and the length are kept
      const OhlcvBar* bars = s.bars.data() + start;
      for (size_t r = 0; r < rows; ++r) {
        const OhlcvBar& b = bars[r];
        if (o) out.open[r] = b.open;
        if (hl) {
          out.high[r] = b.high;
          out.low[r] = b.low;
        }
        if (c) out.close[r] = b.close;
        if (v) out.volume[r] = b.volume;
        if (ot) out.openTime[r] = millis(b.openTime);
        if (ct) out.closeTime[r] = millis(b.closeTime);
      }
    });
  });
}

Result<bool> RuntimeCtx::advanceOver(const BarBlock& b) const {
  return ctx_.write([&b](Ctx& c) {
    // The block's rows are the bars the advances reach one by one: the first advance lands on
    // b.first, each further one a bar on; the last lands on the block's last bar.
    if (b.rows == 0) return true;
    const uint64_t candidate = c.initialized ? c.barIndex + 1 : 0;
    if (candidate != b.first || b.first + b.rows > b.length) return false;
    c.barIndex = b.first + b.rows - 1;
    c.initialized = true;
    return true;
  });
}

void RuntimeCtx::reserveMore(size_t extra) {
  const uint16_t m = reads_;
  if (m & kOpen) open.reserveMore(extra);
  if (m & kHigh) high.reserveMore(extra);
  if (m & kLow) low.reserveMore(extra);
  if (m & kClose) close.reserveMore(extra);
  if (m & kVolume) volume.reserveMore(extra);
  if (m & kHl2) hl2.reserveMore(extra);
  if (m & kHlc3) hlc3.reserveMore(extra);
  if (m & kHlcc4) hlcc4.reserveMore(extra);
  if (m & kOhlc4) ohlc4.reserveMore(extra);
  if (m & kBarIndex) bar_index.reserveMore(extra);
  if (m & kLastBarIndex) last_bar_index.reserveMore(extra);
  if (m & kOpenTime) open_time.reserveMore(extra);
  if (m & kCloseTime) close_time.reserveMore(extra);
}

Result<Unit> RuntimeCtx::update() {
  BW_ASSIGN(snap, fetch());
  apply(snap);
  return Unit{};
}

}  // namespace bw::rt
