'use strict';
// Module entry and the binding conventions every class follows.
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const { Worker } = require('node:worker_threads');
const barwise = require('../..');

const { NodeTimeframe } = barwise;

function throwsWith(fn, message, code) {
  let caught;
  try {
    fn();
  } catch (e) {
    caught = e;
  }
  assert.ok(caught instanceof Error, 'expected an Error to be thrown');
  if (message instanceof RegExp) assert.match(caught.message, message);
  else assert.equal(caught.message, message);
  assert.equal(caught.code, code);
  return caught;
}

test('core version answers with or without arguments', () => {
  assert.equal(barwise._getCoreVersion(), '0.2.9');
  assert.equal(barwise._getCoreVersion(1, 'x', {}), '0.2.9');
  assert.equal(require('../../package.json').version, '0.2.9');
});

test('classes without a constructor refuse new, factories still work', () => {
  throwsWith(() => new NodeTimeframe(), 'Class contains no `constructor`, can not new it!', undefined);
  assert.ok(NodeTimeframe.Days(1) instanceof NodeTimeframe);
});

test('member attributes: instance members writable/enumerable/configurable, statics none', () => {
  const m = Object.getOwnPropertyDescriptor(NodeTimeframe.prototype, 'eq');
  assert.deepEqual([m.writable, m.enumerable, m.configurable], [true, true, true]);
  const g = Object.getOwnPropertyDescriptor(NodeTimeframe.prototype, 'days');
  assert.equal(typeof g.get, 'function');
  assert.deepEqual([g.enumerable, g.configurable], [true, true]);
  const s = Object.getOwnPropertyDescriptor(NodeTimeframe, 'Days');
  assert.deepEqual([s.writable, s.enumerable, s.configurable], [false, false, false]);
});

test('32-bit integer arguments truncate toward zero and wrap', () => {
  const cases = [
    [2.9, 2],
    [-2.9, -2],
    [NaN, 0],
    [Infinity, 0],
    [-Infinity, 0],
    [4294967297, 1],
    [2 ** 31, -(2 ** 31)],
    [-0, 0],
  ];
  for (const [input, expected] of cases) assert.equal(NodeTimeframe.Hours(input).hours, expected, String(input));
});

test('conversion errors name the type and carry the host code', () => {
  const cases = [
    ['x', /String/, 'NumberExpected'],
    [undefined, /Undefined/, 'NumberExpected'],
    [null, /Null/, 'NumberExpected'],
    [true, /Boolean/, 'NumberExpected'],
    [10n, /BigInt/, 'NumberExpected'],
    [{}, /Object/, 'NumberExpected'],
    [Symbol('s'), /Symbol/, 'NumberExpected'],
  ];
  for (const [value, message, code] of cases) {
    const e = throwsWith(() => NodeTimeframe.Days(value), message, code);
    assert.match(e.message, /32-bit integer/);
  }
});

test('text arguments show the offending value', () => {
  const cases = [
    [5, 'Number 5'],
    [1.5, 'Number 1.5'],
    [true, 'Boolean true'],
    [7n, 'BigInt 7'],
    [{ a: 1 }, 'Object {"a":1}'],
    [[1, 2], 'Object [1,2]'],
    [function foo() {}, 'function foo(..) '],
    [undefined, 'Undefined'],
    [null, 'Null'],
    [Symbol('s'), 'Symbol'],
  ];
  for (const [value, shown] of cases) {
    const e = throwsWith(() => NodeTimeframe.fromString(value), /./, 'StringExpected');
    assert.ok(e.message.endsWith(shown), `${e.message} should end with ${shown}`);
  }
  // A value whose JSON text cannot be made still gets a message, never a crash.
  const cyclic = {};
  cyclic.self = cyclic;
  throwsWith(() => NodeTimeframe.fromString(cyclic), /Object/, 'StringExpected');
});

test('receivers and instance arguments of the wrong class are refused', () => {
  const unwrap = 'Failed to unwrap exclusive reference of `NodeTimeframe` type from napi value';
  throwsWith(() => NodeTimeframe.prototype.eq.call({}, NodeTimeframe.Days(1)), unwrap, 'InvalidArg');
  throwsWith(() => NodeTimeframe.prototype.toString.call(Object.create(NodeTimeframe.prototype)), unwrap, 'InvalidArg');
  const getter = Object.getOwnPropertyDescriptor(NodeTimeframe.prototype, 'days').get;
  throwsWith(() => getter.call(42), unwrap, 'InvalidArg');
  const recover = 'Failed to recover `NodeTimeframe` type from napi value';
  for (const bad of [{}, null, undefined, 1, 'x', NodeTimeframe])
    throwsWith(() => NodeTimeframe.Days(1).eq(bad), recover, 'InvalidArg');
});

test('a throwing toJSON while a text error is formatted stays contained', () => {
  const boom = new RangeError('from getter');
  const hostile = {
    [Symbol.toPrimitive]() {
      throw boom;
    },
    toJSON() {
      throw boom;
    },
  };
  // The text conversion formats the value with JSON; a throwing toJSON must not leak out
  // as a different error, and the call still fails with the conversion error.
  throwsWith(() => NodeTimeframe.fromString(hostile), /Object/, 'StringExpected');
});

test('loads and works in several worker threads at once', async () => {
  const script = `
    const { parentPort, workerData } = require('node:worker_threads');
    const { NodeTimeframe } = require(workerData.root);
    let ok = 0;
    for (let i = 1; i <= 2000; i++) {
      const t = NodeTimeframe.Minutes(i);
      if (NodeTimeframe.fromString(t.toString()).eq(t) && t.toDurationS() === i * 60) ok++;
    }
    parentPort.postMessage(ok);
  `;
  const root = path.join(__dirname, '..', '..');
  const runs = Array.from({ length: 4 }, () =>
    new Promise((resolve, reject) => {
      const w = new Worker(script, { eval: true, workerData: { root } });
      w.once('message', resolve);
      w.once('error', reject);
    }));
  assert.deepEqual(await Promise.all(runs), [2000, 2000, 2000, 2000]);
  // The main thread's classes keep working after the workers are gone.
  assert.equal(NodeTimeframe.Days(2).toString(), '2D');
});
