'use strict';
// The browser report: a moving-average-cross backtest on the bundled hourly bars, written as one
// HTML file that opens in any browser with no network (the charting library is inside it).
//
//   node examples/report.js [out.html]   (default: barwise-report.html in the temporary folder)
const os = require('node:os');
const path = require('node:path');
const { NodeBacktest, NodeCtx, NodeSignal, Incr_fn_ema_7bc747, Incr_fn_crossover_94210a, Incr_fn_crossunder_ed654e } =
  require('barwise');
const { loadSample } = require('../data/sample');

const FAST = 24;
const SLOW = 120;

const out = path.resolve(process.argv[2] ?? path.join(os.tmpdir(), 'barwise-report.html'));
const { ohlcv, sym } = loadSample();
// The last six months of the two years: enough trades to read, few enough to see each one.
const recent = ohlcv.tail(24 * 182);
recent.timeframe = ohlcv.timeframe;
const ctx = new NodeCtx(recent, sym);
const bt = new NodeBacktest(ctx, 10000);

const fast = Incr_fn_ema_7bc747.make(ctx);
const slow = Incr_fn_ema_7bc747.make(ctx);
const above = Incr_fn_crossover_94210a.make(ctx);
const below = Incr_fn_crossunder_ed654e.make(ctx);
const closes = recent.close;

for (const i of bt) {
  const f = fast.next(closes[i], FAST);
  const s = slow.next(closes[i], SLOW);
  // Long above the slow average, flat below it.
  if (above.next(f, s)) bt.signal(NodeSignal.EquityPct(1));
  else if (below.next(f, s)) bt.signal(NodeSignal.CloseAll());
}

bt.toHtml({ title: `EMA ${FAST}/${SLOW} cross on ${sym.ticker}`, path: out });
console.log(`${bt.closedTrades.length} closed trades, net profit ${bt.netProfit.toFixed(2)} ${sym.currency}`);
console.log(`report written to ${out}`);
