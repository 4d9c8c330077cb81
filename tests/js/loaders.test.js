'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { NodeOhlcv: Ohlcv, NodeTimeframe: TF, zipOhlcvBars } = require('../..');

const H = 3600e3;
const T0 = Date.UTC(2024, 0, 1);
// Three hourly bars, as plain values: the reference every loader is compared with.
const REF = {
  openTime: [T0, T0 + H, T0 + 2 * H],
  open: [1, 1.5, 2.25],
  high: [2, 2.5, 3],
  low: [0.5, 1, 2],
  close: [1.5, 2.25, 2.5],
  volume: [10, 20, 0.125],
};
const dates = (ms) => ms.map((t) => (Number.isNaN(t) ? null : new Date(t)));
// What zipOhlcvBars and fromBars build from the same values.
function reference({ openTime, closeTime, open, high, low, close, volume } = REF) {
  return Ohlcv.fromBars(zipOhlcvBars(dates(openTime), closeTime && dates(closeTime), open, high, low, close, volume));
}
// The bars, compared by their text form (NaN equal to NaN); the timeframe label is checked apart.
const same = (got, want) => assert.deepEqual(got.bars.map(String), want.bars.map(String));

function expectError(fn, pattern, code = 'InvalidArg') {
  assert.throws(fn, (e) => {
    assert.ok(e instanceof Error);
    assert.equal(e.code, code, e.message);
    assert.match(e.message, pattern);
    return true;
  });
}

test('fromColumns builds what zipOhlcvBars and fromBars build', async (t) => {
  const f64 = (xs) => Float64Array.from(xs);
  const cases = {
    'plain arrays': { ...REF },
    'Float64Array columns': Object.fromEntries(Object.entries(REF).map(([k, v]) => [k, f64(v)])),
    'close times, NaN for an absent open time': { ...REF, openTime: [T0, NaN, T0 + 2 * H], closeTime: [T0 + H, T0 + 2 * H, T0 + 3 * H] },
    'without volume': { ...REF, volume: undefined },
  };
  for (const [name, cols] of Object.entries(cases)) {
    await t.test(name, () => same(Ohlcv.fromColumns(cols), reference({ ...cols, openTime: [...cols.openTime] })));
  }
  await t.test('nanoseconds in a BigInt64Array keep their digits below the millisecond', () => {
    const ns = BigInt64Array.from(REF.openTime, (ms) => BigInt(ms) * 1_000_000n + 1n);
    const s = Ohlcv.fromColumns({ ...REF, openTime: ns });
    assert.match(s.at(0).toString(), /open_time: Some\(2024-01-01T00:00:00\.000000001Z\)/);
    same(Ohlcv.fromColumns({ ...REF, openTime: ns.map((x) => x - 1n) }), reference());
  });
  await t.test('a timeframe option labels the series', () => {
    assert.equal(Ohlcv.fromColumns({ ...REF, timeframe: TF.Hours(1) }).timeframe.toString(), '1h');
  });
});

test('fromColumns refuses bad columns and loads nothing', async (t) => {
  const cases = [
    ['columns of different lengths', { ...REF, high: [1, 2] }, /fromColumns: column `high` has 2 entries, but `openTime` has 3/],
    ['a missing price column', { ...REF, low: undefined }, /no `low` column/],
    ['an unknown key', { ...REF, Volume: [1, 2, 3] }, /unknown key `Volume`/],
    ['a number that is not one', { ...REF, close: [1, '2', 3] }, /`close`\[1\]: Expected 64-bit float, got String/, 'NumberExpected'],
    ['a time out of range', { ...REF, openTime: [T0, 1e300, T0] }, /`openTime`\[1\]: 1e300 is not a time in milliseconds/],
    ['a typed array of another kind', { ...REF, open: new Float32Array(3) }, /`open`: expected a Float64Array or an array of numbers, got Float32Array/],
    ['Dates instead of times', { ...REF, openTime: dates(REF.openTime) }, /`openTime`\[0\]: Expected 64-bit float, got Object/, 'NumberExpected'],
    ['unsorted when sorted was asked', { ...REF, openTime: [T0, T0 + 2 * H, T0 + H], sorted: true }, /`openTime`\[2\]: 2024-01-01T01:00:00Z is not after 2024-01-01T02:00:00Z/],
    ['not an object', [1, 2], /expected a plain object, got Array/, 'ObjectExpected'],
    ['an absurd length, refused before anything is copied', { ...REF, open: Object.assign([], { length: 2 ** 32 - 1 }) }, /`open` has 4294967295 entries, more than one series can hold/],
  ];
  for (const [name, cols, pattern, code] of cases) {
    await t.test(name, () => expectError(() => Ohlcv.fromColumns(cols), pattern, code));
  }
});

test('toColumns returns typed columns that read back', () => {
  const s = reference({ ...REF, closeTime: [T0 + H, NaN, T0 + 3 * H] });
  s.timeframe = TF.Hours(1);
  const c = s.toColumns();
  for (const k of ['openTime', 'closeTime', 'open', 'high', 'low', 'close', 'volume']) assert.ok(c[k] instanceof Float64Array, k);
  assert.deepEqual([...c.openTime], REF.openTime);
  assert.deepEqual([...c.closeTime], [T0 + H, NaN, T0 + 3 * H]);
  assert.deepEqual([...c.low], REF.low);
  assert.equal(c.timeframe.toString(), '1h');
  const back = Ohlcv.fromColumns(c);
  same(back, s);
  assert.equal(back.timeframe.toString(), '1h');
  assert.equal(new Ohlcv().toColumns().open.length, 0);
});

const CSV = 'open_time,open,high,low,close,volume\n' +
  '2024-01-01T00:00:00Z,1,2,0.5,1.5,10\n2024-01-01T01:00:00Z,1.5,2.5,1,2.25,20\n2024-01-01T02:00:00Z,2.25,3,2,2.5,0.125\n';

test('fromCsv reads the bars fromBars would hold', async (t) => {
  const rows = [
    [T0, '2024-01-01T00:00:00Z', '1704067200', '2024-01-01T02:00:00+02:00', '2024-01-01', 1, 2, 0.5, 1.5, 10],
    [T0 + H, '2024-01-01T01:00:00Z', '1704070800', '2024-01-01T03:00:00+02:00', '2024-01-01T01:00', 1.5, 2.5, 1, 2.25, 20],
    [T0 + 2 * H, '2024-01-01T02:00:00Z', '1704074400', '2024-01-01T04:00:00+02:00', '2024-01-01 02:00:00', 2.25, 3, 2, 2.5, 0.125],
  ];
  const table = (pick, sep = ',') => rows.map((r) => pick(r).join(sep)).join('\n');
  const prices = (r) => r.slice(5);
  const cases = {
    'ISO 8601 times with a header': [CSV, undefined],
    'epoch milliseconds, no header': [table((r) => [r[0], ...prices(r)]), { header: false }],
    'epoch seconds, detected': [`t,o,h,l,c,v\n${table((r) => [r[2], ...prices(r)])}`, undefined],
    'epoch seconds, explicit': [`time,open,high,low,close,volume\n${table((r) => [r[2], ...prices(r)])}`, { timeFormat: 's' }],
    'offsets from UTC': [`time;open;high;low;close;volume\n${table((r) => [r[3], ...prices(r)], ';')}`, { delimiter: ';' }],
    'dates and minutes without seconds': [`date\topen\thigh\tlow\tclose\tvolume\n${table((r) => [r[4], ...prices(r)], '\t')}`, { delimiter: '\t' }],
    'columns by name and index': [
      `Vol,When,Last,O,H,L\n${table((r) => [r[9], r[1], r[8], r[5], r[6], r[7]])}`,
      { columns: { openTime: 'when', close: 2, volume: 'Vol', open: 'O', high: 'H', low: 'L' } },
    ],
    'quoted fields, CRLF, BOM, blank lines, no last line end': [`\uFEFF"open_time","open",high,low,close,volume\r\n\r\n${table((r) => [`"${r[1]}"`, ...prices(r)]).replace(/\n/g, '\r\n')}`, undefined],
    'a Buffer of UTF-8 text': [Buffer.from(CSV), null],
  };
  for (const [name, [text, options]] of Object.entries(cases)) {
    await t.test(name, () => same(Ohlcv.fromCsv(text, options), reference()));
  }
  await t.test('a column left out with false stays missing', () => {
    same(Ohlcv.fromCsv(CSV, { columns: { volume: false } }), reference({ ...REF, volume: undefined }));
  });
  await t.test('a timeframe option labels the series', () => {
    assert.equal(Ohlcv.fromCsv(CSV, { timeframe: TF.Hours(1) }).timeframe.toString(), '1h');
  });
});

test('fromCsv names the line and column of bad input and loads nothing', async (t) => {
  const lines = CSV.split('\n');
  const withLine = (k, text) => lines.map((l, i) => (i === k ? text : l)).join('\n');
  const cases = [
    ['an unparsable number', withLine(2, '2024-01-01T01:00:00Z,1.5,2.5,x,2.25,20'), undefined, /^fromCsv: line 3, column "low": "x" is not a number$/],
    ['an unparsable time', withLine(3, '2024-01-01T25:00:00Z,1,2,3,4,5'), undefined, /^fromCsv: line 4, column "open_time": "2024-01-01T25:00:00Z" is not an ISO 8601 time$/],
    ['a missing column', CSV.replace('volume', 'qty'), { columns: { volume: 'volume' } }, /no column "volume" \(volume\) in the header; it has: open_time, open, high, low, close, qty/],
    ['a missing required column', CSV.replace('high', 'hi'), undefined, /no high column in the header/],
    ['a short row', withLine(1, '2024-01-01T00:00:00Z,1,2'), undefined, /^fromCsv: line 2, column "low": missing \(the line has 3 columns\)$/],
    ['times out of order', withLine(3, '2024-01-01T00:30:00Z,1,2,3,4,5'), { sorted: true }, /^fromCsv: line 4, column "open_time": 2024-01-01T00:30:00Z is not after 2024-01-01T01:00:00Z on line 3/],
    ['an unknown option', CSV, { delimeter: ';' }, /unknown key `delimeter`/],
    ['a long delimiter', CSV, { delimiter: ';;' }, /`delimiter`: expected one character/],
    ['an unknown time format', CSV, { timeFormat: 'unix' }, /`timeFormat`: expected "auto", "iso", "ms" or "s"/],
    ['a column index that is not one', CSV, { columns: { open: -1 } }, /`columns.open`: expected a header name, a column index/],
  ];
  for (const [name, text, options, pattern] of cases) {
    await t.test(name, () => expectError(() => Ohlcv.fromCsv(text, options), pattern));
  }
});

test('fromCsv reports progress a bounded number of times, and a throwing callback stops the load', async (t) => {
  const rows = Array.from({ length: 5000 }, (_, i) => `${T0 + i * 60e3},1,2,0.5,1.5,10`).join('\n');
  await t.test('calls rise to the total', () => {
    const calls = [];
    const s = Ohlcv.fromCsv(rows, { header: false, onProgress: (done, total) => calls.push([done, total]) });
    assert.equal(s.length, 5000);
    assert.ok(calls.length >= 2 && calls.length <= 101, `${calls.length} calls`);
    assert.deepEqual(calls.at(-1), [5000, 5000]);
    assert.ok(calls.every(([done, total], i) => total === 5000 && (i === 0 || done > calls[i - 1][0])));
  });
  await t.test('the callback\'s exception comes out unchanged', () => {
    const stop = new RangeError('stop here');
    let calls = 0;
    assert.throws(() => Ohlcv.fromCsv(rows, { header: false, onProgress: () => { calls++; throw stop; } }), (e) => e === stop);
    assert.equal(calls, 1);
  });
  await t.test('an empty text still reports its end', () => {
    const calls = [];
    assert.equal(Ohlcv.fromCsv('', { onProgress: (d, n) => calls.push([d, n]) }).length, 0);
    assert.deepEqual(calls, [[0, 0]]);
  });
});

test('fromCsvFile reads a file as fromCsv reads its text', async (t) => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'barwise-loaders-'));
  t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
  const file = path.join(dir, 'bars.csv');
  fs.writeFileSync(file, CSV);
  await t.test('the same bars', () => same(Ohlcv.fromCsvFile(file, { sorted: true }), reference()));
  await t.test('errors name the file and the line', () => {
    fs.writeFileSync(path.join(dir, 'bad.csv'), CSV.replace('0.125', 'oops'));
    expectError(() => Ohlcv.fromCsvFile(path.join(dir, 'bad.csv')), /^fromCsvFile: .*bad\.csv: line 4, column "volume": "oops" is not a number$/);
  });
  await t.test('a missing file or a folder', () => {
    expectError(() => Ohlcv.fromCsvFile(path.join(dir, 'none.csv')), /^fromCsvFile: cannot read ".*none\.csv": /);
    expectError(() => Ohlcv.fromCsvFile(dir), /not a regular file/);
  });
  await t.test('the bundled hourly bars', () => {
    const s = Ohlcv.fromCsvFile(path.join(__dirname, '..', '..', 'data', 'btcusd-1h.csv'), { sorted: true });
    assert.equal(s.length, 17544);
    assert.equal(s.at(0).toString(), 'OhlcvBar { open_time: Some(2023-01-01T00:00:00Z), close_time: None, open: 16500.0, high: 16621.0, low: 16500.0, close: 16621.0, volume: 264.5196 }');
  });
});

test('fromExchangeRows takes exchange rows and timeframes', async (t) => {
  const rows = REF.openTime.map((ms, i) => [ms, REF.open[i], REF.high[i], REF.low[i], REF.close[i], REF.volume[i]]);
  await t.test('bars close one timeframe after they open', () => {
    const s = Ohlcv.fromExchangeRows(rows, '1h');
    same(s, reference({ ...REF, closeTime: REF.openTime.map((ms) => ms + H) }));
    assert.equal(s.timeframe.toString(), '1h');
  });
  const names = [['1m', '1m'], ['5m', '5m'], ['1h', '1h'], ['4h', '4h'], ['1d', '1D'], ['1w', '1W'], ['1M', '1M']];
  for (const [exchange, ours] of names) {
    await t.test(`"${exchange}" is ${ours}`, () => assert.equal(Ohlcv.fromExchangeRows(rows, exchange).timeframe.toString(), ours));
  }
  await t.test('a month closes at the same day of the next month', () => {
    assert.equal(Ohlcv.fromExchangeRows([[T0, 1, 1, 1, 1, 1]], '1M').at(0).closeTime.toISOString(), '2024-02-01T00:00:00.000Z');
  });
  await t.test('without a timeframe, no close times', () => {
    const s = Ohlcv.fromExchangeRows(rows);
    same(s, reference());
    assert.equal(s.timeframe.unknown, true);
  });
  await t.test('missing prices and volume are NaN', () => {
    assert.ok(Number.isNaN(Ohlcv.fromExchangeRows([[T0, 1, 2, 0.5, 1.5, null]]).at(0).volume));
  });
});

test('fromExchangeRows names the row of bad input and loads nothing', async (t) => {
  const good = [T0, 1, 2, 0.5, 1.5, 10];
  const many = Array.from({ length: 20000 }, (_, i) => [T0 + i * 60e3, 1, 2, 0.5, 1.5, 10]);
  const huge = [];
  huge.length = 2 ** 31;
  const cases = [
    ['a short row', [good, [T0, 1, 2]], undefined, /^fromExchangeRows: rows\[1\]: 3 entries, expected 6 \[timestampMs, open, high, low, close, volume\]$/],
    ['not a row', [good, { 0: T0 }], undefined, /rows\[1\]: expected an array .*, got Object/],
    ['a text price far into the rows', [...many.slice(0, 17000), [T0, 1, '2', 0.5, 1.5, 10]], undefined, /^fromExchangeRows: rows\[17000\]\[2\] \(high\): expected a number, got String$/],
    ['no timestamp', [good, [null, 1, 2, 0.5, 1.5, 10]], undefined, /rows\[1\]\[0\] \(timestamp\): expected a number, got Null/],
    ['a timestamp out of range', [good, [1e300, 1, 2, 0.5, 1.5, 10]], undefined, /rows\[1\]\[0\] \(timestamp\): 1e300 is not a time in milliseconds/],
    ['our own day letter', [good], '1D', /unknown exchange timeframe "1D".*"1m" is a minute, "1M" a month/],
    ['an absurd length, refused before anything is allocated', huge, '1m', /2147483648 rows are more than one series can hold/],
  ];
  for (const [name, input, tf, pattern] of cases) {
    await t.test(name, () => expectError(() => Ohlcv.fromExchangeRows(input, tf), pattern));
  }
});
