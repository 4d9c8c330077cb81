'use strict';
// A moving-average-cross backtest over 1,000,000 bars: `for (const i of bt)`, two incremental SMAs
// and one `bt.signal(...)` per bar, then every figure, and an estimate of the share of the loop
// spent crossing into the add-on.
const { NodeSym, NodeCtx, NodeBacktest, NodeSignal, Incr_fn_sma_059403 } = require('..');
const { measure, line } = require('./measure');
const bars = require('./data');

const BARS = Number(process.env.BARS || 1_000_000);
const RUNS = Number(process.env.RUNS || 5);
const FAST = 10;
const SLOW = 30;

const FIGURES = [
  'equityList', 'netEquityList', 'equity', 'netEquity', 'returnsList', 'pnlList', 'openTrades', 'closedTrades',
  'trades', 'positionSize', 'firstEntryBarIndex', 'losingTradesCount', 'openLongsCount', 'openShortsCount',
  'closedLongsCount', 'closedShortsCount', 'netProfit', 'grossProfit', 'grossLoss', 'openProfit', 'netProfitPct',
  'grossProfitPct', 'grossLossPct', 'avgTrade', 'avgWinningTrade', 'avgLosingTrade', 'avgWinLossRatio',
  'profitFactor', 'winRate', 'initialCapital', 'processOrdersOnClose', 'instrumentSize',
];
const METHODS = ['winningTradesCount', 'sharpeRatio', 'sortinoRatio', 'expectancy'];

// A fresh backtest over the market, with its two averages and signals.
function setup({ ohlcv, close }) {
  const ctx = new NodeCtx(ohlcv, NodeSym.BTC_USD());
  return {
    close, bt: new NodeBacktest(ctx, 100000), fast: Incr_fn_sma_059403.make(ctx), slow: Incr_fn_sma_059403.make(ctx),
    long: NodeSignal.Long(), short: NodeSignal.Short(),
  };
}

function loop({ close, bt, fast, slow, long, short }) {
  for (const i of bt) {
    const c = close[i];
    const f = fast.next(c, FAST);
    const s = slow.next(c, SLOW);
    if (f === f && s === s) bt.signal(f > s ? long : short);
  }
  return bt;
}

function figures(bt) {
  const out = {};
  for (const k of FIGURES) out[k] = bt[k];
  for (const k of METHODS) out[k] = bt[k]();
  return out;
}

const data = { ohlcv: bars.series(BARS), close: bars.columns(BARS).close };
const looped = measure(loop, { prepare: () => setup(data), runs: RUNS, n: BARS });
const read = measure(figures, { prepare: () => loop(setup(data)), runs: RUNS });
// The loop's parts: the iteration step alone, and with one signal a bar (mostly a repeat that
// queues nothing, as in the loop above).
const stepped = measure(({ bt }) => {
  let sink = 0;
  for (const i of bt) sink += i;
  return sink;
}, { prepare: () => setup(data), runs: RUNS, n: BARS });
const signalled = measure(({ bt, long, short }) => {
  for (const i of bt) bt.signal((i >> 4) & 1 ? long : short);
  return bt;
}, { prepare: () => setup(data), runs: RUNS, n: BARS });
// The cost of a crossing alone: a native getter that does next to nothing, called once per bar.
const crossing = measure((bt) => {
  let sink = 0;
  for (let i = 0; i < BARS; i++) sink += bt.processOrdersOnClose ? 1 : 0;
  return sink;
}, { prepare: () => new NodeBacktest(new NodeCtx(data.ohlcv, NodeSym.BTC_USD()), 100000), runs: RUNS, n: BARS });
// Four crossings a bar: the iteration step, two SMA steps, one signal.
const share = (4 * crossing.cpuNs) / looped.cpuNs;
const last = read.last;
console.log(`backtest: ${BARS} bars, ${last.closedTrades.length} closed trades, net profit ${last.netProfit.toFixed(2)}, ` +
  `sharpe ${last.sharpeRatio.toFixed(4)}`);
console.log(line('loop (iteration + 2 SMA + signal)', looped));
console.log(line('iteration step alone', stepped));
console.log(line('iteration + one signal', signalled));
console.log(line('every figure', read));
console.log(line('one crossing into the add-on', crossing, 'call'));
console.log(`crossings: ~${(100 * share).toFixed(0)}% of the loop's CPU time`);
