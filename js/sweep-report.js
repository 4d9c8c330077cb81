'use strict';
// The page of a sweep: the ranked table and, per series, the heatmap of two parameters, as one
// self-contained HTML page. It runs no script at all; its content security policy admits only its
// own style block (by hash), so nothing a symbol or a parameter value smuggles in can act.
const crypto = require('node:crypto');
const fs = require('node:fs');
const { escapeHtml } = require('./html-report');

const OPTION_NAMES = ['title', 'path', 'figures'];
// The figures of the ranked table after the metric, those the result has.
const DEFAULT_FIGURES = ['net_profit', 'net_profit_pct', 'closed_trades', 'win_rate', 'profit_factor', 'max_drawdown_pct',
  'sharpe_ratio', 'annualized_sharpe_ratio', 'commission_paid'];
const SHADES = 11;

function invalidArg(message) {
  return Object.assign(new Error(message), { code: 'InvalidArg' });
}

function readOptions(options) {
  if (options == null) options = {};
  if (typeof options !== 'object' || Array.isArray(options)) throw invalidArg('sweep toHtml: options must be an object');
  for (const k of Object.keys(options))
    if (!OPTION_NAMES.includes(k)) throw invalidArg(`sweep toHtml: unknown option "${k}"`);
  const { title, path, figures } = options;
  if (title != null && typeof title !== 'string') throw invalidArg('sweep toHtml: title must be a string');
  if (path != null && (typeof path !== 'string' || path === '')) throw invalidArg('sweep toHtml: path must be a non-empty string');
  if (figures != null && !(Array.isArray(figures) && figures.every((f) => typeof f === 'string')))
    throw invalidArg('sweep toHtml: figures must be an array of figure names');
  return { title: title ?? null, path: path ?? null, figures: figures ?? null };
}

const finite = (x) => typeof x === 'number' && Number.isFinite(x);

function numberText(key, x) {
  if (typeof x === 'bigint') return String(x);
  if (typeof x !== 'number') return x == null ? '' : String(x);
  if (!finite(x)) return Number.isNaN(x) ? 'n/a' : String(x);
  if (/(_pct|^win_rate|^exposure)/.test(key)) return `${(x * 100).toFixed(2)} %`;
  if (Number.isInteger(x)) return String(x);
  return x.toFixed(Math.abs(x) >= 100 ? 2 : 4);
}

const paramText = (v) => (typeof v === 'string' ? v : JSON.stringify(v));

// Each finite value's shade, 0 (worst) to SHADES - 1 (best), over the values of one table.
function shader(values, order) {
  const xs = values.flat().filter(finite);
  const lo = Math.min(...xs);
  const hi = Math.max(...xs);
  return (x) => {
    if (!finite(x)) return null;
    const t = hi > lo ? (x - lo) / (hi - lo) : 0.5;
    const k = Math.round((order === 'asc' ? 1 - t : t) * (SHADES - 1));
    return Math.max(0, Math.min(SHADES - 1, k));
  };
}

function heatmapHtml(map, order) {
  if (!map) return '';
  const parts = [];
  for (const table of map.tables) {
    const shade = shader(table.values, order);
    const head = map.xValues.map((x) => `<th>${escapeHtml(paramText(x))}</th>`).join('');
    const body = table.values.map((row, i) => {
      const cells = row.map((v) => {
        const k = shade(v);
        return `<td${k === null ? '' : ` class="h${k}"`}>${escapeHtml(v === null ? '' : numberText(map.metric, v))}</td>`;
      }).join('');
      return `<tr><th>${escapeHtml(paramText(map.yValues[i]))}</th>${cells}</tr>`;
    }).join('\n');
    parts.push(`<section><h2>${escapeHtml(table.symbol)}: ${escapeHtml(map.metric)} by ${escapeHtml(map.x)} (columns) and ${escapeHtml(map.y)} (rows)</h2>
<table class="heat"><thead><tr><th>${escapeHtml(map.y)} \\ ${escapeHtml(map.x)}</th>${head}</tr></thead>
<tbody>
${body}
</tbody></table></section>`);
  }
  return parts.join('\n');
}

function rankedHtml(result, figures) {
  const rows = result.rows;
  const names = [...new Set(rows.flatMap((r) => Object.keys(r.params)))];
  const walkForward = rows.some((r) => r.window !== undefined);
  const columns = [result.metric, ...figures.filter((f) => f !== result.metric && rows.some((r) => r[f] !== undefined))];
  const head = ['#', 'symbol', ...(walkForward ? ['window', 'test bars'] : []), ...names, ...columns]
    .map((h) => `<th>${escapeHtml(h)}</th>`).join('');
  const body = rows.map((r, i) => {
    const cells = [String(i + 1), r.symbol, ...(walkForward ? [String(r.window), `${r.test[0]}-${r.test[1]}`] : []),
      ...names.map((n) => (n in r.params ? paramText(r.params[n]) : '')), ...columns.map((c) => numberText(c, r[c]))];
    return `<tr>${cells.map((c) => `<td>${escapeHtml(c)}</td>`).join('')}</tr>`;
  }).join('\n');
  return `<table class="ranked"><thead><tr>${head}</tr></thead>
<tbody>
${body}
</tbody></table>`;
}

function errorsHtml(errors) {
  if (!errors.length) return '';
  return `<section><h2>Errors (${errors.length})</h2><ul>
${errors.map((e) => `<li>${escapeHtml(e.message)}</li>`).join('\n')}
</ul></section>`;
}

function style() {
  const shades = Array.from({ length: SHADES }, (_, k) => {
    // red (worst) through pale yellow to green (best)
    const t = k / (SHADES - 1);
    const hue = Math.round(t * 120);
    return `.h${k}{background:hsl(${hue},60%,${80 - Math.abs(t - 0.5) * 20}%)}`;
  }).join('');
  return `body{font:14px/1.4 system-ui,sans-serif;margin:24px;color:#1d2430}
h1{font-size:20px}h2{font-size:16px;margin-top:28px}
table{border-collapse:collapse;margin:8px 0}th,td{border:1px solid #d5dae1;padding:3px 8px;text-align:right}
th{background:#f3f5f8}.ranked td:nth-child(2){text-align:left}.meta{color:#5b6573}
${shades}`;
}

/** The page of a sweep result as HTML text; also written to `options.path` when given. */
function sweepHtml(result, options) {
  const opts = readOptions(options);
  if (!result || !Array.isArray(result.rows) || typeof result.metric !== 'string')
    throw invalidArg('sweep toHtml: the argument is not a sweep result');
  const figures = opts.figures ?? DEFAULT_FIGURES;
  const title = opts.title ?? `Sweep ranked by ${result.metric}`;
  const css = style();
  const hash = crypto.createHash('sha256').update(css, 'utf8').digest('base64');
  const meta = `${result.runs} runs, ${result.rows.length} rows, ${result.errors.length} errors, ranked by ${result.metric} ` +
    `(${result.order === 'asc' ? 'lowest' : 'highest'} first)`;
  const page = `<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8">
<meta http-equiv="Content-Security-Policy" content="default-src 'none'; style-src 'sha256-${hash}'">
<title>${escapeHtml(title)}</title>
<style>${css}</style></head>
<body>
<h1>${escapeHtml(title)}</h1>
<p class="meta">${escapeHtml(meta)}</p>
${heatmapHtml(result.heatmap, result.order)}
<section><h2>${result.rows.some((r) => r.window !== undefined) ? 'Walk-forward windows' : 'Ranked runs'}</h2>
${rankedHtml(result, figures)}</section>
${errorsHtml(result.errors)}
</body></html>
`;
  if (opts.path) fs.writeFileSync(opts.path, page);
  return page;
}

module.exports = { sweepHtml };
