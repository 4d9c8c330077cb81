'use strict';
// The add-on loads and computes independently in many worker threads at once.
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const { Worker } = require('node:worker_threads');

const root = path.join(__dirname, '..', '..');

// The same deterministic computation, run in a worker or on the main thread.
const work = `
  const b = require(ROOT);
  const t0 = Date.UTC(2024, 0, 1);
  let x = 100, seed = 7;
  const rnd = () => ((seed = (seed * 1103515245 + 12345) % 2147483648) / 2147483648);
  const bars = [];
  for (let i = 0; i < 2000; i++) {
    const o = x; x *= 1 + (rnd() - 0.5) * 0.02;
    bars.push(new b.NodeOhlcvBar(new Date(t0 + i * 3600e3), new Date(t0 + (i + 1) * 3600e3), o, Math.max(o, x) + 1, Math.min(o, x) - 1, x, 10 + i % 7));
  }
  const s = b.NodeOhlcv.fromBars(bars);
  s.timeframe = b.NodeTimeframe.Hours(1);
  const closes = s.close;
  const ctx = new b.NodeCtx(s, b.NodeSym.BTC_USD());
  const sma = b.Incr_fn_sma_059403.make(ctx).collect(closes, 14);
  const ema = b.Incr_fn_ema_7bc747.make(ctx.copy()).collect(closes, 20);
  const result = { sma: sma.slice(-50), ema: ema.slice(-50), mean: b.mean(new Float64Array(closes)) };
`;

function inWorker(extra = '') {
  const script = `const { parentPort } = require('node:worker_threads'); const ROOT = ${JSON.stringify(root)};
    ${work} ${extra} parentPort.postMessage(JSON.stringify(result));`;
  return new Promise((resolve, reject) => {
    const w = new Worker(script, { eval: true });
    w.once('message', resolve);
    w.once('error', reject);
  });
}

test('eight workers at once compute what the main thread computes', async () => {
  const here = new Function('ROOT', 'require', `${work}; return JSON.stringify(result);`)(root, require);
  const results = await Promise.all(Array.from({ length: 8 }, () => inWorker()));
  for (const r of results) assert.equal(r, here);
});

test('workers that end while holding add-on objects leave no crash', async () => {
  const ends = [];
  for (let i = 0; i < 4; i++) {
    const w = new Worker(`const ROOT = ${JSON.stringify(root)}; ${work}
      globalThis.keep = [ctx, s, bars];
      require('node:worker_threads').parentPort.postMessage('ready');
      setInterval(() => ctx.next(), 1);`, { eval: true });
    ends.push(new Promise((resolve, reject) => {
      w.once('message', () => w.terminate().then(resolve, reject));
      w.once('error', reject);
    }));
  }
  const exits = await Promise.all(ends);
  assert.equal(exits.length, 4);
  // And one that exits by itself mid-way.
  await new Promise((resolve, reject) => {
    const w = new Worker(`const ROOT = ${JSON.stringify(root)}; ${work} globalThis.keep = ctx; process.exit(0);`, { eval: true });
    w.once('exit', resolve);
    w.once('error', reject);
  });
});
