#include "addon/record.h"

#include <charconv>
#include <cmath>

namespace bw::js::record {

namespace {

std::string quoted(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string shortest(double x) {
  if (std::isnan(x)) return "NaN";
  if (std::isinf(x)) return x > 0 ? "inf" : "-inf";
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, x);
  return std::string(buf, r.ptr);
}

}  // namespace

Result<Shape> shapeOf(napi_env env, napi_value v) {
  napi_valuetype t;
  napi_status st = napi_typeof(env, v, &t);
  if (st != napi_ok) return hostError(env, st, "Failed to read value type");
  if (t != napi_object) return Shape::Other;
  bool isArray = false;
  st = napi_is_array(env, v, &isArray);
  if (st != napi_ok) return hostError(env, st, "Failed to check given napi value is array");
  return isArray ? Shape::Seq : Shape::Map;
}

std::string describe(napi_env env, napi_value v) {
  napi_valuetype t;
  if (napi_typeof(env, v, &t) != napi_ok) return "value";
  switch (t) {
    case napi_undefined: return "undefined";
    case napi_null: return "null";
    case napi_boolean: {
      bool b = false;
      napi_get_value_bool(env, v, &b);
      return b ? "boolean `true`" : "boolean `false`";
    }
    case napi_number: {
      double x = 0;
      napi_get_value_double(env, v, &x);
      return "floating point `" + shortest(x) + "`";
    }
    case napi_string: {
      auto s = readText(env, v);
      return s.ok() ? "string " + quoted(*s) : "string";
    }
    case napi_bigint: return "BigInt";
    case napi_symbol: return "symbol";
    case napi_function: return "function";
    case napi_external: return "external";
    case napi_object: {
      auto shape = shapeOf(env, v);
      return shape.ok() && *shape == Shape::Seq ? "sequence" : "map";
    }
  }
  return "value";
}

Error invalidType(napi_env env, napi_value v, std::string_view expected) {
  return invalidArg("invalid type: " + describe(env, v) + ", expected " + std::string(expected));
}

Error invalidLength(size_t length, std::string_view expected) {
  return invalidArg("invalid length " + std::to_string(length) + ", expected " + std::string(expected));
}

Error missingField(std::string_view name) { return invalidArg("missing field `" + std::string(name) + "`"); }

Error duplicateField(std::string_view name) { return invalidArg("duplicate field `" + std::string(name) + "`"); }

Error unknownVariant(std::string_view name, std::initializer_list<std::string_view> variants) {
  std::string msg = "unknown variant `" + std::string(name) + "`, expected one of ";
  bool first = true;
  for (auto v : variants) {
    if (!first) msg += ", ";
    msg += "`" + std::string(v) + "`";
    first = false;
  }
  return invalidArg(std::move(msg));
}

Result<Unit> readFieldsInto(napi_env env, napi_value obj, const char* const* names, size_t n,
                            std::optional<napi_value>* out) {
  napi_value keys;
  napi_status st = napi_get_all_property_names(env, obj, napi_key_own_only,
                                               static_cast<napi_key_filter>(napi_key_enumerable | napi_key_skip_symbols),
                                               napi_key_numbers_to_strings, &keys);
  if (st != napi_ok) return hostError(env, st, "Failed to read the keys of the object");
  uint32_t count = 0;
  st = napi_get_array_length(env, keys, &count);
  if (st != napi_ok) return hostError(env, st, "Failed to get Array length");
  for (uint32_t k = 0; k < count; ++k) {
    BW_ASSIGN(key, element(env, keys, k));
    BW_ASSIGN(name, readText(env, key));
    size_t slot = n;
    for (size_t i = 0; i < n; ++i)
      if (name == names[i]) slot = i;
    if (slot == n) continue;  // not a field of this record
    napi_value value;
    st = napi_get_property(env, obj, key, &value);
    if (st != napi_ok) return hostError(env, st, "Failed to get property with field `" + name + "`");
    BW_ASSIGN(given, present(env, value, Null::Value));
    if (!given) continue;
    if (out[slot]) return duplicateField(name);
    out[slot] = given;
  }
  return Unit{};
}

Result<std::vector<napi_value>> readSeq(napi_env env, napi_value arr, size_t n, std::string_view expected) {
  BW_ASSIGN(length, arrayLength(env, arr));
  if (length != n) return invalidLength(length, expected);
  std::vector<napi_value> out;
  out.reserve(n);
  for (uint32_t i = 0; i < length; ++i) {
    BW_ASSIGN(x, element(env, arr, i));
    out.push_back(x);
  }
  return out;
}

Result<double> number(napi_env env, napi_value v) {
  napi_valuetype t;
  napi_typeof(env, v, &t);
  if (t != napi_number) return invalidType(env, v, "f64");
  return readF64(env, v);
}

Result<std::string> text(napi_env env, napi_value v, std::string_view expected) {
  napi_valuetype t;
  napi_typeof(env, v, &t);
  if (t != napi_string) return invalidType(env, v, expected);
  return readText(env, v);
}

Result<std::optional<std::string>> text(napi_env env, std::optional<napi_value> v, Null null,
                                        std::string_view expected) {
  BW_ASSIGN(p, present(env, v, null));
  if (!p) return std::optional<std::string>{};
  BW_ASSIGN(s, text(env, *p, expected));
  return std::optional<std::string>{std::move(s)};
}

Result<std::optional<napi_value>> field(napi_env env, napi_value obj, const char* key) {
  const auto refused = [key](Status st) {
    return Error(st, std::string("Failed to get property with field `") + key + "`");
  };
  napi_valuetype t;
  if (napi_typeof(env, obj, &t) == napi_ok && (t == napi_undefined || t == napi_null))
    return refused(Status::ObjectExpected);
  napi_value out;
  napi_status st = napi_get_named_property(env, obj, key, &out);
  if (st != napi_ok) return hostError(env, st, refused(Status::InvalidArg).reason);
  if (napi_typeof(env, out, &t) != napi_ok || t == napi_undefined) return std::optional<napi_value>{};
  return std::optional<napi_value>{out};
}

Result<std::optional<napi_value>> present(napi_env env, std::optional<napi_value> v, Null null) {
  if (!v) return v;
  napi_valuetype t;
  napi_status st = napi_typeof(env, *v, &t);
  if (st != napi_ok) return hostError(env, st, "Failed to read optional value");
  if (t == napi_undefined || (t == napi_null && null == Null::Absent)) return std::optional<napi_value>{};
  return v;
}

}  // namespace bw::js::record
