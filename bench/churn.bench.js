'use strict';
// Ten million objects of each small value class, made and dropped in one synchronous loop that
// never yields to the event loop: memory that only goes when the event loop turns piles up here.
// Each class runs in a process of its own, so that one class's peak does not carry into the next;
// the figures are that process's peak resident size (from the kernel), its resident size before
// and after the loop, and the time per object.
//
//   node --expose-gc bench/churn.bench.js             # every class
//   node --expose-gc bench/churn.bench.js NodeSym     # one class, one JSON line
const { execFileSync } = require('node:child_process');
const os = require('node:os');
const b = require('..');
const { measure } = require('./measure');

const N = Number(process.env.BARWISE_CHURN || 10_000_000);

// A backtest holding one open long, for the classes that only a backtest hands out.
function openTrade() {
  const t0 = Date.UTC(2024, 0, 1);
  const bars = [0, 1, 2].map((i) => new b.NodeOhlcvBar(new Date(t0 + i * 60e3), new Date(t0 + (i + 1) * 60e3),
    100, 101, 99, 100, 1));
  const series = b.NodeOhlcv.fromBars(bars);
  series.timeframe = b.NodeTimeframe.Minutes(1);
  const bt = new b.NodeBacktest(new b.NodeCtx(series, b.NodeSym.BTC_USD()), 1000);
  bt.next();
  bt.signal(b.NodeSignal.Size(1));
  bt.next();
  return bt;
}

// For each class: how one object is made, and a maker for object number i.
const KINDS = {
  NodeTimeframe: ['NodeTimeframe.Days(i)', () => (i) => b.NodeTimeframe.Days(i)],
  NodeOhlcvBar: ['new NodeOhlcvBar(null, null, i, i, i, i, i)', () => (i) => new b.NodeOhlcvBar(null, null, i, i, i, i, i)],
  NodeSignal: ['NodeSignal.Size(i)', () => (i) => b.NodeSignal.Size(i)],
  NodeSym: ['NodeSym.BTC_USD()', () => () => b.NodeSym.BTC_USD()],
  NodeSymKind: ['NodeSymKind.Crypto()', () => () => b.NodeSymKind.Crypto()],
  NodeTrade: ['bt.openTrades (a one-element array each)', () => {
    const bt = openTrade();
    return () => bt.openTrades;
  }],
  NodeTradeEvent: ['trade.entry', () => {
    const trade = openTrade().openTrades[0];
    return () => trade.entry;
  }],
  NodeTradeDirection: ['NodeTradeDirection.fromNumber(±1)', () => (i) => b.NodeTradeDirection.fromNumber(i & 1 ? 1 : -1)],
  NodeCtxSkip: ['NodeCtxSkip.bars(i)', () => (i) => b.NodeCtxSkip.bars(i)],
};

const mb = (x) => Math.round(x / 1e5) / 10;

function child(name) {
  const [how, setup] = KINDS[name];
  const make = setup();
  global.gc?.();
  const start = process.memoryUsage().rss;
  const m = measure(() => {
    let last;
    for (let i = 0; i < N; i++) last = make(i);
    return last;
  }, { runs: 1, warmup: 0, n: N });
  const end = process.memoryUsage().rss;
  // maxRSS is in kibibytes.
  const peak = process.resourceUsage().maxRSS * 1024;
  process.stdout.write(`${JSON.stringify({ class: name, how, n: N, ns: m.ns, cpuNs: m.cpuNs, start, peak, end })}\n`);
}

function main() {
  const load = [os.loadavg()[0]];
  const rows = [];
  for (const name of Object.keys(KINDS)) {
    const out = execFileSync(process.execPath, ['--expose-gc', __filename, name], { encoding: 'utf8' });
    const r = JSON.parse(out.trim().split('\n').pop());
    rows.push({
      class: r.class, made: r.how, count: r.n, 'ns/object': Math.round(r.ns), 'cpu ns/object': Math.round(r.cpuNs),
      'rss start MB': mb(r.start), 'peak rss MB': mb(r.peak), 'rss end MB': mb(r.end),
    });
  }
  load.push(os.loadavg()[0]);
  console.table(rows);
  console.log(`load average (1 minute) ${load[0].toFixed(2)} at the start, ${load[1].toFixed(2)} at the end, ${os.cpus().length} cores`);
}

if (process.argv[2]) child(process.argv[2]);
else main();
