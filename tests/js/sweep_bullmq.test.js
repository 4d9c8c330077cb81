'use strict';
// barwise/sweep-bullmq against a real redis-server started here on a loopback port, with two
// worker processes: the rows must equal the local sweep's. Skipped, saying why, when there is no
// redis-server or no Redis client for BullMQ.
const test = require('node:test');
const { CROSS_SOURCE } = require('./support/sweep');
const assert = require('node:assert/strict');
const { spawn, spawnSync } = require('node:child_process');
const fs = require('node:fs');
const net = require('node:net');
const os = require('node:os');
const path = require('node:path');
const bw = require('../..');
const { series, walk } = require('./support/market');
const { stock } = require('./support/backtest');

const ROOT = path.join(__dirname, '..', '..');

function missing() {
  if (spawnSync('redis-server', ['--version']).error) return 'redis-server is not installed (Debian package redis-server)';
  try {
    require.resolve('ioredis');
  } catch {
    return 'BullMQ has no Redis client here (the ioredis package is not installed)';
  }
  return null;
}

function freePort() {
  return new Promise((resolve, reject) => {
    const srv = net.createServer();
    srv.once('error', reject);
    srv.listen(0, '127.0.0.1', () => {
      const { port } = /** @type {net.AddressInfo} */ (srv.address());
      srv.close(() => resolve(port));
    });
  });
}

// Resolves once the child has printed `text`; rejects if it ends first.
function started(child, text) {
  return new Promise((resolve, reject) => {
    let seen = '';
    const onData = (d) => {
      seen += d;
      if (seen.includes(text)) resolve(undefined);
    };
    child.stdout.on('data', onData);
    child.stderr.on('data', onData);
    child.once('exit', (code) => reject(new Error(`${child.spawnfile} ended (${code}) before "${text}":\n${seen}`)));
  });
}

const reason = missing();

test('sweep on BullMQ workers gives the local rows', { skip: reason ?? false, timeout: 120_000 }, async (t) => {
  const port = await freePort();
  // The server runs without the sanitizer runtime a sanitizer test run preloads into this process.
  const env = { ...process.env };
  delete env.LD_PRELOAD;
  const redis = spawn('redis-server', ['--port', String(port), '--bind', '127.0.0.1', '--save', '', '--appendonly', 'no'],
    { stdio: ['ignore', 'pipe', 'pipe'], env });
  const children = [redis];
  t.after(() => {
    for (const c of children) if (c.exitCode === null) c.kill();
  });
  await started(redis, 'Ready to accept connections');

  const connection = { host: '127.0.0.1', port };
  const queueName = 'barwise-test';
  const workerScript = `
    const { startWorker } = require(${JSON.stringify(path.join(ROOT, 'js', 'sweep-bullmq.js'))});
    startWorker({ connection: ${JSON.stringify(connection)}, queueName: ${JSON.stringify(queueName)} })
      .waitUntilReady().then(() => console.log('worker ready'));`;
  for (let i = 0; i < 2; i++) {
    const w = spawn(process.execPath, ['-e', workerScript], { stdio: ['ignore', 'pipe', 'pipe'] });
    children.push(w);
    await started(w, 'worker ready');
  }

  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'barwise-bullmq-'));
  t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
  const strategy = path.join(dir, 'cross.js');
  fs.writeFileSync(strategy, CROSS_SOURCE);
  const request = {
    strategy, params: { fast: [3, 5, 8, 30], slow: [10, 21, 25] },
    series: [
      { symbol: 'AAA', ohlcv: series(walk(500, { seed: 3, move: 0.04 })), sym: stock() },
      { symbol: 'BBB', ohlcv: series(walk(300, { seed: 4, move: 0.04 })), sym: stock() },
    ],
  };
  const { runSweep } = require('../../js/sweep-bullmq');
  const local = await bw.sweep({ ...request, workers: 2 });
  const progress = [];
  const remote = await runSweep({ ...request, onProgress: (p) => progress.push(p.done) }, { connection, queueName, chunkSize: 3 });

  await t.test('the same rows, heatmap and errors', () => {
    assert.equal(remote.rows.length, 18);
    assert.deepEqual(remote.rows, local.rows);
    assert.deepEqual(remote.heatmap, local.heatmap);
    assert.deepEqual(remote.errors, local.errors);
  });
  await t.test('one job per series and chunk of three sets, counted once each', () => {
    assert.equal(remote.jobs, 8);
    assert.equal(progress.at(-1), 24);
  });
  await t.test('the same sweep again reuses its jobs', async () => {
    const again = await runSweep(request, { connection, queueName, chunkSize: 3 });
    assert.equal(again.sweepId, remote.sweepId);
    assert.deepEqual(again.rows, local.rows);
  });
});
