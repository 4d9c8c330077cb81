'use strict';
// Loads the native add-on and exports its exports object unchanged.
module.exports = require('./build/Release/barwise.node');
