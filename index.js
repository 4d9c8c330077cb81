'use strict';
// Loads the native add-on, adds the JavaScript-side members (js/) and exports it.
//
// Where the add-on comes from, first that loads wins:
//  1. build/Release, made in this folder: a developer's build of the current sources, or the
//     install script's build from source, which it only makes when no prebuilt add-on loads here
//     (so a working prebuilt add-on never has a build beside it to shadow it);
//  2. prebuilds/<platform>-<arch>[-musl]/barwise.node, shipped in the package.
const fs = require('node:fs');
const path = require('node:path');
const { prebuildName, prebuildFile, localBuildFile } = require('./scripts/prebuild-target');

function load() {
  const failures = [];
  for (const file of [localBuildFile(__dirname), prebuildFile(__dirname)]) {
    if (!fs.existsSync(file)) continue;
    try {
      return require(file);
    } catch (e) {
      failures.push(`${path.relative(__dirname, file)}: ${/** @type {Error} */ (e).message}`);
    }
  }
  const err = new Error(
    `barwise: no native add-on loads on ${prebuildName()} with Node.js ${process.versions.node}. ` +
      (failures.length ? `Tried ${failures.join('; ')}. ` : 'The package ships no prebuilt add-on for this platform. ') +
      'Build one from source with `npm rebuild barwise --build-from-source` (needs CMake 3.20 or newer and a C++20 compiler).',
  );
  /** @type {any} */ (err).code = 'MODULE_NOT_FOUND';
  throw err;
}

module.exports = load();

// JavaScript-side extensions of the add-on's classes (the browser report).
require('./js/html-report').attach(module.exports);

// The indicator classes under their friendly names (`indicators.sma`), generated from the
// indicator declarations; not enumerable, so the export list stays the add-on's own.
Object.defineProperty(module.exports, 'indicators', {
  configurable: true,
  enumerable: false,
  get: () => require('./indicators.js'),
});
// Parameter sweeps, loaded on first use; not enumerable, so the export list stays the add-on's.
Object.defineProperty(module.exports, 'sweep', { get: () => require('./js/sweep').sweep });
