#include "core/bar_ctx.h"

#include "core/stats.h"

#include <algorithm>
#include <string>

namespace bw {

Result<OhlcvBar> Ctx::bar() const {
  if (auto b = ohlcv.get(barIndex)) return *std::move(b);
  const size_t n = ohlcv.length();
  if (n == 0) return invalidArg("No bar to read: the series is empty");
  return invalidArg("No bar to read: bar index " + std::to_string(barIndex) + " is past the last bar " +
                    std::to_string(n - 1));
}

uint64_t Ctx::skipTarget(const CtxSkip& s) const {
  // Unsigned, wrapping: on an empty series `last` is the largest index.
  const uint64_t last = static_cast<uint64_t>(ohlcv.length()) - 1;
  const auto widened = static_cast<uint64_t>(static_cast<int64_t>(s.n));
  std::optional<uint64_t> found;
  switch (s.kind) {
    case CtxSkip::Kind::End: break;
    case CtxSkip::Kind::Bars: found = barIndex + widened; break;
    case CtxSkip::Kind::BarIndex: found = widened; break;
    case CtxSkip::Kind::OpenTimeEq: found = ohlcv.findOpenTime(s.time); break;
    case CtxSkip::Kind::OpenTimeGeq: found = ohlcv.findOpenTimeAtOrAfter(s.time); break;
  }
  // Bars appended between the two reads lie past `last` and clamp to it.
  return std::min<uint64_t>(found.value_or(last), last);
}

Result<double> Ctx::annualizationFactor() const {
  return bw::annualizationFactor(ohlcv.timeframe(), sym.kind.periodsPerYear());
}

}  // namespace bw
