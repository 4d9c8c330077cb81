// The JavaScript side of the add-on, made once per environment from the class registry: the value
// classes (constructors, records in private fields, getters computed in JavaScript), the wrappers
// that turn a record left in the channels into a value object, and the functions the native side
// calls to read, write back and make records (addon/value.h).
#pragma once

#include <node_api.h>

#include <vector>

#include "core/error.h"

namespace bw::js {

struct EnvData;

struct ClassEntry;

// Whether the member is defined by the kernel rather than by napi_define_class.
bool kernelDefines(int classId, size_t prop);

// Whether `data` is that of a native whose JavaScript half leaves its receiver's handle in the
// channel before each call (see takeHandle); `own` then gets the member's own callback data.
bool handleNative(void* data, void** own);

// Whether objects of a boxed class get the clone guard when they are made (see attach): those
// that carry the iteration protocol already have own members that cannot be cloned.
bool guardsCloning(const ClassEntry& e);

// Runs the kernel on a new environment. `ctors` holds, by class id, the constructors that
// napi_define_class made (null for value classes); on success it holds every class's constructor.
Result<Unit> runKernel(napi_env env, EnvData* d, std::vector<napi_value>& ctors);

}  // namespace bw::js
