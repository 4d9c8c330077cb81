'use strict';
// How every benchmark times a workload: untimed warm-up runs, then timed runs, each from a fresh
// state and after a full collection when the collector is exposed (--expose-gc). A result holds
// the median wall time and the median CPU time of this process (all its threads: the steadier
// figure on a shared machine), and both per item when the workload says how many items (bars,
// objects, calls) one run handles.

function median(xs) {
  const s = [...xs].sort((a, b) => a - b);
  const m = s.length >> 1;
  return s.length % 2 ? s[m] : (s[m - 1] + s[m]) / 2;
}

// `run(state)` is timed; `prepare()` builds its state untimed before each run; `onResult(out)`
// sees each run's result untimed. The last result is returned as `last`.
function options({ prepare, onResult, runs = 5, warmup = 1, n } = {}) {
  return { prepare: prepare || (() => undefined), onResult: onResult || (() => {}), runs, warmup, n };
}

// The clock of one measurement: start and stop around each run, warm-up runs left out.
function clock({ runs, warmup, n }) {
  const wall = [];
  const cpu = [];
  let done = 0;
  let c0;
  let t0;
  return {
    total: warmup + runs,
    start() {
      global.gc?.();
      c0 = process.cpuUsage();
      t0 = process.hrtime.bigint();
    },
    stop() {
      const t1 = process.hrtime.bigint();
      const c1 = process.cpuUsage(c0);
      if (done++ >= warmup) {
        wall.push(Number(t1 - t0) / 1e6);
        cpu.push((c1.user + c1.system) / 1e3);
      }
    },
    result(last) {
      const ms = median(wall);
      const cpuMs = median(cpu);
      const per = (x) => (n ? (x * 1e6) / n : undefined);
      return { ms, cpuMs, ns: per(ms), cpuNs: per(cpuMs), n, wall, cpu, last };
    },
  };
}

function measure(run, opts) {
  const o = options(opts);
  const c = clock(o);
  let last;
  for (let r = 0; r < c.total; r++) {
    last = undefined;
    const state = o.prepare();
    c.start();
    last = run(state);
    c.stop();
    o.onResult(last);
  }
  return c.result(last);
}

// The same for a workload that returns a promise: each run lasts until it settles.
async function measureAsync(run, opts) {
  const o = options(opts);
  const c = clock(o);
  let last;
  for (let r = 0; r < c.total; r++) {
    last = undefined;
    const state = await o.prepare();
    c.start();
    last = await run(state);
    c.stop();
    o.onResult(last);
  }
  return c.result(last);
}

// One line of a result: `label   wall ms   cpu ms   ns/unit   cpu ns/unit`.
function line(label, m, unit = 'bar') {
  const f = (x, w) => (x === undefined ? '' : x.toFixed(1)).padStart(w);
  const per = m.n ? `   ${f(m.ns, 9)} ns/${unit} ${f(m.cpuNs, 9)} cpu ns/${unit}` : '';
  return `${label.padEnd(44)} ${f(m.ms, 9)} ms ${f(m.cpuMs, 9)} cpu ms${per}`;
}

module.exports = { median, measure, measureAsync, line };
