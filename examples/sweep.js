'use strict';
// A parameter sweep in parallel: every pair of fast and slow moving-average lengths is backtested
// on the bundled bars, spread over one worker thread per core. Each worker loads the add-on and
// the bars once and runs its share of the grid; the main thread gathers the results and prints
// the best pair.
const os = require('node:os');
const { Worker, isMainThread, parentPort, workerData } = require('node:worker_threads');

const FAST = [6, 12, 24, 48];
const SLOW = [72, 120, 168, 240];

/**
 * @typedef {{ fast: number, slow: number }} Params
 * @typedef {Params & { netProfit: number, sharpe: number, closedTrades: number }} Outcome
 */

/** @param {Params[]} grid @returns {Outcome[]} */
function runShare(grid) {
  const { NodeBacktest, NodeCtx, NodeSignal, Incr_fn_sma_059403, Incr_fn_crossover_94210a, Incr_fn_crossunder_ed654e } =
    require('barwise');
  const { loadSample } = require('../data/sample');
  const { ohlcv, sym } = loadSample();
  const closes = Float64Array.from(ohlcv.close); // read in place by collect
  const base = new NodeCtx(ohlcv, sym);

  // Each average is computed once per length, each on its own copy of the context.
  /** @type {Map<number, number[]>} */
  const averages = new Map();
  /** @param {number} n */
  const sma = (n) => {
    let xs = averages.get(n);
    if (!xs) averages.set(n, (xs = Incr_fn_sma_059403.make(base.copy()).collect(closes, n)));
    return xs;
  };

  return grid.map(({ fast, slow }) => {
    const f = sma(fast);
    const s = sma(slow);
    const up = Incr_fn_crossover_94210a.make(base.copy()).collect(f, s);
    const down = Incr_fn_crossunder_ed654e.make(base.copy()).collect(f, s);
    const bt = new NodeBacktest(base.copy(), 10000);
    for (const i of bt) {
      if (up[i]) bt.signal(NodeSignal.Long());
      else if (down[i]) bt.signal(NodeSignal.Short());
    }
    // sharpeRatio() multiplies the per-bar ratio by the bars per year; dividing by the square root
    // of that factor gives the usual annualised figure.
    const sharpe = bt.sharpeRatio() / Math.sqrt(base.annualizationFactor);
    return { fast, slow, netProfit: bt.netProfit, sharpe, closedTrades: bt.closedTrades.length };
  });
}

/** @param {Params[]} grid @param {number} workers @returns {Promise<Outcome[]>} */
async function sweep(grid, workers) {
  /** @type {Params[][]} */
  const shares = Array.from({ length: workers }, () => []);
  grid.forEach((p, k) => shares[k % workers].push(p));
  const parts = await Promise.all(
    shares.map(
      (share) =>
        /** @type {Promise<Outcome[]>} */ (
          new Promise((resolve, reject) => {
            const w = new Worker(__filename, { workerData: share });
            w.once('message', resolve);
            w.once('error', reject);
            w.once('exit', (code) => code !== 0 && reject(new Error(`worker stopped with exit code ${code}`)));
          })
        ),
    ),
  );
  return parts.flat();
}

async function main() {
  /** @type {Params[]} */
  const grid = FAST.flatMap((fast) => SLOW.map((slow) => ({ fast, slow })));
  const cores = typeof os.availableParallelism === 'function' ? os.availableParallelism() : os.cpus().length;
  const workers = Math.max(1, Math.min(cores, grid.length));
  const results = await sweep(grid, workers);
  results.sort((a, b) => b.netProfit - a.netProfit);
  console.log(`${grid.length} backtests on ${workers} worker threads`);
  for (const r of results.slice(0, 5)) {
    console.log(
      `  fast ${String(r.fast).padStart(3)}  slow ${String(r.slow).padStart(3)}  net profit ${r.netProfit.toFixed(2).padStart(10)}  ` +
        `annualised sharpe ${r.sharpe.toFixed(2).padStart(6)}  trades ${r.closedTrades}`,
    );
  }
  const best = results[0];
  console.log(`best: fast=${best.fast} slow=${best.slow} net profit ${best.netProfit.toFixed(2)}`);
}

if (isMainThread) {
  main().catch((e) => {
    console.error(e);
    process.exit(1);
  });
} else {
  parentPort?.postMessage(runShare(workerData));
}
