#include "addon/bind.h"
#include "addon/classes.h"
#include "addon/record.h"
#include "core/numfmt.h"
#include "core/signal.h"

#include <array>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <string>
#include <utility>

using namespace bw;
using namespace bw::js;

namespace {

constexpr const char* kSignalRecord = "struct Signal with 3 elements";
constexpr const char* kKindRecord = "adjacently tagged enum SignalKind";

// ---- Order terms ----------------------------------------------------------------------------------

bool isObject(napi_env env, napi_value v) {
  napi_valuetype t;
  return napi_typeof(env, v, &t) == napi_ok && t == napi_object;
}

bool isNumber(napi_env env, napi_value v) {
  napi_valuetype t;
  return napi_typeof(env, v, &t) == napi_ok && t == napi_number;
}

Error badTerm(const char* field, const std::string& what) { return invalidArg(std::string("Signal ") + field + " " + what); }

// A number field of a term: present and a number, or an error naming it.
Result<double> termNumber(napi_env env, napi_value v, const char* field) {
  if (!isNumber(env, v)) return badTerm(field, "must be a number, got " + std::string(typeName(env, v)));
  return readF64(env, v);
}

// The one key of a term object among `keys` ({ pct: 0.02 } or { ticks: 10 }): its index and value.
Result<std::pair<size_t, double>> oneOf(napi_env env, napi_value v, const char* field,
                                        std::initializer_list<const char*> keys) {
  const JsObject o(env, v);
  std::optional<std::pair<size_t, double>> found;
  size_t i = 0;
  for (const char* key : keys) {
    BW_ASSIGN(raw, record::field(env, o.value(), key));
    BW_ASSIGN(x, record::present(env, raw, record::Null::Absent));
    if (x) {
      if (found) return badTerm(field, "takes one of its keys, not several");
      BW_ASSIGN(n, termNumber(env, *x, field));
      found = std::pair(i, n);
    }
    ++i;
  }
  if (!found) {
    std::string list;
    for (const char* key : keys) list += (list.empty() ? "{ " : " } or { ") + std::string(key) + ": number";
    return badTerm(field, "must be " + list + " }");
  }
  return *found;
}

// A stop-loss or take-profit: a price, or { pct } from the entry's fill price; null clears it.
Result<std::optional<ExitLevel>> readLevel(napi_env env, napi_value v, const char* field) {
  BW_ASSIGN(absent, isNullish(env, v));
  if (absent) return std::optional<ExitLevel>{};
  if (isNumber(env, v)) {
    BW_ASSIGN(x, readF64(env, v));
    return std::optional<ExitLevel>{ExitLevel::price(x)};
  }
  if (!isObject(env, v))
    return badTerm(field, "must be a price or { pct: number }, got " + std::string(typeName(env, v)));
  BW_ASSIGN(pct, oneOf(env, v, field, {"pct"}));
  return std::optional<ExitLevel>{ExitLevel::pct(pct.second)};
}

Result<std::optional<TrailingStop>> readTrail(napi_env env, napi_value v) {
  BW_ASSIGN(absent, isNullish(env, v));
  if (absent) return std::optional<TrailingStop>{};
  if (!isObject(env, v))
    return badTerm("trailingStop", "must be { pct: number } or { ticks: number }, got " + std::string(typeName(env, v)));
  BW_ASSIGN(distance, oneOf(env, v, "trailingStop", {"pct", "ticks"}));
  return std::optional<TrailingStop>{TrailingStop{distance.first == 1, distance.second}};
}

Result<std::optional<int32_t>> readTimeInForce(napi_env env, napi_value v) {
  BW_ASSIGN(absent, isNullish(env, v));
  if (absent) return std::optional<int32_t>{};
  BW_ASSIGN(x, termNumber(env, v, "timeInForce"));
  if (!(x >= 1 && x <= 2147483647.0 && x == std::floor(x)))
    return badTerm("timeInForce", "must be a whole number of bars of at least 1, got " + formatPlainNumber(x));
  return std::optional<int32_t>{static_cast<int32_t>(x)};
}

Result<napi_value> levelValue(napi_env env, const std::optional<ExitLevel>& l) {
  if (!l) return nullValue(env);
  if (!l->relative) return makeF64(env, l->value);
  return ObjectBuilder(env).set("pct", l->value).done();
}

Result<napi_value> trailValue(napi_env env, const std::optional<TrailingStop>& t) {
  if (!t) return nullValue(env);
  return ObjectBuilder(env).set(t->ticks ? "ticks" : "pct", t->value).done();
}

// Checks terms just set on a signal: the values alone, since the side and the entry price are
// known only when the signal reaches a backtest.
Result<Unit> checkTerms(const OrderTerms& terms) {
  constexpr double unknown = std::numeric_limits<double>::quiet_NaN();
  return terms.validate(unknown, unknown);
}

// A signal to buy or sell `size` with the given prices; each price must be given.
Result<Signal> pricedSignal(double size, std::optional<double> stop, std::optional<double> limit, const char* factory,
                            bool needsStop, bool needsLimit) {
  if (needsStop && !stop) return badTerm("stopPrice", std::string("is required by NodeSignal.") + factory);
  if (needsLimit && !limit) return badTerm("limitPrice", std::string("is required by NodeSignal.") + factory);
  Signal s{SignalKind::size(size), {}, {}, {}};
  s.terms.stopPrice = stop;
  s.terms.limitPrice = limit;
  BW_TRY(checkTerms(s.terms));
  return s;
}

Result<SignalKind> readKind(napi_env env, napi_value v) {
  BW_ASSIGN(shape, record::shapeOf(env, v));
  std::optional<napi_value> tagValue, payload;
  if (shape == record::Shape::Map) {
    BW_ASSIGN(fields, record::readFields<2>(env, v, {"kind", "value"}));
    tagValue = fields[0];
    payload = fields[1];
  } else if (shape == record::Shape::Seq) {
    BW_ASSIGN(items, record::readSeq(env, v, 2, "adjacently tagged enum SignalKind with 2 elements"));
    tagValue = items[0];
    payload = items[1];
  } else {
    return record::invalidType(env, v, kKindRecord);
  }
  if (!tagValue) return record::missingField("kind");
  BW_ASSIGN(name, record::text(env, *tagValue, "variant identifier"));
  auto tag = variantFromName(name);
  if (!tag) return record::unknownVariant(name, {"Size", "EquityPct", "Hold", "CloseAll"});
  if (!payload) return record::missingField("value");

  SignalKind kind{*tag, 0};
  if (kind.hasPayload()) {
    BW_ASSIGN(x, record::number(env, *payload));
    kind.value = x;
    return kind;
  }
  // Hold and CloseAll carry an empty payload list.
  const std::string expected = "tuple variant SignalKind::" + name + " with 0 elements";
  BW_ASSIGN(payloadShape, record::shapeOf(env, *payload));
  if (payloadShape != record::Shape::Seq) return record::invalidType(env, *payload, expected);
  BW_TRY(record::readSeq(env, *payload, 0, expected));
  return kind;
}

Result<Signal> signalFromJson(napi_env env, napi_value v) {
  BW_ASSIGN(shape, record::shapeOf(env, v));
  std::optional<napi_value> kindValue, id, comment;
  std::array<std::optional<napi_value>, 6> terms;
  if (shape == record::Shape::Map) {
    BW_ASSIGN(fields, record::readFields<9>(env, v, {"kind", "id", "comment", "limit_price", "stop_price",
                                                     "time_in_force", "stop_loss", "take_profit", "trailing_stop"}));
    kindValue = fields[0];
    id = fields[1];
    comment = fields[2];
    for (size_t i = 0; i < terms.size(); ++i) terms[i] = fields[3 + i];
  } else if (shape == record::Shape::Seq) {
    BW_ASSIGN(items, record::readSeq(env, v, 3, kSignalRecord));
    kindValue = items[0];
    id = items[1];
    comment = items[2];
  } else {
    return record::invalidType(env, v, "struct Signal");
  }
  if (!kindValue) return record::missingField("kind");
  Signal s;
  BW_ASSIGN(kind, readKind(env, *kindValue));
  s.kind = kind;
  BW_ASSIGN(idText, record::text(env, id, record::Null::Absent, "a string"));
  BW_ASSIGN(commentText, record::text(env, comment, record::Null::Absent, "a string"));
  s.id = std::move(idText);
  s.comment = std::move(commentText);
  auto number = [&](const std::optional<napi_value>& v, const char* field) -> Result<std::optional<double>> {
    if (!v) return std::optional<double>{};
    BW_ASSIGN(absent, isNullish(env, *v));
    if (absent) return std::optional<double>{};
    BW_ASSIGN(x, termNumber(env, *v, field));
    return std::optional<double>{x};
  };
  BW_ASSIGN(limit, number(terms[0], "limit_price"));
  BW_ASSIGN(stop, number(terms[1], "stop_price"));
  s.terms.limitPrice = limit;
  s.terms.stopPrice = stop;
  if (terms[2]) {
    BW_ASSIGN(tif, readTimeInForce(env, *terms[2]));
    s.terms.timeInForce = tif;
  }
  if (terms[3]) {
    BW_ASSIGN(level, readLevel(env, *terms[3], "stop_loss"));
    s.terms.stopLoss = level;
  }
  if (terms[4]) {
    BW_ASSIGN(level, readLevel(env, *terms[4], "take_profit"));
    s.terms.takeProfit = level;
  }
  if (terms[5]) {
    BW_ASSIGN(trail, readTrail(env, *terms[5]));
    s.terms.trailingStop = trail;
  }
  BW_TRY(checkTerms(s.terms));
  return s;
}

Result<napi_value> signalToJson(napi_env env, const Signal& s) {
  ObjectBuilder kind(env);
  kind.set("kind", std::string(variantName(s.kind.tag)));
  if (s.kind.hasPayload()) {
    kind.set("value", s.kind.value);
  } else {
    BW_ASSIGN(empty, makeArray(env, 0));
    kind.set("value", empty);
  }
  BW_ASSIGN(inner, kind.done());
  ObjectBuilder out(env);
  out.set("kind", inner).set("id", s.id).set("comment", s.comment);
  // The order terms only when there are any: a plain signal serialises as it always did.
  const OrderTerms& t = s.terms;
  if (t.limitPrice) out.set("limit_price", *t.limitPrice);
  if (t.stopPrice) out.set("stop_price", *t.stopPrice);
  if (t.timeInForce) out.set("time_in_force", *t.timeInForce);
  if (t.stopLoss) {
    BW_ASSIGN(v, levelValue(env, t.stopLoss));
    out.set("stop_loss", v);
  }
  if (t.takeProfit) {
    BW_ASSIGN(v, levelValue(env, t.takeProfit));
    out.set("take_profit", v);
  }
  if (t.trailingStop) {
    BW_ASSIGN(v, trailValue(env, t.trailingStop));
    out.set("trailing_stop", v);
  }
  return out.done();
}

// The record of a NodeSignal: the kind's tag and payload, then the order terms: the prices and the
// time in force (NaN when absent; a term that is set is a finite number), and each exit as its
// form (0 when absent) and value; the id and the comment.
enum LevelForm : int64_t { kNoLevel, kPriceLevel, kPctLevel };
enum TrailForm : int64_t { kNoTrail, kPctTrail, kTicksTrail };
enum SignalSlot : size_t {
  kTag,
  kValue,
  kLimitPrice,
  kStopPrice,
  kTimeInForce,
  kStopLossForm,
  kStopLossValue,
  kTakeProfitForm,
  kTakeProfitValue,
  kTrailForm,
  kTrailValue,
  kNumbers
};
enum SignalText : size_t { kId, kComment, kTexts };

std::string payloadOf(SignalKind::Tag tag) { return jsx::when(kTag, static_cast<double>(tag), jsx::number(kValue)); }
std::string is(SignalKind::Tag tag) { return jsx::equals(kTag, static_cast<double>(tag)); }
// A term's number, or null when the slot holds NaN (absent).
std::string termOf(size_t slot) {
  const std::string v = jsx::number(slot);
  return "(" + v + " === " + v + " ? " + v + " : null)";
}

constexpr double kAbsent = std::numeric_limits<double>::quiet_NaN();

// A signal read slot by slot from its record.
Result<Signal> readSignal(const RecordIn& in);

void writeLevel(const std::optional<ExitLevel>& l, RecordOut& out, size_t slot) {
  out.number(slot, static_cast<double>(!l ? kNoLevel : l->relative ? kPctLevel : kPriceLevel));
  out.number(slot + 1, l ? l->value : kAbsent);
}

std::optional<ExitLevel> levelAt(const RecordIn& in, size_t slot) {
  const int64_t form = in.integer(slot, kNoLevel, kPctLevel);
  const double value = in.number(slot + 1);
  if (form == kNoLevel) return std::nullopt;
  return ExitLevel{form == kPctLevel, value};
}

std::optional<double> numberAt(const RecordIn& in, size_t slot) {
  const double x = in.number(slot);
  if (std::isnan(x)) return std::nullopt;
  return x;
}

}  // namespace

void Codec<Signal>::write(const Signal& s, RecordOut& out) {
  out.number(kTag, static_cast<double>(s.kind.tag));
  out.number(kValue, s.kind.value);
  const OrderTerms& t = s.terms;
  out.number(kLimitPrice, t.limitPrice.value_or(kAbsent));
  out.number(kStopPrice, t.stopPrice.value_or(kAbsent));
  out.number(kTimeInForce, t.timeInForce ? static_cast<double>(*t.timeInForce) : kAbsent);
  writeLevel(t.stopLoss, out, kStopLossForm);
  writeLevel(t.takeProfit, out, kTakeProfitForm);
  const auto& trail = t.trailingStop;
  out.number(kTrailForm, static_cast<double>(!trail ? kNoTrail : trail->ticks ? kTicksTrail : kPctTrail));
  out.number(kTrailValue, trail ? trail->value : kAbsent);
  out.text(kId, s.id);
  out.text(kComment, s.comment);
}

Result<Signal> Codec<Signal>::read(const RecordIn& in) {
  // A loop passes the same few signals bar after bar: the last one read without texts is kept
  // with its numbers, and numbers equal to those bit for bit are that signal again.
  thread_local std::array<double, kNumbers> lastNumbers;
  thread_local std::optional<Signal> last;
  const double* raw = in.raw();
  const bool plain = raw && raw[kRecordTextMask] == 0;
  if (plain && last && std::memcmp(raw, lastNumbers.data(), sizeof lastNumbers) == 0) return *last;
  Result<Signal> s = readSignal(in);
  if (plain && s.ok()) {
    std::memcpy(lastNumbers.data(), raw, sizeof lastNumbers);
    last = *s;
  }
  return s;
}

namespace {

Result<Signal> readSignal(const RecordIn& in) {
  const auto tag = static_cast<SignalKind::Tag>(in.integer(kTag, 0, static_cast<int64_t>(SignalKind::Tag::CloseAll)));
  Signal s{SignalKind{tag, in.number(kValue)}, in.text(kId), in.text(kComment), {}};
  OrderTerms& t = s.terms;
  t.limitPrice = numberAt(in, kLimitPrice);
  t.stopPrice = numberAt(in, kStopPrice);
  if (!std::isnan(in.number(kTimeInForce)))
    t.timeInForce = static_cast<int32_t>(in.integer(kTimeInForce, 1, std::numeric_limits<int32_t>::max()));
  t.stopLoss = levelAt(in, kStopLossForm);
  t.takeProfit = levelAt(in, kTakeProfitForm);
  const int64_t trailForm = in.integer(kTrailForm, kNoTrail, kTicksTrail);
  const double trailValue = in.number(kTrailValue);
  if (trailForm != kNoTrail) t.trailingStop = TrailingStop{trailForm == kTicksTrail, trailValue};
  return in.result(std::move(s));
}

}  // namespace

// Applies `change` to a copy of the signal's order terms and keeps it only when the terms stay
// consistent, so a refused setter leaves the signal as it was.
template <class F>
Result<Unit> changeTerms(Signal& s, F change) {
  OrderTerms terms = s.terms;
  change(terms);
  BW_TRY(checkTerms(terms));
  s.terms = terms;
  return Unit{};
}

BW_REGISTER(signal) {
  Class<Signal> c;
  c.record(kNumbers, kTexts);
  c.staticMethod("Size", [](double x) { return Signal{SignalKind::size(x), {}, {}, {}}; });
  c.staticMethod("EquityPct", [](double x) { return Signal{SignalKind::equityPct(x), {}, {}, {}}; });
  c.staticMethod("Long", [] { return Signal{SignalKind::equityPct(1.0), {}, {}, {}}; });
  c.staticMethod("Short", [] { return Signal{SignalKind::equityPct(-1.0), {}, {}, {}}; });
  c.staticMethod("Hold", [] { return Signal{SignalKind::hold(), {}, {}, {}}; });
  c.staticMethod("CloseAll", [] { return Signal{SignalKind::closeAll(), {}, {}, {}}; });
  c.staticMethod("fromJSON", [](Call& call) { return signalFromJson(call.env, call.argv[0]); });
  c.field("id", jsx::text(kId, kNumbers), [](Signal& s, std::optional<std::string> id) { s.id = std::move(id); });
  c.field("comment", jsx::text(kComment, kNumbers),
          [](Signal& s, std::optional<std::string> comment) { s.comment = std::move(comment); });
  c.field("size", payloadOf(SignalKind::Tag::Size));
  c.field("equityPct", payloadOf(SignalKind::Tag::EquityPct));
  c.field("isHold", is(SignalKind::Tag::Hold));
  c.field("isCloseAll", is(SignalKind::Tag::CloseAll));
  c.method("toJSON", [](Call& call, const Signal& s) { return signalToJson(call.env, s); });

  // ---- Order types, time in force and exits ---------------------------------------------------
  c.staticMethod("Limit", [](double size, std::optional<double> limitPrice) {
    return pricedSignal(size, std::nullopt, limitPrice, "Limit", false, true);
  });
  c.staticMethod("Stop", [](double size, std::optional<double> stopPrice) {
    return pricedSignal(size, stopPrice, std::nullopt, "Stop", true, false);
  });
  c.staticMethod("StopLimit", [](double size, std::optional<double> stopPrice, std::optional<double> limitPrice) {
    return pricedSignal(size, stopPrice, limitPrice, "StopLimit", true, true);
  });
  c.field("limitPrice", termOf(kLimitPrice));
  c.field("stopPrice", termOf(kStopPrice));
  c.field(
      "timeInForce", termOf(kTimeInForce),
      [](Call& call, Signal& s, napi_value v) -> Result<Unit> {
        BW_ASSIGN(tif, readTimeInForce(call.env, v));
        s.terms.timeInForce = tif;
        return Unit{};
      });
  c.accessor(
      "stopLoss", [](Call& call, const Signal& s) { return levelValue(call.env, s.terms.stopLoss); },
      [](Call& call, Signal& s, napi_value v) -> Result<Unit> {
        BW_ASSIGN(level, readLevel(call.env, v, "stopLoss"));
        return changeTerms(s, [&](OrderTerms& t) { t.stopLoss = level; });
      });
  c.accessor(
      "takeProfit", [](Call& call, const Signal& s) { return levelValue(call.env, s.terms.takeProfit); },
      [](Call& call, Signal& s, napi_value v) -> Result<Unit> {
        BW_ASSIGN(level, readLevel(call.env, v, "takeProfit"));
        return changeTerms(s, [&](OrderTerms& t) { t.takeProfit = level; });
      });
  c.accessor(
      "trailingStop", [](Call& call, const Signal& s) { return trailValue(call.env, s.terms.trailingStop); },
      [](Call& call, Signal& s, napi_value v) -> Result<Unit> {
        BW_ASSIGN(trail, readTrail(call.env, v));
        return changeTerms(s, [&](OrderTerms& t) { t.trailingStop = trail; });
      });
  c.method("toString", [](const Signal& s) { return s.toString(); });
}
