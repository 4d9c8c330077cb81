'use strict';
// Native memory per bar: one sma instance stepped over 1,000,000 bars, and one backtest run over
// them. Native bytes are the growth of the resident set less the growth of the JavaScript heap
// and of array buffers, each read after a full garbage collection. Histories grow by doubling,
// so a figure includes the unused part of the last doubling (up to half of it).
//
//   node --expose-gc bench/memory.bench.js          # prints a table
//   node --expose-gc bench/memory.bench.js --json   # one JSON line (read by peers.bench.js)
const { spawnSync } = require('node:child_process');

// Large buffers (histories, equity lists) must each get pages of their own, or they would be
// carved out of memory that the bars' garbage left in the allocator, and the resident set would
// not grow. The child runs with glibc's mmap threshold at 64 KiB: every buffer above it is mapped
// on its own and unmapped when freed, so the resident set follows the live buffers.
const TUNABLE = 'glibc.malloc.mmap_threshold=65536';
if (!(process.env.GLIBC_TUNABLES || '').includes(TUNABLE)) {
  const env = { ...process.env, GLIBC_TUNABLES: [process.env.GLIBC_TUNABLES, TUNABLE].filter(Boolean).join(':') };
  const r = spawnSync(process.execPath, [...process.execArgv, __filename, ...process.argv.slice(2)], { env, stdio: 'inherit' });
  process.exit(r.status === null ? 1 : r.status);
}

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
  if (process.env.MEM_DEBUG) console.error(JSON.stringify({ rss: after.rss - before.rss, heap: after.heap - before.heap, buffers: after.buffers - before.buffers }));
  return after.rss - before.rss - (after.heap - before.heap) - Math.max(0, after.buffers - before.buffers);
}

const results = [];
function record(what, bars, bytes, note) {
  results.push({ what, bars, bytes, bytesPerBar: bytes / bars, note });
}
function skipped(what, note) {
  results.push({ what, note });
}

// Every measured object stays alive to the end: one freed inside a later measurement would
// give its pages back there and hide that measurement's growth.
const keep = [];

const has = (names) => names.every((k) => typeof bw[k] === 'function');
const SMA = 'Incr_fn_sma_059403';

function main() {
  if (!has(['NodeOhlcv', 'NodeCtx', 'zipOhlcvBars', 'NodeSym'])) {
    skipped('sma instance', 'series or context not exported yet');
    skipped('backtest', 'series or context not exported yet');
    return;
  }
  const x = data.columns(N).close;
  const series = data.series(N);

  if (has([SMA])) {
    // Several instances one after the other, each kept: the first walk also absorbs memory that
    // the engine and the allocator give back while it runs (pages freed after building the bars),
    // so the figure is the growth over the later ones, per instance.
    const RUNS = 4;
    const marks = [];
    for (let r = 0; r < RUNS; r++) {
      const ctx = new bw.NodeCtx(series, bw.NodeSym.BTC_USD());
      const ind = bw[SMA].make(ctx);
      for (const i of ctx) ind.next(x[i], 14);
      keep.push(ctx, ind);
      marks.push(settle());
    }
    record('sma instance', N, nativeGrowth(marks[0], marks[RUNS - 1]) / (RUNS - 1),
      `one Incr_fn_sma_059403 stepped by next on every bar (growth per instance over instances 2 to ${RUNS})`);
  } else skipped('sma instance', `${SMA} not exported yet`);

  if (has(['NodeBacktest'])) {
    const ctx = new bw.NodeCtx(series, bw.NodeSym.BTC_USD());
    const bt = new bw.NodeBacktest(ctx, 1000);
    const before = settle();
    for (const i of bt) if (i < 0) break;
    const after = settle();
    keep.push(ctx, bt);
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
      keep.push(ctx2, bt2, fast, slow);
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
