'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const crypto = require('node:crypto');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawnSync } = require('node:child_process');
const bw = require('../..');
const { DAY, T0 } = require('./support/market');
const { makeCtx, run, traded } = require('./support/backtest');

const HOSTILE = '<img src=x onerror=alert(1)>';
const CLOSER = '</script><script>alert(2)</script>';

// The chart data the page draws from.
function dataOf(html) {
  const m = html.match(/<script type="application\/json" id="report-data">([^]*?)<\/script>/);
  assert.ok(m, 'no data element');
  return JSON.parse(m[1]);
}

const decode = (text) =>
  text.replace(/&lt;/g, '<').replace(/&gt;/g, '>').replace(/&quot;/g, '"').replace(/&#39;/g, "'").replace(/&amp;/g, '&');

// The page's text as a reader sees it: tags dropped, entities decoded, spaces collapsed.
const textOf = (fragment) => decode(fragment.replace(/<[^>]*>/g, ' ')).replace(/\s+/g, ' ').trim();

// Each trade table row as the text of its cells.
function tableRows(html) {
  const body = html.match(/<tbody>([^]*?)<\/tbody>/);
  assert.ok(body, 'no trade table');
  return [...body[1].matchAll(/<tr[^>]*>([^]*?)<\/tr>/g)].map((r) => [...r[1].matchAll(/<td[^>]*>([^]*?)<\/td>/g)].map((c) => decode(c[1]).trim()));
}

const figure = (html, label) => {
  const m = [...html.matchAll(/<div class="figure"><span>([^<]*)<\/span><span>([^<]*)<\/span><\/div>/g)].find((f) => textOf(f[1]) === label);
  assert.ok(m, `no figure ${label}`);
  return textOf(m[2]);
};

const card = (html, label) => {
  const m = [...html.matchAll(/<div class="card-label">([^<]*)<\/div><div class="card-value[^"]*">([^]*?)<\/div>/g)].find((c) => c[1] === label);
  assert.ok(m, `no card ${label}`);
  return textOf(m[2]);
};

// Markup outside the inline scripts.
const markupOf = (html) => html.replace(/(<script[^>]*>)[^]*?(<\/script>)/g, '$1$2');

// A backtest over `n` synthetic daily bars, buying 1 after bar `buy` and selling it after `sell`.
function synthetic(n, { buy, sell, times = true } = {}) {
  const bars = [];
  for (let i = 0; i < n; i++) {
    const open = 100 + i;
    const close = open + 0.5;
    const t = times ? new Date(T0 + i * DAY) : null;
    bars.push(new bw.NodeOhlcvBar(t, null, open, close + (i % 7), open - (i % 5), close, 10));
  }
  const series = bw.NodeOhlcv.fromBars(bars);
  series.timeframe = bw.NodeTimeframe.Days(1);
  const sym = new bw.NodeSym();
  sym.minTick = 0.01;
  sym.minQty = 1;
  const bt = new bw.NodeBacktest(new bw.NodeCtx(series, sym), 1000);
  return run(bt, (i) => {
    if (i === buy) bt.signal(bw.NodeSignal.Size(1));
    if (i === sell) bt.signal(bw.NodeSignal.Size(-1));
  });
}

test('the page is self-contained, carries the charting licence and is written to the path', async (t) => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'barwise-html-'));
  t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
  const file = path.join(dir, 'report.html');
  const html = traded().toHtml({ path: file, title: 'Six bars' });

  await t.test('the returned page is the written file', () => {
    assert.ok(html.startsWith('<!DOCTYPE html>'));
    assert.equal(fs.readFileSync(file, 'utf8'), html);
  });

  await t.test('the library keeps its licence header and the page names its maker with a link', () => {
    assert.match(html, /@license\s+\* TradingView Lightweight Charts™ v\d+\.\d+\.\d+\s+\* Copyright \(c\) \d{4} TradingView, Inc\./);
    const footer = html.match(/<footer>([^]*?)<\/footer>/)[1];
    assert.match(textOf(footer), /TradingView Lightweight Charts™ \d+\.\d+\.\d+, Copyright \(c\) \d{4} TradingView, Inc\., licensed under the Apache License 2\.0/);
    assert.match(footer, /<a href="https:\/\/www\.tradingview\.com\/">/);
  });

  await t.test('nothing is loaded from elsewhere: every script is inline and the only link is the attribution', () => {
    const markup = markupOf(html);
    assert.doesNotMatch(markup, /<link|\ssrc=|url\(|@import/i);
    assert.deepEqual([...markup.matchAll(/href="([^"]*)"/g)].map((m) => m[1]), ['https://www.tradingview.com/']);
  });

  await t.test('the page policy admits exactly the inline scripts, by hash', () => {
    const policy = decode(html.match(/<meta http-equiv="Content-Security-Policy" content="([^"]*)">/)[1]);
    assert.match(policy, /default-src 'none'/);
    const allowed = [...policy.matchAll(/'sha256-([^']+)'/g)].map((m) => m[1]).sort();
    const scripts = [...html.matchAll(/<script>([^]*?)<\/script>/g)].map((m) => crypto.createHash('sha256').update(m[1]).digest('base64'));
    assert.deepEqual(scripts.sort(), allowed);
  });
});

test('a small backtest: chart data, markers, figures and trades as computed by hand', async (t) => {
  // Long 2 at 102 (bar 1) closed at 105 (bar 3) for +6; long 1 at 99 (bar 4) closed at 97
  // (bar 5) for -2 by a sell of 2 that opens a short 1 at 97, marked at 99 for -2.
  // Equity 1000, 1002, 1008, 1006, 1005, 1002: peak 1008, deepest 6 below it.
  const html = traded().toHtml();
  const { chart, markers } = dataOf(html);

  await t.test('one point per bar at the bar open time, equity per bar and drawdown from the peak in percent', () => {
    assert.equal(chart.realTime, true);
    assert.deepEqual(chart.x, [0, 1, 2, 3, 4, 5].map((i) => (T0 + i * DAY) / 1000));
    assert.deepEqual(chart.o, [100, 102, 104, 105, 99, 97]);
    assert.deepEqual(chart.h, [102, 104, 107, 106, 100, 100]);
    assert.deepEqual(chart.eq, [1000, 1002, 1008, 1006, 1005, 1002]);
    assert.deepEqual(chart.net, [1000, 1000, 1000, 1006, 1006, 1004]);
    const dd = [0, 0, 0, -200 / 1008, -300 / 1008, -600 / 1008];
    chart.dd.forEach((v, i) => assert.ok(Math.abs(v - dd[i]) < 1e-6, `drawdown ${i}: ${v} vs ${dd[i]}`));
  });

  await t.test('every entry and exit is marked on its fill bar, buys below and sells above', () => {
    assert.deepEqual(
      markers.map((m) => [m.p, m.kind, m.buy]),
      [
        [1, 'entry', true],
        [3, 'win', false],
        [4, 'entry', true],
        [5, 'loss', false],
        [5, 'entry', false],
      ],
    );
  });

  await t.test('the trade table lists every trade in entry order, the open one last', () => {
    assert.deepEqual(
      // The columns computed by hand; with trade rows from the add-on, the commission and the
      // highest and lowest price seen while open follow them.
      tableRows(html).map((r) => r.slice(2, 11)),
      [
        ['Long', '2', '2024-01-02', '102.00', '2024-01-04', '105.00', '6.00', '2.94 %', '2'],
        ['Long', '1', '2024-01-05', '99.00', '2024-01-06', '97.00', '-2.00', '-2.02 %', '1'],
        ['Short', '1', '2024-01-06', '97.00', 'open', '', '-2.00', '-2.06 %', ''],
      ],
    );
  });

  await t.test('headline cards and figures', () => {
    assert.equal(card(html, 'Net profit'), '4.00 USD');
    assert.equal(card(html, 'Max drawdown'), '0.60 %');
    assert.equal(card(html, 'Final equity'), '1,002.00 USD');
    assert.equal(card(html, 'Win rate'), '33.33 %');
    assert.equal(figure(html, 'Gross loss'), '2.00 USD');
    assert.equal(figure(html, 'Winning trades'), '1');
    assert.equal(figure(html, 'Max drawdown'), '6.00 USD');
    assert.equal(figure(html, 'Profit factor'), '3.000');
  });
});

test('user strings are shown as text and never reach the page as markup or script', () => {
  const ctx = makeCtx({ currency: CLOSER });
  const sym = ctx.sym;
  sym.tickerId = HOSTILE;
  const bt = new bw.NodeBacktest(new bw.NodeCtx(ctx.ohlcv, sym), 1000);
  run(bt, (i) => {
    if (i !== 0 && i !== 2) return;
    const s = bw.NodeSignal.Size(i === 0 ? 1 : -1);
    s.id = i === 0 ? `${HOSTILE}\u2028${CLOSER}` : 'exit & <b>';
    bt.signal(s);
  });
  const title = `A & B <i>${CLOSER}`;
  const html = bt.toHtml({ title });

  for (const raw of ['<img', '<b>', '<i>', '</script><script>alert'])
    assert.ok(!html.includes(raw), `${raw} appears unescaped`);
  assert.ok(html.includes(`<title>${title.replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;')}</title>`));
  assert.equal(textOf(html.match(/<h1>([^]*?)<\/h1>/)[1]), title);
  assert.ok(textOf(html.match(/<header>[^]*?<p>([^]*?)<\/p>/)[1]).startsWith(`${HOSTILE} · 1D bars`));
  assert.equal(tableRows(html)[0][1], `${HOSTILE}\u2028${CLOSER}`);
  // The data element holds no character that could end it or break a script, yet reads back intact.
  const json = html.match(/id="report-data">([^]*?)<\/script>/)[1];
  assert.doesNotMatch(json, /[<>&\u2028\u2029]/);
  assert.equal(dataOf(html).symbol, HOSTILE);
});

test('fills at the bar close are timed at the close', () => {
  const bt = new bw.NodeBacktest(makeCtx(), 1000, true);
  run(bt, (i) => {
    if (i === 0) bt.signal(bw.NodeSignal.Size(1));
    if (i === 2) bt.signal(bw.NodeSignal.Size(-1));
  });
  const [row] = tableRows(bt.toHtml());
  // Filled at the closes of bars 1 (103) and 3 (100); bar i closes at the start of day i + 2.
  assert.deepEqual(row.slice(4, 8), ['2024-01-03', '103.00', '2024-01-05', '100.00']);
});

test('many bars merge into at most maxPoints chart points', async (t) => {
  // Entry fills on bar 16, exit on bar 48.
  const bt = synthetic(1000, { buy: 15, sell: 47 });
  const equity = bt.equityList;
  const cases = [
    { name: 'ten bars a point', maxPoints: 100, bucket: 10, points: 100 },
    { name: 'a short last point', maxPoints: 3, bucket: 334, points: 3 },
    { name: 'no merge when the bars fit', maxPoints: 1000, bucket: 1, points: 1000 },
  ];
  for (const c of cases) {
    await t.test(c.name, () => {
      const html = bt.toHtml({ maxPoints: c.maxPoints });
      const { chart, markers } = dataOf(html);
      assert.equal(chart.bucket, c.bucket);
      assert.equal(chart.x.length, c.points);
      for (const p of [0, 1, c.points - 1]) {
        const from = p * c.bucket;
        const to = Math.min(999, from + c.bucket - 1);
        const highs = [];
        const lows = [];
        for (let i = from; i <= to; i++) {
          highs.push(100 + i + 0.5 + (i % 7));
          lows.push(100 + i - (i % 5));
        }
        assert.equal(chart.x[p], (T0 + from * DAY) / 1000);
        assert.equal(chart.o[p], 100 + from);
        assert.equal(chart.h[p], Math.max(...highs));
        assert.equal(chart.l[p], Math.min(...lows));
        assert.equal(chart.c[p], 100 + to + 0.5);
        assert.equal(chart.eq[p], equity[to]);
      }
      assert.deepEqual(markers.map((m) => m.p), [Math.floor(16 / c.bucket), Math.floor(48 / c.bucket)]);
      if (c.bucket > 1) assert.match(html, new RegExp(`chart: ${c.bucket} bars per point`));
    });
  }
});

test('bars without open times plot by index, labelled by time where one is known', () => {
  const { chart } = dataOf(synthetic(5, { times: false }).toHtml());
  assert.equal(chart.realTime, false);
  assert.deepEqual(chart.x, [0, 1, 2, 3, 4]);
  assert.deepEqual(chart.label, [null, null, null, null, null]);
});

test('a backtest that has not run and a backtest on no bars still make a page', async (t) => {
  await t.test('not run: the whole series, no equity, no trades', () => {
    const html = new bw.NodeBacktest(makeCtx(), 1000).toHtml();
    const { chart, markers } = dataOf(html);
    assert.equal(chart.x.length, 6);
    assert.ok(chart.eq.every((v) => v === null));
    assert.deepEqual(markers, []);
    assert.match(html, /<p class="empty">No trades\.<\/p>/);
    assert.equal(card(html, 'Net profit'), '0.00 USD');
  });

  await t.test('no bars', () => {
    const ctx = makeCtx({ bars: [] });
    const html = new bw.NodeBacktest(ctx, 1000).toHtml();
    assert.deepEqual(dataOf(html).chart.x, []);
  });
});

test('figures and trade rows come from summary() and trades() when the backtest offers them', () => {
  const bt = traded();
  Object.defineProperty(bt, 'summary', {
    value: () => ({ netProfit: 4, commissionPaid: 1.5, maxDrawdown: { amount: 6, pct: 6 / 1008, durationBars: 3 }, long: { trades: 2n } }),
  });
  Object.defineProperty(bt, 'trades', {
    value: () => [
      { id: 'b', direction: 'long', size: 1, entry_bar_index: 4, entry_time: '2024-01-05T00:00:00Z', entry_price: 99, exit_bar_index: null, exit_price: null, pnl: -1, commission: 0.25, mae: 2 },
      { id: 'a', direction: 'short', size: -2, entry_bar_index: 1, entry_time: '2024-01-02T00:00:00Z', entry_price: 102, exit_bar_index: 3, exit_time: '2024-01-04T00:00:00Z', exit_price: 105, pnl: -6.5, return_pct: -0.0319, commission: 0.5, mae: 3 },
    ],
  });
  const html = bt.toHtml();
  assert.equal(figure(html, 'Commission paid'), '1.50 USD');
  assert.equal(figure(html, 'Max drawdown · Amount'), '6.00 USD');
  assert.equal(figure(html, 'Max drawdown %'), '0.60 %');
  assert.equal(figure(html, 'Max drawdown · Duration bars'), '3');
  assert.equal(figure(html, 'Long · Trades'), '2');
  assert.ok(!/<span>Gross profit<\/span>/.test(html), 'member figures are not added beside the summary');
  const head = textOf(html.match(/<thead>([^]*?)<\/thead>/)[1]);
  assert.match(head, /Commission MAE$/);
  assert.deepEqual(
    tableRows(html).map((r) => r.slice(1)),
    [
      ['a', 'Short', '2', '2024-01-02', '102.00', '2024-01-04', '105.00', '-6.50', '-3.19 %', '', '0.50', '3.00'],
      ['b', 'Long', '1', '2024-01-05', '99.00', 'open', '', '-1.00', '', '', '0.25', '2.00'],
    ],
  );
});

test('options and the receiver are checked before anything is written', async (t) => {
  const bt = traded();
  const cases = [
    ['not an object', 'report.html', /options must be an object/],
    ['unknown option', { colour: 'red' }, /unknown option "colour"/],
    ['title not a string', { title: 3 }, /title must be a string/],
    ['empty path', { path: '' }, /path must be a non-empty string/],
    ['maxPoints below 2', { maxPoints: 1 }, /maxPoints must be an integer of at least 2/],
    ['maxPoints not an integer', { maxPoints: 2.5 }, /maxPoints must be an integer/],
    ['unknown price style', { priceStyle: 'bars' }, /priceStyle must be "candles" or "line"/],
  ];
  for (const [name, options, message] of cases) {
    await t.test(name, () => {
      assert.throws(() => bt.toHtml(options), (e) => e.code === 'InvalidArg' && message.test(e.message));
    });
  }
  await t.test('a receiver that is not a backtest', () => {
    assert.throws(() => bw.NodeBacktest.prototype.toHtml.call({ ctx: makeCtx() }), (e) => e.code === 'InvalidArg');
  });
});

// ---------------------------------------------------------------------------------------------
// In a real browser

function findChromium() {
  const names = process.env.CHROMIUM ? [process.env.CHROMIUM] : ['chromium', 'chromium-browser'];
  for (const name of names) {
    const candidates = path.isAbsolute(name) ? [name] : (process.env.PATH || '').split(path.delimiter).map((d) => path.join(d, name));
    const found = candidates.find((f) => fs.existsSync(f));
    if (found) return found;
  }
  return null;
}

test('in headless Chromium the page draws every pane with no error, and a screenshot is saved', (t) => {
  const chromium = findChromium();
  if (!chromium) return t.skip('chromium is not installed (CI installs Debian\'s package; set CHROMIUM to use another)');
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'barwise-browser-'));
  const file = path.join(dir, 'report.html');
  const shot = path.join(dir, 'report.png');

  // Hostile strings ride along: if any were run, the page would record the error or the blocked load.
  const ctx = makeCtx({ currency: CLOSER });
  const sym = ctx.sym;
  sym.tickerId = HOSTILE;
  const bt = new bw.NodeBacktest(new bw.NodeCtx(ctx.ohlcv, sym), 1000);
  run(bt, (i) => {
    if (i === 0 || i === 2 || i === 3) {
      const s = bw.NodeSignal.Size(i === 2 ? -2 : 2);
      s.id = HOSTILE;
      bt.signal(s);
    }
  });
  bt.toHtml({ path: file, title: HOSTILE });

  const base = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
    '--disable-component-update', '--disable-sync', `--user-data-dir=${path.join(dir, 'profile')}`, '--virtual-time-budget=5000'];
  const url = `file://${file}`;
  // The browser runs without the sanitizer runtime a sanitizer test run preloads into this process.
  const env = { ...process.env };
  delete env.LD_PRELOAD;
  delete env.ASAN_OPTIONS;
  delete env.UBSAN_OPTIONS;
  const browse = (args) =>
    spawnSync(chromium, [...base, ...args, url], { encoding: 'utf8', timeout: 120e3, maxBuffer: 64 << 20, env });

  const dom = browse(['--dump-dom']);
  assert.equal(dom.status, 0, dom.stderr);
  const root = dom.stdout.match(/<html[^>]*>/)[0];
  assert.match(root, /data-report-state="ready"/, `the charts never finished: ${root}`);
  const errors = dom.stdout.match(/<pre id="report-errors"[^>]*>([^]*?)<\/pre>/)[1];
  assert.doesNotMatch(root, /data-report-errors/, `errors on the page: ${errors}`);
  assert.match(root, /data-report-drawn="price equity drawdown"/);
  assert.doesNotMatch(dom.stdout, /<img/i);

  const png = browse([`--screenshot=${shot}`, '--window-size=1280,1800']);
  assert.equal(png.status, 0, png.stderr);
  const image = fs.readFileSync(shot);
  assert.equal(image.subarray(1, 4).toString(), 'PNG');
  assert.equal(image.readUInt32BE(16), 1280);
  t.diagnostic(`screenshot: ${shot}`);
});
