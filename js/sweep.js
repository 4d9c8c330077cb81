'use strict';
// Parameter sweeps: every parameter set of a grid (or a list) on one or more series, each run by
// NodeBacktest.fromSignals on a pool of worker threads, ranked by one figure. The strategy is a
// module path, so that every worker (and every machine, through barwise/sweep-bullmq) loads the
// same code; it turns a set of parameters and the market of one series into entry and exit flags.
//
// The pieces here are shared with the BullMQ adapter: `prepare` checks a request and cuts it into
// tasks, `assemble` turns the figures of every run into the result. Both are deterministic, so a
// sweep gives the same rows however and wherever its sets ran.
const os = require('node:os');
const path = require('node:path');
const { Worker } = require('node:worker_threads');
const bw = require('..');
const runner = require('./sweep-worker');

const { NodeBacktest, NodeCtx, NodeCtxSkip, NodeOhlcv, NodeSignal, NodeSym } = bw;

const REQUEST_KEYS = [
  'strategy', 'params', 'series', 'metric', 'order', 'top', 'heatmap', 'workers', 'chunkSize', 'onProgress', 'signal',
  'backtest', 'size', 'walkForward', 'cacheBytes',
];

/** @param {string} message */
function invalid(message) {
  return Object.assign(new Error(`sweep: ${message}`), { code: 'InvalidArg' });
}

const isPlainObject = (v) => v !== null && typeof v === 'object' && !Array.isArray(v) &&
  (Object.getPrototypeOf(v) === Object.prototype || Object.getPrototypeOf(v) === null);
const isCount = (v) => Number.isInteger(v) && v > 0;

function machineCores() {
  return typeof os.availableParallelism === 'function' ? os.availableParallelism() : os.cpus().length;
}

// ---------------------------------------------------------------------------------------------
// Parameter sets

/** Every combination of a grid's values, the last key varying fastest; or the list as given. */
function parameterSets(params) {
  if (Array.isArray(params)) {
    if (params.length === 0) throw invalid('the parameter list is empty');
    params.forEach((p, i) => {
      if (!isPlainObject(p)) throw invalid(`params[${i}] is not a plain object of parameter values`);
    });
    return params.map((p) => ({ ...p }));
  }
  if (!isPlainObject(params))
    throw invalid('params must be a grid (an object of value arrays, e.g. { fast: [5, 10], slow: [50, 100] }) or a list of parameter objects');
  const keys = Object.keys(params);
  if (keys.length === 0) throw invalid('the parameter grid is empty');
  for (const k of keys)
    if (!Array.isArray(params[k]) || params[k].length === 0)
      throw invalid(`params.${k} must be a non-empty array of values (a grid maps each parameter to its values)`);
  let sets = [{}];
  for (const k of keys) sets = sets.flatMap((s) => params[k].map((v) => ({ ...s, [k]: v })));
  return sets;
}

// ---------------------------------------------------------------------------------------------
// Series

function symbolOf(sym, i) {
  return sym.ticker || sym.tickerId || sym.id || `series ${i + 1}`;
}

function readSeries(series) {
  const list = Array.isArray(series) ? series : [series];
  if (list.length === 0) throw invalid('series is empty: give { ohlcv, sym } or a list of them');
  const seen = new Set();
  return list.map((s, i) => {
    const where = Array.isArray(series) ? `series[${i}]` : 'series';
    if (!s || !(s.ohlcv instanceof NodeOhlcv) || !(s.sym instanceof NodeSym))
      throw invalid(`${where} must be { ohlcv: NodeOhlcv, sym: NodeSym, symbol?: string }`);
    if (s.symbol != null && typeof s.symbol !== 'string') throw invalid(`${where}.symbol must be a string`);
    const symbol = s.symbol ?? symbolOf(s.sym, i);
    if (seen.has(symbol)) throw invalid(`two series are named ${JSON.stringify(symbol)}: give each a distinct symbol`);
    seen.add(symbol);
    if (s.ohlcv.length === 0) throw invalid(`${where} (${symbol}) has no bars`);
    return { symbol, ohlcv: s.ohlcv, sym: s.sym, length: s.ohlcv.length };
  });
}

// ---------------------------------------------------------------------------------------------
// Walk-forward windows

/**
 * Training and test windows over `n` bars: training bars [a, b), then test bars [b, c), moved on
 * by `step` (the test length by default); anchored windows all train from bar 0.
 */
function walkForwardWindows(n, { train, test, step = test, anchored = false }) {
  const out = [];
  for (let k = 0; ; k++) {
    const end = train + k * step;
    if (end >= n) break;
    const start = anchored ? 0 : k * step;
    out.push({ train: [start, end], test: [end, Math.min(end + test, n)] });
  }
  return out;
}

function readWalkForward(wf) {
  if (wf == null) return null;
  if (!isPlainObject(wf)) throw invalid('walkForward must be { train, test, step?, anchored? }');
  for (const k of Object.keys(wf))
    if (!['train', 'test', 'step', 'anchored'].includes(k)) throw invalid(`walkForward.${k} is not known (train, test, step, anchored)`);
  for (const k of ['train', 'test']) if (!isCount(wf[k])) throw invalid(`walkForward.${k} must be a positive whole number of bars`);
  if (wf.step != null && !isCount(wf.step)) throw invalid('walkForward.step must be a positive whole number of bars');
  if (wf.anchored != null && typeof wf.anchored !== 'boolean') throw invalid('walkForward.anchored must be a boolean');
  return { train: wf.train, test: wf.test, step: wf.step ?? wf.test, anchored: wf.anchored ?? false };
}

// ---------------------------------------------------------------------------------------------
// Checking a request

// A backtest that runs no bar, through the same entry point as every run: it checks the backtest
// options and the size, and shows which figures there are.
function probeBacktest(series, backtest, size) {
  const ctx = new NodeCtx(series.ohlcv, series.sym);
  ctx.next();
  ctx.skip(NodeCtxSkip.end());
  const { initialCapital, ...options } = backtest;
  const none = new Uint8Array(0);
  const bt = NodeBacktest.fromSignals(ctx, initialCapital, { ...options, entries: none, exits: none, size });
  return runner.figuresOf(bt);
}

/**
 * Checks a request and returns the plan of the sweep: its parameter sets, series, shared settings
 * and windows. Every bad input throws here, naming what is wrong, before any run starts.
 */
async function prepare(request) {
  if (!isPlainObject(request)) throw invalid('the request must be an object { strategy, params, series, metric, ... }');
  for (const k of Object.keys(request)) if (!REQUEST_KEYS.includes(k)) throw invalid(`unknown request key "${k}" (known: ${REQUEST_KEYS.join(', ')})`);

  if (typeof request.strategy !== 'string' || request.strategy === '')
    throw invalid('strategy must be the path of a module exporting (params, market) => ({ entries, exits, size })');
  const strategyPath = path.resolve(request.strategy);
  let strategy;
  try {
    strategy = await runner.loadStrategy(strategyPath);
  } catch (e) {
    throw invalid(`strategy module ${strategyPath} cannot be loaded: ${e && e.message ? e.message : e}`);
  }

  const sets = parameterSets(request.params);
  const series = readSeries(request.series);

  const backtest = request.backtest ?? {};
  if (!isPlainObject(backtest)) throw invalid('backtest must be an object of backtest options ({ initialCapital, ... })');
  if (request.size != null && !(request.size instanceof NodeSignal)) throw invalid('size must be a NodeSignal');
  const size = request.size ?? NodeSignal.EquityPct(1);
  let figures;
  try {
    figures = probeBacktest(series[0], backtest, size);
  } catch (e) {
    throw invalid(`backtest options: ${e.message}`);
  }

  const metric = request.metric ?? 'net_profit';
  const figureNames = Object.keys(figures).filter((k) => typeof figures[k] === 'number');
  if (typeof metric !== 'string' || !figureNames.includes(metric))
    throw invalid(`metric ${JSON.stringify(metric)} is not a figure; the figures are ${figureNames.join(', ')}`);
  const order = request.order ?? 'desc';
  if (order !== 'desc' && order !== 'asc') throw invalid('order must be "desc" (highest first) or "asc"');
  if (request.top != null && !isCount(request.top)) throw invalid('top must be a positive whole number');

  const names = [...new Set(sets.flatMap((s) => Object.keys(s)))];
  let heatmap = request.heatmap;
  if (heatmap == null) heatmap = isPlainObject(request.params) && names.length === 2 ? names : null;
  else if (!Array.isArray(heatmap) || heatmap.length !== 2 || !heatmap.every((h) => names.includes(h)) || heatmap[0] === heatmap[1])
    throw invalid(`heatmap must name two different parameters of the sets (${names.join(', ')})`);

  if (request.workers != null && !isCount(request.workers)) throw invalid('workers must be a positive whole number');
  if (request.chunkSize != null && !isCount(request.chunkSize)) throw invalid('chunkSize must be a positive whole number');
  if (request.cacheBytes != null && !isCount(request.cacheBytes)) throw invalid('cacheBytes must be a positive whole number');
  if (request.onProgress != null && typeof request.onProgress !== 'function') throw invalid('onProgress must be a function');
  if (request.signal != null && (typeof request.signal !== 'object' || typeof request.signal.aborted !== 'boolean'))
    throw invalid('signal must be an AbortSignal');

  const walkForward = readWalkForward(request.walkForward);
  for (const s of series) {
    s.windows = walkForward ? walkForwardWindows(s.length, walkForward) : null;
    if (walkForward && s.windows.length === 0)
      throw invalid(`walkForward: ${s.symbol} has ${s.length} bars, too few for a training window of ${walkForward.train}`);
    s.segments = s.windows ? s.windows.flatMap((w) => [w.train, w.test]) : null;
  }

  const settings = { strategy: strategyPath, backtest, size: size.toJSON(), cacheBytes: request.cacheBytes };
  // The first set on every series, run up to its signals: signals of the wrong length are bad
  // input. A strategy that throws here is left to the run, which reports it with its set.
  for (const s of series) {
    const market = new runner.SweepMarket(s, settings);
    let out;
    try {
      out = strategy(sets[0], market);
    } catch {
      continue;
    }
    try {
      runner.signalsOf(() => out, sets[0], market, { size });
    } catch (e) {
      throw invalid(`strategy ${strategyPath} for ${JSON.stringify(sets[0])} on ${s.symbol}: ${e.message}`);
    }
  }

  return { strategyPath, sets, series, settings, metric, order, top: request.top ?? null, heatmap, walkForward };
}

/**
 * The sets of the plan cut into tasks of one series and a chunk of consecutive sets each. A
 * task's id and its sets' keys depend only on the plan, so a task run twice counts once.
 */
function tasksOf(plan, chunkSize) {
  const tasks = [];
  const n = plan.sets.length;
  plan.series.forEach((s, si) => {
    for (let from = 0; from < n; from += chunkSize) {
      const to = Math.min(n, from + chunkSize);
      tasks.push({
        id: `s${si}-p${from}-${to - 1}`,
        seriesIndex: si,
        sets: plan.sets.slice(from, to).map((params, k) => ({ key: si * n + from + k, params })),
      });
    }
  });
  return tasks;
}

function defaultChunk(plan, workers) {
  return Math.max(1, Math.min(64, Math.ceil(plan.sets.length / (workers * 8))));
}

// ---------------------------------------------------------------------------------------------
// The result

// Higher first (or lower, in ascending order); a figure that is not a number comes last.
function comparer(metric, order) {
  return (a, b) => {
    const x = a[metric];
    const y = b[metric];
    const xn = typeof x === 'number' && !Number.isNaN(x);
    const yn = typeof y === 'number' && !Number.isNaN(y);
    if (!xn || !yn) return xn === yn ? 0 : xn ? -1 : 1;
    const ascending = x === y ? 0 : x < y ? -1 : 1;
    return order === 'asc' ? ascending : -ascending;
  };
}

function heatmapOf(plan, rows) {
  if (!plan.heatmap) return null;
  const [x, y] = plan.heatmap;
  const sortValues = (vs) => [...new Set(vs)].sort((a, b) => (typeof a === 'number' && typeof b === 'number' ? a - b : String(a).localeCompare(String(b))));
  const xValues = sortValues(plan.sets.map((s) => s[x]));
  const yValues = sortValues(plan.sets.map((s) => s[y]));
  const better = comparer(plan.metric, plan.order);
  const tables = plan.series.map((s) => {
    /** @type {(number | null)[][]} */
    const values = yValues.map(() => xValues.map(() => null));
    const best = yValues.map(() => xValues.map(() => null));
    for (const r of rows) {
      if (r.symbol !== s.symbol) continue;
      const i = yValues.indexOf(r.params[y]);
      const j = xValues.indexOf(r.params[x]);
      // Several sets in one cell (other parameters vary): the cell shows the best of them.
      if (best[i][j] === null || better(r, best[i][j]) < 0) {
        best[i][j] = r;
        values[i][j] = r[plan.metric];
      }
    }
    return { symbol: s.symbol, values };
  });
  return { x, y, metric: plan.metric, xValues, yValues, tables };
}

/**
 * The result of a sweep from the outcome of every run: `outcomes[key]` is `{ figures }` or
 * `{ error }`, key = series index × number of sets + set index.
 */
function assemble(plan, outcomes) {
  const n = plan.sets.length;
  const errors = [];
  const better = comparer(plan.metric, plan.order);
  if (plan.walkForward) {
    const rows = [];
    plan.series.forEach((s, si) => {
      s.windows.forEach((w, k) => {
        let chosen = null;
        for (let p = 0; p < n; p++) {
          const o = outcomes[si * n + p];
          if (!o || !o.figures) continue;
          const candidate = { p, ...o.figures[2 * k] };
          if (chosen === null || better(candidate, chosen) < 0) chosen = candidate;
        }
        if (chosen === null) return;
        const { p, ...inSample } = chosen;
        rows.push({ params: plan.sets[p], symbol: s.symbol, window: k, train: w.train, test: w.test, in_sample: inSample,
          ...outcomes[si * n + p].figures[2 * k + 1] });
      });
    });
    collectErrors(plan, outcomes, errors);
    return { rows, heatmap: null, errors, metric: plan.metric, order: plan.order, runs: plan.series.length * n };
  }
  let rows = [];
  plan.series.forEach((s, si) => {
    for (let p = 0; p < n; p++) {
      const o = outcomes[si * n + p];
      if (o && o.figures) rows.push({ params: plan.sets[p], symbol: s.symbol, ...o.figures });
    }
  });
  collectErrors(plan, outcomes, errors);
  rows.sort(better); // stable: equal figures keep the order of the series and the sets
  const heatmap = heatmapOf(plan, rows);
  if (plan.top) rows = rows.slice(0, plan.top);
  return { rows, heatmap, errors, metric: plan.metric, order: plan.order, runs: plan.series.length * n };
}

function collectErrors(plan, outcomes, errors) {
  const n = plan.sets.length;
  plan.series.forEach((s, si) => {
    for (let p = 0; p < n; p++) {
      const o = outcomes[si * n + p];
      if (o && o.error) errors.push({ params: plan.sets[p], symbol: s.symbol, message: o.error });
    }
  });
}

/** The result with its page: `result.toHtml(options)` (not enumerable, so rows compare as plain data). */
function withPage(result) {
  Object.defineProperty(result, 'toHtml', {
    value: (options) => require('./sweep-report').sweepHtml(result, options),
    configurable: true,
  });
  return result;
}

// ---------------------------------------------------------------------------------------------
// The local pool

function abortError(signal) {
  return signal.reason ?? Object.assign(new Error('The sweep was aborted'), { name: 'AbortError' });
}

/**
 * Runs a sweep on a pool of worker threads (one per core by default). Resolves to
 * `{ rows, heatmap, errors, metric, order, runs, workers, elapsedMs }`.
 */
async function sweep(request) {
  const started = Date.now();
  const plan = await prepare(request);
  const { signal, onProgress } = request;
  if (signal && signal.aborted) throw abortError(signal);

  const total = plan.sets.length * plan.series.length;
  const workerCount = Math.max(1, Math.min(request.workers ?? machineCores(), total));
  const tasks = tasksOf(plan, request.chunkSize ?? defaultChunk(plan, workerCount));
  const payloads = new Map();
  const payloadOf = (si) => {
    if (!payloads.has(si)) {
      const s = plan.series[si];
      payloads.set(si, runner.seriesPayload(s.ohlcv, s.sym, s.symbol));
    }
    return payloads.get(si);
  };

  const outcomes = new Array(total);
  let done = 0;
  let failed = 0;
  // Per series, the tasks not yet handed out: a worker keeps to its series while it has tasks,
  // so the indicator results it has cached keep serving.
  const queues = plan.series.map(() => []);
  for (const t of tasks) queues[t.seriesIndex].push(t);
  const next = (current) => {
    if (current !== undefined && queues[current].length) return queues[current].shift();
    let best = -1;
    queues.forEach((q, i) => {
      if (q.length && (best < 0 || q.length > queues[best].length)) best = i;
    });
    return best < 0 ? null : queues[best].shift();
  };

  const workers = [];
  try {
    await new Promise((resolve, reject) => {
      let settled = false;
      const finish = (err) => {
        if (settled) return;
        settled = true;
        if (signal) signal.removeEventListener('abort', onAbort);
        if (err) reject(err);
        else resolve(undefined);
      };
      const onAbort = () => finish(abortError(signal));
      if (signal) signal.addEventListener('abort', onAbort, { once: true });

      let running = 0;
      const init = { strategy: plan.settings.strategy, backtest: plan.settings.backtest, size: plan.settings.size,
        cacheBytes: plan.settings.cacheBytes };
      const give = (w) => {
        const task = next(w.series);
        if (!task) {
          if (running === 0) finish();
          return;
        }
        running++;
        const fresh = w.series !== task.seriesIndex;
        w.series = task.seriesIndex;
        const s = plan.series[task.seriesIndex];
        w.worker.postMessage({ id: task.id, seriesIndex: task.seriesIndex, sets: task.sets,
          ...(fresh ? { series: payloadOf(task.seriesIndex), segments: s.segments } : {}) });
      };
      for (let i = 0; i < workerCount; i++) {
        const worker = new Worker(path.join(__dirname, 'sweep-worker.js'), { workerData: { barwiseSweep: init } });
        const w = { worker, series: undefined };
        workers.push(w);
        worker.on('message', (m) => {
          if (settled) return;
          if (m.type === 'ready') give(w);
          else if (m.type === 'set') {
            outcomes[m.key] = m.error ? { error: m.error } : { figures: m.figures };
            done++;
            if (m.error) failed++;
            // A callback that throws ends the sweep with its error rather than the process.
            if (onProgress)
              try {
                onProgress({ done, total, errors: failed });
              } catch (e) {
                finish(e);
              }
          } else if (m.type === 'task') {
            running--;
            give(w);
          } else if (m.type === 'fatal') finish(new Error(`sweep: a worker failed to start: ${m.message}`));
        });
        worker.on('error', (e) => finish(e));
        worker.on('exit', (code) => {
          if (!settled) finish(new Error(`sweep: a worker stopped with exit code ${code}`));
        });
      }
    });
  } finally {
    await Promise.all(workers.map((w) => w.worker.terminate()));
  }
  return withPage({ ...assemble(plan, outcomes), workers: workerCount, elapsedMs: Date.now() - started });
}

module.exports = { sweep, prepare, tasksOf, assemble, withPage, parameterSets, walkForwardWindows, defaultChunk, machineCores };
