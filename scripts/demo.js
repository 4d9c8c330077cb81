'use strict';
// npm run demo: a moving-average-cross strategy on the bundled hourly BTC/USD bars. It goes long
// when the half-day average crosses above the ten-day average and short when it crosses below
// (the best pair of examples/sweep.js), then prints the summary report with its equity chart and
// the start of the Pine Script export.
const { NodeBacktest, NodeCtx, NodeSignal, Incr_fn_sma_059403, Incr_fn_crossover_94210a, Incr_fn_crossunder_ed654e } =
  require('barwise');
const { loadSample } = require('../data/sample');

const FAST = 12; // half a day of hourly bars
const SLOW = 240; // ten days
const PINE_WIDTH = 150;

const { ohlcv, sym } = loadSample();
const closes = ohlcv.close;
const ctx = new NodeCtx(ohlcv, sym);
const bt = new NodeBacktest(ctx, 10000);

// Every indicator instance is bound to the same context, so each iteration of the backtest moves
// all of them to the next bar; each keeps its own history, so each is stepped on every bar.
const fast = Incr_fn_sma_059403.make(ctx);
const slow = Incr_fn_sma_059403.make(ctx);
const above = Incr_fn_crossover_94210a.make(ctx);
const below = Incr_fn_crossunder_ed654e.make(ctx);

for (const i of bt) {
  const f = fast.next(closes[i], FAST);
  const s = slow.next(closes[i], SLOW);
  const up = above.next(f, s);
  const down = below.next(f, s);
  // Orders fill at the open of the next bar.
  if (up) bt.signal(NodeSignal.Long());
  else if (down) bt.signal(NodeSignal.Short());
}

const first = ohlcv.at(0);
const last = ohlcv.at(-1);
const day = (/** @type {Date | null | undefined} */ d) => (d ? d.toISOString().slice(0, 10) : '?');
console.log(
  `SMA ${FAST}/${SLOW} cross on ${ohlcv.length} ${ohlcv.timeframe} bars of ${sym.ticker}, ` +
    `${day(first?.openTime)} to ${day(last?.openTime)}, initial capital ${bt.initialCapital} ${sym.currency}`,
);
bt.display();
// The report's Sharpe and Sortino ratios are the per-bar ratios times the bars per year itself;
// the figure usually quoted multiplies by its square root instead.
const perYear = ctx.annualizationFactor;
console.log(
  `Sharpe ratio annualised by the square root of ${perYear} bars a year: ` +
    `${(bt.sharpeRatio() / Math.sqrt(perYear)).toFixed(3)}, Sortino ${(bt.sortinoRatio() / Math.sqrt(perYear)).toFixed(3)}`,
);

// The export lists every trade on one line; show the script up to that line, cut to the width.
const pine = bt.toPine().split('\n');
const upTo = pine.findIndex((line) => line.startsWith('trades = ')) + 1 || pine.length;
console.log(`Pine Script export (${bt.trades.length} trades), first ${upTo} of ${pine.length} lines:`);
for (const line of pine.slice(0, upTo))
  console.log(line.length > PINE_WIDTH ? `${line.slice(0, PINE_WIDTH - 3)}...` : line);
