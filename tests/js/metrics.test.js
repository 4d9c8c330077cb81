'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const bw = require('../..');

const f64 = (...xs) => new Float64Array(xs);
const same = (got, want, what) =>
  assert.ok(Object.is(got, want) || Math.abs(got - want) <= 1e-12 * Math.abs(want), `${what}: got ${got}, want ${want}`);

test('ratios of two figures and their zero-divisor rules', async (t) => {
  const cases = [
    ['profitFactor', [100, 0], NaN],
    ['profitFactor', [0, 50], 0],
    ['profitFactor', [150, 50], 3],
    ['profitFactor', [150, NaN], NaN],
    ['avgWinLossRatio', [10, 0], NaN],
    ['avgWinLossRatio', [10, 4], 2.5],
    ['longNetProfitRatio', [30, -10], 3],
    ['longNetProfitRatio', [30, 0], NaN],
    ['winRate', [3, 0], NaN],
    ['winRate', [3, 4], 0.75],
    ['winRate', [0, 4], 0],
    ['avgTrade', [10, 0], NaN],
    ['avgTrade', [10, 4], 2.5],
    ['avgWinningTrade', [10, 0], NaN],
    ['avgWinningTrade', [9, 3], 3],
    ['avgLosingTrade', [10, 0], NaN],
    ['avgLosingTrade', [8, 2], 4],
    ['netProfitPct', [50, 0], Infinity],
    ['netProfitPct', [150, 1000], 0.15],
    ['grossProfitPct', [0, 0], NaN],
    ['grossProfitPct', [200, 1000], 0.2],
    ['grossLossPct', [-50, 0], -Infinity],
    ['grossLossPct', [50, 1000], 0.05],
    ['longNetProfitPct', [30, 1000], 0.03],
    ['shortNetProfitPct', [-30, 1000], -0.03],
  ];
  for (const [fn, args, want] of cases) await t.test(`${fn}(${args})`, () => same(bw[fn](...args), want, fn));
});

test('counts are 32-bit integers read as unsigned', () => {
  same(bw.winRate(1, -1), 1 / 4294967295, 'winRate(1, -1)');
  same(bw.avgTrade(10, 2.9), 5, 'avgTrade truncates');
  same(bw.avgTrade(10, 4294967297), 10, 'avgTrade keeps the low 32 bits');
  same(bw.avgTrade(10, NaN), NaN, 'a NaN count reads as 0');
  assert.throws(() => bw.winRate('1', 2), { code: 'NumberExpected' });
  assert.throws(() => bw.avgTrade(10), { code: 'NumberExpected' });
});

test('other formulas', async (t) => {
  const cases = [
    ['pnl', [2, 100, 110], 20],
    ['pnl', [-2, 100, 110], -20],
    ['expectancyScore', [0.5, 4], 2],
    ['sharpeRatio', [0.02, 0.1, 0.01], 0.1],
    ['sharpeRatio', [0.02, 0, 0.01], NaN],
    ['sortinoRatio', [0.03, 0.2, 0.01], 0.1],
    ['sortinoRatio', [0.03, 0, 0], NaN],
    ['omegaRatio', [5, 2, 1], 2],
    ['omegaRatio', [5, 0, 1], NaN],
    ['accuracy', [40, 10, 20, 30], 0.7],
    ['accuracy', [0, 0, 0, 0], NaN],
    ['precision', [30, 10], 0.75],
    ['precision', [0, 0], NaN],
    ['recall', [30, 30], 0.5],
    ['recall', [0, 0], NaN],
    ['f1', [0.5, 0.5], 0.5],
    ['f1', [0, 0], NaN],
    ['f1', [1, -1], NaN],
  ];
  for (const [fn, args, want] of cases) await t.test(`${fn}(${args})`, () => same(bw[fn](...args), want, fn));
  assert.throws(() => bw.pnl(1, 2), { code: 'NumberExpected' });
});

test('Sharpe, Sortino and Omega from a returns series, not annualized', async (t) => {
  const r = f64(0.1, -0.05, 0.02, -0.01);
  const m = 0.015;
  const v = ((0.085 ** 2) + (0.065 ** 2) + (0.005 ** 2) + (0.025 ** 2)) / 4;
  same(bw.sharpeRatioFromReturns(r, 0.005), (m - 0.005) / Math.sqrt(v), 'sharpe');
  // Downside deviation of [-0.05, -0.01] around their own mean -0.03, not around 0.
  same(bw.sortinoRatioFromReturns(r, 0), m / 0.02, 'sortino');
  same(bw.omegaRatioFromReturns(r, 0), 0.12 / -0.06, 'omega');

  const cases = [
    ['sharpeRatioFromReturns', [], NaN],
    ['sharpeRatioFromReturns', [0.01, 0.01, 0.01], NaN],
    ['sortinoRatioFromReturns', [], NaN],
    ['sortinoRatioFromReturns', [0.1, 0.2], NaN],
    ['sortinoRatioFromReturns', [0.1, -0.05], NaN],
    ['omegaRatioFromReturns', [0.1, -0.05], -2],
    ['omegaRatioFromReturns', [0.1, 0.2], NaN],
    ['omegaRatioFromReturns', [], NaN],
  ];
  for (const [fn, xs, want] of cases) {
    await t.test(`${fn}([${xs}])`, () => same(bw[fn](f64(...xs), 0), want, fn));
  }
  assert.throws(() => bw.sharpeRatioFromReturns([0.1], 0), { message: 'Get TypedArray info failed' });
});

test('expectancy of trade results', async (t) => {
  const cases = [
    [[10, 20, -5, -15], 0],
    [[10, -5], 0.5],
    [[5, 5, -5], 0],
    [[10, 20], NaN],
    [[-5, -10], NaN],
    [[], NaN],
    // A zero result counts as a loss: wins [30, 10] keep 30; losses [0, -10] average -5.
    [[30, 0, 10, -10], (2 / 3 * -5 + 1 / 3 * 30) / 5],
    // A NaN result is a loss and spoils the average loss.
    [[10, NaN], NaN],
    // Array order does not matter; the smallest win goes.
    [[1, 100, -10, 50], (1 / 3 * -10 + 2 / 3 * 75) / 10],
  ];
  for (const [xs, want] of cases) {
    await t.test(`expectancy([${xs}])`, () => same(bw.expectancy(f64(...xs)), want, 'expectancy'));
  }
  assert.throws(() => bw.expectancy([1, -1]), { message: 'Get TypedArray info failed' });
});
