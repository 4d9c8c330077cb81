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

export { series, version, rsi, same, NodeSeries };
