#include "runtime/runtime_ctx.h"


namespace bw::rt {

namespace {

std::optional<int64_t> millis(const std::optional<DateTime>& t) {
  if (!t) return std::nullopt;
  return t->toMillis();
}

template <class T>
void refresh(Series<T>& s, T v) {
  s.advance();
  s.set(v);
}

}  // namespace

Result<BarSnapshot> RuntimeCtx::fetch() const {
  const bool copyBar = readsBar();
  return ctx_.read([copyBar](const Ctx& c) -> Result<BarSnapshot> {
    // Bar and length under one read lock of the series.
    std::optional<BarSnapshot> snap = c.ohlcv.read([&](const Ohlcv& o) -> std::optional<BarSnapshot> {
      if (c.barIndex >= o.bars.size()) return std::nullopt;
      BarSnapshot s{{}, c.barIndex, o.bars.size()};
      if (copyBar) s.bar = o.bars[c.barIndex];
      return s;
    });
    if (snap) return *snap;
    // No current bar: the same failure as reading the context's bar.
    auto b = c.bar();
    if (!b.ok()) return std::move(b).error();
    return BarSnapshot{*b, c.barIndex, c.length()};
  });
}

Result<Unit> RuntimeCtx::peekAhead(std::vector<BarSnapshot>& out, size_t max) const {
  // The records of the previous block are reused; without a bar to copy only the index and
  // the length are written (the step reads nothing else).
  const bool copyBar = readsBar();
  size_t k = 0;
  auto r = ctx_.read([&](const Ctx& c) {
    c.ohlcv.read([&](const Ohlcv& o) {
      const uint64_t n = o.bars.size();
      for (uint64_t i = c.initialized ? c.barIndex + 1 : 0; i < n && k < max; ++i, ++k) {
        if (k == out.size()) out.emplace_back();
        BarSnapshot& s = out[k];
        s.barIndex = i;
        s.length = n;
        if (copyBar) s.bar = o.bars[i];
      }
    });
  });
  out.resize(k);
  return r;
}

Result<std::optional<uint64_t>> RuntimeCtx::advanceWithin(uint64_t length) const {
  return ctx_.write([length](Ctx& c) { return c.advanceWithin(length); });
}

void RuntimeCtx::apply(const BarSnapshot& s) {
  const OhlcvBar& b = s.bar;
  const uint16_t m = reads_;
  if (m == 0) return;
  if (m & kOpen) refresh(open, b.open);
  if (m & kHigh) refresh(high, b.high);
  if (m & kLow) refresh(low, b.low);
  if (m & kClose) refresh(close, b.close);
  if (m & kVolume) refresh(volume, b.volume);
  if (m & kHl2) refresh(hl2, (b.high + b.low) * 0.5);
  if (m & kHlc3) refresh(hlc3, ((b.high + b.low) + b.close) / 3);
  if (m & kHlcc4) refresh(hlcc4, (((b.high + b.low) + b.close) + b.close) * 0.25);
  if (m & kOhlc4) refresh(ohlc4, (((b.open + b.high) + b.low) + b.close) * 0.25);
  if (m & kBarIndex) refresh(bar_index, std::optional<int64_t>(static_cast<int64_t>(s.barIndex)));
  if (m & kLastBarIndex)
    refresh(last_bar_index, std::optional<int64_t>(s.length == 0 ? 0 : static_cast<int64_t>(s.length - 1)));
  if (m & kOpenTime) refresh(open_time, millis(b.openTime));
  if (m & kCloseTime) refresh(close_time, millis(b.closeTime));
}

Result<Unit> RuntimeCtx::update() {
  BW_ASSIGN(snap, fetch());
  apply(snap);
  return Unit{};
}

}  // namespace bw::rt
