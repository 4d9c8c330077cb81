'use strict';
// The sweep page: the heatmap and the ranked table of a result, with every user string escaped
// and no script.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { sweepHtml } = require('../../js/sweep-report');

// A result as sweep() gives it, with hostile texts where users put their own.
const result = {
  metric: 'net_profit', order: 'desc', runs: 5,
  rows: [
    { params: { fast: 5, slow: '<b>20</b>' }, symbol: '<script>alert(1)</script>', net_profit: 250.5, closed_trades: 7, win_rate: 0.5 },
    { params: { fast: 10, slow: '<b>20</b>' }, symbol: '<script>alert(1)</script>', net_profit: -12.25, closed_trades: 3, win_rate: NaN },
    { params: { fast: 5, slow: 'x"y' }, symbol: '<script>alert(1)</script>', net_profit: 40, closed_trades: 2, win_rate: 1 },
  ],
  heatmap: {
    x: 'fast', y: 'slow', metric: 'net_profit', xValues: [5, 10], yValues: ['<b>20</b>', 'x"y'],
    tables: [{ symbol: '<script>alert(1)</script>', values: [[250.5, -12.25], [40, null]] }],
  },
  errors: [{ params: { fast: 30 }, symbol: 'S', message: 'strategy failed for {"fast":30} on S: <img src=x onerror=alert(1)>' }],
};

test('sweep page', async (t) => {
  const html = sweepHtml(result, { title: 'Grid & <friends>' });
  await t.test('user strings are escaped and nothing runs', () => {
    assert.equal(html.includes('<script'), false);
    assert.equal(html.includes('<b>'), false);
    assert.equal(html.includes('<img'), false);
    assert.match(html, /&lt;script&gt;alert\(1\)&lt;\/script&gt;/);
    assert.match(html, /<title>Grid &amp; &lt;friends&gt;<\/title>/);
    assert.match(html, /content="default-src 'none'; style-src 'sha256-[A-Za-z0-9+/=]+'"/);
  });
  await t.test('the heatmap shades the best cell greenest and leaves an empty cell blank', () => {
    assert.match(html, /<td class="h10">250\.50<\/td><td class="h0">-12\.2500<\/td>/);
    assert.match(html, /<td class="h\d+">40<\/td><td><\/td>/);
  });
  await t.test('the ranked table keeps the order of the rows, with percent figures as percents', () => {
    const order = [...html.matchAll(/<tr><td>(\d)<\/td><td>[^<]*<\/td><td>(\d+)<\/td>/g)].map((m) => `${m[1]}:${m[2]}`);
    assert.deepEqual(order, ['1:5', '2:10', '3:5']);
    assert.match(html, /<td>50\.00 %<\/td>/);
    assert.match(html, /<td>n\/a<\/td>/);
  });
  await t.test('written to a file when asked', () => {
    const file = path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'barwise-sweep-page-')), 'sweep.html');
    assert.equal(sweepHtml(result, { path: file }), fs.readFileSync(file, 'utf8'));
    fs.rmSync(path.dirname(file), { recursive: true });
  });
  await t.test('bad options and results are refused', () => {
    assert.throws(() => sweepHtml(result, { titel: 'x' }), { code: 'InvalidArg', message: /unknown option "titel"/ });
    assert.throws(() => sweepHtml({}), { code: 'InvalidArg', message: /not a sweep result/ });
  });
});
