'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const { NodeTrade, NodeTradeEvent, NodeTradeDirection, NodeSignal, NodeCtxSkip } = require('../..');
const { rising, parkMiller } = require('./support/market');
const { backtest } = require('./support/backtest');

test('trade directions', async (t) => {
  const cases = [[1, 1], [0, 1], [-0, 1], [-0.0001, -1], [NaN, -1], [Infinity, 1], [-Infinity, -1]];
  for (const [x, number] of cases) {
    await t.test(`fromNumber(${Object.is(x, -0) ? '-0' : x})`, () => {
      assert.equal(NodeTradeDirection.fromNumber(x).toNumber(), number);
    });
  }
  const long = NodeTradeDirection.fromNumber(1);
  assert.equal(long.Short().toNumber(), -1);
  assert.equal(long.Long().toNumber(), 1);
  assert.equal(NodeTradeDirection.fromNumber(-1).Long().toNumber(), 1);
  assert.equal(typeof NodeTradeDirection.Long, 'undefined', 'Long and Short are instance members');
  assert.throws(() => NodeTradeDirection.fromNumber('1'), { code: 'NumberExpected' });
});

test('a trade reports its direction from its size', () => {
  const bt = backtest(rising(4));
  bt.next();
  bt.signal(NodeSignal.Size(-2));
  bt.next();
  const [t] = bt.openTrades;
  assert.ok(t instanceof NodeTrade && t.entry instanceof NodeTradeEvent);
  assert.equal(t.direction.toNumber(), -1);
  assert.deepEqual([t.isActive, t.isClosed, t.exit, t.entry.comment], [true, false, null, null]);
});

test('no public constructors; members are read-only', async (t) => {
  for (const C of [NodeTrade, NodeTradeEvent, NodeTradeDirection]) {
    await t.test(`new ${C.name}`, () => {
      assert.throws(() => new C(), { message: 'Class contains no `constructor`, can not new it!' });
    });
  }
  const bt = backtest(rising(3));
  bt.next();
  bt.signal(NodeSignal.Size(1));
  bt.next();
  const trade = bt.openTrades[0];
  assert.throws(() => { 'use strict'; trade.size = 5; }, TypeError);
  assert.equal(trade.size, 1);
});

test('any mix of hooks, steps, skips and signals keeps the books consistent', async (t) => {
  const rand = parkMiller(3);
  const signals = [() => NodeSignal.Size(Math.round((rand() - 0.5) * 8) / 2), () => NodeSignal.EquityPct(rand() * 2 - 1),
    () => NodeSignal.Long(), () => NodeSignal.Short(), () => NodeSignal.CloseAll(), () => NodeSignal.Hold()];
  for (const onClose of [false, true]) {
    await t.test(onClose ? 'orders on close' : 'orders on open', () => {
      const bt = backtest(rising(40), { onClose });
      let opens = 0;
      for (let k = 0; k < 400; k++) {
        const op = Math.floor(rand() * 7);
        const before = bt.equityList.length;
        if (op === 0) bt.next();
        else if (op === 1) { if (Object.getPrototypeOf(bt).next.call(bt) !== null) opens++; }
        else if (op === 2) { try { bt.onBarOpen(); opens++; } catch { /* no bar yet is fine */ } }
        else if (op === 3) bt.onBarClose();
        else if (op === 4) bt.skip(NodeCtxSkip.bars(Math.floor(rand() * 3)));
        else bt.signal(signals[Math.floor(rand() * signals.length)]());
        if (op === 0 || op === 4) opens += bt.equityList.length - before;
        assert.equal(bt.equityList.length, opens);
        assert.equal(bt.netEquityList.length, opens);
        const open = bt.openTrades;
        const sum = open.reduce((a, t) => a + t.size, 0);
        assert.ok(Math.abs(bt.positionSize - sum) < 1e-9, 'position is the sum of the open trades');
        assert.ok(open.every((t) => Math.sign(t.size) === Math.sign(open[0].size)), 'open trades share one side');
        assert.equal(bt.winningTradesCount() + bt.losingTradesCount, BigInt(bt.closedTrades.length));
      }
    });
  }
});
