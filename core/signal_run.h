// A whole backtest from per-bar decisions, in one native call: the loop a script would write,
//
//   for (const i of bt) { if (entries[i]) bt.signal(size); else if (exits[i]) bt.signal(CloseAll); }
//
// run over the backtest's own public steps, so that it fills, marks and reports exactly what that
// loop would.
#pragma once

#include <cstdint>
#include <span>

#include "core/backtest.h"
#include "core/error.h"
#include "core/signal.h"

namespace bw {

// What a strategy decided for each remaining bar: element j belongs to the j-th bar the run
// steps through (for a fresh context, bar j).
struct SignalPlan {
  std::span<const uint8_t> entries;  // non-zero: hand over the entry signal after the bar
  std::span<const uint8_t> exits;    // non-zero (and no entry): close the whole position
  Signal entry;                      // the entry signal, used when `sizes` is empty
  std::span<const double> sizes;     // else: Size(sizes[j]) on an entry bar
};

// Steps through every remaining bar (advance, bar-open hook, bar-close hook) and, after each,
// hands the backtest the plan's signal for it. Bars beyond the plan's lists get none. Returns the
// number of bars run; a trade error ends the run where it happened, as it would end the loop.
Result<uint64_t> runSignals(Backtest& bt, const SignalPlan& plan);

}  // namespace bw
