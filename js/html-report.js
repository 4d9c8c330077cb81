'use strict';
// The browser report of a backtest: one self-contained HTML page with the price and every fill
// marked, the equity and drawdown curves, the figures and the trade table. The charting library
// is inlined, so the page opens from disk with no network, and a content security policy that
// admits only the page's own scripts (by hash) keeps anything a user string smuggles in inert.
const fs = require('node:fs');
const path = require('node:path');
const crypto = require('node:crypto');

const CHART_PACKAGE = 'lightweight-charts';
const CHART_HOME = 'https://www.tradingview.com/';
const DEFAULT_MAX_POINTS = 20000;
const OPTION_NAMES = ['title', 'path', 'maxPoints', 'priceStyle'];
// Above this many trades the markers drop their labels: a forest of text hides the price.
const LABELLED_TRADES = 12;

/** @param {string} message */
function invalidArg(message) {
  return Object.assign(new Error(message), { code: 'InvalidArg' });
}

// ---------------------------------------------------------------------------------------------
// Escaping

const HTML_ESCAPES = { '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;', "'": '&#39;' };

/** Text for an HTML element body or a quoted attribute value. */
function escapeHtml(value) {
  return String(value).replace(/[&<>"']/g, (c) => HTML_ESCAPES[c]);
}

/**
 * JSON that may sit inside a <script> element: no `<`, `>` or `&` (so no `</script>` or `<!--`)
 * and no line or paragraph separator (which older script parsers end a string at).
 */
function jsonForScript(value) {
  return JSON.stringify(value).replace(/[<>&\u2028\u2029]/g, (c) => `\\u${c.charCodeAt(0).toString(16).padStart(4, '0')}`);
}

// ---------------------------------------------------------------------------------------------
// The charting library, read once

let chartLibrary = null;

function loadChartLibrary() {
  if (chartLibrary) return chartLibrary;
  const pkgFile = require.resolve(`${CHART_PACKAGE}/package.json`);
  const pkg = JSON.parse(fs.readFileSync(pkgFile, 'utf8'));
  const file = path.join(path.dirname(pkgFile), 'dist', 'lightweight-charts.standalone.production.js');
  // The bundle holds no `</script`; the replacement keeps it that way should a later one do so.
  const code = fs.readFileSync(file, 'utf8').replace(/<\/(script)/gi, '<\\/$1');
  // The bundle's own licence header names the copyright holder and year; it stays in the code.
  const copyright = (code.match(/Copyright \(c\) [^\n*]*/) || [`Copyright (c) ${pkg.author}`])[0].trim();
  chartLibrary = { code, version: pkg.version, license: pkg.license, copyright };
  return chartLibrary;
}

// ---------------------------------------------------------------------------------------------
// Options

function readOptions(options) {
  if (options === undefined || options === null) options = {};
  if (typeof options !== 'object' || Array.isArray(options)) throw invalidArg('toHtml: options must be an object');
  for (const key of Object.keys(options))
    if (!OPTION_NAMES.includes(key)) throw invalidArg(`toHtml: unknown option "${key}"`);
  const { title, path: file, maxPoints, priceStyle } = options;
  if (title != null && typeof title !== 'string') throw invalidArg('toHtml: title must be a string');
  if (file != null && (typeof file !== 'string' || file === '')) throw invalidArg('toHtml: path must be a non-empty string');
  if (maxPoints != null && !(Number.isInteger(maxPoints) && maxPoints >= 2))
    throw invalidArg('toHtml: maxPoints must be an integer of at least 2');
  if (priceStyle != null && priceStyle !== 'candles' && priceStyle !== 'line')
    throw invalidArg('toHtml: priceStyle must be "candles" or "line"');
  return { title: title ?? null, path: file ?? null, maxPoints: maxPoints ?? DEFAULT_MAX_POINTS, priceStyle: priceStyle ?? 'candles' };
}

// ---------------------------------------------------------------------------------------------
// Numbers and times as the page shows them

const finite = (x) => typeof x === 'number' && Number.isFinite(x);

function fixed(x, digits) {
  if (typeof x === 'bigint') return x.toString();
  if (!finite(x)) return 'n/a';
  const text = Math.abs(x).toLocaleString('en-US', { minimumFractionDigits: digits, maximumFractionDigits: digits });
  return (x < 0 && Number(text.replace(/,/g, '')) !== 0 ? '-' : '') + text;
}

const money = (x, currency) => (finite(x) ? `${fixed(x, 2)}${currency ? ` ${currency}` : ''}` : 'n/a');
const percent = (x) => (finite(x) ? `${fixed(x * 100, 2)} %` : 'n/a');

// A price at the symbol's tick precision, so a 0.0001 tick shows four decimals.
function priceDigits(minTick) {
  if (!finite(minTick) || minTick <= 0) return 2;
  return Math.min(8, Math.max(0, Math.ceil(-Math.log10(minTick) - 1e-9)));
}

function timeText(ms, withTime) {
  if (!finite(ms)) return '';
  const iso = new Date(ms).toISOString();
  return withTime ? `${iso.slice(0, 10)} ${iso.slice(11, 16)}` : iso.slice(0, 10);
}

// A time from a trade row: a Date, milliseconds or RFC 3339 text.
function rowTimeMs(value) {
  if (value instanceof Date) return value.getTime();
  if (typeof value === 'number') return value;
  if (typeof value === 'string') {
    const ms = Date.parse(value);
    return Number.isNaN(ms) ? null : ms;
  }
  return null;
}

// ---------------------------------------------------------------------------------------------
// What the backtest holds

// The bars the backtest ran over: its equity list has one entry per bar, the newest for the
// context's current bar. With no entry yet the whole series is shown.
function barRange(ctx, equityCount, length) {
  if (length === 0) return { first: 0, last: -1 };
  if (equityCount === 0 || !ctx.isInitialized) return { first: 0, last: length - 1 };
  const last = Math.min(ctx.barIndex, length - 1);
  return { first: Math.max(0, last - equityCount + 1), last };
}

// Peak-to-trough decline of an equity list: per entry the fraction below the running peak, and
// the deepest point as an amount and a fraction.
function drawdowns(equity) {
  const fractions = new Array(equity.length).fill(NaN);
  let peak = -Infinity;
  let worst = { amount: 0, fraction: 0 };
  equity.forEach((e, i) => {
    if (!finite(e)) return;
    if (e > peak) peak = e;
    const amount = peak - e;
    fractions[i] = peak > 0 ? -amount / peak : 0;
    if (amount > worst.amount) worst = { amount, fraction: peak > 0 ? amount / peak : NaN };
  });
  return { fractions, maxAmount: worst.amount, maxFraction: worst.fraction };
}

const pick = (row, ...keys) => {
  for (const k of keys) if (row[k] !== undefined && row[k] !== null) return row[k];
  return null;
};

function directionText(value, size) {
  if (typeof value === 'string') return /^s/i.test(value) ? 'Short' : 'Long';
  if (typeof value === 'number') return value < 0 ? 'Short' : 'Long';
  if (value && typeof value.toNumber === 'function') return value.toNumber() < 0 ? 'Short' : 'Long';
  return size >= 0 ? 'Long' : 'Short';
}

// One trade row from a plain object, whichever of the usual key spellings it uses.
function normaliseRow(row) {
  const size = pick(row, 'size');
  const entryPrice = pick(row, 'entry_price', 'entryPrice');
  const exitPrice = pick(row, 'exit_price', 'exitPrice');
  return {
    // The order tag of the entry where the row carries one; `id` alone may be a running number.
    id: 'entry_id' in row || 'entryId' in row ? pick(row, 'entry_id', 'entryId') : pick(row, 'id'),
    direction: directionText(pick(row, 'direction', 'side'), size),
    size,
    entryBar: pick(row, 'entry_bar_index', 'entryBarIndex'),
    entryTime: rowTimeMs(pick(row, 'entry_time', 'entryTime')),
    entryPrice,
    exitBar: pick(row, 'exit_bar_index', 'exitBarIndex'),
    exitTime: rowTimeMs(pick(row, 'exit_time', 'exitTime')),
    exitPrice,
    pnl: pick(row, 'pnl', 'profit'),
    returnFraction: pick(row, 'return_pct', 'returnPct', 'return_fraction', 'returnFraction', 'return'),
    commission: pick(row, 'commission'),
    bars: pick(row, 'duration_bars', 'durationBars', 'bars'),
    mae: pick(row, 'mae', 'MAE'),
    mfe: pick(row, 'mfe', 'MFE'),
    highest: pick(row, 'highest_price', 'highestPrice'),
    lowest: pick(row, 'lowest_price', 'lowestPrice'),
    comment: pick(row, 'comment', 'entry_comment', 'entryComment'),
    open: exitPrice === null && pick(row, 'exit_bar_index', 'exitBarIndex') === null,
  };
}

// The row of a trade object, from its events and the time of a fill on each bar.
function rowFromTrade(trade, fillTimes) {
  const { entry, exit, size, pnl } = trade;
  const time = (ev) => (ev ? fillTimes[ev.fillBarIndex]?.getTime() ?? null : null);
  const notional = entry ? Math.abs(size) * entry.price : NaN;
  return {
    id: entry?.id ?? exit?.id ?? null,
    direction: size >= 0 ? 'Long' : 'Short',
    size,
    entryBar: entry ? entry.fillBarIndex : null,
    entryTime: time(entry),
    entryPrice: entry ? entry.price : null,
    exitBar: exit ? exit.fillBarIndex : null,
    exitTime: time(exit),
    exitPrice: exit ? exit.price : null,
    pnl,
    returnFraction: notional > 0 ? pnl / notional : null,
    commission: null,
    bars: entry && exit ? exit.fillBarIndex - entry.fillBarIndex : null,
    mae: null,
    mfe: null,
    highest: null,
    lowest: null,
    comment: entry?.comment ?? null,
    open: !exit,
  };
}

// Trades in the order they were entered: the backtest's own plain rows when it offers them,
// else rows built from the trade objects. `fillTimes` holds the time of a fill on each bar.
function tradeRows(bt, closed, open, fillTimes) {
  let rows = null;
  if (typeof bt.trades === 'function') rows = bt.trades();
  else {
    const all = [...closed, ...open];
    if (all.every((t) => typeof t.toJSON === 'function')) rows = all.map((t) => t.toJSON());
  }
  const table = rows
    ? Array.from(rows, (r) => {
        const row = normaliseRow(r);
        if (row.entryTime === null && row.entryBar !== null) row.entryTime = fillTimes[row.entryBar]?.getTime() ?? null;
        if (row.exitTime === null && row.exitBar !== null) row.exitTime = fillTimes[row.exitBar]?.getTime() ?? null;
        return row;
      })
    : [...closed, ...open].map((t) => rowFromTrade(t, fillTimes));
  const key = (r) => (r.entryBar ?? r.entryTime ?? Infinity);
  return table.map((r, i) => [r, i]).sort((a, b) => key(a[0]) - key(b[0]) || a[1] - b[1]).map(([r]) => r);
}

// Figures read from the backtest's members, for a backtest without a summary of its own.
const MEMBER_FIGURES = [
  ['netProfit', 'Net profit'],
  ['netProfitPct', 'Net profit %'],
  ['grossProfit', 'Gross profit'],
  ['grossLoss', 'Gross loss'],
  ['openProfit', 'Open profit'],
  ['winningTradesCount', 'Winning trades', true],
  ['losingTradesCount', 'Losing trades'],
  ['winRate', 'Win rate'],
  ['profitFactor', 'Profit factor'],
  ['avgTrade', 'Average trade'],
  ['avgWinningTrade', 'Average winning trade'],
  ['avgLosingTrade', 'Average losing trade'],
  ['avgWinLossRatio', 'Average win / average loss'],
  ['sharpeRatio', 'Sharpe ratio', true],
  ['sortinoRatio', 'Sortino ratio', true],
  ['expectancy', 'Expectancy', true],
];

const WORDS = { pct: '%', avg: 'average', pnl: 'P&L', cagr: 'CAGR', mae: 'MAE', mfe: 'MFE', qty: 'quantity' };

// "netProfitPct" and "net_profit_pct" both read "Net profit %".
function labelOf(key) {
  const words = key
    .replace(/([a-z0-9])([A-Z])/g, '$1 $2')
    .split(/[\s_.]+/)
    .filter(Boolean)
    .map((w) => WORDS[w.toLowerCase()] ?? w.toLowerCase());
  const text = words.join(' ');
  return text.charAt(0).toUpperCase() + text.slice(1);
}

// How a figure reads, from its name: fractions as percentages, ratios with three decimals,
// counts as integers, amounts of money with the currency.
function formatFigure(key, value, currency) {
  if (value === null || value === undefined) return 'n/a';
  if (typeof value === 'bigint') return value.toString();
  if (typeof value === 'boolean') return value ? 'yes' : 'no';
  if (value instanceof Date) return timeText(value.getTime(), true);
  if (typeof value !== 'number') return String(value);
  const k = key.replace(/_/g, '').toLowerCase();
  if (/(pct|percent|fraction|rate|exposure|cagr|return)$/.test(k)) return percent(value);
  if (/(count|trades|bars|duration|index|number)/.test(k)) return Number.isInteger(value) ? String(value) : fixed(value, 1);
  if (/(ratio|factor|sharpe|sortino|expectancy)/.test(k)) return fixed(value, 3);
  if (/(profit|loss|equity|capital|commission|trade|win|drawdown|pnl|paid|amount)/.test(k)) return money(value, currency);
  return fixed(value, 4).replace(/\.?0+$/, '');
}

// A nested figure (a long/short breakdown, a drawdown record) becomes one row per leaf.
function flatten(object, prefix, out) {
  for (const [key, value] of Object.entries(object)) {
    const full = prefix ? `${prefix}.${key}` : key;
    if (value && typeof value === 'object' && !(value instanceof Date) && !Array.isArray(value)) flatten(value, full, out);
    else if (!Array.isArray(value)) out.push([full, value]);
  }
  return out;
}

function figureRows(bt, currency) {
  if (typeof bt.summary === 'function') {
    return flatten(bt.summary(), '', []).map(([key, value]) => {
      const leaf = key.split('.').pop();
      const label = key
        .split('.')
        .map(labelOf)
        .reduce((text, part) => (text === '' ? part : `${text}${part === '%' ? ' ' : ' · '}${part}`), '');
      return { label, value: formatFigure(leaf, value, currency) };
    });
  }
  return MEMBER_FIGURES.map(([key, label, method]) => ({
    label,
    value: formatFigure(key, method ? bt[key]() : bt[key], currency),
  }));
}

// ---------------------------------------------------------------------------------------------
// Chart data

// Bars [first, last] as at most maxPoints chart points: consecutive bars merge into one (first
// open, highest high, lowest low, last close), the equity takes the bucket's last entry and
// the drawdown its deepest, so no trough vanishes.
function chartData(cols, range, equity, netEquity, ddFractions, maxPoints) {
  const count = range.last - range.first + 1;
  const bucket = Math.max(1, Math.ceil(count / maxPoints));
  const points = Math.ceil(Math.max(0, count) / bucket);
  const eqOffset = equity.length - count; // equity entries before the first shown bar
  const ms = cols.openTime.map((d) => (d ? d.getTime() : null));

  // Real times on the axis when every shown point has its own whole second; else the point
  // index, with the times as labels.
  let realTime = points > 0;
  let prev = -Infinity;
  for (let p = 0; p < points && realTime; p++) {
    const t = ms[range.first + p * bucket];
    const s = t === null ? NaN : Math.floor(t / 1000);
    if (!(s > prev)) realTime = false;
    prev = s;
  }

  const round = (x, digits) => (finite(x) ? Number(x.toPrecision(digits)) : null);
  const data = { realTime, bucket, x: [], o: [], h: [], l: [], c: [], eq: [], net: [], dd: [], label: [] };
  for (let p = 0; p < points; p++) {
    const from = range.first + p * bucket;
    const to = Math.min(range.last, from + bucket - 1);
    let high = -Infinity;
    let low = Infinity;
    for (let i = from; i <= to; i++) {
      if (cols.high[i] > high) high = cols.high[i];
      if (cols.low[i] < low) low = cols.low[i];
    }
    data.x.push(realTime ? Math.floor(ms[from] / 1000) : p);
    data.o.push(finite(cols.open[from]) ? cols.open[from] : null);
    data.h.push(finite(high) ? high : null);
    data.l.push(finite(low) ? low : null);
    data.c.push(finite(cols.close[to]) ? cols.close[to] : null);
    data.label.push(ms[from]);
    const e = to - range.first + eqOffset;
    data.eq.push(e >= 0 ? round(equity[e], 12) : null);
    data.net.push(e >= 0 ? round(netEquity[e], 12) : null);
    let deepest = null;
    for (let i = Math.max(0, from - range.first + eqOffset); i <= e; i++)
      if (finite(ddFractions[i]) && (deepest === null || ddFractions[i] < deepest)) deepest = ddFractions[i];
    data.dd.push(deepest === null ? null : round(deepest * 100, 8));
  }
  return data;
}

// Entry and exit markers, on the point that holds each fill bar.
function markerData(trades, range, bucket) {
  const markers = [];
  const labelled = trades.length <= LABELLED_TRADES;
  const point = (bar) => (bar >= range.first && bar <= range.last ? Math.floor((bar - range.first) / bucket) : null);
  for (const t of trades) {
    const long = t.size >= 0;
    const entry = t.entry ? point(t.entry.fillBarIndex) : null;
    if (entry !== null) markers.push({ p: entry, buy: long, kind: 'entry', text: labelled ? (long ? 'Long' : 'Short') : '' });
    const exit = t.exit ? point(t.exit.fillBarIndex) : null;
    if (exit !== null)
      markers.push({ p: exit, buy: !long, kind: t.pnl > 0 ? 'win' : 'loss', text: labelled ? fixed(t.pnl, 2) : '' });
  }
  return markers.sort((a, b) => a.p - b.p);
}

// ---------------------------------------------------------------------------------------------
// The page

function cardHtml(label, value, unit, tone) {
  const small = unit && value !== 'n/a' ? ` <small>${escapeHtml(unit)}</small>` : '';
  return `<div class="card"><div class="card-label">${escapeHtml(label)}</div><div class="card-value ${tone}">${escapeHtml(value)}${small}</div></div>`;
}

const tone = (x, threshold = 0) => (!finite(x) || x === threshold ? '' : x > threshold ? 'up' : 'down');

function tradeTableHtml(rows, currency, digits, withTime) {
  if (rows.length === 0) return '<p class="empty">No trades.</p>';
  const has = (k) => rows.some((r) => r[k] !== null && r[k] !== undefined);
  const price = (x) => (finite(x) ? fixed(x, digits) : '');
  /** @type {[string, string, (r: any) => string, string?][]} */
  const columns = [
    ['#', 'num', (r) => String(r.n)],
    ['ID', '', (r) => (r.id === null ? '' : String(r.id))],
    ['Side', '', (r) => r.direction],
    ['Size', 'num', (r) => (finite(r.size) ? String(Math.abs(r.size)) : '')],
    ['Entry time', '', (r) => timeText(r.entryTime, withTime)],
    ['Entry price', 'num', (r) => price(r.entryPrice)],
    ['Exit time', '', (r) => (r.open ? 'open' : timeText(r.exitTime, withTime))],
    ['Exit price', 'num', (r) => price(r.exitPrice)],
    [`P&L${currency ? ` (${currency})` : ''}`, 'num', (r) => (finite(r.pnl) ? fixed(r.pnl, 2) : ''), 'pnl'],
    ['Return', 'num', (r) => (finite(r.returnFraction) ? percent(r.returnFraction) : ''), 'returnFraction'],
    ['Bars', 'num', (r) => (finite(r.bars) ? String(r.bars) : '')],
  ];
  if (has('commission')) columns.push(['Commission', 'num', (r) => (finite(r.commission) ? fixed(r.commission, 2) : '')]);
  if (has('mae')) columns.push(['MAE', 'num', (r) => (finite(r.mae) ? fixed(r.mae, digits) : '')]);
  if (has('mfe')) columns.push(['MFE', 'num', (r) => (finite(r.mfe) ? fixed(r.mfe, digits) : '')]);
  if (has('highest')) columns.push(['Highest', 'num', (r) => price(r.highest)]);
  if (has('lowest')) columns.push(['Lowest', 'num', (r) => price(r.lowest)]);
  if (has('comment')) columns.push(['Comment', '', (r) => (r.comment === null ? '' : String(r.comment))]);
  const head = columns.map(([name, cls]) => `<th class="${cls}">${escapeHtml(name)}</th>`).join('');
  const body = rows
    .map((r, i) => {
      const row = { ...r, n: i + 1 };
      const cells = columns
        .map(([, cls, cell, signed]) => `<td class="${cls} ${signed ? tone(r[signed]) : ''}">${escapeHtml(cell(row))}</td>`)
        .join('');
      return `<tr class="${r.open ? 'open' : ''}">${cells}</tr>`;
    })
    .join('\n');
  return `<div class="table-wrap"><table class="trades"><thead><tr>${head}</tr></thead><tbody>\n${body}\n</tbody></table></div>`;
}

const STYLE = `
:root { --ink: #0f172a; --muted: #64748b; --line: #e2e8f0; --soft: #f8fafc; --up: #15803d; --down: #b91c1c; }
* { box-sizing: border-box; }
body { margin: 0; background: #f1f5f9; color: var(--ink);
  font: 14px/1.45 system-ui, -apple-system, "Segoe UI", Roboto, Ubuntu, "Helvetica Neue", Arial, sans-serif; }
main { max-width: 1240px; margin: 0 auto; padding: 24px 20px 32px; }
header h1 { margin: 0 0 4px; font-size: 22px; font-weight: 650; }
header p { margin: 0; color: var(--muted); }
section { background: #fff; border: 1px solid var(--line); border-radius: 10px; margin-top: 16px; padding: 16px; }
section h2 { margin: 0 0 12px; font-size: 15px; font-weight: 650; }
.cards { display: grid; grid-template-columns: repeat(auto-fit, minmax(148px, 1fr)); gap: 12px; margin-top: 16px; }
.card { background: #fff; border: 1px solid var(--line); border-radius: 10px; padding: 10px 12px; }
.card-label { color: var(--muted); font-size: 12px; text-transform: uppercase; letter-spacing: .04em; }
.card-value small { font-size: 12px; font-weight: 500; color: var(--muted); }
.card-value { font-size: 18px; overflow-wrap: anywhere; font-weight: 650; margin-top: 2px; font-variant-numeric: tabular-nums; }
.up { color: var(--up); } .down { color: var(--down); }
.legend { display: flex; flex-wrap: wrap; gap: 16px; color: var(--muted); font-size: 12px; margin-bottom: 8px; }
.legend b { font-size: 10px; }
.legend i { display: inline-block; width: 14px; height: 3px; border-radius: 2px; vertical-align: middle; margin-right: 6px; }
#chart { position: relative; height: 760px; }
.figures { display: grid; grid-template-columns: repeat(auto-fill, minmax(340px, 1fr)); column-gap: 28px; }
.figure { display: flex; justify-content: space-between; gap: 12px; padding: 5px 0; border-bottom: 1px solid var(--soft); }
.figure span:first-child { color: var(--muted); }
.figure span:last-child { font-variant-numeric: tabular-nums; text-align: right; }
.table-wrap { max-height: 560px; overflow: auto; border: 1px solid var(--line); border-radius: 8px; }
table.trades { border-collapse: collapse; width: 100%; font-size: 13px; font-variant-numeric: tabular-nums; }
table.trades th { position: sticky; top: 0; background: var(--soft); text-align: left; font-weight: 600;
  padding: 7px 10px; border-bottom: 1px solid var(--line); white-space: nowrap; }
table.trades td { padding: 5px 10px; border-bottom: 1px solid var(--soft); white-space: nowrap; }
table.trades .num { text-align: right; }
table.trades tr.open td { background: #fffbeb; }
.empty { color: var(--muted); margin: 0; }
#report-errors { background: #fef2f2; color: var(--down); border: 1px solid #fecaca; border-radius: 8px;
  padding: 10px 12px; margin-top: 16px; white-space: pre-wrap; }
footer { color: var(--muted); font-size: 12px; margin-top: 18px; }
footer a { color: inherit; }
`;

// Runs before anything else: records every error, failed load and blocked resource, and shows
// them, so a page that cannot draw says why instead of staying blank.
const GUARD_SCRIPT = `(function () {
  var errors = [];
  function record(text) {
    errors.push(String(text));
    var box = document.getElementById('report-errors');
    if (box) { box.hidden = false; box.textContent = errors.join('\\n'); }
    document.documentElement.setAttribute('data-report-errors', String(errors.length));
  }
  window.__reportErrors = errors;
  window.__reportRecord = record;
  window.addEventListener('error', function (e) {
    record(e.message ? 'error: ' + e.message : 'failed to load: ' + ((e.target && (e.target.src || e.target.href)) || 'a resource'));
  }, true);
  window.addEventListener('unhandledrejection', function (e) { record('unhandled rejection: ' + (e.reason && e.reason.message || e.reason)); });
  document.addEventListener('securitypolicyviolation', function (e) { record('blocked by the page policy: ' + e.violatedDirective + ' ' + e.blockedURI); });
  var original = console.error;
  console.error = function () {
    record('console: ' + Array.prototype.map.call(arguments, String).join(' '));
    return original.apply(console, arguments);
  };
})();`;

// Draws the chart from the JSON data element; when done it marks the page ready and records
// which chart panes drew their series, which a headless check reads back from the DOM.
const APP_SCRIPT = `(function () {
  var LC = window.LightweightCharts;
  var MARKER_COLOURS = { long: '#2563eb', short: '#c026d3', win: '#0d9488', loss: '#ea580c' };
  var D = JSON.parse(document.getElementById('report-data').textContent);
  var el = document.getElementById('chart');
  var pad = function (n) { return (n < 10 ? '0' : '') + n; };
  function label(ms, withTime) {
    if (ms === null) return '';
    var d = new Date(ms);
    var day = d.getUTCFullYear() + '-' + pad(d.getUTCMonth() + 1) + '-' + pad(d.getUTCDate());
    return withTime ? day + ' ' + pad(d.getUTCHours()) + ':' + pad(d.getUTCMinutes()) : day;
  }
  var c = D.chart;
  var byIndex = !c.realTime;
  var options = {
    autoSize: true,
    layout: { background: { type: 'solid', color: '#ffffff' }, textColor: '#475569', fontSize: 12,
      attributionLogo: true, panes: { separatorColor: '#e2e8f0', enableResize: true } },
    grid: { vertLines: { color: '#f1f5f9' }, horzLines: { color: '#f1f5f9' } },
    rightPriceScale: { borderColor: '#e2e8f0' },
    timeScale: { borderColor: '#e2e8f0', timeVisible: D.intraday, secondsVisible: false, minBarSpacing: 0.001, rightOffset: 2 },
    crosshair: { mode: 0 },
    localization: { timeFormatter: function (x) { return byIndex ? label(c.label[x], D.intraday) : label(x * 1000, D.intraday); } }
  };
  if (byIndex) options.timeScale.tickMarkFormatter = function (x) { return label(c.label[x], false); };
  var chart = LC.createChart(el, options);
  var priceFormat = { type: 'price', precision: D.priceDigits, minMove: Math.pow(10, -D.priceDigits) };
  var n = c.x.length, i;
  var price;
  if (D.priceStyle === 'candles') {
    price = chart.addSeries(LC.CandlestickSeries, { upColor: '#16a34a', downColor: '#dc2626', wickUpColor: '#16a34a',
      wickDownColor: '#dc2626', borderVisible: false, priceFormat: priceFormat, title: D.symbol }, 0);
    var bars = [];
    for (i = 0; i < n; i++)
      bars.push(c.o[i] === null || c.h[i] === null || c.l[i] === null || c.c[i] === null ? { time: c.x[i] }
        : { time: c.x[i], open: c.o[i], high: c.h[i], low: c.l[i], close: c.c[i] });
    price.setData(bars);
  } else {
    price = chart.addSeries(LC.LineSeries, { color: '#334155', lineWidth: 1, priceFormat: priceFormat, title: D.symbol }, 0);
    price.setData(line(c.c));
  }
  function line(values) {
    var out = [];
    for (var k = 0; k < n; k++) out.push(values[k] === null ? { time: c.x[k] } : { time: c.x[k], value: values[k] });
    return out;
  }
  var markers = D.markers.map(function (m) {
    return { time: c.x[m.p], position: m.buy ? 'belowBar' : 'aboveBar', shape: m.buy ? 'arrowUp' : 'arrowDown',
      color: MARKER_COLOURS[m.kind === 'entry' ? (m.buy ? 'long' : 'short') : m.kind], text: m.text };
  });
  LC.createSeriesMarkers(price, markers);
  var money = { type: 'price', precision: 2, minMove: 0.01 };
  chart.addSeries(LC.LineSeries, { color: '#94a3b8', lineWidth: 1, priceFormat: money, title: 'Realised',
    lastValueVisible: false, priceLineVisible: false }, 1).setData(line(c.net));
  chart.addSeries(LC.LineSeries, { color: '#4f46e5', lineWidth: 2, priceFormat: money, title: 'Equity' }, 1).setData(line(c.eq));
  chart.addSeries(LC.BaselineSeries, { baseValue: { type: 'price', price: 0 }, lineWidth: 1,
    topLineColor: '#e11d48', bottomLineColor: '#e11d48', topFillColor1: 'rgba(220,38,38,0)', topFillColor2: 'rgba(220,38,38,0)',
    bottomFillColor1: 'rgba(225,29,72,0.08)', bottomFillColor2: 'rgba(225,29,72,0.32)', title: 'Drawdown',
    priceFormat: { type: 'custom', minMove: 0.01, formatter: function (v) { return v.toFixed(2) + ' %'; } } }, 2).setData(line(c.dd));
  var panes = chart.panes();
  panes[0].setStretchFactor(3.2);
  panes[1].setStretchFactor(1.6);
  panes[2].setStretchFactor(1.1);
  chart.timeScale().fitContent();

  // A pane counts as drawn when its plot area (its widest canvases) holds its series' colour.
  var PANES = [['price', D.priceStyle === 'candles' ? [22, 163, 74] : [51, 65, 85]], ['equity', [79, 70, 229]], ['drawdown', [225, 29, 72]]];
  function drawnPanes() {
    var drawn = [];
    chart.panes().forEach(function (pane, k) {
      var box = pane.getHTMLElement();
      if (!box || !PANES[k]) return;
      var canvases = Array.prototype.slice.call(box.querySelectorAll('canvas'));
      var widest = Math.max.apply(null, canvases.map(function (cv) { return cv.width; }).concat([0]));
      var rgb = PANES[k][1], hits = 0;
      canvases.forEach(function (cv) {
        if (cv.width !== widest || cv.height === 0) return;
        var px = cv.getContext('2d').getImageData(0, 0, cv.width, cv.height).data;
        for (var q = 0; q < px.length; q += 4)
          if (px[q + 3] > 200 && Math.abs(px[q] - rgb[0]) + Math.abs(px[q + 1] - rgb[1]) + Math.abs(px[q + 2] - rgb[2]) < 40) hits++;
      });
      if (hits >= 20) drawn.push(PANES[k][0]);
    });
    return drawn.join(' ');
  }
  requestAnimationFrame(function () {
    requestAnimationFrame(function () {
      setTimeout(function () {
        var root = document.documentElement;
        root.setAttribute('data-report-drawn', drawnPanes());
        root.setAttribute('data-report-state', 'ready');
      }, 50);
    });
  });
})();`;

const scriptHash = (code) => `'sha256-${crypto.createHash('sha256').update(code, 'utf8').digest('base64')}'`;

function buildPage(bt, opts) {
  const lib = loadChartLibrary();
  const ctx = bt.ctx;
  const sym = ctx.sym;
  const ohlcv = ctx.ohlcv;
  const currency = sym.currency;
  const length = ohlcv.length;
  const equity = bt.equityList;
  const netEquity = bt.netEquityList;
  const range = barRange(ctx, equity.length, length);
  const cols = { openTime: ohlcv.openTime, open: ohlcv.open, high: ohlcv.high, low: ohlcv.low, close: ohlcv.close };
  const dd = drawdowns(equity);
  const closed = bt.closedTrades;
  const open = bt.openTrades;
  const trades = [...closed, ...open];
  // A fill at the close of a bar happened at its close time, when the bar has one.
  const fillTimes = bt.processOrdersOnClose ? ohlcv.closeTime.map((t, i) => t ?? cols.openTime[i]) : cols.openTime;
  const rows = tradeRows(bt, closed, open, fillTimes);
  const digits = priceDigits(sym.minTick);
  const intraday = cols.openTime.some((d) => d && d.getTime() % 86400000 !== 0);

  const chart = chartData(cols, range, equity, netEquity, dd.fractions, opts.maxPoints);
  const priceStyle =
    opts.priceStyle === 'candles' && chart.o.every((v, i) => (v === null) === (chart.c[i] === null) && (v === null || (chart.h[i] !== null && chart.l[i] !== null)))
      ? 'candles'
      : 'line';
  const symbolName = sym.tickerId ?? sym.ticker ?? sym.id ?? '';
  const kind = String(sym.kind);
  const timeframe = String(ohlcv.timeframe);
  const data = {
    chart,
    markers: markerData(trades, range, chart.bucket),
    priceStyle,
    priceDigits: digits,
    intraday,
    symbol: symbolName,
  };

  const title = opts.title ?? (symbolName ? `${symbolName} ${timeframe} backtest` : 'Backtest report');
  const firstTime = cols.openTime[range.first];
  const lastTime = cols.openTime[range.last];
  const shownBars = Math.max(0, range.last - range.first + 1);
  const subtitle = [
    symbolName && `${symbolName}${kind && kind !== 'unknown' ? ` (${kind})` : ''}`,
    timeframe !== '?' && `${timeframe} bars`,
    `${shownBars} bars${firstTime && lastTime ? `, ${timeText(firstTime.getTime(), intraday)} to ${timeText(lastTime.getTime(), intraday)}` : ''}`,
    `initial capital ${money(bt.initialCapital, currency)}`,
    `orders fill at the bar ${bt.processOrdersOnClose ? 'close' : 'open'}`,
    chart.bucket > 1 && `chart: ${chart.bucket} bars per point`,
  ]
    .filter(Boolean)
    .join(' · ');

  const lastEquity = equity.length ? equity[equity.length - 1] : bt.initialCapital;
  const cards = [
    cardHtml('Net profit', fixed(bt.netProfit, 2), currency, tone(bt.netProfit)),
    cardHtml('Return', fixed(bt.netProfitPct * 100, 2), '%', tone(bt.netProfitPct)),
    cardHtml('Max drawdown', fixed(dd.maxFraction * 100, 2), '%', dd.maxAmount > 0 ? 'down' : ''),
    cardHtml('Final equity', fixed(lastEquity, 2), currency, tone(lastEquity, bt.initialCapital)),
    cardHtml('Closed trades', String(closed.length), '', ''),
    cardHtml('Win rate', fixed(bt.winRate * 100, 2), '%', tone(bt.winRate, 0.5)),
    cardHtml('Profit factor', fixed(bt.profitFactor, 3), '', tone(bt.profitFactor, 1)),
  ].join('\n');

  const figures = figureRows(bt, currency);
  if (typeof bt.summary !== 'function') {
    figures.push({ label: 'Max drawdown', value: money(dd.maxAmount, currency) });
    figures.push({ label: 'Max drawdown %', value: percent(dd.maxFraction) });
  }
  const figuresHtml = figures
    .map((f) => `<div class="figure"><span>${escapeHtml(f.label)}</span><span>${escapeHtml(f.value)}</span></div>`)
    .join('\n');

  const dataJson = jsonForScript(data);
  const csp = [
    "default-src 'none'",
    `script-src ${scriptHash(GUARD_SCRIPT)} ${scriptHash(lib.code)} ${scriptHash(APP_SCRIPT)}`,
    "style-src 'unsafe-inline'",
    'img-src data:',
    "base-uri 'none'",
    "form-action 'none'",
  ].join('; ');
  const notice = `TradingView Lightweight Charts\u2122 ${lib.version}, ${lib.copyright}`;

  return `<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta http-equiv="Content-Security-Policy" content="${escapeHtml(csp)}">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>${escapeHtml(title)}</title>
<style>${STYLE}</style>
<script>${GUARD_SCRIPT}</script>
</head>
<body>
<main>
<header>
<h1>${escapeHtml(title)}</h1>
<p>${escapeHtml(subtitle)}</p>
</header>
<pre id="report-errors" hidden></pre>
<div class="cards">
${cards}
</div>
<section>
<div class="legend"><span><b style="color:#2563eb">&#9650;</b> Long entry</span><span><b style="color:#c026d3">&#9660;</b> Short entry</span><span><b style="color:#0d9488">&#9650;&#9660;</b> Exit with a profit</span><span><b style="color:#ea580c">&#9650;&#9660;</b> Exit with a loss</span><span><i style="background:#4f46e5"></i>Equity, marked to market</span><span><i style="background:#94a3b8"></i>Realised equity</span><span><i style="background:#e11d48"></i>Drawdown from the peak</span></div>
<div id="chart"></div>
</section>
<section>
<h2>Figures</h2>
<div class="figures">
${figuresHtml}
</div>
</section>
<section>
<h2>Trades (${rows.length})</h2>
${tradeTableHtml(rows, currency, digits, intraday)}
</section>
<footer>
<p>Made with barwise. Charts: ${escapeHtml(notice)}, licensed under the Apache License ${escapeHtml(lib.license.replace(/^Apache-/, ''))}; <a href="${CHART_HOME}">${CHART_HOME}</a>. Times are UTC.</p>
</footer>
</main>
<script type="application/json" id="report-data">${dataJson}</script>
<script>${lib.code}</script>
<script>${APP_SCRIPT}</script>
</body>
</html>
`;
}

/**
 * The report of a backtest as one self-contained HTML page.
 * @param {any} bt a NodeBacktest
 * @param {{ title?: string, path?: string, maxPoints?: number, priceStyle?: 'candles' | 'line' } | null} [options]
 * @returns {string}
 */
function toHtml(bt, options) {
  const opts = readOptions(options);
  const html = buildPage(bt, opts);
  if (opts.path) fs.writeFileSync(opts.path, html);
  return html;
}

/** Adds `toHtml` to the backtest class of the add-on's exports. */
function attach(addon) {
  // The add-on's own getter refuses a receiver that is not a backtest with its coded error,
  // where a plain property read would quietly give undefined.
  const ctxOf = Object.getOwnPropertyDescriptor(addon.NodeBacktest.prototype, 'ctx').get;
  Object.defineProperty(addon.NodeBacktest.prototype, 'toHtml', {
    value: function (options) {
      ctxOf.call(this);
      return toHtml(this, options);
    },
    writable: true,
    configurable: true,
    enumerable: false,
  });
  return addon;
}

module.exports = { toHtml, attach, escapeHtml, jsonForScript };
