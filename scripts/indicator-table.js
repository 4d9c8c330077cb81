'use strict';
// The indicator classes as JavaScript sees them: class name, arguments of `next` in order (kind
// and default), result kind and a one-line description. scripts/gen-types.js turns this table
// into the indicator part of index.d.ts, the export list of index.mjs and docs/indicators.md;
// tests/js/ecosystem.test.js checks it against the add-on's own exports.
//
// Argument kinds: 'series' (a number per step, a list in collect), 'flags' (an optional boolean
// per step, a list in collect), 'number' (required number), 'int' (optional whole number),
// 'float' (optional number), 'bool' (optional flag). `def` is the default, or undefined when
// there is none. Result kinds: 'number', 'int?' (number or null), 'bool?' (boolean or null),
// 'number2', 'number3' (tuples), 'number,int?' (a number and a number or null).

const s = (name) => ({ name, kind: 'series' });
const int = (name, def) => ({ name, kind: 'int', def });
const float = (name, def) => ({ name, kind: 'float', def });
const bool = (name, def) => ({ name, kind: 'bool', def });
const num = (name) => ({ name, kind: 'number' });
const flags = (name) => ({ name, kind: 'flags' });

const row = (group, name, cls, args, result, doc, outputs) => ({ group, name, cls, args, result, doc, outputs });

const INDICATORS = [
  // Moving averages and basic series functions
  row('averages', 'sma', 'Incr_fn_sma_059403', [s('src'), int('length', 14)], 'number', 'Simple moving average of src over length bars.'),
  row('averages', 'ema', 'Incr_fn_ema_7bc747', [s('src'), int('length', 14)], 'number', 'Exponential moving average, alpha = 2 / (length + 1), seeded with the simple average.'),
  row('averages', 'rma', 'Incr_fn_rma_3454eb', [s('src'), int('length', 14)], 'number', "Wilder's moving average, alpha = 1 / length, seeded with the simple average."),
  row('averages', 'wma', 'Incr_fn_wma_5c3876', [s('src'), int('length', 14)], 'number', 'Linearly weighted moving average.'),
  row('averages', 'lwma', 'Incr_fn_lwma_60bd2d', [s('src'), int('length', 14)], 'number', 'Linearly weighted moving average (the same computation as wma).'),
  row('averages', 'swma', 'Incr_fn_swma_30829d', [s('src')], 'number', 'Symmetric weighted average of the last four values (weights 1, 2, 2, 1).'),
  row('averages', 'hma', 'Incr_fn_hma_3a3f74', [s('src'), int('length', 14)], 'number', 'Hull moving average: wma over sqrt(length) of 2 * wma(length / 2) - wma(length).'),
  row('averages', 'vwma', 'Incr_fn_vwma_10c6d1', [s('src'), int('length', 14)], 'number', 'Volume-weighted moving average.'),
  row('averages', 'fwma', 'Incr_fn_fwma_69cd8f', [s('src'), int('length', 14)], 'number', 'Fibonacci-weighted moving average (no warm-up: missing values count as 0).'),
  row('averages', 'dema', 'Incr_fn_dema_d2c3b8', [s('src'), int('length', 9)], 'number', 'Double exponential moving average, 2 * e1 - e2.'),
  row('averages', 'tema', 'Incr_fn_tema_ef3cbc', [s('src'), int('length', 9)], 'number', 'Triple exponential moving average, 3 * e1 - 3 * e2 + e3.'),
  row('averages', 'dev', 'Incr_fn_dev_402351', [s('src'), int('length', 14)], 'number', 'Mean absolute deviation from the simple average.'),
  row('averages', 'stdev', 'Incr_fn_stdev_d87475', [s('src'), int('length'), bool('biased', true)], 'number', 'Standard deviation (yields 15 during warm-up when biased).'),
  row('averages', 'cum', 'Incr_fn_cum_c1d3ea', [s('src')], 'number', 'Running total of src, restarting after a missing value.'),
  row('averages', 'change', 'Incr_fn_change_1e4fad', [s('src')], 'number', 'One-bar change, src - src[1].'),

  // Oscillators
  row('oscillators', 'rsi', 'Incr_fn_rsi_4196b9', [s('src'), int('length', 14)], 'number', 'Relative strength index.'),
  row('oscillators', 'stochastic_rsi', 'Incr_fn_stochastic_rsi_84a7e0', [s('src'), int('stochLength', 14), int('rsiLength', 14), int('smoothK', 3), int('smoothD', 3)], 'number2', 'Stochastic RSI, [k, d].', ['k', 'd']),
  row('oscillators', 'connors_rsi', 'Incr_fn_connors_rsi_ecfb42', [s('src'), int('rsiLength', 3), int('streakLength', 2), int('rankLength', 100)], 'number', 'Connors RSI: mean of the RSI, the streak RSI and the percent rank of the one-bar change.'),
  row('oscillators', 'relative_volatility_index', 'Incr_fn_relative_volatility_index_3b8406', [s('src'), int('length', 14)], 'number', 'Relative volatility index.'),
  row('oscillators', 'cci', 'Incr_fn_cci_d95ce4', [s('src'), int('length', 14)], 'number', 'Commodity channel index.'),
  row('oscillators', 'williams_pct_r', 'Incr_fn_williams_pct_r_01cd99', [s('src'), int('length', 14)], 'number', 'Williams %R, between -100 and 0 inside the range.'),
  row('oscillators', 'ultimate_oscillator', 'Incr_fn_ultimate_oscillator_e466b9', [int('length1', 7), int('length2', 14), int('length3', 28)], 'number', 'Ultimate oscillator over three lengths, from the bars.'),
  row('oscillators', 'relative_vigor_index', 'Incr_fn_relative_vigor_index_419773', [int('length', 14)], 'number', 'Relative vigor index, from the bars.'),
  row('oscillators', 'balance_of_power', 'Incr_fn_balance_of_power_b52747', [], 'number', 'Balance of power, (close - open) / (high - low) of the current bar.'),

  // Volatility and channels
  row('volatility', 'tr', 'Incr_fn_tr_296320', [bool('handleNa', true)], 'number', 'True range of the current bar.'),
  row('volatility', 'atr', 'Incr_fn_atr_d37266', [int('length', 14)], 'number', 'Average true range (rma of the true range).'),
  row('volatility', 'bollinger_bands', 'Incr_fn_bollinger_bands_7ac6ce', [s('src'), int('length', 20), float('mult', 2.0)], 'number2', 'Bollinger bands, [upper, lower].', ['upper', 'lower']),
  row('volatility', 'bollinger_bands_pct_b', 'Incr_fn_bollinger_bands_pct_b_12beae', [s('src'), int('length', 20), float('mult', 2.0)], 'number', 'Bollinger %B, the position of src between the bands.'),
  row('volatility', 'bollinger_bands_width', 'Incr_fn_bollinger_bands_width_bec1ab', [s('src'), int('length', 20), float('mult', 2.0)], 'number', 'Bollinger band width as a percentage of the basis.'),
  row('volatility', 'donchian_channel', 'Incr_fn_donchian_channel_b78288', [s('src'), int('length', 20)], 'number3', 'Donchian channel from the bar highs and lows, [upper, lower, basis].', ['upper', 'lower', 'basis']),
  row('volatility', 'supertrend', 'Incr_fn_supertrend_a392d5', [s('src'), num('factor'), int('atrPeriod')], 'number,int?', 'Supertrend, [value, direction] with direction 1 or -1.', ['value', 'direction']),
  row('volatility', 'chande_kroll_stop', 'Incr_fn_chande_kroll_stop_1f3d9c', [int('atrLength', 10), float('mult', 1.0), int('stopLength', 9)], 'number2', 'Chande Kroll stop, [stopShort, stopLong].', ['stopShort', 'stopLong']),
  row('volatility', 'choppiness_index', 'Incr_fn_choppiness_index_30ed5c', [int('length', 14)], 'number', 'Choppiness index.'),
  row('volatility', 'vortex_indicator', 'Incr_fn_vortex_indicator_120086', [int('length', 14)], 'number2', 'Vortex indicator, [plus, minus].', ['plus', 'minus']),
  row('volatility', 'aroon', 'Incr_fn_aroon_39638b', [int('length', 14)], 'number2', 'Aroon, [up, down].', ['up', 'down']),

  // Volume-based indicators
  row('volume', 'accdist', 'Incr_fn_accdist_8c0ce2', [], 'number', 'Accumulation/distribution line.'),
  row('volume', 'chaikin_money_flow', 'Incr_fn_chaikin_money_flow_040712', [int('length', 20)], 'number', 'Chaikin money flow.'),
  row('volume', 'money_flow_index', 'Incr_fn_money_flow_index_7401be', [s('src'), int('length', 14)], 'number', 'Money flow index.'),
  row('volume', 'ease_of_movement', 'Incr_fn_ease_of_movement_6ab669', [int('length', 14), int('divisor', 10000)], 'number', 'Ease of movement.'),
  row('volume', 'elder_force_index', 'Incr_fn_elder_force_index_782d84', [int('length', 13)], 'number', 'Elder force index.'),
  row('volume', 'volume_oscillator', 'Incr_fn_volume_oscillator_91e2a8', [int('shortLength', 5), int('longLength', 10)], 'number', 'Volume oscillator, percentage difference of two volume averages.'),
  row('volume', 'advance_decline_ratio', 'Incr_fn_advance_decline_ratio_c534f8', [int('length', 9)], 'number', 'Advance/decline ratio of up and down bars.'),

  // Crosses, extremes and bar counts
  row('crosses', 'crossover', 'Incr_fn_crossover_94210a', [s('a'), s('b')], 'bool?', 'True on the bar where a crosses above b; null when a or b is missing.'),
  row('crosses', 'crossunder', 'Incr_fn_crossunder_ed654e', [s('a'), s('b')], 'bool?', 'True on the bar where a crosses below b; null when a or b is missing.'),
  row('crosses', 'cross', 'Incr_fn_cross_0ddf1f', [s('a'), s('b')], 'bool?', 'True on the bar where a and b cross either way; null when a or b is missing.'),
  row('crosses', 'barssince', 'Incr_fn_barssince_a2ae8d', [flags('cond')], 'int?', 'Bars since cond was last true; null before it ever was.'),
  row('crosses', 'highest', 'Incr_fn_highest_84f508', [s('src'), int('length', 14)], 'number', 'Highest value over the last length bars.'),
  row('crosses', 'lowest', 'Incr_fn_lowest_4e830f', [s('src'), int('length', 14)], 'number', 'Lowest value over the last length bars.'),
  row('crosses', 'highestbars', 'Incr_fn_highestbars_406610', [s('src'), int('length', 14)], 'int?', 'Offset (0 or negative) of the highest value over the last length bars.'),
  row('crosses', 'lowestbars', 'Incr_fn_lowestbars_45ca87', [s('src'), int('length', 14)], 'int?', 'Offset (0 or negative) of the lowest value over the last length bars.'),

  // Momentum and average-difference oscillators
  row('momentum', 'momentum', 'Incr_fn_momentum_d7f735', [s('src'), int('length', 10)], 'number', 'Momentum, src - src[length].'),
  row('momentum', 'roc', 'Incr_fn_roc_ba0b0c', [s('src'), int('length', 14)], 'number', 'Rate of change in percent over length bars.'),
  row('momentum', 'macd', 'Incr_fn_macd_4e1ee0', [s('src'), int('fastLength', 12), int('slowLength', 26)], 'number', 'MACD line, ema(fast) - ema(slow).'),
  row('momentum', 'price_oscillator', 'Incr_fn_price_oscillator_740861', [s('src'), int('fastLength', 12), int('slowLength', 26)], 'number', 'Percentage price oscillator.'),
  row('momentum', 'absolute_price_oscillator', 'Incr_fn_absolute_price_oscillator_ef9439', [s('src'), int('fastLength', 12), int('slowLength', 26)], 'number', 'Absolute price oscillator (the order of the two lengths does not matter).'),
  row('momentum', 'awesome_oscillator', 'Incr_fn_awesome_oscillator_7b4eb9', [s('src'), int('fastLength', 5), int('slowLength', 34)], 'number', 'Awesome oscillator, one-bar change of sma(slow) - sma(fast).'),
  row('momentum', 'trix', 'Incr_fn_trix_bc56c3', [s('src'), int('length', 18)], 'number', 'TRIX of the log closes (src is recorded but not used).'),
  row('momentum', 'true_strength_index', 'Incr_fn_true_strength_index_a9d511', [s('src'), int('longLength', 25), int('shortLength', 13)], 'number', 'True strength index.'),
  row('momentum', 'know_sure_thing', 'Incr_fn_know_sure_thing_7bcbff', [s('src'), int('rocLength1', 10), int('rocLength2', 15), int('rocLength3', 20), int('rocLength4', 30), int('smaLength1', 10), int('smaLength2', 10), int('smaLength3', 10), int('smaLength4', 15), int('signalLength', 9)], 'number2', 'Know sure thing, [kst, signal].', ['kst', 'signal']),
  row('momentum', 'coppock_curve', 'Incr_fn_coppock_curve_b2c42b', [s('src'), int('wmaLength', 10), int('longRocLength', 14), int('shortRocLength', 11)], 'number', 'Coppock curve.'),
  row('momentum', 'detrended_price_oscillator', 'Incr_fn_detrended_price_oscillator_36f9a0', [int('length', 21), bool('centered', false)], 'number', 'Detrended price oscillator of the closes.'),
  row('momentum', 'bull_bear_power', 'Incr_fn_bull_bear_power_23f533', [int('length', 13)], 'number', 'Bull/bear power, (high - ema) - (low - ema).'),
];

const GROUPS = {
  averages: 'Moving averages and basic series functions',
  oscillators: 'Oscillators',
  volatility: 'Volatility and channels',
  volume: 'Volume-based indicators',
  crosses: 'Crosses, extremes and bar counts',
  momentum: 'Momentum and average-difference oscillators',
};

module.exports = { INDICATORS, GROUPS };
