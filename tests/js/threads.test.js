'use strict';
// The add-on loads and computes independently in many worker threads at once.
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const { Worker } = require('node:worker_threads');

const root = path.join(__dirname, '..', '..');
const support = path.join(__dirname, 'support', 'market.js');
const paths = `const ROOT = ${JSON.stringify(root)}; const SUPPORT = ${JSON.stringify(support)};`;

// The same deterministic computation, run in a worker or on the main thread: indicators over a
// seeded walk, and timeframes through their text form and back.
const work = `
  const b = require(ROOT);
  const { bars: barsOf, walk, HOUR } = require(SUPPORT);
  const bars = barsOf(walk(2000, { seed: 7 }), HOUR);
  const s = b.NodeOhlcv.fromBars(bars);
  s.timeframe = b.NodeTimeframe.Hours(1);
  const closes = s.close;
  const ctx = new b.NodeCtx(s, b.NodeSym.BTC_USD());
  const sma = b.Incr_fn_sma_059403.make(ctx).collect(closes, 14);
  const ema = b.Incr_fn_ema_7bc747.make(ctx.copy()).collect(closes, 20);
  let timeframes = 0;
  for (let i = 1; i <= 2000; i++) {
    const t = b.NodeTimeframe.Minutes(i);
    if (b.NodeTimeframe.fromString(t.toString()).eq(t) && t.toDurationS() === i * 60) timeframes++;
  }
  const result = { sma: sma.slice(-50), ema: ema.slice(-50), mean: b.mean(new Float64Array(closes)), timeframes };
`;

const onMainThread = () => new Function('require', `${paths} ${work}; return JSON.stringify(result);`)(require);

function inWorker() {
  const script = `const { parentPort } = require('node:worker_threads'); ${paths}
    ${work} parentPort.postMessage(JSON.stringify(result));`;
  return new Promise((resolve, reject) => {
    const w = new Worker(script, { eval: true });
    w.once('message', resolve);
    w.once('error', reject);
  });
}

test('eight workers at once compute what the main thread computes', async () => {
  const here = onMainThread();
  assert.equal(JSON.parse(here).timeframes, 2000);
  const results = await Promise.all(Array.from({ length: 8 }, () => inWorker()));
  for (const r of results) assert.equal(r, here);
  // The main thread's classes keep working after the workers are gone.
  assert.equal(onMainThread(), here);
});

test('workers that end while holding add-on objects leave no crash', async () => {
  const ends = [];
  for (let i = 0; i < 4; i++) {
    const w = new Worker(`${paths} ${work}
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
    const w = new Worker(`${paths} ${work} globalThis.keep = ctx; process.exit(0);`, { eval: true });
    w.once('exit', resolve);
    w.once('error', reject);
  });
});
