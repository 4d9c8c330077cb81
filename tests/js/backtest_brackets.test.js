'use strict';
// Stop-loss, take-profit and trailing stop exits, worked out by hand. Bars are given as
// [open, high, low, close]; bar 0 closes at 100 and the entry signal is given after it.
const test = require('node:test');
const assert = require('node:assert/strict');
const { NodeBacktest, NodeSignal } = require('../..');
const { quadCtx, runAfterSetup, SETUP } = require('./support/backtest');

function entry(size, exits, make = NodeSignal.Size) {
  const s = make(size);
  s.id = 'in';
  Object.assign(s, exits);
  return s;
}

const run = runAfterSetup;

// The exit of the first closed trade: [fill bar, price, which exit, pnl].
const exitOf = (bt) => {
  const t = bt.closedTrades[0];
  return t && [t.exit.fillBarIndex, t.exit.price, t.exit.comment, t.pnl];
};

test('bracket exits of a market entry at the open of bar 1 (100)', async (t) => {
  const bracket = { stopLoss: 95, takeProfit: 110 };
  // [what, signal, bars after bar 0, expected exit (null: still open)]
  const cases = [
    ['take-profit reached on a later bar', entry(1, bracket),
      [[100, 105, 96, 104], [104, 111, 103, 108]], [2, 110, 'take profit', 10]],
    ['stop-loss hit on the entry bar, after the fill at its open', entry(1, bracket),
      [[100, 101, 94, 96]], [1, 95, 'stop loss', -5]],
    ['take-profit hit on the entry bar', entry(1, bracket),
      [[100, 112, 99, 111]], [1, 110, 'take profit', 10]],
    ['both legs within one bar: the stop-loss fills', entry(1, bracket),
      [[100, 105, 96, 104], [104, 111, 94, 100]], [2, 95, 'stop loss', -5]],
    ['a gap through the stop-loss fills at the open', entry(1, bracket),
      [[100, 105, 96, 104], [93, 94, 90, 92]], [2, 93, 'stop loss', -7]],
    ['a gap through the take-profit fills at the open', entry(1, bracket),
      [[100, 105, 96, 104], [113, 114, 112, 113]], [2, 113, 'take profit', 13]],
    ['levels as fractions of the fill price', entry(2, { stopLoss: { pct: 0.05 }, takeProfit: { pct: 0.1 } }),
      [[100, 105, 96, 104], [104, 106, 94.5, 100]], [2, 95, 'stop loss', -10]],
    ['a short: stop above, target below', entry(-1, { stopLoss: 104, takeProfit: 90 }),
      [[100, 103, 95, 97], [97, 98, 89, 91]], [2, 90, 'take profit', 10]],
    ['a short stopped out', entry(-1, { stopLoss: 104, takeProfit: 90 }),
      [[100, 105, 99, 104]], [1, 104, 'stop loss', -4]],
    ['neither reached: still open', entry(1, bracket), [[100, 105, 96, 104]], null],
  ];
  for (const [what, sig, quads, expected] of cases) {
    await t.test(what, () => {
      const bt = run(quads, sig);
      assert.deepEqual(exitOf(bt) ?? null, expected);
      if (expected) {
        assert.equal(bt.openTrades.length, 0, 'one exit cancels the other');
        assert.equal(bt.closedTrades.length, 1);
        assert.equal(bt.closedTrades[0].exit.id, 'in');
        assert.equal(bt.positionSize, 0);
      }
    });
  }
});

test('a trailing stop follows the best price since entry', async (t) => {
  // In at 100 on bar 1; the best price after bar 1 is 105, after bar 2 it is 120.
  const quads = [[100, 105, 99, 104], [104, 120, 100, 118], [115, 116, 107, 110]];
  await t.test('by a fraction: 10 % under 120 is 108', () => {
    assert.deepEqual(exitOf(run(quads, entry(1, { trailingStop: { pct: 0.1 } }))), [3, 108, 'trailing stop', 8]);
  });
  await t.test('by ticks: 1000 ticks of 0.01 under 120 is 110', () => {
    assert.deepEqual(exitOf(run(quads, entry(1, { trailingStop: { ticks: 1000 } }))), [3, 110, 'trailing stop', 10]);
  });
  await t.test('a stop-loss tighter than the trail is the stop that fills', () => {
    assert.deepEqual(exitOf(run(quads, entry(1, { stopLoss: 99, trailingStop: { pct: 0.5 } }))),
      [1, 99, 'stop loss', -1]);
  });
  await t.test('a short trail follows the lows', () => {
    const down = [[100, 101, 95, 96], [96, 97, 80, 82], [85, 89, 84, 88]];
    // Best 95, then 80; 10 % above 80 is 88, reached by the high of bar 3.
    assert.deepEqual(exitOf(run(down, entry(-1, { trailingStop: { pct: 0.1 } }))), [3, 88, 'trailing stop', 12]);
  });
});

test('exits of a limit entry filled inside the bar', async (t) => {
  // The limit fills at 98 inside bar 1; the high of 101 may have come before the fill, so only
  // the stop-loss is checked on that bar.
  const limit = (exits) => entry(1, exits, (size) => NodeSignal.Limit(size, 98));
  await t.test('the stop-loss fills on the entry bar', () => {
    assert.deepEqual(exitOf(run([[100, 101, 96, 99]], limit({ stopLoss: 97, takeProfit: 99 }))),
      [1, 97, 'stop loss', -1]);
  });
  await t.test('the take-profit waits for the next bar', () => {
    const bt = run([[100, 101, 97.5, 99], [99, 100, 98.5, 99.5]], limit({ stopLoss: 97, takeProfit: 99 }));
    assert.deepEqual(exitOf(bt), [2, 99, 'take profit', 1]);
  });
});

test('close mode: exits start on the bar after the entry fill at the close', () => {
  const bt = run([[100, 101, 94, 100], [100, 101, 94, 98]], entry(1, { stopLoss: 95 }), { processOrdersOnClose: true });
  // In at the close of bar 1 (100); bar 1's low of 94 came before; bar 2's low reaches 95.
  assert.deepEqual(exitOf(bt), [2, 95, 'stop loss', -5]);
  assert.equal(bt.closedTrades[0].exit.orderBarIndex, 2);
});

test('exits pay slippage and commission like any fill', () => {
  const bt = run([[100, 101, 94, 96]], entry(1, { stopLoss: 95 }),
    { slippage: { ticks: 1 }, commission: { perOrder: 1 } });
  // In at 100.01, out at 95 - 0.01 = 94.99; two commissions of 1.
  const t = bt.closedTrades[0];
  assert.deepEqual([t.entry.price, t.exit.price], [100.01, 94.99]);
  assert.ok(Math.abs(t.pnl - ((94.99 - 100.01) - 2)) < 1e-9);
  assert.equal(bt.commissionPaid, 2);
});

test('a trade closed by another order leaves no exit behind', () => {
  const bt = new NodeBacktest(quadCtx([SETUP, [100, 101, 99, 100], [100, 101, 99, 100], [100, 101, 80, 90]]), 1000);
  bt.next();
  bt.signal(entry(1, { stopLoss: 95 }));
  bt.next();
  bt.signal(NodeSignal.CloseAll());
  bt.next();  // closed at the open of bar 2
  bt.signal(NodeSignal.Size(1));
  bt.next();  // a new long at the open of bar 3: the old stop-loss must not close it
  assert.deepEqual(bt.closedTrades.map((t) => t.exit.comment), [null]);
  assert.equal(bt.openTrades.length, 1);
});
