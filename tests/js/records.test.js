'use strict';
// Value objects keep their data in a record that only the add-on can reach: scripts see the
// members, never the record, and an object that merely looks like one is refused.
const test = require('node:test');
const assert = require('node:assert/strict');
const b = require('../..');

const T0 = Date.UTC(2024, 0, 1);
const unwrap = (name) => ({ code: 'InvalidArg', message: `Failed to unwrap exclusive reference of \`${name}\` type from napi value` });
const recover = (name) => ({ code: 'InvalidArg', message: `Failed to recover \`${name}\` type from napi value` });

function tradedBacktest() {
  const s = new b.NodeOhlcv();
  for (let i = 0; i < 30; i++) s.push(new b.NodeOhlcvBar(new Date(T0 + i * 60e3), new Date(T0 + (i + 1) * 60e3), 100 + i, 101 + i, 99 + i, 100.5 + i, 10));
  s.timeframe = b.NodeTimeframe.Minutes(1);
  const bt = new b.NodeBacktest(new b.NodeCtx(s, b.NodeSym.BTC_USD()), 1000);
  for (const i of bt) if (i % 10 === 0) bt.signal(b.NodeSignal.Size(i % 20 === 0 ? 1 : -1));
  return bt;
}

const trade = tradedBacktest().closedTrades[0];
const VALUES = {
  NodeTimeframe: [b.NodeTimeframe.Hours(4), 'hours'],
  NodeOhlcvBar: [new b.NodeOhlcvBar(new Date(T0), null, 1, 2, 0.5, 1.5, 10), 'close'],
  NodeSym: [b.NodeSym.ETH_USD(), 'minTick'],
  NodeSymKind: [b.NodeSymKind.Other('bond'), 'periods'],
  NodeSignal: [b.NodeSignal.EquityPct(0.5), 'equityPct'],
  NodeTrade: [trade, 'size'],
  NodeTradeEvent: [trade.entry, 'price'],
};

test('a value object shows no data of its own, and a copy of it is refused', async (t) => {
  for (const [name, [obj, getter]] of Object.entries(VALUES)) {
    await t.test(name, () => {
      assert.deepEqual(Reflect.ownKeys(obj), ['[[NoClone]]']);
      const proto = Object.getPrototypeOf(obj);
      const copy = Object.create(proto, Object.getOwnPropertyDescriptors(obj));
      assert.throws(() => copy[getter], unwrap(name));
      assert.notEqual(obj[getter], undefined);
    });
  }
});

test('native members refuse look-alikes, as receivers and as arguments', async (t) => {
  const tf = b.NodeTimeframe.Days(1);
  const bar = new b.NodeOhlcvBar(null, null, 1, 2, 3, 4, 5);
  const fake = (o) => Object.create(Object.getPrototypeOf(o), Object.getOwnPropertyDescriptors(o));
  const cases = {
    'a timeframe receiver': [() => b.NodeTimeframe.prototype.toString.call(fake(tf)), unwrap('NodeTimeframe')],
    'a timeframe argument': [() => tf.eq(fake(tf)), recover('NodeTimeframe')],
    'a bar of another class': [() => new b.NodeOhlcv().push(tf), recover('NodeOhlcvBar')],
    'a bar argument': [() => new b.NodeOhlcv().push(fake(bar)), recover('NodeOhlcvBar')],
    'a getter on another class': [() => Object.getOwnPropertyDescriptor(b.NodeOhlcvBar.prototype, 'close').get.call(tf), unwrap('NodeOhlcvBar')],
    'a signal in a list of bars': [() => b.NodeOhlcv.fromBars([bar, b.NodeSignal.Hold()]), recover('NodeOhlcvBar')],
    'a signal in a long list of bars': [() => b.NodeOhlcv.fromBars([...Array(40).fill(bar), b.NodeSignal.Hold(), bar]),
      recover('NodeOhlcvBar')],
  };
  for (const [name, [call, error]] of Object.entries(cases)) await t.test(name, () => assert.throws(call, error));
});

test('setters change the record, and a refused value changes nothing', async (t) => {
  const cases = {
    'bar number': [new b.NodeOhlcvBar(null, null, 1), 'open', 7, 'x'],
    'bar time': [new b.NodeOhlcvBar(), 'openTime', new Date(T0), 5],
    'symbol text': [b.NodeSym.BTC_USD(), 'tickerId', 'KRAKEN:XBTUSD', 5],
    'symbol kind': [new b.NodeSym(), 'kind', b.NodeSymKind.Forex(), b.NodeTimeframe.Days(1)],
    'signal id': [b.NodeSignal.Hold(), 'id', 'entry', {}],
  };
  for (const [name, [obj, key, good, bad]] of Object.entries(cases)) {
    await t.test(name, () => {
      const before = String(obj);
      assert.throws(() => { obj[key] = bad; });
      assert.equal(String(obj), before);
      obj[key] = good;
      const read = obj[key];
      if (read instanceof Date) assert.equal(read.getTime(), good.getTime());
      else if (read instanceof b.NodeSymKind) assert.ok(read.eq(good));
      else assert.equal(read, good);
      assert.notEqual(String(obj), before);
    });
  }
});

test('long lists of bars cross whole, times to the nanosecond, getters and holes included', () => {
  const exact = b.NodeOhlcvBar.fromJSON({ open_time: '2024-03-01T09:30:00.123456789Z', open: -0, close: NaN, volume: 1e300 });
  const bars = Array.from({ length: 50 }, (_, i) => (i % 2 ? exact : new b.NodeOhlcvBar(new Date(T0 + i), null, i)));
  // An element served by a getter, read when its turn comes.
  let reads = 0;
  Object.defineProperty(bars, 33, { get() { reads++; return exact; } });
  const s = b.NodeOhlcv.fromBars(bars);
  assert.ok(reads >= 1);
  const back = s.bars;
  assert.equal(back.length, 50);
  for (let i = 0; i < 50; i++) assert.equal(back[i].toString(), (i % 2 ? exact : bars[i]).toString(), `bar ${i}`);
  const holey = bars.slice();
  delete holey[40];
  assert.throws(() => b.NodeOhlcv.fromBars(holey), recover('NodeOhlcvBar'));
});

test('ctx.bar after a step is the bar at the cursor, also when something changed in between', async (t) => {
  const make = () => {
    const s = new b.NodeOhlcv();
    for (let i = 0; i < 6; i++) s.push(new b.NodeOhlcvBar(null, null, i, i, i, i, i));
    return s;
  };
  const cases = {
    'nothing in between': (s, ctx) => ctx,
    'the series reversed': (s, ctx, i) => { if (i === 2) s.reverse(); return ctx; },
    'the series cleared and refilled': (s, ctx, i) => {
      if (i === 3) { s.clear(); for (let k = 0; k < 6; k++) s.push(new b.NodeOhlcvBar(null, null, 10 + k, 0, 0, 10 + k, 0)); }
      return ctx;
    },
    'read through a ref': (s, ctx) => ctx.ref(),
    'the cursor moved by another holder': (s, ctx, i) => { if (i === 1) ctx.ref().next(); return ctx; },
  };
  for (const [name, between] of Object.entries(cases)) {
    await t.test(name, () => {
      const s = make();
      const ctx = new b.NodeCtx(s);
      for (const i of ctx) {
        const reader = between(s, ctx, i);
        assert.equal(reader.bar.close, s.at(ctx.barIndex).close, `bar ${i}`);
      }
      assert.equal(ctx.bar.close, s.at(-1).close);
    });
  }
});
