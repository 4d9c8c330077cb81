// The iteration protocol of every iterable class of the add-on (the bar context, the backtest).
// Each instance carries it as own properties, so `for (const i of x)` walks the instance itself:
//
//   [Symbol.iterator]    a function named "Iterator" that returns the object
//   next()               one step; {value, done: false}, or {done: true} at the end
//   return()             finishes this object's iteration; {value: undefined, done: true}
//   throw(error)         finishes this object's iteration and throws `error`
//   "[[GeneratorState]]" boolean, writable, not enumerable, not configurable: true once finished
//
// The state is per JavaScript object, not per walked value: two objects over one shared context
// iterate independently. Reaching the end does not finish the object, so a later next() yields
// again once the underlying series has grown. Any argument other than `undefined` given to
// next() or return() is refused with "Value is not undefined" (code "InvalidArg") before
// anything moves.
//
// A class contributes only its step: a captureless lambda taking the wrapped native value and
// returning the value to yield, or nothing at the end (std::optional<V> or Result<std::optional<V>>,
// V any result kind of bind.h other than one that converts to `undefined`). Install it from the
// class table, so that every instance the add-on creates (by `new`, by factories, as results)
// gets the protocol:
//
//   c.onInstance([](napi_env env, napi_value obj) {
//     installIterator<SharedBacktest>(env, obj, [](SharedBacktest& bt) -> Result<std::optional<int32_t>> {
//       return bt.step();  // the new bar index, or nothing at the end
//     });
//   });
//
// Where the host has a global `Iterator`, the class prototype is linked to Iterator.prototype,
// so its helpers (map, take, ...) work on instances too.
//
// The protocol's functions are small JavaScript closures over the native step, made once per
// environment and class: a loop step then costs one native call, and the result objects are
// plain literals the engine builds cheaply.
#pragma once

#include <node_api.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <type_traits>

#include "addon/bind.h"

namespace bw::js {

namespace iter {

// Defines the protocol's own properties on `obj`, over the native step function `step`. With
// `prefetching`, each step leaves the record of what it moved to in the channels' prefetch region
// and next() tells the kernel which object it stepped (see kernelPrefetch).
void install(napi_env env, napi_value obj, int classId, napi_callback step, bool prefetching);

template <class R>
struct YieldOf;
template <class V>
struct YieldOf<std::optional<V>> {
  static Result<napi_value> make(napi_env env, std::optional<V> v) {
    if (!v) return undefinedValue(env);
    return Ret<V>::make(env, std::move(*v));
  }
};
template <class V>
struct YieldOf<Result<std::optional<V>>> {
  static Result<napi_value> make(napi_env env, Result<std::optional<V>> r) {
    if (!r.ok()) return std::move(r).error();
    return YieldOf<std::optional<V>>::make(env, std::move(r).value());
  }
};

// A step that yields a bar index leaves it in the channel (kStepSlot) and returns nothing.
template <class R>
struct IndexStep : std::false_type {};
template <>
struct IndexStep<std::optional<int32_t>> : std::true_type {};
template <>
struct IndexStep<Result<std::optional<int32_t>>> : std::true_type {};

inline std::optional<int32_t> indexOf(std::optional<int32_t> i) { return i; }
inline Result<std::optional<int32_t>> indexOf(Result<std::optional<int32_t>> r) { return r; }

// The native half of next(): step(obj) runs one step of obj's walker. It returns the value to
// yield; or nothing, with the bar index to yield in the channel (NaN there at the end). next()
// leaves obj's handle in the channel first, so the walker's box is found without the host.
template <class T, class Step>
napi_value step(napi_env env, napi_callback_info info) {
  EnvData* d = envData(env);
  double* channel = d ? d->recordNumbers : nullptr;
  if (channel) channel[kEpochSlot] += 1;
  T* self = nullptr;
  if (Box* b = channel ? takeHandle(d) : nullptr; b && b->classId == ClassOf<T>::id()) {
    self = &static_cast<TypedBox<T>*>(b)->value;
  } else {
    size_t argc = 1;
    napi_value obj = nullptr;
    if (napi_get_cb_info(env, info, &argc, &obj, nullptr, nullptr) != napi_ok || argc < 1)
      return fail(env, unwrapError(ClassOf<T>::name));
    self = unwrapAs<T>(env, obj);
    if (!self) return fail(env, unwrapError(ClassOf<T>::name));
  }
  auto run = [&]() -> decltype(auto) {
    if constexpr (std::is_invocable_v<Step, napi_env, T&>)
      return Step{}(env, *self);
    else
      return Step{}(*self);
  };
  using R = std::remove_cvref_t<decltype(run())>;
  if constexpr (IndexStep<R>::value) {
    if (channel) {
      Result<std::optional<int32_t>> i = indexOf(run());
      if (!i.ok()) return fail(env, i.error());
      channel[kStepSlot] = *i ? static_cast<double>(**i) : std::numeric_limits<double>::quiet_NaN();
      return nullptr;
    }
  }
  auto y = YieldOf<R>::make(env, run());
  if (!y.ok()) return fail(env, y.error());
  if (channel) channel[kStepSlot] = std::numeric_limits<double>::quiet_NaN();
  return *y;
}

}  // namespace iter

// Installs the iteration protocol on one instance of T, with `Step` as what next() does. A step
// may take the environment first: `(napi_env, T&)`.
template <class T, class Step>
void installIterator(napi_env env, napi_value obj, Step, bool prefetching = false) {
  static_assert(isMember<Step>, "the step is a captureless lambda");
  iter::install(env, obj, ClassOf<T>::id(), &guarded<&iter::step<T, Step>>, prefetching);
}

}  // namespace bw::js
