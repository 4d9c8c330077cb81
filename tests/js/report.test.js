'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const { execFileSync, spawnSync } = require('node:child_process');
const { SCENARIOS } = require('./support/backtest');

const FIXTURE = path.join(__dirname, 'support', 'backtest.js');

// The report of a scenario printed by a child process whose standard output is a pipe.
const piped = (scenario) => execFileSync(process.execPath, [FIXTURE, scenario], { encoding: 'utf8' });

// The same under a pseudo-terminal (util-linux `script`), or null where `script` is missing.
function underTerminal(scenario) {
  const cmd = `"${process.execPath}" "${FIXTURE}" ${scenario}`;
  const r = spawnSync('script', ['-qec', cmd, '/dev/null'], { encoding: 'utf8', stdio: ['ignore', 'pipe', 'pipe'] });
  if (r.error) return null;
  assert.equal(r.status, 0, r.stderr);
  return r.stdout.replace(/\r\n/g, '\n');
}

const rowOf = (text, metric) => {
  const line = text.split('\n').find((l) => l.startsWith(`| ${metric} `));
  assert.ok(line, `row ${metric}`);
  return line.split('|')[2].trim();
};

const EXPECTED_TRADED = [
  '+--------------------------+-----------+',
  '| Metric                   | Value     |',
  '+======================================+',
  '| Net Profit               | 4.00 USD  |',
  '|                          | 0.40%     |',
  '|--------------------------+-----------|',
  '| Gross Profit             | 6.00 USD  |',
  '|                          | 0.60%     |',
  '|--------------------------+-----------|',
  '| Gross Loss               | 2.00 USD  |',
  '|                          | 0.20%     |',
  '|--------------------------+-----------|',
  '| Sharpe Ratio             | 31.382    |',
  '|--------------------------+-----------|',
  '| Sortino Ratio            | 125.546   |',
  '|--------------------------+-----------|',
  '| Profit Factor            | 3.000     |',
  '|--------------------------+-----------|',
  '| Open P/L                 | -2.00 USD |',
  '|--------------------------+-----------|',
  '| Total Closed Trades      | 2         |',
  '|--------------------------+-----------|',
  '| Number Winning Trades    | 1         |',
  '|--------------------------+-----------|',
  '| Number Losing Trades     | 1         |',
  '|--------------------------+-----------|',
  '| % Profitable             | 33.33%    |',
  '|--------------------------+-----------|',
  '| Avg Trade                | 2.00 USD  |',
  '|--------------------------+-----------|',
  '| Avg Winning Trade        | 6.00 USD  |',
  '|--------------------------+-----------|',
  '| Avg Losing Trade         | 2.00 USD  |',
  '|--------------------------+-----------|',
  '| Ratio Avg Win / Avg Loss | 3.00      |',
  '|--------------------------+-----------|',
  '| Expectancy               | 1.00      |',
  '+--------------------------+-----------+',
  '┌────────────────┬─────────────────────┬──────────────┬───────────────┬───────────┐',
  '│ Net Profit     ┆ Total Closed Trades ┆ % Profitable ┆ Profit Factor ┆ Avg Trade │',
  '╞════════════════╪═════════════════════╪══════════════╪═══════════════╪═══════════╡',
  '│ 4.00 USD 0.40% ┆ 2                   ┆ 33.33%       ┆ 3.000         ┆ 2.00 USD  │',
  '└────────────────┴─────────────────────┴──────────────┴───────────────┴───────────┘',
  '┌────────────────────────────────────────────────────────────┐',
  '│                                   ⡜⠉⠉⠉⠉⠉⠉⠉⠉⠉⠉⠉⠉⠢⣀          │ 1006.00',
  '│                                  ⡸               ⠑⢄        │',
  '│                                 ⢰⠁                 ⠉⠢⡀     │',
  '│                                ⢀⠇                    ⠈⠒⢄   │',
  '│                                ⡎                        ⠑⠤⡀│',
  '│                               ⡜                           ⠈│',
  '│                              ⡰⠁                            │',
  '│                             ⢠⠃                             │',
  '│                            ⢀⠎                              │',
  '│                            ⡜                               │',
  '│                           ⡸                                │',
  '│                          ⢰⠁                                │',
  '│                         ⢀⠇                                 │',
  '│                         ⡎                                  │',
  '│⣀⣀⣀⣀⣀⣀⣀⣀⣀⣀⣀⣀⣀⣀⣀⣀⣀⣀⣀⣀⣀⣀⣀⣀⡜                                   │ 1000.00',
  '└────────────────────────────────────────────────────────────┘',
  ' 1                                                          6',
  '',
].join('\n');

test('a fixed backtest prints exactly this report to a pipe, without escape sequences', () => {
  const out = piped('traded');
  assert.equal(out, EXPECTED_TRADED);
  assert.ok(!out.includes('\x1b'));
});

test('the report of a backtest without trades', async (t) => {
  const out = piped('untraded');
  const want = {
    'Net Profit': '0.00 USD', 'Gross Profit': '0.00 USD', 'Gross Loss': '0.00 USD',
    'Sharpe Ratio': 'NaN', 'Sortino Ratio': 'NaN', 'Profit Factor': 'NaN', 'Open P/L': '0.00 USD',
    'Total Closed Trades': '0', 'Number Winning Trades': '0', 'Number Losing Trades': '0',
    '% Profitable': 'NaN%', 'Avg Trade': 'NaN USD', 'Avg Winning Trade': 'NaN USD',
    'Avg Losing Trade': 'NaN USD', 'Ratio Avg Win / Avg Loss': 'NaN', Expectancy: 'NaN',
  };
  for (const [metric, value] of Object.entries(want)) await t.test(metric, () => assert.equal(rowOf(out, metric), value));
  // The second line of each profit cell is the share of the initial capital.
  const lines = out.split('\n');
  const i = lines.findIndex((l) => l.startsWith('| Net Profit '));
  assert.equal(lines[i + 1].split('|')[2].trim(), '0.00%');
  assert.ok(out.includes('│ 0.00 USD 0.00% ┆ 0 '));
});

test('a symbol without currency prints " ?" after amounts', () => {
  const out = piped('noCurrency');
  assert.equal(rowOf(out, 'Net Profit'), '4.00 ?');
  assert.equal(rowOf(out, 'Avg Trade'), '2.00 ?');
  assert.ok(out.includes('4.00 ? 0.40%'));
});

test('before any bar the chart is drawn empty and nothing fails', () => {
  const out = piped('fresh');
  assert.ok(out.includes('no data'));
  assert.equal(rowOf(out, 'Net Profit'), '0.00 USD');
});

test('display() returns undefined and changes nothing', () => {
  // Run in a child so that the report does not mix with this runner's output.
  const code = `
    const { SCENARIOS } = require(${JSON.stringify(FIXTURE)});
    const bt = SCENARIOS.traded();
    const before = JSON.stringify([bt.equityList, bt.netEquityList, bt.trades.length, bt.positionSize]);
    const r = bt.display();
    const after = JSON.stringify([bt.equityList, bt.netEquityList, bt.trades.length, bt.positionSize]);
    process.stderr.write(JSON.stringify({ undef: r === undefined, same: before === after }));`;
  const r = spawnSync(process.execPath, ['-e', code], { encoding: 'utf8' });
  assert.equal(r.status, 0, r.stderr);
  assert.deepEqual(JSON.parse(r.stderr), { undef: true, same: true });
  assert.equal(r.stdout, EXPECTED_TRADED);
});

test('the report figures agree with the backtest figures', () => {
  const bt = SCENARIOS.traded();
  const r = bt.returnsList;
  const mean = r.reduce((a, b) => a + b, 0) / r.length;
  const sd = Math.sqrt(r.reduce((a, x) => a + (x - mean) ** 2, 0) / r.length);
  assert.ok(EXPECTED_TRADED.includes(`| Sharpe Ratio             | ${((mean / sd) * 252).toFixed(3)} `));
  assert.equal(bt.netProfit, 4);
  assert.equal(bt.openProfit, -2);
});

const BOLD = '\x1b[1m';
const colored = (color, text) => `${BOLD}\x1b[${{ green: 32, red: 31, white: 37 }[color]}m${text}\x1b[0m`;

test('under a terminal the headline cells are bold and coloured by their rules', (t) => {
  const traded = underTerminal('traded');
  if (traded === null) return t.skip('no pseudo-terminal available');
  for (const h of ['Net Profit', 'Total Closed Trades', '% Profitable', 'Profit Factor', 'Avg Trade'])
    assert.ok(traded.includes(`${BOLD}${h}\x1b[0m`), h);
  assert.ok(traded.includes(colored('green', '4.00 USD 0.40%')));
  assert.ok(traded.includes(colored('white', '2')));
  assert.ok(traded.includes(colored('red', '33.33%')));
  assert.ok(traded.includes(colored('green', '3.000')));
  assert.ok(traded.includes(colored('white', '2.00 USD')));
  // The metrics table itself stays plain.
  assert.ok(!traded.split('┌')[0].includes('\x1b'));

  const losing = underTerminal('losing');
  assert.ok(losing.includes(colored('red', '-3.00 USD -0.30%')));
  assert.ok(losing.includes(colored('red', '0.00%')));
  assert.ok(losing.includes(colored('red', '0.000')));

  // NaN and values exactly at a threshold stay white.
  const untraded = underTerminal('untraded');
  assert.ok(untraded.includes(colored('white', '0.00 USD 0.00%')));
  assert.ok(untraded.includes(colored('white', 'NaN%')));
  assert.ok(untraded.includes(colored('white', 'NaN')));
  const even = underTerminal('even');
  assert.ok(even.includes(colored('white', '1.000')));
  assert.ok(even.includes(colored('white', '50.00%')));
});
