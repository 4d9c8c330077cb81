'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const {
  bw, ctxOf, rows, closes, collect, dailyWalk, firstSteps, assertNear,
  smaRef, wilderRef, highestRef, lowestRef, windowOf, mean,
} = require('./support/indicator-cases');

const N = NaN;
const walk = dailyWalk(300);

test('oscillators: first value with default arguments', async (t) => {
  // [class, collect arguments, step of the first value per output]
  const cases = [
    ['Incr_fn_rsi_4196b9', [walk.close], [15]],
    // rsi from step 15, stoch once two different rsi values are in the window, then sma 3 twice.
    ['Incr_fn_stochastic_rsi_84a7e0', [walk.close], [18, 20]],
    // the percent rank waits for bar index 100.
    ['Incr_fn_connors_rsi_ecfb42', [walk.close], [101]],
    // stdev has no value before step 14, so both averages seed over steps 14 to 27.
    ['Incr_fn_relative_volatility_index_3b8406', [walk.close], [27]],
    ['Incr_fn_cci_d95ce4', [walk.close], [14]],
    ['Incr_fn_williams_pct_r_01cd99', [walk.close], [14]],
    // the first bar has no previous close: the 28-bar sums need 29 bars.
    ['Incr_fn_ultimate_oscillator_e466b9', [], [29]],
    // swma needs 4 bars, then the 14-bar sums.
    ['Incr_fn_relative_vigor_index_419773', [], [17]],
    ['Incr_fn_balance_of_power_b52747', [], [1]],
  ];
  await firstSteps(t, walk, cases);
});

test('relative_volatility_index: missing while stdev is, seeded after', async (t) => {
  const rvi = (xs, n) => collect('Incr_fn_relative_volatility_index_3b8406', closes(xs), xs, n);
  const flat = Array(12).fill(5);
  const rising = Array.from({ length: 12 }, (_, i) => i + 1);
  const cases = [
    // stdev 0 from step 3: both averages 0 from step 5, and 0 / 0 is missing.
    ['a flat series', rvi(flat, 3), Array(12).fill(N)],
    // stdev sqrt(2/3) from step 3, all of it on rising steps: up > 0, dn = 0 from step 5.
    ['a rising series', rvi(rising, 3), [N, N, N, N, ...Array(8).fill(100)]],
    // stdev 2: missing, 1, 0.5, 1, 0; upIn missing, 1, 0, 1, 0; dnIn missing, 0, 0.5, 0, 0.
    // up = 0.5, 5/6, 5/18 and dn = 0.25, 1/12, 1/36 from step 3.
    ['up, down, up, flat', rvi([1, 3, 2, 4, 4], 2), [N, N, 200 / 3, 1000 / 11, 1000 / 11]],
  ];
  for (const [label, got, want] of cases) await t.test(label, () => assertNear(got, want, 1e-12, label));
});

test('oscillators: hand-computed values', async (t) => {
  const up = 100 - 100 / 1.5; // rsi 2 over 1, 2, 3, 1
  // [label, class, bars, collect arguments, expected results]
  const cases = [
    ['rsi 2 over 1, 2, 3', 'Incr_fn_rsi_4196b9', closes([1, 2, 3]), [[1, 2, 3], 2], [N, N, 100]],
    ['rsi 2 over 1, 2, 3, 1', 'Incr_fn_rsi_4196b9', closes([1, 2, 3, 1]), [[1, 2, 3, 1], 2], [N, N, 100, up]],
    // rsi: N, N, 100, 33.3, 60, 77.8; the 3-step scans count from the first step, so stoch is
    // defined on step 4 already (window 33.3, 100, missing).
    ['stochastic_rsi 3, 2, 2, 2', 'Incr_fn_stochastic_rsi_84a7e0', closes([1, 2, 3, 1, 2, 3]),
      [[1, 2, 3, 1, 2, 3], 3, 2, 2, 2], [[N, N], [N, N], [N, N], [N, N], [20, N], [70, 45]]],
    // streak -1, 1, 2, 0, 0 and roc1 N, 20, 16.7, 0, 0: the last roc1 ties with the one before.
    ['connors_rsi 2, 2, 2 with a tie', 'Incr_fn_connors_rsi_ecfb42', closes([5, 6, 7, 7, 7]),
      [[5, 6, 7, 7, 7], 2, 2, 2],
      [N, N, (100 + 100 + 0) / 3, (100 + (100 - 100 / 1.75) + 0) / 3, (100 + (100 - 100 / 1.75) + 50) / 3]],
    // streak -1, 1, 2, 0, -1, 1: the falling bar after a flat one restarts at -1.
    ['connors_rsi 2, 2, 2 falling then rising', 'Incr_fn_connors_rsi_ecfb42', closes([5, 6, 7, 7, 6, 8]),
      [[5, 6, 7, 7, 6, 8], 2, 2, 2],
      [N, N, 200 / 3, (100 + (100 - 100 / 1.75) + 0) / 3, (100 - 100 / 1.5 + (100 - 100 / 1.375) + 0) / 3,
        (100 - 100 / 5.5 + (100 - 100 / 3.375) + 100) / 3]],
    // stdev 2: missing, 0.5, 1; up = ema(missing, 0.5, 1), dn = ema(missing, 0, 0).
    ['relative_volatility_index 2', 'Incr_fn_relative_volatility_index_3b8406', closes([1, 2, 4]),
      [[1, 2, 4], 2], [N, N, 100]],
    ['cci 3', 'Incr_fn_cci_d95ce4', closes([1, 2, 3]), [[1, 2, 3], 3], [N, N, 100]],
    ['cci of a constant', 'Incr_fn_cci_d95ce4', closes([4, 4, 4]), [[4, 4, 4], 3], [N, N, N]],
    // window high 12, low 7: -40 inside, 0 at the high, -100 at the low.
    ['williams_pct_r 3', 'Incr_fn_williams_pct_r_01cd99', rows([[9, 10, 8, 9], [11, 12, 9, 11], [10, 11, 7, 10]]),
      [[9, 11, 10], 3], [N, N, -40]],
    ['williams_pct_r at the extremes', 'Incr_fn_williams_pct_r_01cd99',
      rows([[9, 10, 8, 9], [11, 12, 9, 11], [10, 11, 7, 10], [10, 11, 7, 10]]), [[9, 11, 12, 7], 3], [N, N, 0, -100]],
    // bp 1, 1.5, 0.5 and tr 2, 2, 2.5 after the first bar.
    ['ultimate_oscillator 1, 2, 3', 'Incr_fn_ultimate_oscillator_e466b9',
      rows([[9, 10, 8, 9], [10, 11, 9, 10], [11, 12, 10, 11.5], [10, 11, 9, 9.5]]), [1, 2, 3],
      [N, N, N, (100 * ((4 * 0.2 + 2 * (2 / 4.5)) + 3 / 6.5)) / 7]],
    // co 1, 1, 2, -1 and hl 3, 3, 4, 4.
    ['relative_vigor_index 1', 'Incr_fn_relative_vigor_index_419773',
      rows([[1, 3, 0, 2], [2, 4, 1, 3], [3, 6, 2, 5], [5, 7, 3, 4]]), [1], [N, N, N, 1 / 3.5]],
    ['balance_of_power', 'Incr_fn_balance_of_power_b52747', rows([[1, 3, 1, 3], [2, 4, 0, 1]]), [], [1, -0.25]],
  ];
  for (const [label, name, bars, args, expected] of cases) {
    await t.test(label, () => {
      assertNear(collect(name, bars, ...args), expected, 1e-12, label);
    });
  }
});

test('rsi: rising gives 100, falling 0, constant a missing value', async (t) => {
  const n = 30;
  const rising = Array.from({ length: n }, (_, i) => 10 + i);
  const falling = rising.map((x) => 100 - x);
  const flat = rising.map(() => 7);
  for (const [src, value] of [[rising, 100], [falling, 0], [flat, NaN]]) {
    await t.test(`rsi of ${value}`, () => {
      const out = collect('Incr_fn_rsi_4196b9', closes(src), src);
      assert.ok(out.slice(0, 14).every(Number.isNaN));
      assert.deepEqual(out.slice(14), new Array(n - 14).fill(value));
    });
  }
});

test('stochastic_rsi returns both outputs of one step from next', () => {
  const ctx = ctxOf(closes([1, 2, 3, 1, 2, 3]));
  const stoch = bw.Incr_fn_stochastic_rsi_84a7e0.make(ctx);
  ctx.next();
  assert.deepEqual(stoch.next(1, 3, 2, 2, 2), [NaN, NaN]);
  const rest = [2, 3, 1, 2, 3].map((x) => (ctx.next(), stoch.next(x, 3, 2, 2, 2)));
  assertNear(rest.slice(3), [[20, N], [70, 45]], 1e-12, 'stochastic_rsi by next');
});

test('oscillators agree with the textbook formulas on a daily walk', () => {
  const { close, high, low } = walk;
  const n = 14;
  const chg = close.map((c, i) => (i === 0 ? NaN : c - close[i - 1]));
  const gain = wilderRef(chg.map((d) => Math.max(d, 0)), n);
  const loss = wilderRef(chg.map((d) => Math.max(-d, 0)), n);
  const rsi = gain.map((g, i) => 100 - 100 / (1 + g / loss[i]));
  const ma = smaRef(close, n);
  const cci = close.map((c, i) => {
    if (i < n - 1) return NaN;
    const md = mean(windowOf(close, i, n).map((v) => Math.abs(v - ma[i])));
    return (c - ma[i]) / (0.015 * md);
  });
  const hh = highestRef(high, n);
  const ll = lowestRef(low, n);
  const wpr = close.map((c, i) => (-100 * (hh[i] - c)) / (hh[i] - ll[i]));
  for (const [name, expected] of [
    ['Incr_fn_rsi_4196b9', rsi], ['Incr_fn_cci_d95ce4', cci], ['Incr_fn_williams_pct_r_01cd99', wpr]]) {
    assertNear(collect(name, walk, close), expected, 1e-9, name);
  }
});

test('oscillators: lengths below 1 give missing values', async (t) => {
  const src = walk.close.slice(0, 30);
  const cases = [
    ['Incr_fn_rsi_4196b9', (n) => [src, n]],
    ['Incr_fn_stochastic_rsi_84a7e0', (n) => [src, n, n, n, n]],
    ['Incr_fn_stochastic_rsi_84a7e0', (n) => [src, 3, n]],
    ['Incr_fn_connors_rsi_ecfb42', (n) => [src, n, n, n]],
    ['Incr_fn_connors_rsi_ecfb42', (n) => [src, 3, 2, n]],
    ['Incr_fn_relative_volatility_index_3b8406', (n) => [src, n]],
    ['Incr_fn_cci_d95ce4', (n) => [src, n]],
    ['Incr_fn_williams_pct_r_01cd99', (n) => [src, n]],
    ['Incr_fn_ultimate_oscillator_e466b9', (n) => [n, n, n]],
    ['Incr_fn_ultimate_oscillator_e466b9', (n) => [7, 14, n]],
    ['Incr_fn_relative_vigor_index_419773', (n) => [n]],
  ];
  for (const [name, args] of cases) {
    await t.test(name, () => {
      for (const n of [0, -3]) {
        const out = collect(name, walk, ...args(n)).flat();
        assert.ok(out.every(Number.isNaN), `${name} ${JSON.stringify(args(n).slice(1))}`);
      }
    });
  }
});

test('stoch, stoch_source, cmo, percentrank and dmi by hand', async (t) => {
  const run = (name, cols, ...args) => bw.indicators[name].make(ctxOf(cols)).collect(...args);
  // [open, high, low, close]: highs 10, 12, 11, 11 and lows 8, 9, 7, 9.
  const bars = rows([[9, 10, 8, 9], [10, 12, 9, 11], [11, 11, 7, 10], [10, 11, 9, 11]]);
  const cases = [
    // 3-bar range 7 .. 12: the closes 10 and 11 sit at 60 % and 80 %; %D over 2 is 70.
    ['stoch 3, 1, 2', run('stoch', bars, 3, 1, 2), [[N, N], [N, N], [60, N], [80, 70]]],
    ['stoch of bars without range', run('stoch', closes([5, 5, 5]), 2, 1, 1), [[N, N], [N, N], [N, N]]],
    // src 1, 3, 2, 5 within its own 3-step range: 50 %, then 100 %.
    ['stoch_source 3, 1, 2', run('stoch_source', closes([1, 3, 2, 5]), [1, 3, 2, 5], 3, 1, 2),
      [[N, N], [N, N], [50, N], [100, 75]]],
    // changes -, 1, 2, -1: rises 0, 1, 2, 0 and falls -, 0, 0, 1 (a missing change counts in the
    // rises as 0 and in the falls as missing), so the first value comes on step 3.
    ['cmo 2', run('cmo', closes([1, 2, 4, 3]), [1, 2, 4, 3], 2), [N, N, 100, 100 / 3]],
    ['cmo of a flat series', run('cmo', closes([2, 2, 2]), [2, 2, 2], 2), [N, N, N]],
    // previous two values at most the current one: 1 of [3, 1], both of [1, 2], both of [2, 2].
    ['percentrank 2', run('percentrank', closes([3, 1, 2, 2, 5]), [3, 1, 2, 2, 5], 2), [N, N, 50, 100, 100]],
    ['percentrank skips a missing previous value', run('percentrank', closes([1, N, 2]), [1, N, 2], 2), [N, N, 50]],
    ['percentrank of a missing value', run('percentrank', closes([1, 2, N]), [1, 2, N], 2), [N, N, N]],
    // highs 10, 12, 11 and lows 8, 9, 7: +DM 2 then 0, -DM 0 then 2, true ranges 3 and 4.
    ['dmi 1, 1', run('dmi', rows([[9, 10, 8, 9], [10, 12, 9, 11], [11, 11, 7, 8]]), 1, 1),
      [[N, N, N], [200 / 3, 0, 100], [0, 50, 100]]],
  ];
  for (const [label, got, want] of cases) await t.test(label, () => assertNear(got, want, 1e-12, label));
});
