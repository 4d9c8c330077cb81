'use strict';
// Walking a bar context from JavaScript: `for (const i of ctx)` over 1,000,000 bars, with and
// without reading `ctx.bar` at each step. Prints the median of several runs.
const { NodeCtx, NodeOhlcv, NodeOhlcvBar, NodeSym, NodeTimeframe } = require('..');

const N = Number(process.env.BARWISE_BENCH_BARS || 1_000_000);
const RUNS = Number(process.env.BARWISE_BENCH_RUNS || 7);

function buildSeries(n) {
  const t0 = Date.UTC(2020, 0, 1);
  const ohlcv = new NodeOhlcv();
  const chunk = [];
  for (let i = 0; i < n; i++) {
    const px = 100 + Math.sin(i / 50) * 10;
    chunk.push(new NodeOhlcvBar(new Date(t0 + i * 60e3), new Date(t0 + (i + 1) * 60e3), px, px + 1, px - 1, px + 0.5, 1000));
    if (chunk.length === 10_000) ohlcv.pushMany(chunk.splice(0));
  }
  if (chunk.length) ohlcv.pushMany(chunk);
  ohlcv.timeframe = NodeTimeframe.Minutes(1);
  return ohlcv;
}

function median(xs) {
  const s = xs.slice().sort((a, b) => a - b);
  return s[Math.floor(s.length / 2)];
}

function time(label, ctx, body) {
  const ms = [];
  for (let r = 0; r < RUNS; r++) {
    ctx.reset();
    if (global.gc) global.gc();
    const t = process.hrtime.bigint();
    const n = body(ctx);
    ms.push(Number(process.hrtime.bigint() - t) / 1e6);
    if (n !== N) throw new Error(`${label}: walked ${n} bars, expected ${N}`);
  }
  const m = median(ms);
  console.log(`${label}: median ${m.toFixed(1)} ms over ${RUNS} runs (${((m * 1e6) / N).toFixed(0)} ns per bar)`);
}

const ctx = new NodeCtx(buildSeries(N), NodeSym.BTC_USD());

time(`for...of over ${N} bars`, ctx, (c) => {
  let n = 0;
  for (const i of c) n = i + 1;
  return n;
});

time(`for...of over ${N} bars, reading ctx.bar each step`, ctx, (c) => {
  let n = 0;
  let sum = 0;
  for (const i of c) {
    sum += c.bar.close;
    n = i + 1;
  }
  if (!Number.isFinite(sum)) throw new Error('bad sum');
  return n;
});
