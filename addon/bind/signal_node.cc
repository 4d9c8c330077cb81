#include "addon/bind.h"
#include "addon/classes.h"
#include "addon/record.h"
#include "core/signal.h"

using namespace bw;
using namespace bw::js;

namespace {

constexpr const char* kSignalRecord = "struct Signal with 3 elements";
constexpr const char* kKindRecord = "adjacently tagged enum SignalKind";

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
  if (shape == record::Shape::Map) {
    BW_ASSIGN(fields, record::readFields<3>(env, v, {"kind", "id", "comment"}));
    kindValue = fields[0];
    id = fields[1];
    comment = fields[2];
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
  return ObjectBuilder(env).set("kind", inner).set("id", s.id).set("comment", s.comment).done();
}

// The record of a NodeSignal: the kind's tag and payload; the id and the comment.
enum SignalSlot : size_t { kTag, kValue, kNumbers };
enum SignalText : size_t { kId, kComment, kTexts };

std::string payloadOf(SignalKind::Tag tag) { return jsx::when(kTag, static_cast<double>(tag), jsx::number(kValue)); }
std::string is(SignalKind::Tag tag) { return jsx::equals(kTag, static_cast<double>(tag)); }

}  // namespace

void Codec<Signal>::write(const Signal& s, RecordOut& out) {
  out.number(kTag, static_cast<double>(s.kind.tag));
  out.number(kValue, s.kind.value);
  out.text(kId, s.id);
  out.text(kComment, s.comment);
}

Result<Signal> Codec<Signal>::read(const RecordIn& in) {
  const auto tag = static_cast<SignalKind::Tag>(in.integer(kTag, 0, static_cast<int64_t>(SignalKind::Tag::CloseAll)));
  return in.result(Signal{SignalKind{tag, in.number(kValue)}, in.text(kId), in.text(kComment)});
}

BW_REGISTER(signal) {
  Class<Signal> c;
  c.record(kNumbers, kTexts);
  c.staticMethod("Size", [](double x) { return Signal{SignalKind::size(x), {}, {}}; });
  c.staticMethod("EquityPct", [](double x) { return Signal{SignalKind::equityPct(x), {}, {}}; });
  c.staticMethod("Long", [] { return Signal{SignalKind::equityPct(1.0), {}, {}}; });
  c.staticMethod("Short", [] { return Signal{SignalKind::equityPct(-1.0), {}, {}}; });
  c.staticMethod("Hold", [] { return Signal{SignalKind::hold(), {}, {}}; });
  c.staticMethod("CloseAll", [] { return Signal{SignalKind::closeAll(), {}, {}}; });
  c.staticMethod("fromJSON", [](Call& call) { return signalFromJson(call.env, call.argv[0]); });
  c.field("id", jsx::text(kId, kNumbers), [](Signal& s, std::optional<std::string> id) { s.id = std::move(id); });
  c.field("comment", jsx::text(kComment, kNumbers),
          [](Signal& s, std::optional<std::string> comment) { s.comment = std::move(comment); });
  c.field("size", payloadOf(SignalKind::Tag::Size));
  c.field("equityPct", payloadOf(SignalKind::Tag::EquityPct));
  c.field("isHold", is(SignalKind::Tag::Hold));
  c.field("isCloseAll", is(SignalKind::Tag::CloseAll));
  c.method("toJSON", [](Call& call, const Signal& s) { return signalToJson(call.env, s); });
  c.method("toString", [](const Signal& s) { return s.toString(); });
}
