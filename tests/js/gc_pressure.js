'use strict';
// Preloaded (node -r) into a child that runs the fuzz test: every call the fuzz test makes through
// Reflect.apply or Reflect.construct first makes add-on objects that die a little later, and asks
// for a young-generation collection now and then, so that collections with objects to finalize keep
// happening while the add-on throws.
const b = require('../..');

const apply = Reflect.apply;
const construct = Reflect.construct;
const gc = globalThis.gc;
let calls = 0;
let window = [];

// Objects kept for a while before they are dropped live long enough to reach the old generation,
// whose collections run during allocation anywhere, the add-on's error paths included.
function garbage() {
  for (let i = 0; i < 4; i++) {
    window.push(new b.NodeOhlcvBar(null, null, i, i, i, i, i), new b.NodeOhlcv(), b.NodeTimeframe.Days(i), b.NodeSignal.Size(i));
  }
  if (window.length > 4000) window = [];
  if (gc && ++calls % 2048 === 0) gc({ type: 'minor' });
}

Reflect.apply = function (target, self, args) {
  garbage();
  return apply(target, self, args);
};
Reflect.construct = function (target, args, newTarget = target) {
  garbage();
  return construct(target, args, newTarget);
};
