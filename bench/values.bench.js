'use strict';
// The small value objects on the paths a strategy runs per bar: reading `ctx.bar` on every step
// of 1,000,000 bars (time per bar, and the resident size after each of three passes in one
// synchronous run: it must not grow from pass to pass), their getters, and making them.
const os = require('node:os');
const b = require('..');
const { measure, line } = require('./measure');
const data = require('./data');

const BARS = Number(process.env.BARWISE_BENCH_BARS || 1_000_000);
const READS = Number(process.env.BARWISE_BENCH_READS || 10_000_000);
const MADE = Number(process.env.BARWISE_BENCH_MADE || 1_000_000);
const RUNS = Number(process.env.BARWISE_BENCH_RUNS || 5);
const mb = (x) => `${(x / 1e6).toFixed(1)} MB`;

console.log(`load average (1 minute) ${os.loadavg()[0].toFixed(2)} on ${os.cpus().length} cores`);

// ---- ctx.bar on every step ----

const ctx = new b.NodeCtx(data.series(BARS), b.NodeSym.BTC_USD());
global.gc?.();
const rss = [process.memoryUsage().rss];
const passes = measure((c) => {
  let sum = 0;
  for (const i of c) {
    const bar = c.bar;
    sum += bar.close;
  }
  if (!(sum > 0)) throw new Error('bad sum');
  return sum;
}, {
  prepare: () => {
    ctx.reset();
    return ctx;
  },
  onResult: () => rss.push(process.memoryUsage().rss),
  runs: 3,
  warmup: 0,
  n: BARS,
});
console.log(line(`for (const i of ctx) ctx.bar.close, ${BARS} bars`, passes));
const perBar = (ms) => ((ms * 1e6) / BARS).toFixed(0);
console.log(`  per pass ${passes.wall.map((ms, k) => `${perBar(ms)} ns/bar (cpu ${perBar(passes.cpu[k])})`).join(', ')}`);
console.log(`  rss after building the series ${mb(rss[0])}, after each pass ${rss.slice(1).map(mb).join(', ')}`);

// ---- Getters ----

function reads(label, obj, read) {
  const m = measure(() => {
    let sink = 0;
    for (let i = 0; i < READS; i++) sink += read(obj);
    return sink;
  }, { runs: RUNS, n: READS });
  console.log(line(label, m, 'read'));
}

const sig = b.NodeSignal.Size(1);
sig.id = 'entry';
reads('bar.close', new b.NodeOhlcvBar(null, null, 1, 2, 0.5, 1.5, 10), (o) => o.close);
reads('tf.days', b.NodeTimeframe.Days(3), (o) => o.days);
reads('sig.id', sig, (o) => o.id.length);

// ---- Making them ----

function made(label, make) {
  const m = measure(() => {
    let last;
    for (let i = 0; i < MADE; i++) last = make(i);
    return last;
  }, { runs: RUNS, n: MADE });
  console.log(line(label, m, 'object'));
}

made('new NodeOhlcvBar(null, null, i, i, i, i, i)', (i) => new b.NodeOhlcvBar(null, null, i, i, i, i, i));
made('NodeTimeframe.Days(i)', (i) => b.NodeTimeframe.Days(i));
made('NodeSignal.Size(i)', (i) => b.NodeSignal.Size(i));
console.log(`load average (1 minute) ${os.loadavg()[0].toFixed(2)} at the end`);
