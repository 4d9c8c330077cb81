#include "addon/bind.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "addon/kernel.h"

namespace bw::js {

namespace {

// Runs from the host's event loop some time after its object was collected. It touches no
// JavaScript; the environment's data may already be released, and the last box frees it.
void finalizeBox(napi_env, void* data, void* hint) {
  auto* box = static_cast<Box*>(data);
  auto* d = static_cast<EnvData*>(hint);
  d->live.erase(box);
  for (const Box*& r : d->recent)
    if (r == box) r = nullptr;
  if (box->handle != 0 && box->handle < d->handles.size()) {
    d->handles[box->handle] = nullptr;
    d->freeHandles.push_back(box->handle);
  }
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

void releaseLayerRefs(napi_env env, EnvData* d) {
  for (napi_ref* r : {&d->numbersIn, &d->rowsOut, &d->datesOut, &d->listSmall, &d->listLarge, &d->scratch, &d->unpack, &d->make, &d->unpackMany, &d->makeMany, &d->stepped,
                      &d->recordTexts, &d->recordChannel, &d->stamp, &d->stampOf}) {
    if (*r) napi_delete_reference(env, *r);
    *r = nullptr;
  }
  for (auto& [key, r] : d->kept)
    if (r) napi_delete_reference(env, r);
  d->kept.clear();
  for (napi_ref& r : d->cloneGuards)
    if (r) napi_delete_reference(env, r);
  d->cloneGuards.clear();
  d->recordNumbers = nullptr;
}

napi_value Call::undefined() const { return undefinedValue(env); }

Result<Unit> readCall(napi_env env, napi_callback_info info, Call& call, size_t want) {
  call.env = env;
  const size_t asked = want < kMaxArgs ? want : kMaxArgs;
  // One more: a prepared callback gets its receiver as the first argument.
  call.argc = asked + 1;
  napi_status st = napi_get_cb_info(env, info, &call.argc, call.argv, &call.self, &call.data);
  if (st != napi_ok) return hostError(env, st, "Failed to initialize napi function call.");
  EnvData* d = envData(env);
  if (d && d->recordNumbers) d->recordNumbers[kEpochSlot] += 1;
  if (void* own; d && handleNative(call.data, &own)) {
    call.data = own;
    call.box = takeHandle(d);
  }
  if (call.data == preparedTag()) {
    call.self = call.argv[0];
    for (size_t i = 0; i < asked; ++i) call.argv[i] = call.argv[i + 1];
    call.argc = call.argc > 0 ? call.argc - 1 : 0;
  }
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

namespace {

// An own enumerable property holding a symbol, which structuredClone and postMessage cannot copy:
// they refuse the object with a DataCloneError instead of copying an empty one. Defined, not
// assigned, so no setter a script put on Object.prototype sees it.
Result<Unit> guardCloning(napi_env env, EnvData* d, napi_value obj, int id) {
  if (d->cloneGuards.size() <= static_cast<size_t>(id)) d->cloneGuards.resize(static_cast<size_t>(id) + 1, nullptr);
  napi_ref& ref = d->cloneGuards[static_cast<size_t>(id)];
  napi_value symbol = nullptr;
  if (ref) napi_get_reference_value(env, ref, &symbol);
  if (!symbol) {
    const std::string text = classEntry(id).name + " objects cannot be cloned";
    napi_value description;
    if (napi_create_string_utf8(env, text.data(), text.size(), &description) != napi_ok ||
        napi_create_symbol(env, description, &symbol) != napi_ok || napi_create_reference(env, symbol, 1, &ref) != napi_ok)
      return Error(Status::GenericFailure, "Failed to create instance of class `" + classEntry(id).name + "`");
  }
  napi_property_descriptor p{};
  p.utf8name = "[[NoClone]]";
  p.value = symbol;
  p.attributes = napi_enumerable;
  napi_status st = napi_define_properties(env, obj, 1, &p);
  if (st != napi_ok) return hostError(env, st, "Failed to create instance of class `" + classEntry(id).name + "`");
  return Unit{};
}

// Numbers the box and puts the number on its object, where only the kernel can read it back.
Result<Unit> giveHandle(napi_env env, EnvData* d, napi_value obj, Box* box) {
  if (!d->stamp) return Unit{};
  uint32_t h;
  if (!d->freeHandles.empty()) {
    h = d->freeHandles.back();
    d->freeHandles.pop_back();
  } else {
    if (d->handles.size() > std::numeric_limits<uint32_t>::max()) return Unit{};  // unnumbered: found the slow way
    h = static_cast<uint32_t>(d->handles.size());
    d->handles.push_back(nullptr);
  }
  d->handles[h] = box;
  box->handle = h;
  napi_value fn = nullptr, global, args[2], ignored;
  args[0] = obj;
  napi_status st = napi_get_reference_value(env, d->stamp, &fn);
  if (st == napi_ok && !fn) st = napi_generic_failure;
  if (st == napi_ok) st = napi_get_global(env, &global);
  if (st == napi_ok) st = napi_create_uint32(env, h, &args[1]);
  if (st == napi_ok) st = napi_call_function(env, global, fn, 2, args, &ignored);
  if (st != napi_ok)
    return hostError(env, st, "Failed to create instance of class `" + classEntry(box->classId).name + "`");
  return Unit{};
}

}  // namespace

Result<napi_value> attach(napi_env env, napi_value obj, Box* box) {
  const int id = box->classId;
  EnvData* d = envData(env);
  napi_status st = d ? napi_wrap(env, obj, box, finalizeBox, d, nullptr) : napi_generic_failure;
  if (st != napi_ok) {
    delete box;
    return hostError(env, st, "Failed to create instance of class `" + classEntry(id).name + "`");
  }
  d->live.insert(box);
  BW_TRY(giveHandle(env, d, obj, box));
  if (guardsCloning(classEntry(id))) BW_TRY(guardCloning(env, d, obj, id));
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
  if (!d) return nullptr;
  bool known = false;
  for (const Box* r : d->recent)
    if (r == b) known = true;
  if (!known) {
    if (!d->live.count(b)) return nullptr;
    d->recent[d->recentNext++ % d->recent.size()] = b;
  }
  return b->classId == id ? b : nullptr;
}

Box* takeHandle(EnvData* d) {
  double* s = d->recordNumbers;
  if (!s) return nullptr;
  const double h = s[kHandleSlot];
  s[kHandleSlot] = 0;
  if (!(h >= 1 && h < static_cast<double>(d->handles.size()))) return nullptr;
  return d->handles[static_cast<size_t>(h)];
}

Box* findSelf(const Call& call, int id) {
  if (call.box && call.box->classId == id) return call.box;
  return findBox(call.env, call.self, id);
}

void* preparedTag() {
  static char tag;
  return &tag;
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

bool calledWithNew(napi_env env, napi_callback_info info) {
  napi_value target = nullptr;
  return napi_get_new_target(env, info, &target) == napi_ok && target != nullptr;
}

Error needsNewError(const char* className) {
  return Error(Status::InvalidArg, std::string("Class constructor ") + className + " cannot be invoked without 'new'");
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

// Bulk conversion runs small JavaScript loops, one host call per chunk of elements instead of
// several per element. The loops use no globals (the arrays and buffers they fill are made here),
// so a script that replaces Float64Array or Array changes nothing. Chunks bound the scratch
// memory and let a sparse array that claims a huge length fail at its first hole, as converting
// one by one does.
constexpr const char* kNumbersIn =
    "(function (a, out, start, end) {"
    "  for (var i = start, j = 0; i < end; i++, j++) {"
    "    var v = a[i];"
    "    if (typeof v !== 'number') return i;"
    "    out[j] = v;"
    "  }"
    "  return -1;"
    "})";
// Result arrays are made by the engine's Array and filled while they have no prototype, so an
// indexed setter that a script put on Array.prototype (or further up) catches nothing, and they
// end dense. The helpers are made when the add-on loads (prepareHelpers) and keep Array, Date and
// Object.setPrototypeOf as they were then; a script that later replaces them, or the
// `constructor` of Array.prototype or Date.prototype, changes nothing.
//
// Rows of `width` numbers each (width 1: plain numbers); with `nullableLast`, a NaN in the last
// place of a row reads as null (it encodes an absent optional integer, which is never NaN).
// Flags are codes 0, 1, 2: false, true, null. The first chunk makes the array (`out` null): an
// array made here holds plain numbers unboxed, where one made through the host API would box
// each of them.
constexpr const char* kRowsOut =
    "(function (A, setProto, AP) { return function (t, out, start, end, width, nullableLast, total) {"
    "  if (out === null) out = new A(total);"
    "  setProto(out, null);"
    "  var i = start, j = 0, v;"
    "  if (width === 1) {"
    "    if (nullableLast) for (; i < end; i++, j++) { v = t[j]; out[i] = v === v ? v : null; }"
    "    else for (; i < end; i++, j++) out[i] = t[j];"
    "  } else if (width === 2) {"
    "    if (nullableLast) for (; i < end; i++, j += 2) { v = t[j + 1]; out[i] = [t[j], v === v ? v : null]; }"
    "    else for (; i < end; i++, j += 2) out[i] = [t[j], t[j + 1]];"
    "  } else if (width === 3) {"
    "    for (; i < end; i++, j += 3) out[i] = [t[j], t[j + 1], t[j + 2]];"
    "  } else if (width === 5) {"
    "    for (; i < end; i++, j += 5) out[i] = [t[j], t[j + 1], t[j + 2], t[j + 3], t[j + 4]];"
    "  } else {"
    "    for (; i < end; i++, j++) { v = t[j]; out[i] = v === 2 ? null : v === 1; }"
    "  }"
    "  setProto(out, AP);"
    "  return out;"
    "}; })(Array, Object.setPrototypeOf, Array.prototype)";
// Dates from millisecond time values, NaN for an absent one.
constexpr const char* kDatesOut =
    "(function (A, D, setProto, AP) { return function (t, out, start, end, total) {"
    "  if (out === null) out = new A(total);"
    "  setProto(out, null);"
    "  for (var i = start, j = 0, v; i < end; i++, j++) { v = t[j]; out[i] = v === v ? new D(v) : null; }"
    "  setProto(out, AP);"
    "  return out;"
    "}; })(Array, Date, Object.setPrototypeOf, Array.prototype)";
// Lists of values the native side made: up to kSmallList as the rest parameter of a call (an
// array the engine makes dense); longer ones opened (a = null) without a prototype, filled
// element by element and closed (a given).
constexpr const char* kListSmall = "(function (...a) { return a; })";
constexpr const char* kListLarge =
    "(function (A, setProto, AP) { return function (a, n) {"
    "  if (a === null) { a = new A(n); setProto(a, null); return a; }"
    "  setProto(a, AP);"
    "  return a;"
    "}; })(Array, Object.setPrototypeOf, Array.prototype)";
constexpr size_t kSmallList = 16;
constexpr int32_t kFlagsWidth = 0;  // the last branch of kRowsOut
constexpr uint32_t kBulkThreshold = 32;
constexpr size_t kChunk = 16384;          // elements (or rows) per helper call
constexpr size_t kScratch = 3 * kChunk;   // doubles: a chunk of the widest rows

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

Result<Unit> checkListLength(size_t n, size_t converted) {
  if (n <= kMaxListLength || converted < kMaxListLength) return Unit{};
  return Error(Status::InvalidArg, "A list of " + std::to_string(n) + " elements exceeds the limit of " +
                                       std::to_string(kMaxListLength) + " elements per list");
}

Result<napi_value> keptScript(napi_env env, const void* key, const char* source) {
  EnvData* d = envData(env);
  napi_value fn;
  if (d) {
    auto it = d->kept.find(key);
    if (it != d->kept.end() && napi_get_reference_value(env, it->second, &fn) == napi_ok && fn) return fn;
  }
  napi_value src;
  napi_status st = napi_create_string_utf8(env, source, NAPI_AUTO_LENGTH, &src);
  if (st == napi_ok) st = napi_run_script(env, src, &fn);
  if (st != napi_ok) return hostError(env, st, "Failed to initialize napi function call.");
  napi_ref ref;
  if (d && napi_create_reference(env, fn, 1, &ref) == napi_ok) d->kept[key] = ref;
  return fn;
}

Result<Unit> prepareHelpers(napi_env env) {
  const std::pair<napi_ref EnvData::*, const char*> helpers[] = {{&EnvData::numbersIn, kNumbersIn},
                                                                  {&EnvData::rowsOut, kRowsOut},
                                                                  {&EnvData::datesOut, kDatesOut},
                                                                  {&EnvData::listSmall, kListSmall},
                                                                  {&EnvData::listLarge, kListLarge}};
  for (const auto& [slot, source] : helpers) BW_TRY(helper(env, slot, source));
  return Unit{};
}

ListBuilder::ListBuilder(napi_env env, size_t n) : env_(env), n_(n) {
  if (n == 0) {
    napi_status st = napi_create_array(env, &array_);
    if (st != napi_ok) status_ = hostError(env, st, "Failed to create array");
  } else if (n <= kSmallList) {
    small_.resize(n);
  } else {
    auto fn = helper(env, &EnvData::listLarge, kListLarge);
    if (!fn.ok()) {
      status_ = fn.error();
      return;
    }
    napi_value args[2], global;
    napi_get_null(env, &args[0]);
    napi_create_double(env, static_cast<double>(n), &args[1]);
    napi_get_global(env, &global);
    napi_status st = napi_call_function(env, global, *fn, 2, args, &array_);
    if (st != napi_ok) status_ = hostError(env, st, "Failed to create array");
  }
}

Result<Unit> ListBuilder::set(size_t i, napi_value v) {
  if (!status_.ok()) return status_.error();
  if (i >= n_) return Error(Status::GenericFailure, "Failed to set element with index `" + std::to_string(i) + "`");
  if (!small_.empty()) {
    small_[i] = v;
    return Unit{};
  }
  return setElement(env_, array_, static_cast<uint32_t>(i), v);
}

Result<napi_value> ListBuilder::done() {
  if (!status_.ok()) return status_.error();
  if (n_ == 0) return array_;
  napi_value global, out;
  napi_get_global(env_, &global);
  if (!small_.empty()) {
    BW_ASSIGN(fn, helper(env_, &EnvData::listSmall, kListSmall));
    for (napi_value& v : small_)
      if (!v) v = undefinedValue(env_);
    napi_status st = napi_call_function(env_, global, fn, small_.size(), small_.data(), &out);
    if (st != napi_ok) return hostError(env_, st, "Failed to create array");
    return out;
  }
  BW_ASSIGN(fn, helper(env_, &EnvData::listLarge, kListLarge));
  napi_value args[2] = {array_, undefinedValue(env_)};
  napi_status st = napi_call_function(env_, global, fn, 2, args, &out);
  if (st != napi_ok) return hostError(env_, st, "Failed to create array");
  return out;
}

namespace {

// The per-environment scratch Float64Array the helpers fill or read, or a fresh one while it is
// in use (a getter inside an array being converted may convert another array).
class Scratch {
 public:
  explicit Scratch(napi_env env) : d_(envData(env)) {
    napi_value ab;
    void* raw = nullptr;
    if (d_ && !d_->scratchBusy && d_->scratch && napi_get_reference_value(env, d_->scratch, &typed_) == napi_ok &&
        typed_) {
      napi_typedarray_type type;
      size_t n = 0;
      if (napi_get_typedarray_info(env, typed_, &type, &n, &raw, nullptr, nullptr) == napi_ok && raw) {
        data_ = static_cast<double*>(raw);
        d_->scratchBusy = owner_ = true;
        return;
      }
    }
    if (napi_create_arraybuffer(env, kScratch * sizeof(double), &raw, &ab) != napi_ok ||
        napi_create_typedarray(env, napi_float64_array, kScratch, ab, 0, &typed_) != napi_ok || !raw) {
      typed_ = nullptr;
      return;
    }
    data_ = static_cast<double*>(raw);
    if (d_ && !d_->scratchBusy && !d_->scratch && napi_create_reference(env, typed_, 1, &d_->scratch) == napi_ok)
      d_->scratchBusy = owner_ = true;
  }
  ~Scratch() {
    if (owner_) d_->scratchBusy = false;
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;

  bool ok() const { return data_ != nullptr; }
  napi_value value() const { return typed_; }
  double* data() const { return data_; }

 private:
  EnvData* d_;
  napi_value typed_ = nullptr;
  double* data_ = nullptr;
  bool owner_ = false;
};

Result<napi_value> makeIndex(napi_env env, size_t i) {
  napi_value out;
  napi_status st = napi_create_double(env, static_cast<double>(i), &out);
  if (st != napi_ok) return hostError(env, st, "Failed to create number");
  return out;
}

// A new array of `rows` entries made and filled from `flat` by the rows helper, chunk by chunk.
Result<napi_value> fillRows(napi_env env, const double* flat, size_t rows, int32_t width, bool nullableLast,
                            size_t cellsPerRow) {
  BW_ASSIGN(fn, helper(env, &EnvData::rowsOut, kRowsOut));
  Scratch scratch(env);
  if (!scratch.ok()) return Error(Status::GenericFailure, "Failed to create array");
  napi_value global, w, nl, arr;
  napi_get_global(env, &global);
  napi_create_int32(env, width, &w);
  napi_get_boolean(env, nullableLast, &nl);
  napi_get_null(env, &arr);
  BW_ASSIGN(total, makeIndex(env, rows));
  const size_t chunk = kScratch / cellsPerRow;
  size_t start = 0;
  do {
    const size_t end = std::min(rows, start + chunk);
    std::memcpy(scratch.data(), flat + start * cellsPerRow, (end - start) * cellsPerRow * sizeof(double));
    BW_ASSIGN(s, makeIndex(env, start));
    BW_ASSIGN(e, makeIndex(env, end));
    napi_value args[7] = {scratch.value(), arr, s, e, w, nl, total};
    napi_status st = napi_call_function(env, global, fn, 7, args, &arr);
    if (st != napi_ok) return hostError(env, st, "Failed to create array");
    start = end;
  } while (start < rows);
  return arr;
}

}  // namespace

bool bulkRecords(int classId, size_t n) {
  const ClassEntry& e = classEntry(classId);
  return e.value && e.texts == 0 && n >= kBulkThreshold && e.numbers > 0 && e.numbers <= kScratch;
}

Result<Unit> readRecords(napi_env env, napi_value arr, uint32_t n, int classId,
                         const std::function<Result<Unit>(const double*)>& each,
                         const std::function<Result<Unit>(uint32_t)>& one) {
  EnvData* d = envData(env);
  napi_value fn = nullptr;
  if (!d || !d->unpackMany || napi_get_reference_value(env, d->unpackMany, &fn) != napi_ok || !fn)
    return Error(Status::GenericFailure, "Failed to initialize napi function call.");
  const size_t width = classEntry(classId).numbers;
  Scratch scratch(env);
  if (!scratch.ok()) return Error(Status::GenericFailure, "Failed to initialize napi function call.");
  napi_value global, c;
  napi_get_global(env, &global);
  napi_create_int32(env, classId, &c);
  const uint32_t chunk = static_cast<uint32_t>(kScratch / width);
  uint32_t i = 0;
  while (i < n) {
    BW_TRY(checkListLength(n, i));
    const uint32_t end = static_cast<uint32_t>(std::min<size_t>(n, size_t{i} + chunk));
    BW_ASSIGN(s, makeIndex(env, i));
    BW_ASSIGN(e, makeIndex(env, end));
    napi_value args[5] = {c, arr, scratch.value(), s, e}, res;
    napi_status st = napi_call_function(env, global, fn, 5, args, &res);
    if (st != napi_ok) return hostError(env, st, "Failed to get element with index `" + std::to_string(i) + "`");
    double stop = -1;
    napi_get_value_double(env, res, &stop);
    const uint32_t upto = stop < 0 ? end : static_cast<uint32_t>(stop);
    for (uint32_t k = i; k < upto; ++k) BW_TRY(each(scratch.data() + size_t{k - i} * width));
    i = upto;
    if (stop < 0) continue;
    // Not of the class on the first read: that element alone, for the exact error (or the value a
    // getter gives on a second read).
    BW_TRY(one(i));
    ++i;
  }
  return Unit{};
}

Result<napi_value> makeRecords(napi_env env, int classId, size_t n, const std::function<Result<Unit>(size_t, double*)>& fill) {
  EnvData* d = envData(env);
  napi_value fn = nullptr;
  if (!d || !d->makeMany || napi_get_reference_value(env, d->makeMany, &fn) != napi_ok || !fn)
    return Error(Status::GenericFailure, "Failed to create array");
  const size_t width = classEntry(classId).numbers;
  Scratch scratch(env);
  if (!scratch.ok()) return Error(Status::GenericFailure, "Failed to create array");
  napi_value global, c, arr;
  napi_get_global(env, &global);
  napi_create_int32(env, classId, &c);
  napi_get_null(env, &arr);
  BW_ASSIGN(total, makeIndex(env, n));
  const size_t chunk = kScratch / width;
  size_t start = 0;
  do {
    const size_t end = std::min(n, start + chunk);
    for (size_t k = start; k < end; ++k) BW_TRY(fill(k, scratch.data() + (k - start) * width));
    BW_ASSIGN(s, makeIndex(env, start));
    BW_ASSIGN(e, makeIndex(env, end));
    napi_value args[6] = {c, scratch.value(), arr, s, e, total};
    napi_status st = napi_call_function(env, global, fn, 6, args, &arr);
    if (st != napi_ok) return hostError(env, st, "Failed to create array");
    start = end;
  } while (start < n);
  return arr;
}

Result<std::vector<double>> readNumbers(napi_env env, napi_value v) {
  bool isTyped = false;
  napi_is_typedarray(env, v, &isTyped);
  if (isTyped) {
    napi_typedarray_type type;
    size_t length = 0;
    void* data = nullptr;
    if (napi_get_typedarray_info(env, v, &type, &length, &data, nullptr, nullptr) == napi_ok &&
        type == napi_float64_array) {
      BW_TRY(checkListLength(length));
      const double* p = static_cast<const double*>(data);
      return std::vector<double>(p, p + (p ? length : 0));
    }
  }
  BW_ASSIGN(n, arrayLength(env, v));
  std::vector<double> out;
  // A sparse array may claim a huge length; grow as elements actually convert.
  out.reserve(std::min<uint32_t>(n, 1u << 16));
  uint32_t i = 0;
  if (n >= kBulkThreshold) {
    BW_ASSIGN(fn, helper(env, &EnvData::numbersIn, kNumbersIn));
    Scratch scratch(env);
    if (scratch.ok()) {
      napi_value global;
      napi_get_global(env, &global);
      while (i < n) {
        BW_TRY(checkListLength(n, i));
        const uint32_t end = static_cast<uint32_t>(std::min<size_t>(n, size_t{i} + kScratch));
        BW_ASSIGN(s, makeIndex(env, i));
        BW_ASSIGN(e, makeIndex(env, end));
        napi_value args[4] = {v, scratch.value(), s, e};
        napi_value res;
        napi_status st = napi_call_function(env, global, fn, 4, args, &res);
        if (st != napi_ok) return hostError(env, st, "Failed to get element with index `" + std::to_string(i) + "`");
        double stop = -1;
        napi_get_value_double(env, res, &stop);
        const uint32_t upto = stop < 0 ? end : static_cast<uint32_t>(stop);
        out.insert(out.end(), scratch.data(), scratch.data() + (upto - i));
        i = upto;
        if (stop < 0) continue;
        // Not a number on the first read: convert it one by one for the exact error. A getter
        // may answer a number this time; then it is taken and the bulk loop goes on after it.
        BW_ASSIGN(item, element(env, v, i));
        BW_ASSIGN(x, readF64(env, item));
        out.push_back(x);
        ++i;
      }
      return out;
    }
  }
  for (; i < n; ++i) {
    BW_TRY(checkListLength(n, i));
    BW_ASSIGN(item, element(env, v, i));
    BW_ASSIGN(x, readF64(env, item));
    out.push_back(x);
  }
  return out;
}

Result<napi_value> makeNumbers(napi_env env, const double* data, size_t n) {
  BW_TRY(checkListLength(n));
  if (n < kBulkThreshold) {
    ListBuilder list(env, n);
    for (size_t i = 0; i < n; ++i) {
      BW_ASSIGN(x, makeF64(env, data[i]));
      BW_TRY(list.set(i, x));
    }
    return list.done();
  }
  return fillRows(env, data, n, 1, false, 1);
}

Result<napi_value> makeRows(napi_env env, const double* flat, size_t rows, size_t width, bool nullableLast) {
  if (width == 1 && !nullableLast) return makeNumbers(env, flat, rows);
  if (width < 1 || width == 4 || width > 5) return Error(Status::InvalidArg, "Rows of " + std::to_string(width) + " numbers");
  BW_TRY(checkListLength(rows));
  if (rows == 0) return makeArray(env, 0);
  return fillRows(env, flat, rows, static_cast<int32_t>(width), nullableLast, width);
}

Result<napi_value> makeFlags(napi_env env, const int8_t* codes, size_t n) {
  BW_TRY(checkListLength(n));
  if (n == 0) return makeArray(env, 0);
  std::vector<double> asNumbers(codes, codes + n);
  return fillRows(env, asNumbers.data(), n, kFlagsWidth, false, 1);
}

Result<napi_value> makeDates(napi_env env, const std::vector<std::optional<DateTime>>& v) {
  const size_t n = v.size();
  BW_TRY(checkListLength(n));
  if (n < kBulkThreshold) {
    ListBuilder list(env, n);
    for (size_t i = 0; i < n; ++i) {
      BW_ASSIGN(x, v[i] ? makeDate(env, *v[i]) : Result<napi_value>(nullValue(env)));
      BW_TRY(list.set(i, x));
    }
    return list.done();
  }
  BW_ASSIGN(fn, helper(env, &EnvData::datesOut, kDatesOut));
  Scratch scratch(env);
  if (!scratch.ok()) return Error(Status::GenericFailure, "Failed to create array");
  napi_value global, arr;
  napi_status st;
  napi_get_global(env, &global);
  napi_get_null(env, &arr);
  BW_ASSIGN(total, makeIndex(env, n));
  size_t start = 0;
  do {
    const size_t end = std::min(n, start + kScratch);
    double* out = scratch.data();
    for (size_t i = start; i < end; ++i)
      out[i - start] = v[i] ? static_cast<double>(v[i]->toMillis()) : std::numeric_limits<double>::quiet_NaN();
    BW_ASSIGN(s, makeIndex(env, start));
    BW_ASSIGN(e, makeIndex(env, end));
    napi_value args[5] = {scratch.value(), arr, s, e, total};
    st = napi_call_function(env, global, fn, 5, args, &arr);
    if (st != napi_ok) return hostError(env, st, "Failed to create array");
    start = end;
  } while (start < n);
  return arr;
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
