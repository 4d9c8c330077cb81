'use strict';
// The members a loop calls every bar (the iteration step, signal, an indicator's next, getters)
// find their receiver's native object by a number the object carries. A receiver that is not an
// object of the class (a proxy of one, an object inheriting from one, an object of another
// class, anything else) must be refused exactly as before, and each object must act on its own
// state, also once the numbers of collected objects are handed out again.
const test = require('node:test');
const assert = require('node:assert/strict');
const b = require('../..');

const SMA = b.Incr_fn_sma_059403;
const EMA = b.Incr_fn_ema_7bc747;
const T0 = Date.UTC(2024, 0, 1);

function series(closes) {
  const s = new b.NodeOhlcv();
  closes.forEach((px, i) => {
    s.push(new b.NodeOhlcvBar(new Date(T0 + i * 60e3), new Date(T0 + (i + 1) * 60e3), px, px + 1, px - 1, px, 10));
  });
  s.timeframe = b.NodeTimeframe.Minutes(1);
  return s;
}

const unwrap = (name) => ({ code: 'InvalidArg', message: `Failed to unwrap exclusive reference of \`${name}\` type from napi value` });

test('members refuse receivers that are not objects of their class', async (t) => {
  const ctx = new b.NodeCtx(series([1, 2, 3]), b.NodeSym.BTC_USD());
  const bt = new b.NodeBacktest(ctx, 1000);
  const sma = SMA.make(ctx);
  const ema = EMA.make(ctx);
  const long = b.NodeSignal.Long();
  const members = {
    'signal': [(r) => b.NodeBacktest.prototype.signal.call(r, long), bt, 'NodeBacktest'],
    'a getter': [(r) => Object.getOwnPropertyDescriptor(b.NodeBacktest.prototype, 'equity').get.call(r), bt, 'NodeBacktest'],
    'the backtest step': [(r) => bt.next.call(r), bt, 'NodeBacktest'],
    'the context step': [(r) => ctx.next.call(r), ctx, 'NodeCtx'],
    'an indicator next': [(r) => SMA.prototype.next.call(r, 1, 2), sma, 'Incr_fn_sma_059403'],
  };
  for (const [name, [call, own, className]] of Object.entries(members)) {
    const receivers = {
      'a proxy of one': new Proxy(own, {}),
      'an object inheriting from one': Object.create(own),
      'an object of another class': own === ctx ? bt : own === sma ? ema : ctx,
      'a plain object': {},
      'undefined': undefined,
    };
    for (const [what, receiver] of Object.entries(receivers)) {
      await t.test(`${name} on ${what}`, () => assert.throws(() => call(receiver), unwrap(className)));
    }
  }
  // Nothing moved on the way.
  assert.equal(ctx.barIndex, 0);
  assert.equal(ctx.isInitialized, false);
});

// A simple moving average by hand: NaN until `n` values are in.
function smaByHand(xs, n) {
  return xs.map((_, i) => (i + 1 < n ? NaN : xs.slice(i + 1 - n, i + 1).reduce((a, x) => a + x, 0) / n));
}

test('each object steps its own state, also after collected objects give their numbers back', async () => {
  const closes = [3, 5, 4, 8, 6, 7, 1, 2, 9, 4];
  const run = () => {
    // Two backtests and two averages over one market, driven in turns.
    const ctxA = new b.NodeCtx(series(closes), b.NodeSym.BTC_USD());
    const ctxB = new b.NodeCtx(series(closes), b.NodeSym.BTC_USD());
    const btA = new b.NodeBacktest(ctxA, 1000);
    const btB = new b.NodeBacktest(ctxB, 1000);
    const fast = SMA.make(ctxA);
    const slow = SMA.make(ctxB);
    const got = { a: [], b: [], fast: [], slow: [] };
    const ia = btA[Symbol.iterator]();
    for (const j of btB) {
      const { value: i } = ia.next();
      got.a.push(i);
      got.b.push(j);
      got.fast.push(fast.next(closes[i], 2));
      got.slow.push(slow.next(closes[j], 3));
      if (j === 4) btB.signal(b.NodeSignal.Size(1));
    }
    assert.deepEqual(got.a, closes.map((_, i) => i));
    assert.deepEqual(got.b, got.a);
    assert.deepEqual(got.fast, smaByHand(closes, 2));
    assert.deepEqual(got.slow, smaByHand(closes, 3));
    assert.equal(btA.positionSize, 0);
    assert.equal(btB.positionSize, 1);
  };
  run();
  // Many objects made and dropped: their numbers are free again once they are collected.
  for (let k = 0; k < 200; k++) SMA.make(new b.NodeCtx(series([1]), b.NodeSym.BTC_USD()));
  global.gc?.();
  await new Promise((resolve) => setImmediate(resolve));
  run();
});
