#include "core/signal_run.h"

namespace bw {

namespace {

// How many bars ahead the loop asks for the prices it will read: a long series streams from
// memory, and the step of one bar is short enough to outrun the hardware's own prefetching.
constexpr uint64_t kAhead = 24;

}  // namespace

Result<uint64_t> runSignals(Backtest& bt, const SignalPlan& plan) {
  // What `NodeSignal.CloseAll()` and `NodeSignal.Size(x)` make: the kind alone.
  Signal closeAll;
  closeAll.kind = SignalKind::closeAll();
  Signal sized;
  sized.kind = SignalKind::size(0);
  const bool perBarSize = !plan.sizes.empty();
  // The context stays borrowed and the series read-locked for the whole run: nothing else runs
  // meanwhile, and each bar is read in place. The run covers the bars the series has now.
  // However the run ends, the mark it leaves is the one the bars it ran give.
  struct Settle {
    Backtest& bt;
    ~Settle() { bt.settleMark(); }
  } settle{bt};
  return bt.ctx_.write([&](Ctx& c) -> Result<uint64_t> {
    return c.ohlcv.read([&](const Ohlcv& o) -> Result<uint64_t> {
      const uint64_t n = o.bars.size();
      uint64_t i = c.initialized ? c.barIndex + 1 : 0;
      if (i >= n) return uint64_t{0};
      bt.reserveBars(n - i);
      const OhlcvBar* bars = o.bars.data();
      uint64_t j = 0;
      for (; i < n; ++i, ++j) {
        c.barIndex = i;
        c.initialized = true;
#if defined(__GNUC__)
        if (i + kAhead < n) {
          __builtin_prefetch(&bars[i + kAhead].open);
          __builtin_prefetch(&bars[i + kAhead].close);
        }
#endif
        BW_TRY(bt.runBar(i, bars[i]));
        const bool enter = j < plan.entries.size() && plan.entries[j] != 0;
        if (enter) {
          if (perBarSize) {
            sized.kind.value = j < plan.sizes.size() ? plan.sizes[j] : kNaN;
            BW_TRY(bt.signalOn(sized, i));
          } else {
            BW_TRY(bt.signalOn(plan.entry, i));
          }
        } else if (j < plan.exits.size() && plan.exits[j] != 0) {
          BW_TRY(bt.signalOn(closeAll, i));
        }
      }
      return j;
    });
  });
}

}  // namespace bw
