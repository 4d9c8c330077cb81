'use strict';
// Parameter sweeps over 1,000,000 bars:
//   - NodeBacktest.fromSignals against the JavaScript loop it replaces, with the same flags
//     (goals: at least 10x faster, at most 30 ns a bar without costs);
//   - a 1,000-set sma-cross grid through sweep(), on 1 and on 2 worker threads (goal: under a
//     minute on this 2-core machine), with the cost of one run.
// This file is also the grid's strategy module: the workers load its export.
// BARS, RUNS and GRID (number of sets, a multiple of 25) scale it down: `GRID=100 node bench/sweep.bench.js`.

/** @param {{ fast: number, slow: number }} p @param {any} m */
function signals({ fast, slow }, m) {
  const f = m.indicator('sma', m.close, fast);
  const s = m.indicator('sma', m.close, slow);
  return { entries: m.crossover(f, s), exits: m.crossunder(f, s) };
}
module.exports = signals;

async function main() {
  const os = require('node:os');
  const { NodeSym, NodeCtx, NodeBacktest, NodeSignal, sweep } = require('..');
  const { SweepMarket } = require('../js/sweep-worker');
  const { measure, measureAsync, line } = require('./measure');
  const bars = require('./data');

  const BARS = Number(process.env.BARS || 1_000_000);
  const RUNS = Number(process.env.RUNS || 5);
  const GRID = Number(process.env.GRID || 1000);
  const load = () => os.loadavg().map((x) => x.toFixed(2)).join(' ');

  const ohlcv = bars.series(BARS);
  const sym = NodeSym.BTC_USD();
  const ctx = new NodeCtx(ohlcv, sym);
  const market = new SweepMarket({ symbol: 'BTCUSD', ohlcv, sym });
  const { entries, exits } = signals({ fast: 10, slow: 30 }, market);
  const entryFlags = Array.from(entries, Boolean);
  const exitFlags = Array.from(exits, Boolean);
  const size = NodeSignal.EquityPct(1);
  const closeAll = NodeSignal.CloseAll();
  console.log(`${BARS} bars, ${entries.reduce((a, x) => a + x, 0)} entry bars; load ${load()}`);

  const loop = measure((bt) => {
    for (const i of bt) {
      if (entries[i]) bt.signal(size);
      else if (exits[i]) bt.signal(closeAll);
    }
    return bt;
  }, { prepare: () => new NodeBacktest(ctx.copy(), 100000), runs: RUNS, n: BARS });
  const native = measure((c) => NodeBacktest.fromSignals(c, 100000, { entries, exits, size }),
    { prepare: () => ctx.copy(), runs: RUNS, n: BARS });
  const fromBooleans = measure((c) => NodeBacktest.fromSignals(c, 100000, { entries: entryFlags, exits: exitFlags, size }),
    { prepare: () => ctx.copy(), runs: RUNS, n: BARS });
  console.log(line('JavaScript loop over the flags', loop));
  console.log(line('fromSignals (Uint8Array flags)', native));
  console.log(line('fromSignals (boolean arrays)', fromBooleans));
  if (loop.last.netProfit !== native.last.netProfit) throw new Error('fromSignals and the loop disagree');
  console.log(`fromSignals: ${(loop.cpuNs / native.cpuNs).toFixed(1)}x the loop (goal >= 10x), ` +
    `${native.cpuNs.toFixed(1)} cpu ns/bar (goal <= 30)`);

  // With costs, where the backtest takes them: small enough that the account trades to the last
  // bar (a cost that ruins it early would time a run of flat bars).
  const costs = { commission: { percent: 0.0001 }, slippage: { percent: 0.00001 } };
  let withCosts = null;
  try {
    NodeBacktest.fromSignals(ctx.copy(), 100000, { entries, exits, size, ...costs });
    withCosts = measure((c) => NodeBacktest.fromSignals(c, 100000, { entries, exits, size, ...costs }),
      { prepare: () => ctx.copy(), runs: RUNS, n: BARS });
    console.log(line('fromSignals with commission and slippage', withCosts));
    console.log(`  ${withCosts.last.closedTrades.length} closed trades (${native.last.closedTrades.length} without costs)`);
  } catch (e) {
    console.log(`fromSignals with costs: not run (${e.message})`);
  }

  // The grid: 25 slow lengths, and as many fast ones as make GRID sets.
  const slow = Array.from({ length: 25 }, (_, k) => 50 + 10 * k);
  const fast = Array.from({ length: Math.max(1, Math.round(GRID / 25)) }, (_, k) => 2 + k);
  const request = { strategy: __filename, params: { fast, slow }, series: { ohlcv, sym, symbol: 'BTCUSD' },
    backtest: { initialCapital: 100000 } };
  const sets = fast.length * slow.length;
  const results = [];
  for (const workers of [1, 2]) {
    const m = await measureAsync(() => sweep({ ...request, workers }), { runs: 1, warmup: 0, n: sets });
    results.push(m);
    console.log(line(`sweep of ${sets} sets on ${workers} worker thread${workers > 1 ? 's' : ''}`, m, 'run'));
    console.log(`  ${(m.ms / 1000).toFixed(1)} s, ${(m.ms / sets).toFixed(1)} ms a run, ` +
      `${((m.ms * 1e6 * workers) / sets / BARS).toFixed(1)} ns a bar per worker; load ${load()}`);
  }
  if (JSON.stringify(results[0].last.rows) !== JSON.stringify(results[1].last.rows))
    throw new Error('one and two workers disagree');
  console.log(`2 workers: ${(results[0].ms / results[1].ms).toFixed(2)}x one worker; ` +
    `goal: ${sets} sets under 60 s on 2 cores (${(results[1].ms / 1000).toFixed(1)} s)`);
}

if (require.main === module) {
  main().catch((e) => {
    console.error(e);
    process.exit(1);
  });
}
