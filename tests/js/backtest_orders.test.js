'use strict';
// Limit, stop and stop-limit orders, time in force, cancel and pendingOrders. Each case gives the
// bars as [open, high, low, close] and the fill worked out by hand from the fill rules.
const test = require('node:test');
const assert = require('node:assert/strict');
const { NodeBacktest, NodeSignal } = require('../..');
const { quadCtx, runAfterSetup, SETUP } = require('./support/backtest');

const run = runAfterSetup;

const entryOf = (bt) => {
  const t = bt.trades[0];
  return t && { bar: t.entry.fillBarIndex, price: t.entry.price };
};

test('fill rules, one bar at a time', async (t) => {
  // [what, signal, bars after bar 0, expected entry (null: no fill)]
  const cases = [
    ['buy limit: the low reaches it', () => NodeSignal.Limit(1, 98), [[100, 101, 97, 99]], { bar: 1, price: 98 }],
    ['buy limit touched exactly', () => NodeSignal.Limit(1, 98), [[100, 101, 98, 99]], { bar: 1, price: 98 }],
    ['buy limit: opened below it fills at the open', () => NodeSignal.Limit(1, 98), [[97, 99, 96, 98]], { bar: 1, price: 97 }],
    ['buy limit missed by a tick', () => NodeSignal.Limit(1, 98), [[100, 101, 98.01, 99]], null],
    ['sell limit touched exactly', () => NodeSignal.Limit(-1, 102), [[100, 102, 99, 101]], { bar: 1, price: 102 }],
    ['sell limit: opened above it', () => NodeSignal.Limit(-1, 102), [[103, 104, 101, 102]], { bar: 1, price: 103 }],
    ['buy stop: the high reaches it', () => NodeSignal.Stop(1, 102), [[100, 103, 99, 101]], { bar: 1, price: 102 }],
    ['buy stop: a gap through it fills at the open', () => NodeSignal.Stop(1, 102), [[104, 105, 103, 104]], { bar: 1, price: 104 }],
    ['sell stop: the low reaches it', () => NodeSignal.Stop(-1, 98), [[100, 101, 97, 99]], { bar: 1, price: 98 }],
    ['sell stop: a gap through it', () => NodeSignal.Stop(-1, 98), [[96, 97, 95, 96]], { bar: 1, price: 96 }],
    ['buy stop not reached', () => NodeSignal.Stop(1, 102), [[100, 101.99, 99, 101]], null],
    ['stop-limit: limit at or above the stop fills at the trigger', () => NodeSignal.StopLimit(1, 102, 103),
      [[100, 104, 99, 103]], { bar: 1, price: 102 }],
    ['stop-limit: triggered, not filled, then filled as a limit', () => NodeSignal.StopLimit(1, 102, 101),
      [[100, 103, 99, 102], [102, 103, 100.5, 102]], { bar: 2, price: 101 }],
    ['stop-limit: gapped past the stop, the limit takes the open', () => NodeSignal.StopLimit(1, 102, 105),
      [[104, 106, 103, 105]], { bar: 1, price: 104 }],
    ['stop-limit: gapped past the limit too, fills at the limit', () => NodeSignal.StopLimit(1, 102, 105),
      [[106, 107, 104, 106]], { bar: 1, price: 105 }],
  ];
  for (const [what, sig, quads, expected] of cases) {
    await t.test(what, () => {
      const bt = run(quads, sig());
      assert.deepEqual(entryOf(bt) ?? null, expected);
      if (expected) assert.equal(bt.pendingOrders.length, 0);
    });
  }
});

test('a stop-limit triggered but not filled waits, marked as triggered', () => {
  const bt = run([[100, 103, 99, 102]], NodeSignal.StopLimit(1, 102, 101));
  assert.equal(bt.trades.length, 0);
  assert.deepEqual(bt.pendingOrders, [{ order_id: 0, id: null, type: 'stop_limit', size: 1, limit_price: 101,
    stop_price: 102, triggered: true, live_from_bar_index: 1, last_bar_index: null }]);
});

test('an order never fills on the bar it is given on', () => {
  // Given after bar 1 while bar 1 reached the limit: it waits for bar 2.
  const bt = new NodeBacktest(quadCtx([SETUP, [100, 101, 97, 99], [100, 101, 99, 100]]), 1000);
  bt.next();
  bt.next();
  bt.signal(NodeSignal.Limit(1, 98));
  bt.next();
  assert.equal(bt.trades.length, 0);
});

test('close mode: the bar range fills at the close pass, at the limit', () => {
  const bt = run([[100, 101, 97, 99]], NodeSignal.Limit(1, 98), { processOrdersOnClose: true });
  const e = bt.trades[0].entry;
  assert.deepEqual([e.orderBarIndex, e.fillBarIndex, e.price], [1, 1, 98]);
  assert.equal(bt.trades[0].toJSON().entry_time, '2024-01-03T00:00:00+00:00');  // the close of bar 1
});

test('limit fills take slippage and commission', () => {
  const bt = run([[100, 101, 97, 99]], NodeSignal.Limit(2, 98),
    { slippage: { ticks: 2 }, commission: { percent: 0.001 } });
  assert.equal(bt.trades[0].entry.price, 98.02);
  assert.ok(Math.abs(bt.commissionPaid - 0.001 * 2 * 98.02) < 1e-12);
});

test('time in force: live for that many bars, then gone', () => {
  const sig = NodeSignal.Limit(1, 90);
  sig.timeInForce = 2;
  const bt = new NodeBacktest(quadCtx([SETUP, [100, 101, 99, 100], [100, 101, 99, 100], [100, 101, 89, 100]]), 1000);
  bt.next();
  bt.signal(sig);
  bt.next();
  bt.next();
  assert.equal(bt.pendingOrders[0].last_bar_index, 2);
  bt.next();  // bar 3 would fill it, but it lived on bars 1 and 2 only
  assert.deepEqual([bt.pendingOrders.length, bt.trades.length], [0, 0]);
});

test('cancel takes the orders of an id off the queue', () => {
  const bt = new NodeBacktest(quadCtx([SETUP, [100, 101, 97, 99]]), 1000);
  bt.next();
  const a = NodeSignal.Limit(1, 98);
  a.id = 'dip';
  bt.signal(a);
  bt.signal(NodeSignal.Stop(1, 200));
  bt.cancel('dip');
  assert.deepEqual(bt.pendingOrders.map((o) => o.type), ['stop']);
  assert.throws(() => bt.cancel('dip'), { code: 'InvalidArg', message: 'cancel: no pending order has the id "dip"' });
  bt.next();
  assert.equal(bt.trades.length, 0);
});

test('bad order terms are refused naming the field, and nothing is queued', async (t) => {
  const cases = [
    ['Limit without a price', () => NodeSignal.Limit(1), 'Signal limitPrice is required by NodeSignal.Limit'],
    ['Stop without a price', () => NodeSignal.Stop(1), 'Signal stopPrice is required by NodeSignal.Stop'],
    ['StopLimit without its limit', () => NodeSignal.StopLimit(1, 100), 'Signal limitPrice is required by NodeSignal.StopLimit'],
    ['a negative limit', () => NodeSignal.Limit(1, -5), 'Signal limitPrice must be a finite number above 0, got -5'],
    ['a NaN stop', () => NodeSignal.Stop(1, NaN), 'Signal stopPrice must be a finite number above 0, got NaN'],
    ['time in force 0', () => { NodeSignal.Size(1).timeInForce = 0; }, 'Signal timeInForce must be a whole number of bars of at least 1, got 0'],
    ['time in force 1.5', () => { NodeSignal.Size(1).timeInForce = 1.5; }, 'Signal timeInForce must be a whole number of bars of at least 1, got 1.5'],
    ['a negative stop-loss', () => { NodeSignal.Size(1).stopLoss = -1; }, 'Signal stopLoss price must be a finite number above 0, got -1'],
    ['a zero take-profit pct', () => { NodeSignal.Size(1).takeProfit = { pct: 0 }; }, 'Signal takeProfit pct must be a finite number above 0, got 0'],
    ['a stop-loss of the wrong shape', () => { NodeSignal.Size(1).stopLoss = 'low'; }, 'Signal stopLoss must be a price or { pct: number }, got String'],
    ['a trail of 100 %', () => { NodeSignal.Size(1).trailingStop = { pct: 1 }; }, 'Signal trailingStop pct must be below 1, got 1'],
    ['a trail with two distances', () => { NodeSignal.Size(1).trailingStop = { pct: 0.1, ticks: 3 }; }, 'Signal trailingStop takes one of its keys, not several'],
    ['a trail without a distance', () => { NodeSignal.Size(1).trailingStop = {}; }, 'Signal trailingStop must be { pct: number } or { ticks: number }'],
  ];
  for (const [what, make, message] of cases) {
    await t.test(what, () => assert.throws(make, { code: 'InvalidArg', message }));
  }

  const refused = [
    ['a stop-loss above a buy limit', () => { const s = NodeSignal.Limit(1, 100); s.stopLoss = 105; return s; },
      'Signal stopLoss 105 is on the wrong side of the entry: a buy needs it below 100'],
    ['a take-profit above a sell stop', () => { const s = NodeSignal.Stop(-1, 100); s.takeProfit = 101; return s; },
      'Signal takeProfit 101 is on the wrong side of the entry: a sell needs it below 100'],
    ['a market stop-loss above the mark', () => { const s = NodeSignal.Size(1); s.stopLoss = 100.5; return s; },
      'Signal stopLoss 100.5 is on the wrong side of the entry: a buy needs it below 100'],
    ['a limit order of NaN contracts', () => NodeSignal.Limit(NaN, 100), 'Signal size of a limit order must be a finite number'],
  ];
  for (const [what, make, message] of refused) {
    await t.test(what, () => {
      const bt = new NodeBacktest(quadCtx([SETUP, [100, 101, 99, 100]]), 1000);
      bt.next();
      assert.throws(() => bt.signal(make()), { code: 'InvalidArg', message });
      assert.deepEqual(bt.pendingOrders, []);
      bt.signal(NodeSignal.Long());  // the equity fraction was left alone: Long still queues
      assert.equal(bt.pendingOrders.length, 1);
    });
  }
});

test('order terms survive toJSON and fromJSON, and a plain signal serialises as before', () => {
  const s = NodeSignal.StopLimit(2, 101, 102);
  s.id = 'brk';
  s.timeInForce = 3;
  s.stopLoss = { pct: 0.05 };
  s.takeProfit = 120;
  s.trailingStop = { ticks: 25 };
  const json = s.toJSON();
  assert.deepEqual(json, { kind: { kind: 'Size', value: 2 }, id: 'brk', comment: null, limit_price: 102, stop_price: 101,
    time_in_force: 3, stop_loss: { pct: 0.05 }, take_profit: 120, trailing_stop: { ticks: 25 } });
  assert.deepEqual(NodeSignal.fromJSON(json).toJSON(), json);
  assert.equal(s.toString(), 'Signal { kind: Size(2.0), id: Some("brk"), comment: None, limit_price: 102.0, '
    + 'stop_price: 101.0, time_in_force: 3, stop_loss: Pct(0.05), take_profit: Price(120.0), trailing_stop: Ticks(25.0) }');
  assert.deepEqual(Object.keys(NodeSignal.Size(1).toJSON()), ['kind', 'id', 'comment']);
  assert.throws(() => NodeSignal.fromJSON({ kind: { kind: 'Size', value: 1 }, limit_price: -1 }),
    { code: 'InvalidArg', message: 'Signal limitPrice must be a finite number above 0, got -1' });
});
