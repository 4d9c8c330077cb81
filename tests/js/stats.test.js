'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const bw = require('../..');

const f64 = (...xs) => new Float64Array(xs);
const near = (a, b) => a === b || Math.abs(a - b) <= 1e-12 * Math.abs(b);

test('sum, mean, variance and stdev of a series', async (t) => {
  const cases = [
    // [values, sum, mean, variance, stdev]
    [[], -0, NaN, NaN, NaN],
    [[2, 4], 6, 3, 1, 1],
    [[1, 2, 3, 4], 10, 2.5, 1.25, Math.sqrt(1.25)],
    [[7], 7, 7, 0, 0],
    [[1, NaN, 3], NaN, NaN, NaN, NaN],
  ];
  for (const [xs, s, m, v, sd] of cases) {
    await t.test(`[${xs}]`, () => {
      const a = f64(...xs);
      assert.ok(Object.is(bw.sum(a), s), 'sum');
      assert.ok(Object.is(bw.mean(a), m), 'mean');
      assert.ok(Object.is(bw.variance(a), v), 'variance');
      assert.ok(Object.is(bw.stdev(a), sd), 'stdev');
    });
  }
});

test('sums run in array order without compensation', () => {
  // Pairwise or compensated summation would give 1 here.
  assert.equal(bw.sum(f64(1e16, 1, -1e16)), 0);
  assert.equal(bw.sum(f64(0.1, 0.2)), 0.1 + 0.2);
});

test('the input array is read, never changed', () => {
  const a = f64(3, 1, 2);
  bw.variance(a);
  bw.returns(a, false);
  assert.deepEqual([...a], [3, 1, 2]);
});

test('returns: simple returns, with a NaN in front only for an explicit false', async (t) => {
  const cases = [
    [[100, 110, 99], undefined, [0.1, -0.1]],
    [[100, 110, 99], true, [0.1, -0.1]],
    [[100, 110, 99], null, [0.1, -0.1]],
    [[100, 110, 99], false, [NaN, 0.1, -0.1]],
    [[5], undefined, []],
    [[5], false, [NaN]],
    [[], undefined, []],
    [[], false, [NaN]],
    [[0, 1, 0, 0], undefined, [Infinity, -1, NaN]],
  ];
  for (const [xs, pad, want] of cases) {
    await t.test(`returns([${xs}], ${pad})`, () => {
      const got = bw.returns(f64(...xs), pad);
      assert.ok(Array.isArray(got));
      assert.equal(got.length, want.length);
      got.forEach((g, i) => assert.ok(near(g, want[i]) || Object.is(g, want[i]), `[${i}]`));
    });
  }
  assert.throws(() => bw.returns(f64(1, 2), 0), { code: 'BooleanExpected' });
});

test('series arguments must be Float64Array', async (t) => {
  for (const fn of ['sum', 'mean', 'variance', 'stdev', 'returns']) {
    await t.test(fn, () => {
      assert.throws(() => bw[fn]([1, 2]), { message: 'Get TypedArray info failed' });
      assert.throws(() => bw[fn](new Float32Array(2)), { message: /^Expected \$?\w+, got \d+$/, code: 'InvalidArg' });
    });
  }
});

test('annualization_factor: periods per year', async (t) => {
  const tf = bw.NodeTimeframe;
  const cases = [
    [tf.Days(1), 252, 252],
    [tf.Hours(1), 252, 6048],
    [tf.Hours(4), 365, 2190],
    [tf.Minutes(1), 365, 525600],
    [tf.Months(1), 252, 8.4],
    [tf.Weeks(1), 252, 36],
    [tf.Years(1), 365, 1],
    [tf.Seconds(30), 252, 725760],
    [tf.Days(0), 252, Infinity],
  ];
  for (const [tf, days, want] of cases) {
    await t.test(`${tf}, ${days} days`, () => assert.ok(near(bw.annualization_factor(tf, days), want)));
  }
});

test('annualization_factor refuses timeframes without a length', async (t) => {
  const tf = bw.NodeTimeframe;
  for (const x of [tf.Ticks(1), tf.Ranges(5), tf.Unknown()]) {
    await t.test(String(x), () => {
      assert.throws(() => bw.annualization_factor(x, 252), { message: 'Unknown timeframe', code: 'InvalidArg' });
    });
  }
  // 2^31 - 1 years overflow the span of a duration.
  assert.throws(() => bw.annualization_factor(tf.Years(2147483647), 252), { code: 'InvalidArg' });
  assert.throws(() => bw.annualization_factor({}, 252), {
    message: 'Failed to recover `NodeTimeframe` type from napi value',
  });
  assert.throws(() => bw.annualization_factor(tf.Days(1), '252'), { code: 'NumberExpected' });
});
