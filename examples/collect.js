'use strict';
// Batch: `collect` walks a context through all of its remaining bars in one call and returns one
// result per bar, reading element i of each input list on bar i. A context is a shared cursor,
// so each indicator here runs on its own copy of it (a second collect on a context that is
// already at its end would return an empty list).
const { NodeCtx, Incr_fn_ema_7bc747, Incr_fn_bollinger_bands_7ac6ce, Incr_fn_supertrend_a392d5, Incr_fn_rsi_4196b9 } =
  require('barwise');
const { loadSample } = require('../data/sample');

const { ohlcv, sym } = loadSample();
// A Float64Array is read in place; a plain array would be converted element by element first.
const closes = Float64Array.from(ohlcv.close);
const ctx = new NodeCtx(ohlcv, sym);

const ema = Incr_fn_ema_7bc747.make(ctx.copy()).collect(closes, 50);
const bands = Incr_fn_bollinger_bands_7ac6ce.make(ctx.copy()).collect(closes, 20, 2.0);
const trend = Incr_fn_supertrend_a392d5.make(ctx.copy()).collect(closes, 3, 10);
const rsi = Incr_fn_rsi_4196b9.make(ctx.copy()).collect(closes);

/** @param {number[]} xs */
const firstValue = (xs) => xs.findIndex((x) => !Number.isNaN(x));
const n = ohlcv.length;
const [upper, lower] = bands[n - 1];
const [level, direction] = trend[n - 1];
console.log(`${n} bars, ${ema.length} results per indicator`);
console.log(`ema(50):       first value on bar ${firstValue(ema)}, last ${ema[n - 1].toFixed(2)}`);
console.log(`bollinger(20): last upper ${upper.toFixed(2)}, lower ${lower.toFixed(2)}`);
console.log(`supertrend:    last ${level.toFixed(2)}, direction ${direction === -1 ? 'up' : 'down'}`);
console.log(`rsi(14):       first value on bar ${firstValue(rsi)}, last ${rsi[n - 1].toFixed(2)}`);
