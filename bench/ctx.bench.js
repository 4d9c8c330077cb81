'use strict';
// Walking a bar context from JavaScript: `for (const i of ctx)` over 1,000,000 bars, with and
// without reading `ctx.bar` at each step.
const { NodeCtx, NodeSym } = require('..');
const { measure, line } = require('./measure');
const data = require('./data');

const N = Number(process.env.BARWISE_BENCH_BARS || 1_000_000);
const RUNS = Number(process.env.BARWISE_BENCH_RUNS || 7);

const ctx = new NodeCtx(data.series(N), NodeSym.BTC_USD());

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
