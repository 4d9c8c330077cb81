'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const { NodeOhlcv: Ohlcv, NodeOhlcvBar: Bar, NodeTimeframe: TF, zipOhlcvBars } = require('../..');

const utc = (...a) => new Date(Date.UTC(...a));
const min = (m) => utc(2024, 0, 1, 10, m);
// Bar i opens at 10:i, closes a minute later, with open = i.
const bar = (i) => new Bar(min(i), min(i + 1), i, i + 1, i - 0.5, i + 0.5, 10);
const series = (n) => Ohlcv.fromBars(Array.from({ length: n }, (_, i) => bar(i)));
const opens = (s) => s.open;

test('an empty series', () => {
  const s = new Ohlcv('ignored', 1);
  assert.equal(s.length, 0);
  assert.equal(s.timeframe.unknown, true);
  assert.equal(s.toString(), 'ArcOhlcv { inner: RwLock { data: Ohlcv { bars: [], timeframe: Unknown }, poisoned: false, .. } }');
  assert.match(s.toString(), /^ArcOhlcv \{ inner: .*Ohlcv \{ bars: \[\], timeframe: Unknown \}.* \}$/);
  assert.deepEqual(s.bars, []);
  assert.deepEqual(s.openTime, []);
  assert.deepEqual(s.volume, []);
  assert.equal(s.at(0), null);
  assert.equal(s.pop(), null);
  assert.equal(s.shift(), null);
  assert.equal(s.length, 0);
  s.reverse();
  s.sort(true);
  assert.equal(Ohlcv.fromBars([]).length, 0);
  assert.equal(Ohlcv.fromBars([]).timeframe.unknown, true);
});

test('bars are copied in and out', () => {
  const b = bar(1);
  const s = new Ohlcv();
  s.push(b);
  b.close = 99;
  assert.equal(s.at(0).close, 1.5);
  const x = s.at(0);
  const y = s.at(0);
  assert.notEqual(x, y);
  assert.equal(x.toString(), y.toString());
  x.open = 42;
  assert.equal(s.at(0).open, 1);
  s.bars[0].open = 42;
  assert.equal(s.at(0).open, 1);
  assert.ok(s.bars[0] instanceof Bar);
});

test('ref shares storage, copy does not; extend appends copies, also of itself', () => {
  const s = series(2);
  s.timeframe = TF.Minutes(1);
  const r = s.ref();
  const c = s.copy();
  r.push(bar(2));
  assert.equal(s.length, 3);
  assert.equal(c.length, 2);
  assert.equal(c.timeframe.toString(), '1m');
  c.push(bar(9));
  assert.equal(s.length, 3);
  r.timeframe = TF.Hours(1);
  assert.equal(s.timeframe.toString(), '1h');
  assert.equal(c.timeframe.toString(), '1m');

  s.extend(s);
  assert.deepEqual(opens(s), [0, 1, 2, 0, 1, 2]);
  s.extend(s.ref());
  assert.equal(s.length, 12);
  assert.equal(r.length, 12);
  const other = series(1);
  other.timeframe = TF.Days(1);
  s.extend(other);
  assert.equal(s.length, 13);
  assert.equal(s.timeframe.toString(), '1h', 'extend keeps the receiver timeframe');
});

test('at counts from the end for negative indexes', () => {
  const s = series(5);
  assert.equal(s.at(-1).open, 4);
  assert.equal(s.at(-5).open, 0);
  assert.equal(s.at(5), null);
  assert.equal(s.at(-6), null);
  assert.equal(s.at(2.7).open, 2);
  assert.equal(s.at(-2147483648), null);
});

test('slice, head and tail copy ranges and keep the timeframe', () => {
  const s = series(5);
  s.timeframe = TF.Minutes(1);
  const sl = s.slice(1, 3);
  assert.deepEqual(opens(sl), [1, 2]);
  assert.equal(sl.timeframe.toString(), '1m');
  sl.push(bar(7));
  assert.equal(s.length, 5);
  assert.equal(s.slice(2, 2).length, 0);
  assert.equal(s.slice(0, 5).length, 5);
  assert.deepEqual(opens(s.head(2)), [0, 1]);
  assert.equal(s.head(0).length, 0);
  assert.equal(s.head(5).length, 5);
  assert.deepEqual(opens(s.tail(2)), [3, 4]);
  assert.equal(s.tail(0).length, 0);
  assert.equal(s.tail(10).length, 5);
  assert.equal(s.tail(-1).length, 5);
  assert.equal(s.tail(2).timeframe.toString(), '1m');
});

test('slice and head outside their limits are refused', async (t) => {
  const s = series(5);
  const cases = [
    ['head', [6], 'head: count 6 is outside 0..5, the length of the series'],
    ['head', [-1], 'head: count -1 is outside 0..5, the length of the series'],
    ['slice', [3, 1], 'slice: start 3 is after end 1'],
    ['slice', [0, 6], 'slice: range 0..6 is outside 0..5, the length of the series'],
    ['slice', [-1, 2], 'slice: range -1..2 is outside 0..5, the length of the series'],
    ['slice', [2, -1], 'slice: range 2..-1 is outside 0..5, the length of the series'],
  ];
  for (const [method, args, message] of cases) {
    await t.test(`${method}(${args.join(', ')})`, () => {
      assert.throws(() => s[method](...args), { message, code: 'InvalidArg' });
    });
  }
  assert.equal(s.length, 5);
});

test('pop, shift, clear, reverse', () => {
  const s = series(4);
  s.timeframe = TF.Days(1);
  assert.equal(s.pop().open, 3);
  assert.equal(s.shift().open, 0);
  assert.deepEqual(opens(s), [1, 2]);
  s.reverse();
  assert.deepEqual(opens(s), [2, 1]);
  const one = series(1);
  one.reverse();
  assert.deepEqual(opens(one), [0]);
  s.clear();
  assert.equal(s.length, 0);
  assert.equal(s.timeframe.toString(), '1D');
});

test('sort is stable on open times with absent ones below every time', () => {
  const mk = (t, tag) => new Bar(t, null, tag);
  const s = Ohlcv.fromBars([mk(min(2), 1), mk(null, 2), mk(min(1), 3), mk(min(2), 4), mk(min(1), 5)]);
  s.sort(true);
  assert.deepEqual(opens(s), [2, 3, 5, 1, 4]);
  s.sort(false);
  assert.deepEqual(opens(s), [1, 4, 3, 5, 2]);
  assert.throws(() => s.sort(), { code: 'BooleanExpected' });
  assert.throws(() => s.sort(1), { code: 'BooleanExpected' });
});

test('columns', () => {
  const s = Ohlcv.fromBars([bar(0), new Bar(null, min(5), NaN, 2, 3, 4, 5)]);
  assert.deepEqual(s.openTime.map((d) => d && d.getTime()), [+min(0), null]);
  assert.deepEqual(s.closeTime.map((d) => d.getTime()), [+min(1), +min(5)]);
  assert.deepEqual(s.open, [0, NaN]);
  assert.deepEqual(s.high, [1, 2]);
  assert.deepEqual(s.low, [-0.5, 3]);
  assert.deepEqual(s.close, [0.5, 4]);
  assert.deepEqual(s.volume, [10, 5]);
  const big = series(100);
  assert.deepEqual(big.close, Array.from({ length: 100 }, (_, i) => i + 0.5));
  const col = big.open;
  col[0] = 99;
  assert.equal(big.open[0], 0);
});

test('timeframe accessor copies both ways', () => {
  const s = series(2);
  const tf = TF.Hours(1);
  s.timeframe = tf;
  assert.equal(s.timeframe.toString(), '1h');
  assert.notEqual(s.timeframe, s.timeframe);
  assert.deepEqual(opens(s), [0, 1]);
  assert.throws(() => { s.timeframe = '1h'; }, { message: 'Failed to recover `NodeTimeframe` type from napi value' });
  assert.equal(s.timeframe.toString(), '1h');
});

test('wrong kinds are refused and nothing is appended', () => {
  const s = series(1);
  assert.throws(() => s.push({}), { message: 'Failed to recover `NodeOhlcvBar` type from napi value' });
  assert.throws(() => s.pushMany([bar(1), bar(2), 'x']), { message: 'Failed to recover `NodeOhlcvBar` type from napi value' });
  assert.throws(() => s.pushMany(bar(1)), { message: 'Given napi value is not an array', code: 'InvalidArg' });
  assert.throws(() => s.extend(bar(1)), { message: 'Failed to recover `NodeOhlcv` type from napi value' });
  assert.throws(() => Ohlcv.fromBars([bar(0), s]), { message: 'Failed to recover `NodeOhlcvBar` type from napi value' });
  assert.throws(() => Ohlcv.fromBars(undefined), { message: 'Given napi value is not an array' });
  assert.throws(() => Ohlcv.prototype.at.call({}, 0), {
    message: 'Failed to unwrap exclusive reference of `NodeOhlcv` type from napi value',
  });
  assert.equal(s.length, 1);
  s.pushMany([bar(1), bar(2)]);
  assert.deepEqual(opens(s), [0, 1, 2]);
});

test('zipOhlcvBars builds bars column by column', () => {
  const two = zipOhlcvBars(undefined, undefined, [1, 2], [3, 4]);
  assert.equal(two.length, 2);
  assert.ok(two[0] instanceof Bar);
  assert.equal(two[0].openTime, null);
  assert.deepEqual([two[0].open, two[1].open, two[0].high, two[1].high], [1, 2, 3, 4]);
  for (const b of two) for (const k of ['low', 'close', 'volume']) assert.ok(Number.isNaN(b[k]));
  assert.deepEqual(zipOhlcvBars(), []);
  assert.deepEqual(zipOhlcvBars(null, null, null), []);

  const d0 = min(0);
  const times = zipOhlcvBars([d0, null]);
  assert.equal(times.length, 2);
  assert.equal(times[0].openTime.getTime(), +d0);
  assert.equal(times[1].openTime, null);
  const full = zipOhlcvBars([d0], [min(1)], [1], [2], [0.5], [1.5], [10]);
  assert.equal(full[0].toString(), bar(0).toString().replace('open: 0.0, high: 1.0, low: -0.5, close: 0.5', 'open: 1.0, high: 2.0, low: 0.5, close: 1.5'));
  // Float64Array columns work like arrays.
  assert.equal(zipOhlcvBars(null, null, new Float64Array([7, 8]))[1].open, 8);
  assert.equal(Ohlcv.fromBars(full).length, 1);
});

test('zipOhlcvBars refuses columns of different lengths and bad entries', () => {
  assert.throws(() => zipOhlcvBars(undefined, undefined, [1, 2], [3, 4, 5]), {
    message: 'zipOhlcvBars: column `high` has 3 entries, but `open` has 2',
    code: 'InvalidArg',
  });
  assert.throws(() => zipOhlcvBars([min(0)], undefined, undefined, undefined, undefined, undefined, []), {
    message: 'zipOhlcvBars: column `volume` has 0 entries, but `openTime` has 1',
  });
  assert.throws(() => zipOhlcvBars(undefined, undefined, [1, null]), { code: 'NumberExpected', message: /Null/ });
  assert.throws(() => zipOhlcvBars([5]), { code: 'DateExpected' });
  assert.throws(() => zipOhlcvBars(5), { message: 'Given napi value is not an array' });
});
