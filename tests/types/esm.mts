// The ES module entry: the same named exports as the CommonJS one, and the add-on as default.
import barwise, { NodeOhlcv, NodeTimeframe, Incr_fn_rsi_4196b9 } from 'barwise';
import * as named from 'barwise';

const series: NodeOhlcv = new NodeOhlcv();
series.timeframe = NodeTimeframe.fromString('15m');
const version: string = barwise._getCoreVersion();
const rsi: typeof Incr_fn_rsi_4196b9 = barwise.Incr_fn_rsi_4196b9;
const same: typeof barwise = named.default;
// @ts-expect-error: the ES module entry exports no names beyond the add-on's own
import { NodeSeries } from 'barwise';
// Friendly names from barwise/indicators: named exports and the default object.
import indicators, { sma, macd_full } from 'barwise/indicators';
import { indicators as fromMain } from 'barwise';

const smaClass: typeof barwise.Incr_fn_sma_059403 = sma;
const viaDefault: typeof barwise.Incr_fn_ema_7bc747 = indicators.ema;
const viaMain: typeof barwise.Incr_fn_ema_7bc747 = fromMain.ema;
const macdRow: [number, number, number] = macd_full.make(new barwise.NodeCtx()).next(1);
// @ts-expect-error: barwise/indicators has no names beyond the indicators
import { NodeOhlcv as notAnIndicator } from 'barwise/indicators';

export { series, version, rsi, same, NodeSeries, smaClass, viaDefault, viaMain, macdRow, notAnIndicator };
