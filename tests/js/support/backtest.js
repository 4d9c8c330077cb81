'use strict';
// Small markets and backtests for the tests: daily bars from [open, close] pairs on a stock with
// ticks of 0.01, and a few fixed scenarios. Runnable as a child process:
// `node backtest.js <scenario>` prints the report of that scenario.
const bw = require('../../..');
const { series, DAY, T0 } = require('./market');

const { NodeBacktest, NodeCtx, NodeOhlcv, NodeOhlcvBar, NodeSignal, NodeSym, NodeSymKind, NodeTimeframe } = bw;

// A symbol with the given grid; a stock unless `kind` says otherwise.
function stock({ minTick = 0.01, minQty = 0.001, kind = NodeSymKind.Stock(), currency = null } = {}) {
  const s = new NodeSym();
  s.minTick = minTick;
  s.minQty = minQty;
  s.kind = kind;
  s.currency = currency;
  return s;
}

function backtest(pairs, { onClose = false, capital, sym = stock(), rf, af } = {}) {
  const ctx = new NodeCtx(series(pairs), sym);
  return new NodeBacktest(ctx, capital, onClose, rf, af);
}

// A Size signal, with an id when one is given.
// A daily context from [open, high, low, close] quads, one day a bar from T0.
function quadCtx(quads, sym = stock()) {
  const bars = quads.map(([o, h, l, c], i) => new NodeOhlcvBar(new Date(T0 + i * DAY), new Date(T0 + (i + 1) * DAY),
    o, h, l, c, 1000));
  const ohlcv = NodeOhlcv.fromBars(bars);
  ohlcv.timeframe = NodeTimeframe.Days(1);
  return new NodeCtx(ohlcv, sym);
}

// Bar 0 of the order tests: the signal is given after it.
const SETUP = [100, 100.5, 99.5, 100];

// Runs bar 0 of SETUP then `quads`, gives `sig` after bar 0, then runs the remaining bars.
function runAfterSetup(quads, sig, options = {}) {
  const bt = new NodeBacktest(quadCtx([SETUP, ...quads]), 1000, options);
  bt.next();
  bt.signal(sig);
  for (const _ of bt);
  return bt;
}

const size = (x, id) => {
  const s = NodeSignal.Size(x);
  if (id !== undefined) s.id = id;
  return s;
};

// The plain contents of a trade event, for deepEqual.
const event = (e) => e && { id: e.id, comment: e.comment, orderBarIndex: e.orderBarIndex, fillBarIndex: e.fillBarIndex,
  price: e.price };
const trade = (t) => ({ size: t.size, pnl: t.pnl, entry: event(t.entry), exit: event(t.exit) });

// Runs whole bars (advance, bar-open hook, bar-close hook) like iteration does, calling
// `onBar(i)` after each one.
function run(bt, onBar = () => {}) {
  const step = NodeBacktest.prototype.next;
  for (let i; (i = step.call(bt)) !== null;) {
    bt.onBarClose();
    onBar(i);
  }
  return bt;
}

// ---- The fixed scenarios of the report and Pine tests ----

// Opens and closes of six daily bars.
const PRICES = [
  [100, 101],
  [102, 103],
  [104, 106],
  [105, 100],
  [99, 98],
  [97, 99],
];

function makeCtx({ currency = 'USD', bars = PRICES, minQty = 1 } = {}) {
  return new NodeCtx(series(bars), stock({ minQty, currency, kind: NodeSymKind.Unknown() }));
}

// Orders fill at the next bar's open: long 2 at 102 closed at 105 (+6), long 1 at 99 closed at
// 97 (-2) by a sell of 2 whose remainder opens a short at 97, still open (marked at 99: -2).
const SIGNALS = { 0: 2, 2: -2, 3: 1, 4: -2 };

function traded(options = {}) {
  const bt = new NodeBacktest(makeCtx(options), options.capital ?? 1000);
  return run(bt, (i) => {
    if (SIGNALS[i] !== undefined) bt.signal(NodeSignal.Size(SIGNALS[i]));
  });
}

function untraded(options = {}) {
  return run(new NodeBacktest(makeCtx(options), 1000));
}

const SCENARIOS = {
  traded: () => traded(),
  untraded: () => untraded(),
  noCurrency: () => traded({ currency: null }),
  losing: () => {
    // Long 1 at 102, closed at 99: -3.
    const bt = new NodeBacktest(makeCtx(), 1000);
    return run(bt, (i) => {
      if (i === 0) bt.signal(NodeSignal.Size(1));
      if (i === 3) bt.signal(NodeSignal.Size(-1));
    });
  },
  // +3 then -3: a profit factor of exactly 1 and a win rate of exactly one half.
  even: () => {
    const bars = [[100, 100], [100, 100], [103, 103], [103, 103], [100, 100]];
    const bt = new NodeBacktest(makeCtx({ bars }), 1000);
    return run(bt, (i) => {
      if (i < 4) bt.signal(NodeSignal.Size(i % 2 === 0 ? 1 : -1));
    });
  },
  fresh: () => new NodeBacktest(makeCtx(), 1000),
};

module.exports = { quadCtx, runAfterSetup, SETUP, stock, backtest, size, event, trade, run, PRICES, makeCtx, traded, untraded, SCENARIOS };

if (require.main === module) {
  const make = SCENARIOS[process.argv[2]];
  if (!make) throw new Error(`unknown scenario ${process.argv[2]}`);
  make().display();
}
