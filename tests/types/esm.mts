// The ES module entry has the same declarations as the CommonJS one.
import barwise, { NodeOhlcv, NodeTimeframe, Incr_fn_rsi_4196b9 } from 'barwise';

const series: NodeOhlcv = new NodeOhlcv();
series.timeframe = NodeTimeframe.fromString('15m');
const version: string = barwise._getCoreVersion();
const rsi: typeof Incr_fn_rsi_4196b9 = barwise.Incr_fn_rsi_4196b9;
// @ts-expect-error: the ES module entry exports no names beyond the add-on's own
import { NodeSeries } from 'barwise';

export { series, version, rsi, NodeSeries };
