'use strict';
// Builds the C++ unit tests of the core and runtime (no Node-API involved) and runs them with CTest.
const { execFileSync } = require('node:child_process');
const os = require('node:os');
const path = require('node:path');

const root = path.join(__dirname, '..');
const dir = path.join(root, process.env.BARWISE_CPP_BUILD_DIR || 'build-tests');
const jobs = String(Math.max(1, os.cpus().length));
const run = (cmd, args) => execFileSync(cmd, args, { cwd: root, stdio: 'inherit' });

run('cmake', ['-S', '.', '-B', dir, '-DBARWISE_TESTS=ON', '-DCMAKE_BUILD_TYPE=Release']);
run('cmake', ['--build', dir, '-j', jobs]);
run('ctest', ['--test-dir', dir, '--output-on-failure', '-j', jobs]);
