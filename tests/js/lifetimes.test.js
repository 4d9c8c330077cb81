'use strict';
// Shared storage lives until its last holder goes: objects kept alive only by another object
// survive garbage collection of their creators.
const test = require('node:test');
const assert = require('node:assert/strict');
const b = require('../..');
const { hourly } = require('./support/market');

// Without --expose-gc nothing is collected and these tests would prove nothing: they skip.
const gc = globalThis.gc;
const needsGc = { skip: !gc && 'needs --expose-gc' };
const collect = () => { for (let i = 0; i < 3; i++) gc?.(); };

test('a series held only by a context survives its creator', needsGc, () => {
  const ctx = (() => new b.NodeCtx(hourly(20), b.NodeSym.BTC_USD()))();
  collect();
  assert.equal(ctx.length, 20);
  assert.deepEqual([...ctx].length, 20);
  assert.equal(ctx.bar.close, 119.5);
  assert.equal(ctx.ohlcv.length, 20);
});

test('a context held only by an indicator survives its creator', needsGc, () => {
  const sma = (() => b.Incr_fn_sma_059403.make(new b.NodeCtx(hourly(10))))();
  collect();
  const out = sma.collect(Array.from({ length: 10 }, (_, i) => i), 2);
  assert.equal(out.length, 10);
  assert.ok(Number.isNaN(out[0]));
  assert.equal(out[9], 8.5);
});

test('a ref and a copy outlive the object they came from', needsGc, () => {
  let ctx = new b.NodeCtx(hourly(5));
  ctx.next();
  const ref = ctx.ref();
  const copy = ctx.copy();
  let series = ctx.ohlcv;
  ctx = null;
  collect();
  assert.equal(ref.next().value, 1);
  assert.equal(copy.next().value, 1);
  series.push(new b.NodeOhlcvBar(null, null, 1, 1, 1, 1, 1));
  series = null;
  collect();
  assert.equal(ref.length, 6);
  assert.equal(copy.length, 6);
});

test('a backtest keeps its context and series alive', needsGc, () => {
  const bt = (() => new b.NodeBacktest(new b.NodeCtx(hourly(30), b.NodeSym.BTC_USD()), 1000))();
  collect();
  let steps = 0;
  for (const i of bt) {
    if (i === 2) bt.signal(b.NodeSignal.Size(1));
    steps++;
  }
  assert.equal(steps, 30);
  collect();
  assert.ok(Number.isFinite(bt.netProfit));
});

// Under AddressSanitizer freed memory sits in quarantine, so RSS says nothing there.
test('churning small objects keeps memory flat', { skip: process.env.BARWISE_SANITIZED && 'sanitizer quarantine' }, () => {
  // Native memory of dropped objects goes with them, even in a loop that never yields.
  const before = process.memoryUsage().rss;
  for (let i = 0; i < 1_000_000; i++) new b.NodeOhlcvBar(null, null, i, i, i, i, i);
  collect();
  const grown = process.memoryUsage().rss - before;
  assert.ok(grown < 200e6, `rss grew by ${Math.round(grown / 1e6)} MB`);
});
