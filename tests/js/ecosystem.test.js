'use strict';
// The package around the add-on: both module entries, the type declarations, the generated
// files, the bundled sample bars, the demo and every example.
const test = require('node:test');
const assert = require('node:assert/strict');
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');

const root = path.join(__dirname, '..', '..');
// Through the package's own name (a self-reference resolved by its "exports").
const barwise = require('barwise');
const { CORE_EXPORTS, indicatorClasses } = require('../../scripts/gen-types');

const DECLARED = [...CORE_EXPORTS, ...indicatorClasses()];

function run(args, options = {}) {
  return spawnSync(process.execPath, args, { cwd: root, encoding: 'utf8', timeout: 120_000, ...options });
}

test('entries: CommonJS and ES module load the same add-on', async (t) => {
  await t.test('require by name is the main entry', () => {
    assert.equal(barwise, require('../..'));
    assert.equal(barwise._getCoreVersion(), '0.2.9');
  });

  await t.test('import by name gives a named export for every add-on export, and the default', async () => {
    const esm = await import('barwise');
    assert.equal(esm.default, barwise);
    for (const name of Object.keys(barwise)) assert.equal(esm[name], barwise[name], name);
  });

  await t.test('a plain ES module outside the tests imports named classes', () => {
    const code =
      "import { NodeOhlcv, NodeTimeframe, _getCoreVersion } from 'barwise';" +
      "const s = new NodeOhlcv(); s.timeframe = NodeTimeframe.fromString('15m');" +
      'console.log(_getCoreVersion(), s.length, String(s.timeframe));';
    const r = run(['--input-type=module', '-e', code]);
    assert.equal(r.status, 0, r.stderr);
    assert.equal(r.stdout.trim(), '0.2.9 0 15m');
  });
});

test('declarations: the export list matches the add-on', async (t) => {
  const exported = Object.keys(barwise).sort();
  await t.test('every add-on export is declared in index.d.ts and exported by index.mjs', () => {
    const dts = fs.readFileSync(path.join(root, 'index.d.ts'), 'utf8');
    const inDts = new Set([...dts.matchAll(/^export declare (?:class|function) (\w+)/gm)].map((m) => m[1]));
    for (const name of exported) {
      assert.ok(DECLARED.includes(name), `${name} is exported by the add-on but missing from the export list`);
      assert.ok(inDts.has(name), `${name} has no declaration in index.d.ts`);
    }
    assert.deepEqual([...inDts].sort(), [...DECLARED].sort());
  });

  await t.test('nothing is declared that the add-on does not export', () => {
    assert.deepEqual([...DECLARED].sort(), exported);
  });

  await t.test('every member of every class is declared, and every declared member exists', () => {
    const dts = fs.readFileSync(path.join(root, 'index.d.ts'), 'utf8');
    const absent = [];
    for (const [, name, body] of dts.matchAll(/^export declare class (\w+)[^{]*\{([^]*?)^\}/gm)) {
      const cls = barwise[name];
      assert.equal(typeof cls, 'function', `${name} is declared as a class but not exported as one`);
      const declared = { static: new Set(), member: new Set() };
      for (const line of body.split('\n')) {
        const m = line.match(/^ {2}(static )?(?:readonly |get |set )?(\w+|\[Symbol\.iterator\])[?(:]/);
        if (m && m[2] !== 'constructor') declared[m[1] ? 'static' : 'member'].add(m[2]);
      }
      const members = Object.getOwnPropertyNames(cls.prototype).filter((n) => n !== 'constructor');
      const statics = Object.getOwnPropertyNames(cls).filter((n) => !['length', 'name', 'prototype', 'arguments', 'caller'].includes(n));
      for (const n of members) assert.ok(declared.member.has(n), `${name}.prototype.${n} is not declared`);
      for (const n of statics) assert.ok(declared.static.has(n), `${name}.${n} is not declared`);
      // Iteration members are own properties of each object, not of the prototype.
      const own = ['next', 'return', 'throw', '[Symbol.iterator]'];
      for (const n of declared.member) if (!members.includes(n) && !own.includes(n)) absent.push(`${name}#${n}`);
      for (const n of declared.static) if (!statics.includes(n)) absent.push(`${name}.${n}`);
    }
    assert.deepEqual(absent, [], 'declared members the add-on lacks');
  });

  await t.test('generated files are up to date with the indicator declarations', () => {
    const r = run([path.join('scripts', 'gen-types.js'), '--check']);
    assert.equal(r.status, 0, r.stderr);
  });

  await t.test('tsc --strict accepts the examples and the types tests, and rejects each marked mistake', (t) => {
    let tsc;
    try {
      const pkg = require.resolve('typescript/package.json', { paths: [root] });
      tsc = path.join(path.dirname(pkg), require(pkg).bin.tsc);
    } catch {
      return t.skip('typescript is not installed (npm install brings it as a dev dependency)');
    }
    const r = run([tsc, '--noEmit', '--strict', '-p', path.join('tests', 'types', 'tsconfig.json')]);
    assert.equal(r.status, 0, r.stdout + r.stderr);
  });
});

test('package contents: what an install needs to build and run, and no tests or build output', (t) => {
  const npm = process.platform === 'win32' ? 'npm.cmd' : 'npm';
  const r = spawnSync(npm, ['pack', '--dry-run', '--json', '--ignore-scripts'], { cwd: root, encoding: 'utf8' });
  if (r.error) return t.skip(`npm is not available: ${r.error.message}`);
  assert.equal(r.status, 0, r.stderr);
  const files = new Set(JSON.parse(r.stdout)[0].files.map((f) => f.path));
  const needed = ['index.js', 'index.mjs', 'index.d.ts', 'index.d.mts', 'package.json', 'CMakeLists.txt', 'data/btcusd-1h.csv', 'data/sample.js', 'scripts/demo.js', 'js/html-report.js'];
  // Every folder the build reads sources from.
  const cmake = fs.readFileSync(path.join(root, 'CMakeLists.txt'), 'utf8');
  const dirs = new Set([...cmake.matchAll(/\$\{CMAKE_SOURCE_DIR\}\/(\w+)\//g)].map((m) => m[1]).filter((d) => d !== 'tests'));
  for (const d of dirs)
    for (const f of fs.readdirSync(path.join(root, d), { recursive: true }))
      if (fs.statSync(path.join(root, d, f)).isFile()) needed.push(`${d}/${f}`);
  for (const f of fs.readdirSync(path.join(root, 'examples'))) needed.push(`examples/${f}`);
  for (const f of needed) assert.ok(files.has(f), `${f} is not in the package`);
  for (const f of files) assert.ok(!/^(tests|build|bench|node_modules)\//.test(f), `${f} should not be in the package`);
});

test('sample bars: the generator reproduces the committed file', () => {
  const { generate } = require('../../scripts/gen-bars');
  const committed = fs.readFileSync(path.join(root, 'data', 'btcusd-1h.csv'), 'utf8');
  const text = generate();
  assert.ok(text === committed, 'data/btcusd-1h.csv differs from the output of scripts/gen-bars.js');
  const rows = text.trim().split('\n');
  assert.equal(rows[0], 'open_time,open,high,low,close,volume');
  assert.equal(rows.length - 1, 731 * 24);
  for (const row of rows.slice(1)) {
    const [, open, high, low, close, volume] = row.split(',').map(Number);
    assert.ok(low > 0 && low <= Math.min(open, close) && high >= Math.max(open, close) && volume > 0, row);
  }
});

// Each runnable program and the lines its output must contain.
const PROGRAMS = [
  {
    file: 'scripts/demo.js',
    expect: [/^SMA 12\/240 cross on 17544 1h bars of BTCUSD/m, /Net Profit/, /^Sharpe ratio annualised by the square root of 8760 bars a year: -?\d+\.\d{3}, Sortino -?\d+\.\d{3}$/m, /^\/\/@version=5$/m, /^trades = array\.from<Trade>\(/m],
  },
  {
    file: 'examples/streaming.js',
    expect: [/^streamed 48 bars; context at bar 47$/m, /^2023-01-02T23:00:00\.000Z {2}close \d+ {2}rsi\(14\) \d+\.\d\d$/m],
  },
  {
    file: 'examples/collect.js',
    expect: [/^17544 bars, 17544 results per indicator$/m, /^ema\(50\): +first value on bar 49,/m, /^rsi\(14\): +first value on bar 14,/m],
  },
  {
    file: 'examples/resample.js',
    expect: [/^4320 bars of 1m -> 72 bars of 1h, 18 bars of 4h$/m, /^00:00-01:00 {2}open 100\.00 /m],
  },
  {
    file: 'examples/csv.js',
    expect: [/^loaded 17544 bars of 1h from btcusd-1h\.csv$/m, /^first: OhlcvBar \{ open_time: Some\(2023-01-01T00:00:00Z\), close_time: None, open: 16500\.0, high: 16621\.0,/m],
  },
  {
    file: 'examples/load-csv.js',
    expect: [/^loaded 17544 bars of 1h from btcusd-1h\.csv in \d+\.\d ms$/m, /^last: +OhlcvBar \{ open_time: Some\(2024-12-31T23:00:00Z\),/m],
  },
  {
    file: 'examples/sweep.js',
    expect: [/^16 backtests on \d+ worker threads$/m, /^best: fast=\d+ slow=\d+ net profit -?\d+\.\d\d$/m],
  },
  {
    file: 'examples/report.js',
    expect: [/^\d+ closed trades, net profit -?\d+\.\d\d USD$/m, /^report written to .*barwise-report\.html$/m],
  },
];

test('programs: the demo and every example run', async (t) => {
  const listed = new Set(PROGRAMS.map((p) => p.file));
  await t.test('every example is in the table', () => {
    for (const f of fs.readdirSync(path.join(root, 'examples')).filter((f) => f.endsWith('.js')))
      assert.ok(listed.has(`examples/${f}`), `examples/${f} is not run by this test`);
  });

  for (const { file, expect } of PROGRAMS) {
    await t.test(file, () => {
      const r = run([file]);
      assert.equal(r.status, 0, `exit ${r.status}\n${r.stderr}`);
      for (const re of expect) assert.match(r.stdout, re);
    });
  }
});
