// The module entry: defines every registered class and function on a new environment's exports.
#include <mutex>
#include <string>
#include <vector>

#include "addon/bind.h"
#include "addon/kernel.h"
#include "addon/registry.h"

namespace bw::js {
namespace {

std::mutex gRegisterMutex;

void releaseEnvData(napi_env env, void* data, void*) {
  auto* d = static_cast<EnvData*>(data);
  for (napi_ref r : d->ctors)
    if (r) napi_delete_reference(env, r);
  releaseLayerRefs(env, d);
  d->ctors.clear();
  // Boxes still alive finalize after this; the last one frees the data.
  d->released = true;
  if (d->live.empty()) delete d;
}

napi_value customGc(napi_env env, napi_callback_info) { return undefinedValue(env); }

napi_value throwRegistration(napi_env env, const std::string& message) {
  return fail(env, Error(Status::GenericFailure, message));
}

napi_value registerModule(napi_env env, napi_value exports) {
  std::lock_guard<std::mutex> lock(gRegisterMutex);
  runDeferred();
  const Registry& reg = registry();

  auto* data = new EnvData();
  data->ctors.assign(reg.classes.size(), nullptr);
  if (napi_set_instance_data(env, data, releaseEnvData, nullptr) != napi_ok) {
    delete data;
    return throwRegistration(env, "Failed to register class `instance data`");
  }

  // Classes with native boxes are defined here; the value classes, and the members whose result
  // is a value object, by the kernel (addon/kernel.h), which then hands back every constructor.
  std::vector<napi_value> ctors(reg.classes.size(), nullptr);
  for (size_t id = 0; id < reg.classes.size(); ++id) {
    const ClassEntry& cls = reg.classes[id];
    if (cls.value) continue;
    // Static members go on the class; instance members on its prototype afterwards, so the
    // receiver check is ours (with our message) rather than the host's signature check.
    std::vector<napi_property_descriptor> statics, members;
    for (size_t i = 0; i < cls.props.size(); ++i) {
      const PropRecord& p = cls.props[i];
      if (kernelDefines(static_cast<int>(id), i)) continue;
      napi_property_descriptor d{};
      d.utf8name = p.name.c_str();
      d.data = p.data;
      switch (p.kind) {
        case PropKind::Method:
          d.method = p.method;
          d.attributes = static_cast<napi_property_attributes>(napi_writable | napi_enumerable | napi_configurable);
          members.push_back(d);
          break;
        case PropKind::StaticMethod:
          d.method = p.method;
          d.attributes = napi_static;
          statics.push_back(d);
          break;
        case PropKind::Accessor:
          d.getter = p.getter;
          d.setter = p.setter;
          d.attributes = static_cast<napi_property_attributes>(napi_enumerable | napi_configurable);
          members.push_back(d);
          break;
      }
    }
    napi_value ctor, proto;
    napi_callback cb = cls.ctor ? cls.ctor : &detail::noConstructor;
    if (napi_define_class(env, cls.name.c_str(), cls.name.size(), cb, cls.ctorData, statics.size(), statics.data(),
                          &ctor) != napi_ok ||
        napi_get_named_property(env, ctor, "prototype", &proto) != napi_ok ||
        napi_define_properties(env, proto, members.size(), members.data()) != napi_ok)
      return throwRegistration(env, "Failed to register class `" + cls.name + "`");
    ctors[id] = ctor;
  }
  if (auto k = runKernel(env, data, ctors); !k.ok()) return fail(env, k.error());
  if (auto h = prepareHelpers(env); !h.ok()) return fail(env, h.error());
  for (size_t id = 0; id < reg.classes.size(); ++id) {
    const ClassEntry& cls = reg.classes[id];
    if (napi_create_reference(env, ctors[id], 1, &data->ctors[id]) != napi_ok ||
        napi_set_named_property(env, exports, cls.name.c_str(), ctors[id]) != napi_ok)
      return throwRegistration(env, "Failed to register export `" + cls.name + "`");
  }

  for (const FunctionEntry& f : reg.functions) {
    napi_value fn;
    if (napi_create_function(env, f.name.c_str(), f.name.size(), f.cb, f.data, &fn) != napi_ok ||
        napi_set_named_property(env, exports, f.name.c_str(), fn) != napi_ok)
      return throwRegistration(env, "Failed to register function `" + f.name + "`");
  }

  // Loading makes one thread-safe function and at once lets go of its hold on the event loop:
  // the documented load sequence (and its failure messages) include it, nothing else is asked of
  // it, and no operation ever calls it.
  napi_value gcFn, resourceName;
  if (napi_create_function(env, "custom_gc", NAPI_AUTO_LENGTH, customGc, nullptr, &gcFn) != napi_ok)
    return throwRegistration(env, "Create Custom GC Function in napi_register_module_v1 failed");
  if (napi_create_string_utf8(env, "CustomGC", NAPI_AUTO_LENGTH, &resourceName) != napi_ok)
    return throwRegistration(env, "Create async resource string in napi_register_module_v1");
  if (napi_create_threadsafe_function(env, gcFn, nullptr, resourceName, 0, 1, nullptr, nullptr, nullptr, nullptr,
                                      &data->customGc) != napi_ok)
    return throwRegistration(env, "Create Custom GC ThreadsafeFunction in napi_register_module_v1 failed");
  if (napi_unref_threadsafe_function(env, data->customGc) != napi_ok)
    return throwRegistration(env, "Unref Custom GC ThreadsafeFunction in napi_register_module_v1 failed");
  return exports;
}

}  // namespace
}  // namespace bw::js

// NAPI_MODULE_EXPORT (from node_api.h) is dllexport on Windows and default visibility elsewhere.
extern "C" NAPI_MODULE_EXPORT napi_value napi_register_module_v1(napi_env env, napi_value exports) {
  return bw::js::registerModule(env, exports);
}

// No node_api_module_get_api_version_v1 export: the host then takes the add-on for the stable
// Node-API version it is built against (NAPI_VERSION, from package.json), and runs finalizers
// from its event loop, never inside garbage collection, where a finalizer could meet an exception
// still in flight and end the process.
