'use strict';
// The class protocol of the compiled indicators (make, next, collect on a shared bar context)
// and the warm-up, seeding and missing-value rules of the averages, crosses and extremes.
const test = require('node:test');
const assert = require('node:assert/strict');
const b = require('../..');

const { NodeCtx, NodeOhlcv, NodeOhlcvBar } = b;
const Sma = b.Incr_fn_sma_059403;
const Cum = b.Incr_fn_cum_c1d3ea;
const Change = b.Incr_fn_change_1e4fad;
const Main = b.Incr_fn_main_11e0b6;

function ctxOf(closes, volumes) {
  const bars = closes.map((c, i) => new NodeOhlcvBar(new Date(i * 60000), null, c, c + 1, c - 1, c,
    volumes ? volumes[i] : 1));
  return new NodeCtx(NodeOhlcv.fromBars(bars));
}
const range = (n, from = 1) => Array.from({ length: n }, (_, i) => i + from);

// Runs `next` once per bar, advancing the context first.
function stepped(Cls, columns, ...params) {
  const n = columns[0].length;
  const ctx = ctxOf(range(n));
  const inst = Cls.make(ctx);
  const out = [];
  for (let i = 0; i < n; i++) {
    ctx.next();
    out.push(inst.next(...columns.map((c) => c[i]), ...params));
  }
  return out;
}

const close = (got, want, msg) => {
  assert.equal(got.length, want.length, msg);
  got.forEach((g, i) => {
    if (Number.isNaN(want[i])) assert.ok(Number.isNaN(g), `${msg} step ${i + 1}: ${g}`);
    else assert.ok(Math.abs(g - want[i]) < 1e-12, `${msg} step ${i + 1}: got ${g}, want ${want[i]}`);
  });
};

test('make binds to the context; no constructor; receivers and arguments are checked', () => {
  assert.throws(() => new Sma(), { message: 'Class contains no `constructor`, can not new it!' });
  assert.throws(() => Sma.make({}), { message: 'Failed to recover `NodeCtx` type from napi value' });
  assert.throws(() => Sma.make(b.Incr_fn_ema_7bc747.make(new NodeCtx())),
    { message: 'Failed to recover `NodeCtx` type from napi value' });
  const ema = b.Incr_fn_ema_7bc747.make(ctxOf([1, 2]));
  assert.throws(() => Sma.prototype.next.call(ema, 1),
    { message: 'Failed to unwrap exclusive reference of `Incr_fn_sma_059403` type from napi value' });
  const ctx = ctxOf([1, 2, 3]);
  Sma.make(ctx);
  assert.equal(ctx.barIndex, 0);
  assert.equal(ctx.isInitialized, false);
});

test('conversion errors change nothing', () => {
  const ctx = ctxOf(range(4));
  const inst = Change.make(ctx);
  ctx.next();
  assert.equal(Number.isNaN(inst.next(1)), true);
  for (const bad of [['x'], [undefined], [true]]) {
    assert.throws(() => inst.next(...bad), { code: 'NumberExpected' });
  }
  assert.throws(() => Sma.make(ctx).next(1, 'x'), { code: 'NumberExpected' });
  assert.throws(() => inst.collect([1, 'x', 3]), { code: 'NumberExpected' });
  assert.throws(() => inst.collect(5), { message: 'Given napi value is not an array', code: 'InvalidArg' });
  assert.equal(ctx.barIndex, 0, 'a failed collect does not advance');
  assert.equal(inst.next(4), 3, 'the failed calls left no history behind');
  const bs = b.Incr_fn_barssince_a2ae8d.make(ctx);
  assert.throws(() => bs.next(1), { code: 'BooleanExpected' });
  assert.throws(() => bs.collect([true, 0]), { code: 'BooleanExpected' });
});

test('next on a context without a bar fails like ctx.bar', () => {
  const ctx = new NodeCtx();
  let barError;
  try { ctx.bar; } catch (e) { barError = e; }
  assert.ok(barError);
  for (const inst of [Sma.make(ctx), Main.make(ctx)]) {
    assert.throws(() => inst.next(1), { message: barError.message, code: barError.code });
  }
  assert.deepEqual(Sma.make(ctx).collect([1, 2]), []);
});

test('collect walks the remaining bars, element i on bar i', () => {
  const closes = range(20);
  const ctx = ctxOf(closes);
  const out = Sma.make(ctx).collect(closes, 5);
  assert.equal(out.length, 20);
  assert.ok(out.slice(0, 4).every(Number.isNaN));
  assert.equal(out[4], 3);
  assert.equal(ctx.barIndex, 19);
  assert.deepEqual(Sma.make(ctx).collect(closes, 5), [], 'a second instance on the walked context');
  ctx.reset();
  assert.equal(Sma.make(ctx).collect(closes, 5).length, 20);

  // Shorter arrays read NaN beyond their end; longer arrays' extra elements are never read.
  const c2 = ctxOf(range(5));
  assert.deepEqual(Cum.make(c2).collect([1, 2]), [1, 3, NaN, NaN, NaN]);
  assert.deepEqual(Cum.make(ctxOf(range(3))).collect([1, 2, 3, 4, 5]), [1, 3, 6]);

  // A context already at bar 5 processes bars 6 on, reading the arrays from index 6.
  const c3 = ctxOf(range(10));
  for (let i = 0; i < 6; i++) c3.next();
  assert.equal(c3.barIndex, 5);
  assert.deepEqual(Cum.make(c3).collect(range(10, 0)), [6, 13, 21, 30]);
});

test('instances share the context cursor but nothing else; copies walk alone', () => {
  const ctx = ctxOf(range(6));
  const a = Cum.make(ctx);
  const c = Cum.make(ctx.copy());
  const r = Cum.make(ctx.ref());
  assert.deepEqual(a.collect(range(6)), [1, 3, 6, 10, 15, 21]);
  assert.deepEqual(r.collect(range(6)), [], 'ref shares the cursor');
  assert.deepEqual(c.collect(range(6)), [1, 3, 6, 10, 15, 21], 'copy walks on its own');
  ctx.reset();
  const b2 = Cum.make(ctx);
  ctx.next();
  assert.equal(b2.next(5), 5, 'a new instance has its own, empty state');
});

test('defaults: undefined, null and omission agree; next twice on one bar is two steps', () => {
  const xs = range(16);
  const a = stepped(Sma, [xs]);
  assert.deepEqual(stepped(Sma, [xs], undefined), a);
  assert.deepEqual(stepped(Sma, [xs], null), a);
  assert.deepEqual(stepped(Sma, [xs], 14), a);
  assert.notDeepEqual(stepped(Sma, [xs], 3), a);

  const ctx = ctxOf([1, 2]);
  ctx.next();
  const ch = Change.make(ctx);
  assert.ok(Number.isNaN(ch.next(1)));
  assert.equal(ch.next(4), 3, 'the second call sees the first as the previous bar');
});

test('next: arguments off the plain-number way mean what they meant', async (t) => {
  const xs = [3, 1, 4, 1, 5, 9, 2, 6, 5, 3, 5, 8];
  const Bands = b.Incr_fn_bollinger_bands_7ac6ce;
  const cases = [
    ['a fractional length is truncated', () => stepped(Sma, [xs], 4.9), () => stepped(Sma, [xs], 4)],
    ['a NaN multiplier is a number, not the default', () => stepped(Bands, [xs], 3, NaN),
      () => xs.map(() => [NaN, NaN])],
    ['an absent multiplier is the default', () => stepped(Bands, [xs], 3, undefined), () => stepped(Bands, [xs], 3, 2)],
    ['both ways on one instance', () => {
      const ctx = ctxOf(xs);
      const inst = Sma.make(ctx);
      return xs.map((x, i) => {
        ctx.next();
        return inst.next(x, i % 2 ? 4 : 4.5);
      });
    }, () => stepped(Sma, [xs], 4)],
  ];
  for (const [label, got, want] of cases) await t.test(label, () => assert.deepStrictEqual(got(), want()));
  assert.equal(Sma.prototype.next.length, 0);
  assert.equal(Sma.prototype.next.name, 'next');
});

test('lengths below 1 and a missing stdev length give NaN or null', () => {
  for (const len of [0, -3, NaN]) {
    assert.ok(stepped(Sma, [[1, 2, 3]], len).every(Number.isNaN));
    assert.ok(stepped(b.Incr_fn_highestbars_406610, [[1, 2, 3]], len).every((x) => x === null));
    assert.ok(Sma.make(ctxOf([1, 2])).collect([1, 2], len).every(Number.isNaN));
  }
  assert.ok(stepped(b.Incr_fn_stdev_d87475, [[1, 2, 3]]).every(Number.isNaN));
  assert.ok(b.Incr_fn_stdev_d87475.make(ctxOf([1, 2, 3])).collect([1, 2, 3]).every(Number.isNaN));
});

test('the script entry: no arguments, an empty result object, the context at its end', () => {
  const ctx = ctxOf(range(7));
  const m = Main.make(ctx);
  const out = m.collect();
  assert.deepEqual(Object.keys(out), ['alerts', 'locals']);
  assert.deepEqual(out, { alerts: [], locals: {} });
  assert.equal(ctx.barIndex, 6);
  assert.equal(m.next(), undefined);
});

test('moving averages: warm-ups, seeding and weights', async (t) => {
  const N = NaN;
  const cases = [
    ['sma 14', b.Incr_fn_sma_059403, [range(14)], [], [...Array(13).fill(N), 7.5]],
    ['ema 3', b.Incr_fn_ema_7bc747, [[1, 2, 3, 4]], [3], [N, N, 2, 3]],
    ['rma 3', b.Incr_fn_rma_3454eb, [[1, 2, 3, 4]], [3], [N, N, 2, 8 / 3]],
    ['ema reseeds after a gap', b.Incr_fn_ema_7bc747, [[1, 2, 3, N, 5, 6]], [3], [N, N, 2, N, 3, 4.5]],
    ['wma 3', b.Incr_fn_wma_5c3876, [[1, 2, 3]], [3], [N, N, 42 / 18]],
    ['lwma 3', b.Incr_fn_lwma_60bd2d, [[1, 2, 3]], [3], [N, N, 42 / 18]],
    ['swma', b.Incr_fn_swma_30829d, [[1, 2, 3, 4]], [], [N, N, N, 2.5]],
    ['fwma 3', b.Incr_fn_fwma_69cd8f, [[6]], [3], [3]],
    ['stdev 5', b.Incr_fn_stdev_d87475, [[4, 4, 4, 4, 4, 4]], [5], [N, N, N, N, 0, 0]],
    ['stdev small deviations', b.Incr_fn_stdev_d87475, [[1, 1 + 2e-5, 1, 1 + 2e-5, 1]], [5],
      [N, N, N, N, Math.sqrt(0.96e-10)]],
    ['dev constant', b.Incr_fn_dev_402351, [[2, 2, 2, 2]], [3], [N, N, 0, 0]],
    ['cum', b.Incr_fn_cum_c1d3ea, [[1, N, 2]], [], [1, N, 2]],
    ['change', b.Incr_fn_change_1e4fad, [[1, 4, 2]], [], [N, 3, -2]],
  ];
  for (const [label, Cls, cols, params, want] of cases)
    await t.test(label, () => close(stepped(Cls, cols, ...params), want, label));

  // sma: a gap after warm-up counts as 0; leading gaps delay the first value to step 19.
  const xs = range(20);
  xs[16] = NaN;
  close([stepped(Sma, [xs])[16]], [(4 + 5 + 6 + 7 + 8 + 9 + 10 + 11 + 12 + 13 + 14 + 15 + 16) / 14], 'sma gap');
  const late = [...Array(5).fill(NaN), ...Array(20).fill(1)];
  const s = stepped(Sma, [late]);
  assert.ok(Number.isNaN(s[17]));
  assert.equal(s[18], 1);
  // hma with the default length: first value on step 16.
  const h = stepped(b.Incr_fn_hma_3a3f74, [range(30)]);
  assert.equal(h.findIndex((x) => !Number.isNaN(x)), 15);
});

test('stdev: missing during warm-up and around gaps, the textbook deviation after', async (t) => {
  const { exactStdevRef, lowPricedCloses, pipCloses } = require('./support/indicator-cases');
  const Stdev = b.Incr_fn_stdev_d87475;
  const N = NaN;
  const cases = [
    ['a constant series', [[4, 4, 4, 4, 4, 4], 5], [N, N, N, N, 0, 0]],
    ['1, 2, 6 biased', [[1, 2, 6], 3], [N, N, Math.sqrt(14 / 3)]],
    ['1, 2, 6 unbiased', [[1, 2, 6], 3, false], [N, N, Math.sqrt(7)]],
    ['a missing value inside the window', [[1, 2, N, 4, 5, 6], 3], [N, N, N, N, N, Math.sqrt(2 / 3)]],
  ];
  for (const [label, [xs, ...params], want] of cases)
    await t.test(label, () => close(stepped(Stdev, [xs], ...params), want, label));

  // Deviations far below 1e-4 are real moves, not noise: the population standard deviation.
  for (const [label, xs] of [['a coin around 0.00002', lowPricedCloses()], ['EUR/USD in pips', pipCloses()]]) {
    await t.test(label, () => {
      const got = Stdev.make(ctxOf(xs)).collect(xs, 20);
      const want = exactStdevRef(xs, 20);
      assert.ok(got.slice(0, 19).every(Number.isNaN));
      for (let i = 19; i < xs.length; i++) {
        assert.ok(want[i] > 0 && want[i] < 1e-3);
        assert.ok(Math.abs(got[i] - want[i]) <= 1e-12 * want[i], `step ${i + 1}: ${got[i]}, want ${want[i]}`);
      }
    });
  }
});

test('vwma weighs by the bar volume', () => {
  const ctx = ctxOf([1, 2, 3], [10, 30, 20]);
  const out = b.Incr_fn_vwma_10c6d1.make(ctx).collect([1, 2, 3], 2);
  close(out, [NaN, (10 + 60) / 40, (60 + 60) / 50], 'vwma');
});

test('crosses, barssince and extremes', async (t) => {
  const N = NaN;
  const cases = [
    ['crossover', b.Incr_fn_crossover_94210a, [[1, 3], [2, 2]], [false, true]],
    ['crossover after a touch', b.Incr_fn_crossover_94210a, [[2, 3], [2, 2]], [false, true]],
    ['cross after a touch', b.Incr_fn_cross_0ddf1f, [[2, 3], [2, 2]], [false, false]],
    ['crossunder', b.Incr_fn_crossunder_ed654e, [[3, 1], [2, 2]], [false, true]],
    ['missing now and before', b.Incr_fn_crossover_94210a, [[1, N, 3], [2, 2, 2]], [false, null, false]],
  ];
  for (const [label, Cls, cols, want] of cases) await t.test(label, () => assert.deepEqual(stepped(Cls, cols), want));
  assert.deepEqual(stepped(b.Incr_fn_barssince_a2ae8d, [[null, false, true, false, undefined, true]]),
    [null, null, 0, 1, 2, 0]);
  // collect: flags beyond the end of the list count as null.
  assert.deepEqual(b.Incr_fn_barssince_a2ae8d.make(ctxOf(range(4))).collect([true, null]), [0, 1, 2, 3]);
  assert.deepEqual(b.Incr_fn_crossover_94210a.make(ctxOf(range(3))).collect([1, 3], [2, 2]), [false, true, null]);

  close(stepped(b.Incr_fn_highest_84f508, [[1, 5, 2, 4]], 3), [N, N, 5, 5], 'highest');
  assert.deepEqual(stepped(b.Incr_fn_highestbars_406610, [[1, 5, 2, 4]], 3), [null, null, -1, -2]);
  assert.deepEqual(stepped(b.Incr_fn_highestbars_406610, [[2, 2, 2]], 3), [null, null, -2]);
  close(stepped(b.Incr_fn_lowest_4e830f, [[3, N, 1]], 3), [N, N, 1], 'lowest over a gap');
  close(stepped(b.Incr_fn_lowest_4e830f, [[3, 1, N]], 3), [N, N, N], 'lowest of a missing current value');
  assert.deepEqual(stepped(b.Incr_fn_lowestbars_45ca87, [[3, 1, N]], 3), [null, null, 0]);
  close(stepped(b.Incr_fn_highest_84f508, [[4, 7, 1]], 1), [4, 7, 1], 'highest 1');
});

test('alma, linreg, median and percentile by hand', async (t) => {
  const support = require('./support/indicator-cases');
  const run = (name, xs, ...params) => b.indicators[name].make(support.ctxOf(support.closes(xs))).collect(xs, ...params);
  const N = NaN;
  const w = Math.exp(-1 / 18); // alma 3, offset 0.5, sigma 1: weights w, 1, w
  const cases = [
    ['alma: symmetric weights average a line to its middle', run('alma', [1, 2, 3, 5], 3, 0.5, 1),
      [N, N, 2, (2 * w + 3 + 5 * w) / (2 * w + 1)]],
    ['alma: a missing value in the window', run('alma', [1, 2, N, 4, 5, 6], 3, 0.5, 1), [N, N, N, N, N, 5]],
    ['linreg: a straight line is its own fit', run('linreg', [1, 3, 5, 7], 3, 0), [N, N, 5, 7]],
    ['linreg: offset 1 reads the line one bar back', run('linreg', [1, 3, 5, 7], 3, 1), [N, N, 3, 5]],
    // x 0, 1, 2 and y 1, 2, 6: slope 2.5, intercept 0.5, value at x = 2.
    ['linreg: least squares through 1, 2, 6', run('linreg', [1, 2, 6], 3, 0), [N, N, 5.5]],
    ['linreg: one value is a flat line', run('linreg', [4, 9], 1, 0), [4, 9]],
    ['median: odd length', run('median', [5, 1, 4, 2], 3), [N, N, 4, 2]],
    ['median: even length takes the mean of the middle two', run('median', [1, 4, 2], 2), [N, 2.5, 3]],
    ['median: a missing value in the window', run('median', [1, N, 3, 4], 2), [N, N, N, 3.5]],
    ['percentile 50 of five values', run('percentile_nearest_rank', [5, 1, 4, 2, 3], 5, 50).slice(4), [3]],
    ['percentile 20 is rank 1, 21 rank 2', [run('percentile_nearest_rank', [5, 1, 4, 2, 3], 5, 20)[4],
      run('percentile_nearest_rank', [5, 1, 4, 2, 3], 5, 21)[4]], [1, 2]],
    ['percentile 0 and 100 are the extremes', [run('percentile_nearest_rank', [5, 1, 4, 2, 3], 5, 0)[4],
      run('percentile_nearest_rank', [5, 1, 4, 2, 3], 5, 100)[4]], [1, 5]],
  ];
  for (const [label, got, want] of cases) await t.test(label, () => close(got, want, label));
});

test('pivothigh and pivotlow by hand', async (t) => {
  const support = require('./support/indicator-cases');
  const run = (name, xs, ...params) => b.indicators[name].make(support.ctxOf(support.closes(xs))).collect(xs, ...params);
  const N = NaN;
  const cases = [
    // reported on the bar after the pivot: 3 (above 1 and 2) on step 3, 5 on step 5.
    ['pivothigh 1, 1', run('pivothigh', [1, 3, 2, 5, 4, 4], 1, 1), [N, N, 3, N, 5, N]],
    ['pivotlow 1, 1', run('pivotlow', [5, 1, 4, 1, 6], 1, 1), [N, N, 1, N, 1]],
    ['a tie on either side is no pivot', run('pivotlow', [2, 1, 1, 3], 1, 1), [N, N, N, N]],
    ['pivothigh 2, 1 needs two lower values before', run('pivothigh', [1, 2, 4, 3, 5, 4], 2, 1), [N, N, N, 4, N, 5]],
    ['a missing value in the window', run('pivothigh', [1, N, 2, 1, 3, 2], 1, 1), [N, N, N, N, N, 3]],
  ];
  for (const [label, got, want] of cases) await t.test(label, () => close(got, want, label));
});
