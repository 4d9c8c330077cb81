'use strict';
// Indicator throughput and memory over 1,000,000 bars: `collect` of sma, ema, highest and
// crossover (arrays and Float64Array inputs), `collectTyped` of sma, ema and atr (Float64Arrays in
// and out), streaming `next` of sma, ema and bollinger (a pair of numbers a bar), and the native
// bytes per bar that one sma instance keeps. Medians of several runs, as wall time and as CPU
// time of this process (the steadier figure on a busy machine).
const { execFileSync } = require('node:child_process');
const b = require('..');
const { measure, median, line } = require('./measure');

const { NodeCtx, NodeOhlcv, NodeOhlcvBar } = b;
const N = 1_000_000;
const RUNS = Number(process.env.BENCH_RUNS || 5);

// 1,000 distinct bars repeated: building a million bar objects would dominate the run.
function makeSeries() {
  const block = [];
  for (let i = 0; i < 1000; i++) {
    const c = 100 + Math.sin(i / 40) * 10 + (i % 7) * 0.1;
    block.push(new NodeOhlcvBar(null, null, c, c + 1, c - 1, c, 1000 + (i % 13)));
  }
  const unit = NodeOhlcv.fromBars(block);
  const series = new NodeOhlcv();
  for (let k = 0; k < N / 1000; k++) series.extend(unit);
  return series;
}

const series = makeSeries();
const closes = new Array(N);
for (let i = 0; i < N; i++) closes[i] = 100 + Math.sin((i % 1000) / 40) * 10 + ((i % 1000) % 7) * 0.1;
const typed = Float64Array.from(closes);
const other = closes.map((x, i) => x + Math.sin(i / 7));

const time = (fn) => measure(fn, { runs: RUNS, n: N });
const report = (label, m) => console.log(line(label, m));

const collect = (Cls, ...args) => () => {
  const out = Cls.make(new NodeCtx(series)).collect(...args);
  if (out.length !== N) throw new Error('short collect');
};
const collectTyped = (Cls, ...args) => () => {
  const out = Cls.make(new NodeCtx(series)).collectTyped(...args);
  if (!(out instanceof Float64Array) || out.length !== N) throw new Error('short collect');
};
const stream = (Cls, len) => () => {
  const ctx = new NodeCtx(series);
  const inst = Cls.make(ctx);
  let last;
  for (let i = 0; i < N; i++) {
    ctx.next();
    last = inst.next(closes[i], len);
  }
  if (last === undefined) throw new Error('no result');
};

// Native memory of one instance: resident growth over a million streamed steps, in a process of
// its own, less the growth of the same loop over the script entry, which keeps no history: what
// remains is the instance's own memory. Collections run with a turn of the event loop between
// them, so that deferred finalizers have freed what they hold before each reading.
async function settle() {
  for (let k = 0; k < 5; k++) {
    global.gc();
    await new Promise((r) => setImmediate(r));
  }
}
const MEMORY_INSTANCES = 8;  // enough history to stand well clear of the allocator's noise
if (process.argv[2] === 'memory') {
  (async () => {
    const Cls = b[process.argv[3]];
    const kept = [];
    await settle();
    const before = process.memoryUsage().rss;
    for (let k = 0; k < MEMORY_INSTANCES; k++) {
      const ctx = new NodeCtx(series);
      const inst = Cls.make(ctx);
      for (let i = 0; i < N; i++) {
        ctx.next();
        inst.next(closes[i], 14);
      }
      kept.push(inst);
    }
    await settle();
    console.log(process.memoryUsage().rss - before);
    process.exit(kept.length ? 0 : 1);
  })();
  return;
}

report('collect sma(14), array', time(collect(b.Incr_fn_sma_059403, closes, 14)));
report('collect sma(14), Float64Array', time(collect(b.Incr_fn_sma_059403, typed, 14)));
report('collect ema(14), array', time(collect(b.Incr_fn_ema_7bc747, closes, 14)));
report('collect ema(14), Float64Array', time(collect(b.Incr_fn_ema_7bc747, typed, 14)));
report('collect highest(14), array', time(collect(b.Incr_fn_highest_84f508, closes, 14)));
report('collect crossover, arrays', time(collect(b.Incr_fn_crossover_94210a, closes, other)));
report('collectTyped sma(14), Float64Array', time(collectTyped(b.Incr_fn_sma_059403, typed, 14)));
report('collectTyped ema(14), Float64Array', time(collectTyped(b.Incr_fn_ema_7bc747, typed, 14)));
report('collectTyped atr(14)', time(collectTyped(b.Incr_fn_atr_d37266, 14)));
report('next sma(14), streaming', time(stream(b.Incr_fn_sma_059403, 14)));
report('next ema(14), streaming', time(stream(b.Incr_fn_ema_7bc747, 14)));
report('next bollinger(20, 2), streaming', time(() => {
  const ctx = new NodeCtx(series);
  const inst = b.Incr_fn_bollinger_bands_7ac6ce.make(ctx);
  let last;
  for (let i = 0; i < N; i++) {
    ctx.next();
    last = inst.next(closes[i], 20, 2);
  }
  if (last === undefined) throw new Error('no result');
}));

report('ctx.next alone (the loop of the two above)', time(() => {
  const ctx = new NodeCtx(series);
  for (let i = 0; i < N; i++) ctx.next();
}));

// A fixed allocator threshold, so the history's blocks come fresh from the system and show in the
// resident size instead of reusing memory freed while the series was built.
const growth = (cls) => Number(execFileSync(process.execPath,
  ['--expose-gc', '--max-semi-space-size=1', __filename, 'memory', cls],
  { encoding: 'utf8', env: { ...process.env, MALLOC_MMAP_THRESHOLD_: '131072' } }).trim());
const perBar = [0, 1, 2].map(() => (growth('Incr_fn_sma_059403') - growth('Incr_fn_main_11e0b6')) / (MEMORY_INSTANCES * N));
console.log(`${'sma(14) instance: native bytes per bar'.padEnd(44)} ${median(perBar).toFixed(1).padStart(9)}`);
