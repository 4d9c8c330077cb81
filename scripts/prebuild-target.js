'use strict';
// Which add-on file fits the running process: shared by the loader (index.js), the install script
// and the prebuild scripts, so all of them agree on folder names.
const path = require('node:path');

const ROOT = path.join(__dirname, '..');

/** The C library of a Linux host: add-ons built against glibc and musl are not interchangeable. */
function linuxLibc() {
  const report = process.report && typeof process.report.getReport === 'function' ? process.report.getReport() : null;
  const header = report ? /** @type {any} */ (report).header : null;
  return header && header.glibcVersionRuntime ? 'glibc' : 'musl';
}

/**
 * The prebuilt add-on folder for a platform: "linux-x64", "linux-x64-musl", "darwin-arm64", "win32-x64".
 * @param {string} [platform]
 * @param {string} [arch]
 * @param {string} [libc] "glibc" or "musl"; Linux only
 */
function prebuildName(platform = process.platform, arch = process.arch, libc = platform === 'linux' ? linuxLibc() : '') {
  return `${platform}-${arch}${platform === 'linux' && libc === 'musl' ? '-musl' : ''}`;
}

/** The prebuilt add-on file of this process inside a package folder. */
function prebuildFile(root = ROOT) {
  return path.join(root, 'prebuilds', prebuildName(), 'barwise.node');
}

/** The add-on built from source inside a package folder. */
function localBuildFile(root = ROOT) {
  return path.join(root, 'build', 'Release', 'barwise.node');
}

module.exports = { ROOT, prebuildName, prebuildFile, localBuildFile };
