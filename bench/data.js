'use strict';
// The one data set of the benchmarks: a seeded geometric random walk of OHLCV bars, the same
// bars for every contender. Columns are Float64Arrays; `arrays(n)` gives the same columns as
// plain JavaScript arrays (what most callers hold), `series(n)` the same bars as a one-minute
// NodeOhlcv. Each is built once per length and cached.

const SEED = 0x5eed2024;
const START_MS = Date.UTC(2020, 0, 1); // first bar opens here; one bar a minute
const STEP_MS = 60_000;

// sfc32: a small, fast, well-mixed 32-bit generator; the same seed gives the same walk anywhere.
function sfc32(a, b, c, d) {
  return function next() {
    a >>>= 0; b >>>= 0; c >>>= 0; d >>>= 0;
    let t = (a + b) | 0;
    a = b ^ (b >>> 9);
    b = (c + (c << 3)) | 0;
    c = (c << 21) | (c >>> 11);
    d = (d + 1) | 0;
    t = (t + d) | 0;
    c = (c + t) | 0;
    return (t >>> 0) / 4294967296;
  };
}

function normal(rand) {
  // Box-Muller; 1 - u keeps the logarithm finite.
  const u = 1 - rand();
  const v = rand();
  return Math.sqrt(-2 * Math.log(u)) * Math.cos(2 * Math.PI * v);
}

const columnsCache = new Map();
const arraysCache = new Map();
const seriesCache = new Map();

// Bars i = 0 .. n-1: close follows exp(mu + sigma * z); open is the previous close with a small
// gap; high and low lie outside both; volume is log-normal. Prices stay positive.
function columns(n) {
  if (columnsCache.has(n)) return columnsCache.get(n);
  const rand = sfc32(SEED, 0x9e3779b9, 0x243f6a88, n >>> 0);
  for (let i = 0; i < 16; i++) rand(); // let the state mix before the first bar
  const open = new Float64Array(n);
  const high = new Float64Array(n);
  const low = new Float64Array(n);
  const close = new Float64Array(n);
  const volume = new Float64Array(n);
  const openTime = new Float64Array(n);
  const closeTime = new Float64Array(n);
  const mu = 0;
  const sigma = 0.001;
  let prev = 100;
  for (let i = 0; i < n; i++) {
    const o = prev * Math.exp(0.0002 * normal(rand));
    const c = o * Math.exp(mu + sigma * normal(rand));
    const top = Math.max(o, c);
    const bottom = Math.min(o, c);
    open[i] = o;
    close[i] = c;
    high[i] = top * (1 + 0.0005 * Math.abs(normal(rand)));
    low[i] = bottom * (1 - 0.0005 * Math.abs(normal(rand)));
    volume[i] = 1000 * Math.exp(0.5 * normal(rand));
    openTime[i] = START_MS + i * STEP_MS;
    closeTime[i] = START_MS + (i + 1) * STEP_MS;
    prev = c;
  }
  const out = { n, open, high, low, close, volume, openTime, closeTime };
  columnsCache.set(n, out);
  return out;
}

// The same columns as plain arrays of numbers.
function arrays(n) {
  if (arraysCache.has(n)) return arraysCache.get(n);
  const c = columns(n);
  const out = { n };
  for (const k of ['open', 'high', 'low', 'close', 'volume', 'openTime', 'closeTime']) out[k] = Array.from(c[k]);
  arraysCache.set(n, out);
  return out;
}

// Candle objects, for libraries that take one object per bar.
function candles(n) {
  const c = columns(n);
  const out = new Array(n);
  for (let i = 0; i < n; i++) {
    out[i] = {
      open: c.open[i], high: c.high[i], low: c.low[i], close: c.close[i], volume: c.volume[i],
      openTime: c.openTime[i], closeTime: c.closeTime[i],
    };
  }
  return out;
}

// Open or close times as Dates.
const dates = (ms) => Array.from(ms, (t) => new Date(t));

function series(n) {
  if (seriesCache.has(n)) return seriesCache.get(n);
  const bw = require('..');
  const a = arrays(n);
  const s = bw.NodeOhlcv.fromBars(bw.zipOhlcvBars(dates(a.openTime), dates(a.closeTime), a.open, a.high, a.low, a.close, a.volume));
  s.timeframe = bw.NodeTimeframe.Minutes(1);
  seriesCache.set(n, s);
  return s;
}

module.exports = { columns, arrays, candles, dates, series, SEED, START_MS, STEP_MS };
