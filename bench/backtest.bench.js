'use strict';
// A moving-average-cross backtest over 1,000,000 bars: `for (const i of bt)`, two incremental SMAs
// and one `bt.signal(...)` per bar, then every figure, and an estimate of the share of the loop
// spent crossing into the add-on.
const {
  NodeOhlcv, NodeTimeframe, NodeSym, NodeCtx, NodeBacktest, NodeSignal, zipOhlcvBars, Incr_fn_sma_059403,
} = require('..');
const { measure, line } = require('./measure');

const BARS = Number(process.env.BARS || 1_000_000);
const RUNS = Number(process.env.RUNS || 5);
const FAST = 10;
const SLOW = 30;

function market(n) {
  // A seeded random walk, so every run trades the same path.
  let seed = 42;
  const rand = () => {  // mulberry32
    seed = (seed + 0x6d2b79f5) | 0;
    let t = Math.imul(seed ^ (seed >>> 15), 1 | seed);
    t = (t + Math.imul(t ^ (t >>> 7), 61 | t)) ^ t;
    return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
  };
  const open = new Float64Array(n), high = new Float64Array(n), low = new Float64Array(n);
  const close = new Float64Array(n), volume = new Float64Array(n);
  let price = 30000;
  const start = Date.UTC(2020, 0, 1);
  const openTime = new Array(n), closeTime = new Array(n);
  for (let i = 0; i < n; i++) {
    open[i] = price;
    price = Math.max(1, price * (1 + (rand() - 0.5) * 0.004));
    close[i] = price;
    high[i] = Math.max(open[i], close[i]) * 1.001;
    low[i] = Math.min(open[i], close[i]) * 0.999;
    volume[i] = 1 + rand() * 10;
    openTime[i] = new Date(start + i * 60000);
    closeTime[i] = new Date(start + (i + 1) * 60000);
  }
  const ohlcv = NodeOhlcv.fromBars(zipOhlcvBars(openTime, closeTime, open, high, low, close, volume));
  ohlcv.timeframe = NodeTimeframe.Minutes(1);
  return { ohlcv, close };
}

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

const data = market(BARS);
const looped = measure(loop, { prepare: () => setup(data), runs: RUNS, n: BARS });
const read = measure(figures, { prepare: () => loop(setup(data)), runs: RUNS });
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
console.log(line('every figure', read));
console.log(line('one crossing into the add-on', crossing, 'call'));
console.log(`crossings: ~${(100 * share).toFixed(0)}% of the loop's CPU time`);
