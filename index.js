'use strict';
// Loads the native add-on and exports its exports object unchanged.
module.exports = require('./build/Release/barwise.node');

// JavaScript-side extensions of the add-on's classes (the browser report).
require('./js/html-report').attach(module.exports);
// Parameter sweeps, loaded on first use; not enumerable, so the export list stays the add-on's.
Object.defineProperty(module.exports, 'sweep', { get: () => require('./js/sweep').sweep });
