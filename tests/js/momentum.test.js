'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const { bw, rows, closes, collect, dailyWalk, firstSteps, assertNear, emaRef } =
  require('./support/indicator-cases');

const N = NaN;
const walk = dailyWalk(300);

test('momentum indicators: first value with default arguments', async (t) => {
  const src = walk.close;
  // [class, collect arguments, step of the first value per output]
  const cases = [
    ['Incr_fn_momentum_d7f735', [src], [11]],
    ['Incr_fn_roc_ba0b0c', [src], [15]],
    ['Incr_fn_macd_4e1ee0', [src], [26]],
    ['Incr_fn_price_oscillator_740861', [src], [26]],
    ['Incr_fn_absolute_price_oscillator_ef9439', [src], [26]],
    ['Incr_fn_awesome_oscillator_7b4eb9', [src], [35]],
    // three chained 18-step averages, then one difference
    ['Incr_fn_trix_bc56c3', [src], [53]],
    ['Incr_fn_true_strength_index_a9d511', [src], [38]],
    ['Incr_fn_know_sure_thing_7bcbff', [src], [45, 53]],
    ['Incr_fn_coppock_curve_b2c42b', [src], [24]],
    ['Incr_fn_detrended_price_oscillator_36f9a0', [], [32]],
    ['Incr_fn_detrended_price_oscillator_36f9a0', [undefined, true], [21]],
    ['Incr_fn_bull_bear_power_23f533', [], [13]],
  ];
  await firstSteps(t, walk, cases);
});

test('momentum indicators: hand-computed values', async (t) => {
  const x = [1, 2, 4, 8];
  // ema 2: N, 1.5, 19/6, 115/18; ema 3: N, N, 7/3, 31/6.
  const macd = [N, N, 5 / 6, 11 / 9];
  const cases = [
    ['momentum 2', 'Incr_fn_momentum_d7f735', closes([1, 2, 4]), [[1, 2, 4], 2], [N, N, 3]],
    ['roc 2', 'Incr_fn_roc_ba0b0c', closes([2, 3, 4]), [[2, 3, 4], 2], [N, N, 100]],
    ['roc against zero', 'Incr_fn_roc_ba0b0c', closes([0, 1]), [[0, 1], 1], [N, Infinity]],
    ['macd 2, 3', 'Incr_fn_macd_4e1ee0', closes(x), [x, 2, 3], macd],
    ['price_oscillator 2, 3', 'Incr_fn_price_oscillator_740861', closes(x), [x, 2, 3],
      [N, N, (5 / 6 / (7 / 3)) * 100, (11 / 9 / (31 / 6)) * 100]],
    ['absolute_price_oscillator 2, 3', 'Incr_fn_absolute_price_oscillator_ef9439', closes(x), [x, 2, 3], macd],
    ['absolute_price_oscillator 3, 2', 'Incr_fn_absolute_price_oscillator_ef9439', closes(x), [x, 3, 2], macd],
    // ao = sma 3 - sma 2: N, N, -2/3, -4/3
    ['awesome_oscillator 2, 3', 'Incr_fn_awesome_oscillator_7b4eb9', closes(x), [x, 2, 3], [N, N, N, -2 / 3]],
    ['trix 1', 'Incr_fn_trix_bc56c3', closes([1, 2]), [[5, 5], 1], [N, 10000 * Math.LN2]],
    // pc 1, 2, -1: ema 2 of pc 1.5, -1/6 and of |pc| 1.5, 7/6
    ['true_strength_index 2, 1', 'Incr_fn_true_strength_index_a9d511', closes([1, 2, 4, 3]), [[1, 2, 4, 3], 2, 1],
      [N, N, 100, -100 / 7]],
    ['know_sure_thing 1s, signal 2', 'Incr_fn_know_sure_thing_7bcbff', closes([1, 2, 3]),
      [[1, 2, 3], 1, 1, 1, 1, 1, 1, 1, 1, 2], [[N, N], [1000, N], [500, 750]]],
    ['coppock_curve 2, 1, 1', 'Incr_fn_coppock_curve_b2c42b', closes([1, 2, 3]), [[1, 2, 3], 2, 1, 1],
      [N, N, (4 * 100 + 2 * 200) / 6]],
    // ma = sma 2: N, 1.5, 3, 6, 12; back = 2
    ['detrended_price_oscillator 2', 'Incr_fn_detrended_price_oscillator_36f9a0', closes([1, 2, 4, 8, 16]), [2],
      [N, N, N, 6.5, 13]],
    ['detrended_price_oscillator 2 centered', 'Incr_fn_detrended_price_oscillator_36f9a0',
      closes([1, 2, 4, 8, 16]), [2, true], [N, N, -2, -4, -8]],
    ['bull_bear_power 2', 'Incr_fn_bull_bear_power_23f533', rows([[9, 10, 8, 9], [10, 12, 10, 11], [11, 11, 9, 9.5]]),
      [2], [N, 2, 2]],
  ];
  for (const [label, name, bars, args, expected] of cases) {
    await t.test(label, () => {
      assertNear(collect(name, bars, ...args), expected, 1e-12, label);
    });
  }
});

test('momentum indicators: limiting cases', () => {
  const line = Array.from({ length: 60 }, (_, i) => 100 + 2 * i);
  const ao = collect('Incr_fn_awesome_oscillator_7b4eb9', closes(line), line);
  assert.ok(ao.slice(34).every((v) => Math.abs(v) < 1e-9));
  // trix reads the bar closes, not src
  assert.deepEqual(collect('Incr_fn_trix_bc56c3', walk, walk.close), collect('Incr_fn_trix_bc56c3', walk, walk.open));
  assert.notDeepEqual(collect('Incr_fn_macd_4e1ee0', walk, walk.close), collect('Incr_fn_macd_4e1ee0', walk, walk.open));
  // bull_bear_power: the bar's range once the average is defined
  const bbp = collect('Incr_fn_bull_bear_power_23f533', walk);
  assertNear(bbp.slice(12), walk.high.slice(12).map((h, i) => h - walk.low[i + 12]), 1e-9, 'bull_bear_power');
});

test('momentum agrees with the textbook formulas on a daily walk', () => {
  const c = walk.close;
  const fast = emaRef(c, 12);
  const slow = emaRef(c, 26);
  assertNear(collect('Incr_fn_macd_4e1ee0', walk, c), fast.map((f, i) => f - slow[i]), 1e-9, 'macd');
  const roc = c.map((v, i) => (i < 14 ? NaN : ((v - c[i - 14]) / c[i - 14]) * 100));
  assertNear(collect('Incr_fn_roc_ba0b0c', walk, c), roc, 1e-9, 'roc');
});

test('momentum indicators: lengths below 1 give missing values', async (t) => {
  const src = walk.close;
  const cases = [
    ['Incr_fn_momentum_d7f735', (n) => [src, n]],
    ['Incr_fn_roc_ba0b0c', (n) => [src, n]],
    ['Incr_fn_macd_4e1ee0', (n) => [src, 12, n]],
    ['Incr_fn_price_oscillator_740861', (n) => [src, n, 26]],
    ['Incr_fn_absolute_price_oscillator_ef9439', (n) => [src, n, 26]],
    ['Incr_fn_awesome_oscillator_7b4eb9', (n) => [src, n, 34]],
    ['Incr_fn_trix_bc56c3', (n) => [src, n]],
    ['Incr_fn_true_strength_index_a9d511', (n) => [src, 25, n]],
    ['Incr_fn_know_sure_thing_7bcbff', (n) => [src, 10, 15, 20, 30, 10, 10, 10, 15, n]],
    ['Incr_fn_coppock_curve_b2c42b', (n) => [src, 10, n]],
    ['Incr_fn_detrended_price_oscillator_36f9a0', (n) => [n]],
    ['Incr_fn_detrended_price_oscillator_36f9a0', (n) => [n, true]],
    ['Incr_fn_bull_bear_power_23f533', (n) => [n]],
  ];
  for (const [name, args] of cases) {
    await t.test(name, () => {
      for (const n of [0, -3]) {
        assert.ok(collect(name, walk, ...args(n)).flat().every(Number.isNaN), `${name} ${n}`);
      }
    });
  }
});

test('macd_full by hand', async (t) => {
  const macdFull = bw.indicators.macd_full.name;
  const run = (...args) => collect(macdFull, closes([1, 2, 3, 4]), [1, 2, 3, 4], ...args);
  // ema 1 is the input; ema 2 of 1, 2, 3, 4 is -, 1.5, 2.5, 3.5; the line 0.5 from step 2, its
  // ema 2 from step 3.
  await t.test('1, 2, 2', () => assertNear(run(1, 2, 2), [[N, N, N], [0.5, N, N], [0.5, 0.5, 0], [0.5, 0.5, 0]], 1e-12, 'macd_full'));
  await t.test('the line is the specified macd', () => {
    const walk = dailyWalk(120);
    const full = collect(macdFull, walk, walk.close);
    assert.deepEqual(full.map((r) => r[0]), collect('Incr_fn_macd_4e1ee0', walk, walk.close));
  });
});
