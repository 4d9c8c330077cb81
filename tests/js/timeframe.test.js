'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const { NodeTimeframe: TF } = require('../..');

const units = ['years', 'months', 'weeks', 'days', 'hours', 'minutes', 'seconds', 'ticks', 'ranges'];

test('text form round trips and parses by the unit letter', async (t) => {
  const cases = [
    ['15m', '15m', 'minutes', 15],
    ['1M', '1M', 'months', 1],
    ['1m', '1m', 'minutes', 1],
    ['D1', '1D', 'days', 1],
    ['0D', '0D', 'days', 0],
    ['007W', '7W', 'weeks', 7],
    ['100T', '100T', 'ticks', 100],
    ['5R', '5R', 'ranges', 5],
    ['30s', '30s', 'seconds', 30],
    ['1Y', '1Y', 'years', 1],
    ['18446744073709551615D', '18446744073709551615D', 'days', -1],
  ];
  for (const [text, printed, unit, count] of cases) {
    await t.test(text, () => {
      const tf = TF.fromString(text);
      assert.equal(tf.toString(), printed);
      assert.equal(tf[unit], count);
      for (const other of units) if (other !== unit) assert.equal(tf[other], null, other);
      assert.equal(tf.unknown, false);
    });
  }
});

test('unparseable text gives Unknown', async (t) => {
  for (const text of ['1h30m', ' 5m', '+5D', '-5D', '?', '', 'abc', '5', 'D', '99999999999999999999D', '1d', '٣D', '5DD']) {
    await t.test(JSON.stringify(text), () => {
      const tf = TF.fromString(text);
      assert.equal(tf.unknown, true);
      assert.equal(tf.toString(), '?');
      for (const u of units) assert.equal(tf[u], null);
    });
  }
});

test('counts are sign-extended and print unsigned', () => {
  const t = TF.Days(-1);
  assert.equal(t.toString(), '18446744073709551615D');
  assert.equal(t.days, -1);
  assert.equal(t.toDurationS(), -86400);
  assert.equal(TF.Hours(4).hours, 4);
  assert.equal(TF.Hours(4).days, null);
  assert.equal(TF.Unknown().unknown, true);
});

test('lengths in seconds, with 32-bit wrap', async (t) => {
  const cases = [
    [TF.Years(1), 31536000],
    [TF.Months(1), 2592000],
    [TF.Weeks(2), 1209600],
    [TF.Days(1), 86400],
    [TF.Hours(4), 14400],
    [TF.Minutes(15), 900],
    [TF.Seconds(30), 30],
    [TF.Years(68), 2144448000],
    [TF.Years(69), -2118983296],
  ];
  for (const [tf, s] of cases) await t.test(tf.toString(), () => assert.equal(tf.toDurationS(), s));
  for (const tf of [TF.Ticks(10), TF.Ranges(3), TF.Unknown()]) {
    await t.test(`${tf} has no length`, () => {
      assert.throws(() => tf.toDurationS(), { message: 'Invalid timeframe', code: 'InvalidArg' });
    });
  }
  // Beyond the millisecond range of a 64-bit integer there is no length: an error, not garbage.
  assert.throws(() => TF.Years(300000000).toDurationS(), { code: 'InvalidArg' });
});

test('from a length in seconds', async (t) => {
  const cases = [
    [86400, 'days', 1],
    [90000, 'days', 1],
    [5400, 'hours', 1],
    [604800, 'weeks', 1],
    [2592000, 'months', 1],
    [31536000, 'years', 1],
    [-31536000, 'years', -1],
    [59, 'seconds', 59],
    [60, 'minutes', 1],
    [-2592000, 'months', -1],
  ];
  for (const [s, unit, count] of cases) await t.test(`${s} s`, () => assert.equal(TF.fromDurationS(s)[unit], count));
  assert.equal(TF.fromDurationS(-2592000).toString(), '18446744073709551615M');
  for (const s of [0, -60, -604800, -2591999]) {
    await t.test(`${s} s is unknown`, () => assert.equal(TF.fromDurationS(s).unknown, true));
  }
});

test('equality', () => {
  assert.equal(TF.Minutes(15).eq(TF.fromString('15m')), true);
  assert.equal(TF.Days(1).eq(TF.Hours(24)), false);
  assert.equal(TF.Unknown().eq(TF.fromString('nope')), true);
  assert.equal(TF.Days(1).eq(TF.Days(2)), false);
  assert.equal(TF.Ticks(1).eq(TF.Ranges(1)), false);
});
