#include "core/signal_run.h"

namespace bw {

Result<uint64_t> runSignals(Backtest& bt, const SignalPlan& plan) {
  // What `NodeSignal.CloseAll()` and `NodeSignal.Size(x)` make: the kind alone.
  Signal closeAll;
  closeAll.kind = SignalKind::closeAll();
  Signal sized;
  sized.kind = SignalKind::size(0);
  const bool perBarSize = !plan.sizes.empty();
  uint64_t j = 0;
  for (;; ++j) {
    BW_ASSIGN(moved, bt.step());
    if (!moved) return j;
    const bool enter = j < plan.entries.size() && plan.entries[j] != 0;
    if (enter) {
      if (perBarSize) {
        sized.kind.value = j < plan.sizes.size() ? plan.sizes[j] : kNaN;
        BW_TRY(bt.signal(sized));
      } else {
        BW_TRY(bt.signal(plan.entry));
      }
    } else if (j < plan.exits.size() && plan.exits[j] != 0) {
      BW_TRY(bt.signal(closeAll));
    }
  }
}

}  // namespace bw
