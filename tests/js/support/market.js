'use strict';
// Bars, series and seeded random numbers for the tests. The same arguments give the same bars in
// any process, so worker threads and child processes can require this file and compare results.
const { NodeOhlcv, NodeOhlcvBar, NodeTimeframe } = require('../../..');

const T0 = Date.UTC(2024, 0, 1);
const HOUR = 3600e3;
const DAY = 86400e3;

// mulberry32: the sample-data generator's own, so tests and the bundled bars share one.
const { mulberry32 } = require('../../../scripts/gen-bars');

function parkMiller(seed) {
  let s = seed;
  return () => (s = (s * 16807) % 2147483647) / 2147483647;
}

// [open, close] pairs of a seeded random walk: each close moves up to `move / 2` from its open,
// and the next bar opens at it.
function walk(n, { seed = 7, start = 100, move = 0.02 } = {}) {
  const rand = mulberry32(seed);
  const pairs = [];
  let p = start;
  for (let i = 0; i < n; i++) {
    const o = p;
    p = p * (1 + (rand() - 0.5) * move);
    pairs.push([o, p]);
  }
  return pairs;
}

// Bar i opens at 100 + i and closes at 100.5 + i.
const rising = (n) => Array.from({ length: n }, (_, i) => [100 + i, 100.5 + i]);

// Bars from [open, close] pairs, `step` apart from T0, one above and below the body, volume 1000.
function bars(pairs, step = DAY) {
  return pairs.map(([open, close], i) => new NodeOhlcvBar(new Date(T0 + i * step), new Date(T0 + (i + 1) * step),
    open, Math.max(open, close) + 1, Math.min(open, close) - 1, close, 1000));
}

function series(pairs, timeframe = NodeTimeframe.Days(1), step = DAY) {
  const o = NodeOhlcv.fromBars(bars(pairs, step));
  o.timeframe = timeframe;
  return o;
}

// Bar i of an hourly series: opens at T0 + i hours at `base + i`, reaches one above and one below
// the open and closes `lift` above it.
function hourlyBar(i, { base = 100, lift = 0.5, volume = 1 } = {}) {
  const open = base + i;
  return new NodeOhlcvBar(new Date(T0 + i * HOUR), new Date(T0 + (i + 1) * HOUR), open, open + 1, open - 1, open + lift,
    volume);
}

// Hourly bars `from` .. `from + n - 1` as a series on `timeframe` (none when null).
function hourly(n, { from = 0, timeframe = NodeTimeframe.Hours(1), ...bar } = {}) {
  const list = [];
  for (let i = from; i < from + n; i++) list.push(hourlyBar(i, bar));
  const s = NodeOhlcv.fromBars(list);
  if (timeframe) s.timeframe = timeframe;
  return s;
}

// Calls `step` (the object's own next unless given) n times on `it`, and returns it.
function advance(it, n, step = it.next) {
  for (let k = 0; k < n; k++) step.call(it);
  return it;
}

module.exports = { T0, HOUR, DAY, mulberry32, parkMiller, walk, rising, bars, series, hourlyBar, hourly, advance };
