'use strict';
// Bars and series on 1,000,000 one-minute bars: building from columns, appending, the column
// getters, walking with at(i), and resampling.
//
//   node --expose-gc bench/ohlcv.bench.js [bars] [runs]
const { NodeOhlcv, NodeOhlcvBar, NodeTimeframe, zipOhlcvBars } = require('..');
const { measure, line } = require('./measure');
const data = require('./data');

const N = Number(process.argv[2]) || 1_000_000;
const RUNS = Number(process.argv[3]) || 5;

function bench(name, setup, body) {
  console.log(line(name, measure(body, { prepare: setup, runs: RUNS, n: N })));
}

const { open, high, low, close, volume, ...times } = data.arrays(N);
const openTime = data.dates(times.openTime);
const closeTime = data.dates(times.closeTime);

console.log(`${N} bars, median of ${RUNS} runs`);
let series;
bench('zipOhlcvBars + fromBars', () => null, () => {
  series = NodeOhlcv.fromBars(zipOhlcvBars(openTime, closeTime, open, high, low, close, volume));
});
series.timeframe = NodeTimeframe.Minutes(1);

const bars = series.bars;
bench('push in a loop', () => new NodeOhlcv(), (s) => {
  for (let i = 0; i < N; i++) s.push(bars[i]);
});

for (const col of ['openTime', 'closeTime', 'open', 'high', 'low', 'close', 'volume']) {
  bench(`getter ${col}`, () => null, () => series[col]);
}
bench('getter bars', () => null, () => series.bars);

bench('at(i) in a loop', () => null, () => {
  let sum = 0;
  for (let i = 0; i < N; i++) sum += series.at(i).close;
  if (!(sum > 0)) throw new Error('unexpected sum');
});

bench('resample 1m -> 1h (calendar)', () => null, () => series.resample(NodeTimeframe.Hours(1), true));
bench('resample 1m -> 4h (windows)', () => null, () => series.resample(NodeTimeframe.Hours(4), false));
bench('resample 1m -> 1D (calendar)', () => null, () => series.resample(NodeTimeframe.Days(1), true));
bench('resample 1m -> 1M (calendar)', () => null, () => series.resample(NodeTimeframe.Months(1), true));
bench('resample by 100 ticks', () => null, () => series.resample(NodeTimeframe.Ticks(100), true));

if (!(new NodeOhlcvBar() instanceof NodeOhlcvBar)) throw new Error('unreachable');
