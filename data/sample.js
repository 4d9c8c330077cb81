'use strict';
// The bundled sample series: synthetic hourly BTC/USD bars from 2023-01-01 to 2024-12-31 (UTC),
// made by scripts/gen-bars.js for the BTC_USD preset symbol (tick 1, minimum quantity 0.000001).
const fs = require('node:fs');
const path = require('node:path');
const { NodeOhlcv, NodeSym, NodeTimeframe, zipOhlcvBars } = require('barwise');

const SAMPLE_CSV = path.join(__dirname, 'btcusd-1h.csv');
const HOUR_MS = 3600 * 1000;

/**
 * The sample as columns: open times, close times (one hour later) and the five numbers.
 * @returns {{ openTime: Date[], closeTime: Date[], open: number[], high: number[], low: number[], close: number[], volume: number[] }}
 */
function sampleColumns() {
  const lines = fs.readFileSync(SAMPLE_CSV, 'utf8').split('\n');
  /** @type {ReturnType<typeof sampleColumns>} */
  const cols = { openTime: [], closeTime: [], open: [], high: [], low: [], close: [], volume: [] };
  for (let i = 1; i < lines.length; i++) {
    if (!lines[i]) continue;
    const [time, open, high, low, close, volume] = lines[i].split(',');
    const t = Date.parse(time);
    cols.openTime.push(new Date(t));
    cols.closeTime.push(new Date(t + HOUR_MS));
    cols.open.push(Number(open));
    cols.high.push(Number(high));
    cols.low.push(Number(low));
    cols.close.push(Number(close));
    cols.volume.push(Number(volume));
  }
  return cols;
}

/**
 * The sample as a series with its timeframe set, and the symbol it was made for.
 * @returns {{ ohlcv: import('barwise').NodeOhlcv, sym: import('barwise').NodeSym }}
 */
function loadSample() {
  const c = sampleColumns();
  const ohlcv = NodeOhlcv.fromBars(zipOhlcvBars(c.openTime, c.closeTime, c.open, c.high, c.low, c.close, c.volume));
  ohlcv.timeframe = NodeTimeframe.Hours(1);
  return { ohlcv, sym: NodeSym.BTC_USD() };
}

module.exports = { SAMPLE_CSV, sampleColumns, loadSample };
