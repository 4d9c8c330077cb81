'use strict';
// Bars with missing prices never fill or value anything at 0, and the direction counters count.
// Every expected figure below is worked out by hand from the [open, close] pairs.
const test = require('node:test');
const assert = require('node:assert/strict');
const { NodeSignal } = require('../..');
const { backtest, event } = require('./support/backtest');

const size = (x, id) => {
  const s = NodeSignal.Size(x);
  if (id) s.id = id;
  return s;
};

test('a bar without the fill price fills nothing: the orders wait for the next one', async (t) => {
  await t.test('open mode: a NaN open delays the exit by one bar', () => {
    const bt = backtest([[100, 100.5], [101, 101.5], [NaN, 102.5], [103, 103.5]]);
    bt.next();
    bt.signal(size(1, 'a'));
    bt.next();  // long 1 at 101, marked at 101.5
    bt.signal(size(-1, 'b'));
    bt.next();  // no open: still long, marked at 102.5
    assert.equal(bt.openTrades.length, 1);
    assert.equal(bt.openProfit, 1.5);
    bt.next();  // closed at 103
    assert.deepEqual(event(bt.closedTrades[0].exit), { id: 'b', comment: null, orderBarIndex: 2, fillBarIndex: 3, price: 103 });
    assert.equal(bt.closedTrades[0].pnl, 2);
    assert.deepEqual(bt.equityList, [1000, 1000.5, 1001.5, 1002]);
    assert.deepEqual(bt.netEquityList, [1000, 1000, 1000, 1002]);
  });

  await t.test('open mode: a NaN open on the entry bar opens at the next open', () => {
    const bt = backtest([[100, 100.5], [NaN, 101.5], [102, 102.5]]);
    bt.next();
    bt.signal(size(2));
    bt.next();
    assert.equal(bt.trades.length, 0);
    assert.equal(bt.equity, 1000);
    bt.next();
    assert.deepEqual(event(bt.openTrades[0].entry), { id: null, comment: null, orderBarIndex: 1, fillBarIndex: 2, price: 102 });
    assert.equal(bt.equity, 1001);  // (102.5 - 102) × 2
  });

  await t.test('close mode: a NaN close fills nothing and keeps the last mark', () => {
    const bt = backtest([[100, 100.5], [101, NaN], [102, 102.5]], { onClose: true });
    bt.next();
    bt.signal(size(1));
    bt.next();
    assert.equal(bt.trades.length, 0);
    assert.equal(bt.instrumentSize, 100.5);
    bt.next();
    assert.deepEqual(event(bt.openTrades[0].entry), { id: null, comment: null, orderBarIndex: 2, fillBarIndex: 2, price: 102.5 });
    assert.deepEqual(bt.equityList, [1000, 1000, 1000]);
  });
});

test('open trades are valued at the last real close', () => {
  const bt = backtest([[100, 100.5], [101, 101.5], [102, NaN], [103, 103.5]]);
  bt.next();
  bt.signal(size(2));
  bt.next();  // long 2 at 101: (101.5 - 101) × 2 = 1
  bt.next();  // no close: still valued at 101.5
  assert.equal(bt.instrumentSize, 101.5);
  assert.equal(bt.openProfit, 1);
  bt.next();  // (103.5 - 101) × 2 = 5
  assert.deepEqual(bt.equityList, [1000, 1001, 1001, 1005]);
});

test('EquityPct sizes only from a real mark price', async (t) => {
  await t.test('no close seen yet: nothing is queued', () => {
    const bt = backtest([[100, NaN], [101, NaN], [102, 102.5], [103, 103.5]]);
    bt.signal(NodeSignal.Long());  // before any bar
    bt.next();
    bt.signal(NodeSignal.Long());
    bt.next();
    assert.equal(bt.trades.length, 0);
    assert.equal(bt.equity, 1000);
    bt.signal(NodeSignal.Long());
    bt.next();  // sized after bar 1: still no close, nothing queued
    assert.equal(bt.trades.length, 0);
    bt.signal(NodeSignal.Long());  // 1000 / 102.5 = 9.7560... → 9.756
    bt.next();
    assert.equal(bt.openTrades[0].size, 9.756);
    assert.equal(bt.openTrades[0].entry.price, 103);
  });

  await t.test('a bar without a close sizes from the close before it', () => {
    const bt = backtest([[100, 100.5], [101, NaN], [102, 102.5]]);
    bt.next();
    bt.next();
    bt.signal(NodeSignal.Long());  // 1000 / 100.5 = 9.9502... → 9.95
    bt.next();
    assert.equal(bt.openTrades[0].size, 9.95);
    assert.ok(Number.isFinite(bt.equity));
  });
});

test('the direction counters count open and closed longs and shorts', () => {
  const bt = backtest([[100, 100], [101, 101], [102, 102], [103, 103], [104, 104], [105, 105]]);
  const counts = () => [bt.openLongsCount, bt.openShortsCount, bt.closedLongsCount, bt.closedShortsCount];
  bt.next();
  bt.signal(size(2));
  bt.next();
  assert.deepEqual(counts(), [1n, 0n, 0n, 0n]);
  bt.signal(size(-0.5));
  bt.next();  // a partial close: the long stays open, its closed part counts
  assert.deepEqual(counts(), [1n, 0n, 1n, 0n]);
  bt.signal(size(-3.5));
  bt.next();  // closes the long 1.5, opens a short 2
  assert.deepEqual(counts(), [0n, 1n, 2n, 0n]);
  bt.signal(size(2));
  bt.next();
  assert.deepEqual(counts(), [0n, 0n, 2n, 1n]);
});
