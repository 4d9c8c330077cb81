'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const { NodeSym, NodeSymKind } = require('../..');

const TEXT_KEYS = ['id', 'ticker_id', 'prefix', 'currency', 'base_currency', 'ticker', 'country', 'metadata'];
const NUMBER_KEYS = ['min_tick', 'min_qty', 'price_scale', 'point_value'];
const ACCESSOR = {
  id: 'id', ticker_id: 'tickerId', prefix: 'prefix', currency: 'currency', base_currency: 'baseCurrency',
  ticker: 'ticker', country: 'country', metadata: 'metadata', min_tick: 'minTick', min_qty: 'minQty',
  price_scale: 'priceScale', point_value: 'pointValue',
};
const PRESETS = {
  BTC_USD: ['ORVEX__BITSTAMP:BTCUSD', 'BITSTAMP:BTCUSD', 'BITSTAMP', 'USD', 'BTC', 'BTCUSD', 1.0, 0.000001, 1.0, 1000000],
  ETH_USD: ['ORVEX__BITSTAMP:ETHUSD', 'BITSTAMP:ETHUSD', 'BITSTAMP', 'USD', 'ETH', 'ETHUSD', 0.1, 0.0001, 10.0, 10000],
  SOL_USD: ['ORVEX__BINANCE:SOLUSD', 'BINANCE:SOLUSD', 'BINANCE', 'USD', 'SOL', 'SOLUSD', 0.01, 0.001, 100.0, 1000],
  DOGE_USD: ['ORVEX__BINANCE:DOGEUSD', 'BINANCE:DOGEUSD', 'BINANCE', 'USD', 'DOGE', 'DOGEUSD', 0.0001, 0.001, 10000.0, 1000],
};

// Every field of two symbols, by their JSON form (NaN equal to NaN).
const sameFields = (a, b, msg) => assert.deepEqual(a.toJSON(), b.toJSON(), msg);

test('presets hold their fields and quantity scale', async (t) => {
  for (const [name, [id, tickerId, prefix, currency, base, ticker, minTick, minQty, priceScale, qtyScale]] of
    Object.entries(PRESETS)) {
    await t.test(name, () => {
      const s = NodeSym[name]();
      assert.deepEqual(
        [s.id, s.tickerId, s.prefix, s.currency, s.baseCurrency, s.ticker, s.country, s.metadata],
        [id, tickerId, prefix, currency, base, ticker, null, null]);
      assert.deepEqual([s.minTick, s.minQty, s.priceScale, s.pointValue], [minTick, minQty, priceScale, 1.0]);
      assert.equal(s.kind.toString(), 'crypto');
      assert.equal(s.qtyScale, qtyScale);
      assert.equal(s.toString(), `Sym(ticker_id=Some("${tickerId}"), id=Some("${id}"), kind=Crypto)`);
    });
  }
});

test('the default symbol', () => {
  const s = new NodeSym();
  assert.equal(s.id, null);
  assert.ok(Number.isNaN(s.minTick) && Number.isNaN(s.pointValue));
  assert.equal(s.kind.toString(), 'unknown');
  assert.equal(s.toString(), 'Sym(ticker_id=None, id=None, kind=Unknown)');
  assert.throws(() => s.qtyScale, { message: 'min_qty must be greater than 0.0', code: 'InvalidArg' });
});

test('accessors store copies; null and undefined clear texts', () => {
  const s = new NodeSym();
  s.ticker = 'AAPL';
  s.minQty = 0.25;
  s.pointValue = NaN;
  assert.equal(s.ticker, 'AAPL');
  assert.equal(s.qtyScale, 4);
  assert.ok(Number.isNaN(s.pointValue));
  s.ticker = null;
  assert.equal(s.ticker, null);
  s.ticker = 'X';
  s.ticker = undefined;
  assert.equal(s.ticker, null);

  s.minQty = 0;
  assert.throws(() => s.qtyScale, { message: 'min_qty must be greater than 0.0' });
  s.minQty = -1;
  assert.throws(() => s.qtyScale, { message: 'min_qty must be greater than 0.0' });
  s.minQty = 0.4; // 2.5 rounds away from zero
  assert.equal(s.qtyScale, 3);

  const k = s.kind;
  assert.equal(k.toString(), 'unknown');
  s.kind = NodeSymKind.Crypto();
  assert.equal(k.toString(), 'unknown', 'the object read earlier is a copy');
  assert.equal(s.kind.toString(), 'crypto');
});

test('wrong argument types change nothing', () => {
  const s = NodeSym.BTC_USD();
  const before = s.toJSON();
  assert.throws(() => { s.ticker = 5; }, { code: 'StringExpected', message: /Number 5/ });
  assert.throws(() => { s.minTick = '1'; }, { code: 'NumberExpected', message: /String/ });
  assert.throws(() => { s.minTick = undefined; }, { code: 'NumberExpected' });
  assert.throws(() => { s.kind = 'crypto'; }, { message: 'Failed to recover `NodeSymKind` type from napi value' });
  assert.throws(() => { s.kind = NodeSym.BTC_USD(); }, { message: 'Failed to recover `NodeSymKind` type from napi value' });
  assert.throws(() => s.eq({}), { message: 'Failed to recover `NodeSym` type from napi value' });
  assert.throws(() => NodeSym.prototype.toString.call({}),
    { message: 'Failed to unwrap exclusive reference of `NodeSym` type from napi value' });
  assert.deepEqual(s.toJSON(), before);
});

test('equality looks at the id only', () => {
  assert.equal(new NodeSym().eq(new NodeSym()), false);
  const a = NodeSym.BTC_USD();
  const b = new NodeSym();
  b.id = a.id;
  assert.equal(a.eq(b), true);
  assert.equal(b.eq(a), true);
  b.id = a.id + ' ';
  assert.equal(a.eq(b), false);
  assert.equal(a.eq(NodeSym.ETH_USD()), false);
  const empty = new NodeSym();
  empty.id = '';
  const empty2 = new NodeSym();
  empty2.id = '';
  assert.equal(empty.eq(empty2), true, 'an empty id is still an id');
});

test('toString escapes the displayed texts', () => {
  const s = new NodeSym();
  s.tickerId = 'a"b\\c\nd\te\u0001\u007f\u0085é';
  s.kind = NodeSymKind.Other('Crypto "x"');
  assert.equal(s.toString(),
    'Sym(ticker_id=Some("a\\"b\\\\c\\nd\\te\\u{1}\\u{7f}\\u{85}é"), id=None, kind=Other("Crypto \\"x\\""))');
});

test('toJSON writes every key in order', () => {
  const j = NodeSym.ETH_USD().toJSON();
  assert.deepEqual(Object.keys(j), [...TEXT_KEYS, ...NUMBER_KEYS, 'kind']);
  assert.deepEqual(j, {
    id: 'ORVEX__BITSTAMP:ETHUSD', ticker_id: 'BITSTAMP:ETHUSD', prefix: 'BITSTAMP', currency: 'USD',
    base_currency: 'ETH', ticker: 'ETHUSD', country: null, metadata: null, min_tick: 0.1, min_qty: 0.0001,
    price_scale: 10, point_value: 1, kind: 'crypto',
  });
  const d = new NodeSym().toJSON();
  for (const k of TEXT_KEYS) assert.equal(d[k], null);
  for (const k of NUMBER_KEYS) assert.ok(Number.isNaN(d[k]));
  assert.equal(d.kind, 'unknown');
});

test('every preset and the default symbol read back from their own JSON, also through a JSON text', async (t) => {
  const custom = new NodeSym();
  custom.metadata = 'note';
  custom.minQty = 2;
  custom.kind = NodeSymKind.Other('bond');
  const symbols = [...Object.keys(PRESETS).map((n) => NodeSym[n]()), new NodeSym(), custom];
  for (const s of symbols) {
    await t.test(s.toString(), () => {
      sameFields(NodeSym.fromJSON(s.toJSON()), s);
      sameFields(NodeSym.fromJSON(JSON.parse(JSON.stringify(s))), s, 'via text');
    });
  }
  sameFields(NodeSym.fromJSON({}), new NodeSym());
  // JSON.stringify writes NaN as null; it reads back as NaN.
  assert.ok(Number.isNaN(NodeSym.fromJSON({ min_qty: null }).minQty));
});

test('fromJSON reads kinds, ignores other keys and refuses values of the wrong type', async (t) => {
  assert.equal(NodeSym.fromJSON({ kind: 'stock' }).kind.eq(NodeSymKind.Stock()), true);
  assert.equal(NodeSym.fromJSON({ kind: 'Stock' }).kind.eq(NodeSymKind.Other('Stock')), true);
  assert.equal(NodeSym.fromJSON({ kind: undefined, ticker: undefined, extra: 1 }).ticker, null);

  const cases = [
    [{ min_tick: '1' }, 'NumberExpected'],
    [{ point_value: true }, 'NumberExpected'],
    [{ kind: null }, 'StringExpected'],
    [{ kind: 3 }, 'StringExpected'],
    [{ id: 5 }, 'StringExpected'],
    [{ metadata: {} }, 'StringExpected'],
    // The first failing key in reading order wins: numbers before the kind before the texts.
    [{ id: 5, kind: 3, min_qty: 'x' }, 'NumberExpected'],
    [{ id: 5, kind: 3 }, 'StringExpected'],
  ];
  for (const [json, code] of cases) {
    await t.test(JSON.stringify(json), () => assert.throws(() => NodeSym.fromJSON(json), { code }));
  }
  for (const v of [undefined, null]) {
    await t.test(String(v), () => {
      assert.throws(() => NodeSym.fromJSON(v), { message: 'Failed to get property with field `min_tick`' });
    });
  }

  const err = new Error('from a getter');
  assert.throws(() => NodeSym.fromJSON({ get ticker() { throw err; } }), (e) => e === err);
});

test('kinds: text forms, periods and equality', async (t) => {
  const words = ['stock', 'future', 'option', 'forex', 'crypto', 'unknown'];
  const factories = ['Stock', 'Future', 'Option', 'Forex', 'Crypto', 'Unknown'];
  for (const [i, w] of words.entries()) {
    await t.test(w, () => {
      const k = NodeSymKind.fromString(w);
      assert.equal(k.toString(), w);
      assert.equal(k.eq(NodeSymKind[factories[i]]()), true);
      assert.equal(k.periods, w === 'crypto' ? 365 : 252);
    });
  }
  for (const text of ['Crypto', '', ' stock', 'STOCK']) {
    await t.test(`other ${JSON.stringify(text)}`, () => {
      const k = NodeSymKind.fromString(text);
      assert.equal(k.toString(), text);
      assert.equal(k.eq(NodeSymKind.Other(text)), true);
      assert.equal(k.periods, 252);
    });
  }
  const fake = NodeSymKind.Other('stock');
  assert.equal(fake.eq(NodeSymKind.Stock()), false);
  assert.equal(fake.toString(), 'stock');
  assert.equal(NodeSymKind.Other('a').eq(NodeSymKind.Other('b')), false);
  const s = new NodeSym();
  s.kind = fake;
  assert.equal(NodeSym.fromJSON(s.toJSON()).kind.eq(NodeSymKind.Stock()), true, 'the JSON text reads as Stock');

  assert.throws(() => new NodeSymKind(), { message: 'Class contains no `constructor`, can not new it!' });
  assert.throws(() => NodeSymKind.Other(), { code: 'StringExpected' });
  assert.throws(() => NodeSymKind.fromString(1), { code: 'StringExpected' });
});
