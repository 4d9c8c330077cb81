'use strict';
// A small market for the backtest tests: bars from [open, close] pairs, one day apart, on a stock
// with ticks of 0.01 and quantities on a grid of 0.001.
const { NodeOhlcv, NodeOhlcvBar, NodeTimeframe, NodeSym, NodeSymKind, NodeCtx, NodeBacktest } = require('../..');

const DAY = 86400000;
const T0 = Date.UTC(2024, 0, 1);

function bars(pairs) {
  return pairs.map(([open, close], i) => new NodeOhlcvBar(new Date(T0 + i * DAY), new Date(T0 + (i + 1) * DAY),
    open, Math.max(open, close) + 1, Math.min(open, close) - 1, close, 1000));
}

function stock({ minTick = 0.01, minQty = 0.001, kind = NodeSymKind.Stock() } = {}) {
  const s = new NodeSym();
  s.minTick = minTick;
  s.minQty = minQty;
  s.kind = kind;
  return s;
}

function series(pairs, timeframe = NodeTimeframe.Days(1)) {
  const o = NodeOhlcv.fromBars(bars(pairs));
  o.timeframe = timeframe;
  return o;
}

// Bar i opens at 100 + i and closes at 100.5 + i.
const rising = (n) => Array.from({ length: n }, (_, i) => [100 + i, 100.5 + i]);

function backtest(pairs, { onClose = false, capital, sym = stock(), rf, af } = {}) {
  const ctx = new NodeCtx(series(pairs), sym);
  return new NodeBacktest(ctx, capital, onClose, rf, af);
}

// The plain contents of a trade event, for deepEqual.
const event = (e) => e && { id: e.id, comment: e.comment, orderBarIndex: e.orderBarIndex, fillBarIndex: e.fillBarIndex,
  price: e.price };
const trade = (t) => ({ size: t.size, pnl: t.pnl, entry: event(t.entry), exit: event(t.exit) });

module.exports = { DAY, T0, bars, stock, series, rising, backtest, event, trade };
