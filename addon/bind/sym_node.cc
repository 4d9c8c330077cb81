#include "addon/bind.h"
#include "addon/classes.h"
#include "addon/record.h"
#include "core/sym.h"

using namespace bw;
using namespace bw::js;

namespace {

using Text = std::optional<std::string>;
using record::Null;

// Numbers and texts may be null, so a symbol reads back its own JSON, whose absent texts are
// written as null (and whose NaN numbers become null through JSON.stringify). The kind is always
// written as a text: a null kind is refused.
template <class T>
Result<std::optional<T>> jsonField(const JsObject& o, const char* key, Null null = Null::Absent) {
  return record::named<T>(o.env(), o.value(), key, null);
}

Result<Sym> symFromJson(const JsObject& o) {
  Sym s;
  double* numbers[] = {&s.minTick, &s.minQty, &s.priceScale, &s.pointValue};
  const char* numberKeys[] = {"min_tick", "min_qty", "price_scale", "point_value"};
  for (size_t i = 0; i < 4; ++i) {
    BW_ASSIGN(x, jsonField<double>(o, numberKeys[i]));
    *numbers[i] = x.value_or(kNaN);
  }
  BW_ASSIGN(kind, jsonField<std::string>(o, "kind", Null::Value));
  if (kind) s.kind = SymKind::fromString(*kind);
  Text* texts[] = {&s.id, &s.tickerId, &s.prefix, &s.currency, &s.baseCurrency, &s.ticker, &s.country, &s.metadata};
  const char* textKeys[] = {"id", "ticker_id", "prefix", "currency", "base_currency", "ticker", "country", "metadata"};
  for (size_t i = 0; i < 8; ++i) {
    BW_ASSIGN(t, jsonField<std::string>(o, textKeys[i]));
    *texts[i] = std::move(t);
  }
  return s;
}

Result<napi_value> symToJson(napi_env env, const Sym& s) {
  return ObjectBuilder(env)
      .set("id", s.id)
      .set("ticker_id", s.tickerId)
      .set("prefix", s.prefix)
      .set("currency", s.currency)
      .set("base_currency", s.baseCurrency)
      .set("ticker", s.ticker)
      .set("country", s.country)
      .set("metadata", s.metadata)
      .set("min_tick", s.minTick)
      .set("min_qty", s.minQty)
      .set("price_scale", s.priceScale)
      .set("point_value", s.pointValue)
      .set("kind", s.kind.toString())
      .done();
}

// The record of a NodeSymKind: the tag and its periods per year; the text of Other.
enum KindSlot : size_t { kKindTag, kKindPeriods, kKindNumbers };
enum KindText : size_t { kKindOther, kKindTexts };

// The record of a NodeSym: the four numbers and the kind's two numbers; the eight texts and the
// kind's text.
enum SymSlot : size_t { kMinTick, kMinQty, kPriceScale, kPointValue, kSymKind, kSymNumbers = kSymKind + kKindNumbers };
enum SymText : size_t {
  kId,
  kTickerId,
  kPrefix,
  kCurrency,
  kBaseCurrency,
  kTicker,
  kCountry,
  kMetadata,
  kSymKindOther,
  kSymTexts
};

Text Sym::*const kTextMembers[] = {&Sym::id,           &Sym::tickerId, &Sym::prefix,  &Sym::currency,
                                   &Sym::baseCurrency, &Sym::ticker,   &Sym::country, &Sym::metadata};
double Sym::*const kNumberMembers[] = {&Sym::minTick, &Sym::minQty, &Sym::priceScale, &Sym::pointValue};

void writeKind(const SymKind& k, RecordOut& out, size_t slot, size_t text) {
  out.number(slot + kKindTag, static_cast<double>(k.tag));
  out.number(slot + kKindPeriods, k.periodsPerYear());
  out.text(text, k.tag == SymKind::Tag::Other ? Text(k.other) : Text());
}

SymKind readKind(const RecordIn& in, size_t slot, size_t text) {
  SymKind k = SymKind::of(static_cast<SymKind::Tag>(in.integer(slot + kKindTag, 0, static_cast<int64_t>(SymKind::Tag::Other))));
  if (k.tag == SymKind::Tag::Other) k.other = in.text(text).value_or("");
  return k;
}

}  // namespace

void Codec<SymKind>::write(const SymKind& k, RecordOut& out) { writeKind(k, out, 0, kKindOther); }

Result<SymKind> Codec<SymKind>::read(const RecordIn& in) { return in.result(readKind(in, 0, kKindOther)); }

void Codec<Sym>::write(const Sym& s, RecordOut& out) {
  for (size_t i = 0; i < 4; ++i) out.number(kMinTick + i, s.*kNumberMembers[i]);
  for (size_t i = 0; i < 8; ++i) out.text(kId + i, s.*kTextMembers[i]);
  writeKind(s.kind, out, kSymKind, kSymKindOther);
}

Result<Sym> Codec<Sym>::read(const RecordIn& in) {
  Sym s;
  for (size_t i = 0; i < 4; ++i) s.*kNumberMembers[i] = in.number(kMinTick + i);
  for (size_t i = 0; i < 8; ++i) s.*kTextMembers[i] = in.text(kId + i);
  s.kind = readKind(in, kSymKind, kSymKindOther);
  return in.result(std::move(s));
}

// Text and number fields: read in JavaScript, written through the native setter.
#define BW_SYM_TEXT(c, name, member, slot) \
  c.field(name, jsx::text(slot, kSymNumbers), [](Sym& s, Text v) { s.member = std::move(v); })
#define BW_SYM_NUMBER(c, name, member, slot) c.numberField(name, slot, [](Sym& s, double v) { s.member = v; })

BW_REGISTER(sym) {
  Class<Sym> c;
  c.record(kSymNumbers, kSymTexts);
  c.constructor([] { return Sym{}; });
  c.staticMethod("BTC_USD", [] { return Sym::btcUsd(); });
  c.staticMethod("ETH_USD", [] { return Sym::ethUsd(); });
  c.staticMethod("SOL_USD", [] { return Sym::solUsd(); });
  c.staticMethod("DOGE_USD", [] { return Sym::dogeUsd(); });
  c.staticMethod("fromJSON", [](JsObject o) { return symFromJson(o); });
  BW_SYM_TEXT(c, "id", id, kId);
  BW_SYM_TEXT(c, "tickerId", tickerId, kTickerId);
  BW_SYM_TEXT(c, "prefix", prefix, kPrefix);
  BW_SYM_TEXT(c, "currency", currency, kCurrency);
  BW_SYM_TEXT(c, "baseCurrency", baseCurrency, kBaseCurrency);
  BW_SYM_TEXT(c, "ticker", ticker, kTicker);
  BW_SYM_TEXT(c, "country", country, kCountry);
  BW_SYM_TEXT(c, "metadata", metadata, kMetadata);
  BW_SYM_NUMBER(c, "minTick", minTick, kMinTick);
  BW_SYM_NUMBER(c, "minQty", minQty, kMinQty);
  BW_SYM_NUMBER(c, "priceScale", priceScale, kPriceScale);
  BW_SYM_NUMBER(c, "pointValue", pointValue, kPointValue);
  // A new NodeSymKind made from the symbol's record on every read.
  c.field("kind",
          jsx::object(ClassOf<SymKind>::id(),
                      jsx::slots(kSymKind, kKindNumbers) + ", " + jsx::text(kSymKindOther, kSymNumbers)),
          [](Sym& s, const SymKind& k) { s.kind = k; });
  c.getter("qtyScale", [](const Sym& s) { return s.qtyScale(); });
  c.method("eq", [](const Sym& a, const Sym& b) { return a.sameId(b); });
  c.method("toJSON", [](Call& call, const Sym& s) { return symToJson(call.env, s); });
  c.method("toString", [](const Sym& s) { return s.toString(); });
}

#undef BW_SYM_TEXT
#undef BW_SYM_NUMBER

BW_REGISTER(sym_kind) {
  using Tag = SymKind::Tag;
  Class<SymKind> c;
  c.record(kKindNumbers, kKindTexts);
  c.staticMethod("Stock", [] { return SymKind::of(Tag::Stock); });
  c.staticMethod("Future", [] { return SymKind::of(Tag::Future); });
  c.staticMethod("Option", [] { return SymKind::of(Tag::Option); });
  c.staticMethod("Forex", [] { return SymKind::of(Tag::Forex); });
  c.staticMethod("Crypto", [] { return SymKind::of(Tag::Crypto); });
  c.staticMethod("Unknown", [] { return SymKind::of(Tag::Unknown); });
  c.staticMethod("Other", [](std::string text) { return SymKind::makeOther(std::move(text)); });
  c.staticMethod("fromString", [](std::string text) { return SymKind::fromString(text); });
  c.field("periods", jsx::number(kKindPeriods));
  c.method("eq", [](const SymKind& a, const SymKind& b) { return a == b; });
  c.method("toString", [](const SymKind& k) { return k.toString(); });
}

BW_REGISTER(sizing) {
  function("roundToMinTick", [](double value, double minTick) { return roundToMinTick(value, minTick); });
  function("roundContracts",
           [](double size, double minQty, double qtyScale) { return roundContracts(size, minQty, qtyScale); });
  function("validateContracts", [](double size, double minQty) { return validateContracts(size, minQty); });
  function("orderSize", [](double equityPct, double equity, double multiplier, double price, double pointValue) {
    return orderSize(equityPct, equity, multiplier, price, pointValue);
  });
  function("orderSizeForEquityPct", [](double equityPct, double equity, double positionSize, double price,
                                       double pointValue, double multiplier) {
    return orderSizeForEquityPct(equityPct, equity, positionSize, price, pointValue, multiplier);
  });
}
