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

// The native half of next(): step(obj) runs one step of obj's walker and returns the value to
// yield, or `undefined` at the end.
template <class T, class Step>
napi_value step(napi_env env, napi_callback_info info) {
  size_t argc = 1;
  napi_value obj = nullptr;
  if (napi_get_cb_info(env, info, &argc, &obj, nullptr, nullptr) != napi_ok || argc < 1)
    return fail(env, unwrapError(ClassOf<T>::name));
  bumpEpoch(env);
  T* self = unwrapAs<T>(env, obj);
  if (!self) return fail(env, unwrapError(ClassOf<T>::name));
  if constexpr (std::is_invocable_v<Step, napi_env, T&>) {
    using R = std::remove_cvref_t<std::invoke_result_t<Step, napi_env, T&>>;
    auto y = YieldOf<R>::make(env, Step{}(env, *self));
    if (!y.ok()) return fail(env, y.error());
    return *y;
  } else {
    using R = std::remove_cvref_t<std::invoke_result_t<Step, T&>>;
    auto y = YieldOf<R>::make(env, Step{}(*self));
    if (!y.ok()) return fail(env, y.error());
    return *y;
  }
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
