'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const { NodeBacktest, NodeCtx, NodeCtxSkip, NodeSignal, NodeSym, NodeSymKind, NodeTimeframe, NodeOhlcv } = require('../..');
const { bars, series, rising, walk, advance } = require('./support/market');
const { stock, backtest, size, event, trade } = require('./support/backtest');

test('construction: defaults, annualization and the checks in order', async (t) => {
  const bt = new NodeBacktest(new NodeCtx(series(rising(3)), stock()));
  assert.equal(bt.initialCapital, 1000);
  assert.equal(bt.processOrdersOnClose, false);
  assert.ok(Number.isNaN(new NodeBacktest(new NodeCtx(series(rising(3)), stock()), NaN).initialCapital));

  const refused = [
    [stock({ minQty: NaN }), NodeTimeframe.Ticks(1), 'Ctx Symbol is not suitable for backtesting, min_qty is NaN or min_tick is NaN'],
    [stock({ minTick: NaN, minQty: 0 }), NodeTimeframe.Days(1), 'Ctx Symbol is not suitable for backtesting, min_qty is NaN or min_tick is NaN'],
    [stock({ minQty: 0 }), NodeTimeframe.Ranges(5), 'Unknown timeframe'],
    [stock({ minQty: 0 }), NodeTimeframe.Unknown(), 'Unknown timeframe'],
    [stock({ minQty: 0 }), NodeTimeframe.Days(1), 'min_qty must be greater than 0.0'],
    [stock({ minQty: 5 }), NodeTimeframe.Days(1),
      'min_qty must give a quantity grid: round(1 / min_qty) must be a positive finite number'],
    [stock({ minTick: 0 }), NodeTimeframe.Days(1), 'min_tick must be a positive finite number'],
  ];
  for (const [sym, tf, message] of refused) {
    await t.test(`${tf}, min tick ${sym.minTick}, min qty ${sym.minQty}: ${message}`, () => {
      assert.throws(() => new NodeBacktest(new NodeCtx(series(rising(2), tf), sym)), { message, code: 'InvalidArg' });
    });
  }
  // A given factor needs no timeframe; NaN asks for the computed one.
  assert.doesNotThrow(() => new NodeBacktest(new NodeCtx(series(rising(2), NodeTimeframe.Ticks(1)), stock()), 1000, false, 0, 12));
  assert.throws(() => new NodeBacktest(new NodeCtx(series(rising(2), NodeTimeframe.Ticks(1)), stock()), 1000, false, 0, NaN),
    { message: 'Unknown timeframe' });

  assert.throws(() => new NodeBacktest({}), { message: 'Failed to recover `NodeCtx` type from napi value' });
  assert.throws(() => new NodeBacktest(new NodeCtx(series(rising(2)), stock()), '1000'), { code: 'NumberExpected' });
  assert.throws(() => new NodeBacktest(new NodeCtx(series(rising(2)), stock()), 1000, 1), { code: 'BooleanExpected' });
});

test('iteration runs whole bars; the prototype next opens a bar only', () => {
  const bt = backtest(rising(3));
  assert.ok(Object.hasOwn(bt, 'next'));
  assert.notEqual(bt.next, NodeBacktest.prototype.next);
  assert.deepEqual([...bt], [0, 1, 2]);
  assert.equal(bt.equityList.length, 3);
  assert.deepEqual(bt.next(), { done: true });
  assert.equal(bt.equityList.length, 3, 'the end appends nothing');
  assert.equal(NodeBacktest.prototype.next.call(bt), null);
  assert.throws(() => bt.next(1), { message: 'Value is not undefined' });

  const proto = backtest(rising(3), { onClose: true });
  assert.equal(NodeBacktest.prototype.next.call(proto), 0);
  // Close mode, bar-open hook only: the entry waits for its pass, which never runs.
  assert.ok(Number.isNaN(proto.equity));
  assert.equal(proto.equityList.length, 1);

  // Breaking out of a loop finishes this object's iteration, not the context.
  const br = backtest(rising(5));
  for (const i of br) if (i === 1) break;
  assert.equal(br.next().done, true);
  assert.equal(br.ctx.barIndex, 1);
  assert.equal(br[Symbol.iterator](), br);
});

test('the ctx getter shares the context and runs no hook', () => {
  const bt = backtest(rising(4));
  bt.next();
  const ctx = bt.ctx;
  assert.ok(ctx instanceof NodeCtx);
  assert.equal(ctx.barIndex, 0);
  ctx.next();
  assert.equal(bt.ctx.barIndex, 1);
  assert.equal(bt.equityList.length, 1);
  assert.deepEqual(bt.next(), { value: 2, done: false });
  assert.equal(bt.length(), 4);
});

test('open mode: an order given on bar 5 fills at the open of bar 6', () => {
  const bt = backtest(rising(10));
  advance(bt, 6, NodeBacktest.prototype.next);
  bt.signal(size(1, 'buy'));
  assert.deepEqual(bt.next(), { value: 6, done: false });
  const [t] = bt.openTrades;
  assert.deepEqual(event(t.entry), { id: 'buy', comment: null, orderBarIndex: 5, fillBarIndex: 6, price: 106 });
  assert.equal(t.exit, null);
  assert.equal(t.pnl, 0.5);  // marked at the close of the fill bar
  assert.equal(bt.equity, 1000.5);
  assert.equal(bt.netEquity, 1000);
  assert.equal(bt.instrumentSize, 106.5);
  assert.equal(bt.firstEntryBarIndex, 6n);
});

test('an order queued before bar 0 fills at its open with order bar index -1', () => {
  const bt = backtest(rising(3));
  bt.signal(size(2));
  bt.next();
  assert.deepEqual(event(bt.openTrades[0].entry), { id: null, comment: null, orderBarIndex: -1, fillBarIndex: 0, price: 100 });
});

test('close mode: iteration fills at the next close, the script flow at the same close', () => {
  const it = backtest(rising(10), { onClose: true });
  for (const i of it) if (i === 5) break;
  it.signal(size(1));
  NodeBacktest.prototype.next.call(it);  // bar 6 opened
  it.onBarClose();
  assert.deepEqual(event(it.openTrades[0].entry), { id: null, comment: null, orderBarIndex: 6, fillBarIndex: 6, price: 106.5 });

  const script = backtest(rising(10), { onClose: true });
  const ctx = script.ctx;
  for (let bar = 0; bar <= 5; bar++) {
    ctx.next();
    script.onBarOpen();
    if (bar === 5) {
      assert.ok(Number.isNaN(script.equity));
      script.signal(NodeSignal.Long());  // reads the pending NaN equity: no order
      script.signal(size(1, 's'));
    }
    script.onBarClose();
  }
  assert.deepEqual(event(script.openTrades[0].entry), { id: 's', comment: null, orderBarIndex: 5, fillBarIndex: 5, price: 105.5 });
  assert.equal(script.openTrades.length, 1);
  assert.equal(script.equity, 1000);
});

test('EquityPct: sized from equity and mark, one order per change, bar-index tags', () => {
  const bt = backtest(rising(6));
  bt.next();  // bar 0: equity 1000, mark 100.5
  bt.signal(NodeSignal.EquityPct(1));
  bt.next();  // fills at 101
  const [t] = bt.openTrades;
  assert.equal(t.size, 9.95);
  assert.equal(t.entry.id, '0');
  bt.signal(NodeSignal.EquityPct(1));
  bt.signal(NodeSignal.EquityPct(1.000009));
  bt.next();
  assert.equal(bt.openTrades.length, 1, 'no change in fraction: no order');
  const all = NodeSignal.CloseAll();
  all.id = 'flat';
  bt.signal(all);
  bt.signal(NodeSignal.EquityPct(-0.5));
  bt.next();  // bar 3 at 103: close 9.95, open the short
  assert.equal(bt.closedTrades.length, 1);
  assert.equal(bt.closedTrades[0].exit.id, 'flat');
  assert.equal(bt.openTrades[0].entry.id, '2');
  assert.ok(bt.openTrades[0].size < 0);
  assert.equal(bt.positionSize, bt.openTrades[0].size);
});

test('EquityPct before any bar queues a NaN order; equity at or below 0 queues none', () => {
  const bt = backtest(rising(3));
  bt.signal(NodeSignal.EquityPct(1));
  bt.next();
  assert.equal(bt.trades.length, 0);
  const broke = backtest(rising(3), { capital: 0 });
  broke.next();
  broke.signal(NodeSignal.Long());
  broke.next();
  assert.equal(broke.trades.length, 0);
});

test('CloseAll without a position opens nothing; Hold does nothing', () => {
  const bt = backtest(rising(3));
  bt.next();
  bt.signal(NodeSignal.CloseAll());
  bt.signal(NodeSignal.Hold());
  bt.next();
  assert.equal(bt.trades.length, 0);
  assert.equal(bt.positionSize, 0);
});

test('netting one order against several trades oldest first, and partial closes', () => {
  const bt = backtest(rising(6));
  bt.next();
  bt.signal(size(2, 'a'));
  bt.signal(size(1, 'b'));  // two orders of one pass: one price, queue order
  bt.next();  // both at 101
  assert.deepEqual(bt.openTrades.map((t) => [t.size, t.entry.id, t.entry.price]), [[2, 'a', 101], [1, 'b', 101]]);
  bt.signal(size(-0.5, 'trim'));
  bt.next();  // 102
  assert.deepEqual(bt.openTrades.map((t) => [t.size, t.entry.id, t.entry.fillBarIndex]), [[1.5, 'a', 1], [1, 'b', 1]]);
  assert.deepEqual(trade(bt.closedTrades[0]), {
    size: 0.5, pnl: 0.5,
    entry: { id: 'a', comment: null, orderBarIndex: 0, fillBarIndex: 1, price: 101 },
    exit: { id: 'trim', comment: null, orderBarIndex: 1, fillBarIndex: 2, price: 102 },
  });
  bt.signal(size(-4, 'flip'));
  bt.next();  // 103
  assert.deepEqual(bt.closedTrades.map((t) => [t.size, t.entry.id, t.exit.id, t.pnl]),
    [[0.5, 'a', 'trim', 0.5], [1.5, 'a', 'flip', 3], [1, 'b', 'flip', 2]]);
  assert.deepEqual(bt.openTrades.map((t) => [t.size, t.entry.id]), [[-1.5, 'flip']]);
  assert.equal(bt.positionSize, -1.5);
  // trades: open first, then the closed ones.
  assert.deepEqual(bt.trades.map((t) => t.isActive), [true, false, false, false]);
});

test('NaN orders: nothing with no position, a trade error with one', () => {
  const bt = backtest(rising(5));
  bt.next();
  bt.signal(size(NaN));
  bt.next();
  assert.equal(bt.trades.length, 0);
  bt.signal(size(1));
  bt.next();
  bt.signal(size(NaN));
  assert.throws(() => bt.next(), { message: 'Trade error: InvalidTradeSize(NaN)', code: 'InvalidArg' });
});

test('hooks: two bar-open hooks append two entries; no current bar is an error', () => {
  const bt = backtest(rising(3));
  bt.next();
  bt.onBarOpen();
  assert.equal(bt.equityList.length, 2);
  bt.onBarClose();
  assert.equal(bt.equityList.length, 2);

  const empty = new NodeBacktest(new NodeCtx(series([]), stock()));
  assert.throws(() => empty.onBarOpen(), { code: 'InvalidArg' });
  assert.throws(() => empty.onBarClose(), { code: 'InvalidArg' });
  assert.deepEqual(empty.equityList, []);
  assert.equal(NodeBacktest.prototype.next.call(empty), null);
  empty.skip(NodeCtxSkip.end());
  assert.deepEqual([...empty], []);
});

test('skip runs whole bars up to the target', async (t) => {
  const cases = [
    // [setup steps, skip kind, its argument, expected bar index, expected equity entries]
    [0, 'barIndex', 0, 0, 1],
    [1, 'bars', 0, 0, 1],
    [2, 'bars', 3, 4, 5],
    [0, 'end', undefined, 9, 10],
    [3, 'barIndex', 1, 2, 3],  // at or before the current bar: nothing
    [3, 'bars', 100, 9, 10],
    [0, 'openTimeGeq', new Date(Date.UTC(2024, 0, 7, 12)), 7, 8],
    [0, 'openTimeEq', new Date(Date.UTC(2030, 0, 1)), 9, 10],
  ];
  for (const [steps, kind, arg, index, entries] of cases) {
    await t.test(`${kind}(${arg instanceof Date ? arg.toISOString() : arg ?? ''}) after ${steps} bars`, () => {
      const bt = advance(backtest(rising(10)), steps);
      bt.skip(NodeCtxSkip[kind](arg));
      assert.deepEqual([bt.ctx.barIndex, bt.equityList.length], [index, entries]);
    });
  }
  // Skipped bars are whole bars: an order queued before the skip fills on the first of them.
  const bt = backtest(rising(10));
  bt.next();
  bt.signal(size(1));
  bt.skip(NodeCtxSkip.bars(3));
  assert.equal(bt.openTrades[0].entry.fillBarIndex, 1);
  assert.throws(() => bt.skip(3), { message: 'Failed to recover `NodeCtxSkip` type from napi value' });
});

test('bars appended to the series are traded on', () => {
  const ohlcv = series(rising(2));
  const bt = new NodeBacktest(new NodeCtx(ohlcv, stock()));
  assert.deepEqual([...bt], [0, 1]);
  ohlcv.push(bars(rising(3))[2]);
  assert.deepEqual([...bt], [2]);
});

test('trades are snapshots', () => {
  const bt = backtest(rising(4));
  bt.next();
  bt.signal(size(1));
  bt.next();
  const before = bt.openTrades[0];
  bt.signal(size(-1));
  bt.next();
  assert.equal(before.isActive, true);
  assert.equal(before.exit, null);
  const after = bt.closedTrades[0];
  assert.equal(after.isActive, false);
  assert.equal(after.isClosed, true);
  assert.notEqual(after.entry, after.entry);
  assert.deepEqual(event(after.entry), event(after.entry));
});

test('receivers and arguments of other classes are refused', () => {
  const bt = backtest(rising(2));
  assert.throws(() => NodeBacktest.prototype.signal.call({}, NodeSignal.Hold()),
    { message: 'Failed to unwrap exclusive reference of `NodeBacktest` type from napi value' });
  assert.throws(() => bt.signal({ kind: { kind: 'Hold', value: [] } }),
    { message: 'Failed to recover `NodeSignal` type from napi value' });
  assert.throws(() => Object.getOwnPropertyDescriptor(NodeBacktest.prototype, 'equity').get.call(new NodeSym()),
    { message: 'Failed to unwrap exclusive reference of `NodeBacktest` type from napi value' });
  void NodeOhlcv; void NodeSymKind;
});

test('an always-in-the-market EquityPct strategy matches an independent simulation', () => {
  // A seeded walk, a plain moving-average cross, and the same rules worked out by hand: fills at
  // the next open, prices on whole ticks, sizes on the 0.001 grid, one order per change of side.
  const n = 3000;
  const pairs = walk(n, { seed: 7, start: 500 });
  const sym = stock({ minTick: 0.5, minQty: 0.001 });
  const bt = backtest(pairs, { capital: 10000, sym });
  const sma = (i, len) => (i + 1 < len ? NaN : pairs.slice(i + 1 - len, i + 1).reduce((a, [, c]) => a + c, 0) / len);
  const side = [];
  for (const i of bt) {
    const f = sma(i, 5), s = sma(i, 20);
    side.push(f === f && s === s ? (f > s ? 1 : -1) : 0);
    if (side[i] !== 0) bt.signal(side[i] > 0 ? NodeSignal.Long() : NodeSignal.Short());
  }

  const tick = (x) => Math.round(x / 0.5) * 0.5;
  const grid = (x) => Math.round(x * 1000 + 2 ** -52) / 1000;
  let pos = 0, entry = 0, net = 0, last = 0, pending = 0, closed = 0;
  const equity = [];
  for (let i = 0; i < n; i++) {
    const fill = tick(pairs[i][0]), mark = tick(pairs[i][1]);
    if (pending !== 0) {
      if (pos !== 0) {  // every change of side closes the whole trade
        net += (fill - entry) * pos;
        closed++;
      }
      pos = grid(pos + pending);
      entry = fill;
      pending = 0;
    }
    equity.push(10000 + net + (mark - entry) * pos);
    const x = side[i];
    if (x !== 0 && Math.abs(x - last) >= 1e-5) {
      const d = grid(x * equity[i] / mark - pos);
      if (d !== 0) { pending = d; last = x; }
    }
  }
  assert.ok(closed > 20, 'the walk trades');
  assert.equal(bt.closedTrades.length, closed);
  assert.ok(Math.abs(bt.netProfit - net) < 1e-6);
  assert.equal(bt.positionSize, pos);
  const curve = bt.equityList;
  assert.equal(curve.length, n);
  for (let i = 0; i < n; i++) assert.ok(Math.abs(curve[i] - equity[i]) < 1e-6, `bar ${i}`);
});
