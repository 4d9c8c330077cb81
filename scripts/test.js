'use strict';
// Every test: the C++ unit tests, then the JavaScript tests against the built add-on.
const { execFileSync } = require('node:child_process');
const path = require('node:path');

const root = path.join(__dirname, '..');
const run = (cmd, args) => execFileSync(cmd, args, { cwd: root, stdio: 'inherit' });

try {
  run(process.execPath, [path.join(__dirname, 'test-cpp.js')]);
  run(process.execPath, ['--expose-gc', '--test', '--test-concurrency=2', 'tests/js/']);
} catch (e) {
  process.exit(e.status || 1);
}
