'use strict';
// The options object of NodeBacktest and the trading costs it sets: commission and slippage.
// Bar i of `rising` opens at 100 + i and closes at 100.5 + i; ticks of 0.01, quantities of 0.001.
// Every expected figure is worked out by hand in the comments.
const test = require('node:test');
const assert = require('node:assert/strict');
const { NodeBacktest, NodeCtx, NodeSignal } = require('../..');
const { stock } = require('./support/backtest');
const { series, rising } = require('./support/market');

const near = (actual, expected, what) =>
  assert.ok(Math.abs(actual - expected) < 1e-9, `${what}: ${actual} is not ${expected}`);
const size = (x, id) => {
  const s = NodeSignal.Size(x);
  if (id) s.id = id;
  return s;
};
const withOptions = (options, pairs = rising(6)) => new NodeBacktest(new NodeCtx(series(pairs), stock()), 1000, options);

// Buys (or sells) `qty` after bar 0, so the order fills at the open of bar 1 (101).
function oneFill(options, qty) {
  const bt = withOptions(options);
  bt.next();
  bt.signal(size(qty));
  bt.next();
  return bt;
}

test('the options object stands for the positional flags', () => {
  const run = (bt) => {
    for (const i of bt) bt.signal(size(i % 2 ? -1 : 1));
    return [bt.equityList, bt.processOrdersOnClose, bt.sharpeRatio(), bt.sortinoRatio(), bt.commissionPaid];
  };
  const positional = new NodeBacktest(new NodeCtx(series(rising(6)), stock()), 1000, true, 0.001, 12);
  const named = withOptions({ processOrdersOnClose: true, riskFreeRate: 0.001, annualizationFactor: 12 });
  assert.deepEqual(run(named), run(positional));
  // Without costs nothing is charged.
  assert.equal(positional.commissionPaid, 0);
});

test('bad options are refused with InvalidArg naming the field', async (t) => {
  const cases = [
    [{ commission: { percent: -0.001 } }, 'Backtest option commission.percent must be a finite number at or above 0, got -0.001'],
    [{ commission: { perUnit: NaN } }, 'Backtest option commission.perUnit must be a finite number at or above 0, got NaN'],
    [{ commission: { perOrder: Infinity } }, 'Backtest option commission.perOrder must be a finite number at or above 0, got inf'],
    [{ commission: { minimum: '1' } }, 'Backtest option commission.minimum must be a number, got String'],
    [{ slippage: { ticks: -1 } }, 'Backtest option slippage.ticks must be a finite number at or above 0, got -1'],
    [{ slippage: 2 }, 'Backtest option slippage must be an object, got Number'],
    [{ slipage: { ticks: 1 } }, /^Backtest option slipage is not known/],
    [{ commission: { pct: 0.1 } }, /^Backtest option commission\.pct is not known/],
    [{ processOrdersOnClose: 'yes' }, 'Backtest option processOrdersOnClose must be a boolean, got String'],
    [{ riskFreeRate: null, annualizationFactor: true }, 'Backtest option annualizationFactor must be a number, got Boolean'],
  ];
  for (const [options, message] of cases) {
    await t.test(JSON.stringify(options) ?? String(options), () => {
      assert.throws(() => withOptions(options), { code: 'InvalidArg', message });
    });
  }
  await t.test('positional rate beside an options object', () => {
    assert.throws(() => new NodeBacktest(new NodeCtx(series(rising(2)), stock()), 1000, {}, 0.01),
      { code: 'InvalidArg', message: /give riskFreeRate and annualizationFactor inside it/ });
  });
  await t.test('the positional flag keeps its conversion error', () => {
    assert.throws(() => new NodeBacktest(new NodeCtx(series(rising(2)), stock()), 1000, 1), { code: 'BooleanExpected' });
  });
});

test('commission of one fill', async (t) => {
  // [commission, size, what the fill at 101 pays]
  const cases = [
    [{ percent: 0.001 }, 2, 0.202],                                // 0.001 × 2 × 101
    [{ perUnit: 0.05 }, 2, 0.1],
    [{ perOrder: 1.5 }, 2, 1.5],
    [{ percent: 0.001, minimum: 1 }, 2, 1],                        // 0.202 is below the minimum
    [{ percent: 0.001, minimum: 1 }, 20, 2.02],
    [{ percent: 0.001, perUnit: 0.01, perOrder: 0.5 }, -3, 0.833], // 0.303 + 0.03 + 0.5, on |size|
  ];
  for (const [commission, qty, fee] of cases) {
    await t.test(`${JSON.stringify(commission)} on ${qty}`, () => {
      const bt = oneFill({ commission }, qty);
      near(bt.commissionPaid, fee, 'commissionPaid');
      const [trade] = bt.openTrades;
      near(trade.pnl, (101.5 - 101) * qty - fee, 'open pnl net of the entry commission');
      near(bt.equity, 1000 + (101.5 - 101) * qty - fee, 'equity pays at the fill');
      assert.equal(bt.netEquity, 1000, 'nothing realised yet');
    });
  }
});

test('a fill split across trades shares its commission by quantity', () => {
  const bt = withOptions({ commission: { perUnit: 0.1 } });
  bt.next();
  bt.signal(size(2, 'a'));
  bt.next();  // buy 2 at 101, pays 0.2
  bt.signal(size(-0.5, 'trim'));
  bt.next();  // sell 0.5 at 102, pays 0.05
  // The closed half carries a quarter of the entry's 0.2 and the whole exit: 0.05 + 0.05.
  near(bt.closedTrades[0].pnl, (102 - 101) * 0.5 - 0.1, 'partial close');
  // The rest (1.5) keeps 0.15 of the entry commission, valued at 102.5.
  near(bt.openTrades[0].pnl, (102.5 - 101) * 1.5 - 0.15, 'remaining trade');
  bt.signal(size(-2.5, 'flip'));
  bt.next();  // sell 2.5 at 103, pays 0.25: 0.15 to the closed 1.5, 0.1 to the new short of 1
  near(bt.closedTrades[1].pnl, (103 - 101) * 1.5 - 0.15 - 0.15, 'closed by the flip');
  near(bt.openTrades[0].pnl, (103 - 103.5) * 1 - 0.1, 'short opened by the flip');
  near(bt.commissionPaid, 0.5, 'commissionPaid');
  near(bt.netProfit, 0.4 + 2.7, 'net profit is net of costs');
  near(bt.equity, 1000 + 3.1 - 0.6, 'equity');
  assert.deepEqual([bt.winningTradesCount(), bt.losingTradesCount], [2n, 0n]);
});

test('a commission can turn a winner into a loser', () => {
  const bt = withOptions({ commission: { perOrder: 1 } });
  bt.next();
  bt.signal(size(1));
  bt.next();  // buy 1 at 101
  bt.signal(size(-1));
  bt.next();  // sell at 102: +1 before costs, -1 after both commissions
  assert.equal(bt.closedTrades[0].pnl, -1);
  assert.deepEqual([bt.winningTradesCount(), bt.losingTradesCount, bt.grossLoss], [0n, 1n, 1]);
});

test('slippage moves the fill against the order, then onto the tick', async (t) => {
  // [options, size, fill price]; the open of bar 1 is 101, its close 101.5
  const cases = [
    [{ slippage: { ticks: 3 } }, 1, 101.03],
    [{ slippage: { ticks: 3 } }, -1, 100.97],
    [{ slippage: { percent: 0.001 } }, 1, 101.1],    // 101.101 on the tick
    [{ slippage: { percent: 0.001 } }, -1, 100.9],   // 100.899 on the tick
    [{ slippage: { percent: 0.001, ticks: 1 } }, 1, 101.11],
    [{ slippage: { ticks: 2 }, processOrdersOnClose: true }, 1, 101.52],
  ];
  for (const [options, qty, price] of cases) {
    await t.test(`${JSON.stringify(options)} on ${qty}`, () => {
      const bt = oneFill(options, qty);
      near(bt.openTrades[0].entry.price, price, 'fill price');
      assert.equal(bt.instrumentSize, 101.5, 'the mark price does not slip');
    });
  }
});

test('commission is charged on the slipped price', () => {
  const bt = oneFill({ slippage: { ticks: 10 }, commission: { percent: 0.01 } }, 2);
  near(bt.commissionPaid, 0.01 * 2 * 101.1, 'commission');
});
