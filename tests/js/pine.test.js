'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const bw = require('../..');
const { homepage } = require('../../package.json');
const { DAY, T0 } = require('./support/market');
const { makeCtx, run, traded, stock } = require('./support/backtest');

const GENERATED = /\n\/\/ Generated at (\d{4}-\d\d-\d\d \d\d:\d\d:\d\d(?:\.\d{3}|\.\d{6}|\.\d{9})?) UTC\n/;
const MAKER = /\n(\/\/ by [^\n]*)\n\n/;

// The export with its two varying lines (time and maker credit) replaced by fixed markers.
const masked = (text) => text.replace(GENERATED, '\n<generated>\n').replace(MAKER, '\n<maker>\n\n');

const header = (capital) =>
  '//@version=5' +
  `\nstrategy("Strategy export", overlay=true, initial_capital=${capital}, default_qty_type = strategy.percent_of_equity, default_qty_value = 100)` +
  '\n<generated>\n<maker>\n\n' +
  '\ntype Trade\n    string id\n    int entry_open_time_ms\n    int exit_open_time_ms\n    float size\n        ';
const LOOP =
  '\nopen_time_ms = time\n\nfor i = 0 to array.size(trades) - 1\n    item = array.get(trades, i)\n    qty = math.abs(item.size)\n\n' +
  '    if item.entry_open_time_ms == open_time_ms\n        _dir = item.size > 0 ? strategy.long : strategy.short\n' +
  '        strategy.order(id=item.id, direction=_dir, qty=qty)\n\n' +
  '    if item.exit_open_time_ms == open_time_ms\n        _dir = item.size > 0 ? strategy.short : strategy.long\n' +
  '        strategy.order(id=item.id, direction=_dir, qty=qty)\n    ';
const open = (i) => T0 + i * DAY;

test('toPine of a fixed backtest: open trades first, order bar open times, plain numbers', () => {
  const text = traded().toPine();
  // The open short (its order placed on bar 4), then the closed trades in closing order.
  const entries = [
    `Trade.new(id="0", entry_open_time_ms=${open(4)}, exit_open_time_ms=na, size=-1)`,
    `Trade.new(id="1", entry_open_time_ms=${open(0)}, exit_open_time_ms=${open(2)}, size=2)`,
    `Trade.new(id="2", entry_open_time_ms=${open(3)}, exit_open_time_ms=${open(4)}, size=1)`,
  ];
  assert.equal(masked(text), header('1000') + `\ntrades = array.from<Trade>(${entries.join(',')})` + LOOP);
});

test('the header lines: generation time in UTC and the maker credit with the homepage', () => {
  const before = Date.now();
  const text = traded().toPine();
  const [, when] = text.match(GENERATED);
  const ms = Date.parse(when.replace(' ', 'T') + 'Z');
  assert.ok(ms >= Math.floor(before / 1000) * 1000 && ms <= Date.now(), when);
  const [, maker] = text.match(MAKER);
  assert.ok(maker.startsWith('// by barwise'), maker);
  assert.ok(maker.includes(homepage), maker);
});

test('two exports are identical apart from the generation line', () => {
  const bt = traded();
  const a = bt.toPine();
  const b = bt.toPine();
  assert.equal(a.replace(GENERATED, ''), b.replace(GENERATED, ''));
});

test('initial capital and sizes in the shortest plain form', async (t) => {
  for (const [capital, text] of [[1000, '1000'], [2500.5, '2500.5'], [1e21, '1000000000000000000000'], [0.0001, '0.0001']]) {
    await t.test(`initial capital ${text}`, () => {
      const bt = new bw.NodeBacktest(makeCtx(), capital);
      assert.ok(bt.toPine().includes(`initial_capital=${text}, `));
    });
  }
  const bt = new bw.NodeBacktest(makeCtx({ minQty: 0.001 }), 1000);
  run(bt, (i) => { if (i === 0) bt.signal(bw.NodeSignal.Size(-0.125)); });
  assert.ok(bt.toPine().includes(', exit_open_time_ms=na, size=-0.125)'));
});

test('a backtest without trades exports an empty list', () => {
  const bt = run(new bw.NodeBacktest(makeCtx(), 1000));
  assert.equal(masked(bt.toPine()), header('1000') + '\ntrades = array.from<Trade>()' + LOOP);
});

test('a trade whose order bar cannot be exported is refused', () => {
  // Queued before the first bar: it fills at the open of bar 0, placed on bar -1.
  const early = new bw.NodeBacktest(makeCtx(), 1000);
  early.signal(bw.NodeSignal.Size(1));
  run(early);
  assert.equal(early.trades[0].entry.orderBarIndex, -1);
  assert.throws(() => early.toPine(), {
    message: 'Cannot export trade 0 to Pine: its entry order bar index -1 has no bar in the series',
    code: 'InvalidArg',
  });

  // A bar without an open time.
  const bars = [0, 1, 2].map((i) => new bw.NodeOhlcvBar(i === 1 ? null : new Date(open(i)), null, 100, 101, 99, 100, 1));
  const series = bw.NodeOhlcv.fromBars(bars);
  series.timeframe = bw.NodeTimeframe.Days(1);
  const bt = new bw.NodeBacktest(new bw.NodeCtx(series, stock({ minQty: 1, kind: bw.NodeSymKind.Unknown() })), 1000);
  run(bt, (i) => { if (i === 1) bt.signal(bw.NodeSignal.Size(1)); });
  assert.throws(() => bt.toPine(), {
    message: 'Cannot export trade 0 to Pine: bar 1 of its entry order has no open time',
    code: 'InvalidArg',
  });
  // The refusal changed nothing.
  assert.equal(bt.trades.length, 1);
});
