'use strict';
// Every indicator class the add-on declares, run bar by bar with `next` and, on a fresh context
// over the same bars, with `collect`: the results must be identical (NaN equal to NaN), for
// default and non-default arguments. On complete inputs each output must then be first defined
// on the step its declaration gives. The classes, their arguments and their first-value steps
// come from the listing written by the build, so every class is covered as soon as it is declared.
const test = require('node:test');
const assert = require('node:assert/strict');
const barwise = require('../..');
const listing = require('../../scripts/indicator-listing');
const { ctxOf, dailyWalk, firstDefined } = require('./support/indicator-cases');

const { NodeCtx, NodeOhlcv, NodeOhlcvBar } = barwise;
const declared = listing.listing();

const BARS = 150;

// Deterministic, irregular bars: trends, reversals, flat stretches, one bar with missing prices.
function makeBars() {
  const bars = [];
  let price = 100;
  for (let i = 0; i < BARS; i++) {
    price += Math.sin(i / 3) * 2 + ((i * 7919) % 13) / 10 - 0.55 + (i % 17 === 0 ? 4 : 0);
    const flat = i >= 40 && i < 46;
    const p = flat ? 120 : price;
    const open = flat ? 120 : p - Math.cos(i) * 0.8;
    const high = Math.max(open, p) + (flat ? 0 : ((i * 31) % 7) / 4);
    const low = Math.min(open, p) - (flat ? 0 : ((i * 17) % 5) / 4);
    const t = new Date(Date.UTC(2024, 0, 1) + i * 3600e3);
    const missing = i === 60;
    bars.push(new NodeOhlcvBar(t, new Date(t.getTime() + 3600e3), missing ? NaN : open, missing ? NaN : high,
      missing ? NaN : low, missing ? NaN : p, missing ? NaN : 1000 + ((i * 37) % 11) * 50));
  }
  return bars;
}
const bars = makeBars();
const closes = bars.map((b) => b.close);

// Series inputs: a different shape per position, with missing values sprinkled in.
function seriesInput(k) {
  return closes.map((c, i) => {
    if ((i + 3 * k) % 23 === 5) return NaN;
    return k === 0 ? c : c + Math.sin(i / (2 + k)) * 3 - k;
  });
}
function flagsInput(k) {
  return closes.map((_, i) => [true, false, null, false, undefined, false, false][(i + k) % 7]);
}

// Parameter values of each variant, by argument (undefined for series inputs).
const nonDefault = (a) => {
  switch (a.kind) {
    case 'length': case 'optLength': return 5;
    case 'integer': return a.default !== undefined ? Math.max(1, Math.round(a.default / 3)) : 3;
    case 'real': return a.default !== undefined ? a.default * 1.5 + 0.25 : 1.75;
    case 'flag': return !a.default;
    case 'number': return 2.5;
    case 'period': return barwise.NodeTimeframe.Hours(6);
    default: return undefined;
  }
};
const VARIANTS = [
  ['defaults', (a) => (a.kind === 'number' ? 3 : undefined)],
  ['nulls', (a) => (a.kind === 'number' ? 3 : null)],
  ['non-default', nonDefault],
  ['short', (a) => (a.kind === 'length' || a.kind === 'optLength' ? 2 : nonDefault(a))],
];

// Argument lists of a variant: per-bar arrays (series) and fixed values (parameters).
function variantArgs(decl, pick, series = seriesInput, flags = flagsInput) {
  let s = 0;
  return decl.args.map((a) => {
    if (a.kind === 'series') return { series: series(s++) };
    if (a.kind === 'flags') return { series: flags(s++) };
    return { value: pick(a) };
  });
}

const nextArgs = (args, i) => args.map((a) => (a.series ? a.series[i] : a.value));
// Arrays are indexed by bar index: elements before `from` must never be read, so they hold
// values that would change every result.
const collectArgs = (args, from = 0) => args.map((a) => {
  if (!a.series) return a.value;
  return a.series.map((x, i) => (i >= from ? x : typeof x === 'number' ? 1e6 : true));
});

const newCtx = () => new NodeCtx(NodeOhlcv.fromBars(bars));

test('the listing and the exports name the same classes', () => {
  const exported = Object.keys(barwise).filter((k) => k.startsWith('Incr_fn_')).sort();
  assert.deepEqual(declared.map((d) => d.class).sort(), exported);
});

test('friendly names: every indicator under its name, from CommonJS and ES modules', async (t) => {
  const indicators = listing.indicators();
  await t.test('require(\'barwise\').indicators', () => {
    assert.deepEqual(Object.keys(barwise.indicators).sort(), indicators.map((d) => d.name).sort());
    for (const d of indicators) assert.equal(barwise.indicators[d.name], barwise[d.class], d.name);
    assert.ok(!Object.keys(barwise).includes('indicators'), 'not one of the add-on\'s own exports');
  });
  await t.test('require(\'barwise/indicators\')', () => {
    assert.equal(require('barwise/indicators'), barwise.indicators);
  });
  await t.test('import from \'barwise/indicators\' and \'barwise\'', async () => {
    const esm = await import('barwise/indicators');
    for (const d of indicators) assert.equal(esm[d.name], barwise[d.class], d.name);
    assert.equal(esm.default, barwise.indicators);
    assert.equal((await import('barwise')).indicators, barwise.indicators);
  });
});

for (const decl of declared) {
  const Cls = barwise[decl.class];
  test(`${decl.class}: next and collect agree`, async (t) => {
    for (const [label, pick] of VARIANTS) {
      await t.test(label, () => {
        const args = variantArgs(decl, pick);
        const ctxA = newCtx();
        const a = Cls.make(ctxA);
        const stepped = [];
        for (let i = 0; i < BARS; i++) {
          ctxA.next();
          stepped.push(a.next(...nextArgs(args, i)));
        }

        const ctxB = newCtx();
        const collected = Cls.make(ctxB).collect(...collectArgs(args));
        if (decl.result === 'script') {
          assert.ok(stepped.every((r) => r === undefined));
          assert.deepEqual(collected, { alerts: [], locals: {} });
          assert.equal(ctxB.barIndex, BARS - 1);
          return;
        }
        assert.equal(collected.length, BARS);
        assert.deepStrictEqual(collected, stepped);

        // State persists across calls: next on the first bars, collect for the rest.
        const ctxC = newCtx();
        const c = Cls.make(ctxC);
        const mixed = [];
        for (let i = 0; i < 30; i++) {
          ctxC.next();
          mixed.push(c.next(...nextArgs(args, i)));
        }
        mixed.push(...c.collect(...collectArgs(args, 30)));
        assert.deepStrictEqual(mixed, stepped, 'next then collect');

        // Float64Array inputs read the same values.
        if (decl.args.some((x) => x.kind === 'series')) {
          const typed = collectArgs(args).map((x, k) => (decl.args[k].kind === 'series' ? Float64Array.from(x) : x));
          assert.deepStrictEqual(Cls.make(newCtx()).collect(...typed), stepped, 'Float64Array');
        }
      });
    }
  });
}

// Complete inputs: a daily walk without missing values or flat stretches, series inputs that
// differ per position, flags that are always true.
const walk = dailyWalk(300);
const walkSeries = (k) => walk.close.map((c, i) => c + k * Math.sin(i / 3));
const allTrue = () => walk.close.map(() => true);

for (const decl of declared.filter((d) => d.outputs.length > 0)) {
  const Cls = barwise[decl.class];
  test(`${decl.class}: first values come on the declared step`, async (t) => {
    for (const [label, pick] of VARIANTS) {
      await t.test(label, () => {
        const args = variantArgs(decl, pick, walkSeries, allTrue);
        const named = Object.fromEntries(decl.args.map((a, k) => [a.name, args[k].value]));
        const results = Cls.make(ctxOf(walk)).collect(...collectArgs(args));
        decl.outputs.forEach((o, k) => {
          const step = listing.firstStep(decl, o, named);
          const at = firstDefined(results, decl.outputs.length > 1 ? k : undefined);
          const message = `${o.name}: first defined at index ${at}, declared step ${step} (${o.first})`;
          // An output that has a value on some steps only must have none before its earliest step.
          if (o.earliest) assert.ok(at === -1 || at >= step - 1, message);
          else assert.equal(at, Number.isNaN(step) ? -1 : step - 1, message);
        });
      });
    }
  });
}
