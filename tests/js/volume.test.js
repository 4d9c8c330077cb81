'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const { rows, closes, collect, dailyWalk, firstDefined, assertNear } = require('./support/indicator-cases');

const N = NaN;
const walk = dailyWalk(300);

test('volume indicators: first value with default arguments', async (t) => {
  const cases = [
    ['Incr_fn_accdist_8c0ce2', [], 1],
    ['Incr_fn_chaikin_money_flow_040712', [], 20],
    ['Incr_fn_money_flow_index_7401be', [walk.close], 14],
    // the first bar has no previous midpoint
    ['Incr_fn_ease_of_movement_6ab669', [], 15],
    ['Incr_fn_elder_force_index_782d84', [], 14],
    ['Incr_fn_volume_oscillator_91e2a8', [], 10],
    ['Incr_fn_advance_decline_ratio_c534f8', [], 9],
  ];
  for (const [name, args, step] of cases) {
    await t.test(name, () => {
      const out = collect(name, walk, ...args);
      assert.equal(out.length, walk.close.length, name);
      assert.equal(firstDefined(out) + 1, step, name);
    });
  }
});

test('volume indicators: hand-computed values', async (t) => {
  // [open, high, low, close, volume]
  const mixed = rows([[9, 10, 8, 10, 100], [9, 10, 8, 8, 50], [9, 9, 9, 9, 70], [7, 10, 6, 9, 40]]);
  const updown = rows([[1, 2, 1, 2], [2, 2, 1, 1], [1, 1, 1, 1], [1, 2, 1, 2], [1, 2, 1, 2], [1, 2, 1, NaN]]);
  const cases = [
    // close at the high adds the volume, at the low subtracts it, a bar without range adds nothing
    ['accdist', 'Incr_fn_accdist_8c0ce2', mixed, [], [100, 50, 50, 70]],
    ['chaikin_money_flow 2', 'Incr_fn_chaikin_money_flow_040712', rows([[9, 10, 8, 10, 100], [7, 10, 6, 9, 40]]), [2],
      [N, 120 / 140]],
    // the first bar counts in both sums
    ['money_flow_index 2', 'Incr_fn_money_flow_index_7401be', closes([10, 11, 12]), [[10, 11, 12], 2],
      [N, 100 - 100 / (1 + 21 / 10), 100]],
    ['ease_of_movement 1', 'Incr_fn_ease_of_movement_6ab669', rows([[9, 10, 8, 9, 100], [11, 12, 10, 11, 100]]), [1],
      [N, 400]],
    ['ease_of_movement 1, divisor 1', 'Incr_fn_ease_of_movement_6ab669',
      rows([[9, 10, 8, 9, 100], [11, 12, 10, 11, 100]]), [1, 1], [N, 0.04]],
    ['elder_force_index 2', 'Incr_fn_elder_force_index_782d84',
      rows([[10, 10, 10, 10, 100], [11, 11, 11, 11, 200], [13, 13, 13, 13, 300]]), [2], [N, N, 400]],
    ['volume_oscillator 2, 3', 'Incr_fn_volume_oscillator_91e2a8',
      rows([[1, 1, 1, 1, 1], [1, 1, 1, 1, 2], [1, 1, 1, 1, 3], [1, 1, 1, 1, 4]]), [2, 3], [N, N, 25, (0.5 / 3) * 100]],
    // up, down, flat (counts as up), up, up, no close (counts as neither)
    ['advance_decline_ratio 3', 'Incr_fn_advance_decline_ratio_c534f8', updown, [3], [N, N, 2, 2, 3, 2]],
  ];
  for (const [label, name, bars, args, expected] of cases) {
    await t.test(label, () => {
      assertNear(collect(name, bars, ...args), expected, 1e-12, label);
    });
  }
});

test('volume indicators: limiting cases', () => {
  const n = 30;
  const rising = Array.from({ length: n }, (_, i) => 10 + i);
  // the down sum holds the first bar until it leaves the window
  const mfi = collect('Incr_fn_money_flow_index_7401be', closes(rising), rising);
  assert.ok(mfi[13] > 0 && mfi[13] < 100);
  assert.deepEqual(mfi.slice(14), new Array(n - 14).fill(100));
  // every bar closes at its high
  const atHigh = rows(rising.map((x) => [x, x + 1, x - 1, x + 1, 5 + x]));
  assert.deepEqual(collect('Incr_fn_chaikin_money_flow_040712', atHigh).slice(19), new Array(n - 19).fill(1));
  // a constant volume
  const vo = collect('Incr_fn_volume_oscillator_91e2a8', closes(rising, 7));
  assert.ok(vo.slice(9).every((v) => Math.abs(v) < 1e-9));
  // nine up bars and no down bar: the count, not a ratio
  const adr = collect('Incr_fn_advance_decline_ratio_c534f8', atHigh);
  assert.ok(adr.slice(0, 8).every(Number.isNaN));
  assert.deepEqual(adr.slice(8, 12), [9, 9, 9, 9]);
});

test('volume indicators agree with the textbook formulas on a daily walk', () => {
  const { high, low, close, volume } = walk;
  const n = 14;
  const tp = close.map((c, i) => (high[i] + low[i] + c) / 3);
  const mfi = tp.map((_, i) => {
    if (i < n) return NaN;
    let pos = 0;
    let neg = 0;
    for (let j = i - n + 1; j <= i; j++) {
      if (tp[j] > tp[j - 1]) pos += tp[j] * volume[j];
      if (tp[j] < tp[j - 1]) neg += tp[j] * volume[j];
    }
    return 100 - 100 / (1 + pos / neg);
  });
  const got = collect('Incr_fn_money_flow_index_7401be', walk, tp, n);
  assertNear(got.slice(n), mfi.slice(n), 1e-9, 'mfi');

  let total = 0;
  const clv = close.map((c, i) => ((c - low[i]) - (high[i] - c)) / (high[i] - low[i]));
  const ad = clv.map((x, i) => (total += x * volume[i]));
  assertNear(collect('Incr_fn_accdist_8c0ce2', walk), ad, 1e-9, 'accdist');
  const m = 20;
  const cmf = clv.map((_, i) => {
    if (i < m - 1) return NaN;
    let flow = 0;
    let vol = 0;
    for (let j = i - m + 1; j <= i; j++) {
      flow += clv[j] * volume[j];
      vol += volume[j];
    }
    return flow / vol;
  });
  assertNear(collect('Incr_fn_chaikin_money_flow_040712', walk), cmf, 1e-9, 'cmf');
});

test('volume indicators: lengths below 1 give missing values', async (t) => {
  const cases = [
    ['Incr_fn_chaikin_money_flow_040712', (n) => [n]],
    ['Incr_fn_money_flow_index_7401be', (n) => [walk.close, n]],
    ['Incr_fn_ease_of_movement_6ab669', (n) => [n]],
    ['Incr_fn_elder_force_index_782d84', (n) => [n]],
    ['Incr_fn_volume_oscillator_91e2a8', (n) => [n, n]],
    ['Incr_fn_volume_oscillator_91e2a8', (n) => [5, n]],
    ['Incr_fn_advance_decline_ratio_c534f8', (n) => [n]],
  ];
  for (const [name, args] of cases) {
    await t.test(name, () => {
      for (const n of [0, -3]) {
        assert.ok(collect(name, walk, ...args(n)).every(Number.isNaN), `${name} ${n}`);
      }
    });
  }
});

test('obv and vwap by hand', async (t) => {
  const { bw, ctxOf } = require('./support/indicator-cases');
  const run = (name, cols, ...args) => bw.indicators[name].make(ctxOf(cols)).collect(...args);
  // Hourly bars across midnight: 22:00 and 23:00 on one day, 00:00 and 01:00 on the next.
  const hourly = (src, vol, times = true) => {
    const t = [22, 23, 24, 25].map((h) => new Date(Date.UTC(2024, 0, 1, h)));
    const bars = bw.zipOhlcvBars(times ? t : undefined, undefined, src, src, src, src, vol);
    return (...args) => bw.indicators.vwap.make(new bw.NodeCtx(bw.NodeOhlcv.fromBars(bars))).collect(src, ...args);
  };
  const sd = Math.sqrt((100 * 1 + 400 * 3) / 4 - 17.5 ** 2);
  const cases = [
    ['obv', run('obv', { ...closes([10, 11, 11, 9]), volume: [100, 200, 300, 400] }), [N, 200, 200, -200]],
    ['obv restarts after a missing close', run('obv', { ...closes([10, N, 12, 13]), volume: [1, 2, 3, 400] }),
      [N, N, N, 400]],
    // day one: 10 x 1, 20 x 3; day two: 30 x 2, 40 x 2.
    ['vwap anchored to days, bands 2 deviations away', hourly([10, 20, 30, 40], [1, 3, 2, 2])(bw.NodeTimeframe.Days(1), 2),
      [[10, 10, 10], [17.5, 17.5 + 2 * sd, 17.5 - 2 * sd], [30, 30, 30], [35, 45, 25]]],
    ['vwap anchored to hours', hourly([10, 20, 30, 40], [1, 3, 2, 2])(bw.NodeTimeframe.Hours(1)).map((r) => r[0]),
      [10, 20, 30, 40]],
    ['vwap: a missing volume until the next period', hourly([10, 20, 30, 40], [1, N, 2, 2])().map((r) => r[0]),
      [10, N, 30, 35]],
    ['vwap: bars without open times make one period', hourly([10, 20, 30, 40], [1, 3, 2, 2], false)().map((r) => r[0]),
      [10, 17.5, 130 / 6, 210 / 8]],
  ];
  for (const [label, got, want] of cases) await t.test(label, () => assertNear(got, want, 1e-12, label));
});
