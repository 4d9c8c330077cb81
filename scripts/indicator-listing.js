'use strict';
// The indicator listing that every build writes to build/indicators.json from the add-on's own
// declarations: class, friendly name, group, one-line summary, arguments (kind and default),
// result kind and outputs with the step of their first value. The typings, the docs, the export
// check and the generic indicator tests all read it through this module.
const fs = require('node:fs');
const path = require('node:path');

const LISTING = path.join(__dirname, '..', 'build', 'indicators.json');

// Headings of the groups, in the order the docs show them.
const GROUPS = {
  averages: 'Moving averages and basic series functions',
  oscillators: 'Oscillators',
  volatility: 'Volatility and channels',
  volume: 'Volume-based indicators',
  crosses: 'Crosses, extremes and bar counts',
  momentum: 'Momentum and average-difference oscillators',
};

let cached;
// Every declaration, the script entry included, in declaration order.
function listing() {
  if (!cached) {
    if (!fs.existsSync(LISTING)) throw new Error(`${LISTING} not found: build the add-on first (npm run build)`);
    cached = JSON.parse(fs.readFileSync(LISTING, 'utf8'));
    for (const d of cached)
      if (d.group !== 'script' && !GROUPS[d.group]) throw new Error(`${d.class}: unknown group ${d.group}`);
  }
  return cached;
}

// The indicators proper (everything but the script entry), group by group in the order of GROUPS,
// in declaration order within a group.
const indicators = () => Object.keys(GROUPS).flatMap((g) => listing().filter((d) => d.group === g));

// The arguments' defaults by name (undefined where there is none).
function defaults(decl) {
  return Object.fromEntries(decl.args.map((a) => [a.name, a.default]));
}

// The step of an output's first value for the given arguments (by name; a missing one takes its
// default). NaN when an argument the expression needs has neither a value nor a default, and
// when a length without a default is left out (such a step never yields a value).
function firstStep(decl, output, values = {}) {
  const args = { ...defaults(decl) };
  for (const [k, v] of Object.entries(values)) if (v !== undefined && v !== null) args[k] = v;
  if (decl.args.some((a) => a.kind === 'length' && args[a.name] === undefined)) return NaN;
  const names = decl.args.map((a) => a.name);
  // The expressions are the add-on's own declarations: + - * / ( ), ?:, max, min, trunc, sqrt.
  const evaluate = new Function('max', 'min', 'trunc', 'sqrt', ...names, `return (${output.first});`);
  const step = evaluate(Math.max, Math.min, Math.trunc, Math.sqrt, ...names.map((n) => args[n]));
  return typeof step === 'number' ? step : NaN;
}

module.exports = { LISTING, GROUPS, listing, indicators, defaults, firstStep };
