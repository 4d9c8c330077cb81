'use strict';
// What a script can do to the environment or to the add-on's objects must not lead to silent
// wrong results, and must never end the process: cloning, tampered built-ins, constructors called
// without new, frozen iterables, lists too long to hold.
const test = require('node:test');
const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const b = require('../..');

const ROOT = require.resolve('../..');
const T0 = Date.UTC(2024, 0, 1);

function series(n) {
  const s = new b.NodeOhlcv();
  for (let i = 0; i < n; i++) {
    const px = 100 + (i % 7);
    s.push(new b.NodeOhlcvBar(new Date(T0 + i * 60e3), new Date(T0 + (i + 1) * 60e3), px, px + 1, px - 1, px + 0.5, 10));
  }
  s.timeframe = b.NodeTimeframe.Minutes(1);
  return s;
}

function tradedBacktest() {
  const bt = new b.NodeBacktest(new b.NodeCtx(series(40), b.NodeSym.BTC_USD()), 1000);
  for (const i of bt) if (i % 10 === 0) bt.signal(b.NodeSignal.Size(i % 20 === 0 ? 1 : -1));
  return bt;
}

test('structuredClone and postMessage refuse every kind of add-on object', async (t) => {
  const bt = tradedBacktest();
  const trade = bt.closedTrades[0];
  const objects = {
    NodeTimeframe: b.NodeTimeframe.Days(1),
    NodeOhlcvBar: new b.NodeOhlcvBar(new Date(T0), null, 1, 2, 0.5, 1.5, 10),
    NodeSym: b.NodeSym.BTC_USD(),
    NodeSymKind: b.NodeSymKind.Crypto(),
    NodeCtxSkip: b.NodeCtxSkip.bars(2),
    NodeSignal: b.NodeSignal.Size(1),
    NodeTrade: trade,
    NodeTradeEvent: trade.entry,
    NodeTradeDirection: trade.direction,
    NodeOhlcv: series(3),
    NodeCtx: new b.NodeCtx(series(3)),
    NodeBacktest: bt,
    indicator: b.Incr_fn_sma_059403.make(new b.NodeCtx(series(3))),
  };
  for (const [name, obj] of Object.entries(objects)) {
    await t.test(name, () => {
      assert.throws(() => structuredClone(obj), { name: 'DataCloneError' });
      const { port1, port2 } = new MessageChannel();
      try {
        assert.throws(() => port1.postMessage(obj), { name: 'DataCloneError' });
      } finally {
        port1.close();
        port2.close();
      }
    });
  }
});

// Tampering with Array.prototype would break the test runner itself: a child process tampers,
// runs every kind of list result and reports what it got.
test('result arrays and dates come from the built-ins whatever a script did to them', async (t) => {
  const script = `
    const b = require(${JSON.stringify(ROOT)});
    const ArrayPrototype = Array.prototype, RealDate = Date;
    const s = new b.NodeOhlcv();
    for (let i = 0; i < 40; i++) s.push(new b.NodeOhlcvBar(new Date(i * 60e3), new Date((i + 1) * 60e3), i, i + 1, i - 1, i + 0.5, 10));
    s.timeframe = b.NodeTimeframe.Minutes(1);
    const bt = new b.NodeBacktest(new b.NodeCtx(s.copy(), b.NodeSym.BTC_USD()), 1000);
    for (const i of bt) if (i % 10 === 0) bt.signal(b.NodeSignal.Size(i % 20 === 0 ? 1 : -1));
    const sma = () => b.Incr_fn_sma_059403.make(new b.NodeCtx(s.copy()));
    // Every index is caught by a setter and read by a getter from now on.
    const swallow = { set() {}, get() { return 'swallowed'; }, configurable: true };
    for (let i = 0; i < 64; i++) Object.defineProperty(ArrayPrototype, i, swallow);
    ArrayPrototype.constructor = function Fake() { return { fake: true }; };
    RealDate.prototype.constructor = function FakeDate() { return { fake: true }; };
    const lists = {
      'numbers (bulk)': () => s.close,
      'numbers (short)': () => s.head(3).close,
      'dates (bulk)': () => s.openTime,
      'dates (short)': () => s.head(3).closeTime,
      'value objects': () => s.bars,
      'value objects (short)': () => s.head(2).bars,
      'trades': () => bt.closedTrades,
      'columns to bars': () => b.zipOhlcvBars(undefined, undefined, [1, 2, 3]),
      'collect results': () => sma().collect(s.close, 3),
      'statistics': () => b.returns(new Float64Array([1, 2, 4])),
    };
    const out = {};
    for (const [name, make] of Object.entries(lists)) {
      const a = make();
      let dense = Array.isArray(a) && Object.getPrototypeOf(a) === ArrayPrototype && a.length > 0;
      for (let i = 0; i < a.length; i++) dense = dense && Object.hasOwn(a, i) && a[i] !== 'swallowed';
      let dates = 0;
      for (let i = 0; i < a.length; i++) if (typeof a[i] === 'object' && a[i] !== null && Object.getPrototypeOf(a[i]) === RealDate.prototype) dates++;
      out[name] = { dense, length: a.length, dates, first: a[0] instanceof RealDate ? a[0].getTime() : typeof a[0] === 'object' ? a[0] && a[0].constructor.name : a[0] };
    }
    process.stdout.write(JSON.stringify(out));
  `;
  const got = JSON.parse(execFileSync(process.execPath, ['-e', script], { encoding: 'utf8' }));
  const expected = {
    'numbers (bulk)': { length: 40, dates: 0, first: 0.5 },
    'numbers (short)': { length: 3, dates: 0, first: 0.5 },
    'dates (bulk)': { length: 40, dates: 40, first: 0 },
    'dates (short)': { length: 3, dates: 3, first: 60e3 },
    'value objects': { length: 40, dates: 0, first: 'NodeOhlcvBar' },
    'value objects (short)': { length: 2, dates: 0, first: 'NodeOhlcvBar' },
    'trades': { length: got.trades.length, dates: 0, first: 'NodeTrade' },
    'columns to bars': { length: 3, dates: 0, first: 'NodeOhlcvBar' },
    'collect results': { length: 40, dates: 0, first: null },
    'statistics': { length: 2, dates: 0, first: 1 },
  };
  for (const [name, want] of Object.entries(expected)) {
    await t.test(name, () => {
      assert.equal(got[name].dense, true, `${name} is not a dense Array`);
      assert.deepEqual({ length: got[name].length, dates: got[name].dates, first: got[name].first }, want);
    });
  }
  assert.ok(got.trades.length > 0);
});

test('constructors called without new are refused and wrap nothing', async (t) => {
  const receivers = { 'the global object': globalThis, 'a prototype': null, 'a proxy': new Proxy({}, {}) };
  const classes = {
    NodeOhlcvBar: [b.NodeOhlcvBar, [null, null, 1]],
    NodeSym: [b.NodeSym, []],
    NodeOhlcv: [b.NodeOhlcv, []],
    NodeCtx: [b.NodeCtx, [series(2)]],
    NodeBacktest: [b.NodeBacktest, [new b.NodeCtx(series(2), b.NodeSym.BTC_USD())]],
  };
  for (const [name, [C, args]] of Object.entries(classes)) {
    for (const [on, receiver] of Object.entries(receivers)) {
      await t.test(`${name} on ${on}`, () => {
        const self = receiver ?? C.prototype;
        assert.throws(() => C.call(self, ...args), {
          name: 'Error',
          code: 'InvalidArg',
          message: `Class constructor ${name} cannot be invoked without 'new'`,
        });
        // Nothing was attached to the receiver: members still refuse it.
        const member = Object.values(Object.getOwnPropertyDescriptors(C.prototype)).find((d) => d.get || typeof d.value === 'function' && d.value !== C);
        assert.throws(() => (member.get || member.value).call(self), { code: 'InvalidArg', message: /Failed to unwrap/ });
      });
    }
  }
  await t.test('with new, and for subclasses, construction still works', () => {
    class Bar extends b.NodeOhlcvBar {}
    const bar = new Bar(null, null, 1, 2, 3, 4, 5);
    assert.ok(bar instanceof Bar && bar instanceof b.NodeOhlcvBar);
    assert.equal(bar.close, 4);
    const s = new b.NodeOhlcv();
    s.push(bar);
    assert.equal(s.at(0).close, 4);
  });
});

test('early exit works on frozen and sealed iterables', async (t) => {
  const cases = {
    'frozen context': () => Object.freeze(new b.NodeCtx(series(5))),
    'sealed context': () => Object.seal(new b.NodeCtx(series(5))),
    'frozen backtest': () => Object.freeze(new b.NodeBacktest(new b.NodeCtx(series(5), b.NodeSym.BTC_USD()), 1000)),
  };
  for (const [name, make] of Object.entries(cases)) {
    await t.test(name, () => {
      const it = make();
      let seen = 0;
      for (const i of it) {
        seen = i + 1;
        if (i === 1) break;
      }
      assert.equal(seen, 2);
      // Finished, as an unfrozen object would be after break.
      assert.deepEqual(it.next(), { done: true });
      assert.deepEqual([...it], []);
    });
  }
});

test('a list too long to hold is refused before anything is made for it', async (t) => {
  const limit = 'A list of 100000000 elements exceeds the limit of 16777216 elements per list';
  // Untouched typed arrays cost no memory until written.
  const huge = new Float64Array(1e8);
  const cases = {
    zipOhlcvBars: () => b.zipOhlcvBars(undefined, undefined, huge),
    'a number column after a short one': () => b.zipOhlcvBars(undefined, undefined, [1], huge),
  };
  for (const [name, call] of Object.entries(cases)) {
    await t.test(name, () => assert.throws(call, { code: 'InvalidArg', message: limit }));
  }
  await t.test('a sparse array that claims a huge length still fails at its first hole', () => {
    const sparse = [];
    sparse.length = 1e8;
    assert.throws(() => b.zipOhlcvBars(undefined, undefined, sparse), { code: 'NumberExpected' });
  });
});
