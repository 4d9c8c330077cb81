'use strict';
// Hostile-input fuzzing of every exported constructor, static, accessor, method and function.
// Passes when the process never aborts, every throw is an Error with a string `code` (or the
// exception a getter threw, unchanged), and a failed call leaves its receiver unchanged.
//
// Bounded by default; BARWISE_FUZZ_CALLS=5000000 BARWISE_FUZZ_SEED=7 runs a long local session.
const test = require('node:test');
const assert = require('node:assert/strict');
const barwise = require('../..');
const { mulberry32, hourly } = require('./support/market');

const SEED = Number(process.env.BARWISE_FUZZ_SEED || 20261211);
const CALLS = Number(process.env.BARWISE_FUZZ_CALLS || 50000);

const rand = mulberry32(SEED);
const pick = (xs) => xs[Math.floor(rand() * xs.length)];

const NO_CTOR = 'Class contains no `constructor`, can not new it!';
const GETTER_ERROR = new Error('thrown by a hostile getter');

const classes = Object.entries(barwise).filter(([name, v]) => typeof v === 'function' && /^(Node|Incr_fn_)/.test(name));
const isInstance = (v) => v !== null && typeof v === 'object' && classes.some(([, C]) => v instanceof C);

// ------------------------------------------------------------------------------------------------
// Seed instances, built with valid arguments where the class exists.

const pool = [];
function keep(v) {
  if (isInstance(v) && pool.length < 400) pool.push(v);
  return v;
}
function attempt(fn) {
  try {
    return keep(fn());
  } catch {
    return undefined;
  }
}

let reentrantCtx;
let reentrantSeries;
let reentrantBacktest;
function seedPool() {
  const B = barwise;
  // Thirty hourly bars, each also in the pool on its own, then the series of them.
  hourly(30).bars.forEach(keep);
  attempt(() => B.NodeTimeframe.Hours(1));
  attempt(() => B.NodeTimeframe.Unknown());
  const series = attempt(() => hourly(30));
  attempt(() => new B.NodeOhlcv());
  const sym = attempt(() => B.NodeSym.BTC_USD());
  attempt(() => new B.NodeSym());
  attempt(() => B.NodeSymKind.Crypto());
  attempt(() => B.NodeCtxSkip.bars(2));
  attempt(() => B.NodeSignal.Size(1));
  attempt(() => B.NodeSignal.CloseAll());
  const ctx = attempt(() => new B.NodeCtx(series, sym));
  attempt(() => new B.NodeCtx());
  const bt = attempt(() => new B.NodeBacktest(new B.NodeCtx(series, sym), 1000));
  if (bt) {
    attempt(() => {
      for (const i of bt) {
        if (i % 5 === 0) bt.signal(B.NodeSignal.Size(i % 10 === 0 ? 1 : -1));
      }
      bt.trades?.forEach?.(keep);
      return undefined;
    });
  }
  reentrantCtx = ctx && attempt(() => ctx.ref());
  reentrantSeries = series && attempt(() => series.ref());
  reentrantBacktest = bt;
  for (const [name, C] of classes) {
    if (/^Incr_fn_/.test(name) && typeof C.make === 'function' && ctx) attempt(() => C.make(ctx.copy()));
  }
}

// ------------------------------------------------------------------------------------------------
// Hostile values.

let reentered = 0;
let depth = 0;
function reenter() {
  // Calls back into the add-on while an argument is being read.
  if (depth > 2) return 1;
  depth++;
  reentered++;
  try {
    const r = rand();
    if (r < 0.3 && reentrantCtx) reentrantCtx.next();
    else if (r < 0.6 && reentrantSeries && barwise.NodeOhlcvBar) {
      reentrantSeries.push(new barwise.NodeOhlcvBar(new Date(), new Date(), 1, 2, 0.5, 1.5, 3));
    } else if (reentrantBacktest && barwise.NodeSignal) reentrantBacktest.signal(barwise.NodeSignal.Size(1));
  } catch {
    // Re-entrant calls may be refused; they must not abort.
  } finally {
    depth--;
  }
  return 1;
}

const KEYS = ['open_time', 'close_time', 'open', 'high', 'low', 'close', 'volume', 'kind', 'value', 'id',
  'comment', 'ticker_id', 'prefix', 'currency', 'base_currency', 'ticker', 'country', 'metadata', 'min_tick',
  'min_qty', 'price_scale', 'point_value', 'length', '0', '1'];

function hostile() {
  const r = Math.floor(rand() * 46);
  switch (r) {
    case 0: return undefined;
    case 1: return null;
    case 2: return true;
    case 3: return false;
    case 4: return NaN;
    case 5: return Infinity;
    case 6: return -Infinity;
    case 7: return -0;
    case 8: return 2 ** 31;
    case 9: return 2 ** 53;
    case 10: return -(2 ** 31) - 1;
    case 11: return 1e308;
    case 12: return -1;
    case 13: return 0;
    case 14: return 3;
    case 15: return 0.5;
    case 16: return 123456789;
    case 17: return '';
    case 18: return 'x'.repeat(1 + Math.floor(rand() * 40));
    case 19: return pick(['1D', '15m', 'crypto', 'Size', '2024-01-01T00:00:00Z', '\u0000', '\ud800', '??']);
    case 20: return 10n;
    case 21: return Symbol('s');
    case 22: return {};
    case 23: return [];
    case 24: return [1, , 3]; // eslint-disable-line no-sparse-arrays
    case 25: { const a = []; a.length = 1 + Math.floor(rand() * 100000); return a; }
    case 26: return [{}, null, 'x'];
    case 27: return Array.from({ length: 1 + Math.floor(rand() * 50) }, () => rand() * 100);
    case 28: return new Float64Array([1, 2, NaN]);
    case 29: return new Float32Array([1, 2]);
    case 30: return new Int32Array(3);
    case 31: { const b = new ArrayBuffer(16); const a = new Float64Array(b); structuredClone(b, { transfer: [b] }); return a; }
    case 32: return Object.freeze({ kind: 'Size', value: 1 });
    case 33: return new Proxy({}, { get: (_, k) => (k === Symbol.toPrimitive ? undefined : reenter()) });
    case 34: { const o = {}; for (const k of KEYS) Object.defineProperty(o, k, { get() { throw GETTER_ERROR; }, enumerable: true }); return o; }
    case 35: { const o = {}; for (const k of KEYS) Object.defineProperty(o, k, { get: reenter, enumerable: true }); return o; }
    case 36: return new Date(NaN);
    case 37: return new Date(8.64e15);
    case 38: return new Date(-1);
    case 39: return new Date(Date.UTC(2024, 0, 1, 5));
    case 40: return () => 1;
    case 41: return pool.length ? pick(pool) : {};
    case 42: return pool.length ? pick(pool) : 1;
    case 43: return pick(classes)[1];
    case 44: return { kind: { kind: pick(['Size', 'EquityPct', 'Hold', 'CloseAll', 'Nope']), value: pick([1, -1, 'x', null]) }, id: pick([null, 'a', 1]) };
    default: return Object.create(pick(classes)[1].prototype);
  }
}

// ------------------------------------------------------------------------------------------------
// Receiver snapshots: every getter, toString and toJSON, rendered to text.

function render(v, seen = 0) {
  if (seen > 2) return '…';
  if (typeof v === 'bigint') return `${v}n`;
  if (typeof v === 'number') return Object.is(v, -0) ? '-0' : String(v);
  if (v instanceof Date) return `Date(${v.getTime()})`;
  if (Array.isArray(v)) return `[${v.slice(0, 50).map((x) => render(x, seen + 1)).join(',')}${v.length > 50 ? `…${v.length}` : ''}]`;
  if (isInstance(v)) {
    try {
      return `<${v.constructor.name} ${typeof v.toString === 'function' ? v.toString() : ''}>`;
    } catch (e) {
      return `<${v.constructor.name} !${e.message}>`;
    }
  }
  if (v && typeof v === 'object') {
    return `{${Object.keys(v).map((k) => `${k}:${render(v[k], seen + 1)}`).join(',')}}`;
  }
  return String(v);
}

function snapshot(obj) {
  if (!isInstance(obj)) return null;
  const proto = Object.getPrototypeOf(obj);
  const parts = [];
  for (const name of Object.getOwnPropertyNames(proto)) {
    const d = Object.getOwnPropertyDescriptor(proto, name);
    if (d.get) {
      try {
        parts.push(`${name}=${render(d.get.call(obj))}`);
      } catch (e) {
        parts.push(`${name}!${e.message}`);
      }
    }
  }
  for (const m of ['toString', 'toJSON']) {
    if (typeof proto[m] === 'function') {
      try {
        parts.push(`${m}=${render(proto[m].call(obj))}`);
      } catch (e) {
        parts.push(`${m}!${e.message}`);
      }
    }
  }
  return parts.join('|');
}

// ------------------------------------------------------------------------------------------------
// Targets.

function targets() {
  const out = [];
  for (const [name, value] of Object.entries(barwise)) {
    if (!classes.some(([n]) => n === name)) {
      if (typeof value === 'function') out.push({ label: name, kind: 'function', fn: value });
      continue;
    }
    out.push({ label: `new ${name}`, kind: 'construct', fn: value });
    for (const key of Object.getOwnPropertyNames(value)) {
      if (['length', 'name', 'prototype'].includes(key)) continue;
      const d = Object.getOwnPropertyDescriptor(value, key);
      if (typeof d.value === 'function') out.push({ label: `${name}.${key}`, kind: 'static', fn: d.value });
    }
    for (const key of Object.getOwnPropertyNames(value.prototype)) {
      if (key === 'constructor') continue;
      const d = Object.getOwnPropertyDescriptor(value.prototype, key);
      if (typeof d.value === 'function') out.push({ label: `${name}#${key}`, kind: 'method', fn: d.value, cls: value });
      if (d.get) out.push({ label: `${name}#${key}(get)`, kind: 'method', fn: d.get, cls: value });
      if (d.set) out.push({ label: `${name}#${key}(set)`, kind: 'setter', fn: d.set, cls: value });
    }
  }
  return out;
}

// Members that by their nature throw what they are given or print.
const EXEMPT = new Set(['display']);

test('hostile calls never abort, always throw coded errors, and change nothing on failure', (t) => {
  seedPool();
  const all = targets().filter((t) => !EXEMPT.has(t.label.split('#')[1]));
  assert.ok(all.length > 0);
  const failures = [];
  const own = pool.filter(isInstance);
  const messages = new Set();
  let thrown = 0;
  for (let n = 0; n < CALLS && failures.length < 20; n++) {
    const t = pick(all);
    let receiver;
    if (t.kind === 'method' || t.kind === 'setter') {
      const mine = own.filter((o) => o instanceof t.cls);
      receiver = rand() < 0.85 && mine.length ? pick(mine) : hostile();
    }
    const argc = Math.floor(rand() * 4);
    const args = Array.from({ length: argc }, hostile);
    const before = snapshot(receiver);
    const reenteredBefore = reentered;
    let result;
    try {
      if (t.kind === 'construct') result = Reflect.construct(t.fn, args);
      else result = Reflect.apply(t.fn, receiver, args);
      keep(result);
      // Iteration results and plain arrays may carry new instances.
      if (Array.isArray(result)) result.slice(0, 3).forEach(keep);
    } catch (e) {
      thrown++;
      if (e instanceof Error) messages.add(e.message.replace(/\d+/g, 'N'));
      const allowed = e === GETTER_ERROR || (t.label.endsWith('#throw')) ||
        (e instanceof Error && (typeof e.code === 'string' || e.message === NO_CTOR));
      if (!allowed) failures.push(`${t.label}(${args.map((a) => render(a)).join(', ')}): ${e && e.stack || e}`);
      if (before !== null && reentered === reenteredBefore && !t.label.endsWith('#throw') &&
          !t.label.endsWith('#return')) {
        const after = snapshot(receiver);
        if (after !== before) failures.push(`${t.label} changed its receiver while failing:\n  ${before}\n  ${after}`);
      }
    }
  }
  t.diagnostic(`${CALLS} calls over ${all.length} members, ${thrown} threw, ${messages.size} distinct messages`);
  if (process.env.BARWISE_FUZZ_VERBOSE) t.diagnostic([...messages].sort().join('\n'));
  assert.deepEqual(failures, []);
});
