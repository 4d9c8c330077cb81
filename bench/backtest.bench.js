'use strict';
// A moving-average-cross backtest over 1,000,000 bars: `for (const i of bt)`, two incremental SMAs
// and one `bt.signal(...)` per bar, then every figure. Prints the median of several runs and an
// estimate of the share of the loop spent crossing into the add-on.
const {
  NodeOhlcv, NodeTimeframe, NodeSym, NodeCtx, NodeBacktest, NodeSignal, zipOhlcvBars, Incr_fn_sma_059403,
} = require('..');

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

const median = (xs) => [...xs].sort((a, b) => a - b)[Math.floor(xs.length / 2)];
const ms = (t0) => Number(process.hrtime.bigint() - t0) / 1e6;

function run({ ohlcv, close }) {
  const ctx = new NodeCtx(ohlcv, NodeSym.BTC_USD());
  const bt = new NodeBacktest(ctx, 100000);
  const fast = Incr_fn_sma_059403.make(ctx);
  const slow = Incr_fn_sma_059403.make(ctx);
  const long = NodeSignal.Long();
  const short = NodeSignal.Short();
  const t0 = process.hrtime.bigint();
  for (const i of bt) {
    const c = close[i];
    const f = fast.next(c, FAST);
    const s = slow.next(c, SLOW);
    if (f === f && s === s) bt.signal(f > s ? long : short);
  }
  const loop = ms(t0);
  const t1 = process.hrtime.bigint();
  const out = {};
  for (const k of FIGURES) out[k] = bt[k];
  for (const k of METHODS) out[k] = bt[k]();
  const figures = ms(t1);
  return { loop, figures, trades: out.closedTrades.length, netProfit: out.netProfit, sharpe: out.sharpeRatio };
}

// The cost of a crossing alone: a native getter that does next to nothing, called once per bar.
function crossingCost(ohlcv, n) {
  const bt = new NodeBacktest(new NodeCtx(ohlcv, NodeSym.BTC_USD()), 100000);
  let sink = 0;
  const t0 = process.hrtime.bigint();
  for (let i = 0; i < n; i++) sink += bt.processOrdersOnClose ? 1 : 0;
  return { perCall: ms(t0) / n, sink };
}

const data = market(BARS);
const loops = [], figures = [];
let last;
for (let r = 0; r < RUNS; r++) {
  if (global.gc) global.gc();
  last = run(data);
  loops.push(last.loop);
  figures.push(last.figures);
}
const { perCall } = crossingCost(data.ohlcv, BARS);
// Four crossings a bar: the iteration step, two SMA steps, one signal.
const crossings = 4 * BARS * perCall;
const loopMedian = median(loops);
console.log(`backtest: ${BARS} bars, ${last.trades} closed trades, net profit ${last.netProfit.toFixed(2)}, ` +
  `sharpe ${last.sharpe.toFixed(4)}`);
console.log(`  loop (iteration + 2 SMA + signal):  median ${loopMedian.toFixed(1)} ms  ` +
  `(${(loopMedian * 1e6 / BARS).toFixed(0)} ns/bar; runs ${loops.map((x) => x.toFixed(0)).join(', ')})`);
console.log(`  every figure:                       median ${median(figures).toFixed(1)} ms`);
console.log(`  crossing into the add-on: ~${(perCall * 1e6).toFixed(0)} ns a call, ` +
  `~${(100 * crossings / loopMedian).toFixed(0)}% of the loop`);
