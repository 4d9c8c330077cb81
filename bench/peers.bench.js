'use strict';
// barwise against the libraries a user would pick instead, on the same bars (bench/data.js):
// batch indicators, streaming indicators, a moving-average-cross backtest, and native memory.
// Median of RUNS timed runs after WARMUP untimed ones, each run from a fresh state. Prints one
// table and writes it to bench/RESULTS.md with the machine and the date.
//
//   node --expose-gc bench/peers.bench.js            # 1,000,000 and 100,000 bars
//   node --expose-gc bench/peers.bench.js --quick    # 100,000 bars, 3 runs (while developing)
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const data = require('./data');
const { measure, measureAsync } = require('./measure');

const quick = process.argv.includes('--quick');
const RUNS = quick ? 3 : 5;
const WARMUP = 1;
const SIZES = quick ? [100_000] : [1_000_000, 100_000];
const PINE_SIZE = 100_000; // the Pine runtime is slow: it runs on the smaller set only

const bw = require('..');

// ---------------------------------------------------------------------------------------------
// Timing.

let sink = 0; // results feed this, so no engine can drop the work
function consume(x) {
  if (x == null) return;
  if (typeof x === 'number') sink += x === x ? 1 : 0;
  else if (x.length !== undefined) sink += x.length;
  else sink += 1;
}

// ---------------------------------------------------------------------------------------------
// The six indicators: arguments and how to read a comparable last value from each result.

const SIX = ['sma', 'ema', 'rsi', 'bollinger', 'atr', 'macd'];
const CLASS = {
  sma: 'Incr_fn_sma_059403',
  ema: 'Incr_fn_ema_7bc747',
  rsi: 'Incr_fn_rsi_4196b9',
  bollinger: 'Incr_fn_bollinger_bands_7ac6ce',
  atr: 'Incr_fn_atr_d37266',
  macd: 'Incr_fn_macd_4e1ee0',
};
const LABEL = {
  sma: 'sma(14)', ema: 'ema(14)', rsi: 'rsi(14)', bollinger: 'bollinger(20, 2)', atr: 'atr(14)', macd: 'macd(12, 26)',
};
// Arguments of barwise `next`/`collect` after the series input (atr has none: it reads the bars).
const PARAMS = { sma: [14], ema: [14], rsi: [14], bollinger: [20, 2], atr: [14], macd: [12, 26] };

// The upper band of bollinger, the MACD line: one number per result, to show the contenders agree.
// A list's last element; within it, the first number of a row (barwise's [upper, lower]).
function lastNumber(x, inRow = false) {
  if (x == null) return NaN;
  if (typeof x === 'number') return x;
  if (Array.isArray(x) || ArrayBuffer.isView(x)) {
    if (x.length === 0) return NaN;
    return inRow ? lastNumber(x[0], true) : lastNumber(x[x.length - 1], true);
  }
  if (typeof x === 'object') {
    for (const k of ['upper', 'MACD', 'macd', 'value']) if (k in x) return Number(x[k]);
  }
  return NaN;
}

// ---------------------------------------------------------------------------------------------
// Plain JavaScript loops over Float64Arrays: the floor.

const floor = {
  sma(c) {
    const n = c.close.length, x = c.close, out = new Float64Array(n), p = 14;
    let s = 0;
    for (let i = 0; i < n; i++) {
      s += x[i];
      if (i >= p) s -= x[i - p];
      out[i] = i >= p - 1 ? s / p : NaN;
    }
    return out;
  },
  ema(c) {
    const n = c.close.length, x = c.close, out = new Float64Array(n), p = 14, a = 2 / (p + 1);
    let s = 0, e = NaN;
    for (let i = 0; i < n; i++) {
      if (i < p) {
        s += x[i];
        if (i === p - 1) e = s / p;
      } else e = e * (1 - a) + x[i] * a;
      out[i] = e;
    }
    return out;
  },
  rsi(c) {
    const n = c.close.length, x = c.close, out = new Float64Array(n), p = 14;
    let up = 0, down = 0;
    out[0] = NaN;
    for (let i = 1; i < n; i++) {
      const d = x[i] - x[i - 1], u = d > 0 ? d : 0, v = d < 0 ? -d : 0;
      if (i <= p) {
        up += u / p;
        down += v / p;
      } else {
        up = (up * (p - 1) + u) / p;
        down = (down * (p - 1) + v) / p;
      }
      out[i] = i >= p ? (down === 0 ? 100 : 100 - 100 / (1 + up / down)) : NaN;
    }
    return out;
  },
  bollinger(c) {
    const n = c.close.length, x = c.close, p = 20, k = 2;
    const upper = new Float64Array(n), lower = new Float64Array(n);
    let s = 0, q = 0;
    for (let i = 0; i < n; i++) {
      s += x[i];
      q += x[i] * x[i];
      if (i >= p) {
        s -= x[i - p];
        q -= x[i - p] * x[i - p];
      }
      if (i >= p - 1) {
        const m = s / p, sd = Math.sqrt(Math.max(q / p - m * m, 0));
        upper[i] = m + k * sd;
        lower[i] = m - k * sd;
      } else upper[i] = lower[i] = NaN;
    }
    return upper;
  },
  atr(c) {
    const n = c.close.length, h = c.high, l = c.low, x = c.close, out = new Float64Array(n), p = 14;
    let a = 0;
    for (let i = 0; i < n; i++) {
      const tr = i === 0 ? h[i] - l[i] : Math.max(h[i] - l[i], Math.abs(h[i] - x[i - 1]), Math.abs(l[i] - x[i - 1]));
      if (i < p) {
        a += tr / p;
        out[i] = i === p - 1 ? a : NaN;
      } else out[i] = a = (a * (p - 1) + tr) / p;
    }
    return out;
  },
  macd(c) {
    const n = c.close.length, x = c.close, out = new Float64Array(n);
    const af = 2 / 13, as = 2 / 27;
    let f = x[0], s = x[0];
    for (let i = 0; i < n; i++) {
      f = f + af * (x[i] - f);
      s = s + as * (x[i] - s);
      out[i] = i >= 25 ? f - s : NaN;
    }
    return out;
  },
};

// The moving-average-cross backtest as a plain loop: two windowed sums, always in the market,
// all equity on every cross, filled at the next open; the equity curve kept per bar.
function floorBacktest(c) {
  const n = c.close.length, x = c.close, o = c.open, eq = new Float64Array(n);
  let sf = 0, ss = 0, pos = 0, cash = 1000, want = 0, trades = 0;
  for (let i = 0; i < n; i++) {
    if (want !== 0 && Math.sign(pos) !== want) {
      const equity = cash + pos * o[i];
      pos = (want * equity) / o[i];
      cash = equity - pos * o[i];
      trades++;
    }
    sf += x[i];
    ss += x[i];
    if (i >= 10) sf -= x[i - 10];
    if (i >= 30) ss -= x[i - 30];
    eq[i] = cash + pos * x[i];
    if (i >= 29) want = sf / 10 > ss / 30 ? 1 : sf / 10 < ss / 30 ? -1 : want;
  }
  return [eq[n - 1], trades];
}

// ---------------------------------------------------------------------------------------------
// Peers.

const peers = {};
function loadPeers() {
  const tryRequire = (name) => {
    try {
      return require(name);
    } catch (e) {
      return null;
    }
  };
  peers.ti = tryRequire('technicalindicators');
  peers.fti = tryRequire('fast-technical-indicators');
  const ix = tryRequire('@ixjb94/indicators');
  peers.ix = ix ? new ix.IndicatorsSync() : null;
}

async function loadEsmPeers() {
  try {
    peers.ts = await import('trading-signals');
  } catch (e) {
    peers.ts = null;
  }
  try {
    peers.pine = await import('pinets');
  } catch (e) {
    peers.pine = null;
  }
}

// Batch calls by library: (columns) => result; columns are arrays or Float64Arrays.
const batch = {
  technicalindicators: {
    sma: (c) => peers.ti.SMA.calculate({ period: 14, values: c.close }),
    ema: (c) => peers.ti.EMA.calculate({ period: 14, values: c.close }),
    rsi: (c) => peers.ti.RSI.calculate({ period: 14, values: c.close }),
    bollinger: (c) => peers.ti.BollingerBands.calculate({ period: 20, stdDev: 2, values: c.close }),
    atr: (c) => peers.ti.ATR.calculate({ period: 14, high: c.high, low: c.low, close: c.close }),
    macd: (c) => peers.ti.MACD.calculate({
      values: c.close, fastPeriod: 12, slowPeriod: 26, signalPeriod: 9, SimpleMAOscillator: false, SimpleMASignal: false,
    }),
  },
  'trading-signals': {
    sma: (c) => new peers.ts.SMA(14).updates(c.close),
    ema: (c) => new peers.ts.EMA(14).updates(c.close),
    rsi: (c) => new peers.ts.RSI(14).updates(c.close),
    bollinger: (c) => new peers.ts.BollingerBands(20, 2).updates(c.close),
    atr: (c) => new peers.ts.ATR(14).updates(c.candles),
    macd: (c) => new peers.ts.MACD(new peers.ts.EMA(12), new peers.ts.EMA(26), new peers.ts.EMA(9)).updates(c.close),
  },
  '@ixjb94/indicators': {
    sma: (c) => peers.ix.sma(c.close, 14),
    ema: (c) => peers.ix.ema(c.close, 14),
    rsi: (c) => peers.ix.rsi(c.close, 14),
    bollinger: (c) => peers.ix.bbands(c.close, 20, 2)[2],
    atr: (c) => peers.ix.atr(c.high, c.low, c.close, 14),
    macd: (c) => peers.ix.macd(c.close, 12, 26, 9)[0],
  },
  'fast-technical-indicators': {
    sma: (c) => peers.fti.sma({ period: 14, values: c.close }),
    ema: (c) => peers.fti.ema({ period: 14, values: c.close }),
    rsi: (c) => peers.fti.rsi({ period: 14, values: c.close }),
    bollinger: (c) => peers.fti.bollingerbands({ period: 20, stdDev: 2, values: c.close }),
    atr: (c) => peers.fti.atr({ period: 14, high: c.high, low: c.low, close: c.close }),
    macd: (c) => peers.fti.macd({ values: c.close, fastPeriod: 12, slowPeriod: 26, signalPeriod: 9 }),
  },
};
const batchLoaded = {
  technicalindicators: () => peers.ti,
  'trading-signals': () => peers.ts,
  '@ixjb94/indicators': () => peers.ix,
  'fast-technical-indicators': () => peers.fti,
};

// Streaming: make(kind) gives a fresh indicator; step(ind, c, i) feeds bar i.
const stream = {
  technicalindicators: {
    make: {
      sma: () => new peers.ti.SMA({ period: 14, values: [] }),
      ema: () => new peers.ti.EMA({ period: 14, values: [] }),
      rsi: () => new peers.ti.RSI({ period: 14, values: [] }),
      bollinger: () => new peers.ti.BollingerBands({ period: 20, stdDev: 2, values: [] }),
      atr: () => new peers.ti.ATR({ period: 14, high: [], low: [], close: [] }),
      macd: () => new peers.ti.MACD({
        values: [], fastPeriod: 12, slowPeriod: 26, signalPeriod: 9, SimpleMAOscillator: false, SimpleMASignal: false,
      }),
    },
    step: (kind) => (kind === 'atr'
      ? (ind, c, i) => ind.nextValue({ high: c.high[i], low: c.low[i], close: c.close[i] })
      : (ind, c, i) => ind.nextValue(c.close[i])),
  },
  'trading-signals': {
    make: {
      sma: () => new peers.ts.SMA(14),
      ema: () => new peers.ts.EMA(14),
      rsi: () => new peers.ts.RSI(14),
      bollinger: () => new peers.ts.BollingerBands(20, 2),
      atr: () => new peers.ts.ATR(14),
      macd: () => new peers.ts.MACD(new peers.ts.EMA(12), new peers.ts.EMA(26), new peers.ts.EMA(9)),
    },
    step: (kind) => (kind === 'atr'
      ? (ind, c, i) => ind.add({ high: c.high[i], low: c.low[i], close: c.close[i] })
      : (ind, c, i) => ind.add(c.close[i])),
  },
  'fast-technical-indicators': {
    make: {
      sma: () => new peers.fti.SMA({ period: 14, values: [] }),
      ema: () => new peers.fti.EMA({ period: 14, values: [] }),
      rsi: () => new peers.fti.RSI({ period: 14, values: [] }),
      bollinger: () => new peers.fti.BollingerBands({ period: 20, stdDev: 2, values: [] }),
      atr: () => new peers.fti.ATR({ period: 14, high: [], low: [], close: [] }),
      macd: () => new peers.fti.MACD({ values: [], fastPeriod: 12, slowPeriod: 26, signalPeriod: 9 }),
    },
    step: (kind) => (kind === 'atr'
      ? (ind, c, i) => ind.nextValue(c.high[i], c.low[i], c.close[i])
      : (ind, c, i) => ind.nextValue(c.close[i])),
  },
};

function streamLoop(step) {
  return ({ ind, c }) => {
    const n = c.close.length;
    let v;
    for (let i = 0; i < n; i++) v = step(ind, c, i);
    return v;
  };
}

// ---------------------------------------------------------------------------------------------
// barwise set-up: one shared series per size, a fresh context per run.

const barwiseSeries = (n) => data.series(n);
function symbol() {
  return bw.NodeSym.BTC_USD();
}
const missing = (names) => names.filter((k) => typeof bw[k] !== 'function');

// ---------------------------------------------------------------------------------------------
// The table.

const rows = [];
const notes = [];
function row(r) {
  rows.push(r);
  const ns = r.ms === undefined ? '' : ((r.ms * 1e6) / r.n).toFixed(1);
  process.stderr.write(`  ${r.contender.padEnd(27)} ${r.workload.padEnd(18)} ${r.api.padEnd(28)} ${String(r.n).padStart(8)} ${ns.padStart(9)} ns/bar${r.note ? '  (' + r.note + ')' : ''}\n`);
}
function skip(contender, workload, api, n, note) {
  row({ contender, workload, api, n, note, group: null });
}
function timed(contender, workload, api, n, group, prepare, run, opts = {}) {
  try {
    const { ms, cpuMs, last } = measure(run, { prepare, runs: opts.runs ?? RUNS, warmup: WARMUP, onResult: consume });
    row({ contender, workload, api, n, ms, cpuMs, group, last: opts.noValue ? NaN : lastNumber(last), note: opts.note });
  } catch (e) {
    skip(contender, workload, api, n, `failed: ${String(e && e.message).slice(0, 80)}`);
  }
}

// ---------------------------------------------------------------------------------------------
// Workloads.

// barwise `collect` with arrays ('array') or Float64Arrays ('f64') as the inputs, and
// `collectTyped` with Float64Arrays in and out ('typed').
const BATCH_MODES = {
  array: { api: 'collect (Array)', group: 'batch', method: 'collect' },
  f64: { api: 'collect (Float64Array)', group: 'batchF64', method: 'collect' },
  typed: { api: 'collectTyped (Float64Array)', group: 'batchTyped', method: 'collectTyped' },
};
function barwiseBatch(n, mode) {
  const cols = mode === 'array' ? data.arrays(n) : data.columns(n);
  const { api, group, method } = BATCH_MODES[mode];
  const hasCtx = missing(['NodeOhlcv', 'NodeCtx', 'zipOhlcvBars', 'NodeSym']).length === 0;
  for (const kind of SIX) {
    const cls = bw[CLASS[kind]];
    if (!hasCtx || !cls) {
      skip('barwise', LABEL[kind], api, n, !hasCtx ? 'series or context not exported yet' : `${CLASS[kind]} not exported yet`);
      continue;
    }
    const s = barwiseSeries(n);
    const prep = () => cls.make(new bw.NodeCtx(s, symbol()));
    if (typeof cls.prototype[method] !== 'function') {
      skip('barwise', LABEL[kind], api, n, `${method} not exported yet`);
      continue;
    }
    const all = kind === 'atr'
      ? (ind) => ind[method](...PARAMS[kind])
      : (ind) => ind[method](cols.close, ...PARAMS[kind]);
    // Typed tuples come as one Float64Array per output: the upper band is the first.
    const run = mode === 'typed' && kind === 'bollinger' ? (ind) => all(ind)[0] : all;
    timed('barwise', LABEL[kind], api, n, group, prep, run);
  }
}

// A peer's batch API with arrays ('array') or Float64Arrays ('f64').
function peerBatch(lib, n, mode) {
  const api = mode === 'f64' ? 'batch (Float64Array)' : 'batch (Array)';
  const group = mode === 'f64' ? 'batchF64' : 'batch';
  for (const kind of SIX) {
    const wl = LABEL[kind];
    if (!batchLoaded[lib]()) {
      skip(lib, wl, api, n, 'not installed');
      continue;
    }
    const fn = batch[lib][kind];
    if (mode === 'f64') {
      if (lib === 'trading-signals' && kind === 'atr') continue; // takes candle objects only
      const why = float64Refusal(fn);
      if (why) {
        skip(lib, wl, api, n, why);
        continue;
      }
      timed(lib, wl, api, n, group, () => data.columns(n), fn);
    } else {
      const arr = data.arrays(n);
      const cols = lib === 'trading-signals' && kind === 'atr' ? { ...arr, candles: candlesOf(arr) } : arr;
      timed(lib, wl, api, n, group, () => cols, fn);
    }
  }
}

function floorBatch(n) {
  const f64 = data.columns(n);
  for (const kind of SIX) timed('plain JavaScript loop', LABEL[kind], 'loop over Float64Array', n, 'floor', () => f64, floor[kind]);
}

// Candle objects for trading-signals' ATR (built once per size, outside the timing).
const candleCache = new Map();
function candlesOf(cols) {
  const n = cols.close.length;
  if (!candleCache.has(n)) {
    const out = new Array(n);
    for (let i = 0; i < n; i++) out[i] = { high: cols.high[i], low: cols.low[i], close: cols.close[i] };
    candleCache.set(n, out);
  }
  return candleCache.get(n);
}

// Why a library cannot take a Float64Array for the inputs (it fails, or its numbers differ from
// those it gives for the same array), or nothing when it can. Checked on a small input.
function float64Refusal(fn) {
  const a = data.arrays(2000), f = data.columns(2000);
  let x;
  try {
    x = fn(a);
  } catch (e) {
    return 'fails on arrays';
  }
  try {
    const y = fn(f);
    return JSON.stringify(x) === JSON.stringify(y) ? null : 'gives other numbers for a Float64Array';
  } catch (e) {
    return 'does not take a Float64Array';
  }
}

// barwise `next` once per bar, the context iterated by `for ... of`; and the bare iteration, to
// tell the cost of `next` from the cost of walking the bars.
function barwiseStream(n) {
  const arr = data.arrays(n);
  const hasCtx = missing(['NodeOhlcv', 'NodeCtx', 'zipOhlcvBars', 'NodeSym']).length === 0;
  if (!hasCtx) {
    skip('barwise', 'context iteration', 'for (const i of ctx) {}', n, 'series or context not exported yet');
  } else {
    const s = barwiseSeries(n);
    timed('barwise', 'context iteration', 'for (const i of ctx) {}', n, 'streamBase',
      () => new bw.NodeCtx(s, symbol()),
      (ctx) => {
        let k = 0;
        for (const i of ctx) k += i;
        return k;
      }, { noValue: true });
  }
  for (const kind of SIX) {
    const wl = LABEL[kind];
    const cls = bw[CLASS[kind]];
    if (!hasCtx || !cls) {
      skip('barwise', wl, 'next, ctx iterated', n, !hasCtx ? 'series or context not exported yet' : `${CLASS[kind]} not exported yet`);
      continue;
    }
    const s = barwiseSeries(n);
    const prep = () => {
      const ctx = new bw.NodeCtx(s, symbol());
      return { ctx, ind: cls.make(ctx) };
    };
    const x = arr.close;
    const [p, q] = PARAMS[kind];
    let run;
    if (kind === 'atr') {
      run = ({ ctx, ind }) => {
        let v;
        for (const i of ctx) v = ind.next(p);
        return v;
      };
    } else if (q === undefined) {
      run = ({ ctx, ind }) => {
        let v;
        for (const i of ctx) v = ind.next(x[i], p);
        return v;
      };
    } else {
      // The last step's result as a one-row list, so that its first number (the upper band) is
      // the last value shown.
      run = ({ ctx, ind }) => {
        let v;
        for (const i of ctx) v = ind.next(x[i], p, q);
        return [v];
      };
    }
    timed('barwise', wl, 'next, ctx iterated', n, 'stream', prep, run);
  }
}

function peerStream(lib, n) {
  const f64 = data.columns(n);
  const api = lib === 'trading-signals' ? 'add per bar' : 'nextValue per bar';
  for (const kind of SIX) {
    if (!batchLoaded[lib]()) {
      skip(lib, LABEL[kind], api, n, 'not installed');
      continue;
    }
    timed(lib, LABEL[kind], api, n, 'stream', () => ({ ind: stream[lib].make[kind](), c: f64 }), streamLoop(stream[lib].step(kind)));
  }
}

// The moving-average-cross backtest: the loop of a user script, its cost split into the
// iteration step, the two `next` calls and the signal; then every figure of the results.
const FIGURES = [
  'initialCapital', 'processOrdersOnClose', 'instrumentSize', 'equityList', 'netEquityList', 'equity', 'netEquity',
  'returnsList', 'pnlList', 'openTrades', 'closedTrades', 'trades', 'positionSize', 'firstEntryBarIndex',
  'losingTradesCount', 'openLongsCount', 'openShortsCount', 'closedLongsCount', 'closedShortsCount',
  'netProfit', 'grossProfit', 'grossLoss', 'openProfit', 'netProfitPct', 'grossProfitPct', 'grossLossPct',
  'avgTrade', 'avgWinningTrade', 'avgLosingTrade', 'avgWinLossRatio', 'profitFactor', 'winRate',
];
function readFigures(bt) {
  let k = 0;
  for (const f of FIGURES) {
    const v = bt[f];
    k += v == null ? 0 : 1;
  }
  k += bt.winningTradesCount() > 0n ? 1 : 0;
  k += bt.sharpeRatio() + bt.sortinoRatio() + bt.expectancy();
  return k;
}

function barwiseBacktest(n) {
  const arr = data.arrays(n);
  const wl = 'ma-cross backtest';
  const need = missing(['NodeOhlcv', 'NodeCtx', 'zipOhlcvBars', 'NodeSym', 'NodeBacktest', 'NodeSignal', CLASS.sma]);
  if (need.length) {
    skip('barwise', wl, 'for (const i of bt) + 2 next + signal', n, `${need.join(', ')} not exported yet`);
  } else {
    const s = barwiseSeries(n);
    const Sma = bw[CLASS.sma];
    const x = arr.close;
    const prep = () => {
      const ctx = new bw.NodeCtx(s, symbol());
      return {
        bt: new bw.NodeBacktest(ctx, 1000), fast: Sma.make(ctx), slow: Sma.make(ctx),
        long: bw.NodeSignal.EquityPct(1), short: bw.NodeSignal.EquityPct(-1),
      };
    };
    timed('barwise', wl, 'iteration step only', n, 'btStep', prep, ({ bt }) => {
      let k = 0;
      for (const i of bt) k += i;
      return k;
    }, { noValue: true });
    timed('barwise', wl, 'iteration + 2 next', n, 'btNext', prep, ({ bt, fast, slow }) => {
      let k = 0;
      for (const i of bt) k += fast.next(x[i], 10) - slow.next(x[i], 30);
      return k;
    }, { noValue: true });
    timed('barwise', wl, 'iteration + 2 next + signal', n, 'btSignal', prep, ({ bt, fast, slow, long, short }) => {
      for (const i of bt) {
        const f = fast.next(x[i], 10), q = slow.next(x[i], 30);
        if (f > q) bt.signal(long);
        else if (f < q) bt.signal(short);
      }
      return bt;
    }, { noValue: true });
    // What the peers give: the run and its net profit (pinets plots strategy.netprofit).
    timed('barwise', wl, 'iteration + 2 next + signal, net profit', n, 'btNet', prep, ({ bt, fast, slow, long, short }) => {
      for (const i of bt) {
        const f = fast.next(x[i], 10), q = slow.next(x[i], 30);
        if (f > q) bt.signal(long);
        else if (f < q) bt.signal(short);
      }
      return bt.netProfit;
    });
    timed('barwise', wl, 'whole run + every figure', n, 'backtest', prep, ({ bt, fast, slow, long, short }) => {
      for (const i of bt) {
        const f = fast.next(x[i], 10), q = slow.next(x[i], 30);
        if (f > q) bt.signal(long);
        else if (f < q) bt.signal(short);
      }
      readFigures(bt);
      return bt.netProfit;
    });
  }
}

const PINE_STRATEGY = `//@version=5
strategy("ma cross", initial_capital=1000, default_qty_type=strategy.percent_of_equity, default_qty_value=100)
fast = ta.sma(close, 10)
slow = ta.sma(close, 30)
if fast > slow
    strategy.entry("L", strategy.long)
else if fast < slow
    strategy.entry("S", strategy.short)
plot(strategy.netprofit, "netprofit")
`;

async function pineWorkload(n) {
  const wl = 'ma-cross backtest';
  if (!peers.pine) {
    skip('pinets', wl, 'Pine strategy', n, 'not installed');
    return;
  }
  const candles = data.candles(n);
  try {
    const { ms, cpuMs, last: res } = await measureAsync((pine) => pine.run(PINE_STRATEGY), {
      prepare: () => new peers.pine.PineTS(candles.map((c) => ({ ...c }))), runs: RUNS, warmup: WARMUP,
    });
    const np = res && res.plots && res.plots.netprofit && res.plots.netprofit.data;
    const last = np && np.length ? Number(np[np.length - 1].value) : NaN;
    row({ contender: 'pinets', workload: wl, api: 'Pine strategy', n, ms, cpuMs, group: 'backtestPeer', last, note: 'net profit' });
  } catch (e) {
    skip('pinets', wl, 'Pine strategy', n, `failed: ${String(e && e.message).slice(0, 80)}`);
  }
}

// Native memory, measured in a child process of its own (bench/memory.bench.js).
function memoryRows() {
  try {
    const out = execFileSync(process.execPath, ['--expose-gc', path.join(__dirname, 'memory.bench.js'), '--json'], {
      encoding: 'utf8', stdio: ['ignore', 'pipe', 'inherit'],
    });
    return JSON.parse(out.trim().split('\n').pop());
  } catch (e) {
    return [{ what: 'memory', note: `failed: ${String(e && e.message).slice(0, 80)}` }];
  }
}

// ---------------------------------------------------------------------------------------------
// Report.

const REF_GROUP = {
  batch: 'batch', batchF64: 'batchF64', batchTyped: 'batchTyped', floor: 'batchTyped', stream: 'stream',
  btNet: 'btNet', backtest: 'backtest', backtestPeer: 'btNet', backtestFloor: 'btNet',
};

// Times are compared by wall time, or by CPU time when other work shared the machine (see main).
let basis = 'ms';
function nsOf(r) {
  return r && r[basis] !== undefined ? (r[basis] * 1e6) / r.n : undefined;
}
function wallNs(r) {
  return r && r.ms !== undefined ? (r.ms * 1e6) / r.n : undefined;
}
function cpuNs(r) {
  return r && r.cpuMs !== undefined ? (r.cpuMs * 1e6) / r.n : undefined;
}
function find(pred) {
  return rows.find(pred);
}
function barwiseRow(r) {
  const g = REF_GROUP[r.group];
  if (!g) return undefined;
  return find((b) => b.contender === 'barwise' && b.group === g && b.n === r.n && b.workload === r.workload && b.ms !== undefined);
}

function fmt(x, digits = 1) {
  return x === undefined || Number.isNaN(x) ? '' : x.toFixed(digits);
}
function fmtValue(x) {
  if (x === undefined || !Number.isFinite(x)) return '';
  return Number(x.toPrecision(7)).toString();
}

function table() {
  const head = '| contender | workload | API | N | median ms | ns/bar | CPU ns/bar | ratio to barwise | last value |';
  const rule = '|---|---|---|---:|---:|---:|---:|---:|---:|';
  const lines = [head, rule];
  for (const r of rows) {
    const ref = barwiseRow(r);
    const ratio = r.ms !== undefined && ref && ref !== r ? fmt(nsOf(r) / nsOf(ref), 2) : r.contender === 'barwise' && ref === r ? '1.00' : '';
    const cells = [r.contender, r.workload, r.api, r.n.toLocaleString('en-US'), fmt(r.ms, 1), fmt(wallNs(r), 1), fmt(cpuNs(r), 1), ratio,
      r.note && r.ms === undefined ? r.note : fmtValue(r.last)];
    lines.push(`| ${cells.join(' | ')} |`);
  }
  return lines.join('\n');
}

function goals(mem) {
  const N = SIZES[0];
  const out = [basis === 'ms'
    ? 'Judged on wall time.'
    : 'Judged on CPU time: the load average stayed above the core count, so wall times measure the other work as much as this one.', ''];
  const get = (contender, workload, group, n = N) => find((r) => r.contender === contender && r.workload === workload && r.group === group && r.n === n && r.ms !== undefined);
  const say = (ok, text) => out.push(`- ${ok === undefined ? 'not measured' : ok ? 'met' : 'MISSED'}: ${text}`);
  for (const kind of SIX) {
    const wl = LABEL[kind];
    const mine = get('barwise', wl, 'batch');
    const best = rows.filter((r) => r.n === N && r.workload === wl && r.ms !== undefined && r.contender !== 'barwise' && r.contender !== 'plain JavaScript loop' && (r.group === 'batch' || r.group === 'batchF64'))
      .sort((a, b) => nsOf(a) - nsOf(b))[0];
    if (!mine || !best) say(undefined, `collect (Array) ${wl} at least 1.5x faster than the fastest peer batch`);
    else say(nsOf(best) >= 1.5 * nsOf(mine), `collect (Array) ${wl}: ${fmt(nsOf(mine))} ns/bar against ${fmt(nsOf(best))} (${best.contender}, ${best.api}), ${fmt(nsOf(best) / nsOf(mine), 2)}x (goal 1.5x)`);
  }
  for (const kind of ['sma', 'ema', 'atr']) {
    const wl = LABEL[kind];
    const mine = get('barwise', wl, 'batchTyped');
    const fl = get('plain JavaScript loop', wl, 'floor');
    if (!mine || !fl) say(undefined, `collectTyped (Float64Array) ${wl} within 2x of the plain loop`);
    else say(nsOf(mine) <= 2 * nsOf(fl), `collectTyped (Float64Array) ${wl}: ${fmt(nsOf(mine))} ns/bar, ${fmt(nsOf(mine) / nsOf(fl), 2)}x the plain loop (${fmt(nsOf(fl))}) (goal 2x)`);
  }
  for (const kind of ['sma', 'ema']) {
    const wl = LABEL[kind];
    const mine = get('barwise', wl, 'batchF64');
    const fl = get('plain JavaScript loop', wl, 'floor');
    if (mine && fl) out.push(`- collect (Float64Array in, array out) ${wl}: ${fmt(nsOf(mine))} ns/bar, ${fmt(nsOf(mine) / nsOf(fl), 2)}x the plain loop`);
  }
  const base = get('barwise', 'context iteration', 'streamBase');
  for (const kind of ['sma', 'ema']) {
    const wl = LABEL[kind];
    const mine = get('barwise', wl, 'stream');
    if (!mine || !base) say(undefined, `next ${wl} at most 100 ns a bar with the context iteration`);
    else {
      const call = nsOf(mine) - nsOf(base);
      say(nsOf(mine) <= 100, `next ${wl} (context iteration included): ${fmt(nsOf(mine))} ns/bar (goal 100): the iteration alone ${fmt(nsOf(base))}, next ${fmt(call)} a call`);
    }
  }
  for (const kind of ['rsi', 'bollinger', 'atr', 'macd']) {
    const wl = LABEL[kind];
    const mine = get('barwise', wl, 'stream');
    const best = rows.filter((r) => r.n === N && r.workload === wl && r.group === 'stream' && r.contender !== 'barwise' && r.ms !== undefined)
      .sort((a, b) => nsOf(a) - nsOf(b))[0];
    if (!mine || !best) say(undefined, `next ${wl} faster than every peer's streaming API`);
    else say(nsOf(mine) < nsOf(best), `next ${wl} (context iteration included): ${fmt(nsOf(mine))} ns/bar against ${fmt(nsOf(best))} (${best.contender}), ${fmt(nsOf(best) / nsOf(mine), 2)}x`);
  }
  {
    const wl = 'ma-cross backtest';
    // The same work on both sides: the strategy's run and its net profit.
    const mine = get('barwise', wl, 'btNet', PINE_SIZE);
    const pine = get('pinets', wl, 'backtestPeer', PINE_SIZE);
    if (!mine || !pine) say(undefined, 'backtest at least 30x faster than the Pine strategy of pinets');
    else say(nsOf(pine) >= 30 * nsOf(mine), `backtest with its net profit at ${PINE_SIZE.toLocaleString('en-US')} bars: ${fmt(nsOf(mine))} ns/bar against ${fmt(nsOf(pine))} (pinets), ${fmt(nsOf(pine) / nsOf(mine), 1)}x (goal 30x)`);
    const every = get('barwise', wl, 'backtest', PINE_SIZE);
    if (every && pine) out.push(`- backtest reading every figure as well (four lists of a number per bar, every trade twice, the ratios) at ${PINE_SIZE.toLocaleString('en-US')} bars: ${fmt(nsOf(every))} ns/bar, ${fmt(nsOf(pine) / nsOf(every), 1)}x pinets`);
    const st = get('barwise', wl, 'btStep'), nx = get('barwise', wl, 'btNext'), sg = get('barwise', wl, 'btSignal'), all = get('barwise', wl, 'backtest');
    if (st && nx && sg && all) {
      out.push(`- backtest cost at ${N.toLocaleString('en-US')} bars, ns/bar: iteration step ${fmt(nsOf(st))}, two next ${fmt(nsOf(nx) - nsOf(st))}, signal ${fmt(nsOf(sg) - nsOf(nx))}, figures ${fmt(nsOf(all) - nsOf(sg))}; whole ${fmt(nsOf(all))}`);
    }
  }
  const sma = mem.find((m) => m.what === 'sma instance');
  if (!sma || sma.bytesPerBar === undefined) say(undefined, 'at most 16 native bytes per bar for an sma instance');
  else say(sma.bytesPerBar <= 16, `sma instance: ${fmt(sma.bytesPerBar)} native bytes per bar`);
  return out.join('\n');
}

function machine() {
  const cpus = os.cpus();
  return `${cpus.length} x ${cpus[0] ? cpus[0].model.trim() : 'unknown CPU'}, ${(os.totalmem() / 2 ** 30).toFixed(0)} GiB, ${os.type()} ${os.release()}, Node.js ${process.version}`;
}

function memoryTable(mem) {
  const lines = ['| what | bars | native bytes | bytes per bar | note |', '|---|---:|---:|---:|---|'];
  for (const m of mem) {
    lines.push(`| ${m.what} | ${m.bars ? m.bars.toLocaleString('en-US') : ''} | ${m.bytes !== undefined ? Math.round(m.bytes).toLocaleString('en-US') : ''} | ${fmt(m.bytesPerBar)} | ${m.note || ''} |`);
  }
  return lines.join('\n');
}

// One job runs in a process of its own, so that no contender inherits another's compiled code,
// type feedback or heap: `--job=<contender>:<mode> --n=<bars>` prints its rows as JSON.
async function runJob(contender, mode, n) {
  loadPeers();
  if (contender === 'trading-signals' || contender === 'pinets') await loadEsmPeers();
  if (contender === 'barwise') {
    if (BATCH_MODES[mode]) barwiseBatch(n, mode);
    else if (mode === 'stream') barwiseStream(n);
    else barwiseBacktest(n);
  } else if (contender === 'floor') {
    if (mode === 'batch') floorBatch(n);
    else timed('plain JavaScript loop', 'ma-cross backtest', 'loop over Float64Array', n, 'backtestFloor', () => data.columns(n), floorBacktest, { noValue: true });
  } else if (contender === 'pinets') {
    await pineWorkload(n);
  } else if (mode === 'stream') {
    peerStream(contender, n);
  } else {
    peerBatch(contender, n, mode);
  }
  process.stdout.write(`${JSON.stringify(rows)}\n`);
}

function jobs() {
  const out = [];
  for (const n of SIZES) {
    for (const mode of ['array', 'f64', 'typed', 'stream', 'backtest']) out.push(['barwise', mode, n]);
    for (const lib of Object.keys(batch)) {
      out.push([lib, 'array', n], [lib, 'f64', n]);
      if (stream[lib]) out.push([lib, 'stream', n]);
    }
    out.push(['floor', 'batch', n], ['floor', 'backtest', n]);
    if (n === PINE_SIZE) out.push(['pinets', 'backtest', n]);
  }
  return out;
}

const CONTENDERS = ['barwise', 'technicalindicators', 'trading-signals', '@ixjb94/indicators', 'fast-technical-indicators', 'pinets', 'plain JavaScript loop'];
const GROUPS = ['batch', 'batchF64', 'batchTyped', 'floor', 'streamBase', 'stream', 'btStep', 'btNext', 'btSignal', 'btNet', 'backtest', 'backtestPeer', 'backtestFloor'];
const SECTION = { batch: 0, batchF64: 0, batchTyped: 0, floor: 0, streamBase: 1, stream: 1 };
function sortRows() {
  const wlIndex = (w) => Object.values(LABEL).indexOf(w);
  const section = (r) => (r.group ? SECTION[r.group] ?? 2 : r.api.startsWith('next') || r.api.includes('per bar') || r.api.startsWith('for (const i of ctx)') ? 1 : r.workload === 'ma-cross backtest' ? 2 : 0);
  const groupOf = (r) => (r.group ? GROUPS.indexOf(r.group) : r.api.includes('Float64Array') ? 1 : 0);
  const key = (r) => [-r.n, section(r), wlIndex(r.workload), CONTENDERS.indexOf(r.contender), groupOf(r)];
  rows.sort((a, b) => {
    const x = key(a), y = key(b);
    for (let i = 0; i < x.length; i++) if (x[i] !== y[i]) return x[i] - y[i];
    return 0;
  });
}

const NOTES_HEADING = '## Where the time goes';

async function main() {
  const job = process.argv.find((a) => a.startsWith('--job='));
  if (job) {
    const [contender, mode] = job.slice(6).split(':');
    const n = Number(process.argv.find((a) => a.startsWith('--n=')).slice(4));
    await runJob(contender, mode, n);
    return;
  }
  const loadBefore = os.loadavg()[0];
  process.stderr.write(`barwise ${bw._getCoreVersion()} against peers: median of ${RUNS} runs after ${WARMUP} warm-up, one process per contender and kind of API\n`);
  for (const [contender, mode, n] of jobs()) {
    const args = ['--expose-gc', __filename, `--job=${contender}:${mode}`, `--n=${n}`];
    if (quick) args.push('--quick');
    try {
      const out = execFileSync(process.execPath, args, { encoding: 'utf8', stdio: ['ignore', 'pipe', 'inherit'], maxBuffer: 1 << 26 });
      rows.push(...JSON.parse(out.trim().split('\n').pop()));
    } catch (e) {
      const name = contender === 'floor' ? 'plain JavaScript loop' : contender;
      skip(name, mode === 'backtest' ? 'ma-cross backtest' : 'all six', mode, n, `process failed: ${String(e && e.message).split('\n')[0].slice(0, 80)}`);
    }
  }
  sortRows();
  const mem = memoryRows();
  const loadAfter = os.loadavg()[0];
  if (Math.max(loadBefore, loadAfter) > os.cpus().length) basis = 'cpuMs';
  const date = new Date().toISOString().replace(/\.\d+Z$/, 'Z');
  const text = [
    '# Benchmark results',
    '',
    `Taken ${date} on ${machine()} by \`npm run bench\` (bench/peers.bench.js, data from bench/data.js).`,
    `Median of ${RUNS} runs after ${WARMUP} warm-up run, each from a fresh state; ns/bar is the median time over the number of bars.`,
    `Load average (1 minute) ${loadBefore.toFixed(1)} at the start and ${loadAfter.toFixed(1)} at the end, on ${os.cpus().length} cores${basis === 'ms' ? '.' : ': other work shared the machine, so wall times are inflated by it; CPU ns/bar is the process\'s CPU time (all threads) over the bars, and ratios and goals use it.'}`,
    'Ratio to barwise: the contender\'s time over barwise\'s on the same workload and kind of API (batch with arrays, batch with Float64Arrays, Float64Arrays in and out: `collectTyped` and the plain loop, streaming, backtest); above 1 barwise is faster.',
    'Last value: the final result of the run (the upper band for bollinger, the MACD line for macd, net profit for the backtest), to show that the contenders compute the same thing.',
    '',
    table(),
    '',
    '## Memory',
    '',
    memoryTable(mem),
    '',
    '## Goals',
    '',
    goals(mem),
    '',
  ].join('\n');
  // The profile notes under NOTES_HEADING are written by hand: a new run keeps them.
  const file = path.join(__dirname, 'RESULTS.md');
  const previous = fs.existsSync(file) ? fs.readFileSync(file, 'utf8') : '';
  const at = previous.indexOf(NOTES_HEADING);
  fs.writeFileSync(file, at >= 0 ? `${text}\n${previous.slice(at)}` : text);
  process.stdout.write(`\n${text}\n(sink ${sink})\n`);
}

main().catch((e) => {
  console.error(e);
  process.exit(1);
});
