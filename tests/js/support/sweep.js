'use strict';
// Strategy modules the sweep tests write to disk: a sweep loads its strategy by path, in any worker.

// The moving-average cross: long on a crossover of sma(fast) above sma(slow), flat on a crossunder.
const CROSS_SOURCE = `
module.exports = ({ fast, slow }, m) => {
  if (fast >= slow) throw new Error('fast must be below slow');
  const f = m.indicator('sma', m.close, fast);
  const s = m.indicator('sma', m.close, slow);
  return { entries: m.indicator('crossover', f, s), exits: m.indicator('crossunder', f, s) };
};`;

module.exports = { CROSS_SOURCE };
