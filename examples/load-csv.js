'use strict';
// Loading bars from a CSV file in one native call, with a progress bar: no Date and no bar object
// is made per row on the way in. The timeframe is then read off the spacing of the open times,
// taken from the typed columns that `toColumns` hands back.
//
//   node examples/load-csv.js [file.csv]   (default: the bundled data/btcusd-1h.csv)
//
// The file needs a header naming the open time (open_time, time, timestamp, date, ...) and open,
// high, low, close, and optionally volume and close_time; times may be ISO 8601 text or
// milliseconds or seconds since the epoch. See docs/loaders.md for the options.
const path = require('node:path');
const { NodeOhlcv, NodeTimeframe } = require('barwise');

const file = process.argv[2] || path.join(__dirname, '..', 'data', 'btcusd-1h.csv');
const WIDTH = 30;

// The bar goes to standard error, redrawn in place on a terminal and written once at the end
// elsewhere, so that standard output keeps only the results.
/** @param {number} done @param {number} total */
function drawProgress(done, total) {
  const share = total === 0 ? 1 : done / total;
  const filled = Math.round(share * WIDTH);
  const line = `[${'#'.repeat(filled)}${'-'.repeat(WIDTH - filled)}] ${(share * 100).toFixed(0).padStart(3)}%  ${done}/${total} rows`;
  if (process.stderr.isTTY) process.stderr.write(`\r${line}${done === total ? '\n' : ''}`);
  else if (done === total) process.stderr.write(`${line}\n`);
}

const started = process.hrtime.bigint();
const series = NodeOhlcv.fromCsvFile(file, { sorted: true, onProgress: drawProgress });
const ms = Number(process.hrtime.bigint() - started) / 1e6;

const { openTime, close } = series.toColumns();
if (openTime.length > 1) series.timeframe = NodeTimeframe.fromDurationS((openTime[1] - openTime[0]) / 1000);

console.log(`loaded ${series.length} bars of ${series.timeframe} from ${path.basename(file)} in ${ms.toFixed(1)} ms`);
console.log(`first: ${series.at(0)}`);
console.log(`last:  ${series.at(-1)}`);
let sum = 0;
for (const c of close) sum += c;
console.log(`mean close: ${(sum / close.length).toFixed(2)}`);
