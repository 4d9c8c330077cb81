// A reader of JavaScript values for records and tagged enumerations: the serialised forms that
// `fromJSON` factories accept. A record is read either from an object, key by key, or from an
// array in field order (its positional form). Failures name the problem in one fixed vocabulary:
//
//   missing field `kind`            duplicate field `value`
//   unknown variant `Foo`, expected one of `Size`, `EquityPct`, `Hold`, `CloseAll`
//   invalid type: string "x", expected f64
//   invalid length 2, expected struct Signal with 3 elements
#pragma once

#include <node_api.h>

#include <array>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "addon/bind.h"

namespace bw::js::record {

// The serialised shape of a value: an object read by key, an array read by position, or neither.
enum class Shape { Map, Seq, Other };
Result<Shape> shapeOf(napi_env env, napi_value v);

// What a value is, for messages: `null`, `boolean `true``, `floating point `1.5``, `string "x"`,
// `sequence`, `map`, ...
std::string describe(napi_env env, napi_value v);

Error invalidType(napi_env env, napi_value v, std::string_view expected);
Error invalidLength(size_t length, std::string_view expected);
Error missingField(std::string_view name);
Error duplicateField(std::string_view name);
Error unknownVariant(std::string_view name, std::initializer_list<std::string_view> variants);

// Reads the named fields of an object. Every own enumerable string key is matched against
// `names`: other keys are ignored, a key holding `undefined` counts as absent, and a name met
// twice is a duplicate. Slot i holds the value of names[i], when present.
template <size_t N>
using Fields = std::array<std::optional<napi_value>, N>;

Result<Unit> readFieldsInto(napi_env env, napi_value obj, const char* const* names, size_t n,
                            std::optional<napi_value>* out);

template <size_t N>
Result<Fields<N>> readFields(napi_env env, napi_value obj, const std::array<const char*, N>& names) {
  Fields<N> out;
  BW_TRY(readFieldsInto(env, obj, names.data(), N, out.data()));
  return out;
}

// The elements of an array that must have exactly `n` of them; otherwise an invalid length
// naming `expected`.
Result<std::vector<napi_value>> readSeq(napi_env env, napi_value arr, size_t n, std::string_view expected);

// Field values.
Result<double> number(napi_env env, napi_value v);                         // expected f64
Result<std::string> text(napi_env env, napi_value v, std::string_view expected);
Result<std::optional<std::string>> optionalText(napi_env env, std::optional<napi_value> v);  // null: absent

}  // namespace bw::js::record
