'use strict';
// NodeBacktest.fromSignals runs, in one call, the loop
//   for (const i of bt) { if (entries[i]) bt.signal(size); else if (exits[i]) bt.signal(NodeSignal.CloseAll()); }
// The reference below is that loop, written out in JavaScript; every case compares the trades,
// both equity lists and every figure of the two backtests.
const test = require('node:test');
const assert = require('node:assert/strict');
const { NodeBacktest, NodeCtx, NodeSignal, NodeCtxSkip } = require('../..');
const { series, walk, mulberry32 } = require('./support/market');
const { stock, trade } = require('./support/backtest');

const GETTERS = [
  'equity', 'netEquity', 'positionSize', 'firstEntryBarIndex', 'losingTradesCount', 'netProfit', 'grossProfit',
  'grossLoss', 'openProfit', 'netProfitPct', 'grossProfitPct', 'grossLossPct', 'avgTrade', 'avgWinningTrade',
  'avgLosingTrade', 'avgWinLossRatio', 'profitFactor', 'winRate', 'initialCapital', 'processOrdersOnClose',
  'instrumentSize', 'commissionPaid', 'equityList', 'netEquityList', 'returnsList', 'pnlList',
];
const METHODS = ['winningTradesCount', 'sharpeRatio', 'sortinoRatio', 'expectancy'];

function everything(bt) {
  const out = { trades: bt.trades.map(trade), closed: bt.closedTrades.map(trade) };
  for (const k of GETTERS) out[k] = bt[k];
  for (const k of METHODS) out[k] = bt[k]();
  out.summary = bt.summary();
  out.csv = bt.tradesCsv();
  return out;
}

// The loop the native run must match, over the bars the context still has to run.
function looped(ctx, capital, { entries, exits, size, ...options }) {
  const bt = new NodeBacktest(ctx, capital, options);
  const closeAll = NodeSignal.CloseAll();
  let j = 0;
  for (const i of bt) {
    void i;
    if (entries[j]) bt.signal(Array.isArray(size) || ArrayBuffer.isView(size) ? NodeSignal.Size(size[j]) : size);
    else if (exits[j]) bt.signal(closeAll);
    j++;
  }
  return bt;
}

// 300 bars of a random walk, some with a missing open or close, and flags set at random (often
// both on one bar, often several entries in a row).
const N = 300;
const PAIRS = walk(N, { seed: 11 }).map(([o, c], i) => [i % 37 === 5 ? NaN : o, i % 53 === 9 ? NaN : c]);
const rand = mulberry32(5);
const ENTRIES = Array.from({ length: N }, () => rand() < 0.08);
const EXITS = Array.from({ length: N }, () => (rand() < 0.1 ? true : null));
const SIZES = Array.from({ length: N }, () => Math.round((rand() - 0.4) * 50) / 10);
const ctxOf = () => new NodeCtx(series(PAIRS), stock({ minQty: 0.1 }));

const tagged = (s, id) => Object.assign(s, { id });

test('fromSignals gives exactly what the loop gives', async (t) => {
  const sizes = {
    'EquityPct(1)': () => NodeSignal.EquityPct(1),
    'Size(1.5) with an id, adding up while entries repeat': () => tagged(NodeSignal.Size(1.5), 'in'),
    'Short()': () => NodeSignal.Short(),
    'EquityPct(1) with a stop-loss and a take-profit': () =>
      Object.assign(NodeSignal.EquityPct(1), { stopLoss: { pct: 0.015 }, takeProfit: { pct: 0.02 } }),
    'Size(2) with a trailing stop': () => Object.assign(NodeSignal.Size(2), { trailingStop: { pct: 0.01 } }),
    'per-bar sizes (array)': () => SIZES,
    'per-bar sizes (Float64Array)': () => Float64Array.from(SIZES),
  };
  const flags = {
    'boolean arrays': [ENTRIES, EXITS],
    'Uint8Arrays': [Uint8Array.from(ENTRIES, Number), Uint8Array.from(EXITS, Number)],
    'Float64Arrays of 1, 0 and NaN': [Float64Array.from(ENTRIES, Number), Float64Array.from(EXITS, (x) => (x ? 1 : NaN))],
  };
  const settings = {
    'open fills': {},
    'close fills': { processOrdersOnClose: true },
    'open fills with costs': { commission: { percent: 0.001, perOrder: 0.5, minimum: 1 }, slippage: { ticks: 2 } },
    'close fills with costs': { processOrdersOnClose: true, commission: { perUnit: 0.02 }, slippage: { percent: 0.001 } },
  };
  for (const [settingName, setting] of Object.entries(settings))
    for (const [sizeName, size] of Object.entries(sizes))
      for (const [flagName, [entries, exits]] of Object.entries(flags))
        await t.test(`${settingName}, ${sizeName}, ${flagName}`, () => {
          const plan = { entries, exits, size: size(), ...setting };
          const got = NodeBacktest.fromSignals(ctxOf(), 5000, plan);
          const want = looped(ctxOf(), 5000, plan);
          assert.ok(got instanceof NodeBacktest);
          assert.ok(want.closedTrades.length > 3, 'the fixture trades');
          assert.deepEqual(everything(got), everything(want));
        });
  await t.test('the bracket cases exit on their legs', () => {
    const plain = NodeBacktest.fromSignals(ctxOf(), 5000, { entries: ENTRIES, exits: EXITS, size: NodeSignal.EquityPct(1) });
    const bracketed = NodeBacktest.fromSignals(ctxOf(), 5000,
      { entries: ENTRIES, exits: EXITS, size: sizes['EquityPct(1) with a stop-loss and a take-profit']() });
    assert.notEqual(bracketed.netProfit, plain.netProfit);
  });
});

test('fromSignals on a context that has already run some bars starts at the next bar', () => {
  const skipped = () => {
    const ctx = ctxOf();
    ctx.next();
    ctx.skip(NodeCtxSkip.barIndex(99));
    return ctx;
  };
  const rest = N - 100;
  const plan = { entries: ENTRIES.slice(-rest), exits: EXITS.slice(-rest), size: NodeSignal.Size(1) };
  const ctx = skipped();
  const got = NodeBacktest.fromSignals(ctx, 1000, plan);
  assert.deepEqual(everything(got), everything(looped(skipped(), 1000, plan)));
  assert.equal(ctx.barIndex, N - 1, 'the caller\'s context has run to the end');
  assert.equal(got.trades[0].entry.fillBarIndex > 99, true);
});

test('fromSignals passes the backtest settings on', () => {
  const plan = { entries: ENTRIES, exits: EXITS, size: NodeSignal.Long(), riskFreeRate: 0.0001, annualizationFactor: 12 };
  const got = NodeBacktest.fromSignals(ctxOf(), undefined, plan);
  assert.equal(got.initialCapital, 1000);
  assert.deepEqual(everything(got), everything(looped(ctxOf(), 1000, plan)));
});

test('fromSignals refuses bad input before running a bar', async (t) => {
  const ok = { entries: ENTRIES, exits: EXITS, size: NodeSignal.Size(1) };
  const short = ENTRIES.slice(1);
  const cases = [
    ['entries of the wrong length', { ...ok, entries: short }, /entries has 299 elements, but the context has 300 bars to run/],
    ['exits of the wrong length', { ...ok, exits: new Uint8Array(N + 1) }, /exits has 301 elements/],
    ['per-bar sizes of the wrong length', { ...ok, size: SIZES.slice(2) }, /size has 298 elements/],
    ['entries that are not flags', { ...ok, entries: 'yes' }, /entries must be a Uint8Array, an Int8Array, a Float64Array or an array of booleans, got String/],
    ['entries in another typed array', { ...ok, entries: new Int32Array(N) }, /entries must be .* got another typed array/],
    ['a size that is neither a signal nor a list', { ...ok, size: 3 }, /size must be a NodeSignal or an array of per-bar sizes, got Number/],
    ['a missing exits', { entries: ENTRIES, size: ok.size }, /options.exits is required/],
    ['an unknown option', { ...ok, procesOrdersOnClose: true }, /Backtest option procesOrdersOnClose is not known/],
    ['a flag that is not a boolean', { ...ok, processOrdersOnClose: 1 }, /processOrdersOnClose must be a boolean, got Number/],
    ['a rate that is not a number', { ...ok, riskFreeRate: '0.01' }, /riskFreeRate must be a number, got String/],
    ['a negative commission', { ...ok, commission: { percent: -0.01 } }, /commission\.percent/],
    ['sizes that are not numbers', { ...ok, size: ENTRIES }, { code: 'NumberExpected' }],
  ];
  for (const [name, options, error] of cases)
    await t.test(name, () => {
      const ctx = ctxOf();
      assert.throws(() => NodeBacktest.fromSignals(ctx, 1000, options),
        error instanceof RegExp ? { code: 'InvalidArg', message: error } : error);
      assert.equal(ctx.isInitialized, false, 'the context has not moved');
    });
  await t.test('options that are not an object', () => {
    assert.throws(() => NodeBacktest.fromSignals(ctxOf(), 1000, [ENTRIES]), { code: 'InvalidArg', message: /options object/ });
  });
  await t.test('a context that is not a NodeCtx', () => {
    assert.throws(() => NodeBacktest.fromSignals({}, 1000, ok), { code: 'InvalidArg' });
  });
  await t.test('flags whose buffer an option getter takes away', () => {
    // A byte array is read in place: a getter that runs after the flags were checked must not
    // leave the run reading freed memory.
    const entries = Uint8Array.from(ENTRIES, Number);
    const options = { exits: EXITS, size: ok.size, entries };
    Object.defineProperty(options, 'riskFreeRate', {
      enumerable: true,
      get() {
        structuredClone(entries.buffer, { transfer: [entries.buffer] });
        return 0;
      },
    });
    const ctx = ctxOf();
    assert.throws(() => NodeBacktest.fromSignals(ctx, 1000, options),
      { code: 'InvalidArg', message: /entries has 0 elements, but the context has 300 bars to run/ });
    assert.equal(ctx.isInitialized, false);
  });
  await t.test('a symbol the backtest refuses', () => {
    const ctx = new NodeCtx(series(PAIRS), stock({ minQty: NaN }));
    assert.throws(() => NodeBacktest.fromSignals(ctx, 1000, ok), { message: /not suitable for backtesting/ });
    assert.equal(ctx.isInitialized, false);
  });
});
