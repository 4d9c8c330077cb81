'use strict';
// Every JavaScript block of README.md and docs/*.md runs, and prints what the text says it prints.
//
// The blocks of one page run in order in one child process, as a reader pasting them into one
// file would run them: a later block sees the names an earlier one declared. Conventions:
// - ```js (or javascript, cjs) blocks run as CommonJS, ```mjs blocks each run on their own as an
//   ES module; ```js no-run marks a block that must not run (a fragment, a placeholder);
// - a `// prints: TEXT` comment on a line states one line of output, and a ```text output block
//   states the lines that the blocks before it print; `...` inside stated text stands for any
//   text. Stated lines must appear in the page's output in the order of the page.
const test = require('node:test');
const assert = require('node:assert/strict');
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');

const root = path.join(__dirname, '..', '..');

/**
 * The fenced blocks of a Markdown text.
 * @param {string} text
 * @returns {{ info: string[], line: number, code: string }[]} line: 1-based line of the first code line
 */
function fencedBlocks(text) {
  const lines = text.split('\n');
  const blocks = [];
  for (let i = 0; i < lines.length; i++) {
    const open = lines[i].match(/^(\s*)(`{3,}|~{3,})\s*([^`]*)$/);
    if (!open) continue;
    const [, indent, fence, info] = open;
    const body = [];
    let j = i + 1;
    const closes = (/** @type {string} */ l) => {
      const m = l.trim().match(/^(`{3,}|~{3,})$/);
      return m !== null && m[1][0] === fence[0] && m[1].length >= fence.length;
    };
    while (j < lines.length && !closes(lines[j])) body.push(lines[j++].slice(indent.length));
    blocks.push({ info: info.trim().split(/\s+/).filter(Boolean), line: i + 2, code: body.join('\n') });
    i = j;
  }
  return blocks;
}

const RUN_LANGS = new Set(['js', 'javascript', 'cjs', 'mjs']);

/**
 * What a page runs and what it states it prints.
 * @param {string} text
 */
function pagePlan(text) {
  const blocks = fencedBlocks(text);
  const run = blocks.filter((b) => RUN_LANGS.has((b.info[0] || '').toLowerCase()) && !b.info.includes('no-run'));
  /** @type {string[]} */
  const stated = [];
  for (const b of blocks) {
    const lang = (b.info[0] || '').toLowerCase();
    if (lang === 'text' && b.info.includes('output')) stated.push(...b.code.split('\n').filter((l) => l.trim()));
    else if (RUN_LANGS.has(lang) && !b.info.includes('no-run'))
      for (const m of b.code.matchAll(/\/\/\s*prints:\s?(.*)$/gm)) stated.push(m[1].trimEnd());
  }
  return { run, stated };
}

/** Whether every stated line appears in the output, in order; the first one missing otherwise. */
function missingStated(output, stated) {
  const lines = output.split('\n').map((l) => l.trimEnd());
  let at = 0;
  for (const want of stated) {
    const re = new RegExp(`^${want.split('...').map((p) => p.replace(/[.*+?^${}()|[\]\\]/g, '\\$&')).join('.*')}$`);
    while (at < lines.length && !re.test(lines[at])) at++;
    if (at === lines.length) return want;
    at++;
  }
  return null;
}

// Child mode: run one page's CommonJS blocks in order in this process's global scope, each as its
// own script with the page's file name and line numbers, so a failure points at the Markdown.
if (process.argv[2] === '--run-page') {
  const vm = require('node:vm');
  const { createRequire } = require('node:module');
  const file = process.argv[3];
  const pageRequire = createRequire(path.join(root, 'index.js'));
  Object.assign(globalThis, { require: pageRequire, module: { exports: {} }, __filename: file, __dirname: path.dirname(file) });
  for (const b of pagePlan(fs.readFileSync(file, 'utf8')).run) {
    if (b.info[0] === 'mjs') continue;
    new vm.Script(b.code, { filename: file, lineOffset: b.line - 1 }).runInThisContext();
  }
  return;
}

const pages = ['README.md', ...fs.readdirSync(path.join(root, 'docs')).filter((f) => f.endsWith('.md')).map((f) => path.join('docs', f))];

for (const page of pages) {
  const file = path.join(root, page);
  const { run, stated } = pagePlan(fs.readFileSync(file, 'utf8'));
  if (run.length === 0) continue;
  test(`${page}: its JavaScript blocks run in order and print what the text says`, async (t) => {
    let output = '';
    if (run.some((b) => b.info[0] !== 'mjs')) {
      await t.test('CommonJS blocks', () => {
        const r = spawnSync(process.execPath, [__filename, '--run-page', file], { cwd: root, encoding: 'utf8', timeout: 120_000 });
        assert.equal(r.status, 0, `${page} failed:\n${r.stderr}`);
        output += r.stdout;
      });
    }
    for (const b of run.filter((x) => x.info[0] === 'mjs')) {
      await t.test(`ES module block at line ${b.line}`, () => {
        const r = spawnSync(process.execPath, ['--input-type=module', '-e', b.code], { cwd: root, encoding: 'utf8', timeout: 120_000 });
        assert.equal(r.status, 0, `${page}:${b.line} failed:\n${r.stderr}`);
        output += r.stdout;
      });
    }
    if (stated.length)
      await t.test('stated output', () => {
        const missing = missingStated(output, stated);
        assert.equal(missing, null, `${page} states "${missing}" but the blocks did not print it (in that order); they printed:\n${output}`);
      });
  });
}

test('block conventions', async (t) => {
  const page = [
    'Text.', '```js', "console.log('a'); // prints: a", '```', '```js no-run', 'not code', '```',
    '```sh', 'npm test', '```', '```text output', 'b ... d', '```',
  ].join('\n');
  const cases = [
    { name: 'runs js blocks, skips no-run and other languages', check: () => assert.deepEqual(pagePlan(page).run.map((b) => b.line), [3]) },
    { name: 'collects stated lines in page order', check: () => assert.deepEqual(pagePlan(page).stated, ['a', 'b ... d']) },
    { name: 'stated lines match in order with ... as any text', check: () => assert.equal(missingStated('a\nx\nb c d\n', ['a', 'b ... d']), null) },
    { name: 'a stated line out of order is missing', check: () => assert.equal(missingStated('b c d\na\n', ['a', 'b ... d']), 'b ... d') },
    { name: 'a stated line must match a whole line', check: () => assert.equal(missingStated('xa\n', ['a']), 'a') },
  ];
  for (const c of cases) await t.test(c.name, c.check);
});
