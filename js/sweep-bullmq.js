'use strict';
// Sweeps past one machine, as BullMQ jobs on Redis: `barwise/sweep-bullmq`.
//
//   runSweep(request, { connection })   checks the request here, stores each series once, adds one flow:
//                                    a parent job whose children each run one series × a chunk of
//                                    parameter sets; resolves to what `sweep(request)` resolves to.
//   startWorker({ connection })      a BullMQ worker (run as many as there are cores, on any
//                                    machine that reaches the Redis server and has the strategy
//                                    module at the same path) that runs those jobs.
//
// Every id is derived from the sweep's content: the same sweep always makes the same jobs, BullMQ
// adds a job whose id it already holds only once, and the parent reads one result per child, so a
// retried or resubmitted job never counts twice. BullMQ is an optional peer dependency: only this
// entry point loads it.
const crypto = require('node:crypto');
const bullmq = require('bullmq');
const { prepare, tasksOf, assemble, withPage } = require('./sweep');
const runner = require('./sweep-worker');

const { Queue, Worker, FlowProducer, QueueEvents, Job } = bullmq;

const DEFAULT_QUEUE = 'barwise-sweep';
const DEFAULT_CHUNK = 16;
// A job runs its sets without yielding to the event loop, so its lock must outlast the slowest
// chunk: a worker that lost the lock would see its job handed to another worker.
const LOCK_MS = 10 * 60 * 1000;
const COLUMN_NAMES = ['openTime', 'closeTime', 'open', 'high', 'low', 'close', 'volume'];

// ---------------------------------------------------------------------------------------------
// Values through JSON: job data and results are JSON, which has no NaN, infinities or -0, and
// the figures have all three.

function encodeNumbers(v) {
  if (typeof v === 'number') {
    if (Number.isFinite(v) && !Object.is(v, -0)) return v;
    return { $num: Object.is(v, -0) ? '-0' : String(v) };
  }
  if (Array.isArray(v)) return v.map(encodeNumbers);
  if (v && typeof v === 'object') {
    const out = {};
    for (const [k, x] of Object.entries(v)) out[k] = encodeNumbers(x);
    return out;
  }
  return v;
}

function decodeNumbers(v) {
  if (Array.isArray(v)) return v.map(decodeNumbers);
  if (v && typeof v === 'object') {
    const keys = Object.keys(v);
    if (keys.length === 1 && keys[0] === '$num') return v.$num === '-0' ? -0 : Number(v.$num);
    const out = {};
    for (const [k, x] of Object.entries(v)) out[k] = decodeNumbers(x);
    return out;
  }
  return v;
}

// Series columns travel as base64 of their bytes: exact to the bit and a third of JSON's size.
function encodeSeries(payload) {
  const columns = {};
  for (const k of COLUMN_NAMES) {
    const c = payload.columns[k];
    columns[k] = Buffer.from(c.buffer, c.byteOffset, c.byteLength).toString('base64');
  }
  return { ...payload, columns };
}

function decodeSeries(data) {
  const columns = {};
  for (const k of COLUMN_NAMES) {
    const bytes = Buffer.from(data.columns[k], 'base64');
    const copy = new Float64Array(bytes.byteLength / 8);
    new Uint8Array(copy.buffer).set(bytes);
    columns[k] = copy;
  }
  return { ...data, columns };
}

const digest = (text) => crypto.createHash('sha256').update(text).digest('hex').slice(0, 24);

// ---------------------------------------------------------------------------------------------
// The producer side

function abortError(signal) {
  return signal.reason ?? Object.assign(new Error('The sweep was aborted'), { name: 'AbortError' });
}

/**
 * Runs `request` (as `sweep` takes it; `workers` does not apply) as BullMQ jobs and resolves to the
 * result `sweep` gives. `options`: `connection` (BullMQ's), `queueName` (default "barwise-sweep"),
 * `prefix`, `chunkSize` (sets per job, default 16), `attempts` (per job, default 3).
 */
async function runSweep(request, options = {}) {
  const started = Date.now();
  const { connection, queueName = DEFAULT_QUEUE, prefix, attempts = 3 } = options;
  if (!connection) throw Object.assign(new Error('sweep-bullmq: options.connection is required'), { code: 'InvalidArg' });
  const { workers, ...rest } = request;
  void workers;
  const plan = await prepare(rest);
  const { signal, onProgress } = request;
  if (signal && signal.aborted) throw abortError(signal);
  const chunk = options.chunkSize ?? request.chunkSize ?? DEFAULT_CHUNK;
  const tasks = tasksOf(plan, chunk);
  const base = { connection, ...(prefix ? { prefix } : {}) };

  // Each series once, under an id made from its content.
  const series = plan.series.map((s) => {
    const data = encodeSeries(runner.seriesPayload(s.ohlcv, s.sym, s.symbol));
    return { data, id: `series-${digest(JSON.stringify(data))}` };
  });
  const shared = { strategy: plan.strategyPath, backtest: plan.settings.backtest, size: plan.settings.size,
    cacheBytes: plan.settings.cacheBytes };
  const sweepId = digest(JSON.stringify([shared, plan.sets, series.map((s) => s.id), chunk,
    plan.series.map((s) => s.segments)]));
  const idOf = (taskId) => `bw-${sweepId}-${taskId}`;
  const parentId = idOf('all');

  const queue = new Queue(queueName, base);
  const seriesQueue = new Queue(`${queueName}-series`, base);
  const flows = new FlowProducer(base);
  const events = new QueueEvents(queueName, base);
  const setsOf = new Map(tasks.map((t) => [idOf(t.id), t.sets.length]));
  let done = 0;
  const total = plan.sets.length * plan.series.length;
  try {
    await events.waitUntilReady();
    // Stored as jobs of a queue no worker takes: they only hold the data.
    for (const s of series) await seriesQueue.add('series', s.data, { jobId: s.id });
    if (onProgress)
      events.on('completed', ({ jobId }) => {
        const n = setsOf.get(jobId);
        if (n === undefined) return;
        setsOf.delete(jobId);
        done += n;
        onProgress({ done, total });
      });
    await flows.add({
      name: 'collect', queueName, data: { sweepId }, opts: { jobId: parentId },
      children: tasks.map((t) => ({
        name: 'sets', queueName,
        data: { ...shared, seriesId: series[t.seriesIndex].id, seriesQueue: `${queueName}-series`,
          segments: plan.series[t.seriesIndex].segments, sets: encodeNumbers(t.sets) },
        opts: { jobId: idOf(t.id), attempts, failParentOnFailure: true, backoff: { type: 'fixed', delay: 1000 } },
      })),
    });
    const parent = await Job.fromId(queue, parentId);
    const finished = parent.waitUntilFinished(events);
    const values = await (signal
      ? Promise.race([finished, new Promise((_, reject) => {
        if (signal.aborted) reject(abortError(signal));
        signal.addEventListener('abort', () => reject(abortError(signal)), { once: true });
      })])
      : finished);
    const outcomes = new Array(total);
    for (const list of Object.values(values)) for (const o of list) outcomes[o.key] = decodeNumbers(o.outcome);
    return withPage({ ...assemble(plan, outcomes), sweepId, jobs: tasks.length, elapsedMs: Date.now() - started });
  } catch (e) {
    if (signal && signal.aborted) await queue.remove(parentId, { removeChildren: true }).catch(() => {});
    throw e;
  } finally {
    await Promise.allSettled([events.close(), flows.close(), queue.close(), seriesQueue.close()]);
  }
}

// ---------------------------------------------------------------------------------------------
// The worker side

/**
 * A BullMQ worker that runs the jobs of sweeps. `options`: `connection`, `queueName`, `prefix`,
 * `concurrency` (default 1: a job keeps its thread busy; start one process per core instead).
 */
function startWorker(options = {}) {
  const { connection, queueName = DEFAULT_QUEUE, prefix, concurrency = 1 } = options;
  if (!connection) throw Object.assign(new Error('sweep-bullmq: options.connection is required'), { code: 'InvalidArg' });
  const base = { connection, ...(prefix ? { prefix } : {}) };
  const seriesQueues = new Map();
  const strategies = new Map();
  // The runner of the last series, with its indicator cache: jobs of one sweep on one series come
  // one after the other, and reuse it.
  let last = { key: null, runner: null };

  const runnerFor = async (data) => {
    const key = JSON.stringify([data.seriesId, data.strategy, data.backtest, data.size, data.segments]);
    if (last.key === key) return last.runner;
    let q = seriesQueues.get(data.seriesQueue);
    if (!q) seriesQueues.set(data.seriesQueue, (q = new Queue(data.seriesQueue, base)));
    const stored = await Job.fromId(q, data.seriesId);
    if (!stored) throw new Error(`sweep-bullmq: series ${data.seriesId} is not in the queue`);
    let strategy = strategies.get(data.strategy);
    if (!strategy) strategies.set(data.strategy, (strategy = await runner.loadStrategy(data.strategy)));
    const market = new runner.SweepMarket(runner.seriesFromPayload(decodeSeries(stored.data)), data);
    last = { key, runner: new runner.SeriesRunner(market, strategy, data) };
    return last.runner;
  };

  const worker = new Worker(queueName, async (job) => {
    if (job.name === 'collect') return job.getChildrenValues();
    const r = await runnerFor(job.data);
    return decodeNumbers(job.data.sets).map((set) => ({ key: set.key, outcome: encodeNumbers(r.run(set.params)) }));
  }, { ...base, concurrency, lockDuration: LOCK_MS });
  const close = worker.close.bind(worker);
  worker.close = async (...args) => {
    await close(...args);
    await Promise.allSettled([...seriesQueues.values()].map((q) => q.close()));
  };
  return worker;
}

module.exports = { runSweep, startWorker, encodeNumbers, decodeNumbers };
