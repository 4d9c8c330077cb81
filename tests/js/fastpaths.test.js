'use strict';
// Bulk conversion of number lists in and out, Float64Array inputs read in place: the fast paths
// must give exactly what element-by-element conversion gives, errors included.
const { describe, test } = require('node:test');
const assert = require('node:assert/strict');
const bw = require('../..');

// Past the size below which lists convert one by one, and past one conversion chunk.
const BIG = 60_000;

function numbers(n) {
  const out = new Array(n);
  for (let i = 0; i < n; i++) out[i] = i % 97 === 0 ? NaN : i % 89 === 0 ? -0 : Math.sin(i) * 1e3 + i / 7;
  out[5] = Infinity;
  out[6] = -Infinity;
  out[7] = Number.MIN_VALUE;
  out[8] = Number.MAX_VALUE;
  return out;
}
const opens = (bars) => bars.map((b) => b.open);
const zipOpens = (list) => opens(bw.zipOhlcvBars(undefined, undefined, list));

// What converting an element with this property descriptor throws one by one: in a list too
// short for the bulk path.
function oneByOneError(descriptor) {
  const small = [1, 2];
  Object.defineProperty(small, 1, descriptor);
  try {
    bw.zipOhlcvBars(undefined, undefined, small);
  } catch (e) {
    return e;
  }
  return null;
}

describe('number lists in', () => {
  test('a large array and a Float64Array convert to the same numbers, NaN, -0 and infinities kept', () => {
    const list = numbers(BIG);
    const fromArray = zipOpens(list);
    const fromTyped = zipOpens(Float64Array.from(list));
    assert.equal(fromArray.length, BIG);
    for (let i = 0; i < BIG; i++) {
      assert.ok(Object.is(fromArray[i], list[i]), `element ${i}`);
      assert.ok(Object.is(fromTyped[i], list[i]), `typed element ${i}`);
    }
  });

  // Each bad element, in a large array at several places (first, chunk edges, last), must fail
  // exactly as the same element fails in a short array.
  const bad = {
    null: { value: null },
    undefined: { value: undefined },
    string: { value: '1.5' },
    boolean: { value: true },
    bigint: { value: 1n },
    object: { value: { valueOf: () => 1 } },
    'getter giving a string': { get: () => 'x', enumerable: true, configurable: true },
  };
  for (const [name, descriptor] of Object.entries(bad)) {
    test(`${name} inside a large array gives the one-by-one error`, async (t) => {
      const expected = oneByOneError({ ...descriptor, configurable: true });
      assert.ok(expected, 'the short array fails');
      for (const at of [0, 31, 32, 49_151, 49_152, BIG - 1]) {
        await t.test(`at ${at}`, () => {
          const list = numbers(BIG);
          Object.defineProperty(list, at, { ...descriptor, configurable: true });
          assert.throws(() => bw.zipOhlcvBars(undefined, undefined, list), (e) => {
            assert.equal(e.message, expected.message);
            assert.equal(e.code, expected.code);
            return true;
          });
        });
      }
    });
  }

  test('null names the type Null with NumberExpected; a hole reads as undefined', () => {
    const list = numbers(BIG);
    list[40_000] = null;
    assert.throws(() => bw.zipOhlcvBars(undefined, undefined, list), {
      message: 'Expected 64-bit float, got Null',
      code: 'NumberExpected',
    });
    const holey = numbers(BIG);
    delete holey[12_345];
    assert.throws(() => bw.zipOhlcvBars(undefined, undefined, holey), {
      message: 'Expected 64-bit float, got Undefined',
      code: 'NumberExpected',
    });
  });

  test('a throwing getter propagates its own exception, unchanged', async (t) => {
    const boom = new RangeError('from the getter');
    for (const at of [3, 50_000]) {
      await t.test(`at ${at}`, () => {
        const list = numbers(BIG);
        Object.defineProperty(list, at, { get() { throw boom; } });
        assert.throws(() => bw.zipOhlcvBars(undefined, undefined, list), (e) => e === boom);
      });
    }
  });

  test('getters answering numbers are read, also when they convert another list meanwhile', () => {
    const list = numbers(BIG);
    let inner;
    Object.defineProperty(list, 20_000, {
      get() {
        inner = zipOpens(numbers(BIG).map((x) => x + 1));
        return 42;
      },
    });
    const out = zipOpens(list);
    assert.equal(out[20_000], 42);
    assert.ok(Object.is(out[20_001], list[20_001]));
    assert.ok(Object.is(out[BIG - 1], list[BIG - 1]));
    assert.equal(inner.length, BIG);
    assert.equal(inner[1], numbers(2)[1] + 1);
  });

  test('a sparse array claiming a huge length fails at its first hole without allocating for it', () => {
    const sparse = [1, 2, 3];
    sparse.length = 2 ** 32 - 1;
    assert.throws(() => bw.zipOhlcvBars(undefined, undefined, sparse), { message: 'Expected 64-bit float, got Undefined' });
  });

  test('replacing the global Float64Array and Array changes nothing', () => {
    const list = numbers(BIG);
    const expected = zipOpens(list);
    const saved = { F: globalThis.Float64Array, A: globalThis.Array };
    let out;
    try {
      globalThis.Float64Array = function Broken() { throw new Error('global Float64Array used'); };
      globalThis.Array = function Broken() { throw new Error('global Array used'); };
      out = bw.zipOhlcvBars(undefined, undefined, list);
    } finally {
      globalThis.Float64Array = saved.F;
      globalThis.Array = saved.A;
    }
    assert.deepEqual(opens(out), expected);
  });
});

describe('number lists out', () => {
  test('a large list comes back as a new plain Array with every number as stored', () => {
    const list = numbers(BIG);
    const s = bw.NodeOhlcv.fromBars(bw.zipOhlcvBars(undefined, undefined, undefined, undefined, undefined, list));
    const a = s.close;
    const b = s.close;
    assert.ok(Array.isArray(a) && !ArrayBuffer.isView(a));
    assert.notEqual(a, b);
    assert.equal(a.length, BIG);
    for (let i = 0; i < BIG; i++) assert.ok(Object.is(a[i], list[i]), `element ${i}`);
    a[0] = 123;
    assert.ok(Object.is(s.close[0], list[0]));
  });

  test('free functions returning lists build arrays in bulk too', () => {
    const xs = Float64Array.from({ length: BIG }, (_, i) => 100 + (i % 13));
    const r = bw.returns(xs);
    assert.ok(Array.isArray(r));
    assert.equal(r.length, BIG - 1);
    assert.equal(r[0], (xs[1] - xs[0]) / xs[0]);
  });
});

describe('collect inputs', () => {
  const CLASSES = ['Incr_fn_sma_059403', 'Incr_fn_ema_7bc747', 'Incr_fn_rsi_4196b9', 'Incr_fn_bollinger_bands_7ac6ce',
    'Incr_fn_macd_4e1ee0'].filter((k) => typeof bw[k] === 'function');
  const N = 5000;
  const closes = numbers(N).map((x, i) => (Number.isFinite(x) ? 100 + x / 100 : i % 2 ? NaN : 100));
  const series = () => bw.NodeOhlcv.fromBars(bw.zipOhlcvBars(undefined, undefined, closes, closes, closes, closes, closes));

  for (const name of CLASSES) {
    test(`${name}: a Float64Array gives the same results as the array`, () => {
      const s = series();
      const viaArray = bw[name].make(new bw.NodeCtx(s)).collect(closes);
      const viaTyped = bw[name].make(new bw.NodeCtx(s)).collect(Float64Array.from(closes));
      assert.deepEqual(viaTyped, viaArray);
      assert.equal(viaArray.length, N);
    });
  }

  test('a bad element in a large input array fails before the context moves', { skip: CLASSES.length === 0 }, () => {
    const ctx = new bw.NodeCtx(series());
    const ind = bw[CLASSES[0]].make(ctx);
    const list = closes.slice();
    list[N - 3] = 'x';
    assert.throws(() => ind.collect(list), { message: 'Expected 64-bit float, got String', code: 'NumberExpected' });
    assert.equal(ctx.isInitialized, false);
    assert.equal(ind.collect(closes).length, N);
  });
});

describe('collect over many bars', () => {
  test('matches next bar by bar from a mid-series start, across batch edges, and after the series grows', {
    skip: typeof bw.Incr_fn_ema_7bc747 !== 'function',
  }, () => {
    const N = 1000;
    const closes = Array.from({ length: N + 300 }, (_, i) => 100 + Math.sin(i / 9) * 5 + (i % 11 === 0 ? NaN : 0));
    const s = bw.NodeOhlcv.fromBars(bw.zipOhlcvBars(undefined, undefined, closes.slice(0, N), undefined, undefined, closes.slice(0, N)));
    const a = new bw.NodeCtx(s);
    for (const i of a) if (i === 299) break;
    const b = a.copy();
    const viaCollect = bw.Incr_fn_ema_7bc747.make(a);
    const viaNext = bw.Incr_fn_ema_7bc747.make(b);
    const stepped = () => {
      const out = [];
      for (const i of b) out.push(viaNext.next(closes[i], 20));
      return out;
    };
    const first = viaCollect.collect(closes, 20);
    assert.equal(first.length, N - 300);
    assert.deepEqual(first, stepped());
    assert.equal(a.barIndex, N - 1);
    s.pushMany(bw.zipOhlcvBars(undefined, undefined, closes.slice(N), undefined, undefined, closes.slice(N)));
    const more = viaCollect.collect(closes, 20);
    assert.equal(more.length, 300);
    assert.deepEqual(more, stepped());
    assert.deepEqual(viaCollect.collect(closes, 20), []);
  });
});

test('date columns built in bulk match the bars, keep nulls, and ignore a replaced global Date', () => {
  const b = bw;
  const n = 5000;
  const t0 = Date.UTC(2024, 0, 1);
  const times = Array.from({ length: n }, (_, i) => (i % 97 === 3 ? null : new Date(t0 + i * 60e3 + (i % 7))));
  const ones = new Float64Array(n).fill(1);
  const s = b.NodeOhlcv.fromBars(b.zipOhlcvBars(times, times, ones, ones, ones, ones, ones));
  const RealDate = Date;
  let column;
  globalThis.Date = function Fake() { throw new Error('replaced'); };
  try {
    column = s.openTime;
  } finally {
    globalThis.Date = RealDate;
  }
  assert.equal(column.length, n);
  for (let i = 0; i < n; i++) {
    if (times[i] === null) assert.equal(column[i], null, `bar ${i}`);
    else {
      assert.ok(column[i] instanceof RealDate, `bar ${i}`);
      assert.equal(column[i].getTime(), times[i].getTime(), `bar ${i}`);
    }
  }
  assert.deepEqual(s.closeTime.map((d) => d && d.getTime()), times.map((d) => d && d.getTime()));
});

test('a Float64Array input stays valid while later inputs run getters that transfer its buffer', () => {
  const b = bw;
  const t0 = Date.UTC(2024, 0, 1);
  const bars = Array.from({ length: 40 }, (_, i) => new b.NodeOhlcvBar(new Date(t0 + i * 60e3), null, i, i, i, i, i));
  const ctx = new b.NodeCtx(b.NodeOhlcv.fromBars(bars));
  const a = new Float64Array(40).map((_, i) => i);
  const second = Array.from({ length: 40 }, (_, i) => i);
  Object.defineProperty(second, 5, { get() { structuredClone(a.buffer, { transfer: [a.buffer] }); return 5; } });
  const out = b.Incr_fn_crossover_94210a.make(ctx).collect(a, second);
  // The buffer was detached before the in-place read: it reads as empty, never as freed memory.
  assert.equal(out.length, 40);
  assert.ok(out.every((x) => x === null));
});
