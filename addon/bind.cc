#include "addon/bind.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

namespace bw::js {

namespace {

// Runs inside garbage collection (a basic finalizer: it never touches JavaScript), so native
// memory goes as soon as its object does, even in a loop that never yields.
void finalizeBox(napi_env, void* data, void* hint) {
  auto* box = static_cast<Box*>(data);
  auto* d = static_cast<EnvData*>(hint);
  d->live.erase(box);
  delete box;
  if (d->released && d->live.empty()) delete d;
}

std::string numberText(double x) {
  // The host's own string form of a number, for messages.
  if (std::isnan(x)) return "NaN";
  if (std::isinf(x)) return x > 0 ? "Infinity" : "-Infinity";
  if (x == std::floor(x) && std::fabs(x) < 1e21) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.0f", x);
    return buf;
  }
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", x);
  // Prefer the shortest form that reads back.
  for (int p = 1; p <= 17; ++p) {
    char t[40];
    std::snprintf(t, sizeof t, "%.*g", p, x);
    if (std::strtod(t, nullptr) == x) return t;
  }
  return buf;
}

Error conversionError(napi_env env, napi_value v, const char* kind, Status st) {
  return Error(st, std::string("Expected ") + kind + ", got " + std::string(typeName(env, v)));
}

}  // namespace

// ---------------------------------------------------------------------------------------------

EnvData* envData(napi_env env) {
  void* d = nullptr;
  napi_get_instance_data(env, &d);
  return static_cast<EnvData*>(d);
}

napi_value Call::undefined() const { return undefinedValue(env); }

Result<Unit> readCall(napi_env env, napi_callback_info info, Call& call, size_t want) {
  call.env = env;
  call.argc = want < kMaxArgs ? want : kMaxArgs;
  const size_t asked = call.argc;
  napi_status st = napi_get_cb_info(env, info, &call.argc, call.argv, &call.self, &call.data);
  if (st != napi_ok) return hostError(env, st, "Failed to initialize napi function call.");
  if (call.argc > asked) call.argc = asked;
  return Unit{};
}

std::string_view typeName(napi_env env, napi_value v) {
  napi_valuetype t;
  if (napi_typeof(env, v, &t) != napi_ok) return "Unknown";
  switch (t) {
    case napi_undefined: return "Undefined";
    case napi_null: return "Null";
    case napi_boolean: return "Boolean";
    case napi_number: return "Number";
    case napi_string: return "String";
    case napi_symbol: return "Symbol";
    case napi_object: return "Object";
    case napi_function: return "Function";
    case napi_external: return "External";
    case napi_bigint: return "BigInt";
  }
  return "Unknown";
}

Error hostError(napi_env env, napi_status st, std::string reason) {
  bool pending = false;
  napi_is_exception_pending(env, &pending);
  if (pending || st == napi_pending_exception) return Error(Status::PendingException, std::move(reason));
  return Error(static_cast<Status>(st), std::move(reason));
}

static napi_value makeError(napi_env env, const Error& e) {
  napi_value msg, err;
  if (napi_create_string_utf8(env, e.reason.data(), e.reason.size(), &msg) != napi_ok) return nullptr;
  if (napi_create_error(env, nullptr, msg, &err) != napi_ok) return nullptr;
  std::string_view code = statusName(e.status);
  napi_value codeValue;
  if (napi_create_string_utf8(env, code.data(), code.size(), &codeValue) == napi_ok)
    napi_set_named_property(env, err, "code", codeValue);
  if (e.cause) {
    if (napi_value cause = makeError(env, *e.cause)) napi_set_named_property(env, err, "cause", cause);
  }
  return err;
}

napi_value fail(napi_env env, const Error& e) {
  if (e.status == Status::PendingException) return nullptr;
  bool pending = false;
  napi_is_exception_pending(env, &pending);
  if (pending) {
    // Someone's exception is already in flight: it wins, unchanged.
    napi_value ex;
    if (napi_get_and_clear_last_exception(env, &ex) == napi_ok) napi_throw(env, ex);
    return nullptr;
  }
  if (napi_value err = makeError(env, e)) napi_throw(env, err);
  return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Instances.

Result<napi_value> attach(napi_env env, napi_value obj, Box* box) {
  const int id = box->classId;
  EnvData* d = envData(env);
  napi_status st = d ? napi_wrap(env, obj, box, finalizeBox, d, nullptr) : napi_generic_failure;
  if (st != napi_ok) {
    delete box;
    return hostError(env, st, "Failed to create instance of class `" + classEntry(id).name + "`");
  }
  d->live.insert(box);
  if (auto hook = classEntry(id).onInstance) hook(env, obj);
  return obj;
}

Result<napi_value> newObject(napi_env env, int id) {
  EnvData* d = envData(env);
  const std::string& name = classEntry(id).name;
  if (!d || static_cast<size_t>(id) >= d->ctors.size() || !d->ctors[static_cast<size_t>(id)])
    return Error(Status::GenericFailure, "Failed to create instance of class `" + name + "`");
  napi_value ctor, obj;
  napi_status st = napi_get_reference_value(env, d->ctors[static_cast<size_t>(id)], &ctor);
  if (st != napi_ok) return hostError(env, st, "Failed to create instance of class `" + name + "`");
  d->internalConstruct++;
  st = napi_new_instance(env, ctor, 0, nullptr, &obj);
  d->internalConstruct--;
  if (st != napi_ok) return hostError(env, st, "Failed to create instance of class `" + name + "`");
  return obj;
}

Box* findBox(napi_env env, napi_value v, int id) {
  void* p = nullptr;
  if (napi_unwrap(env, v, &p) != napi_ok || !p) return nullptr;
  // Another add-on's wrapped object carries a pointer of its own: never reinterpret it.
  EnvData* d = envData(env);
  Box* b = static_cast<Box*>(p);
  if (!d || !d->live.count(b)) return nullptr;
  return b->classId == id ? b : nullptr;
}

Error unwrapError(const char* className) {
  return Error(Status::InvalidArg,
               std::string("Failed to unwrap exclusive reference of `") + className + "` type from napi value");
}

Error recoverError(const char* className) {
  return Error(Status::InvalidArg, std::string("Failed to recover `") + className + "` type from napi value");
}

namespace detail {

bool constructingInternally(napi_env env, napi_callback_info info, napi_value* self) {
  size_t argc = 0;
  napi_get_cb_info(env, info, &argc, nullptr, self, nullptr);
  EnvData* d = envData(env);
  return d && d->internalConstruct > 0;
}

napi_value noConstructor(napi_env env, napi_callback_info info) {
  napi_value self;
  if (constructingInternally(env, info, &self)) return self;
  napi_throw_error(env, nullptr, "Class contains no `constructor`, can not new it!");
  return nullptr;
}

}  // namespace detail

// ---------------------------------------------------------------------------------------------
// Arguments.

Result<double> readF64(napi_env env, napi_value v) {
  double x;
  napi_status st = napi_get_value_double(env, v, &x);
  if (st != napi_ok) return conversionError(env, v, "64-bit float", Status::NumberExpected);
  return x;
}

Result<int32_t> readI32(napi_env env, napi_value v) {
  int32_t x;
  napi_status st = napi_get_value_int32(env, v, &x);
  if (st != napi_ok) return conversionError(env, v, "32-bit integer", Status::NumberExpected);
  return x;
}

Result<int64_t> readI64(napi_env env, napi_value v) {
  int64_t x;
  napi_status st = napi_get_value_int64(env, v, &x);
  if (st != napi_ok) return conversionError(env, v, "64-bit integer", Status::NumberExpected);
  return x;
}

Result<bool> readBool(napi_env env, napi_value v) {
  bool x;
  napi_status st = napi_get_value_bool(env, v, &x);
  if (st != napi_ok) return conversionError(env, v, "boolean", Status::BooleanExpected);
  return x;
}

Result<std::string> readText(napi_env env, napi_value v) {
  napi_valuetype t;
  napi_typeof(env, v, &t);
  if (t == napi_string) {
    size_t n = 0;
    napi_status st = napi_get_value_string_utf8(env, v, nullptr, 0, &n);
    if (st != napi_ok) return hostError(env, st, "Failed to read text");
    std::string s(n, '\0');
    st = napi_get_value_string_utf8(env, v, s.data(), n + 1, &n);
    if (st != napi_ok) return hostError(env, st, "Failed to read text");
    return s;
  }
  // The message shows the offending value.
  std::string shown(typeName(env, v));
  switch (t) {
    case napi_number: {
      double x = 0;
      napi_get_value_double(env, v, &x);
      shown += " " + numberText(x);
      break;
    }
    case napi_boolean: {
      bool b = false;
      napi_get_value_bool(env, v, &b);
      shown += b ? " true" : " false";
      break;
    }
    case napi_bigint: {
      napi_value s;
      if (napi_coerce_to_string(env, v, &s) == napi_ok) {
        char buf[128];
        size_t n = 0;
        napi_get_value_string_utf8(env, s, buf, sizeof buf, &n);
        shown += " " + std::string(buf, n);
      }
      break;
    }
    case napi_object: {
      napi_value global, json, stringify, out;
      napi_get_global(env, &global);
      std::string text;
      if (napi_get_named_property(env, global, "JSON", &json) == napi_ok &&
          napi_get_named_property(env, json, "stringify", &stringify) == napi_ok &&
          napi_call_function(env, json, stringify, 1, &v, &out) == napi_ok) {
        napi_valuetype ot;
        napi_typeof(env, out, &ot);
        if (ot == napi_string) {
          size_t n = 0;
          napi_get_value_string_utf8(env, out, nullptr, 0, &n);
          text.assign(n, '\0');
          napi_get_value_string_utf8(env, out, text.data(), n + 1, &n);
        }
      } else {
        // A throwing toJSON or a cycle: the message falls back to the type name alone.
        napi_value ignored;
        napi_get_and_clear_last_exception(env, &ignored);
      }
      if (!text.empty()) shown += " " + text;
      break;
    }
    case napi_function: {
      napi_value nameValue;
      std::string name;
      if (napi_get_named_property(env, v, "name", &nameValue) == napi_ok) {
        napi_valuetype nt;
        napi_typeof(env, nameValue, &nt);
        if (nt == napi_string) {
          size_t n = 0;
          napi_get_value_string_utf8(env, nameValue, nullptr, 0, &n);
          name.assign(n, '\0');
          napi_get_value_string_utf8(env, nameValue, name.data(), n + 1, &n);
        }
      } else {
        napi_value ignored;
        napi_get_and_clear_last_exception(env, &ignored);
      }
      shown.assign("function ").append(name).append("(..) ");
      break;
    }
    default:
      break;
  }
  return Error(Status::StringExpected, "Expected text, got " + shown);
}

Result<DateTime> readDate(napi_env env, napi_value v) {
  bool isDate = false;
  napi_is_date(env, v, &isDate);
  if (!isDate) return conversionError(env, v, "date", Status::DateExpected);
  double ms = 0;
  napi_status st = napi_get_date_value(env, v, &ms);
  if (st != napi_ok) return conversionError(env, v, "date", Status::DateExpected);
  int64_t whole;
  if (std::isnan(ms))
    whole = 0;
  else if (ms >= 9223372036854775807.0)
    whole = std::numeric_limits<int64_t>::max();
  else if (ms <= -9223372036854775808.0)
    whole = std::numeric_limits<int64_t>::min();
  else
    whole = static_cast<int64_t>(ms);  // truncates toward zero
  auto d = DateTime::fromMillis(whole);
  if (!d) return Error(Status::DateExpected, "Found invalid date");
  return *d;
}

Result<F64Span> readF64Span(napi_env env, napi_value v) {
  bool isTyped = false;
  napi_is_typedarray(env, v, &isTyped);
  if (!isTyped) return Error(Status::InvalidArg, "Get TypedArray info failed");
  napi_typedarray_type type;
  size_t length = 0;
  void* data = nullptr;
  napi_status st = napi_get_typedarray_info(env, v, &type, &length, &data, nullptr, nullptr);
  if (st != napi_ok) return hostError(env, st, "Get TypedArray info failed");
  if (type != napi_float64_array)
    return Error(Status::InvalidArg, "Expected Float64Array, got " + std::to_string(static_cast<int>(type)));
  if (!data) length = 0;  // detached
  return F64Span{static_cast<const double*>(data), length};
}

Result<bool> isNullish(napi_env env, napi_value v) {
  napi_valuetype t;
  napi_status st = napi_typeof(env, v, &t);
  if (st != napi_ok) return hostError(env, st, "Failed to read optional value");
  return t == napi_undefined || t == napi_null;
}

Result<uint32_t> arrayLength(napi_env env, napi_value v) {
  bool isArray = false;
  napi_status st = napi_is_array(env, v, &isArray);
  if (st != napi_ok) return hostError(env, st, "Failed to check given napi value is array");
  if (!isArray) return Error(Status::InvalidArg, "Given napi value is not an array");
  uint32_t n = 0;
  st = napi_get_array_length(env, v, &n);
  if (st != napi_ok) return hostError(env, st, "Failed to get Array length");
  return n;
}

Result<napi_value> element(napi_env env, napi_value arr, uint32_t i) {
  napi_value out;
  napi_status st = napi_get_element(env, arr, i, &out);
  if (st != napi_ok) return hostError(env, st, "Failed to get element with index `" + std::to_string(i) + "`");
  return out;
}

namespace {

// Bulk conversion runs as one small JavaScript loop: one host call for the whole array instead of
// one per element. A bad element stops the loop and is converted again one by one, so its error
// is exactly the one-by-one error.
constexpr const char* kNumbersIn =
    "(function (a) {"
    "  var n = a.length, out = new Float64Array(n);"
    "  for (var i = 0; i < n; i++) {"
    "    var v = a[i];"
    "    if (typeof v !== 'number') return i;"
    "    out[i] = v;"
    "  }"
    "  return out;"
    "})";
constexpr const char* kNumbersOut =
    "(function (t) {"
    "  var n = t.length, out = new Array(n);"
    "  for (var i = 0; i < n; i++) out[i] = t[i];"
    "  return out;"
    "})";
constexpr uint32_t kBulkThreshold = 32;

Result<napi_value> helper(napi_env env, napi_ref EnvData::*slot, const char* source) {
  EnvData* d = envData(env);
  napi_value fn;
  if (d && d->*slot && napi_get_reference_value(env, d->*slot, &fn) == napi_ok && fn) return fn;
  napi_value src;
  napi_status st = napi_create_string_utf8(env, source, NAPI_AUTO_LENGTH, &src);
  if (st == napi_ok) st = napi_run_script(env, src, &fn);
  if (st != napi_ok) return hostError(env, st, "Failed to initialize napi function call.");
  if (d) napi_create_reference(env, fn, 1, &(d->*slot));
  return fn;
}

}  // namespace

Result<std::vector<double>> readNumbers(napi_env env, napi_value v) {
  bool isTyped = false;
  napi_is_typedarray(env, v, &isTyped);
  if (isTyped) {
    napi_typedarray_type type;
    size_t length = 0;
    void* data = nullptr;
    if (napi_get_typedarray_info(env, v, &type, &length, &data, nullptr, nullptr) == napi_ok &&
        type == napi_float64_array) {
      const double* p = static_cast<const double*>(data);
      return std::vector<double>(p, p + (p ? length : 0));
    }
  }
  BW_ASSIGN(n, arrayLength(env, v));
  std::vector<double> out;
  if (n >= kBulkThreshold) {
    BW_ASSIGN(fn, helper(env, &EnvData::numbersIn, kNumbersIn));
    napi_value global, res;
    napi_get_global(env, &global);
    napi_status st = napi_call_function(env, global, fn, 1, &v, &res);
    if (st != napi_ok) return hostError(env, st, "Failed to get Array length");
    bool typed = false;
    napi_is_typedarray(env, res, &typed);
    if (typed) {
      size_t length = 0;
      void* data = nullptr;
      napi_typedarray_type type;
      napi_get_typedarray_info(env, res, &type, &length, &data, nullptr, nullptr);
      const double* p = static_cast<const double*>(data);
      return std::vector<double>(p, p + (p ? length : 0));
    }
    uint32_t bad = 0;
    napi_get_value_uint32(env, res, &bad);
    BW_ASSIGN(item, element(env, v, bad));
    BW_TRY(readF64(env, item));
    // The element converted this time (a getter changed its mind): fall back to one by one.
  }
  out.reserve(std::min<uint32_t>(n, 1u << 16));
  for (uint32_t i = 0; i < n; ++i) {
    BW_ASSIGN(item, element(env, v, i));
    BW_ASSIGN(x, readF64(env, item));
    out.push_back(x);
  }
  return out;
}

Result<napi_value> makeNumbers(napi_env env, const double* data, size_t n) {
  if (n < kBulkThreshold) {
    BW_ASSIGN(arr, makeArray(env, n));
    for (size_t i = 0; i < n; ++i) {
      BW_ASSIGN(x, makeF64(env, data[i]));
      BW_TRY(setElement(env, arr, static_cast<uint32_t>(i), x));
    }
    return arr;
  }
  BW_ASSIGN(fn, helper(env, &EnvData::numbersOut, kNumbersOut));
  void* buf = nullptr;
  napi_value ab, typed, global, res;
  napi_status st = napi_create_arraybuffer(env, n * sizeof(double), &buf, &ab);
  if (st != napi_ok) return hostError(env, st, "Failed to create array");
  std::memcpy(buf, data, n * sizeof(double));
  st = napi_create_typedarray(env, napi_float64_array, n, ab, 0, &typed);
  if (st != napi_ok) return hostError(env, st, "Failed to create array");
  napi_get_global(env, &global);
  st = napi_call_function(env, global, fn, 1, &typed, &res);
  if (st != napi_ok) return hostError(env, st, "Failed to create array");
  return res;
}

Result<napi_value> JsObject::raw(const char* key) const {
  // `undefined` and `null` have no properties at all: refused here with the property's message,
  // rather than by the host's own TypeError.
  napi_valuetype t;
  if (napi_typeof(env_, v_, &t) == napi_ok && (t == napi_undefined || t == napi_null))
    return Error(Status::ObjectExpected, std::string("Failed to get property with field `") + key + "`");
  napi_value out;
  napi_status st = napi_get_named_property(env_, v_, key, &out);
  if (st != napi_ok) return hostError(env_, st, std::string("Failed to get property with field `") + key + "`");
  return out;
}

// ---------------------------------------------------------------------------------------------
// Results.

napi_value undefinedValue(napi_env env) {
  napi_value v;
  napi_get_undefined(env, &v);
  return v;
}

napi_value nullValue(napi_env env) {
  napi_value v;
  napi_get_null(env, &v);
  return v;
}

#define BW_MAKE(call, what)                                      \
  napi_value out;                                                \
  napi_status st = (call);                                       \
  if (st != napi_ok) return hostError(env, st, what);            \
  return out

Result<napi_value> makeF64(napi_env env, double x) { BW_MAKE(napi_create_double(env, x, &out), "Failed to create number"); }
Result<napi_value> makeI32(napi_env env, int32_t x) { BW_MAKE(napi_create_int32(env, x, &out), "Failed to create number"); }
Result<napi_value> makeI64(napi_env env, int64_t x) { BW_MAKE(napi_create_int64(env, x, &out), "Failed to create number"); }
Result<napi_value> makeU64(napi_env env, uint64_t x) {
  BW_MAKE(napi_create_bigint_uint64(env, x, &out), "Failed to create BigInt");
}
Result<napi_value> makeBool(napi_env env, bool x) { BW_MAKE(napi_get_boolean(env, x, &out), "Failed to create boolean"); }
Result<napi_value> makeText(napi_env env, std::string_view s) {
  BW_MAKE(napi_create_string_utf8(env, s.data(), s.size(), &out), "Failed to create string");
}
Result<napi_value> makeDate(napi_env env, const DateTime& d) {
  BW_MAKE(napi_create_date(env, static_cast<double>(d.toMillis()), &out), "Failed to create date");
}
Result<napi_value> makeArray(napi_env env, size_t n) {
  BW_MAKE(napi_create_array_with_length(env, n, &out), "Failed to create array");
}
Result<napi_value> makeObject(napi_env env) { BW_MAKE(napi_create_object(env, &out), "Failed to create object"); }
#undef BW_MAKE

Result<Unit> setElement(napi_env env, napi_value arr, uint32_t i, napi_value v) {
  napi_status st = napi_set_element(env, arr, i, v);
  if (st != napi_ok) return hostError(env, st, "Failed to set element with index `" + std::to_string(i) + "`");
  return Unit{};
}

Result<Unit> setProperty(napi_env env, napi_value obj, const char* key, napi_value v) {
  napi_status st = napi_set_named_property(env, obj, key, v);
  if (st != napi_ok) return hostError(env, st, std::string("Failed to set property with field `") + key + "`");
  return Unit{};
}

}  // namespace bw::js
