'use strict';
// Generates everything that lists the indicator classes:
//   - the indicator part of index.d.ts (between the <indicators> markers),
//   - index.mjs, the ES module entry with one named export per class and function,
//   - indicators.js, indicators.mjs, indicators.d.ts and indicators.d.mts: barwise/indicators,
//     the classes under their friendly names,
//   - docs/indicators.md, the indicator list with arguments and defaults (and the same list in
//     README.md, when it holds the two <!-- indicators:... --> marker comments).
//
// Everything about an indicator (class, arguments, defaults, result, group, summary, outputs and
// their first-value steps) comes from the add-on's own declarations, which every build writes to
// build/indicators.json (read through scripts/indicator-listing.js).
//
//   node scripts/gen-types.js           rewrite the files
//   node scripts/gen-types.js --check   exit 1 (naming the files) when any is out of date
const fs = require('node:fs');
const path = require('node:path');
const listing = require('./indicator-listing');

const root = path.join(__dirname, '..');

const ARG_KINDS = {
  series: 'series', flags: 'flags', number: 'number', length: 'int', optLength: 'int', integer: 'int', real: 'float',
  flag: 'bool', period: 'timeframe',
};
const RESULT_KINDS = {
  number: 'number', optInt: 'int?', optFlag: 'bool?', numbers2: 'number2', numbers3: 'number3',
  numbers5: 'number5', numberOptInt: 'number,int?',
};

// The indicators of the listing in the shape the generators below use.
function indicators() {
  return listing.indicators().map((d) => {
    const args = d.args.map((a) => {
      const kind = ARG_KINDS[a.kind];
      if (!kind) throw new Error(`${d.class}: unknown argument kind ${a.kind}`);
      return { name: a.name, kind, def: a.default };
    });
    const result = RESULT_KINDS[d.result];
    if (!result) throw new Error(`${d.class}: unknown result kind ${d.result}`);
    const outputs = d.outputs.length > 1 ? d.outputs.map((o) => o.name) : undefined;
    return { decl: d, cls: d.class, name: d.name, group: d.group, doc: d.summary, args, result, outputs };
  });
}

// The class of every indicator the add-on declares, the script entry included.
const indicatorClasses = () => [
  ...listing.listing().filter((d) => d.group === 'script'),
  ...listing.indicators(),
].map((d) => d.class);

// Everything on the exports object besides the indicator classes, in the add-on's own order.
const CORE_EXPORTS = [
  'NodeTimeframe', 'NodeOhlcvBar', 'NodeOhlcv', 'NodeSym', 'NodeSymKind', 'NodeCtx', 'NodeCtxSkip',
  'NodeSignal', 'NodeTrade', 'NodeTradeEvent', 'NodeTradeDirection', 'NodeBacktest',
  '_getCoreVersion', 'zipOhlcvBars',
  'roundToMinTick', 'roundContracts', 'validateContracts', 'orderSize', 'orderSizeForEquityPct',
  'expectancy', 'expectancyScore', 'pnl', 'profitFactor', 'longNetProfitRatio', 'winRate', 'avgTrade',
  'avgWinningTrade', 'avgLosingTrade', 'avgWinLossRatio', 'sharpeRatio', 'sharpeRatioFromReturns',
  'sortinoRatio', 'sortinoRatioFromReturns', 'omegaRatio', 'omegaRatioFromReturns', 'netProfitPct',
  'grossProfitPct', 'grossLossPct', 'longNetProfitPct', 'shortNetProfitPct', 'accuracy', 'precision',
  'recall', 'f1', 'annualization_factor', 'sum', 'mean', 'variance', 'stdev', 'returns',
];

const RESULT_TYPES = {
  number: 'number',
  'int?': 'number | null',
  'bool?': 'boolean | null',
  number2: '[number, number]',
  number3: '[number, number, number]',
  number5: '[number, number, number, number, number]',
  'number,int?': '[number, number | null]',
};

// collectTyped: one Float64Array per output (NaN where there is no value).
const TYPED_TYPES = {
  number: 'Float64Array',
  'int?': 'Float64Array',
  'bool?': 'Float64Array',
  number2: '[Float64Array, Float64Array]',
  number3: '[Float64Array, Float64Array, Float64Array]',
  number5: '[Float64Array, Float64Array, Float64Array, Float64Array, Float64Array]',
  'number,int?': '[Float64Array, Float64Array]',
};

function nextParam(a) {
  switch (a.kind) {
    case 'series': return `${a.name}: number`;
    case 'flags': return `${a.name}?: boolean | null`;
    case 'number': return `${a.name}: number`;
    case 'int': case 'float': return `${a.name}?: number | null`;
    case 'bool': return `${a.name}?: boolean | null`;
    case 'timeframe': return `${a.name}?: NodeTimeframe | null`;
    default: throw new Error(`unknown argument kind ${a.kind}`);
  }
}

function collectParam(a) {
  switch (a.kind) {
    case 'series': return `${a.name}: NumberList`;
    case 'flags': return `${a.name}: readonly (boolean | null | undefined)[]`;
    default: return nextParam(a);
  }
}

function params(args, render) {
  return args.map(render).join(', ');
}

// `number | null` needs parentheses before [], a tuple does not.
const listOf = (t) => (t.startsWith('[') || !t.includes('|') ? `${t}[]` : `(${t})[]`);

function argDoc(a) {
  if (a.kind === 'series') return `${a.name}`;
  if (a.kind === 'flags') return `${a.name} (flag or null)`;
  if (a.kind === 'number') return `${a.name} (number, required)`;
  if (a.def === undefined) return `${a.name} (no default)`;
  if (a.kind === 'timeframe') return `${a.name} = "${a.def}" (a NodeTimeframe)`;
  return `${a.name} = ${formatDefault(a)}`;
}

function formatDefault(a) {
  if (a.kind === 'float') return Number.isInteger(a.def) ? a.def.toFixed(1) : String(a.def);
  return String(a.def);
}

function declarations() {
  const out = [
    '/** The indicator classes under their friendly names (`indicators.sma` is `Incr_fn_sma_059403`), as',
    ' * in the module barwise/indicators. */',
    "export declare const indicators: typeof import('./indicators');",
    '',
  ];
  for (const r of indicators()) {
    const result = RESULT_TYPES[r.result];
    if (!result || !TYPED_TYPES[r.result]) throw new Error(`unknown result kind ${r.result}`);
    const defaults = r.args.filter((a) => a.def !== undefined).map((a) => `${a.name} ${formatDefault(a)}`);
    const tail = defaults.length ? ` Defaults: ${defaults.join(', ')}.` : '';
    out.push(`/** ${r.name}: ${r.doc}${tail} */`);
    out.push(`export declare class ${r.cls} {`);
    out.push('  private constructor();');
    out.push(`  /** Binds a new ${r.name} instance to \`ctx\`'s context (shared, not copied). */`);
    out.push(`  static make(ctx: NodeCtx): ${r.cls};`);
    out.push(`  /** One ${r.name} step on the context's current bar. */`);
    out.push(`  next(${params(r.args, nextParam)}): ${result};`);
    out.push(`  /** One ${r.name} step per remaining bar of the context; returns every step's result. */`);
    out.push(`  collect(${params(r.args, collectParam)}): ${listOf(result)};`);
    out.push(`  /** The same steps as collect, results as one Float64Array per output: NaN where there is no value, 1 and 0 for booleans. */`);
    out.push(`  collectTyped(${params(r.args, collectParam)}): ${TYPED_TYPES[r.result]};`);
    out.push('}');
    out.push('');
  }
  return out.join('\n');
}

function indexDts(current) {
  const begin = '// <indicators>\n';
  const end = '// </indicators>\n';
  const i = current.indexOf(begin);
  const j = current.indexOf(end);
  if (i < 0 || j < i) throw new Error('index.d.ts: indicator markers not found');
  return current.slice(0, i + begin.length) + declarations() + current.slice(j);
}

// Names as the body of a destructuring list, wrapped before 100 columns.
function nameLines(names) {
  const lines = [];
  let line = ' ';
  for (const n of names) {
    if (line.length + n.length + 2 > 100) {
      lines.push(line.trimEnd());
      line = ' ';
    }
    line += ` ${n},`;
  }
  lines.push(line.trimEnd());
  return lines;
}

function indexMjs() {
  const lines = nameLines([...CORE_EXPORTS, ...indicatorClasses()]);
  return [
    '// ES module entry: the same add-on object as the CommonJS entry, with a named export for every',
    '// class and function. Generated by scripts/gen-types.js; do not edit by hand.',
    "import { createRequire } from 'node:module';",
    '',
    'const require = createRequire(import.meta.url);',
    "const barwise = require('./index.js');",
    '',
    'export default barwise;',
    'export const {',
    ...lines,
    '} = barwise;',
    '// The indicator classes by their friendly names, as in barwise/indicators.',
    'export const indicators = barwise.indicators;',
    '// Parameter sweeps (js/sweep.js).',
    'export const sweep = barwise.sweep;',
    '',
  ].join('\n');
}

// barwise/indicators: every indicator class under its friendly name (`sma`), the same class
// objects as the add-on's exports, for CommonJS, ES modules and both typings.
function indicatorsJs() {
  return [
    "'use strict';",
    '// The indicator classes under their friendly names: `indicators.sma` is `Incr_fn_sma_059403`.',
    '// Generated by scripts/gen-types.js from the indicator declarations; do not edit by hand.',
    "const barwise = require('./index.js');",
    '',
    'module.exports = Object.freeze({',
    ...indicators().map((r) => `  ${r.name}: barwise.${r.cls},`),
    '});',
    '',
  ].join('\n');
}

function indicatorsMjs() {
  return [
    '// The indicator classes under their friendly names, as named exports and as the default object.',
    '// Generated by scripts/gen-types.js from the indicator declarations; do not edit by hand.',
    "import { createRequire } from 'node:module';",
    '',
    'const require = createRequire(import.meta.url);',
    "const indicators = require('./indicators.js');",
    '',
    'export default indicators;',
    'export const {',
    ...nameLines(indicators().map((r) => r.name)),
    '} = indicators;',
    '',
  ].join('\n');
}

function indicatorsDts() {
  const out = [
    '// The indicator classes under their friendly names: `sma` is `Incr_fn_sma_059403`.',
    '// Generated by scripts/gen-types.js from the indicator declarations; do not edit by hand.',
    "import type * as barwise from './index';",
    '',
  ];
  for (const r of indicators()) {
    out.push(`/** ${r.name}: ${r.doc} The class \`${r.cls}\`. */`);
    out.push(`export declare const ${r.name}: typeof barwise.${r.cls};`);
  }
  out.push('');
  return out.join('\n');
}

function indicatorsDmts() {
  return [
    '// Declarations of barwise/indicators as an ES module: the named exports of indicators.d.ts and',
    '// the object holding all of them as the default export. Generated by scripts/gen-types.js.',
    "import * as indicators from './indicators.js';",
    '',
    "export * from './indicators.js';",
    'export default indicators;',
    '',
  ].join('\n');
}

// When the outputs are first defined: the step with the defaults and the rule behind it
// ("15 (length + 1)"), per output when they differ.
function firstDoc(r) {
  const one = (o) => {
    const step = listing.firstStep(r.decl, o);
    const text = Number.isNaN(step) || String(step) === o.first ? o.first : `${step} (${o.first})`;
    return o.earliest ? `${text} at the earliest` : text;
  };
  const outs = r.decl.outputs;
  if (outs.every((o) => o.first === outs[0].first)) return one(outs[0]);
  return outs.map((o) => `${o.name}: ${one(o)}`).join('; ');
}

// The indicator tables, one per group, under headings of the given level.
function indicatorTables(level) {
  const out = [];
  for (const [group, title] of Object.entries(listing.GROUPS)) {
    out.push(`${'#'.repeat(level)} ${title}`, '');
    out.push('| Indicator | Class | `next` arguments | Result | First value (step) | What it is |');
    out.push('|---|---|---|---|---|---|');
    for (const r of indicators().filter((x) => x.group === group)) {
      const args = r.args.length ? r.args.map(argDoc).join(', ') : 'none';
      const result = r.outputs ? `[${r.outputs.join(', ')}]` : RESULT_TYPES[r.result];
      const esc = (text) => text.replace(/\|/g, '\\|');
      out.push(`| ${r.name} | \`${r.cls}\` | ${args} | ${esc(result)} | ${esc(firstDoc(r))} | ${esc(r.doc)} |`);
    }
    out.push('');
  }
  return out;
}

// The formula of an indicator: the comment above its state record in the library source, which
// every indicator carries (the generator fails on one without).
function formulaOf(r) {
  const lines = fs.readFileSync(path.join(root, r.decl.source), 'utf8').split('\n');
  const at = lines.findIndex((l) => new RegExp(`^struct ${r.decl.state}\\b`).test(l));
  const comment = [];
  for (let k = at - 1; k >= 0 && lines[k].startsWith('//'); k--) comment.unshift(lines[k].replace(/^\/\/ ?/, ''));
  if (at < 0 || !comment.length) throw new Error(`${r.name}: no comment above struct ${r.decl.state} in ${r.decl.source}`);
  return comment.join(' ');
}

const KIND_DOCS = {
  series: 'number per step (a list in `collect`)',
  flags: 'boolean or null per step (a list in `collect`)',
  number: 'number, required',
  int: 'whole number',
  float: 'number',
  bool: 'boolean',
  timeframe: '`NodeTimeframe`',
};

function argDefault(a) {
  if (a.kind === 'series' || a.kind === 'flags' || a.kind === 'number') return '';
  if (a.def === undefined) return 'none';
  if (a.kind === 'timeframe') return `"${a.def}"`;
  return `${formatDefault(a)}`;
}

// One section per indicator: friendly name and class, what it is, the formula, the arguments with
// their defaults, the outputs and the step of their first values.
function indicatorSection(r) {
  const md = (text) => text.replace(/\|/g, '\\|');
  const out = [`### ${r.name}`, '', `\`indicators.${r.name}\` — class \`${r.cls}\``, '', r.doc, '', `Formula: ${formulaOf(r)}`, ''];
  if (r.args.length) {
    out.push('| Argument | Kind | Default |', '|---|---|---|');
    for (const a of r.args) out.push(`| ${a.name} | ${KIND_DOCS[a.kind]} | ${md(argDefault(a))} |`);
  } else {
    out.push('Arguments: none (it reads the bars of the context).');
  }
  out.push('');
  const result = r.outputs ? `[${r.outputs.join(', ')}] (${RESULT_TYPES[r.result]})` : RESULT_TYPES[r.result];
  out.push(`Result: ${md(result)}. First value (step): ${firstDoc(r)}.`, '');
  return out;
}

function indicatorsMd() {
  const out = [
    '# Indicators',
    '',
    'Generated by `scripts/gen-types.js` from the add-on\'s indicator declarations; do not edit by hand.',
    '',
    'Every indicator is a class with `make(ctx)`, `next(...args)` and `collect(...args)`, reachable',
    'under its friendly name (`require(\'barwise\').indicators.sma`, or `import { sma } from',
    '\'barwise/indicators\'`) and under its class name (`Incr_fn_sma_059403`). Arguments are',
    'positional; `undefined` or `null` selects the default. In `collect`, each series argument (and',
    'the flag argument of barssince) becomes an array read by bar index; the other arguments stay as',
    'they are. Missing values are NaN (null for whole numbers and booleans). "First value" is the',
    'step (1-based, counted from the instance\'s first step) of the first defined result on complete',
    'inputs, with the defaults and as a rule over the arguments.',
    '',
  ];
  for (const [group, title] of Object.entries(listing.GROUPS)) {
    const rows = indicators().filter((x) => x.group === group);
    out.push(`- ${title}: ${rows.map((r) => `[${r.name}](#${r.name})`).join(', ')}`);
  }
  out.push('');
  for (const [group, title] of Object.entries(listing.GROUPS)) {
    out.push(`## ${title}`, '');
    for (const r of indicators().filter((x) => x.group === group)) out.push(...indicatorSection(r));
  }
  return out.join('\n');
}

// README.md may hold the same tables between two marker comments; they are kept up to date too.
const README_BEGIN = '<!-- indicators:begin (generated by scripts/gen-types.js) -->\n';
const README_END = '<!-- indicators:end -->';
function readme(current) {
  const i = current.indexOf(README_BEGIN);
  const j = current.indexOf(README_END);
  if (i < 0 || j < i) return current;
  return current.slice(0, i + README_BEGIN.length) + '\n' + indicatorTables(3).join('\n') + current.slice(j);
}

function main() {
  const check = process.argv.includes('--check');
  const targets = [
    ['index.d.ts', (cur) => indexDts(cur)],
    ['index.mjs', () => indexMjs()],
    ['indicators.js', () => indicatorsJs()],
    ['indicators.mjs', () => indicatorsMjs()],
    ['indicators.d.ts', () => indicatorsDts()],
    ['indicators.d.mts', () => indicatorsDmts()],
    ['docs/indicators.md', () => indicatorsMd()],
    ['README.md', (cur) => readme(cur)],
  ];
  const stale = [];
  for (const [rel, make] of targets) {
    const file = path.join(root, rel);
    const current = fs.existsSync(file) ? fs.readFileSync(file, 'utf8') : '';
    const next = make(current);
    if (next === current) continue;
    stale.push(rel);
    if (!check) {
      fs.mkdirSync(path.dirname(file), { recursive: true });
      fs.writeFileSync(file, next);
    }
  }
  if (check && stale.length) {
    console.error(`out of date: ${stale.join(', ')} (run node scripts/gen-types.js)`);
    process.exit(1);
  }
  if (!check) console.log(stale.length ? `wrote ${stale.join(', ')}` : 'up to date');
}

if (require.main === module) main();

module.exports = { CORE_EXPORTS, indicatorClasses };
