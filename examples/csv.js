'use strict';
// Loading bars from a CSV file: a short reader turns the rows into columns, `zipOhlcvBars` turns
// the columns into bars and `NodeOhlcv.fromBars` makes the series. The timeframe is taken from
// the spacing of the first two bars.
//
//   node examples/csv.js [file.csv]   (default: the bundled data/btcusd-1h.csv)
//
// The file needs a header row naming open_time (ISO 8601 text or milliseconds since the epoch)
// and open, high, low, close, volume, in any order; a close_time column is used when present.
const fs = require('node:fs');
const path = require('node:path');
const { NodeOhlcv, NodeTimeframe, zipOhlcvBars } = require('barwise');

/** @param {string} text */
const toDate = (text) => new Date(/^\d+$/.test(text) ? Number(text) : Date.parse(text));

/** @param {string} file */
function readCsv(file) {
  const [header, ...rows] = fs.readFileSync(file, 'utf8').trim().split(/\r?\n/);
  const names = header.split(',').map((h) => h.trim().toLowerCase());
  /** @param {string} name */
  const col = (name) => {
    const k = names.indexOf(name);
    return k < 0 ? null : rows.map((r) => r.split(',')[k].trim());
  };
  const openTime = col('open_time');
  if (!openTime) throw new Error(`${file}: no open_time column`);
  /** @param {string} name */
  const numbers = (name) => col(name)?.map(Number) ?? null;
  const closeTime = col('close_time');
  const bars = zipOhlcvBars(
    openTime.map(toDate),
    closeTime ? closeTime.map(toDate) : null,
    numbers('open'),
    numbers('high'),
    numbers('low'),
    numbers('close'),
    numbers('volume'),
  );
  const series = NodeOhlcv.fromBars(bars);
  const [t0, t1] = series.openTime;
  if (t0 && t1) series.timeframe = NodeTimeframe.fromDurationS((t1.getTime() - t0.getTime()) / 1000);
  return series;
}

const file = process.argv[2] || path.join(__dirname, '..', 'data', 'btcusd-1h.csv');
const series = readCsv(file);
console.log(`loaded ${series.length} bars of ${series.timeframe} from ${path.basename(file)}`);
console.log(`first: ${series.at(0)}`);
console.log(`last:  ${series.at(-1)}`);
