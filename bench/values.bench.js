'use strict';
// Small value objects: what it costs to make them, to read them, and whether memory stays flat
// when a synchronous loop makes millions of them.
//
//   node --expose-gc bench/values.bench.js               # every section
//   node --expose-gc bench/values.bench.js churn ctx     # some sections
//
// churn: each value class made BARWISE_CHURN times (10,000,000) in one loop that never yields;
//        the peak resident set is sampled along the way (the goal is under 100 MB).
// getters: the per-read cost of the common getters.
// ctx:   `for (const i of ctx) { const b = ctx.bar; sum += b.close; }` over 1,000,000 bars,
//        several passes without a pause: ns per bar and the resident set after each pass.
// BARWISE_MODULE=path measures another build of the add-on (a before/after comparison).
const b = require(process.env.BARWISE_MODULE || '..');
const data = require('./data');

const CHURN = Number(process.env.BARWISE_CHURN || 10_000_000);
const READS = Number(process.env.BARWISE_READS || 10_000_000);
const BARS = Number(process.env.BARWISE_BENCH_BARS || 1_000_000);
const PASSES = Number(process.env.BARWISE_PASSES || 5);
const only = process.argv.slice(2);
const wanted = (name) => only.length === 0 || only.includes(name);
const mb = (x) => (x / 1e6).toFixed(1);
const now = () => process.hrtime.bigint();
// CPU time of this process in nanoseconds: on a machine shared with other work it says more than
// wall time does.
const cpu = () => { const u = process.cpuUsage(); return (u.user + u.system) * 1000; };
const settle = () => { for (let i = 0; i < 3; i++) globalThis.gc?.(); };

function series(n) {
  const c = data.columns(n);
  const dates = (ms) => Array.from(ms, (t) => new Date(t));
  const bars = b.zipOhlcvBars(dates(c.openTime), dates(c.closeTime), c.open, c.high, c.low, c.close, c.volume);
  const s = b.NodeOhlcv.fromBars(bars);
  s.timeframe = b.NodeTimeframe.Minutes(1);
  return s;
}

// A backtest with a few closed trades, for the trade classes.
function tradedBacktest() {
  const bt = new b.NodeBacktest(new b.NodeCtx(series(200), b.NodeSym.BTC_USD()), 1000);
  for (const i of bt) if (i % 20 === 0) bt.signal(b.NodeSignal.Size(i % 40 === 0 ? 1 : -1));
  return bt;
}

function churn() {
  const bt = tradedBacktest();
  const trades = bt.closedTrades;
  const trade = trades[0];
  const per = trades.length;
  const kinds = [
    ['NodeTimeframe', 1, (i) => b.NodeTimeframe.Days(i)],
    ['NodeOhlcvBar', 1, (i) => new b.NodeOhlcvBar(null, null, i, i, i, i, i)],
    ['NodeSignal', 1, (i) => b.NodeSignal.Size(i)],
    ['NodeSym', 1, () => b.NodeSym.BTC_USD()],
    ['NodeSymKind', 1, () => b.NodeSymKind.Crypto()],
    ['NodeCtxSkip', 1, (i) => b.NodeCtxSkip.bars(i)],
    ['NodeTradeDirection', 1, (i) => b.NodeTradeDirection.fromNumber(i)],
    ['NodeTradeEvent', 1, () => trade.entry],
    ['NodeTrade', per, () => bt.closedTrades],
  ];
  const rows = [];
  for (const [name, each, make] of kinds) {
    settle();
    const start = process.memoryUsage().rss;
    let peak = start;
    const calls = Math.ceil(CHURN / each);
    const every = Math.max(1, Math.floor(1048576 / each));
    const t0 = now();
    const c0 = cpu();
    for (let i = 0; i < calls; i++) {
      make(i);
      if (i % every === 0) peak = Math.max(peak, process.memoryUsage().rss);
    }
    const ns = Number(now() - t0) / (calls * each);
    const cpuNs = (cpu() - c0) / (calls * each);
    peak = Math.max(peak, process.memoryUsage().rss);
    settle();
    rows.push({ class: name, objects: calls * each, 'ns/object': Math.round(ns), 'cpu ns/object': Math.round(cpuNs), 'rss start MB': mb(start), 'rss peak MB': mb(peak), 'rss after gc MB': mb(process.memoryUsage().rss) });
  }
  console.log('\nchurn: objects made in one synchronous loop');
  console.table(rows);
}

function getters() {
  const bar = new b.NodeOhlcvBar(new Date(0), new Date(60e3), 1, 2, 0.5, 1.5, 10);
  const tf = b.NodeTimeframe.Days(3);
  const sig = b.NodeSignal.Size(2);
  sig.id = 'entry';
  const sym = b.NodeSym.BTC_USD();
  const trade = tradedBacktest().closedTrades[0];
  const pushed = new b.NodeOhlcv();
  const bt = new b.NodeBacktest(new b.NodeCtx(series(10), b.NodeSym.BTC_USD()), 1000);
  const hold = b.NodeSignal.Hold();
  const reads = [
    ['bar.close', () => bar.close],
    ['bar.openTime', () => bar.openTime],
    ['tf.days', () => tf.days],
    ['tf.hours (null)', () => tf.hours],
    ['sig.id', () => sig.id],
    ['sig.size', () => sig.size],
    ['sym.minQty', () => sym.minQty],
    ['sym.id', () => sym.id],
    ['trade.size', () => trade.size],
    ['bar.toString()', () => bar.toString(), 10],
    ['tf.eq(tf)', () => tf.eq(tf)],
    ['bar.open = x', (i) => { bar.open = i; }],
    ['series.push(bar)', () => pushed.push(bar), 10],
    ['bt.signal(sig)', () => bt.signal(hold)],
  ];
  const rows = [];
  for (const [what, read, slow = 1] of reads) {
    const n = Math.floor(READS / slow);
    let sink;
    for (let i = 0; i < 1000; i++) sink = read(i);
    const t0 = now();
    const c0 = cpu();
    for (let i = 0; i < n; i++) sink = read(i);
    rows.push({ read: what, reads: n, 'ns/read': Number(((Number(now() - t0)) / n).toFixed(1)), 'cpu ns/read': Number(((cpu() - c0) / n).toFixed(1)) });
    if (sink === Symbol.iterator) console.log('');
  }
  console.log('\ngetters');
  console.table(rows);
}

function ctxLoop() {
  const ctx = new b.NodeCtx(series(BARS), b.NodeSym.BTC_USD());
  settle();
  const rows = [];
  for (let pass = 0; pass < PASSES; pass++) {
    ctx.reset();
    let sum = 0;
    const t0 = now();
    const c0 = cpu();
    for (const i of ctx) {
      const bar = ctx.bar;
      sum += bar.close;
    }
    const ns = Number(now() - t0) / BARS;
    const cpuNs = (cpu() - c0) / BARS;
    if (!Number.isFinite(sum)) throw new Error('bad sum');
    rows.push({ pass, 'ns/bar': Math.round(ns), 'cpu ns/bar': Math.round(cpuNs), 'rss MB': mb(process.memoryUsage().rss), 'heap used MB': mb(process.memoryUsage().heapUsed) });
  }
  console.log(`\nctx: for (const i of ctx) { const b = ctx.bar; sum += b.close; } over ${BARS} bars`);
  console.table(rows);
}

if (wanted('churn')) churn();
if (wanted('getters')) getters();
if (wanted('ctx')) ctxLoop();
