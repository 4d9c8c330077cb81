'use strict';
// npm install: use the prebuilt add-on shipped for this platform when it loads here, and build
// from source (CMake and a C++20 compiler) only when none does. Nothing is downloaded.
// `npm install --build-from-source` (or npm_config_build_from_source=true) always builds.
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { ROOT, prebuildName, prebuildFile } = require('./prebuild-target');

/** Loads the add-on in a child process, so a crash or a missing library cannot take npm down. */
function loads(file) {
  const r = spawnSync(process.execPath, ['-e', `require(${JSON.stringify(file)})._getCoreVersion()`], {
    encoding: 'utf8',
    timeout: 60_000,
  });
  return { ok: r.status === 0, why: r.error ? r.error.message : (r.stderr || '').trim().split('\n').slice(-1)[0] };
}

function buildFromSource() {
  const cmakeJs = require.resolve('cmake-js/bin/cmake-js', { paths: [ROOT] });
  const r = spawnSync(process.execPath, [cmakeJs, 'compile', '--out', 'build'], { cwd: ROOT, stdio: 'inherit' });
  if (r.error) throw r.error;
  return r.status ?? 1;
}

function main() {
  const name = prebuildName();
  const forced = /^(true|1|barwise)$/.test(process.env.npm_config_build_from_source || '');
  if (!forced) {
    const file = prebuildFile();
    if (fs.existsSync(file)) {
      const r = loads(file);
      if (r.ok) {
        console.log(`barwise: using the prebuilt add-on ${path.relative(ROOT, file)}`);
        return 0;
      }
      console.log(`barwise: the prebuilt add-on for ${name} does not load here (${r.why}); building from source`);
    } else {
      console.log(`barwise: no prebuilt add-on for ${name}; building from source`);
    }
  }
  return buildFromSource();
}

process.exitCode = main();
