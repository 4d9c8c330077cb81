#include "addon/iter.h"

#include <array>

namespace bw::js::iter {

namespace {

napi_value selfReturning(napi_env env, napi_callback_info info) {
  napi_value self;
  if (napi_get_cb_info(env, info, nullptr, nullptr, &self, nullptr) != napi_ok) return nullptr;
  return self;
}

Result<napi_value> boolValue(napi_env env, bool b) {
  napi_value v;
  napi_status st = napi_get_boolean(env, b, &v);
  if (st != napi_ok) return hostError(env, st, "Failed to create boolean");
  return v;
}

Result<napi_value> namedFunction(napi_env env, const char* name, napi_callback cb) {
  napi_value fn;
  napi_status st = napi_create_function(env, name, NAPI_AUTO_LENGTH, cb, nullptr, &fn);
  if (st != napi_ok) return hostError(env, st, std::string("Failed to create function `") + name + "`");
  return fn;
}

// Global Symbol.iterator, or the global `Iterator`'s prototype; null when absent.
napi_value globalMember(napi_env env, const char* object, const char* member) {
  napi_value global, holder, out;
  napi_valuetype t;
  if (napi_get_global(env, &global) != napi_ok || napi_get_named_property(env, global, object, &holder) != napi_ok ||
      napi_typeof(env, holder, &t) != napi_ok || t != napi_function)
    return nullptr;
  if (napi_get_named_property(env, holder, member, &out) != napi_ok) return nullptr;
  return out;
}

// Links the class prototype to Iterator.prototype once; later instances find it linked.
void linkIteratorPrototype(napi_env env, int classId) {
  napi_value iterProto = globalMember(env, "Iterator", "prototype");
  if (!iterProto) return;
  EnvData* d = envData(env);
  if (!d || static_cast<size_t>(classId) >= d->ctors.size() || !d->ctors[static_cast<size_t>(classId)]) return;
  napi_value ctor, proto, current;
  if (napi_get_reference_value(env, d->ctors[static_cast<size_t>(classId)], &ctor) != napi_ok ||
      napi_get_named_property(env, ctor, "prototype", &proto) != napi_ok ||
      napi_get_prototype(env, proto, &current) != napi_ok)
    return;
  bool same = false;
  if (napi_strict_equals(env, current, iterProto, &same) != napi_ok || same) return;
  napi_value global, object, setPrototypeOf, ignored;
  if (napi_get_global(env, &global) != napi_ok || napi_get_named_property(env, global, "Object", &object) != napi_ok ||
      napi_get_named_property(env, object, "setPrototypeOf", &setPrototypeOf) != napi_ok)
    return;
  napi_value args[2] = {proto, iterProto};
  napi_call_function(env, object, setPrototypeOf, 2, args, &ignored);
}

}  // namespace

Result<Unit> requireNoArgument(const Call& call) {
  if (call.argc == 0) return Unit{};
  napi_valuetype t;
  napi_status st = napi_typeof(call.env, call.argv[0], &t);
  if (st != napi_ok) return hostError(call.env, st, "Failed to read argument");
  if (t != napi_undefined) return invalidArg("Value is not undefined");
  return Unit{};
}

Result<bool> finished(napi_env env, napi_value self) {
  napi_valuetype t;
  if (napi_typeof(env, self, &t) != napi_ok || (t != napi_object && t != napi_function)) return false;
  napi_value state;
  napi_status st = napi_get_named_property(env, self, kStateKey, &state);
  if (st != napi_ok) return hostError(env, st, std::string("Failed to get property with field `") + kStateKey + "`");
  bool b = false;
  if (napi_get_value_bool(env, state, &b) != napi_ok) return false;
  return b;
}

Result<Unit> finish(napi_env env, napi_value self) {
  BW_ASSIGN(yes, boolValue(env, true));
  return setProperty(env, self, kStateKey, yes);
}

Result<napi_value> stepResult(napi_env env, std::optional<napi_value> value) {
  BW_ASSIGN(obj, makeObject(env));
  if (value) BW_TRY(setProperty(env, obj, "value", *value));
  BW_ASSIGN(done, boolValue(env, !value));
  BW_TRY(setProperty(env, obj, "done", done));
  return obj;
}

napi_value returnMethod(napi_env env, napi_callback_info info) {
  Call call;
  if (auto r = readCall(env, info, call); !r.ok()) return fail(env, r.error());
  if (auto r = requireNoArgument(call); !r.ok()) return fail(env, r.error());
  if (auto r = finish(env, call.self); !r.ok()) return fail(env, r.error());
  auto out = makeObject(env);
  if (!out.ok()) return fail(env, out.error());
  auto done = boolValue(env, true);
  if (!done.ok()) return fail(env, done.error());
  if (auto r = setProperty(env, *out, "value", undefinedValue(env)); !r.ok()) return fail(env, r.error());
  if (auto r = setProperty(env, *out, "done", *done); !r.ok()) return fail(env, r.error());
  return *out;
}

napi_value throwMethod(napi_env env, napi_callback_info info) {
  Call call;
  if (auto r = readCall(env, info, call); !r.ok()) return fail(env, r.error());
  if (auto r = finish(env, call.self); !r.ok()) return fail(env, r.error());
  napi_throw(env, call.argc > 0 ? call.argv[0] : undefinedValue(env));
  return nullptr;
}

void install(napi_env env, napi_value obj, int classId, napi_callback next) {
  napi_value iteratorKey = globalMember(env, "Symbol", "iterator");
  if (!iteratorKey) return;
  auto iterFn = namedFunction(env, "Iterator", &selfReturning);
  auto nextFn = namedFunction(env, "next", next);
  auto returnFn = namedFunction(env, "return", &returnMethod);
  auto throwFn = namedFunction(env, "throw", &throwMethod);
  auto open = boolValue(env, false);
  if (!iterFn.ok() || !nextFn.ok() || !returnFn.ok() || !throwFn.ok() || !open.ok()) return;
  const auto member = static_cast<napi_property_attributes>(napi_writable | napi_enumerable | napi_configurable);
  std::array<napi_property_descriptor, 5> props{};
  props[0].name = iteratorKey;
  props[0].value = *iterFn;
  props[0].attributes = member;
  props[1].utf8name = "next";
  props[1].value = *nextFn;
  props[1].attributes = member;
  props[2].utf8name = "return";
  props[2].value = *returnFn;
  props[2].attributes = member;
  props[3].utf8name = "throw";
  props[3].value = *throwFn;
  props[3].attributes = member;
  props[4].utf8name = kStateKey;
  props[4].value = *open;
  props[4].attributes = napi_writable;
  if (napi_define_properties(env, obj, props.size(), props.data()) != napi_ok) return;
  linkIteratorPrototype(env, classId);
}

}  // namespace bw::js::iter
