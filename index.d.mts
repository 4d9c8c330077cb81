// Declarations of the ES module entry: every named export of index.d.ts, and the add-on object
// itself as the default export.
import * as barwise from './index.js';

export * from './index.js';
export default barwise;
