'use strict';
// Module entry and the binding conventions every class follows.
const test = require('node:test');
const assert = require('node:assert/strict');
const barwise = require('../..');
const { listing } = require('../../scripts/indicator-listing');

const { NodeTimeframe } = barwise;

const CLASSES = ['NodeTimeframe', 'NodeOhlcvBar', 'NodeOhlcv', 'NodeSym', 'NodeSymKind', 'NodeCtx', 'NodeCtxSkip',
  'NodeSignal', 'NodeTrade', 'NodeTradeEvent', 'NodeTradeDirection', 'NodeBacktest'];
const FUNCTIONS = ['_getCoreVersion', 'zipOhlcvBars', 'roundToMinTick', 'roundContracts', 'validateContracts',
  'orderSize', 'orderSizeForEquityPct', 'expectancy', 'expectancyScore', 'pnl', 'profitFactor',
  'longNetProfitRatio', 'winRate', 'avgTrade', 'avgWinningTrade', 'avgLosingTrade', 'avgWinLossRatio',
  'sharpeRatio', 'sharpeRatioFromReturns', 'sortinoRatio', 'sortinoRatioFromReturns', 'omegaRatio',
  'omegaRatioFromReturns', 'netProfitPct', 'grossProfitPct', 'grossLossPct', 'longNetProfitPct',
  'shortNetProfitPct', 'accuracy', 'precision', 'recall', 'f1', 'annualization_factor', 'sum', 'mean',
  'variance', 'stdev', 'returns'];
const INDICATORS = [
  'Incr_fn_absolute_price_oscillator_ef9439',
  'Incr_fn_accdist_8c0ce2',
  'Incr_fn_advance_decline_ratio_c534f8',
  'Incr_fn_aroon_39638b',
  'Incr_fn_atr_d37266',
  'Incr_fn_awesome_oscillator_7b4eb9',
  'Incr_fn_balance_of_power_b52747',
  'Incr_fn_barssince_a2ae8d',
  'Incr_fn_bollinger_bands_7ac6ce',
  'Incr_fn_bollinger_bands_pct_b_12beae',
  'Incr_fn_bollinger_bands_width_bec1ab',
  'Incr_fn_bull_bear_power_23f533',
  'Incr_fn_cci_d95ce4',
  'Incr_fn_chaikin_money_flow_040712',
  'Incr_fn_chande_kroll_stop_1f3d9c',
  'Incr_fn_change_1e4fad',
  'Incr_fn_choppiness_index_30ed5c',
  'Incr_fn_connors_rsi_ecfb42',
  'Incr_fn_coppock_curve_b2c42b',
  'Incr_fn_cross_0ddf1f',
  'Incr_fn_crossover_94210a',
  'Incr_fn_crossunder_ed654e',
  'Incr_fn_cum_c1d3ea',
  'Incr_fn_dema_d2c3b8',
  'Incr_fn_detrended_price_oscillator_36f9a0',
  'Incr_fn_dev_402351',
  'Incr_fn_donchian_channel_b78288',
  'Incr_fn_ease_of_movement_6ab669',
  'Incr_fn_elder_force_index_782d84',
  'Incr_fn_ema_7bc747',
  'Incr_fn_fwma_69cd8f',
  'Incr_fn_highest_84f508',
  'Incr_fn_highestbars_406610',
  'Incr_fn_hma_3a3f74',
  'Incr_fn_know_sure_thing_7bcbff',
  'Incr_fn_lowest_4e830f',
  'Incr_fn_lowestbars_45ca87',
  'Incr_fn_lwma_60bd2d',
  'Incr_fn_macd_4e1ee0',
  'Incr_fn_main_11e0b6',
  'Incr_fn_momentum_d7f735',
  'Incr_fn_money_flow_index_7401be',
  'Incr_fn_price_oscillator_740861',
  'Incr_fn_relative_vigor_index_419773',
  'Incr_fn_relative_volatility_index_3b8406',
  'Incr_fn_rma_3454eb',
  'Incr_fn_roc_ba0b0c',
  'Incr_fn_rsi_4196b9',
  'Incr_fn_sma_059403',
  'Incr_fn_stdev_d87475',
  'Incr_fn_stochastic_rsi_84a7e0',
  'Incr_fn_supertrend_a392d5',
  'Incr_fn_swma_30829d',
  'Incr_fn_tema_ef3cbc',
  'Incr_fn_tr_296320',
  'Incr_fn_trix_bc56c3',
  'Incr_fn_true_strength_index_a9d511',
  'Incr_fn_ultimate_oscillator_e466b9',
  'Incr_fn_volume_oscillator_91e2a8',
  'Incr_fn_vortex_indicator_120086',
  'Incr_fn_vwma_10c6d1',
  'Incr_fn_williams_pct_r_01cd99',
  'Incr_fn_wma_5c3876',
];

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

test('exports hold every class and function, and nothing else', () => {
  // The indicators beyond the original ones come from the declarations' listing.
  const declared = listing().map((d) => d.class);
  for (const name of INDICATORS) assert.ok(declared.includes(name), `${name} is not declared`);
  const expected = [...CLASSES, ...declared, ...FUNCTIONS].sort();
  assert.deepEqual(Object.keys(barwise).sort(), [...new Set(expected)].sort());
  for (const name of [...CLASSES, ...INDICATORS]) {
    assert.equal(typeof barwise[name], 'function', name);
    assert.equal(barwise[name].name, name);
  }
});

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

test('32-bit integer arguments truncate toward zero and wrap', async (t) => {
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
  for (const [input, expected] of cases) {
    await t.test(Object.is(input, -0) ? '-0' : String(input), () => {
      assert.equal(NodeTimeframe.Hours(input).hours, expected);
    });
  }
});

test('conversion errors name the type and carry the host code', async (t) => {
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
    await t.test(message.source, () => {
      const e = throwsWith(() => NodeTimeframe.Days(value), message, code);
      assert.match(e.message, /32-bit integer/);
    });
  }
});

test('text arguments show the offending value', async (t) => {
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
    await t.test(shown, () => {
      const e = throwsWith(() => NodeTimeframe.fromString(value), /./, 'StringExpected');
      assert.ok(e.message.endsWith(shown), `${e.message} should end with ${shown}`);
    });
  }
  // A value whose JSON text cannot be made still gets a message, never a crash.
  const cyclic = {};
  cyclic.self = cyclic;
  throwsWith(() => NodeTimeframe.fromString(cyclic), /Object/, 'StringExpected');
});

test('receivers and instance arguments of the wrong class are refused', async (t) => {
  const unwrap = 'Failed to unwrap exclusive reference of `NodeTimeframe` type from napi value';
  throwsWith(() => NodeTimeframe.prototype.eq.call({}, NodeTimeframe.Days(1)), unwrap, 'InvalidArg');
  throwsWith(() => NodeTimeframe.prototype.toString.call(Object.create(NodeTimeframe.prototype)), unwrap, 'InvalidArg');
  const getter = Object.getOwnPropertyDescriptor(NodeTimeframe.prototype, 'days').get;
  throwsWith(() => getter.call(42), unwrap, 'InvalidArg');
  const recover = 'Failed to recover `NodeTimeframe` type from napi value';
  for (const [name, bad] of [['{}', {}], ['null', null], ['undefined', undefined], ['1', 1], ["'x'", 'x'],
    ['the class', NodeTimeframe]]) {
    await t.test(`eq(${name})`, () => throwsWith(() => NodeTimeframe.Days(1).eq(bad), recover, 'InvalidArg'));
  }
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

test('float, date and optional arguments', async (t) => {
  const { NodeOhlcvBar } = barwise;
  // 64-bit floats are never coerced.
  for (const [value, type] of [['1', 'String'], [true, 'Boolean'], [1n, 'BigInt'], [{}, 'Object']]) {
    await t.test(`${type} for a float`, () => {
      const e = throwsWith(() => new NodeOhlcvBar(null, null, value), new RegExp(type), 'NumberExpected');
      assert.match(e.message, /64-bit float/);
    });
  }
  // Optional arguments: omitted, undefined and null are all absent.
  for (const bar of [new NodeOhlcvBar(), new NodeOhlcvBar(undefined, undefined), new NodeOhlcvBar(null, null, null)]) {
    assert.equal(bar.openTime, null);
    assert.ok(Number.isNaN(bar.open));
  }
  // Dates: NaN reads as the epoch, -1 ms stays before it, the year 275760 is out of range.
  assert.equal(new NodeOhlcvBar(new Date(NaN)).openTime.getTime(), 0);
  assert.equal(new NodeOhlcvBar(new Date(-1)).openTime.toISOString(), '1969-12-31T23:59:59.999Z');
  throwsWith(() => new NodeOhlcvBar(new Date(8.64e15)), 'Found invalid date', 'DateExpected');
  throwsWith(() => new NodeOhlcvBar(Date.now()), /date/, 'DateExpected');
});

test('an exception thrown by a getter while an argument is read propagates unchanged', () => {
  const boom = new RangeError('from getter');
  const hostile = { get open() { throw boom; }, get open_time() { throw boom; } };
  let caught;
  try {
    barwise.NodeOhlcvBar.fromJSON(hostile);
  } catch (e) {
    caught = e;
  }
  assert.equal(caught, boom);
});
