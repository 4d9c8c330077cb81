'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const { roundToMinTick, roundContracts, validateContracts, orderSize, orderSizeForEquityPct } = require('../..');

// One subtest a case; Object.is, so that -0 and NaN are told apart from 0 and each other.
async function table(t, fn, cases) {
  for (const [args, want] of cases) {
    await t.test(`${fn.name}(${args.join(', ')})`, () => {
      const got = fn(...args);
      assert.ok(Object.is(got, want), `got ${got}, want ${want}`);
    });
  }
}

test('roundToMinTick: nearest tick, halves away from zero', async (t) => {
  await table(t, roundToMinTick, [
    [[101.26, 0.5], 101.5],
    [[101.24, 0.5], 101],
    [[-2.5, 1], -3],
    [[2.5, 1], 3],
    [[NaN, 0.01], 0],
    [[NaN, NaN], 0],
    [[1.234, NaN], 1.234],
    [[5, 0], NaN],
    [[-0.2, 1], -0],
    [[Infinity, 1], Infinity],
  ]);
});

test('roundContracts: the quantity grid with the 2^-52 nudge', async (t) => {
  await table(t, roundContracts, [
    [[0.1234567, 0.000001, 1000000], 0.123457],
    [[1.23456789, 0.001, 1000], 1.235],
    [[0.5, 1, 1], 1],
    [[-0.5, 1, 1], -0],
    [[1.5, 1, 1], 2],
    [[-1.5, 1, 1], -1], // the nudge moves every exact half of small magnitude up
    [[7.7, NaN, 1], 7.7],
    [[NaN, 1, 1], NaN],
    // minQty is only tested, never used: the scale alone sets the grid.
    [[1.26, 123, 10], 1.3],
  ]);
});

test('validateContracts: the size magnitude against the minimum', async (t) => {
  await table(t, validateContracts, [
    [[-0.5, 0.001], true],
    [[0.001, 0.001], true],
    [[0.0001, 0.001], false],
    [[NaN, NaN], true],
    [[0, NaN], true],
    [[NaN, 0.001], false],
    [[0, 0], true],
  ]);
});

test('orderSize and orderSizeForEquityPct', async (t) => {
  await table(t, orderSize, [
    [[1, 10000, 1, 50, 1], 200],
    [[0.5, 10000, 2, 100, 2], 50],
    [[1, 10000, 1, 0, 1], Infinity],
    [[0, 10000, 1, 0, 1], NaN],
  ]);
  await table(t, orderSizeForEquityPct, [
    [[-0.5, 10000, 0, 100, 1, 1], -50],
    [[0.5, 10000, 20, 100, 1, 1], 30],
    [[0, 10000, 20, 100, 1, 1], -20],
    [[-0, 10000, 20, 100, 1, 1], -20],
    [[NaN, 10000, 20, 100, 1, 1], NaN],
    [[1, 10000, -10, 50, 2, 3], 310],
  ]);
});

test('every argument is a required number', async (t) => {
  const fns = [[roundToMinTick, 2], [roundContracts, 3], [validateContracts, 2], [orderSize, 5], [orderSizeForEquityPct, 6]];
  for (const [fn, n] of fns) {
    await t.test(fn.name, () => {
      const good = Array(n).fill(1);
      assert.doesNotThrow(() => fn(...good, 'extra arguments are ignored'));
      for (let i = 0; i < n; i++) {
        const bad = good.slice();
        bad[i] = '1';
        assert.throws(() => fn(...bad), { code: 'NumberExpected', message: /String/ }, `argument ${i}`);
      }
      assert.throws(() => fn(...good.slice(0, n - 1)), { code: 'NumberExpected', message: /Undefined/ });
    });
  }
});
