'use strict';
// A parameter sweep: every pair of fast and slow moving-average lengths is backtested on the
// bundled bars, on one worker thread per core. This file is both the strategy (its export, which
// every worker loads) and the script that runs the sweep and prints the best pairs.

/**
 * The strategy: long while the fast average is above the slow one.
 * @type {import('barwise').SweepStrategy<{ fast: number, slow: number }>}
 */
function signals({ fast, slow }, market) {
  if (fast >= slow) throw new Error('the fast average must be shorter than the slow one');
  // Each average is computed once per length and series, however many pairs use it.
  const f = market.indicator('sma', market.close, fast);
  const s = market.indicator('sma', market.close, slow);
  return { entries: market.indicator('crossover', f, s), exits: market.indicator('crossunder', f, s) };
}
module.exports = signals;

async function main() {
  const { sweep } = require('barwise');
  const { loadSample } = require('../data/sample');
  const { ohlcv, sym } = loadSample();
  const result = await sweep({
    strategy: __filename,
    params: { fast: [6, 12, 24, 48], slow: [72, 120, 168, 240] },
    series: { ohlcv, sym, symbol: 'BTCUSD' },
    backtest: { initialCapital: 10000 },
    metric: 'net_profit',
    top: 5,
  });
  console.log(`${result.runs} backtests on ${result.workers} worker threads`);
  console.log(`finished in ${result.elapsedMs} ms`);
  for (const r of result.rows) {
    const { fast, slow } = r.params;
    console.log(
      `  fast ${String(fast).padStart(3)}  slow ${String(slow).padStart(3)}  net profit ${r.net_profit.toFixed(2).padStart(10)}  ` +
        `trades ${r.closed_trades}`,
    );
  }
  const best = result.rows[0];
  console.log(`best: fast=${best.params.fast} slow=${best.params.slow} net profit ${best.net_profit.toFixed(2)}`);
  // The heatmap: net profit by fast (columns) and slow (rows).
  const map = result.heatmap;
  if (map) {
    console.log(`\n${map.y}\\${map.x} ${map.xValues.map((x) => String(x).padStart(9)).join('')}`);
    map.tables[0].values.forEach((row, i) => {
      const cells = row.map((v) => (v === null ? '-' : v.toFixed(0)).padStart(9)).join('');
      console.log(`${String(map.yValues[i]).padStart(9)} ${cells}`);
    });
  }
}

if (require.main === module) {
  main().catch((e) => {
    console.error(e);
    process.exit(1);
  });
}
