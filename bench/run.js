'use strict';
// Runs every benchmark script in this folder, one after the other: `npm run bench`.
// Pass names to run a subset: `npm run bench -- ohlcv ctx`.
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');

const only = process.argv.slice(2);
const scripts = fs.readdirSync(__dirname)
  .filter((f) => f.endsWith('.bench.js'))
  .filter((f) => only.length === 0 || only.some((o) => f.startsWith(o)))
  .sort();
// One failing script does not keep the others (the comparison table last of all) from running.
const failed = [];
for (const s of scripts) {
  console.log(`\n== ${s}`);
  try {
    execFileSync(process.execPath, ['--expose-gc', path.join(__dirname, s)], { stdio: 'inherit' });
  } catch (e) {
    failed.push(s);
  }
}
if (failed.length) {
  console.error(`\nfailed: ${failed.join(', ')}`);
  process.exit(1);
}
