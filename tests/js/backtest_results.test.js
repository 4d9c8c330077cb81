'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const { NodeBacktest, NodeSignal, NodeCtx, NodeSymKind, NodeTimeframe, expectancy } = require('../..');
const { rising, series } = require('./support/market');
const { backtest, stock } = require('./support/backtest');

const size = (x) => NodeSignal.Size(x);
// Orders `qty` on the first bar and runs the backtest to its end.
function held(bt, qty) {
  bt.next();
  bt.signal(size(qty));
  for (const _ of bt);  // eslint-disable-line no-unused-vars
  return bt;
}
const isNaNAll = (bt, names) => names.forEach((n) => assert.ok(Number.isNaN(bt[n]), n));

// Population mean and standard deviation, written out for the expected figures.
const mean = (xs) => xs.reduce((a, b) => a + b, 0) / xs.length;
const sd = (xs) => Math.sqrt(mean(xs.map((x) => (x - mean(xs)) ** 2)));

test('before any bar', () => {
  const bt = backtest(rising(3), { capital: 500 });
  assert.equal(bt.equity, 500);
  assert.equal(bt.netEquity, 500);
  assert.deepEqual([bt.equityList, bt.netEquityList, bt.returnsList, bt.pnlList], [[], [], [], []]);
  assert.ok(Number.isNaN(bt.sharpeRatio()) && Number.isNaN(bt.sortinoRatio()) && Number.isNaN(bt.expectancy()));
  assert.ok(Number.isNaN(bt.instrumentSize));
  assert.equal(bt.firstEntryBarIndex, null);
  assert.deepEqual([bt.openTrades, bt.closedTrades, bt.trades], [[], [], []]);
  assert.deepEqual([bt.winningTradesCount(), bt.losingTradesCount, bt.openLongsCount, bt.openShortsCount,
    bt.closedLongsCount, bt.closedShortsCount], [0n, 0n, 0n, 0n, 0n, 0n]);
  assert.equal(typeof bt.winningTradesCount, 'function');
  isNaNAll(bt, ['avgTrade', 'avgWinningTrade', 'avgLosingTrade', 'avgWinLossRatio', 'profitFactor', 'winRate']);
  assert.deepEqual([bt.netProfit, bt.grossProfit, bt.grossLoss, bt.openProfit, bt.netProfitPct], [0, 0, 0, 0, 0]);
});

test('with only an open trade', () => {
  const bt = backtest(rising(4));
  bt.next();
  bt.signal(size(2));
  bt.next();
  bt.next();
  assert.equal(bt.winRate, 0, 'open trades count in the divisor');
  isNaNAll(bt, ['avgTrade', 'avgWinningTrade', 'avgLosingTrade', 'avgWinLossRatio', 'profitFactor']);
  assert.equal(bt.openProfit, 3);  // (102.5 - 101) × 2
  assert.deepEqual(bt.equityList, [1000, 1001, 1003]);
  assert.deepEqual(bt.netEquityList, [1000, 1000, 1000]);
  assert.equal(bt.firstEntryBarIndex, 1n);
  assert.notEqual(bt.equityList, bt.equityList, 'a new array on every read');
});

test('one winner and no loser; a zero pnl counts as a loss', () => {
  const win = backtest(rising(4));
  win.next();
  win.signal(size(1));
  win.next();
  win.signal(size(-1));
  win.next();
  assert.equal(win.winningTradesCount(), 1n);
  assert.deepEqual([win.grossProfit, win.avgWinningTrade, win.avgTrade, win.winRate], [1, 1, 1, 1]);
  isNaNAll(win, ['profitFactor', 'avgWinLossRatio', 'avgLosingTrade']);

  const flat = backtest([[100, 100], [100, 100], [100, 100], [100, 100]]);
  flat.next();
  flat.signal(size(1));
  flat.next();
  flat.signal(size(-1));
  flat.next();
  assert.equal(flat.losingTradesCount, 1n);
  assert.equal(flat.avgLosingTrade, 0);
  isNaNAll(flat, ['avgWinLossRatio', 'profitFactor']);
  // A curve that never moves: variance 0.
  assert.deepEqual(flat.returnsList, [0, 0]);
  assert.ok(Number.isNaN(flat.sharpeRatio()));
});

test('profit figures of a winning and a losing round trip', () => {
  const bt = backtest(rising(6), { capital: 2000 });
  bt.next();
  bt.signal(size(2));
  bt.next();  // long 2 at 101
  bt.signal(size(-2));
  bt.next();  // closed at 102: +2
  bt.signal(size(-1));
  bt.next();  // short 1 at 103
  bt.signal(size(1));
  bt.next();  // closed at 104: -1
  assert.deepEqual([bt.netProfit, bt.grossProfit, bt.grossLoss], [1, 2, 1]);
  assert.deepEqual([bt.netProfitPct, bt.grossProfitPct, bt.grossLossPct], [1 / 2000, 2 / 2000, 1 / 2000]);
  assert.deepEqual([bt.avgTrade, bt.avgWinningTrade, bt.avgLosingTrade, bt.avgWinLossRatio, bt.profitFactor, bt.winRate],
    [0.5, 2, 1, 2, 2, 0.5]);
  assert.deepEqual(bt.pnlList, [2, -1]);
  assert.equal(bt.expectancy(), expectancy(new Float64Array([2, -1])));
  assert.deepEqual(bt.trades.map((t) => t.isClosed), [true, true]);
});

test('Sharpe and Sortino: per-bar ratios times the annualization factor', async (t) => {
  // Closes wander, so the equity of a held long goes up and down.
  const closes = [100, 104, 101, 106, 103, 99, 107, 108];
  const pairs = closes.map((c) => [c, c]);
  for (const [rf, af, expectedFactor] of [[0, undefined, 252], [0.0001, 12, 12]]) {
    await t.test(`risk-free rate ${rf}, factor ${af ?? 'from the timeframe'}`, () => {
      const bt = held(backtest(pairs, { rf, af }), 5);
      const r = bt.returnsList;
      const eq = bt.equityList;
      assert.deepEqual(r, eq.slice(1).map((e, i) => (e - eq[i]) / eq[i]));
      const m = mean(r);
      assert.ok(Math.abs(bt.sharpeRatio() - (m - rf) / sd(r) * expectedFactor) < 1e-9);
      const d = r.filter((x) => x < 0);
      assert.ok(Math.abs(bt.sortinoRatio() - (m - rf) / sd(d) * expectedFactor) < 1e-9);
    });
  }
  // A NaN risk-free rate counts as 0.
  assert.equal(held(backtest(pairs, { rf: NaN }), 5).sharpeRatio(), held(backtest(pairs, { rf: 0 }), 5).sharpeRatio());
});

test('annualization follows the timeframe and the symbol kind', async (t) => {
  const flatPairs = [[10, 10], [10, 11], [10, 12]];
  const cases = [
    [NodeTimeframe.Days(1), NodeSymKind.Crypto(), 365],
    [NodeTimeframe.Hours(1), NodeSymKind.Crypto(), 8760],
    [NodeTimeframe.Weeks(1), NodeSymKind.Stock(), 36],
  ];
  for (const [tf, kind, factor] of cases) {
    await t.test(`${tf} ${kind}: ${factor}`, () => {
      const bt = held(new NodeBacktest(new NodeCtx(series(flatPairs, tf), stock({ kind }))), 1);
      const ref = held(new NodeBacktest(new NodeCtx(series(flatPairs, tf), stock({ kind })), 1000, false, 0, 1), 1);
      assert.ok(Math.abs(bt.sharpeRatio() - ref.sharpeRatio() * factor) < 1e-9);
    });
  }
});

test('figures change nothing', () => {
  const bt = backtest(rising(3));
  bt.next();
  bt.signal(size(1));
  const members = ['equityList', 'netEquityList', 'equity', 'returnsList', 'pnlList', 'openTrades', 'trades',
    'positionSize', 'netProfit', 'openProfit', 'winRate', 'instrumentSize'];
  const snapshot = () => JSON.stringify(members.map((m) => String(bt[m])));
  const before = snapshot();
  bt.sharpeRatio(); bt.sortinoRatio(); bt.expectancy(); bt.winningTradesCount();
  assert.equal(snapshot(), before);
  bt.next();
  assert.equal(bt.openTrades.length, 1, 'the queued order is still there');
});
