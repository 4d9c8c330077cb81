'use strict';
// Runs the JavaScript tests against one add-on file installed as a prebuilt add-on: the tracked
// files are copied to build-stage/<target>/ with the add-on as prebuilds/<target>/barwise.node and
// no build/Release, so the loader has to pick the prebuilt file, as in an installed package.
// Used for add-ons that the regular build does not make: the shipped prebuilds, other compilers
// and C++ libraries, other architectures under an emulator, other Node.js versions.
//
//   node scripts/prebuild-test.js --addon FILE [--node PATH] [--emulator CMD] [--stage DIR] [test files...]
//
// --stage copies to DIR instead of build-stage/<target> (for two runs side by side);
// --node runs the tests with another Node.js binary (of another version or architecture),
// --emulator runs that binary through an emulator ("qemu-aarch64 -L /usr/aarch64-linux-gnu"), one
// test file at a time; tests that start child processes then need the kernel to run the binary
// through the emulator by itself (binfmt_misc). The test files default to every tests/js/*.test.js.
const { execFileSync, spawnSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { ROOT, prebuildName } = require('./prebuild-target');

function parseArgs(argv) {
  const opts = { addon: '', target: '', stage: '', node: process.execPath, emulator: /** @type {string[]} */ ([]), tests: /** @type {string[]} */ ([]) };
  for (let i = 0; i < argv.length; i++) {
    const a = argv[i];
    if (a === '--addon') opts.addon = path.resolve(argv[++i]);
    else if (a === '--target') opts.target = argv[++i];
    else if (a === '--stage') opts.stage = path.resolve(argv[++i]);
    else if (a === '--node') opts.node = path.resolve(argv[++i]);
    else if (a === '--emulator') opts.emulator = argv[++i].split(/\s+/).filter(Boolean);
    else if (a.startsWith('--')) throw new Error(`unknown argument ${a}`);
    else opts.tests.push(a);
  }
  if (!opts.addon) throw new Error('--addon FILE is required');
  return opts;
}

/** Runs the Node.js binary under test, through the emulator when there is one. */
function nodeCommand(opts, args) {
  return opts.emulator.length ? [opts.emulator[0], [...opts.emulator.slice(1), opts.node, ...args]] : [opts.node, args];
}

/** What the Node.js binary under test calls its platform, e.g. "linux-arm64". */
function targetOf(opts) {
  const code = `process.stdout.write(require(${JSON.stringify(path.join(__dirname, 'prebuild-target.js'))}).prebuildName())`;
  const [cmd, args] = nodeCommand(opts, ['-e', code]);
  return execFileSync(cmd, args, { encoding: 'utf8' });
}

function stage(opts) {
  const dir = opts.stage || path.join(ROOT, 'build-stage', opts.target);
  fs.rmSync(dir, { recursive: true, force: true });
  const files = execFileSync('git', ['ls-files', '-co', '--exclude-standard'], { cwd: ROOT, encoding: 'utf8' })
    .split('\n')
    .filter((f) => f && !/^(build|prebuilds)\//.test(f));
  for (const f of files) {
    const src = path.join(ROOT, f);
    if (!fs.existsSync(src) || fs.statSync(src).isDirectory()) continue;
    fs.mkdirSync(path.dirname(path.join(dir, f)), { recursive: true });
    fs.copyFileSync(src, path.join(dir, f));
  }
  const dest = path.join(dir, 'prebuilds', opts.target, 'barwise.node');
  fs.mkdirSync(path.dirname(dest), { recursive: true });
  fs.copyFileSync(opts.addon, dest);
  // The indicator listing that the parity tests read: the add-on's own build folder's, or the
  // regular build's (it does not depend on the compiler or the architecture).
  const listing = [path.join(path.dirname(path.dirname(opts.addon)), 'indicators.json'), path.join(ROOT, 'build', 'indicators.json')].find(
    (f) => fs.existsSync(f),
  );
  if (listing) {
    fs.mkdirSync(path.join(dir, 'build'), { recursive: true });
    fs.copyFileSync(listing, path.join(dir, 'build', 'indicators.json'));
  }
  fs.symlinkSync(path.join(ROOT, 'node_modules'), path.join(dir, 'node_modules'), 'junction');
  return { dir, dest };
}

function main() {
  const opts = parseArgs(process.argv.slice(2));
  if (!opts.target) opts.target = targetOf(opts);
  const { dir, dest } = stage(opts);

  // The staged package must load exactly the staged file.
  const probeCode = "const b = require('barwise'); console.log(Object.keys(require.cache).find((f) => f.endsWith('.node')), process.version, b._getCoreVersion())";
  const probe = spawnSync(...nodeCommand(opts, ['-e', probeCode]), { cwd: dir, encoding: 'utf8' });
  const loaded = (probe.stdout || '').trim().split(' ');
  if (probe.status !== 0 || fs.realpathSync(loaded[0] || dir) !== fs.realpathSync(dest)) {
    console.error(`the staged package did not load ${dest}:\n${probe.stdout}${probe.stderr}`);
    return 1;
  }
  console.log(`testing ${path.relative(ROOT, opts.addon)} as prebuilds/${opts.target} with Node.js ${loaded[1]}`);

  const tests = opts.tests.length
    ? opts.tests
    : fs.readdirSync(path.join(dir, 'tests', 'js')).filter((f) => f.endsWith('.test.js')).map((f) => path.join('tests', 'js', f));
  if (!opts.emulator.length) {
    const r = spawnSync(...nodeCommand(opts, ['--expose-gc', '--test', '--test-concurrency=2', ...tests]), { cwd: dir, stdio: 'inherit' });
    return r.status ?? 1;
  }
  // The test runner starts a child process per file with its own binary, which the kernel cannot
  // run without an emulator registered with it: under an emulator each file runs on its own.
  const failed = [];
  for (const t of tests) {
    const r = spawnSync(...nodeCommand(opts, ['--expose-gc', t]), { cwd: dir, stdio: 'inherit' });
    if (r.status !== 0) failed.push(t);
  }
  if (failed.length) console.log(`failed under ${opts.emulator[0]}: ${failed.join(', ')}`);
  console.log(`files: ${tests.length - failed.length} passed, ${failed.length} failed`);
  return failed.length ? 1 : 0;
}

process.exitCode = main();
