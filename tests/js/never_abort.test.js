'use strict';
// The add-on never ends its host process. Each case runs in a child process under --expose-gc,
// throwing add-on errors in a loop that also makes garbage, so that collections (and whatever
// they set off) happen while an error is on its way out. The child must exit 0; an abort fails
// the case with the child's stderr.
const test = require('node:test');
const assert = require('node:assert/strict');
const { spawnSync } = require('node:child_process');
const path = require('node:path');

const ROOT = path.join(__dirname, '..', '..');
const FUZZ = path.join(__dirname, 'fuzz.test.js');
const PRESSURE = path.join(__dirname, 'gc_pressure.js');

function child(args, extra = {}) {
  // The child runs on its own, not as part of this test run.
  const env = { ...process.env, ...extra };
  delete env.NODE_TEST_CONTEXT;
  const r = spawnSync(process.execPath, args, {
    cwd: ROOT,
    env,
    encoding: 'utf8',
    maxBuffer: 64 * 1024 * 1024,
  });
  const how = r.status === null ? `signal ${r.signal}` : `status ${r.status}`;
  assert.equal(r.status, 0, `child ended with ${how}\n${(r.stderr || '').slice(-6000)}\n${(r.stdout || '').slice(-3000)}`);
  return r.stdout;
}

// A loop that throws `attempts` times, keeping a rolling window of fresh add-on objects (each
// becomes garbage a thousand iterations later) and asking for a collection now and then.
function loop(setup, body, iterations = 30_000) {
  const source = `
    'use strict';
    const b = require(${JSON.stringify(ROOT)});
    ${setup}
    let keep = [];
    let thrown = 0;
    for (let i = 0; i < ${iterations}; i++) {
      keep.push(new b.NodeOhlcvBar(), b.NodeTimeframe.Days(i), new b.NodeOhlcv());
      if (keep.length > 3000) keep = [];
      if (i % 5000 === 0) gc({ type: 'minor' });
      try { ${body}; } catch (e) { thrown++; }
    }
    if (thrown === 0) throw new Error('the loop never threw');
  `;
  child(['--expose-gc', '-e', source]);
}

test('the reported loop: bars made while head() throws', () => {
  child(['--expose-gc', '-e', `
    const { NodeOhlcv, NodeOhlcvBar } = require(${JSON.stringify(ROOT)});
    const s = new NodeOhlcv(); let keep = [];
    for (let i = 0; i < 3e5; i++) { keep.push(new NodeOhlcvBar()); if (keep.length > 1000) keep = []; try { s.head(5); } catch {} }
  `]);
});

const SERIES = `
  const s = new b.NodeOhlcv();
  for (let i = 0; i < 50; i++) s.push(new b.NodeOhlcvBar(new Date(i * 60e3), new Date((i + 1) * 60e3), 1, 2, 0.5, 1.5, 10));
  s.timeframe = b.NodeTimeframe.Minutes(1);
  const sma = () => b.Incr_fn_sma_059403.make(new b.NodeCtx(s));
  const boom = new Error('from a getter');
  const throwing = { get open_time() { throw boom; } };
  const holey = [1, 2, 3]; Object.defineProperty(holey, 1, { get() { throw boom; } });
`;

const ERRORS = [
  ['conversion: a number expected', '', 'b.NodeTimeframe.Days("x")'],
  ['conversion: a text expected, shown as JSON', '', 'b.NodeTimeframe.fromString({ a: [1, 2] })'],
  ['conversion: an instance of another class', SERIES, 's.push(b.NodeTimeframe.Days(1))'],
  ['conversion: a receiver of another class', SERIES, 'b.NodeOhlcv.prototype.at.call({}, 0)'],
  ['conversion: an invalid date', '', 'new b.NodeOhlcvBar(new Date(8.64e15))'],
  ['operation: a range outside the series', '', 'new b.NodeOhlcv().head(5)'],
  ['operation: a timeframe without a length', '', 'b.NodeTimeframe.Ticks(1).toDurationS()'],
  ['operation: a record with a missing field', '', 'b.NodeSignal.fromJSON({})'],
  ['operation: a bad date in JSON', '', 'b.NodeOhlcvBar.fromJSON({ open_time: "x" })'],
  ['operation: the iteration protocol', SERIES, 'new b.NodeCtx(s).next(1)'],
  ['inside collect: an element of the wrong type', SERIES, 'sma().collect(["x"], 2)'],
  ['inside collect: an element getter throws', SERIES, 'sma().collect(holey, 2)'],
  ['inside next: no bar to read', '', 'b.Incr_fn_sma_059403.make(new b.NodeCtx()).next(1, 2)'],
  ['a getter throws while an argument is read', SERIES, 'b.NodeOhlcvBar.fromJSON(throwing)'],
];

for (const [name, setup, body] of ERRORS) {
  test(`errors thrown under collection pressure: ${name}`, () => loop(setup, body));
}

const SEEDS = [1, 2, 3, 4, 5, 6];
for (const seed of SEEDS) {
  test(`the fuzz test in a child process, seed ${seed}`, () => {
    const out = child(['--expose-gc', '-r', PRESSURE, FUZZ], { BARWISE_FUZZ_SEED: String(seed), BARWISE_FUZZ_CALLS: '20000' });
    assert.match(out, /# pass 1\b/);
  });
}
