'use strict';
// Streaming: bars arrive one at a time (from a socket, a queue, a poller). Each new bar is pushed
// into the series that the context walks, the context advances onto it, and the indicator takes
// one step with `next`. Nothing is recomputed: every step costs the same however long the run.
const { NodeCtx, NodeOhlcv, NodeOhlcvBar, NodeSym, NodeTimeframe, Incr_fn_rsi_4196b9 } = require('barwise');
const { sampleColumns } = require('../data/sample');

const LENGTH = 14;
const live = new NodeOhlcv();
live.timeframe = NodeTimeframe.Hours(1);
const ctx = new NodeCtx(live, NodeSym.BTC_USD());
const rsi = Incr_fn_rsi_4196b9.make(ctx);

/** @param {NodeOhlcvBar} bar */
function onBar(bar) {
  live.push(bar); // the context shares this series, so it sees the bar at once
  ctx.next(); // move onto the bar just pushed
  return rsi.next(bar.close, LENGTH);
}

// Replay the first two days of the bundled bars as if they were arriving live.
const c = sampleColumns();
for (let i = 0; i < 48; i++) {
  const bar = new NodeOhlcvBar(c.openTime[i], c.closeTime[i], c.open[i], c.high[i], c.low[i], c.close[i], c.volume[i]);
  const value = onBar(bar);
  // The first LENGTH bars are the warm-up: rsi is NaN until it has LENGTH changes.
  if (i >= 40) console.log(`${c.openTime[i].toISOString()}  close ${bar.close}  rsi(${LENGTH}) ${value.toFixed(2)}`);
}
console.log(`streamed ${live.length} bars; context at bar ${ctx.barIndex}`);
