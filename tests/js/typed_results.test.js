'use strict';
// collectTyped: the results of collect as Float64Arrays, one per output, without a JavaScript
// array per bar. Every result kind is checked against collect on the same bars and inputs:
// numbers as they are, an absent optional integer or boolean as NaN, booleans as 1 and 0.
const test = require('node:test');
const assert = require('node:assert/strict');
const bw = require('../..');
const listing = require('../../scripts/indicator-listing');
const { ctxOf, dailyWalk } = require('./support/indicator-cases');

const BARS = 120;
const walk = dailyWalk(BARS);

// Inputs with missing values sprinkled in, a different shape per series position.
const seriesInput = (k) => walk.close.map((c, i) => ((i + 5 * k) % 17 === 4 ? NaN : c + k * Math.sin(i / 3)));
const flagsInput = (k) => walk.close.map((_, i) => [true, false, null, false, undefined][(i + k) % 5]);
const param = (a) => {
  if (a.kind === 'length' || a.kind === 'optLength') return 5;
  if (a.kind === 'number') return 2.5;
  return undefined;
};
function argsOf(decl) {
  let s = 0;
  return decl.args.map((a) => {
    if (a.kind === 'series') return seriesInput(s++);
    if (a.kind === 'flags') return flagsInput(s++);
    return param(a);
  });
}

// What collectTyped gives for one result of collect: NaN for null, 1 and 0 for booleans.
const typedValue = (x) => (x === null ? NaN : x === true ? 1 : x === false ? 0 : x);

function assertSameNumbers(actual, expected, label) {
  assert.equal(actual.length, expected.length, `${label}: length`);
  for (let i = 0; i < expected.length; i++) {
    assert.ok(Object.is(actual[i], expected[i]), `${label}: element ${i} is ${actual[i]}, expected ${expected[i]}`);
  }
}

// One indicator of each result kind the add-on declares.
const byKind = new Map();
for (const d of listing.indicators()) if (!byKind.has(d.result)) byKind.set(d.result, d);

test('collectTyped gives the results of collect for every result kind', async (t) => {
  for (const kind of ['number', 'optInt', 'optFlag', 'numbers2', 'numbers3', 'numberOptInt']) {
    assert.ok(byKind.has(kind), `no indicator with ${kind} results`);
  }
  for (const [kind, decl] of byKind) {
    await t.test(`${kind} (${decl.class})`, () => {
      const Cls = bw[decl.class];
      const args = argsOf(decl);
      const viaArray = Cls.make(ctxOf(walk)).collect(...args);
      const typed = Cls.make(ctxOf(walk)).collectTyped(...args);
      assert.equal(viaArray.length, BARS);
      if (decl.outputs.length === 1) {
        assert.ok(typed instanceof Float64Array);
        assertSameNumbers(typed, viaArray.map(typedValue), decl.class);
        return;
      }
      assert.ok(Array.isArray(typed));
      assert.equal(typed.length, decl.outputs.length);
      decl.outputs.forEach((o, k) => {
        assert.ok(typed[k] instanceof Float64Array, o.name);
        assertSameNumbers(typed[k], viaArray.map((row) => typedValue(row[k])), `${decl.class} ${o.name}`);
      });
    });
  }
});

test('collectTyped of a hand-computed average', () => {
  const ctx = ctxOf({ close: [1, 2, 3, 4, 5] });
  const out = bw.Incr_fn_sma_059403.make(ctx).collectTyped(new Float64Array([1, 2, 3, 4, 5]), 2);
  assertSameNumbers(out, [NaN, 1.5, 2.5, 3.5, 4.5], 'sma(2)');
});

test('collectTyped continues where next left off and leaves the context at its end', () => {
  const Cls = bw.Incr_fn_ema_7bc747;
  const closes = walk.close;
  const ctxA = ctxOf(walk);
  const a = Cls.make(ctxA);
  const ctxB = ctxOf(walk);
  const b = Cls.make(ctxB);
  for (let i = 0; i < 10; i++) {
    ctxA.next();
    ctxB.next();
    a.next(closes[i], 5);
    b.next(closes[i], 5);
  }
  const typed = a.collectTyped(closes, 5);
  assertSameNumbers(typed, b.collect(closes, 5), 'after ten steps of next');
  assert.equal(ctxA.barIndex, BARS - 1);
  assert.equal(a.collectTyped(closes, 5).length, 0);
  const pair = bw.Incr_fn_bollinger_bands_7ac6ce.make(ctxA).collectTyped(closes);
  assert.deepEqual(pair.map((col) => col.length), [0, 0]);
});

test('collectTyped fails like collect and changes nothing', async (t) => {
  const cases = [
    ['a non-number element', (inst) => inst.collectTyped([1, 'x', 3], 2), { code: 'NumberExpected' }],
    ['a number where a list goes', (inst) => inst.collectTyped(5, 2),
      { message: 'Given napi value is not an array', code: 'InvalidArg' }],
    ['a length that is not a number', (inst) => inst.collectTyped([1, 2, 3], 'x'), { code: 'NumberExpected' }],
    ['another receiver', () => bw.Incr_fn_sma_059403.prototype.collectTyped.call({}, [1, 2, 3], 2),
      { code: 'InvalidArg' }],
  ];
  for (const [label, call, error] of cases) {
    await t.test(label, () => {
      const ctx = ctxOf({ close: [1, 2, 3] });
      const inst = bw.Incr_fn_sma_059403.make(ctx);
      assert.throws(() => call(inst), error);
      assert.equal(ctx.isInitialized, false);
      assertSameNumbers(inst.collectTyped([1, 2, 3], 2), [NaN, 1.5, 2.5], 'afterwards');
    });
  }
});

test('the script entry has no typed results', () => {
  assert.equal(typeof bw.Incr_fn_main_11e0b6.prototype.collectTyped, 'undefined');
});
