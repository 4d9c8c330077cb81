'use strict';
// Writes the bundled sample series: synthetic hourly BTC/USD bars over two calendar years.
// The walk is seeded, so running this again reproduces data/btcusd-1h.csv byte for byte.
//
//   node scripts/gen-bars.js [output path]
//
// Prices follow a geometric random walk whose drift and volatility switch between calm, trending
// and turbulent regimes every few weeks; each hour is simulated in twelve sub-steps so that the
// high and low are the extremes of a path rather than noise around the close. Prices sit on the
// 1.0 tick of the BTC_USD preset, volumes on a 0.0001 grid, and volume follows the hour of the day.
//
// Only +, -, *, / and sqrt are used (no exp, log or cos, whose last bit may differ between
// math libraries), so every IEEE 754 platform writes the same bytes.
const fs = require('node:fs');
const path = require('node:path');

const SEED = 9; // chosen for a path that climbs from 16.6k to about 65k with deep pull-backs
const START = Date.UTC(2023, 0, 1); // 2023-01-01T00:00:00Z
const END = Date.UTC(2025, 0, 1); // exclusive: the last bar opens 2024-12-31T23:00:00Z
const HOUR_MS = 3600 * 1000;
const SUB_STEPS = 12;
const START_PRICE = 16500;

// mulberry32: a small 32-bit generator built from integer operations only.
function mulberry32(seed) {
  let a = seed >>> 0;
  return () => {
    a = (a + 0x6d2b79f5) >>> 0;
    let t = a;
    t = Math.imul(t ^ (t >>> 15), t | 1);
    t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
    return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
  };
}

// A standard normal draw as the sum of twelve uniforms minus six (mean 0, variance 1).
function gaussian(next) {
  let sum = -6;
  for (let k = 0; k < 12; k++) sum += next();
  return sum;
}

// e^x for the small per-step moves of the walk (|x| well below 0.01), to third order.
const growth = (x) => 1 + x * (1 + x * (0.5 + x / 6));

// Per-hour drift and volatility of each regime (log returns).
const REGIMES = [
  { drift: 0.00002, vol: 0.0035 }, // calm
  { drift: 0.00035, vol: 0.0055 }, // rally
  { drift: -0.0003, vol: 0.0065 }, // sell-off
  { drift: 0.0, vol: 0.011 }, // turbulent range
];

function generate() {
  const next = mulberry32(SEED);
  const rows = ['open_time,open,high,low,close,volume'];
  let price = START_PRICE;
  let regime = 0;
  let regimeLeft = 0;
  for (let t = START; t < END; t += HOUR_MS) {
    if (regimeLeft <= 0) {
      regime = Math.floor(next() * REGIMES.length);
      regimeLeft = 24 * (7 + Math.floor(next() * 35)); // one to six weeks
    }
    regimeLeft -= 1;
    const { drift, vol } = REGIMES[regime];

    const open = Math.round(price);
    let p = price;
    let high = p;
    let low = p;
    const stepVol = vol / Math.sqrt(SUB_STEPS);
    for (let k = 0; k < SUB_STEPS; k++) {
      p *= growth(drift / SUB_STEPS + stepVol * gaussian(next));
      if (p > high) high = p;
      if (p < low) low = p;
    }
    price = p;
    const close = Math.round(p);
    const hi = Math.max(Math.round(high), open, close);
    const lo = Math.min(Math.round(low), open, close);

    // Busier during the European and American sessions, and when the hour moved a lot.
    const hour = new Date(t).getUTCHours();
    const fromPeak = (hour - 15) / 5;
    const session = 0.7 + 0.6 / (1 + fromPeak * fromPeak);
    const move = Math.abs(p / Math.max(open, 1) - 1) / vol;
    const volume = (40 + 160 * next()) * session * (1 + 0.5 * move);

    rows.push(`${new Date(t).toISOString().replace('.000Z', 'Z')},${open},${hi},${lo},${close},${volume.toFixed(4)}`);
  }
  return rows.join('\n') + '\n';
}

if (require.main === module) {
  const out = process.argv[2] || path.join(__dirname, '..', 'data', 'btcusd-1h.csv');
  const text = generate();
  fs.writeFileSync(out, text);
  console.log(`wrote ${text.split('\n').length - 2} bars to ${path.relative(process.cwd(), out)}`);
}

module.exports = { generate, mulberry32 };
