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
// next() or return() is refused with "Value is not undefined", before anything moves.
//
// A class contributes only its step: a captureless lambda taking the wrapped native value and
// returning the value to yield, or nothing at the end (std::optional<V> or Result<std::optional<V>>,
// V any result kind of bind.h). Install it from the class table, so that every instance the
// add-on creates (by `new`, by factories, as results) gets the protocol:
//
//   c.onInstance([](napi_env env, napi_value obj) {
//     installIterator<SharedBacktest>(env, obj, [](SharedBacktest& bt) -> Result<std::optional<int32_t>> {
//       return bt.step();  // the new bar index, or nothing at the end
//     });
//   });
//
// Where the host has a global `Iterator`, the class prototype is linked to Iterator.prototype,
// so its helpers (map, take, ...) work on instances too.
#pragma once

#include <node_api.h>

#include <optional>
#include <type_traits>

#include "addon/bind.h"

namespace bw::js {

namespace iter {

inline constexpr const char* kStateKey = "[[GeneratorState]]";

// Refuses a present, non-undefined first argument ("Value is not undefined").
Result<Unit> requireNoArgument(const Call& call);
// The receiver's own "[[GeneratorState]]"; a missing or non-boolean state counts as open.
Result<bool> finished(napi_env env, napi_value self);
Result<Unit> finish(napi_env env, napi_value self);
// {value, done: false} for a step that moved; {done: true} at the end.
Result<napi_value> stepResult(napi_env env, std::optional<napi_value> value);

napi_value returnMethod(napi_env env, napi_callback_info info);
napi_value throwMethod(napi_env env, napi_callback_info info);

// Defines the protocol's own properties on `obj`, with `next` as its step function, and links the
// class prototype of `classId` to Iterator.prototype where the host has one.
void install(napi_env env, napi_value obj, int classId, napi_callback next);

template <class V>
Result<std::optional<napi_value>> convertYield(napi_env env, std::optional<V> v) {
  if (!v) return std::optional<napi_value>{};
  BW_ASSIGN(out, Ret<V>::make(env, std::move(*v)));
  return std::optional<napi_value>{out};
}

template <class R>
struct YieldOf;
template <class V>
struct YieldOf<std::optional<V>> {
  static Result<std::optional<napi_value>> make(napi_env env, std::optional<V> v) {
    return convertYield<V>(env, std::move(v));
  }
};
template <class V>
struct YieldOf<Result<std::optional<V>>> {
  static Result<std::optional<napi_value>> make(napi_env env, Result<std::optional<V>> r) {
    if (!r.ok()) return std::move(r).error();
    return convertYield<V>(env, std::move(r).value());
  }
};

template <class T, class Step>
napi_value next(napi_env env, napi_callback_info info) {
  Call call;
  if (auto r = readCall(env, info, call); !r.ok()) return fail(env, r.error());
  if (auto r = requireNoArgument(call); !r.ok()) return fail(env, r.error());
  auto done = finished(env, call.self);
  if (!done.ok()) return fail(env, done.error());
  std::optional<napi_value> yielded;
  if (!*done) {
    T* self = unwrapAs<T>(env, call.self);
    if (!self) return fail(env, unwrapError(ClassOf<T>::name));
    using R = std::remove_cvref_t<std::invoke_result_t<Step, T&>>;
    auto y = YieldOf<R>::make(env, Step{}(*self));
    if (!y.ok()) return fail(env, y.error());
    yielded = *y;
  }
  auto out = stepResult(env, yielded);
  if (!out.ok()) return fail(env, out.error());
  return *out;
}

}  // namespace iter

// Installs the iteration protocol on one instance of T, with `Step` as what next() does.
template <class T, class Step>
void installIterator(napi_env env, napi_value obj, Step) {
  static_assert(isMember<Step>, "the step is a captureless lambda");
  iter::install(env, obj, ClassOf<T>::id(), &iter::next<T, Step>);
}

}  // namespace bw::js
