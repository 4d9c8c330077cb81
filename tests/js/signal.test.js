'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const { NodeSignal } = require('../..');

test('factories, payload getters and the serialised form', async (t) => {
  const cases = [
    [NodeSignal.Size(2.5), { kind: 'Size', value: 2.5 }, 2.5, null, false, false, 'Size(2.5)'],
    [NodeSignal.EquityPct(-1), { kind: 'EquityPct', value: -1 }, null, -1, false, false, 'EquityPct(-1.0)'],
    [NodeSignal.Long(), { kind: 'EquityPct', value: 1 }, null, 1, false, false, 'EquityPct(1.0)'],
    [NodeSignal.Short(), { kind: 'EquityPct', value: -1 }, null, -1, false, false, 'EquityPct(-1.0)'],
    [NodeSignal.Hold(), { kind: 'Hold', value: [] }, null, null, true, false, 'Hold'],
    [NodeSignal.CloseAll(), { kind: 'CloseAll', value: [] }, null, null, false, true, 'CloseAll'],
    [NodeSignal.EquityPct(1e-5), { kind: 'EquityPct', value: 1e-5 }, null, 1e-5, false, false, 'EquityPct(1e-5)'],
    [NodeSignal.Size(1e16), { kind: 'Size', value: 1e16 }, 1e16, null, false, false, 'Size(1e16)'],
    [NodeSignal.Size(-Infinity), { kind: 'Size', value: -Infinity }, -Infinity, null, false, false, 'Size(-inf)'],
  ];
  for (const [sig, kind, size, equityPct, isHold, isCloseAll, text] of cases) {
    await t.test(text, () => {
      assert.deepEqual(sig.toJSON(), { kind, id: null, comment: null });
      assert.deepEqual(Object.keys(sig.toJSON()), ['kind', 'id', 'comment']);
      assert.deepEqual(Object.keys(sig.toJSON().kind), ['kind', 'value']);
      assert.deepEqual([sig.size, sig.equityPct, sig.isHold, sig.isCloseAll], [size, equityPct, isHold, isCloseAll]);
      assert.equal(sig.toString(), `Signal { kind: ${text}, id: None, comment: None }`);
    });
  }
  const nan = NodeSignal.Size(NaN);
  assert.ok(Number.isNaN(nan.size) && Number.isNaN(nan.toJSON().kind.value));
  assert.equal(nan.toString(), 'Signal { kind: Size(NaN), id: None, comment: None }');
});

test('id and comment accessors', () => {
  const s = NodeSignal.Long();
  s.id = 'entry';
  s.comment = 'say "hi"\n';
  assert.equal(s.id, 'entry');
  assert.equal(s.toString(), 'Signal { kind: EquityPct(1.0), id: Some("entry"), comment: Some("say \\"hi\\"\\n") }');
  assert.deepEqual(s.toJSON(), { kind: { kind: 'EquityPct', value: 1 }, id: 'entry', comment: 'say "hi"\n' });
  s.id = null;
  s.comment = undefined;
  assert.equal(s.id, null);
  assert.deepEqual(s.toJSON(), { kind: { kind: 'EquityPct', value: 1 }, id: null, comment: null });
  s.id = 'x';
  assert.throws(() => { s.id = 5; }, { code: 'StringExpected' });
  assert.equal(s.id, 'x', 'a refused write changes nothing');
  assert.throws(() => NodeSignal.Size('1'), { code: 'NumberExpected' });
});

test('fromJSON reproduces every kind', async (t) => {
  const sigs = [NodeSignal.Size(2.5), NodeSignal.EquityPct(0.3), NodeSignal.Hold(), NodeSignal.CloseAll()];
  for (const s of sigs) {
    for (const [id, comment] of [[null, null], ['a', null], [null, 'c'], ['a', 'c']]) {
      s.id = id;
      s.comment = comment;
      await t.test(s.toString(), () => {
        const back = NodeSignal.fromJSON(s.toJSON());
        assert.deepEqual(back.toJSON(), s.toJSON());
        assert.equal(back.toString(), s.toString());
      });
    }
  }
});

test('fromJSON accepts key order, extra keys, nullish texts and the positional form', async (t) => {
  const accepted = [
    [{ kind: { value: [], kind: 'Hold' } }, 'Signal { kind: Hold, id: None, comment: None }'],
    [{ comment: 'c', kind: { kind: 'Size', value: 3, extra: 1 }, other: true, id: undefined },
      'Signal { kind: Size(3.0), id: None, comment: Some("c") }'],
    [{ kind: { kind: 'EquityPct', value: -0.5 }, id: null, comment: null },
      'Signal { kind: EquityPct(-0.5), id: None, comment: None }'],
    [[{ kind: 'CloseAll', value: [] }, 'x', null], 'Signal { kind: CloseAll, id: Some("x"), comment: None }'],
    [[['Size', 1], null, 'y'], 'Signal { kind: Size(1.0), id: None, comment: Some("y") }'],
  ];
  for (const [json, text] of accepted) await t.test(text, () => assert.equal(NodeSignal.fromJSON(json).toString(), text));
});

test('fromJSON names what is wrong', async (t) => {
  const refused = [
    [{}, 'missing field `kind`'],
    [{ kind: undefined }, 'missing field `kind`'],
    [{ kind: { value: 1 } }, 'missing field `kind`'],
    [{ kind: { kind: 'Hold' } }, 'missing field `value`'],
    [{ kind: { kind: 'Size' } }, 'missing field `value`'],
    [{ kind: { kind: 'Buy', value: 1 } }, 'unknown variant `Buy`, expected one of `Size`, `EquityPct`, `Hold`, `CloseAll`'],
    [{ kind: { kind: 'size', value: 1 } }, /unknown variant `size`/],
    [{ kind: { kind: 'Size', value: '1' } }, 'invalid type: string "1", expected f64'],
    [{ kind: { kind: 'EquityPct', value: null } }, 'invalid type: null, expected f64'],
    [{ kind: { kind: 'Hold', value: [1] } }, 'invalid length 1, expected tuple variant SignalKind::Hold with 0 elements'],
    [{ kind: { kind: 'CloseAll', value: 0 } }, /invalid type: floating point `0`, expected tuple variant SignalKind::CloseAll/],
    [{ kind: { kind: 7, value: 1 } }, 'invalid type: floating point `7`, expected variant identifier'],
    [{ kind: 'Hold' }, 'invalid type: string "Hold", expected adjacently tagged enum SignalKind'],
    [{ kind: { kind: 'Hold', value: [] }, id: 5 }, 'invalid type: floating point `5`, expected a string'],
    [{ kind: { kind: 'Hold', value: [] }, comment: {} }, 'invalid type: map, expected a string'],
    [[{ kind: 'Hold', value: [] }], 'invalid length 1, expected struct Signal with 3 elements'],
    [42, 'invalid type: floating point `42`, expected struct Signal'],
    [undefined, 'invalid type: undefined, expected struct Signal'],
  ];
  for (const [json, message] of refused) {
    await t.test(String(message), () => assert.throws(() => NodeSignal.fromJSON(json), { message, code: 'InvalidArg' }));
  }
});

test('fromJSON lets a throwing getter through unchanged', () => {
  const boom = new Error('boom');
  const json = { get kind() { throw boom; } };
  assert.throws(() => NodeSignal.fromJSON(json), (e) => e === boom);
});

test('no public constructor', () => {
  assert.throws(() => new NodeSignal(), { message: 'Class contains no `constructor`, can not new it!' });
});

test('every order term reads back from the signal it was set on', async (t) => {
  const s = NodeSignal.StopLimit(2, 101, 102);
  s.timeInForce = 3;
  s.stopLoss = 95;
  s.takeProfit = { pct: 0.1 };
  s.trailingStop = { pct: 0.02 };
  const cases = [
    ['limitPrice', 102], ['stopPrice', 101], ['timeInForce', 3], ['stopLoss', 95],
    ['takeProfit', { pct: 0.1 }], ['trailingStop', { pct: 0.02 }], ['size', 2],
  ];
  for (const [name, want] of cases) await t.test(name, () => assert.deepEqual(s[name], want));
  await t.test('a plain signal has none', () => {
    const plain = NodeSignal.Size(1);
    for (const [name] of cases.slice(0, 6)) assert.equal(plain[name], null, name);
  });
  await t.test('cleared terms read as absent', () => {
    const c = NodeSignal.Limit(1, 50);
    c.trailingStop = { ticks: 4 };
    c.trailingStop = null;
    c.timeInForce = null;
    assert.deepEqual([c.limitPrice, c.trailingStop, c.timeInForce], [50, null, null]);
    assert.deepEqual(Object.keys(c.toJSON()), ['kind', 'id', 'comment', 'limit_price']);
  });
});
