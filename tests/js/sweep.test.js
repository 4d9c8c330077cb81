'use strict';
// sweep(request): every set's row holds the figures a plain JavaScript loop gives for that set,
// ranked by the metric; the pool, progress, cancellation, per-set errors and bad input.
const test = require('node:test');
const { CROSS_SOURCE } = require('./support/sweep');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const bw = require('../..');
const { SweepMarket } = require('../../js/sweep-worker');
const { series, walk } = require('./support/market');
const { stock } = require('./support/backtest');

const { NodeBacktest, NodeCtx, NodeSignal, Incr_fn_sma_059403: Sma } = bw;

// Strategy modules, written where every worker can load them.
const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'barwise-sweep-'));
test.after(() => fs.rmSync(dir, { recursive: true, force: true }));
function strategyFile(name, source) {
  const file = path.join(dir, name);
  fs.writeFileSync(file, source);
  return file;
}
const CROSS = strategyFile('cross.js', CROSS_SOURCE);

const market = (seed, n = 400) => ({ ohlcv: series(walk(n, { seed, move: 0.04 })), sym: stock({ minQty: 0.001 }) });
const A = { ...market(3), symbol: 'AAA' };
const B = { ...market(9), symbol: 'BBB' };

// The reference: the loop of the docs, with the averages stepped bar by bar.
function looped({ ohlcv, sym }, { fast, slow }, capital = 1000) {
  const ctx = new NodeCtx(ohlcv, sym);
  const bt = new NodeBacktest(ctx, capital);
  const f = Sma.make(ctx);
  const s = Sma.make(ctx);
  let before = null;
  for (const i of bt) {
    const c = ohlcv.at(i).close;
    const now = [f.next(c, fast), s.next(c, slow)];
    if (before && now[0] > now[1] && before[0] <= before[1]) bt.signal(NodeSignal.EquityPct(1));
    else if (before && now[0] < now[1] && before[0] >= before[1]) bt.signal(NodeSignal.CloseAll());
    before = now;
  }
  return bt;
}

test('sweep: each row holds the figures of its set, best first', async (t) => {
  const progress = [];
  const result = await bw.sweep({
    strategy: CROSS, params: { fast: [3, 5, 8], slow: [10, 21] }, series: [A, B], workers: 2, chunkSize: 2,
    onProgress: (p) => progress.push(p),
  });
  await t.test('one row per set and series, each equal to the loop', () => {
    assert.equal(result.rows.length, 12);
    for (const r of result.rows) {
      const bt = looped(r.symbol === 'AAA' ? A : B, r.params);
      assert.equal(r.net_profit, bt.netProfit, `${r.symbol} ${JSON.stringify(r.params)}`);
      assert.equal(r.closed_trades, bt.closedTrades.length);
    }
    assert.ok(result.rows.some((r) => r.closed_trades > 2), 'the fixture trades');
  });
  await t.test('ranked by net profit, highest first', () => {
    const profits = result.rows.map((r) => r.net_profit);
    assert.deepEqual(profits, [...profits].sort((x, y) => y - x));
  });
  await t.test('the heatmap holds each cell\'s figure', () => {
    const { x, y, xValues, yValues, tables } = result.heatmap;
    assert.deepEqual([x, y, xValues, yValues], ['fast', 'slow', [3, 5, 8], [10, 21]]);
    assert.deepEqual(tables.map((tb) => tb.symbol), ['AAA', 'BBB']);
    const row = result.rows.find((r) => r.symbol === 'BBB' && r.params.fast === 8 && r.params.slow === 10);
    assert.equal(tables[1].values[0][2], row.net_profit);
  });
  await t.test('the result makes its page', () => {
    assert.match(result.toHtml(), /<h2>BBB: net_profit by fast \(columns\) and slow \(rows\)<\/h2>/);
    assert.equal(Object.keys(result).includes('toHtml'), false);
  });
  await t.test('progress counts every run', () => {
    assert.equal(progress.length, 12);
    assert.deepEqual(progress.at(-1), { done: 12, total: 12, errors: 0 });
  });
});

test('sweep: the same rows on one worker as on two, and top keeps the best', async () => {
  const request = { strategy: CROSS, params: [{ fast: 4, slow: 9 }, { fast: 2, slow: 30 }, { fast: 6, slow: 12 }], series: A };
  const one = await bw.sweep({ ...request, workers: 1 });
  const two = await bw.sweep({ ...request, workers: 2, chunkSize: 1, top: 2, metric: 'closed_trades', order: 'asc' });
  assert.equal(one.heatmap, null, 'no heatmap for a list of sets');
  const byTrades = [...one.rows].sort((a, b) => a.closed_trades - b.closed_trades).slice(0, 2);
  assert.deepEqual(two.rows, byTrades);
});

test('sweep: a strategy that throws names its set, and the other sets run', async () => {
  const result = await bw.sweep({ strategy: CROSS, params: { fast: [5, 30], slow: [20] }, series: A, workers: 1 });
  assert.deepEqual(result.rows.map((r) => r.params), [{ fast: 5, slow: 20 }]);
  assert.deepEqual(result.errors, [{
    params: { fast: 30, slow: 20 }, symbol: 'AAA',
    message: 'strategy failed for {"fast":30,"slow":20} on AAA: fast must be below slow',
  }]);
});

test('sweep: an AbortSignal stops the workers', async (t) => {
  await t.test('aborted on the way', async () => {
    const controller = new AbortController();
    const slow = strategyFile('slow.js', `
      module.exports = (p, m) => { const end = Date.now() + 30; while (Date.now() < end); return require(${JSON.stringify(CROSS)})(p, m); };`);
    let seen = 0;
    const run = bw.sweep({
      strategy: slow, params: { fast: [2, 3, 4, 5, 6, 7], slow: [40, 50, 60, 70] }, series: A, workers: 2, chunkSize: 1,
      signal: controller.signal, onProgress: ({ done }) => {
        seen = done;
        if (done === 2) controller.abort();
      },
    });
    await assert.rejects(run, { name: 'AbortError' });
    assert.ok(seen < 24, 'not every set ran');
  });
  await t.test('a progress callback that throws ends the sweep with its error', async () => {
    const oops = new Error('oops');
    await assert.rejects(bw.sweep({ strategy: CROSS, params: { fast: [2, 3], slow: [9] }, series: A, workers: 1,
      onProgress: () => { throw oops; } }), (e) => e === oops);
  });
  await t.test('aborted before the start', async () => {
    const reason = new Error('stop');
    await assert.rejects(bw.sweep({ strategy: CROSS, params: { fast: [2], slow: [9] }, series: A, signal: AbortSignal.abort(reason) }),
      (e) => e === reason);
  });
});

test('sweep: walk-forward picks each training window\'s best set and reports the next window', async () => {
  const params = { fast: [3, 6], slow: [12, 25] };
  const result = await bw.sweep({ strategy: CROSS, params, series: A, workers: 2, walkForward: { train: 150, test: 100 } });
  assert.deepEqual(result.rows.map((r) => [r.train, r.test]), [[[0, 150], [150, 250]], [[100, 250], [250, 350]],
    [[200, 350], [350, 400]]]);
  // Each window on its own bars: the signals of the whole series, cut to the window.
  const windowRun = ({ fast, slow }, [start, end]) => {
    const m = new SweepMarket({ symbol: 'AAA', ohlcv: A.ohlcv, sym: A.sym });
    const f = m.indicator('sma', m.close, fast);
    const s = m.indicator('sma', m.close, slow);
    return NodeBacktest.fromSignals(new NodeCtx(A.ohlcv.slice(start, end), A.sym), 1000, {
      entries: m.indicator('crossover', f, s).subarray(start, end), exits: m.indicator('crossunder', f, s).subarray(start, end),
      size: NodeSignal.EquityPct(1),
    });
  };
  const sets = [{ fast: 3, slow: 12 }, { fast: 3, slow: 25 }, { fast: 6, slow: 12 }, { fast: 6, slow: 25 }];
  for (const r of result.rows) {
    const best = Math.max(...sets.map((p) => windowRun(p, r.train).netProfit));
    assert.equal(r.in_sample.net_profit, best);
    assert.equal(windowRun(r.params, r.train).netProfit, best);
    assert.equal(r.net_profit, windowRun(r.params, r.test).netProfit);
  }
});

test('SweepMarket computes each distinct indicator input once', () => {
  const m = new SweepMarket(A);
  const f = m.indicator('sma', m.close, 5);
  assert.ok(f instanceof Float64Array);
  assert.equal(m.indicator(Sma, m.close, 5), f, 'by short name or class alike');
  assert.notEqual(m.indicator('sma', m.close, 6), f);
  const up = m.indicator('crossover', f, m.indicator('sma', m.close, 6));
  assert.ok(up instanceof Float64Array);
  assert.equal(m.indicator('crossover', f, m.indicator('sma', m.close, 6)), up);
  assert.deepEqual([m.misses, m.hits], [3, 4]);
  assert.throws(() => m.indicator('no_such_thing', m.close), /"no_such_thing" is not an indicator/);
});

test('SweepMarket crossover and crossunder flag the bars the indicators flag', async (t) => {
  // A walk with equal stretches and missing prices: ties and NaN on either side of a cross.
  const pairs = walk(300, { seed: 21, move: 0.03 }).map(([o, c], i) => [o, i % 41 === 7 ? NaN : i % 29 < 10 ? 100 : c]);
  const m = new SweepMarket({ symbol: 'X', ohlcv: series(pairs), sym: stock() });
  const a = m.indicator('sma', m.close, 3);
  const b = m.indicator('sma', m.close, 8);
  for (const name of ['crossover', 'crossunder'])
    await t.test(name, () => {
      const want = Uint8Array.from(m.indicator(name, a, b), (x) => (x === 1 ? 1 : 0));
      assert.deepEqual(m[name](a, b), want);
      assert.ok(want.some((x) => x === 1));
    });
});

test('sweep refuses bad input before any run', async (t) => {
  const ok = { strategy: CROSS, params: { fast: [2], slow: [9] }, series: A };
  const wrongLength = strategyFile('short.js', 'module.exports = (p, m) => ({ entries: new Uint8Array(m.length - 1), exits: new Uint8Array(m.length) });');
  const broken = strategyFile('broken.js', 'module.exports = (;');
  const cases = [
    ['a module that cannot load', { ...ok, strategy: broken }, /strategy module .*broken\.js cannot be loaded/],
    ['a missing module', { ...ok, strategy: path.join(dir, 'none.js') }, /none\.js cannot be loaded/],
    ['an empty grid', { ...ok, params: {} }, /the parameter grid is empty/],
    ['an empty list', { ...ok, params: [] }, /the parameter list is empty/],
    ['a grid key without values', { ...ok, params: { fast: [2], slow: 9 } }, /params\.slow must be a non-empty array/],
    ['params that are not a grid', { ...ok, params: 'fast' }, /params must be a grid/],
    ['a metric that is not a figure', { ...ok, metric: 'profit' }, /metric "profit" is not a figure; the figures are .*net_profit/],
    ['signals of the wrong length', { ...ok, strategy: wrongLength }, /entries of 399 elements for a series of 400 bars/],
    ['no series', { ...ok, series: [] }, /series is empty/],
    ['a series that is not one', { ...ok, series: { ohlcv: [] } }, /series must be \{ ohlcv: NodeOhlcv/],
    ['two series of one name', { ...ok, series: [A, { ...B, symbol: 'AAA' }] }, /two series are named "AAA"/],
    ['an unknown key', { ...ok, metrics: 'net_profit' }, /unknown request key "metrics"/],
    ['bad backtest options', { ...ok, backtest: { processOrdersOnClose: 'yes' } }, /backtest options: .*processOrdersOnClose/],
    ['a heatmap of unknown parameters', { ...ok, heatmap: ['fast', 'length'] }, /heatmap must name two different parameters/],
    ['walk-forward windows longer than the series', { ...ok, walkForward: { train: 400, test: 10 } }, /too few for a training window/],
  ];
  for (const [name, request, message] of cases)
    await t.test(name, async () => {
      await assert.rejects(bw.sweep(request), { code: 'InvalidArg', message });
    });
});

test('sweep is reachable from the package without joining its export list', async () => {
  assert.equal(typeof bw.sweep, 'function');
  assert.equal(Object.keys(bw).includes('sweep'), false);
  assert.equal((await import('barwise')).sweep, bw.sweep, 'a named export of the ES module entry');
});
