// Compiled with tsc --noEmit --strict: the declarations must accept real use of the API and
// reject the mistakes marked @ts-expect-error (each of those lines must stay an error).
import barwise = require('barwise');
import {
  NodeBacktest, NodeCtx, NodeCtxSkip, NodeOhlcv, NodeOhlcvBar, NodeSignal, NodeSym, NodeSymKind,
  NodeTimeframe, NodeTradeDirection, zipOhlcvBars, Incr_fn_sma_059403, Incr_fn_bollinger_bands_7ac6ce,
  Incr_fn_supertrend_a392d5, Incr_fn_crossover_94210a, Incr_fn_barssince_a2ae8d,
  Incr_fn_highestbars_406610, Incr_fn_donchian_channel_b78288, Incr_fn_atr_d37266,
  Incr_fn_accdist_8c0ce2, Incr_fn_main_11e0b6, Incr_fn_stdev_d87475,
} from 'barwise';
import type { OhlcvBarJSON, SignalJSON, SymJSON } from 'barwise';
import friendly = require('barwise/indicators');

function expectType<T>(value: T): T {
  return value;
}

// Bars and series
const t0 = new Date(Date.UTC(2024, 0, 1));
const bar = new NodeOhlcvBar(t0, null, 1, 2, 0.5, 1.5, 10);
expectType<Date | null>(bar.openTime);
bar.closeTime = undefined;
bar.close = 1.75;
const json: OhlcvBarJSON = bar.toJSON();
expectType<string | null>(json.open_time);
NodeOhlcvBar.fromJSON({ open_time: '2024-01-01T00:00:00Z', open: 1 });
NodeOhlcvBar.fromJSON(JSON.parse(JSON.stringify(json)) as OhlcvBarJSON);
NodeOhlcvBar.fromJSON(json);
expectType<NodeOhlcvBar>(bar.merge(new NodeOhlcvBar()));

const bars = zipOhlcvBars([t0, null], undefined, [1, 2], new Float64Array([3, 4]));
const ohlcv = NodeOhlcv.fromBars(bars);
ohlcv.timeframe = NodeTimeframe.Hours(1);
expectType<number | null>(ohlcv.timeframe.hours);
expectType<(Date | null)[]>(ohlcv.openTime);
expectType<number[]>(ohlcv.close);
expectType<NodeOhlcvBar | null>(ohlcv.at(-1));
expectType<NodeOhlcv>(ohlcv.resample(NodeTimeframe.Days(1), true));
ohlcv.pushMany(bars);
expectType<void>(ohlcv.sort(true));

// Instruments
const sym = NodeSym.BTC_USD();
sym.currency = null;
sym.kind = NodeSymKind.Crypto();
expectType<number>(sym.kind.periods);
const symJson: SymJSON = sym.toJSON();
expectType<string | null>(symJson.base_currency);
expectType<NodeSym>(NodeSym.fromJSON({ id: 'X', min_tick: 0.5, kind: 'stock' }));
expectType<NodeSym>(NodeSym.fromJSON(sym.toJSON()));
expectType<number>(barwise.roundToMinTick(101.26, 0.5));
expectType<boolean>(barwise.validateContracts(-0.5, 0.001));

// Context and iteration
const ctx = new NodeCtx(ohlcv, sym);
for (const i of ctx) expectType<number>(i);
const step = ctx.next();
if (!step.done) expectType<number>(step.value);
ctx.skip(NodeCtxSkip.openTimeGeq(t0));
const it: IterableIterator<number> = ctx.ref();
expectType<number>(ctx.annualizationFactor);
expectType<NodeCtx>(ctx.copy());
new NodeCtx();

// Backtest
const bt = new NodeBacktest(ctx, 1000, null, undefined, 8760);
for (const i of bt) {
  if (i % 2 === 0) bt.signal(NodeSignal.EquityPct(1));
  else bt.signal(NodeSignal.CloseAll());
}
expectType<bigint>(bt.winningTradesCount());
expectType<bigint>(bt.losingTradesCount);
expectType<bigint | null>(bt.firstEntryBarIndex);
expectType<number>(bt.sharpeRatio());
expectType<number>(bt.netProfitPct);
expectType<string>(bt.toPine());
const firstTrade = bt.trades[0];
if (firstTrade) {
  expectType<number | undefined>(firstTrade.exit?.orderBarIndex);
  expectType<1 | -1>(firstTrade.direction.toNumber());
}
expectType<NodeTradeDirection>(NodeTradeDirection.fromNumber(-1).Long());
const sig = NodeSignal.Size(2.5);
sig.id = 'entry';
const sigJson: SignalJSON = sig.toJSON();
NodeSignal.fromJSON(sigJson);
NodeSignal.fromJSON([{ kind: 'Hold', value: [] }, null, 'note']);
expectType<number | null>(sig.size);

// Metrics
const r = new Float64Array([0.01, -0.02, 0.015]);
expectType<number>(barwise.sharpeRatioFromReturns(r, 0));
expectType<number[]>(barwise.returns(r));
expectType<number[]>(barwise.returns(r, false));
expectType<number>(barwise.annualization_factor(NodeTimeframe.Days(1), 252));
expectType<string>(barwise._getCoreVersion());

// Indicators
const sma = Incr_fn_sma_059403.make(ctx);
expectType<number>(sma.next(1));
expectType<number>(sma.next(1, 5));
expectType<number>(sma.next(1, null));
expectType<number[]>(sma.collect([1, 2, 3], 2));
expectType<number[]>(sma.collect(new Float64Array([1, 2, 3]), 2));
const [upper, lower] = Incr_fn_bollinger_bands_7ac6ce.make(ctx).next(1, 20, 2);
expectType<number>(upper - lower);
expectType<[number, number | null]>(Incr_fn_supertrend_a392d5.make(ctx).next(1, 3, 10));
expectType<[number, number, number][]>(Incr_fn_donchian_channel_b78288.make(ctx).collect([1, 2]));
expectType<boolean | null>(Incr_fn_crossover_94210a.make(ctx).next(1, 2));
expectType<number | null>(Incr_fn_barssince_a2ae8d.make(ctx).next(null));
expectType<(number | null)[]>(Incr_fn_barssince_a2ae8d.make(ctx).collect([true, null, undefined, false]));
expectType<number | null>(Incr_fn_highestbars_406610.make(ctx).next(3));
expectType<number[]>(Incr_fn_atr_d37266.make(ctx).collect());
expectType<number>(Incr_fn_accdist_8c0ce2.make(ctx).next());
expectType<number>(Incr_fn_stdev_d87475.make(ctx).next(1, 5, false));
expectType<void>(Incr_fn_main_11e0b6.make(ctx).next());
expectType<unknown[]>(Incr_fn_main_11e0b6.make(ctx).collect().alerts);
// Typed results: one Float64Array per output
expectType<Float64Array>(sma.collectTyped(new Float64Array([1, 2, 3]), 2));
expectType<Float64Array>(Incr_fn_barssince_a2ae8d.make(ctx).collectTyped([true, null]));
expectType<[Float64Array, Float64Array, Float64Array]>(Incr_fn_donchian_channel_b78288.make(ctx).collectTyped([1, 2]));
expectType<[Float64Array, Float64Array]>(Incr_fn_supertrend_a392d5.make(ctx).collectTyped([1, 2], 3, 10));

// Friendly names: the same classes, on the main export and from barwise/indicators
const byName: typeof Incr_fn_sma_059403 = barwise.indicators.sma;
expectType<typeof Incr_fn_sma_059403>(friendly.sma);
expectType<[number, number]>(barwise.indicators.stoch.make(ctx).next(14, 3, 3));
expectType<[number, number, number, number, number][]>(friendly.ichimoku.make(ctx).collect());
expectType<[number, number, number]>(friendly.vwap.make(ctx).next(1, NodeTimeframe.Hours(4), 2));
expectType<[number, number, number]>(friendly.vwap.make(ctx).next(1));
expectType<number>(friendly.pivothigh.make(ctx).next(1, 2, 2));

// Mistakes that must not compile.
// @ts-expect-error: timeframes come from the static factories only
new NodeTimeframe();
// @ts-expect-error: indicator instances come from make(ctx)
new Incr_fn_sma_059403();
// @ts-expect-error: make takes a context, not a series
Incr_fn_sma_059403.make(ohlcv);
// @ts-expect-error: sizes are numbers
NodeSignal.Size('1');
// @ts-expect-error: the counter is a bigint
const wins: number = bt.winningTradesCount();
// @ts-expect-error: winningTradesCount is a method, not a counter
const winsField: bigint = bt.winningTradesCount;
// @ts-expect-error: at() may return null
ohlcv.at(0).close;
// @ts-expect-error: the direction of supertrend may be null
const direction: number = Incr_fn_supertrend_a392d5.make(ctx).next(1, 3, 10)[1];
// @ts-expect-error: JSON prices are numbers, not texts
NodeOhlcvBar.fromJSON({ open: '1' });
// @ts-expect-error: collect takes a list where next takes a number
sma.collect(1, 5);
// @ts-expect-error: the bar of a context is read-only
ctx.bar = bar;
// @ts-expect-error: a crossing is a boolean or null, not a number
const crossed: number = Incr_fn_crossover_94210a.make(ctx).next(1, 2);
// @ts-expect-error: metrics take a Float64Array, not a plain array
barwise.mean([1, 2, 3]);
// @ts-expect-error: a symbol's kind in JSON is a text
NodeSym.fromJSON({ kind: null });
// @ts-expect-error: friendly names are the indicators' own names, not class names
friendly.Incr_fn_sma_059403;
// @ts-expect-error: the vwap anchor is a timeframe, not a text
friendly.vwap.make(ctx).next(1, '1D');

export { it, wins, winsField, direction, crossed, byName };
