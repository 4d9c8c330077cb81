'use strict';
// Installs the packed package the way a user would on a machine without build tools: a fresh
// folder, a PATH that holds nothing but node, npm and sh, `npm install <tarball>`, then the demo run
// from the installed package. Prints each command with its output, and fails unless the install
// took the prebuilt add-on and the demo ran.
//
//   node scripts/prebuild-install-check.js [TARBALL]
//
// Without a tarball it packs this folder with `npm pack --ignore-scripts`, so the prebuilt
// add-ons must already be in prebuilds/ (node scripts/prebuild.js).
const { execFileSync, spawnSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { ROOT, prebuildName } = require('./prebuild-target');

const TOOLS = ['cc', 'c++', 'gcc', 'g++', 'clang', 'clang++', 'cmake', 'make', 'ninja'];

/** The first file named `name` on a PATH, or null. */
function which(name, pathValue = process.env.PATH || '') {
  for (const dir of pathValue.split(path.delimiter).filter(Boolean)) {
    const f = path.join(dir, name);
    try {
      fs.accessSync(f, fs.constants.X_OK);
      return f;
    } catch {}
  }
  return null;
}

function show(cmd, args, options) {
  console.log(`$ ${[cmd, ...args].map((a) => (/[\s'"()&|;]/.test(a) ? `'${a.replace(/'/g, "'\\''")}'` : a)).join(' ')}`);
  const r = spawnSync(cmd, args, { encoding: 'utf8', ...options });
  const out = `${r.stdout || ''}${r.stderr || ''}`.trimEnd();
  if (out) console.log(out);
  if (r.status !== 0) throw new Error(`${cmd} ${args.join(' ')} exited with ${r.status ?? r.error}`);
  return r.stdout || '';
}

function main() {
  const npmCli = process.env.npm_execpath || (which('npm') && fs.realpathSync(/** @type {string} */ (which('npm'))));
  if (!npmCli) throw new Error('npm not found');
  const work = fs.mkdtempSync(path.join(os.tmpdir(), 'barwise-install-'));
  let tarball = process.argv[2] ? path.resolve(process.argv[2]) : '';
  if (!tarball) {
    const name = execFileSync(which('npm') || 'npm', ['pack', '--ignore-scripts', '--silent', '--pack-destination', work], { cwd: ROOT, encoding: 'utf8' })
      .trim()
      .split('\n')
      .pop();
    tarball = path.join(work, /** @type {string} */ (name));
  }

  // Nothing but node, npm and the shell that npm runs package scripts with on PATH, as in a
  // slim container image.
  const bin = path.join(work, 'bin');
  fs.mkdirSync(bin);
  fs.symlinkSync(process.execPath, path.join(bin, 'node'));
  fs.symlinkSync(npmCli, path.join(bin, 'npm'));
  if (process.platform !== 'win32') fs.symlinkSync('/bin/sh', path.join(bin, 'sh'));
  const app = path.join(work, 'app');
  fs.mkdirSync(app);
  fs.writeFileSync(path.join(app, 'package.json'), JSON.stringify({ name: 'app', private: true }, null, 2) + '\n');
  const env = { ...process.env, PATH: bin };
  for (const k of Object.keys(env)) if (/^npm_(config|package|lifecycle)_/.test(k)) delete env[k];
  const inApp = { cwd: app, env };

  console.log(`# ${prebuildName()}, Node.js ${process.version}, in ${app}`);
  console.log(`$ ls ${bin}\n${fs.readdirSync(bin).join(' ')}`);
  const found = TOOLS.filter((t) => which(t, env.PATH));
  console.log(`# build tools on PATH: ${found.length ? found.join(', ') : 'none'} (looked for ${TOOLS.join(', ')})`);
  if (found.length) throw new Error('the check needs a PATH without build tools');

  show('npm', ['install', '--foreground-scripts', '--no-audit', '--no-fund', tarball], inApp);
  const installed = path.join(app, 'node_modules', 'barwise');
  if (fs.existsSync(path.join(installed, 'build', 'Release'))) throw new Error('the install built the add-on from source');
  const loaded = show('node', ['-p', "require('barwise') && Object.keys(require.cache).find((f) => f.endsWith('.node'))"], inApp).trim();
  if (fs.realpathSync(loaded) !== fs.realpathSync(path.join(installed, 'prebuilds', prebuildName(), 'barwise.node')))
    throw new Error(`loaded ${loaded}, not the prebuilt add-on`);
  show('node', [path.join('node_modules', 'barwise', 'scripts', 'demo.js')], inApp);
  fs.rmSync(work, { recursive: true, force: true });
  return 0;
}

try {
  process.exitCode = main();
} catch (e) {
  console.error(`install check failed: ${/** @type {Error} */ (e).message}`);
  process.exitCode = 1;
}
