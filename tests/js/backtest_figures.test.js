'use strict';
// The further figures of a backtest and bt.summary(), on a six-bar series worked out by hand.
const test = require('node:test');
const assert = require('node:assert/strict');
const { NodeSignal } = require('../..');
const { backtest } = require('./support/backtest');
const { rising } = require('./support/market');

const near = (actual, expected, what) =>
  assert.ok(Math.abs(actual - expected) < 1e-9, `${what}: ${actual} is not ${expected}`);

// [open, close] of six daily bars of a stock (annualization factor 252).
const PAIRS = [[100, 100], [100, 110], [110, 105], [105, 90], [90, 100], [100, 120]];

// Long 1 at the open of bar 1 (100), out at the open of bar 3 (105): +5.
// Short 2 at the open of bar 4 (90), out at the open of bar 5 (100): -20.
function traded() {
  const bt = backtest(PAIRS);
  const plan = { 0: 1, 2: -1, 3: -2, 4: 2 };
  for (const i of bt) if (plan[i]) bt.signal(NodeSignal.Size(plan[i]));
  return bt;
}

// Population mean and deviation of the simple returns of the equity list.
function returnStats(equity, downsideOnly) {
  let r = equity.slice(1).map((x, i) => (x - equity[i]) / equity[i]);
  const mean = r.reduce((a, b) => a + b, 0) / r.length;
  if (downsideOnly) r = r.filter((x) => x < 0);
  const m = r.reduce((a, b) => a + b, 0) / r.length;
  const dev = Math.sqrt(r.reduce((a, b) => a + (b - m) ** 2, 0) / r.length);
  return { mean, dev };
}

test('figures of a long and a short trade', () => {
  const bt = traded();
  const equity = [1000, 1010, 1005, 1005, 985, 985];
  assert.deepEqual(bt.equityList, equity);
  // Peak 1010 on bar 1, trough 985 on bar 4 (the first of two), never recovered: to bar 5.
  assert.equal(bt.maxDrawdown, 25);
  near(bt.maxDrawdownPct, 25 / 1010, 'maxDrawdownPct');
  assert.equal(bt.maxDrawdownPeakBarIndex, 1);
  assert.equal(bt.maxDrawdownTroughBarIndex, 4);
  assert.equal(bt.maxDrawdownDuration, 4);
  near(bt.cagr, 0.985 ** (252 / 6) - 1, 'cagr');
  assert.equal(bt.exposurePct, 3 / 6);  // held through bars 1, 2 and 4
  assert.equal(bt.buyAndHoldReturnPct, 120 / 100 - 1);
  assert.equal(bt.avgTradeDuration, (2 + 1) / 2);
  assert.equal(bt.largestWinningTrade, 5);
  assert.equal(bt.largestLosingTrade, 20);
  assert.equal(bt.longNetProfit, 5);
  assert.equal(bt.shortNetProfit, -20);
  const up = returnStats(equity, false);
  near(bt.annualizedSharpeRatio, (up.mean / up.dev) * Math.sqrt(252), 'annualizedSharpeRatio');
  const down = returnStats(equity, true);
  near(bt.annualizedSortinoRatio, (up.mean / down.dev) * Math.sqrt(252), 'annualizedSortinoRatio');
  // The specified ratios keep multiplying by the factor itself.
  near(bt.sharpeRatio(), (up.mean / up.dev) * 252, 'sharpeRatio');
});

test('summary() holds every figure as plain JSON', () => {
  const bt = traded();
  const s = bt.summary();
  assert.doesNotThrow(() => JSON.stringify(s), 'counts are numbers, not BigInt');
  const expected = {
    initial_capital: 1000, equity: 985, net_equity: 985, net_profit: -15, net_profit_pct: -0.015,
    gross_profit: 5, gross_loss: 20, commission_paid: 0, open_profit: 0, position_size: 0,
    closed_trades: 2, open_trades: 0, winning_trades: 1, losing_trades: 1, win_rate: 0.5,
    avg_trade: -7.5, avg_winning_trade: 5, avg_losing_trade: 20, avg_win_loss_ratio: 0.25, profit_factor: 0.25,
    largest_winning_trade: 5, largest_losing_trade: 20, avg_trade_duration: 1.5,
    max_drawdown: 25, max_drawdown_duration: 4, max_drawdown_peak_bar_index: 1, max_drawdown_trough_bar_index: 4,
    exposure_pct: 0.5, buy_and_hold_return_pct: 120 / 100 - 1,
  };
  for (const [key, value] of Object.entries(expected)) assert.equal(s[key], value, key);
  for (const key of ['max_drawdown_pct', 'cagr', 'sharpe_ratio', 'sortino_ratio', 'annualized_sharpe_ratio',
    'annualized_sortino_ratio', 'expectancy']) {
    assert.equal(typeof s[key], 'number', key);
  }
  assert.deepEqual(s.long, { closed_trades: 1, winning_trades: 1, losing_trades: 0, win_rate: 1, net_profit: 5,
    gross_profit: 5, gross_loss: 0, profit_factor: NaN });
  assert.deepEqual(s.short, { closed_trades: 1, winning_trades: 0, losing_trades: 1, win_rate: 0, net_profit: -20,
    gross_profit: 0, gross_loss: 20, profit_factor: 0 });
});

test('figures before any bar and without trades', () => {
  const bt = backtest(rising(3));
  const s = bt.summary();
  assert.deepEqual([s.max_drawdown, s.max_drawdown_pct, s.max_drawdown_duration], [0, 0, 0]);
  assert.deepEqual([s.max_drawdown_peak_bar_index, s.max_drawdown_trough_bar_index], [null, null]);
  for (const key of ['cagr', 'exposure_pct', 'buy_and_hold_return_pct', 'avg_trade_duration',
    'largest_winning_trade', 'largest_losing_trade']) {
    assert.ok(Number.isNaN(s[key]), key);
  }
  for (const i of bt);
  assert.equal(bt.exposurePct, 0);
  assert.equal(bt.cagr, 0);
  assert.equal(bt.buyAndHoldReturnPct, 102.5 / 100 - 1);
});

test('close mode counts a bar as exposed when the position is held into it', () => {
  const bt = backtest(rising(4), { onClose: true });
  const plan = { 0: 1, 2: -1 };
  for (const i of bt) if (plan[i]) bt.signal(NodeSignal.Size(plan[i]));
  // In at the close of bar 1, out at the close of bar 3: held through bars 2 and 3.
  assert.equal(bt.exposurePct, 2 / 4);
});

test('a recovered drawdown lasts from its peak to the bar back at it', () => {
  const bt = backtest([[100, 100], [100, 110], [110, 100], [100, 120]]);
  bt.next();
  bt.signal(NodeSignal.Size(1));
  for (const i of bt);
  // Equity 1000, 1010, 1000, 1020: peak bar 1, trough bar 2, back above it on bar 3.
  assert.deepEqual([bt.maxDrawdown, bt.maxDrawdownPeakBarIndex, bt.maxDrawdownTroughBarIndex, bt.maxDrawdownDuration],
    [10, 1, 2, 2]);
});
