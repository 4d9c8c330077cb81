'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const { NodeOhlcvBar: Bar } = require('../..');

const utc = (...a) => new Date(Date.UTC(...a));
const t0 = utc(2024, 2, 1, 9, 0);
const t1 = utc(2024, 2, 1, 9, 1);
const t2 = utc(2024, 2, 1, 9, 2);

const fields = (b) => ({
  openTime: b.openTime && b.openTime.getTime(),
  closeTime: b.closeTime && b.closeTime.getTime(),
  open: b.open,
  high: b.high,
  low: b.low,
  close: b.close,
  volume: b.volume,
});

test('an empty bar: absent times, NaN numbers', () => {
  const b = new Bar();
  assert.equal(b.openTime, null);
  assert.equal(b.closeTime, null);
  for (const k of ['open', 'high', 'low', 'close', 'volume']) assert.ok(Number.isNaN(b[k]), k);
  assert.equal(
    b.toString(),
    'OhlcvBar { open_time: None, close_time: None, open: NaN, high: NaN, low: NaN, close: NaN, volume: NaN }',
  );
  const j = b.toJSON();
  assert.deepEqual(Object.keys(j), ['open_time', 'close_time', 'open', 'high', 'low', 'close', 'volume']);
  assert.equal(j.open_time, null);
  assert.equal(j.close_time, null);
  assert.ok(Number.isNaN(j.volume));
  assert.deepEqual(fields(Bar.fromJSON({})), fields(b));
  // null and undefined arguments are absent too.
  assert.deepEqual(fields(new Bar(null, undefined, null)), fields(b));
});

test('constructor, getters and setters', () => {
  const b = new Bar(t0, t1, 1, 2, 0.5, 1.5, 10);
  assert.deepEqual(fields(b), { openTime: +t0, closeTime: +t1, open: 1, high: 2, low: 0.5, close: 1.5, volume: 10 });
  const d = b.openTime;
  assert.notEqual(b.openTime, d, 'each read is a new Date');
  d.setTime(0);
  assert.equal(b.openTime.getTime(), +t0);

  b.openTime = t1;
  b.closeTime = null;
  b.high = -0;
  assert.equal(b.openTime.getTime(), +t1);
  assert.equal(b.closeTime, null);
  assert.ok(Object.is(b.high, -0));
  b.closeTime = t2;
  b.closeTime = undefined;
  assert.equal(b.closeTime, null);
});

test('wrong kinds are refused and change nothing', () => {
  const b = new Bar(t0, t1, 1, 2, 0.5, 1.5, 10);
  assert.throws(() => { b.open = '1'; }, { code: 'NumberExpected', message: /String/ });
  assert.throws(() => { b.open = undefined; }, { code: 'NumberExpected', message: /Undefined/ });
  assert.throws(() => { b.openTime = 5; }, { code: 'DateExpected' });
  assert.equal(b.open, 1);
  assert.equal(b.openTime.getTime(), +t0);
  assert.throws(() => new Bar(5), { code: 'DateExpected' });
  assert.throws(() => new Bar(t0, t1, 'x'), { code: 'NumberExpected' });
  assert.throws(() => b.merge({}), { message: 'Failed to recover `NodeOhlcvBar` type from napi value' });
});

test('text and JSON forms of times: fractions and the exact layout', () => {
  const b = new Bar(t0, null, 100, 101.5, 99.75, 101, 1200);
  b.openTime = utc(2024, 2, 1, 9, 30);
  assert.equal(
    b.toString(),
    'OhlcvBar { open_time: Some(2024-03-01T09:30:00Z), close_time: None, open: 100.0, high: 101.5, low: 99.75, close: 101.0, volume: 1200.0 }',
  );
  b.openTime = utc(2024, 2, 1, 9, 30, 0, 250);
  assert.match(b.toString(), /open_time: Some\(2024-03-01T09:30:00\.250Z\)/);
  assert.equal(b.toJSON().open_time, '2024-03-01T09:30:00.250+00:00');
  // Microseconds only arrive through text.
  const micro = Bar.fromJSON({ open_time: '2024-03-01T09:30:00.000001Z' });
  assert.match(micro.toString(), /Some\(2024-03-01T09:30:00\.000001Z\)/);
  assert.equal(micro.toJSON().open_time, '2024-03-01T09:30:00.000001+00:00');
  const nano = Bar.fromJSON({ open_time: '2024-03-01T09:30:00.123456789Z' });
  assert.equal(nano.toJSON().open_time, '2024-03-01T09:30:00.123456789+00:00');
  assert.equal(nano.openTime.getTime(), +utc(2024, 2, 1, 9, 30, 0, 123), 'a Date drops sub-milliseconds');
  // Years outside 0..9999 carry a sign; before 1970 the fraction still counts up.
  const far = new Bar(utc(10000, 0, 1), new Date(-1));
  assert.equal(far.toJSON().open_time, '+10000-01-01T00:00:00+00:00');
  assert.equal(far.toJSON().close_time, '1969-12-31T23:59:59.999+00:00');
  assert.match(new Bar(utc(10000, 0, 1)).toString(), /Some\(\+10000-01-01T00:00:00Z\)/);
  assert.equal(new Bar(new Date(Date.UTC(-1, 11, 31))).toJSON().open_time, '-0001-12-31T00:00:00+00:00');
});

test('numbers in the text form', async (t) => {
  const cases = [
    [1, '1.0'], [0.1, '0.1'], [-0, '-0.0'], [101.25, '101.25'], [1e16, '1e16'], [1.5e-5, '1.5e-5'],
    [-2.5e20, '-2.5e20'], [1e-4, '0.0001'], [123456789012345.6, '123456789012345.6'],
    [NaN, 'NaN'], [Infinity, 'inf'], [-Infinity, '-inf'],
  ];
  for (const [x, text] of cases) {
    await t.test(text, () => {
      assert.match(new Bar(null, null, x).toString(), new RegExp(`open: ${text.replace(/[.+]/g, '\\$&')},`));
    });
  }
});

test('merge takes the earlier open, the later close, extremes ignoring NaN and summed volume', () => {
  const a = new Bar(t0, t1, 1, 2, 0.5, 1.5, 10);
  const b = new Bar(t1, t2, 1.6, 2.5, 1.4, 2.2, 5);
  const want = { openTime: +t0, closeTime: +t2, open: 1, high: 2.5, low: 0.5, close: 2.2, volume: 15 };
  assert.deepEqual(fields(a.merge(b)), want);
  assert.deepEqual(fields(b.merge(a)), want);
  assert.deepEqual(fields(a), { openTime: +t0, closeTime: +t1, open: 1, high: 2, low: 0.5, close: 1.5, volume: 10 });

  // A bar without open time wins the open: absent is below every time.
  const noOpen = new Bar(null, t2, 7, 3, 1, 2, 1);
  const m = a.merge(noOpen);
  assert.equal(m.openTime, null);
  assert.equal(m.open, 7);
  assert.equal(noOpen.merge(a).open, 7);
  // An absent close time is replaced by the other's; equal close times keep the receiver's close.
  assert.equal(new Bar(t0, null, 1, 1, 1, 9, 1).merge(a).close, 1.5);
  assert.equal(new Bar(t0, t1, 1, 1, 1, 9, 1).merge(a).close, 9);
  assert.equal(a.merge(new Bar(t0, t1, 1, 1, 1, 9, 1)).close, 1.5);
  // Equal open times keep the receiver's open.
  assert.equal(new Bar(t0, t1, 4).merge(a).open, 4);
  // NaN is ignored by high and low, but not by volume.
  const h = new Bar(t0, t1, 1, NaN, NaN, 1, NaN).merge(new Bar(t0, t1, 1, 3, 0.25, 1, 2));
  assert.equal(h.high, 3);
  assert.equal(h.low, 0.25);
  assert.ok(Number.isNaN(h.volume));
  assert.ok(Number.isNaN(new Bar().merge(new Bar()).high));
});

test('fromJSON reads RFC 3339 texts with offsets into UTC', () => {
  const b = Bar.fromJSON({ open_time: '2024-01-01 10:00:00+02:00', open: 1 });
  assert.equal(b.openTime.toISOString(), '2024-01-01T08:00:00.000Z');
  assert.equal(b.closeTime, null);
  assert.equal(b.open, 1);
  for (const k of ['high', 'low', 'close', 'volume']) assert.ok(Number.isNaN(b[k]));
  assert.equal(Bar.fromJSON({ close_time: '2024-01-01t10:00:00.5z' }).closeTime.toISOString(), '2024-01-01T10:00:00.500Z');
  assert.equal(Bar.fromJSON({ open_time: '2024-01-01T00:30:00-05:30' }).openTime.toISOString(), '2024-01-01T06:00:00.000Z');
});

test('fromJSON failures', async (t) => {
  const cases = [
    [{ open_time: '2024-01-01' }, 'bad date: premature end of input'],
    [{ open_time: '2024-01-01T10:00:00Z!' }, 'bad date: trailing input'],
    [{ open_time: '2024-02-30T10:00:00Z' }, 'bad date: input is out of range'],
    [{ close_time: '2024/01/01T10:00:00Z' }, 'bad date: input contains invalid characters'],
    [{ open_time: '+10000-01-01T00:00:00+00:00' }, 'bad date: input contains invalid characters'],
  ];
  for (const [json, message] of cases) {
    await t.test(JSON.stringify(json), () => assert.throws(() => Bar.fromJSON(json), { message, code: 'InvalidArg' }));
  }
  assert.throws(() => Bar.fromJSON({ open: '1' }), { code: 'NumberExpected', message: /String/ });
  assert.throws(() => Bar.fromJSON({ open_time: 5 }), { code: 'StringExpected', message: /Number 5/ });
  for (const bad of [undefined, null]) {
    await t.test(String(bad), () => {
      assert.throws(() => Bar.fromJSON(bad), { message: 'Failed to get property with field `open_time`' });
    });
  }
  // Conversion errors come before date errors: every property is read before any is parsed.
  assert.throws(() => Bar.fromJSON({ open_time: 'nope', volume: 'x' }), { code: 'NumberExpected' });
});

test('JSON round trips, also through JSON text, including absent times and NaN numbers', async (t) => {
  const bars = [
    new Bar(t0, t1, 1, 2, 0.5, 1.5, 10),
    new Bar(),
    new Bar(t0, null, NaN, 2, NaN, 1.5, 0),
    Bar.fromJSON({ open_time: '2024-03-01T09:30:00.123456789Z', close_time: '0000-01-01T00:00:00Z', open: -0 }),
    new Bar(null, utc(9999, 11, 31, 23, 59, 59, 999), Infinity, -Infinity, 1e-300, 5e-324, 1.7976931348623157e308),
  ];
  for (const b of bars) {
    await t.test(b.toString(), () => {
      const direct = Bar.fromJSON(b.toJSON());
      assert.equal(direct.toString(), b.toString());
      const viaText = Bar.fromJSON(JSON.parse(JSON.stringify(b.toJSON())));
      // JSON text has no infinities (written as null, like NaN) and no negative zero.
      const expected = b.toString().replace(/-?inf\b/g, 'NaN').replace(/: -0\.0\b/g, ': 0.0');
      assert.equal(viaText.toString(), expected);
    });
  }
  assert.equal(Bar.fromJSON({ open_time: null, close_time: null, open: null }).toString(), new Bar().toString());
});

test('a bar is a value: every crossing copies', () => {
  const b = new Bar(t0, t1, 1, 2, 0.5, 1.5, 10);
  const j = b.toJSON();
  j.open = 99;
  assert.equal(b.open, 1);
  const c = Bar.fromJSON(j);
  c.open = 5;
  assert.equal(b.open, 1);
  const m = b.merge(b);
  m.volume = 0;
  assert.equal(b.volume, 10);
});
