'use strict';
// Resampling: one-minute bars into hourly bars. With align = true the hours are calendar buckets
// (09:00, 10:00, ...); with align = false each window starts at the first bar it holds.
const { NodeOhlcv, NodeOhlcvBar, NodeTimeframe } = require('barwise');

// Three days of made-up minute bars from 2024-03-01 00:00 UTC: a slow wave plus a small wobble.
const start = Date.UTC(2024, 2, 1);
const minutes = new NodeOhlcv();
minutes.timeframe = NodeTimeframe.Minutes(1);
let price = 100;
for (let m = 0; m < 3 * 24 * 60; m++) {
  const open = price;
  price = 100 + 5 * Math.sin(m / 240) + 0.3 * Math.sin(m * 0.7);
  const high = Math.max(open, price) + 0.05;
  const low = Math.min(open, price) - 0.05;
  const t = start + m * 60_000;
  minutes.push(new NodeOhlcvBar(new Date(t), new Date(t + 60_000), open, high, low, price, 10 + (m % 7)));
}

const hours = minutes.resample(NodeTimeframe.Hours(1), true);
const fourHours = minutes.resample(NodeTimeframe.Hours(4), true);
console.log(`${minutes.length} bars of ${minutes.timeframe} -> ${hours.length} bars of ${hours.timeframe}, ${fourHours.length} bars of ${fourHours.timeframe}`);
for (const bar of hours.head(3).bars) {
  const t = bar.openTime?.toISOString().slice(11, 16);
  const c = bar.closeTime?.toISOString().slice(11, 16);
  console.log(`${t}-${c}  open ${bar.open.toFixed(2)}  high ${bar.high.toFixed(2)}  low ${bar.low.toFixed(2)}  close ${bar.close.toFixed(2)}  volume ${bar.volume}`);
}
