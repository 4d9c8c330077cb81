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

}  // namespace

// Text and number fields, each a read-write accessor over one member of Sym.
#define BW_SYM_TEXT(c, name, member)                                   \
  c.accessor(                                                          \
      name, [](const Sym& s) { return s.member; }, [](Sym& s, Text v) { s.member = std::move(v); })
#define BW_SYM_NUMBER(c, name, member) \
  c.accessor(                          \
      name, [](const Sym& s) { return s.member; }, [](Sym& s, double v) { s.member = v; })

BW_REGISTER(sym) {
  Class<Sym> c;
  c.constructor([] { return Sym{}; });
  c.staticMethod("BTC_USD", [] { return Sym::btcUsd(); });
  c.staticMethod("ETH_USD", [] { return Sym::ethUsd(); });
  c.staticMethod("SOL_USD", [] { return Sym::solUsd(); });
  c.staticMethod("DOGE_USD", [] { return Sym::dogeUsd(); });
  c.staticMethod("fromJSON", [](JsObject o) { return symFromJson(o); });
  BW_SYM_TEXT(c, "id", id);
  BW_SYM_TEXT(c, "tickerId", tickerId);
  BW_SYM_TEXT(c, "prefix", prefix);
  BW_SYM_TEXT(c, "currency", currency);
  BW_SYM_TEXT(c, "baseCurrency", baseCurrency);
  BW_SYM_TEXT(c, "ticker", ticker);
  BW_SYM_TEXT(c, "country", country);
  BW_SYM_TEXT(c, "metadata", metadata);
  BW_SYM_NUMBER(c, "minTick", minTick);
  BW_SYM_NUMBER(c, "minQty", minQty);
  BW_SYM_NUMBER(c, "priceScale", priceScale);
  BW_SYM_NUMBER(c, "pointValue", pointValue);
  c.accessor(
      "kind", [](const Sym& s) { return s.kind; }, [](Sym& s, const SymKind& k) { s.kind = k; });
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
  c.staticMethod("Stock", [] { return SymKind::of(Tag::Stock); });
  c.staticMethod("Future", [] { return SymKind::of(Tag::Future); });
  c.staticMethod("Option", [] { return SymKind::of(Tag::Option); });
  c.staticMethod("Forex", [] { return SymKind::of(Tag::Forex); });
  c.staticMethod("Crypto", [] { return SymKind::of(Tag::Crypto); });
  c.staticMethod("Unknown", [] { return SymKind::of(Tag::Unknown); });
  c.staticMethod("Other", [](std::string text) { return SymKind::makeOther(std::move(text)); });
  c.staticMethod("fromString", [](std::string text) { return SymKind::fromString(text); });
  c.getter("periods", [](const SymKind& k) { return static_cast<int32_t>(k.periodsPerYear()); });
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
