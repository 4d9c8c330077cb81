'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const { NodeOhlcv: Ohlcv, NodeOhlcvBar: Bar, NodeTimeframe: TF } = require('../..');

const utc = (...a) => new Date(Date.UTC(...a));
const iso = (d) => d && d.toISOString().slice(0, 16);

// One-minute bars from `start`: open = close = i, high = i + 1, low = i - 1, volume 1.
function minutes(start, n) {
  const bars = [];
  for (let i = 0; i < n; i++) {
    const t = new Date(start.getTime() + i * 60000);
    bars.push(new Bar(t, new Date(t.getTime() + 60000), i, i + 1, i - 1, i, 1));
  }
  return Ohlcv.fromBars(bars);
}

test('hours and quarter hours of one-minute bars', () => {
  const src = minutes(utc(2024, 2, 1, 9), 120);
  src.timeframe = TF.Minutes(1);
  const h = src.resample(TF.Hours(1), true);
  assert.equal(h.length, 2);
  assert.equal(h.timeframe.toString(), '1h');
  assert.deepEqual(h.openTime.map(iso), ['2024-03-01T09:00', '2024-03-01T10:00']);
  assert.deepEqual(h.closeTime.map(iso), ['2024-03-01T10:00', '2024-03-01T11:00']);
  assert.deepEqual([h.open, h.high, h.low, h.close, h.volume], [[0, 60], [60, 120], [-1, 59], [59, 119], [60, 60]]);

  const q = src.resample(TF.Minutes(15), true);
  assert.equal(q.length, 8);
  assert.equal(iso(q.at(-1).openTime), '2024-03-01T10:45');
  assert.equal(iso(q.at(0).closeTime), '2024-03-01T09:15');
  assert.equal(src.length, 120, 'the source is left alone');
  assert.equal(src.timeframe.toString(), '1m');
});

test('windows start at the first bar unless aligned', () => {
  const src = minutes(utc(2024, 2, 1, 9, 7), 45);
  assert.deepEqual(src.resample(TF.Minutes(15), false).openTime.map(iso).slice(0, 3), [
    '2024-03-01T09:07', '2024-03-01T09:22', '2024-03-01T09:37',
  ]);
  assert.equal(iso(src.resample(TF.Minutes(15), true).at(0).openTime), '2024-03-01T09:00');
});

test('counts, weeks and months', async (t) => {
  const five = minutes(utc(2024, 0, 1), 5);
  for (const align of [true, false]) {
    await t.test(`ticks${align ? ', aligned' : ''}`, () => {
      assert.deepEqual(five.resample(TF.Ticks(2), align).open, [0, 2, 4]);
      assert.equal(five.resample(TF.Ticks(0), align).length, 5);
    });
  }
  const days = Ohlcv.fromBars(Array.from({ length: 28 }, (_, i) => new Bar(utc(2024, 2, 4 + i), utc(2024, 2, 5 + i), i, i, i, i, 1)));
  assert.deepEqual(days.resample(TF.Weeks(1), true).openTime.map(iso).slice(0, 2), ['2024-03-04T00:00', '2024-03-11T00:00']);
  assert.equal(days.resample(TF.Weeks(1), true).at(0).close, 6, 'Sunday the 10th belongs to the week of Monday the 4th');
  assert.deepEqual(days.resample(TF.Weeks(2), true).openTime.map(iso), ['2024-03-04T00:00', '2024-03-18T00:00']);
  const months = Ohlcv.fromBars([utc(1969, 11, 15), utc(1969, 11, 20), utc(2024, 4, 9)].map((t, i) => new Bar(t, null, i)));
  const m = months.resample(TF.Months(3), true);
  assert.deepEqual(m.openTime.map(iso), ['1969-12-20T00:00', '2024-04-01T00:00']);
  assert.deepEqual(m.open, [1, 2]);
});

test('a new series every time, also when empty', async (t) => {
  const empty = new Ohlcv();
  for (const [tf, align] of [[TF.Ticks(2), true], [TF.Days(1), true], [TF.Days(1), false], [TF.Unknown(), true]]) {
    await t.test(`${tf}${align ? ', aligned' : ''}`, () => {
      const r = empty.resample(tf, align);
      assert.equal(r.length, 0);
      assert.ok(r.timeframe.eq(tf));
    });
  }
  const src = minutes(utc(2024, 0, 1), 3);
  const r = src.resample(TF.Ticks(0), false);
  r.push(new Bar());
  assert.equal(src.length, 3);
});

test('arguments and broken limits', async (t) => {
  const src = minutes(utc(2024, 0, 1), 3);
  assert.throws(() => src.resample('1h', true), { message: 'Failed to recover `NodeTimeframe` type from napi value' });
  assert.throws(() => src.resample(TF.Hours(1)), { code: 'BooleanExpected' });
  assert.throws(() => src.resample(TF.Unknown(), false), { message: 'Unknown timeframe', code: 'InvalidArg' });
  assert.throws(() => src.resample(TF.Days(0), true), {
    message: 'resample: calendar buckets need a count of at least 1, got 0 (0D)',
    code: 'InvalidArg',
  });
  src.push(new Bar(null, null, 1));
  for (const align of [true, false]) {
    await t.test(`a bar without open time${align ? ', aligned' : ''}`, () => {
      assert.throws(() => src.resample(TF.Hours(1), align), {
        message: 'resample: bar 3 has no open time, which time-based resampling needs',
        code: 'InvalidArg',
      });
    });
  }
  assert.equal(src.resample(TF.Ranges(2), true).length, 2);
  const last = Ohlcv.fromBars([new Bar(utc(32767, 11, 31, 12), null, 1)]);
  assert.throws(() => last.resample(TF.Days(1), false), { message: /ends outside the date range/ });
});
