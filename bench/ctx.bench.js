'use strict';
// Walking a bar context from JavaScript: `for (const i of ctx)` over 1,000,000 bars, with and
// without reading `ctx.bar` at each step.
const { NodeCtx, NodeOhlcv, NodeOhlcvBar, NodeSym, NodeTimeframe } = require('..');
const { measure, line } = require('./measure');

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

const ctx = new NodeCtx(buildSeries(N), NodeSym.BTC_USD());

function time(label, body) {
  const m = measure((c) => {
    const n = body(c);
    if (n !== N) throw new Error(`${label}: walked ${n} bars, expected ${N}`);
  }, {
    prepare: () => {
      ctx.reset();
      return ctx;
    },
    runs: RUNS,
    n: N,
  });
  console.log(line(label, m));
}

console.log(`${N} bars, median of ${RUNS} runs`);
time('for...of', (c) => {
  let n = 0;
  for (const i of c) n = i + 1;
  return n;
});

time('for...of, reading ctx.bar each step', (c) => {
  let n = 0;
  let sum = 0;
  for (const i of c) {
    sum += c.bar.close;
    n = i + 1;
  }
  if (!Number.isFinite(sum)) throw new Error('bad sum');
  return n;
});
