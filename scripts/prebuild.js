'use strict';
// Builds the add-on for shipping as prebuilds/<target>/barwise.node, the file the loader and the
// install script look for. Run on each platform (CI does, see .github/workflows/prebuild.yml):
//
//   node scripts/prebuild.js                     the running platform, e.g. linux-x64
//   node scripts/prebuild.js --target linux-arm64  from a Linux x64 host with Debian's
//                                                  aarch64-linux-gnu cross compiler
//   node scripts/prebuild.js --out DIR           write DIR/<target>/barwise.node instead
//   node scripts/prebuild.js --build-dir DIR     build in DIR/<target> (default build-prebuild/)
//   node scripts/prebuild.js --shared-runtime    keep the C++ runtime a shared library
//
// CC, CXX and LDFLAGS reach CMake as usual: CC=clang CXX=clang++ builds with clang, and
// CXX="clang++ -stdlib=libc++" with libc++ (flags in CXX apply to every compile and link).
// On Linux the C++ runtime is linked statically, so the add-on needs nothing but glibc (or musl)
// and runs on distributions older than the build machine; the script prints the newest glibc
// symbol version the add-on asks for.
const { execFileSync, spawnSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { ROOT, prebuildName } = require('./prebuild-target');

// Cross builds this script knows how to drive from a Linux x64 host: the toolchain prefix, the
// CMake processor name and the emulator that runs the build's own tools.
const CROSS = {
  'linux-arm64': { prefix: 'aarch64-linux-gnu-', processor: 'aarch64', emulator: ['qemu-aarch64', '-L', '/usr/aarch64-linux-gnu'] },
};

function parseArgs(argv) {
  const opts = { target: prebuildName(), out: path.join(ROOT, 'prebuilds'), buildDir: path.join(ROOT, 'build-prebuild'), sharedRuntime: false };
  for (let i = 0; i < argv.length; i++) {
    const a = argv[i];
    if (a === '--target') opts.target = argv[++i];
    else if (a === '--out') opts.out = path.resolve(argv[++i]);
    else if (a === '--build-dir') opts.buildDir = path.resolve(argv[++i]);
    else if (a === '--shared-runtime') opts.sharedRuntime = true;
    else throw new Error(`unknown argument ${a}`);
  }
  return opts;
}

// Linked into glibc prebuilds so that the add-on asks for no glibc newer than 2.25 (the build
// machine's static C++ runtime and math calls otherwise pull in 2.29 to 2.36 symbol versions):
// - math and thread calls are bound to the oldest version of the same function (the newer
//   versions differ only in error reporting through errno, which the add-on never reads, or are
//   the same functions moved from libpthread into libc);
// - the C++ runtime's single-thread flag is our own, always "maybe threaded", so its reference
//   counts stay atomic;
// - the runtime's arc4random use (random_device, which the add-on never creates) reads
//   getentropy instead;
// - stat, lstat and fstat64 (the file loader's size and kind checks) go through the versioned
//   entry points that every glibc has, __xstat and friends, with the stat layout of the
//   architecture (the layout the newer functions fill too).
// The unwinder stays the system's shared libgcc_s: its static copy needs glibc 2.35.
const GLIBC_COMPAT_C = `
#include <stddef.h>
#include <stdint.h>
#include <time.h>
#include <unistd.h>
#if defined(__x86_64__)
#define BW_GLIBC_BASE "GLIBC_2.2.5"
#define BW_STAT_VER 1
#elif defined(__aarch64__)
#define BW_GLIBC_BASE "GLIBC_2.17"
#define BW_STAT_VER 0
#else
#error "no base glibc version known for this architecture"
#endif
#define BW_OLD(ret, name, params, args) \\
  ret bw_old_##name params; \\
  __asm__(".symver bw_old_" #name ", " #name "@" BW_GLIBC_BASE); \\
  ret __wrap_##name params { return bw_old_##name args; }
BW_OLD(double, pow, (double a, double b), (a, b))
BW_OLD(double, log, (double a), (a))
BW_OLD(double, exp, (double a), (a))
BW_OLD(double, log2, (double a), (a))
BW_OLD(int, pthread_once, (void* o, void (*f)(void)), (o, f))
BW_OLD(int, pthread_rwlock_rdlock, (void* l), (l))
BW_OLD(int, pthread_rwlock_wrlock, (void* l), (l))
BW_OLD(int, pthread_rwlock_unlock, (void* l), (l))
BW_OLD(int, __pthread_key_create, (unsigned* k, void (*d)(void*)), (k, d))
BW_OLD(int, pthread_key_create, (unsigned* k, void (*d)(void*)), (k, d))
BW_OLD(int, pthread_key_delete, (unsigned k), (k))
BW_OLD(void*, pthread_getspecific, (unsigned k), (k))
BW_OLD(int, pthread_setspecific, (unsigned k, const void* v), (k, v))
#define BW_XSTAT(name, old, param) \
  int bw_old_##old(int ver, param, void* buf); \
  __asm__(".symver bw_old_" #old ", " #old "@" BW_GLIBC_BASE); \
  int __wrap_##name(param, void* buf) { return bw_old_##old(BW_STAT_VER, a, buf); }
BW_XSTAT(stat, __xstat, const char* a)
BW_XSTAT(lstat, __lxstat, const char* a)
BW_XSTAT(fstat64, __fxstat64, int a)
__attribute__((visibility("hidden"))) char __libc_single_threaded = 0;
uint32_t __wrap_arc4random(void) {
  uint32_t v = 0;
  if (getentropy(&v, sizeof v) != 0) v = (uint32_t)time(NULL) * 2654435761u;
  return v;
}
`;
const GLIBC_WRAPPED = ['pow', 'log', 'exp', 'log2', 'pthread_once', 'pthread_rwlock_rdlock',
  'pthread_rwlock_wrlock', 'pthread_rwlock_unlock', '__pthread_key_create', 'pthread_key_create', 'pthread_key_delete',
  'pthread_getspecific', 'pthread_setspecific', 'stat', 'lstat', 'fstat64', 'arc4random'];

// The oldest glibc that the Node.js releases of our engines range run on: a glibc prebuild
// that needs a newer one fails the build instead of shipping.
const GLIBC_CEILING = '2.28';
const versionKey = (/** @type {string} */ v) => v.split('.').reduce((k, part, i) => k + Number(part) * 1000 ** (2 - i), 0);

const onPath = (cmd) => spawnSync(cmd, ['--version'], { stdio: 'ignore' }).status === 0;

/** The shared libraries the add-on needs and the newest GLIBC_x.y symbol version it asks for. */
function linkInfo(file, objdump) {
  if (!onPath(objdump)) return null;
  const needed = [...execFileSync(objdump, ['-p', file], { encoding: 'utf8' }).matchAll(/^\s*NEEDED\s+(\S+)/gm)].map((m) => m[1]);
  const symbols = execFileSync(objdump, ['-T', file], { encoding: 'utf8' });
  const versions = [...new Set([...symbols.matchAll(/GLIBC_(\d+(?:\.\d+)+)/g)].map((m) => m[1]))];
  versions.sort((a, b) => versionKey(a) - versionKey(b));
  return { needed, glibc: versions[versions.length - 1] || null };
}

function main() {
  const opts = parseArgs(process.argv.slice(2));
  const host = prebuildName();
  const cross = opts.target === host ? null : CROSS[opts.target];
  if (opts.target !== host && !(process.platform === 'linux' && process.arch === 'x64' && cross))
    throw new Error(`cannot build ${opts.target} on ${host}; cross builds from linux-x64: ${Object.keys(CROSS).join(', ')}`);

  const buildDir = path.join(opts.buildDir, opts.target);
  const cmakeArgs = [];
  const env = { ...process.env };
  if (cross) {
    const emulator = onPath(cross.emulator[0]) ? cross.emulator : null;
    cmakeArgs.push(
      '--CDCMAKE_SYSTEM_NAME=Linux',
      `--CDCMAKE_SYSTEM_PROCESSOR=${cross.processor}`,
      `--CDCMAKE_C_COMPILER=${cross.prefix}gcc`,
      `--CDCMAKE_CXX_COMPILER=${cross.prefix}g++`,
    );
    if (emulator) cmakeArgs.push(`--CDCMAKE_CROSSCOMPILING_EMULATOR=${emulator.join(';')}`);
  }
  // A fresh configure each time: CMake reads CC and CXX only on the first one.
  fs.rmSync(buildDir, { recursive: true, force: true });
  if (process.platform === 'linux') {
    // Stripped, and the static C++ runtime kept private to the add-on (the host has its own).
    // Flags of the add-on's link only: the build's own tools and CMake's probes link as usual.
    const flags = [env.LDFLAGS || '', '-s'];
    if (!opts.sharedRuntime) flags.push('-static-libstdc++', '-Wl,--exclude-libs,ALL');
    if (!opts.sharedRuntime && !opts.target.endsWith('-musl')) {
      const dir = `${buildDir}-compat`;
      fs.mkdirSync(dir, { recursive: true });
      const src = path.join(dir, 'glibc-compat.c');
      const obj = path.join(dir, 'glibc-compat.o');
      fs.writeFileSync(src, GLIBC_COMPAT_C);
      execFileSync(cross ? `${cross.prefix}gcc` : env.CC || 'cc', ['-O2', '-fPIC', '-fvisibility=hidden', '-c', src, '-o', obj], { stdio: 'inherit' });
      flags.push(obj, `-Wl,${GLIBC_WRAPPED.map((n) => `--wrap=${n}`).join(',')}`);
    }
    cmakeArgs.push(`--CDCMAKE_SHARED_LINKER_FLAGS=${flags.join(' ').trim()}`);
  }
  const cmakeJs = require.resolve('cmake-js/bin/cmake-js', { paths: [ROOT] });
  const r = spawnSync(process.execPath, [cmakeJs, 'compile', '--out', buildDir, ...cmakeArgs], { cwd: ROOT, env, stdio: 'inherit' });
  if (r.status !== 0) return r.status ?? 1;

  const built = path.join(buildDir, 'Release', 'barwise.node');
  const dest = path.join(opts.out, opts.target, 'barwise.node');
  fs.mkdirSync(path.dirname(dest), { recursive: true });
  fs.copyFileSync(built, dest);
  const size = (fs.statSync(dest).size / 1048576).toFixed(1);
  console.log(`prebuilt ${path.relative(process.cwd(), dest) || dest} (${size} MiB)`);
  if (opts.target.startsWith('linux-')) {
    const info = linkInfo(dest, cross ? `${cross.prefix}objdump` : 'objdump');
    if (info) {
      console.log(`links ${info.needed.join(', ')}${info.glibc ? `; needs glibc ${info.glibc} or newer` : ''}`);
      if (!opts.sharedRuntime && info.glibc && versionKey(info.glibc) > versionKey(GLIBC_CEILING)) {
        console.error(`${dest} needs glibc ${info.glibc}: newer than ${GLIBC_CEILING}, the oldest that Node.js runs on`);
        return 1;
      }
    }
  }
  return 0;
}

process.exitCode = main();
