'use strict';
// Loads the native add-on and exports its exports object unchanged.
module.exports = require('./build/Release/barwise.node');

// The indicator classes under their friendly names (`indicators.sma`), generated from the
// indicator declarations; not enumerable, so the export list stays the add-on's own.
Object.defineProperty(module.exports, 'indicators', {
  configurable: true,
  enumerable: false,
  get: () => require('./indicators.js'),
});
