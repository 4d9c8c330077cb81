// The one reader of records that `fromJSON` factories accept. Every field goes through the same
// two steps:
//
//   1. find it: by name, one property read per field in the order the factory asks (`field`), or
//      by scanning the object's own keys once (`readFields`, which also finds duplicates), or by
//      position in an array (`readSeq`);
//   2. judge it (`present`): `undefined` is always absent; `null` is absent where the field says
//      Null::Absent, else a value that the field's kind then refuses; then convert it.
//
// Conversion speaks one of two vocabularies. `convert<T>` and `named<T>` give the binding's own
// argument errors ("Expected 64-bit float, got String", code NumberExpected). `number` and `text`
// give the record vocabulary of tagged serialised forms:
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

// ---------------------------------------------------------------------------------------------
// Presence.

// How a field reads `null`: as an absent field, or as a value of the wrong type.
enum class Null : bool { Value, Absent };

// The field `key` of `obj` by name: absent when missing or `undefined`. `undefined` and `null`
// have no fields at all: "Failed to get property with field `key`".
Result<std::optional<napi_value>> field(napi_env env, napi_value obj, const char* key);

// The field's value when it counts as present.
Result<std::optional<napi_value>> present(napi_env env, std::optional<napi_value> v, Null null);

// ---------------------------------------------------------------------------------------------
// Field values, binding vocabulary.

template <class T>
Result<std::optional<T>> convert(napi_env env, std::optional<napi_value> v, Null null) {
  BW_ASSIGN(p, present(env, v, null));
  if (!p) return std::optional<T>{};
  BW_ASSIGN(x, Arg<T>::read(env, *p));
  if constexpr (std::is_pointer_v<typename Arg<T>::Stored>)
    return std::optional<T>{*x};
  else
    return std::optional<T>{std::move(x)};
}

template <class T>
Result<std::optional<T>> named(napi_env env, napi_value obj, const char* key, Null null) {
  BW_ASSIGN(v, field(env, obj, key));
  return convert<T>(env, v, null);
}

// ---------------------------------------------------------------------------------------------
// Field values, record vocabulary.

Result<double> number(napi_env env, napi_value v);  // expected f64
Result<std::string> text(napi_env env, napi_value v, std::string_view expected);
Result<std::optional<std::string>> text(napi_env env, std::optional<napi_value> v, Null null,
                                        std::string_view expected);

}  // namespace bw::js::record
