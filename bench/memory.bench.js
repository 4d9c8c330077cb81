'use strict';
// Native memory per bar: one sma instance stepped over 1,000,000 bars, and one backtest run over
// them. Native bytes are the growth of the resident set less the growth of the JavaScript heap
// and of array buffers, each read after a full garbage collection.
//
//   node --expose-gc bench/memory.bench.js          # prints a table
//   node --expose-gc bench/memory.bench.js --json   # one JSON line (read by peers.bench.js)
const data = require('./data');
const bw = require('..');

const N = 1_000_000;
const json = process.argv.includes('--json');

if (!global.gc) {
  console.error('memory.bench.js needs --expose-gc');
  process.exit(1);
}

function settle() {
  for (let i = 0; i < 3; i++) global.gc();
  const m = process.memoryUsage();
  return { rss: m.rss, heap: m.heapTotal, buffers: m.arrayBuffers + m.external };
}
function nativeGrowth(before, after) {
  return after.rss - before.rss - (after.heap - before.heap) - Math.max(0, after.buffers - before.buffers);
}

const results = [];
function record(what, bars, bytes, note) {
  results.push({ what, bars, bytes, bytesPerBar: bytes / bars, note });
}
function skipped(what, note) {
  results.push({ what, note });
}

const has = (names) => names.every((k) => typeof bw[k] === 'function');
const SMA = 'Incr_fn_sma_059403';

function buildSeries() {
  const a = data.arrays(N);
  const dates = (ms) => ms.map((t) => new Date(t));
  const bars = bw.zipOhlcvBars(dates(a.openTime), dates(a.closeTime), a.open, a.high, a.low, a.close, a.volume);
  const s = bw.NodeOhlcv.fromBars(bars);
  s.timeframe = bw.NodeTimeframe.Minutes(1);
  return s;
}

function main() {
  if (!has(['NodeOhlcv', 'NodeCtx', 'zipOhlcvBars', 'NodeSym'])) {
    skipped('sma instance', 'series or context not exported yet');
    skipped('backtest', 'series or context not exported yet');
    return;
  }
  const x = data.columns(N).close;
  const before0 = settle();
  const series = buildSeries();
  const after0 = settle();
  record('series (NodeOhlcv)', N, nativeGrowth(before0, after0), 'the bars themselves, for scale');

  if (has([SMA])) {
    const ctx = new bw.NodeCtx(series, bw.NodeSym.BTC_USD());
    const ind = bw[SMA].make(ctx);
    const before = settle();
    for (const i of ctx) ind.next(x[i], 14);
    const after = settle();
    record('sma instance', N, nativeGrowth(before, after), 'one Incr_fn_sma_059403 stepped by next on every bar');
  } else skipped('sma instance', `${SMA} not exported yet`);

  if (has(['NodeBacktest'])) {
    const ctx = new bw.NodeCtx(series, bw.NodeSym.BTC_USD());
    const bt = new bw.NodeBacktest(ctx, 1000);
    const before = settle();
    for (const i of bt) if (i < 0) break;
    const after = settle();
    record('backtest', N, nativeGrowth(before, after), 'one NodeBacktest iterated over every bar, no signals');
    if (has([SMA, 'NodeSignal'])) {
      const ctx2 = new bw.NodeCtx(series, bw.NodeSym.BTC_USD());
      const bt2 = new bw.NodeBacktest(ctx2, 1000);
      const fast = bw[SMA].make(ctx2), slow = bw[SMA].make(ctx2);
      const long = bw.NodeSignal.EquityPct(1), short = bw.NodeSignal.EquityPct(-1);
      const b2 = settle();
      for (const i of bt2) {
        const f = fast.next(x[i], 10), s = slow.next(x[i], 30);
        if (f > s) bt2.signal(long);
        else if (f < s) bt2.signal(short);
      }
      const a2 = settle();
      record('ma-cross backtest', N, nativeGrowth(b2, a2), `backtest, two sma instances and ${bt2.closedTrades.length} trades`);
    }
  } else skipped('backtest', 'NodeBacktest not exported yet');
}

main();

if (json) {
  process.stdout.write(`${JSON.stringify(results)}\n`);
} else {
  console.log('| what | bars | native bytes | bytes per bar | note |');
  console.log('|---|---:|---:|---:|---|');
  for (const r of results) {
    const bytes = r.bytes !== undefined ? Math.round(r.bytes).toLocaleString('en-US') : '';
    const per = r.bytesPerBar !== undefined ? r.bytesPerBar.toFixed(1) : '';
    console.log(`| ${r.what} | ${r.bars ? r.bars.toLocaleString('en-US') : ''} | ${bytes} | ${per} | ${r.note || ''} |`);
  }
}
