'use strict';
// Creates and drops ten million small add-on objects in one synchronous loop and reports the
// process's memory along the way: native memory must go with its objects, so it stays flat.
const b = require('..');
const { measure } = require('./measure');

const N = Number(process.env.BARWISE_CHURN || 10_000_000);
const mb = (x) => (x / 1e6).toFixed(1);
const kinds = [
  ['NodeTimeframe.Days', (i) => b.NodeTimeframe.Days(i)],
  ['new NodeOhlcvBar', (i) => new b.NodeOhlcvBar(null, null, i, i, i, i, i)],
  ['NodeSignal.Size', (i) => b.NodeSignal.Size(i)],
  ['NodeSym.BTC_USD', () => b.NodeSym.BTC_USD()],
];

const rows = [];
for (const [name, make] of kinds) {
  globalThis.gc?.();
  const start = process.memoryUsage().rss;
  let peak = start;
  const { ns } = measure(() => {
    for (let i = 0; i < N; i++) {
      make(i);
      if ((i & 0xfffff) === 0) peak = Math.max(peak, process.memoryUsage().rss);
    }
  }, { runs: 1, warmup: 0, n: N });
  globalThis.gc?.();
  const end = process.memoryUsage().rss;
  rows.push({ objects: name, count: N, 'ns/object': Math.round(ns), 'rss start MB': mb(start), 'rss peak MB': mb(Math.max(peak, end)), 'rss end MB': mb(end) });
}
console.table(rows);
