'use strict';
// The trade table: trade.toJSON(), bt.tradeTable() and bt.tradesCsv(), worked out by hand.
const test = require('node:test');
const assert = require('node:assert/strict');
const { NodeBacktest, NodeCtx, NodeSignal } = require('../..');
const { backtest, stock } = require('./support/backtest');
const { rising, series } = require('./support/market');

// Bars of the fixture open on 2024-01-01 + i days and close a day later; high and low are one
// above and one below the larger and smaller of open and close.
const PAIRS = [[100, 100], [100, 110], [110, 105], [105, 90], [90, 100], [100, 120]];
const day = (i) => `2024-01-${String(1 + i).padStart(2, '0')}T00:00:00+00:00`;
const signal = (x, id) => {
  const s = NodeSignal.Size(x);
  if (id !== undefined) s.id = id;
  return s;
};

// Long 1 'L' at the open of bar 1 (100), out by 'x' at the open of bar 3 (105);
// short 2 's' at the open of bar 4 (90), out by 'c' at the open of bar 5 (100).
function traded(options = {}, ids = { 0: 'L', 2: 'x', 3: 's', 4: 'c' }) {
  const bt = backtest(PAIRS, options);
  const plan = { 0: 1, 2: -1, 3: -2, 4: 2 };
  for (const i of bt) if (plan[i]) bt.signal(signal(plan[i], ids[i]));
  return bt;
}

const LONG = {
  id: 0, direction: 'long', size: 1, entry_id: 'L', exit_id: 'x', entry_bar_index: 1, exit_bar_index: 3,
  entry_time: day(1), exit_time: day(3), entry_price: 100, exit_price: 105, pnl: 5, return_pct: 0.05,
  commission: 0, duration_bars: 2,
  highest_price: 111, lowest_price: 99,  // bars 1 and 2 after the entry; out at the open of bar 3
};
const SHORT = {
  id: 1, direction: 'short', size: -2, entry_id: 's', exit_id: 'c', entry_bar_index: 4, exit_bar_index: 5,
  entry_time: day(4), exit_time: day(5), entry_price: 90, exit_price: 100, pnl: -20, return_pct: -20 / 180,
  commission: 0, duration_bars: 1, highest_price: 101, lowest_price: 89,
};

test('trade.toJSON() and bt.tradeTable()', () => {
  const bt = traded();
  assert.deepEqual(bt.closedTrades.map((t) => t.toJSON()), [LONG, SHORT]);
  assert.deepEqual(bt.tradeTable(), [LONG, SHORT]);
  assert.equal(JSON.stringify(bt.closedTrades[0]), JSON.stringify(LONG));
});

test('an open trade has no exit yet', () => {
  const bt = backtest(rising(3));
  bt.next();
  bt.signal(signal(2));
  bt.next();  // long 2 at 101, marked at 101.5
  assert.deepEqual(bt.tradeTable(), [{
    id: 0, direction: 'long', size: 2, entry_id: null, exit_id: null, entry_bar_index: 1, exit_bar_index: null,
    entry_time: day(1), exit_time: null, entry_price: 101, exit_price: null, pnl: 1, return_pct: 1 / 202,
    commission: 0, duration_bars: null, highest_price: 102.5, lowest_price: 100,
  }]);
});

test('close mode records the close times', () => {
  const bt = traded({ onClose: true });
  // Close mode: in at the close of bar 1 (110), out at the close of bar 3 (90).
  const [long] = bt.tradeTable();
  assert.deepEqual([long.entry_time, long.exit_time, long.entry_price, long.exit_price, long.pnl],
    [day(2), day(4), 110, 90, -20]);
  // Held into bars 2 and 3: their highs and lows (111, 104; 106, 89).
  assert.deepEqual([long.highest_price, long.lowest_price], [111, 89]);
});

test('a row carries the commission of the trade and its pnl net of it', () => {
  const bt = new NodeBacktest(new NodeCtx(series(PAIRS), stock()), 1000, { commission: { perOrder: 1.5 } });
  const plan = { 0: 1, 2: -1 };
  for (const i of bt) if (plan[i]) bt.signal(signal(plan[i]));
  const [long] = bt.tradeTable();
  assert.deepEqual([long.commission, long.pnl, long.return_pct], [3, 2, 0.02]);  // 5 - 1.5 - 1.5
});

test('tradesCsv(): a header and one row per trade', () => {
  const bt = traded();
  const header = 'id,direction,size,entry_id,exit_id,entry_bar_index,exit_bar_index,entry_time,exit_time,entry_price,'
    + 'exit_price,pnl,return_pct,commission,duration_bars,highest_price,lowest_price';
  const row = (t) => [t.id, t.direction, t.size, t.entry_id, t.exit_id, t.entry_bar_index, t.exit_bar_index, t.entry_time,
    t.exit_time, t.entry_price, t.exit_price, t.pnl, t.return_pct, t.commission, t.duration_bars, t.highest_price,
    t.lowest_price].join(',');
  assert.equal(bt.tradesCsv(), `${header}\n${row(LONG)}\n${row(SHORT)}\n`);
  assert.equal(backtest(rising(2)).tradesCsv(), `${header}\n`);
});

test('tradesCsv() escapes order tags', async (t) => {
  const cases = [
    ['a,b', '"a,b"'],
    ['say "hi"', '"say ""hi"""'],
    ['two\nlines', '"two\nlines"'],
    ['=HYPERLINK("x")', '"\'=HYPERLINK(""x"")"'],
    ['+1', "'+1"],
    ['-2', "'-2"],
    ['@sum', "'@sum"],
    ['plain', 'plain'],
  ];
  for (const [id, cell] of cases) {
    await t.test(JSON.stringify(id), () => {
      const csv = traded({}, { 0: id, 2: 'x', 3: 's', 4: 'c' }).tradesCsv();
      const line = csv.slice(csv.indexOf('\n') + 1);
      assert.ok(line.startsWith(`0,long,1,${cell},x,1,3,`), line);
    });
  }
});

test('trade.toJSON() carries the id, commission, times and price range of the trade', () => {
  const bt = new NodeBacktest(new NodeCtx(series(PAIRS), stock()), 1000, { commission: { perOrder: 1.5 } });
  const plan = { 0: 1, 2: -1, 3: -2, 4: 2 };
  for (const i of bt) if (plan[i]) bt.signal(signal(plan[i]));
  const [long, short] = bt.closedTrades.map((t) => t.toJSON());
  assert.deepEqual([long.id, long.commission, long.pnl, long.entry_time, long.exit_time, long.highest_price,
    long.lowest_price], [0, 3, 2, day(1), day(3), 111, 99]);
  assert.deepEqual([short.id, short.commission, short.entry_time, short.exit_time], [1, 3, day(4), day(5)]);
});
