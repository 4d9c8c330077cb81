'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const {
  bw, ctxOf, rows, closes, collect, dailyWalk, firstSteps, assertNear,
  smaRef, wilderRef, stdevRef, trRef,
} = require('./support/indicator-cases');

const N = NaN;
const walk = dailyWalk(300);
// [open, high, low, close]: true ranges 2, 3, 2, 2.5, 6.5, 2.
const bars6 = rows([[9, 10, 8, 9], [10, 12, 10, 11], [11, 11, 9, 9.5], [9, 9, 7, 7.5], [12, 14, 12, 13.5],
  [14, 15, 13, 14]]);

test('volatility: first value with default arguments', async (t) => {
  // [class, collect arguments, step of the first value per output]
  const cases = [
    ['Incr_fn_tr_296320', [], [1]],
    ['Incr_fn_atr_d37266', [], [14]],
    ['Incr_fn_bollinger_bands_7ac6ce', [walk.close], [20, 20]],
    ['Incr_fn_bollinger_bands_pct_b_12beae', [walk.close], [20]],
    ['Incr_fn_bollinger_bands_width_bec1ab', [walk.close], [20]],
    ['Incr_fn_donchian_channel_b78288', [walk.close], [20, 20, 20]],
    // value and direction on every step; the average comes on step 10.
    ['Incr_fn_supertrend_a392d5', [walk.close, 3, 10], [1, 1]],
    // the stop scans skip the missing stops before step 10.
    ['Incr_fn_chande_kroll_stop_1f3d9c', [], [10, 10]],
    ['Incr_fn_choppiness_index_30ed5c', [], [14]],
    // the first bar has no previous high and low.
    ['Incr_fn_vortex_indicator_120086', [], [15, 15]],
    ['Incr_fn_aroon_39638b', [], [15, 15]],
  ];
  await firstSteps(t, walk, cases);
});

test('volatility: hand-computed values', async (t) => {
  const two = rows([[9, 10, 8, 9], [10, 12, 10, 11]]);
  const chop2 = (100 * Math.log10(5 / 4)) / Math.log10(2);
  // [label, class, bars, collect arguments, expected results]
  const cases = [
    ['tr', 'Incr_fn_tr_296320', bars6, [], [2, 3, 2, 2.5, 6.5, 2]],
    ['tr handleNa false', 'Incr_fn_tr_296320', two, [false], [N, 3]],
    ['atr 2', 'Incr_fn_atr_d37266', bars6, [2], [N, 2.5, 2.25, 2.375, 4.4375, 3.21875]],
    ['atr 1 is the true range', 'Incr_fn_atr_d37266', bars6, [1], [2, 3, 2, 2.5, 6.5, 2]],
    ['bollinger_bands 2', 'Incr_fn_bollinger_bands_7ac6ce', closes([1, 3]), [[1, 3], 2], [[N, N], [4, 0]]],
    ['bollinger_bands 2, mult 1', 'Incr_fn_bollinger_bands_7ac6ce', closes([1, 3]), [[1, 3], 2, 1], [[N, N], [3, 1]]],
    ['bollinger_bands_pct_b 2', 'Incr_fn_bollinger_bands_pct_b_12beae', closes([1, 3]), [[1, 3], 2], [N, 0.75]],
    ['bollinger_bands_width 2', 'Incr_fn_bollinger_bands_width_bec1ab', closes([1, 3]), [[1, 3], 2], [N, 200]],
    ['bollinger of a constant: width 0, %B missing', 'Incr_fn_bollinger_bands_width_bec1ab', closes([5, 5, 5]),
      [[5, 5, 5], 2], [N, 0, 0]],
    ['bollinger_bands_pct_b of a constant', 'Incr_fn_bollinger_bands_pct_b_12beae', closes([5, 5, 5]),
      [[5, 5, 5], 2], [N, N, N]],
    ['donchian_channel 2', 'Incr_fn_donchian_channel_b78288', rows([[0, 10, 8, 9], [0, 12, 9, 11], [0, 11, 7, 10]]),
      [[1, 2, 3], 2], [[N, N, N], [12, 8, 10], [12, 7, 9.5]]],
    ['supertrend 1, 1', 'Incr_fn_supertrend_a392d5', bars6, [bars6.close, 1, 1],
      [[0, 1], [14, 1], [11.5, 1], [10, 1], [7, -1], [12, -1]]],
    ['supertrend without an atr period', 'Incr_fn_supertrend_a392d5', bars6, [bars6.close, 1],
      [[0, 1], [N, 1], [N, 1], [N, 1], [N, 1], [N, 1]]],
    // first = high - tr: 8, 9; second = low + tr: 10, 13.
    ['chande_kroll_stop 1, 1, 2', 'Incr_fn_chande_kroll_stop_1f3d9c', two, [1, 1, 2], [[N, N], [9, 10]]],
    ['chande_kroll_stop 1, 2, 2', 'Incr_fn_chande_kroll_stop_1f3d9c', two, [1, 2, 2], [[N, N], [6, 12]]],
    ['choppiness_index 2', 'Incr_fn_choppiness_index_30ed5c', two, [2], [N, chop2]],
    // vm+ = |high - low[1]|: 4, 1; vm- = |low - high[1]|: 0, 3; true ranges 3, 2.
    ['vortex_indicator 2', 'Incr_fn_vortex_indicator_120086', rows([[9, 10, 8, 9], [10, 12, 10, 11],
      [10, 11, 9, 9.5]]), [2], [[N, N], [N, N], [1, 0.6]]],
    ['aroon 2', 'Incr_fn_aroon_39638b', rows([[0, 10, 8, 9], [0, 12, 10, 11], [0, 11, 9, 10], [0, 13, 11, 12]]),
      [2], [[N, N], [N, N], [50, 0], [100, 50]]],
  ];
  for (const [label, name, bars, args, expected] of cases) {
    await t.test(label, () => {
      assertNear(collect(name, bars, ...args), expected, 1e-12, label);
    });
  }
});

test('supertrend yields [0, 1] on its first step, direction as a whole number', () => {
  const out = collect('Incr_fn_supertrend_a392d5', walk, walk.close, 3, 10);
  assert.deepEqual(out[0], [0, 1]);
  assert.ok(out.every(([, dir]) => dir === 1 || dir === -1));
  assert.ok(out.slice(1, 9).every(([v]) => Number.isNaN(v)));
});

test('aroon: a new high gives 100, a high 14 bars back gives 0', () => {
  const high = Array.from({ length: 20 }, (_, i) => (i === 5 ? 50 : 10 + (i % 3)));
  const low = high.map((h) => h - 1);
  const out = collect('Incr_fn_aroon_39638b', { open: low, high, low, close: low, volume: low });
  assert.ok(out.slice(0, 14).every(([u, d]) => Number.isNaN(u) && Number.isNaN(d)));
  assert.equal(out[14][0], 100 * (14 - 9) / 14); // high of bar 5 seen from bar 14
  assert.equal(out[19][0], 0); // bar 5 is 14 bars back from bar 19
  const rising = collect('Incr_fn_aroon_39638b', closes(Array.from({ length: 16 }, (_, i) => i)));
  assert.deepEqual(rising.slice(14), [[100, 0], [100, 0]]);
});

test('choppiness_index over a zero range is not finite', () => {
  const out = collect('Incr_fn_choppiness_index_30ed5c', closes(new Array(20).fill(10)));
  assert.ok(out.slice(13).every((v) => !Number.isFinite(v)));
});

test('donchian_channel ignores src, the bands do not', () => {
  const a = walk.close;
  const b = walk.close.map((x) => x * 3 + 1);
  assert.deepEqual(collect('Incr_fn_donchian_channel_b78288', walk, a),
    collect('Incr_fn_donchian_channel_b78288', walk, b));
  assert.notDeepEqual(collect('Incr_fn_bollinger_bands_7ac6ce', walk, a),
    collect('Incr_fn_bollinger_bands_7ac6ce', walk, b));
});

test('volatility agrees with the textbook formulas on a daily walk', () => {
  const n = 20;
  const basis = smaRef(walk.close, n);
  const sd = stdevRef(walk.close, n);
  const bands = basis.map((m, i) => [m + 2 * sd[i], m - 2 * sd[i]]);
  assertNear(collect('Incr_fn_bollinger_bands_7ac6ce', walk, walk.close), bands, 1e-9, 'bollinger');
  assertNear(collect('Incr_fn_atr_d37266', walk), wilderRef(trRef(walk), 14), 1e-9, 'atr');
});

test('bollinger_bands of a coin around 0.00002 lie around the price', () => {
  const { lowPricedCloses } = require('./support/indicator-cases');
  const xs = lowPricedCloses();
  const out = collect('Incr_fn_bollinger_bands_7ac6ce', closes(xs), xs);
  assert.ok(out.slice(0, 19).every(([u, l]) => Number.isNaN(u) && Number.isNaN(l)));
  out.slice(19).forEach(([upper, lower], k) => {
    const price = xs[k + 19];
    assert.ok(lower < upper, `step ${k + 20}`);
    assert.ok(Math.abs(upper - price) < 1e-4 && Math.abs(lower - price) < 1e-4, `step ${k + 20}: [${upper}, ${lower}] around ${price}`);
  });
});

test('volatility: lengths below 1 give missing values', async (t) => {
  const src = walk.close;
  const cases = [
    ['Incr_fn_atr_d37266', (n) => [n]],
    ['Incr_fn_bollinger_bands_7ac6ce', (n) => [src, n]],
    ['Incr_fn_bollinger_bands_pct_b_12beae', (n) => [src, n]],
    ['Incr_fn_bollinger_bands_width_bec1ab', (n) => [src, n]],
    ['Incr_fn_donchian_channel_b78288', (n) => [src, n]],
    ['Incr_fn_chande_kroll_stop_1f3d9c', (n) => [n, 1, n]],
    ['Incr_fn_chande_kroll_stop_1f3d9c', (n) => [10, 1, n]],
    ['Incr_fn_choppiness_index_30ed5c', (n) => [n]],
    ['Incr_fn_vortex_indicator_120086', (n) => [n]],
    ['Incr_fn_aroon_39638b', (n) => [n]],
  ];
  for (const [name, args] of cases) {
    await t.test(name, () => {
      for (const n of [0, -3]) {
        const out = collect(name, walk, ...args(n)).flat();
        assert.ok(out.every(Number.isNaN), `${name} ${n}`);
      }
    });
  }
  // supertrend: the average is missing, the first step still compares against the zero bands.
  for (const n of [0, -3]) {
    const out = collect('Incr_fn_supertrend_a392d5', walk, src, 3, n);
    assert.ok(out.slice(1).every(([v, d]) => Number.isNaN(v) && d === 1));
  }
});

test('keltner_channels, sar and ichimoku by hand', async (t) => {
  const run = (name, cols, ...args) => bw.indicators[name].make(ctxOf(cols)).collect(...args);
  // [open, high, low, close]
  const three = rows([[9, 10, 8, 9], [10, 12, 9, 11], [11, 11, 7, 10]]);
  const four = rows([[9, 10, 8, 9], [10, 12, 9, 11], [11, 11, 7, 10], [10, 13, 10, 12]]);
  const sarBars = rows([[9, 10, 9, 9.5], [10, 11, 10, 10.8], [11, 12, 11, 11.9], [11, 11.5, 8, 8.5], [9, 10, 7.5, 8],
    [8, 9, 7, 7.2]]);
  const cases = [
    // ema(close, 2): -, 10, 10; rma(high - low, 2) over ranges 2, 3, 4: -, 2.5, 3.25.
    ['keltner_channels: ema basis, range bands', run('keltner_channels', three, three.close, 2, 1, true, false, 2),
      [[N, N, N], [10, 12.5, 7.5], [10, 13.25, 6.75]]],
    ['keltner_channels: sma basis', run('keltner_channels', three, three.close, 2, 1, false, false, 2),
      [[N, N, N], [10, 12.5, 7.5], [10.5, 13.75, 7.25]]],
    // The second bar closes higher: long, the stop at the first low. The third bar's new high
    // raises the acceleration; the fourth bar falls through the stop, which jumps to the extreme
    // high 12; then it falls towards the new lows, held above the two previous highs.
    ['sar 0.02, 0.02, 0.2', run('sar', sarBars, 0.02, 0.02, 0.2), [N, 9, 9, 12, 12, 11.82]],
    ['ichimoku 2, 3, 4', run('ichimoku', four, 2, 3, 4),
      [[N, N, N, N, 9], [10, N, N, N, 11], [9.5, 9.5, 9.5, N, 10], [10, 10, 10, 10, 12]]],
  ];
  for (const [label, got, want] of cases) await t.test(label, () => assertNear(got, want, 1e-12, label));
});
