'use strict';
// The runner of a sweep: rebuilds a series from its transferable form, lets the strategy build the
// signals of each parameter set and runs them with NodeBacktest.fromSignals. The worker threads
// of `sweep` and the BullMQ workers of barwise/sweep-bullmq both run their sets through here, so
// that every way of running a sweep gives the same rows.
const { isMainThread, parentPort, workerData } = require('node:worker_threads');
const path = require('node:path');
const { pathToFileURL } = require('node:url');
const bw = require('..');

const { NodeBacktest, NodeCtx, NodeOhlcv, NodeSignal, NodeSym, NodeTimeframe } = bw;

// ---------------------------------------------------------------------------------------------
// Series in transferable form: columns of numbers, the timeframe's text, the symbol's JSON.

const COLUMNS = ['open', 'high', 'low', 'close', 'volume'];

/** The series and symbol as plain data that a worker thread or a job queue can carry. */
function seriesPayload(ohlcv, sym, symbol) {
  const { timeframe, ...columns } = ohlcv.toColumns();
  return { symbol, timeframe: timeframe.toString(), sym: sym.toJSON(), columns };
}

function seriesFromPayload(p) {
  const ohlcv = NodeOhlcv.fromColumns({ ...p.columns, timeframe: NodeTimeframe.fromString(p.timeframe) });
  return { symbol: p.symbol, ohlcv, sym: NodeSym.fromJSON(p.sym), columns: p.columns };
}

// ---------------------------------------------------------------------------------------------
// What a strategy sees of a series, with a cache of indicator results.

const INDICATOR_NAME = /^Incr_fn_(.+)_[0-9a-f]{6}$/;
let shortNames = null;

function indicatorClass(which) {
  if (typeof which === 'function' && typeof which.make === 'function') return which;
  if (typeof which === 'string') {
    if (typeof bw[which] === 'function' && INDICATOR_NAME.test(which)) return bw[which];
    if (!shortNames) {
      shortNames = new Map();
      for (const k of Object.keys(bw)) {
        const m = INDICATOR_NAME.exec(k);
        if (m) shortNames.set(m[1], bw[k]);
      }
    }
    const cls = shortNames.get(which);
    if (cls) return cls;
  }
  throw new Error(`indicator: ${typeof which === 'string' ? `"${which}"` : String(which)} is not an indicator class or name`);
}

// A collect result in a compact form: numbers as a Float64Array, flags as a Uint8Array (1 where
// true), anything else (several outputs) as it came.
function compact(xs) {
  let numbers = true;
  let flags = true;
  for (let i = 0; i < xs.length && (numbers || flags); i++) {
    const x = xs[i];
    if (typeof x !== 'number') numbers = false;
    if (x !== true && x !== false && x !== null) flags = false;
  }
  if (numbers) return Float64Array.from(xs);
  if (flags) return Uint8Array.from(xs, (x) => (x ? 1 : 0));
  return xs;
}

// Distinct keys for the arguments of one indicator call: numbers and texts by value, lists by
// identity (a cached result passed on is the same object every time).
class ArgKeys {
  constructor() {
    this.ids = new WeakMap();
    this.next = 0;
  }
  of(arg) {
    if (arg !== null && typeof arg === 'object') {
      let id = this.ids.get(arg);
      if (id === undefined) this.ids.set(arg, (id = this.next++));
      return `#${id}`;
    }
    if (typeof arg === 'number') return Object.is(arg, -0) ? 'n-0' : `n${arg}`;
    return `${typeof arg}:${String(arg)}`;
  }
}

// a > b now and a <= b on the bar before (up = 1), or a < b now and a >= b before (up = -1);
// every comparison with a missing value is false, so bar 0 never crosses.
function crossings(a, b, n, up) {
  if (a.length !== n || b.length !== n) throw new Error(`crossings: both lists need ${n} elements, one per bar`);
  const out = new Uint8Array(n);
  for (let i = 1; i < n; i++) {
    const x = a[i];
    const y = b[i];
    const px = a[i - 1];
    const py = b[i - 1];
    out[i] = (up > 0 ? x > y && px <= py : x < y && px >= py) ? 1 : 0;
  }
  return out;
}

const DEFAULT_CACHE_BYTES = 512 * 1024 * 1024;

function byteSize(v) {
  if (ArrayBuffer.isView(v)) return v.byteLength;
  return Array.isArray(v) ? v.length * 16 : 64;
}

/**
 * The market of one series as a strategy sees it: the series, its symbol, its price columns and
 * `indicator(nameOrClass, ...args)`, which runs `collect` on a fresh copy of the context once per
 * distinct class and arguments and hands out the cached result after that.
 */
class SweepMarket {
  constructor({ symbol, ohlcv, sym, columns }, { cacheBytes = DEFAULT_CACHE_BYTES } = {}) {
    this.symbol = symbol;
    this.ohlcv = ohlcv;
    this.sym = sym;
    this.length = ohlcv.length;
    this.base = new NodeCtx(ohlcv, sym);
    for (const k of COLUMNS) {
      const col = columns && columns[k];
      Object.defineProperty(this, k, { value: col instanceof Float64Array ? col : Float64Array.from(ohlcv[k]), enumerable: true });
    }
    this.cache = new Map();
    this.cacheBytes = cacheBytes;
    this.bytes = 0;
    this.keys = new ArgKeys();
    this.hits = 0;
    this.misses = 0;
  }

  /** A fresh context on the series (no bar run yet). */
  ctx() {
    return this.base.copy();
  }

  indicator(which, ...args) {
    const cls = indicatorClass(which);
    return this.cached(cls.name, args, () => compact(cls.make(this.base.copy()).collect(...args)));
  }

  /** Where `a` crosses above `b` (as indicator "crossover", in one pass over two arrays): a Uint8Array. */
  crossover(a, b) {
    return this.cached('crossover', [a, b], () => crossings(a, b, this.length, 1));
  }

  /** Where `a` crosses below `b` (as indicator "crossunder"): a Uint8Array. */
  crossunder(a, b) {
    return this.cached('crossunder', [a, b], () => crossings(a, b, this.length, -1));
  }

  cached(name, args, compute) {
    const key = `${name}(${args.map((a) => this.keys.of(a)).join(',')})`;
    const hit = this.cache.get(key);
    if (hit !== undefined) {
      // Most recently used last: the oldest entries go first when the cache is full.
      this.cache.delete(key);
      this.cache.set(key, hit);
      this.hits++;
      return hit;
    }
    this.misses++;
    const out = compute();
    this.cache.set(key, out);
    this.bytes += byteSize(out);
    for (const [k, v] of this.cache) {
      if (this.bytes <= this.cacheBytes || k === key) break;
      this.cache.delete(k);
      this.bytes -= byteSize(v);
    }
    return out;
  }
}

// ---------------------------------------------------------------------------------------------
// Strategies

/** The signal-building function of a strategy module (its default export, `signals`, or itself). */
async function loadStrategy(file) {
  const mod = await import(pathToFileURL(path.resolve(file)).href);
  const fn = [mod.default, mod.default && mod.default.signals, mod.signals].find((f) => typeof f === 'function');
  if (!fn) throw new Error(`sweep: strategy module ${file} exports no function (give module.exports = (params, market) => ({ entries, exits, size }))`);
  return fn;
}

// ---------------------------------------------------------------------------------------------
// Figures of a finished backtest

/** Every figure of the backtest as a plain object with snake_case keys: its `summary()`. */
function figuresOf(bt) {
  return bt.summary();
}

// ---------------------------------------------------------------------------------------------
// Running parameter sets

function describeSet(params, symbol) {
  return `${JSON.stringify(params)} on ${symbol}`;
}

// The signals of one set, checked for their shape before any backtest runs.
function signalsOf(strategy, params, market, defaults) {
  const out = strategy(params, market);
  if (!out || typeof out !== 'object') throw new Error('the strategy returned no { entries, exits } object');
  const { entries, exits, size, ...rest } = out;
  const n = market.length;
  for (const [name, list] of [['entries', entries], ['exits', exits]]) {
    if (!list || typeof list.length !== 'number') throw new Error(`the strategy returned no ${name} list`);
    if (list.length !== n) throw new Error(`the strategy returned ${name} of ${list.length} elements for a series of ${n} bars`);
  }
  if (size != null && typeof size === 'object' && typeof size.length === 'number' && size.length !== n)
    throw new Error(`the strategy returned size of ${size.length} elements for a series of ${n} bars`);
  return { entries, exits, size: size ?? defaults.size, options: rest };
}

function slice(list, start, end) {
  if (ArrayBuffer.isView(list)) return list.subarray(start, end);
  return Array.prototype.slice.call(list, start, end);
}

/**
 * Runs sets of parameters on one series. `settings` holds what every set shares: the strategy
 * path, the backtest options (`initialCapital` and the options object), the default size (a
 * signal's JSON) and, for walk-forward, the bar ranges to run each set on.
 */
class SeriesRunner {
  constructor(market, strategy, settings) {
    this.market = market;
    this.strategy = strategy;
    const { initialCapital, ...options } = settings.backtest || {};
    this.capital = initialCapital;
    this.options = options;
    this.defaults = { size: settings.size ? NodeSignal.fromJSON(settings.size) : NodeSignal.EquityPct(1) };
    this.segments = settings.segments || null;
    this.segmentCtx = new Map();
  }

  // A fresh context on bars [start, end) of the series.
  segmentContext(start, end) {
    const key = `${start}:${end}`;
    let ctx = this.segmentCtx.get(key);
    if (!ctx) {
      ctx = new NodeCtx(this.market.ohlcv.slice(start, end), this.market.sym);
      this.segmentCtx.set(key, ctx);
    }
    return ctx.copy();
  }

  /** One set: its figures (a list, one per segment, in walk-forward), or the error it met. */
  run(params) {
    const m = this.market;
    try {
      const s = signalsOf(this.strategy, params, m, this.defaults);
      const options = { ...this.options, ...s.options };
      const plan = (entries, exits, size) => ({ ...options, entries, exits, size });
      if (!this.segments)
        return { figures: figuresOf(NodeBacktest.fromSignals(m.ctx(), this.capital, plan(s.entries, s.exits, s.size))) };
      const perBar = s.size !== null && typeof s.size === 'object' && typeof s.size.length === 'number';
      return {
        figures: this.segments.map(([start, end]) => figuresOf(NodeBacktest.fromSignals(this.segmentContext(start, end),
          this.capital, plan(slice(s.entries, start, end), slice(s.exits, start, end),
            perBar ? slice(s.size, start, end) : s.size)))),
      };
    } catch (e) {
      const message = e && e.message ? e.message : String(e);
      return { error: `strategy failed for ${describeSet(params, m.symbol)}: ${message}` };
    }
  }
}

// ---------------------------------------------------------------------------------------------
// The worker thread: keeps the series it has been sent and runs the sets of each task, posting
// one message per set.

async function serve(port, init) {
  const strategy = await loadStrategy(init.strategy);
  /** @type {Map<number, SeriesRunner>} */
  const runners = new Map();
  port.on('message', (task) => {
    if (task.series) {
      // One series at a time stays in memory, with its indicator cache.
      runners.clear();
      runners.set(task.seriesIndex, new SeriesRunner(new SweepMarket(seriesFromPayload(task.series), init), strategy,
        { ...init, segments: task.segments }));
    }
    const runner = runners.get(task.seriesIndex);
    for (const set of task.sets) port.postMessage({ type: 'set', key: set.key, ...runner.run(set.params) });
    port.postMessage({ type: 'task', id: task.id });
  });
  port.postMessage({ type: 'ready' });
}

if (!isMainThread && workerData && workerData.barwiseSweep) {
  serve(parentPort, workerData.barwiseSweep).catch((e) => {
    parentPort.postMessage({ type: 'fatal', message: e && e.message ? e.message : String(e) });
  });
}

module.exports = {
  seriesPayload, seriesFromPayload, SweepMarket, SeriesRunner, loadStrategy, figuresOf, signalsOf, indicatorClass,
};
