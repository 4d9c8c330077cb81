'use strict';
// Builds the add-on with AddressSanitizer and UndefinedBehaviorSanitizer and runs the JavaScript
// tests against it. The tests run from a copy of the tracked files whose build/ holds the
// instrumented add-on, so the regular build stays untouched.
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');

const root = path.join(__dirname, '..');
const work = path.join(root, 'build-asan');
const pkg = path.join(work, 'pkg');
const run = (cmd, args, opts = {}) => execFileSync(cmd, args, { cwd: root, stdio: 'inherit', ...opts });

// Build-time tools (the indicator listing) are instrumented too; they keep their registries for
// the life of the process, which is not a leak worth failing the build over.
run(process.execPath, [
  require.resolve('cmake-js/bin/cmake-js'), 'compile', '--out', path.join(work, 'build'),
  '--CDBARWISE_SANITIZE=ON', '--CDCMAKE_BUILD_TYPE=RelWithDebInfo',
], { env: { ...process.env, ASAN_OPTIONS: 'detect_leaks=0' } });

fs.rmSync(pkg, { recursive: true, force: true });
const files = execFileSync('git', ['ls-files', '-co', '--exclude-standard'], { cwd: root, encoding: 'utf8' })
  .split('\n').filter(Boolean);
for (const f of files) {
  const src = path.join(root, f);
  if (!fs.existsSync(src) || fs.statSync(src).isDirectory()) continue;
  const dst = path.join(pkg, f);
  fs.mkdirSync(path.dirname(dst), { recursive: true });
  fs.copyFileSync(src, dst);
}
fs.mkdirSync(path.join(pkg, 'build', 'Release'), { recursive: true });
fs.copyFileSync(path.join(work, 'build', 'Release', 'barwise.node'), path.join(pkg, 'build', 'Release', 'barwise.node'));
// Build outputs that the tests read besides the add-on (the indicator declarations listing).
for (const f of fs.readdirSync(path.join(work, 'build')).filter((n) => n.endsWith('.json'))) {
  fs.copyFileSync(path.join(work, 'build', f), path.join(pkg, 'build', f));
}
fs.symlinkSync(path.join(root, 'node_modules'), path.join(pkg, 'node_modules'));

const asanRuntime = execFileSync('g++', ['-print-file-name=libasan.so'], { encoding: 'utf8' }).trim();
const env = {
  ...process.env,
  LD_PRELOAD: asanRuntime,
  // The host process itself is not instrumented and keeps memory until exit by design.
  ASAN_OPTIONS: 'detect_leaks=0:abort_on_error=1:halt_on_error=1',
  UBSAN_OPTIONS: 'print_stacktrace=1:halt_on_error=1',
  BARWISE_SANITIZED: '1',
};
const testDir = path.join(pkg, 'tests', 'js');
const tests = fs.readdirSync(testDir).filter((f) => f.endsWith('.test.js')).map((f) => path.join('tests', 'js', f));
try {
  run(process.execPath, ['--expose-gc', '--test', '--test-concurrency=2', ...tests], { cwd: pkg, env });
} catch (e) {
  process.exit(e.status || 1);
}
