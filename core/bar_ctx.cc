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

void Ctx::skip(const CtxSkip& s) {
  ohlcv.read([&](const Ohlcv& o) {
    // Unsigned, wrapping: on an empty series `last` is the largest index.
    const uint64_t last = static_cast<uint64_t>(o.bars.size()) - 1;
    const auto widened = static_cast<uint64_t>(static_cast<int64_t>(s.n));
    uint64_t target = last;
    switch (s.kind) {
      case CtxSkip::Kind::End: break;
      case CtxSkip::Kind::Bars: target = barIndex + widened; break;
      case CtxSkip::Kind::BarIndex: target = widened; break;
      case CtxSkip::Kind::OpenTimeEq:
      case CtxSkip::Kind::OpenTimeGeq: {
        const bool eq = s.kind == CtxSkip::Kind::OpenTimeEq;
        for (size_t i = 0; i < o.bars.size(); ++i) {
          const auto& t = o.bars[i].openTime;
          if (t && (eq ? *t == s.time : *t >= s.time)) {
            target = i;
            break;
          }
        }
        break;
      }
    }
    barIndex = std::min(target, last);
  });
}

Result<double> Ctx::annualizationFactor() const {
  return bw::annualizationFactor(ohlcv.timeframe(), sym.kind.periodsPerYear());
}

}  // namespace bw
