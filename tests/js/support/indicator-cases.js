'use strict';
// Shared fixtures for the indicator tests: bar contexts built from columns, a deterministic daily
// price walk, and plain textbook formulas computed over whole arrays (no incremental state), to
// compare the incremental classes against.
const assert = require('node:assert/strict');
const bw = require('../../..');
const { parkMiller } = require('./market');

// A fresh bar context over the given columns (missing columns are NaN).
function ctxOf({ open, high, low, close, volume } = {}) {
  const n = Math.max(...[open, high, low, close, volume].map((c) => (c ? c.length : 0)));
  const col = (c) => (c ? c : new Array(n).fill(NaN));
  const bars = bw.zipOhlcvBars(undefined, undefined, col(open), col(high), col(low), col(close), col(volume));
  return new bw.NodeCtx(bw.NodeOhlcv.fromBars(bars));
}

// Bars from rows [open, high, low, close, volume].
function rows(list) {
  return {
    open: list.map((r) => r[0]),
    high: list.map((r) => r[1]),
    low: list.map((r) => r[2]),
    close: list.map((r) => r[3]),
    volume: list.map((r) => (r.length > 4 ? r[4] : 1)),
  };
}

// Bars whose only interesting field is the close (open, high and low follow it).
function closes(list, volume = 1) {
  return { open: list, high: list, low: list, close: list, volume: list.map(() => volume) };
}

// `collect` of a fresh instance on a fresh context.
function collect(name, cols, ...args) {
  return bw[name].make(ctxOf(cols)).collect(...args);
}

// A deterministic daily walk quoted in cents, like a real daily price series: 2 % moves, highs and
// lows up to 1 % beyond the body, whole volumes between 1000 and 10000.
function dailyWalk(n = 300, seed = 12345) {
  const rnd = parkMiller(seed);
  const cents = (x) => Math.round(x * 100) / 100;
  const out = { open: [], high: [], low: [], close: [], volume: [] };
  let c = 100;
  for (let i = 0; i < n; i++) {
    const o = c;
    c = cents(o * (1 + (rnd() - 0.5) * 0.04));
    out.open.push(o);
    out.high.push(cents(Math.max(o, c) * (1 + rnd() * 0.01)));
    out.low.push(cents(Math.min(o, c) * (1 - rnd() * 0.01)));
    out.close.push(c);
    out.volume.push(Math.round(1000 + rnd() * 9000));
  }
  return out;
}

// Index of the first step whose output (or output number `k` of a tuple) is defined.
function firstDefined(results, k) {
  const v = (r) => (k === undefined ? r : r[k]);
  return results.findIndex((r) => v(r) !== null && !Number.isNaN(v(r)));
}

function near(actual, expected, tol = 1e-9) {
  if (Number.isNaN(expected)) return Number.isNaN(actual);
  if (expected === null) return actual === null;
  if (!Number.isFinite(expected)) return actual === expected;
  return Math.abs(actual - expected) <= tol * Math.max(1, Math.abs(expected));
}

// Asserts element by element (tuples too) that `actual` matches `expected` within `tol`.
function assertNear(actual, expected, tol, label) {
  const flat = (x) => (Array.isArray(x) ? x.flatMap(flat) : [x]);
  const a = flat(actual);
  const e = flat(expected);
  if (a.length !== e.length) throw new Error(`${label}: ${a.length} values, expected ${e.length}`);
  const i = a.findIndex((x, k) => !near(x, e[k], tol));
  if (i >= 0) throw new Error(`${label}: value ${i} (flattened) is ${a[i]}, expected ${e[i]}`);
}

// ---- Textbook formulas over whole arrays ----

const range = (n) => [...Array(n).keys()];
const windowOf = (x, i, n) => x.slice(i - n + 1, i + 1);
const mean = (w) => w.reduce((a, b) => a + b, 0) / w.length;

function smaRef(x, n) {
  return x.map((_, i) => (i < n - 1 ? NaN : mean(windowOf(x, i, n))));
}
// Exponential average seeded with the simple average of the first n values.
function expRef(x, n, alpha) {
  const out = new Array(x.length).fill(NaN);
  const start = x.findIndex((v) => !Number.isNaN(v));
  if (start < 0 || start + n > x.length) return out;
  out[start + n - 1] = mean(x.slice(start, start + n));
  for (let i = start + n; i < x.length; i++) out[i] = out[i - 1] * (1 - alpha) + x[i] * alpha;
  return out;
}
const emaRef = (x, n) => expRef(x, n, 2 / (n + 1));
const wilderRef = (x, n) => expRef(x, n, 1 / n);
const highestRef = (x, n) => x.map((_, i) => (i < n - 1 ? NaN : Math.max(...windowOf(x, i, n))));
const lowestRef = (x, n) => x.map((_, i) => (i < n - 1 ? NaN : Math.min(...windowOf(x, i, n))));
function stdevRef(x, n) {
  return x.map((_, i) => {
    if (i < n - 1) return NaN;
    const w = windowOf(x, i, n);
    const m = mean(w);
    return Math.sqrt(mean(w.map((v) => (v - m) ** 2)));
  });
}
// The population standard deviation of the last n values at each step, computed exactly: every
// double is an integer multiple of 2^-100 here, so sums of the scaled values and of their squares
// are exact BigInts, and only the final square root rounds.
function exactStdevRef(x, n) {
  const scale = 2 ** 100;
  return x.map((_, i) => {
    if (i < n - 1) return NaN;
    const w = windowOf(x, i, n).map((v) => {
      if (!Number.isInteger(v * scale)) throw new Error(`${v} is not a multiple of 2^-100`);
      return BigInt(v * scale);
    });
    const nn = BigInt(n);
    const sum = w.reduce((a, v) => a + v, 0n);
    const squares = w.reduce((a, v) => a + v * v, 0n);
    // variance = (n * sum of squares - sum^2) / n^2, in units of 2^-200
    return Math.sqrt(Number(nn * squares - sum * sum) / Number(nn * nn) / scale / scale);
  });
}

// Closes of instruments quoted with small numbers: a coin around 0.00002 quoted in steps of 1e-8,
// whose moves all stay far below 1e-4, and EUR/USD around 1.1 moving by a few pips a bar.
function lowPricedCloses(n = 60) {
  return Array.from({ length: n }, (_, i) => (2000 + Math.round(60 * Math.sin(i / 2) + 20 * ((i * 7) % 5))) / 1e8);
}
function pipCloses(n = 60) {
  return Array.from({ length: n }, (_, i) => 1.1 + 0.0001 * Math.round(3 * Math.sin(i / 3) + ((i * 5) % 4)));
}

function trRef(b) {
  return b.close.map((_, i) =>
    i === 0
      ? b.high[0] - b.low[0]
      : Math.max(b.high[i] - b.low[i], Math.abs(b.high[i] - b.close[i - 1]), Math.abs(b.low[i] - b.close[i - 1])),
  );
}

// Runs a table of [class, collect arguments, first-value step of each output] on `cols`, each
// case its own subtest: the steps are counted from 1, as the docs state them.
async function firstSteps(t, cols, cases) {
  for (const [name, args, steps] of cases) {
    await t.test(name, () => {
      const out = collect(name, cols, ...args);
      assert.equal(out.length, cols.close.length, name);
      steps.forEach((step, k) =>
        assert.equal(firstDefined(out, steps.length > 1 ? k : undefined) + 1, step, `${name} output ${k}`));
    });
  }
}

module.exports = {
  bw,
  ctxOf,
  rows,
  closes,
  collect,
  dailyWalk,
  firstDefined,
  firstSteps,
  near,
  assertNear,
  range,
  windowOf,
  mean,
  smaRef,
  emaRef,
  wilderRef,
  highestRef,
  lowestRef,
  stdevRef,
  exactStdevRef,
  lowPricedCloses,
  pipCloses,
  trRef,
};
