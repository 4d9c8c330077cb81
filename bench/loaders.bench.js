'use strict';
// The bulk loaders on 1,000,000 one-minute bars: CSV text and files (ISO 8601 and epoch times),
// typed columns, exchange rows, and toColumns back out, beside the JavaScript loop they replace
// (split the lines, a Date per row, zipOhlcvBars, fromBars). Prints the median of a few runs:
// wall and CPU milliseconds, nanoseconds per row and, for text, megabytes per second.
//
//   node --expose-gc bench/loaders.bench.js [rows] [runs]
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { NodeOhlcv, zipOhlcvBars } = require('..');

const N = Number(process.argv[2]) || 1_000_000;
const RUNS = Number(process.argv[3]) || 5;

const median = (xs) => [...xs].sort((a, b) => a - b)[Math.floor(xs.length / 2)];

function bench(name, bytes, body) {
  const wall = [];
  const cpu = [];
  for (let r = 0; r < RUNS; r++) {
    if (global.gc) global.gc();
    const c0 = process.cpuUsage();
    const t0 = process.hrtime.bigint();
    const out = body();
    wall.push(Number(process.hrtime.bigint() - t0) / 1e6);
    const c = process.cpuUsage(c0);
    cpu.push((c.user + c.system) / 1e3);
    if (out.length !== N) throw new Error(`${name}: ${out.length} bars`);
  }
  const w = median(wall);
  const c = median(cpu);
  // Per row and per megabyte by both clocks: on a busy machine the CPU time is the steadier.
  const rate = bytes ? `${(bytes / 1e6 / (w / 1e3)).toFixed(0).padStart(5)} MB/s ${(bytes / 1e6 / (c / 1e3)).toFixed(0).padStart(5)} MB/s` : '';
  console.log(`${name.padEnd(40)} ${w.toFixed(1).padStart(8)} ms ${c.toFixed(1).padStart(8)} ms ` +
    `${((w * 1e6) / N).toFixed(0).padStart(6)} ${((c * 1e6) / N).toFixed(0).padStart(6)} ns/row ${rate}`);
}

// A random walk of one-minute bars.
const t0 = Date.UTC(2020, 0, 1);
const cols = {
  openTime: new Float64Array(N), open: new Float64Array(N), high: new Float64Array(N),
  low: new Float64Array(N), close: new Float64Array(N), volume: new Float64Array(N),
};
let price = 100;
for (let i = 0; i < N; i++) {
  const next = price * (1 + (((i * 7919) % 201) - 100) / 100000);
  cols.openTime[i] = t0 + i * 60000;
  cols.open[i] = +price.toFixed(2);
  cols.high[i] = +(Math.max(price, next) * 1.0005).toFixed(2);
  cols.low[i] = +(Math.min(price, next) * 0.9995).toFixed(2);
  cols.close[i] = +next.toFixed(2);
  cols.volume[i] = 10 + (i % 17) + 0.25;
  price = next;
}
const row = (i, time) => `${time},${cols.open[i]},${cols.high[i]},${cols.low[i]},${cols.close[i]},${cols.volume[i]}`;
const lines = (time) => Array.from({ length: N }, (_, i) => row(i, time(cols.openTime[i]))).join('\n');
const isoText = `open_time,open,high,low,close,volume\n${lines((ms) => new Date(ms).toISOString())}\n`;
const msText = `${lines((ms) => ms)}\n`;
const rows = Array.from({ length: N }, (_, i) => [cols.openTime[i], cols.open[i], cols.high[i], cols.low[i], cols.close[i], cols.volume[i]]);
const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'barwise-bench-'));
const file = path.join(dir, 'bars.csv');
fs.writeFileSync(file, isoText);

const [load1] = os.loadavg();
console.log(`${N} rows, median of ${RUNS} runs; load average ${load1.toFixed(2)} on ${os.cpus().length} cores`);
console.log('each figure by the wall clock, then by the process\'s CPU time');
console.log(`CSV text: ${(isoText.length / 1e6).toFixed(1)} MB with ISO 8601 times, ${(msText.length / 1e6).toFixed(1)} MB with epoch milliseconds`);
bench('fromCsv, ISO 8601 times', isoText.length, () => NodeOhlcv.fromCsv(isoText));
bench('fromCsv, epoch ms, no header', msText.length, () => NodeOhlcv.fromCsv(msText, { header: false }));
let reports = 0;
bench('fromCsv, ISO 8601, onProgress', isoText.length, () => NodeOhlcv.fromCsv(isoText, { onProgress: () => reports++ }));
bench('fromCsvFile, ISO 8601 times', isoText.length, () => NodeOhlcv.fromCsvFile(file));
bench('fromColumns, Float64Array', 0, () => NodeOhlcv.fromColumns(cols));
const ns = BigInt64Array.from(cols.openTime, (ms) => BigInt(ms) * 1_000_000n);
bench('fromColumns, BigInt64Array times', 0, () => NodeOhlcv.fromColumns({ ...cols, openTime: ns }));
bench('fromExchangeRows, "1m"', 0, () => NodeOhlcv.fromExchangeRows(rows, '1m'));
const series = NodeOhlcv.fromColumns(cols);
bench('toColumns', 0, () => series.toColumns().open);
bench('JavaScript loop, zipOhlcvBars, fromBars', isoText.length, () => {
  const split = isoText.trim().split('\n').slice(1).map((l) => l.split(','));
  const num = (k) => split.map((r) => Number(r[k]));
  return NodeOhlcv.fromBars(zipOhlcvBars(split.map((r) => new Date(r[0])), null, num(1), num(2), num(3), num(4), num(5)));
});
console.log(`(onProgress was called ${reports / RUNS} times per load)`);
fs.rmSync(dir, { recursive: true, force: true });
