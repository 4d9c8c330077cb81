'use strict';
// JavaScript that runs while the add-on reads an argument may call back into the add-on: it
// must find nothing borrowed or locked, and the outer call must still behave.
const test = require('node:test');
const assert = require('node:assert/strict');
const b = require('../..');
const { hourly } = require('./support/market');

// Hourly bars from 10 up, closing half a point above the open.
const series = (n) => hourly(n, { base: 10 });
const extraBar = () => new b.NodeOhlcvBar(new Date(Date.UTC(2030, 0, 1)), null, 1, 1, 1, 1, 1);

test('collect inputs whose elements advance the same context and grow its series', () => {
  const s = series(10);
  const ctx = new b.NodeCtx(s);
  const sma = b.Incr_fn_sma_059403.make(ctx);
  const closes = Array.from({ length: 40 }, (_, i) => i);
  let calls = 0;
  Object.defineProperty(closes, 3, {
    get() {
      calls++;
      ctx.next();
      s.push(extraBar());
      return 3;
    },
  });
  const out = sma.collect(closes, 2);
  assert.ok(calls >= 1);
  // The getter moved the context to bar 0 and added bars before the loop started.
  assert.equal(ctx.barIndex, s.length - 1);
  assert.equal(out.length, s.length - 1);
});

test('a series extended by itself, directly and through a ref, appends a copy', () => {
  const s = series(3);
  s.extend(s);
  assert.equal(s.length, 6);
  s.extend(s.ref());
  assert.equal(s.length, 12);
  assert.equal(s.at(11).close, s.at(2).close);
});

test('plain-object readers whose getters call back into the add-on', () => {
  const s = series(5);
  const ctx = new b.NodeCtx(s);
  const json = {
    get open_time() {
      ctx.next();
      s.push(extraBar());
      return '2024-01-01T00:00:00Z';
    },
    close_time: null,
    open: 1, high: 2, low: 0.5, close: 1.5, volume: 3,
  };
  const bar = b.NodeOhlcvBar.fromJSON(json);
  assert.equal(bar.close, 1.5);
  assert.equal(ctx.barIndex, 0);
  assert.equal(s.length, 6);

  const sym = b.NodeSym.fromJSON({
    get id() {
      ctx.next();
      return 'X';
    },
  });
  assert.equal(sym.id, 'X');
  assert.equal(ctx.barIndex, 1);
});

test('a backtest signalled from inside its own loop and from argument getters', { skip: !b.NodeBacktest && 'no backtest' }, () => {
  const s = series(20);
  const bt = new b.NodeBacktest(new b.NodeCtx(s, b.NodeSym.BTC_USD()), 1000);
  const long = b.NodeSignal.Size(1);
  let seen = 0;
  for (const i of bt) {
    seen++;
    if (i === 2) bt.signal(long);
    if (i === 5) {
      // A signal read from JSON whose getter signals the same backtest first.
      const sig = b.NodeSignal.fromJSON({
        get kind() {
          bt.signal(b.NodeSignal.CloseAll());
          return { kind: 'Hold', value: [] };
        },
      });
      bt.signal(sig);
    }
  }
  assert.equal(seen, 20);
  assert.ok(bt.closedTrades.length >= 1);
});
