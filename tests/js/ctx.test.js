'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const { NodeCtx, NodeCtxSkip, NodeOhlcv, NodeSym, NodeSymKind, NodeTimeframe } = require('../..');
const { T0, HOUR, hourly, hourlyBar } = require('./support/market');

// n hourly bars with no timeframe; bar i opens at T0 + i hours and closes at 100 + i.
const series = (n) => hourly(n, { lift: 0, timeframe: null });
const bar = (i) => hourlyBar(i, { lift: 0 });
const steps = (ctx, n) => Array.from({ length: n }, () => ctx.next());

test('a new context walks its series bar by bar and stops at the end', () => {
  const ctx = new NodeCtx(series(3));
  assert.equal(ctx.barIndex, 0);
  assert.equal(ctx.isInitialized, false);
  assert.equal(ctx.length, 3);
  assert.equal(ctx.bar.close, 100, 'before the first advance, the first bar');
  assert.deepEqual(steps(ctx, 4), [{ value: 0, done: false }, { value: 1, done: false }, { value: 2, done: false }, { done: true }]);
  assert.equal(ctx.barIndex, 2);
  assert.equal(ctx.isInitialized, true);
  assert.equal(ctx.bar.close, 102);
  ctx.reset();
  assert.equal(ctx.barIndex, 0);
  assert.equal(ctx.isInitialized, false);
  assert.deepEqual(ctx.next(), { value: 0, done: false });
});

test('bars pushed into the series later are seen at once', () => {
  const ohlcv = new NodeOhlcv();
  const ctx = new NodeCtx(ohlcv);
  assert.deepEqual(ctx.next(), { done: true });
  assert.throws(() => ctx.bar, { code: 'InvalidArg' });
  ohlcv.push(bar(0));
  assert.equal(ctx.length, 1);
  assert.deepEqual(ctx.next(), { value: 0, done: false });
  assert.equal(ctx.bar.close, 100);
});

test('ref shares the cursor, copy takes its own over the same series', () => {
  const ctx = new NodeCtx(series(5), NodeSym.BTC_USD());
  ctx.next();
  const same = ctx.ref();
  same.next();
  assert.equal(ctx.barIndex, 1);
  const own = ctx.copy();
  assert.equal(own.barIndex, 1);
  assert.equal(own.isInitialized, true);
  own.next();
  own.next();
  assert.equal(own.barIndex, 3);
  assert.equal(ctx.barIndex, 1);
  assert.equal(own.sym.eq(ctx.sym), true);

  ctx.ohlcv.push(bar(5));
  for (const c of [ctx, same, own]) assert.equal(c.length, 6);
  assert.equal(ctx.ohlcv.length, 6, 'ohlcv shares the storage, it is not a copy');
  own.skip(NodeCtxSkip.end());
  assert.equal(own.bar.close, 105);
});

test('the symbol is a private copy; without one the context has the default symbol', () => {
  const sym = NodeSym.ETH_USD();
  const ctx = new NodeCtx(null, sym);
  sym.minQty = 7;
  assert.equal(ctx.sym.minQty, 0.0001);
  ctx.sym.minQty = 9;
  assert.equal(ctx.sym.minQty, 0.0001);
  assert.equal(new NodeCtx().sym.toString(), 'Sym(ticker_id=None, id=None, kind=Unknown)');
  assert.equal(new NodeCtx(undefined, undefined).length, 0);
});

test('annualization factor from the timeframe and the symbol kind', async (t) => {
  const stock = new NodeSym();
  stock.kind = NodeSymKind.Stock();
  const cases = [
    [NodeTimeframe.Days(1), NodeSym.BTC_USD(), 365],
    [NodeTimeframe.Hours(1), NodeSym.BTC_USD(), 8760],
    [NodeTimeframe.Days(1), stock, 252],
    [NodeTimeframe.Weeks(1), stock, 36],
    [NodeTimeframe.Minutes(15), stock, 252 * 96],
  ];
  for (const [tf, sym, want] of cases) {
    await t.test(`${tf.toString()} ${sym.kind.toString()}: ${want}`, () => {
      const s = series(1);
      s.timeframe = tf;
      assert.equal(new NodeCtx(s, sym).annualizationFactor, want);
    });
  }
  assert.throws(() => new NodeCtx().annualizationFactor, { message: 'Unknown timeframe', code: 'InvalidArg' });
  const ticks = series(1);
  ticks.timeframe = NodeTimeframe.Ticks(10);
  assert.throws(() => new NodeCtx(ticks).annualizationFactor, { message: 'Unknown timeframe' });
  const huge = series(1);
  huge.timeframe = NodeTimeframe.Years(2147483647);
  assert.throws(() => new NodeCtx(huge).annualizationFactor, { code: 'InvalidArg' });
});

test('skips move the index only, never past the last bar', async (t) => {
  const ctx = new NodeCtx(series(10));
  ctx.skip(NodeCtxSkip.end());
  assert.equal(ctx.barIndex, 9);
  assert.equal(ctx.isInitialized, false);
  assert.deepEqual(ctx.next(), { value: 0, done: false }, 'a skip does not initialise');

  const moves = [
    // [from bar, skip kind, its argument, bar after the skip]
    [0, 'bars', 3, 3],
    [3, 'bars', 100, 9],
    [9, 'bars', -4, 5],
    [5, 'bars', -6, 9], // wraps below bar 0 and lands on the last bar
    [9, 'barIndex', 4, 4],
    [4, 'barIndex', -1, 9],
    [9, 'barIndex', 2.9, 2],
    [2, 'openTimeGeq', new Date(T0 + 6.5 * HOUR), 7],
    [7, 'openTimeGeq', new Date(T0 + 20 * HOUR), 9],
    [9, 'openTimeEq', new Date(T0 + 2 * HOUR), 2], // searched from the start: moves back
    [2, 'openTimeEq', new Date(T0 + 2 * HOUR + 1), 9],
    [9, 'openTimeGeq', new Date(0), 0],
  ];
  for (const [from, kind, arg, want] of moves) {
    await t.test(`${kind}(${arg instanceof Date ? arg.toISOString() : arg}) from bar ${from}`, () => {
      ctx.skip(NodeCtxSkip.barIndex(from));
      ctx.skip(NodeCtxSkip[kind](arg));
      assert.equal(ctx.barIndex, want);
    });
  }
  ctx.skip(NodeCtxSkip.barIndex(4));
  assert.deepEqual(ctx.next(), { value: 5, done: false });

  const reused = NodeCtxSkip.bars(2);
  ctx.skip(reused);
  ctx.skip(reused);
  assert.equal(ctx.barIndex, 9);
});

test('skips on an empty series leave the index past the end', () => {
  const ctx = new NodeCtx();
  ctx.skip(NodeCtxSkip.end());
  assert.equal(ctx.barIndex, -1);
  assert.throws(() => ctx.bar, { code: 'InvalidArg' });
  ctx.skip(NodeCtxSkip.bars(3));
  assert.equal(ctx.barIndex, 2, 'from the largest index, +3 wraps to 2');
  ctx.skip(NodeCtxSkip.openTimeEq(new Date(T0)));
  assert.equal(ctx.barIndex, -1);
  ctx.ohlcv.push(bar(0));
  assert.deepEqual(ctx.next(), { value: 0, done: false });
});

test('wrong argument types create or change nothing', () => {
  assert.throws(() => new NodeCtx(NodeSym.BTC_USD()), { message: 'Failed to recover `NodeOhlcv` type from napi value' });
  assert.throws(() => new NodeCtx(series(1), series(1)), { message: 'Failed to recover `NodeSym` type from napi value' });
  const ctx = new NodeCtx(series(3));
  ctx.next();
  assert.throws(() => ctx.skip(3), { message: 'Failed to recover `NodeCtxSkip` type from napi value' });
  assert.throws(() => ctx.skip(), { message: 'Failed to recover `NodeCtxSkip` type from napi value' });
  assert.equal(ctx.barIndex, 0);
  assert.throws(() => new NodeCtxSkip(), { message: 'Class contains no `constructor`, can not new it!' });
  assert.throws(() => NodeCtxSkip.openTimeEq(T0), { code: 'DateExpected' });
  assert.throws(() => NodeCtxSkip.bars('1'), { code: 'NumberExpected' });
  assert.throws(() => NodeCtx.prototype.reset.call({}),
    { message: 'Failed to unwrap exclusive reference of `NodeCtx` type from napi value' });
});

test('every NodeCtx carries the iteration protocol as own properties', async (t) => {
  const ctx = new NodeCtx(series(2));
  for (const [name, obj] of [['new', ctx], ['ref', ctx.ref()], ['copy', ctx.copy()]]) {
    await t.test(name, () => {
      assert.deepEqual(Reflect.ownKeys(obj), ['next', 'return', 'throw', '[[GeneratorState]]', Symbol.iterator]);
      assert.equal(obj[Symbol.iterator].name, 'Iterator');
      assert.equal(obj[Symbol.iterator](), obj);
      for (const key of [Symbol.iterator, 'next', 'return', 'throw'])
        assert.deepEqual(Object.getOwnPropertyDescriptor(obj, key).enumerable, true);
      const state = Object.getOwnPropertyDescriptor(obj, '[[GeneratorState]]');
      assert.deepEqual(state, { value: false, writable: true, enumerable: false, configurable: false });
    });
  }
  if (typeof globalThis.Iterator === 'function') {
    assert.equal(Object.getPrototypeOf(NodeCtx.prototype), globalThis.Iterator.prototype);
  }
});

test('where the host has a global Iterator, its prototype sits behind the class members', () => {
  // A fresh process with a stand-in Iterator, so that hosts without one are covered too.
  const script = `
    globalThis.Iterator = function Iterator() {};
    Iterator.prototype.firstTwo = function () { return [this.next().value, this.next().value]; };
    const { NodeCtx, NodeOhlcv, NodeOhlcvBar } = require(${JSON.stringify(require.resolve('../..'))});
    const o = NodeOhlcv.fromBars([new NodeOhlcvBar(), new NodeOhlcvBar(), new NodeOhlcvBar()]);
    const ctx = new NodeCtx(o);
    if (Object.getPrototypeOf(NodeCtx.prototype) !== Iterator.prototype) throw new Error('not linked');
    process.stdout.write(JSON.stringify([ctx.firstTwo(), ctx.barIndex, typeof ctx.reset]));`;
  const out = require('node:child_process').execFileSync(process.execPath, ['-e', script], { encoding: 'utf8' });
  assert.deepEqual(JSON.parse(out), [[0, 1], 1, 'function']);
});

test('for...of yields bar indexes and resumes once bars are appended', () => {
  const ohlcv = series(3);
  const ctx = new NodeCtx(ohlcv);
  assert.deepEqual([...ctx], [0, 1, 2]);
  assert.equal(ctx.barIndex, 2);
  assert.deepEqual([...ctx], [], 'reaching the end does not finish the object');
  ohlcv.push(bar(3));
  ohlcv.push(bar(4));
  const seen = [];
  for (const i of ctx) seen.push([i, ctx.bar.close]);
  assert.deepEqual(seen, [[3, 103], [4, 104]]);
});

test('leaving a loop early finishes that object only', () => {
  const ctx = new NodeCtx(series(5));
  for (const i of ctx) {
    assert.equal(i, 0);
    break;
  }
  assert.equal(ctx['[[GeneratorState]]'], true);
  assert.deepEqual(ctx.next(), { done: true });
  assert.equal(ctx.barIndex, 0, 'a finished object does not move the context');
  ctx.reset();
  assert.deepEqual(ctx.next(), { done: true }, 'reset does not reopen it');
  const again = ctx.ref();
  assert.deepEqual([...again], [0, 1, 2, 3, 4]);
  assert.equal(ctx.barIndex, 4);

  const other = new NodeCtx(series(3));
  assert.throws(() => { for (const _ of other) throw new Error('boom'); }, { message: 'boom' });
  assert.deepEqual([...other], []);
  assert.deepEqual([...other.ref()], [1, 2]);
});

test('next, return and throw by hand', () => {
  const ctx = new NodeCtx(series(3));
  assert.throws(() => ctx.next(1), { message: 'Value is not undefined', code: 'InvalidArg' });
  assert.throws(() => ctx.next(null), { message: 'Value is not undefined' });
  assert.equal(ctx.barIndex, 0);
  assert.equal(ctx.isInitialized, false, 'a refused call does not step');
  assert.deepEqual(ctx.next(undefined), { value: 0, done: false });

  assert.throws(() => ctx.return(0), { message: 'Value is not undefined' });
  assert.equal(ctx['[[GeneratorState]]'], false);
  const r = ctx.return();
  assert.deepEqual(r, { value: undefined, done: true });
  assert.ok(Object.hasOwn(r, 'value'));
  assert.deepEqual(ctx.next(), { done: true });

  const t = new NodeCtx(series(3));
  const err = new Error('stop');
  assert.throws(() => t.throw(err), (e) => e === err);
  assert.equal(t['[[GeneratorState]]'], true);
  const u = new NodeCtx(series(3));
  assert.throws(() => u.throw(), (e) => e === undefined);

  const next = new NodeCtx(series(1)).next;
  assert.throws(() => next.call({}), { message: 'Failed to unwrap exclusive reference of `NodeCtx` type from napi value' });

  // The state is an ordinary writable property: setting it back reopens the object.
  ctx['[[GeneratorState]]'] = false;
  assert.deepEqual(ctx.next(), { value: 1, done: false });
});
