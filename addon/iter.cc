#include "addon/iter.h"

#include <string>

namespace bw::js::iter {

namespace {

// Makes the installer of one class: (step, ctor, receiverError, stepped, channel, stampOf) =>
// install(obj). The protocol's functions are shared by all instances of the class; only the state
// is per object. next() leaves its receiver's handle in the channel for the native step, which
// leaves the index it moved to there in turn (NaN at the end).
constexpr const char* kMaker =
    "(function (step, ctor, receiverError, stepped, s, stampOf) {"
    "  'use strict';"
    "  var STATE = '[[GeneratorState]]';"
    // A constant: calls through it go the engine's fast way to the host function.
    "  const callStep = step;"
    // A frozen (or sealed) object cannot take the state: its finished state is kept here instead,
    // looked at only once there is one.
    "  var frozenDone = new WeakSet(), anyFrozenDone = false;"
    "  var setState = Reflect.set;"
    "  function finish(self) {"
    "    if (!setState(self, STATE, true) || self[STATE] !== true) { frozenDone.add(self); anyFrozenDone = true; }"
    "  }"
    "  function finished(self) {"
    "    return self[STATE] === true || (anyFrozenDone && frozenDone.has(self));"
    "  }"
    "  function coded(message) {"
    "    var e = new Error(message);"
    "    e.code = 'InvalidArg';"
    "    return e;"
    "  }"
    "  function receiver(self) {"
    "    if ((typeof self !== 'object' && typeof self !== 'function') || self === null)"
    "      throw coded(receiverError);"
    "  }"
    "  var members = {"
    "    Iterator() { return this; },"
    "    next(v) {"
    "      if (v !== undefined) throw coded('Value is not undefined');"
    "      if (this != null && finished(this)) return { done: true };"
    "      s[@HANDLE@] = stampOf(this);"
    "      var value = callStep(this);"
    "      if (value === undefined) {"
    "        value = s[@STEP@];"
    "        if (value !== value) return { done: true };"
    "      }"
    "      if (stepped !== undefined) stepped(this);"
    "      return { value: value, done: false };"
    "    },"
    "    return(v) {"
    "      if (v !== undefined) throw coded('Value is not undefined');"
    "      receiver(this);"
    "      finish(this);"
    "      return { value: undefined, done: true };"
    "    },"
    "    throw(error) {"
    "      receiver(this);"
    "      finish(this);"
    "      throw error;"
    "    }"
    "  };"
    "  var member = function (fn) {"
    "    return { value: fn, writable: true, enumerable: true, configurable: true };"
    "  };"
    "  var props = {"
    "    next: member(members.next),"
    "    return: member(members.return),"
    "    throw: member(members.throw),"
    "    '[[GeneratorState]]': { value: false, writable: true, enumerable: false, configurable: false }"
    "  };"
    "  props[Symbol.iterator] = member(members.Iterator);"
    "  if (typeof Iterator === 'function' && Iterator.prototype &&"
    "      Object.getPrototypeOf(ctor.prototype) !== Iterator.prototype)"
    "    Object.setPrototypeOf(ctor.prototype, Iterator.prototype);"
    "  var defineProperties = Object.defineProperties;"
    "  return function install(obj) { defineProperties(obj, props); };"
    "})";

Result<napi_value> classCtor(napi_env env, EnvData* d, int classId) {
  const auto i = static_cast<size_t>(classId);
  napi_value ctor;
  if (!d || i >= d->ctors.size() || !d->ctors[i] || napi_get_reference_value(env, d->ctors[i], &ctor) != napi_ok ||
      !ctor)
    return Error(Status::GenericFailure, "Failed to initialize class `" + classEntry(classId).name + "`");
  return ctor;
}

// The installer of the class with this step, made on first use in the environment.
Result<napi_value> installer(napi_env env, int classId, napi_callback step, bool prefetching) {
  EnvData* d = envData(env);
  const void* key = reinterpret_cast<const void*>(step);
  napi_value fn;
  if (d) {
    auto it = d->kept.find(key);
    if (it != d->kept.end() && napi_get_reference_value(env, it->second, &fn) == napi_ok && fn) return fn;
  }
  const std::string& name = classEntry(classId).name;
  BW_ASSIGN(ctor, classCtor(env, d, classId));
  napi_value channel = nullptr, stampOf = nullptr;
  if (d && d->recordChannel) napi_get_reference_value(env, d->recordChannel, &channel);
  if (d && d->stampOf) napi_get_reference_value(env, d->stampOf, &stampOf);
  if (!channel || !stampOf) return Error(Status::GenericFailure, "Failed to initialize class `" + name + "`");
  std::string source = kMaker;
  source.replace(source.find("@HANDLE@"), 8, std::to_string(kHandleSlot));
  source.replace(source.find("@STEP@"), 6, std::to_string(kStepSlot));
  napi_value src, maker, stepFn, global;
  napi_status st = napi_create_string_utf8(env, source.data(), source.size(), &src);
  if (st == napi_ok) st = napi_run_script(env, src, &maker);
  if (st == napi_ok) st = napi_create_function(env, "step", NAPI_AUTO_LENGTH, step, nullptr, &stepFn);
  if (st == napi_ok) st = napi_get_global(env, &global);
  if (st != napi_ok) return hostError(env, st, "Failed to initialize class `" + name + "`");
  BW_ASSIGN(message, makeText(env, unwrapError(name.c_str()).reason));
  napi_value stepped = undefinedValue(env);
  if (prefetching && d && d->stepped) napi_get_reference_value(env, d->stepped, &stepped);
  napi_value args[6] = {stepFn, ctor, message, stepped, channel, stampOf};
  st = napi_call_function(env, global, maker, 6, args, &fn);
  if (st != napi_ok) return hostError(env, st, "Failed to initialize class `" + name + "`");
  if (d) {
    napi_ref ref;
    if (napi_create_reference(env, fn, 1, &ref) == napi_ok) d->kept[key] = ref;
  }
  return fn;
}

}  // namespace

void install(napi_env env, napi_value obj, int classId, napi_callback step, bool prefetching) {
  auto fn = installer(env, classId, step, prefetching);
  if (!fn.ok()) {
    fail(env, fn.error());
    return;
  }
  napi_value global, ignored;
  if (napi_get_global(env, &global) != napi_ok) return;
  napi_call_function(env, global, *fn, 1, &obj, &ignored);
}

}  // namespace bw::js::iter
