#include "addon/kernel.h"

#include <cstdint>
#include <string>
#include <vector>

#include "addon/bind.h"
#include "addon/registry.h"
#include "addon/value.h"

namespace bw::js {

bool handledMethod(const ClassEntry& e, const PropRecord& p);

namespace {

// What every environment runs: the source of the kernel and the native callbacks it is given,
// in the order the source names them (natives[i]). Built once, from the complete registry.
struct NativeFn {
  std::string name;
  napi_callback cb;
  void* data;
  int handled = -1;  // a native that takes its receiver's handle: its place in Plan::handled
};
struct Plan {
  std::string source;
  std::vector<NativeFn> natives;
  // The own data of each native that takes a handle; such a native's callback data is the
  // address of its element here, which is how the native side tells them (handleNative).
  std::vector<void*> handled;
};

// Plan::handled once the plan is built (it never changes after).
void* const* gHandledBegin = nullptr;
void* const* gHandledEnd = nullptr;

// Everything the kernel holds is taken when the add-on loads: later changes to the globals and
// built-in prototypes by a script do not reach it. Value objects keep their record in a private
// field (only this code can read or change it) and carry one own enumerable property whose value
// is a symbol, so that structuredClone and postMessage refuse them with a DataCloneError instead
// of quietly copying an empty object.
constexpr const char* kPrelude = R"JS(
'use strict';
const apply = Reflect.apply;
const A = Array;
const AP = Array.prototype;
const setPrototypeOf = Object.setPrototypeOf;
const construct = Reflect.construct;
const defineProperty = Object.defineProperty;
const ErrorCtor = Error;
const SymbolCtor = Symbol;
const D = Date;
const CLONE_KEY = '[[NoClone]]';
// util.inspect shows such objects as before, without the clone guard.
const INSPECT = SymbolCtor.for('nodejs.util.inspect.custom');
function inspectAs(prototype, name) {
  const show = { [INSPECT]() { return name + ' {}'; } }[INSPECT];
  defineProperty(prototype, INSPECT, { value: show, writable: true, enumerable: false, configurable: true });
}
const NOARGS = [];
// The object a prefetching walker stepped last, and the epoch right after that step.
const EPOCH = @EPOCH@;
let stepObj = null;
let stepEpoch = -1;
function stepped(o) {
  stepObj = o;
  stepEpoch = s[EPOCH];
}
// Objects with native boxes carry their box's handle in a private field: only this code can add
// or read it, so a handle found on a receiver is the handle of that very object's box.
const HANDLE = @HANDLE@;
class Bare {
  constructor(o) {
    return o;
  }
}
class Stamped extends Bare {
  #h;
  constructor(o, h) {
    super(o);
    this.#h = h;
  }
  static of(o) {
    return typeof o === 'object' && o !== null && #h in o ? o.#h : 0;
  }
}
const stampOf = Stamped.of;
function stamp(o, h) {
  new Stamped(o, h);
}
const x = [@TEXTS@];
function coded(message, code) {
  const e = new ErrorCtor(message);
  e.code = code;
  return e;
}
)JS";

constexpr const char* kTail = R"JS(
function unpack(o, c) {
  return U[c](o, 0);
}
function make(c) {
  return new R[c](REC[c]());
}
// Lists of values whose records are numbers only, a chunk at a time through a Float64Array t:
// the records of a[start..end) into t (the index of the first element that is not of the class,
// or -1), and new objects from t into out[start..end) (out made dense on the first chunk).
function unpackMany(c, a, t, start, end) {
  return UM[c](a, t, start, end);
}
function makeMany(c, t, out, start, end, total) {
  if (out === null) out = new A(total);
  setPrototypeOf(out, null);
  MM[c](t, out, start, end);
  setPrototypeOf(out, AP);
  return out;
}
return { __proto__: null, ctors: C, unpack, make, unpackMany, makeMany, stepped, stamp, stampOf, texts: x };
)JS";

std::string quoted(const std::string& s) { return "'" + s + "'"; }

std::string id(const char* prefix, size_t c) { return prefix + std::to_string(c); }

// The record of class c made from the channels: an array literal, dense from the start.
std::string recordLiteral(const ClassEntry& e) {
  std::string out = "[";
  const std::string mask = "s[" + std::to_string(kRecordTextMask) + "]";
  for (size_t i = 0; i < e.numbers; ++i) out += (i ? ", " : "") + std::string("s[") + std::to_string(i) + "]";
  for (size_t k = 0; k < e.texts; ++k)
    out += (e.numbers + k ? ", " : "") + std::string("(") + mask + " & " + std::to_string(1u << k) + " ? x[" +
           std::to_string(k) + "] : null)";
  return out + "]";
}

class Builder {
 public:
  Plan build() {
    const auto& classes = registry().classes;
    src_ = "(function (s, natives, heavy) {\n";
    std::string prelude = kPrelude;
    std::string nulls;
    for (size_t i = 0; i < kRegions * kRecordTexts; ++i) nulls += i ? ", null" : "null";
    prelude.replace(prelude.find("@TEXTS@"), 7, nulls);
    prelude.replace(prelude.find("@EPOCH@"), 7, std::to_string(kEpochSlot));
    prelude.replace(prelude.find("@HANDLE@"), 8, std::to_string(kHandleSlot));
    src_ += prelude;
    const size_t bindings = src_.size();
    for (size_t c = 0; c < classes.size(); ++c)
      if (classes[c].value) valueClass(c, classes[c]);
    for (size_t c = 0; c < classes.size(); ++c) {
      if (classes[c].value) continue;
      if (guardsCloning(classes[c]))
        src_ += "inspectAs(heavy[" + std::to_string(c) + "].prototype, " + quoted(classes[c].name) + ");\n";
      bool any = false;
      for (size_t p = 0; p < classes[c].props.size(); ++p) any = any || kernelDefines(static_cast<int>(c), p);
      if (any) src_ += "const " + id("C", c) + " = heavy[" + std::to_string(c) + "];\n";
    }
    for (size_t c = 0; c < classes.size(); ++c)
      for (size_t p = 0; p < classes[c].props.size(); ++p)
        if (kernelDefines(static_cast<int>(c), p)) member(c, classes[c], classes[c].props[p]);
    src_ += "const C = [], R = [], U = [], REC = [], UM = [], MM = [];\n";
    for (size_t c = 0; c < classes.size(); ++c) {
      if (!classes[c].value) continue;
      const std::string n = std::to_string(c);
      src_ += "C[" + n + "] = C" + n + "; R[" + n + "] = R" + n + "; U[" + n + "] = u" + n + "; REC[" + n + "] = r" + n +
              ";\n";
      if (classes[c].texts == 0) src_ += "UM[" + n + "] = um" + n + "; MM[" + n + "] = mm" + n + ";\n";
    }
    // Each native under a constant name: a call through one goes the engine's fast way to a host
    // function, even forwarded by apply, since the target is then known when the caller is
    // compiled.
    std::string names;
    for (size_t i = 0; i < natives_.size(); ++i)
      names += "const N" + std::to_string(i) + " = natives[" + std::to_string(i) + "];\n";
    src_.insert(bindings, names);
    src_ += kTail;
    src_ += "})";
    return Plan{std::move(src_), std::move(natives_), std::move(handled_)};
  }

 private:
  std::string native(const std::string& name, napi_callback cb, void* data) {
    natives_.push_back({name, cb, data});
    return "N" + std::to_string(natives_.size() - 1);
  }

  // A native called only after its JavaScript half left the receiver's handle in the channel.
  std::string handleNative(const std::string& name, napi_callback cb, void* data) {
    natives_.push_back({name, cb, nullptr, static_cast<int>(handled_.size())});
    handled_.push_back(data);
    return "N" + std::to_string(natives_.size() - 1);
  }

  void valueClass(size_t c, const ClassEntry& e) {
    const std::string n = std::to_string(c);
    src_ += "const B" + n + " = SymbolCtor(" + quoted(e.name + " objects cannot be cloned") + ");\n";
    src_ += "const R" + n + " = class {\n  [CLONE_KEY] = B" + n +
            ";\n  #d;\n  constructor(d) {\n    this.#d = d;\n  }\n"
            "  static get(o) {\n    return typeof o === 'object' && o !== null && #d in o ? o.#d : undefined;\n  }\n};\n";
    src_ += "const r" + n + " = () => " + recordLiteral(e) + ";\n";
    if (e.texts == 0) {
      std::string literal = "[";
      for (size_t i = 0; i < e.numbers; ++i)
        literal += (i ? ", " : "") + std::string("s[") + std::to_string(kPrefetchRegion * kRecordNumbers + i) + "]";
      src_ += "const p" + n + " = () => " + literal + "];\n";
    }
    // u: the record of o into region r (and its presence flag); w: region 0 back into o's record.
    std::string copyIn, copyBack, mask;
    for (size_t i = 0; i < e.numbers; ++i) {
      copyIn += "  s[b + " + std::to_string(i) + "] = d[" + std::to_string(i) + "];\n";
      copyBack += "  d[" + std::to_string(i) + "] = s[" + std::to_string(i) + "];\n";
    }
    const std::string maskSlot = std::to_string(kRecordTextMask);
    for (size_t k = 0; k < e.texts; ++k) {
      const std::string slot = std::to_string(e.numbers + k);
      const std::string bit = std::to_string(1u << k);
      // An absent text is not copied: its bit in the mask tells the reader so.
      copyIn += "  if (d[" + slot + "] !== null) x[t + " + std::to_string(k) + "] = d[" + slot + "];\n";
      mask += std::string(k ? " | " : "") + "(d[" + slot + "] === null ? 0 : " + bit + ")";
      copyBack += "  d[" + slot + "] = s[" + maskSlot + "] & " + bit + " ? x[" + std::to_string(k) + "] : null;\n";
    }
    copyIn += "  s[b + " + maskSlot + "] = " + (mask.empty() ? std::string("0") : mask) + ";\n";
    const std::string present = std::to_string(kRecordPresent);
    src_ += "const u" + n + " = (o, r) => {\n  const b = r * " + std::to_string(kRecordNumbers) + ", t = r * " +
            std::to_string(kRecordTexts) + ";\n  const d = R" + n + ".get(o);\n  if (d === undefined) {\n    s[b + " +
            present + "] = 0;\n    return false;\n  }\n" + copyIn + "  s[b + " + present +
            "] = 1;\n  return true;\n};\n";
    src_ += "const w" + n + " = (o) => {\n  const d = R" + n + ".get(o);\n" + copyBack + "};\n";
    if (e.texts == 0) {
      const std::string width = std::to_string(e.numbers);
      std::string from, to;
      for (size_t i = 0; i < e.numbers; ++i) {
        from += "    t[j + " + std::to_string(i) + "] = d[" + std::to_string(i) + "];\n";
        to += std::string(i ? ", " : "") + "t[j + " + std::to_string(i) + "]";
      }
      src_ += "const um" + n + " = (a, t, start, end) => {\n  for (let i = start, j = 0; i < end; i++, j += " + width +
              ") {\n    const d = R" + n + ".get(a[i]);\n    if (d === undefined) return i;\n" + from +
              "  }\n  return -1;\n};\n";
      src_ += "const mm" + n + " = (t, out, start, end) => {\n  for (let i = start, j = 0; i < end; i++, j += " + width +
              ") out[i] = new R" + n + "([" + to + "]);\n};\n";
    }
    src_ += "const U" + n + " = " + quoted("Failed to unwrap exclusive reference of `" + e.name + "` type from napi value") +
            ";\n";
    src_ += "const C" + n + " = function " + e.name + "() {\n";
    if (!e.ctor) {
      src_ += "  throw new ErrorCtor('Class contains no `constructor`, can not new it!');\n";
    } else {
      src_ += "  if (new.target === undefined) throw coded(" +
              quoted("Class constructor " + e.name + " cannot be invoked without \\'new\\'") + ", 'InvalidArg');\n";
      src_ += "  apply(" + native(e.name, e.ctor, e.ctorData) + ", undefined, arguments);\n";
      // A subclass's objects get the subclass's prototype.
      src_ += "  return new.target === C" + n + " ? new R" + n + "(r" + n + "()) : construct(R" + n + ", [r" + n +
              "()], new.target);\n";
    }
    src_ += "};\n";
    // Every object comes from R, which holds the record; the class and R share one prototype, so
    // they are instances of the class all the same.
    src_ += "defineProperty(R" + n + ".prototype, 'constructor', { value: C" + n +
            ", writable: true, enumerable: false, configurable: true });\n";
    src_ += "defineProperty(C" + n + ", 'prototype', { value: R" + n + ".prototype, writable: false });\n";
    src_ += "inspectAs(C" + n + ".prototype, " + quoted(e.name) + ");\n";
  }

  // The body that turns what a native member returned into its result: null stays null,
  // anything else means a record of class k waits in the channels.
  static std::string wrapped(int k, const std::string& call) {
    const std::string kk = std::to_string(k);
    return "const r = " + call + ";\n    return r === null ? null : new R" + kk + "(r" + kk + "());";
  }

  std::string jsBody(size_t c, const std::string& expr) {
    const std::string n = std::to_string(c);
    return "const d = R" + n + ".get(this);\n    if (d === undefined) throw coded(U" + n +
           ", 'InvalidArg');\n    return " + expr + ";";
  }

  // Copies the records of the call's value parameters into the channels' regions.
  static std::string prepare(const std::vector<std::pair<int, int>>& values) {
    std::string out;
    size_t region = 1;
    for (const auto& [arg, cls] : values) {
      const std::string k = std::to_string(cls);
      if (arg < 0)
        out += "if (!u" + k + "(this, 0)) throw coded(U" + k + ", 'InvalidArg');\n    ";
      else
        out += "u" + k + "(arguments[" + std::to_string(arg) + "], " + std::to_string(region++) + ");\n    ";
    }
    return out;
  }

  // The arguments a wrapper hands on, after the receiver.
  static std::string forwarded(int arity) {
    std::string out;
    for (int i = 0; i < arity; ++i) out += ", arguments[" + std::to_string(i) + "]";
    return out;
  }

  // A native callback that the JavaScript side prepares: it takes the receiver as its first
  // argument and reads its value parameters from the channels, which the wrapper filled.
  std::string preparedNative(const std::string& name, napi_callback cb, void* data) {
    return native(name, cb, data ? data : preparedTag());
  }

  // A function value for a method-like member (method, static method, getter).
  std::string function(size_t c, const PropRecord& p, napi_callback cb, bool getter) {
    const std::string key = quoted(p.name);
    // A method or getter of a boxed class hands its native half the receiver's handle, so the
    // native finds the box without a lookup through the host.
    const bool handled = handledMethod(classEntry(static_cast<int>(c)), p);
    const std::string handle = handled ? "s[HANDLE] = stampOf(this);\n    " : "";
    std::string body;
    if (handled && !p.half.empty()) {
      std::string half = p.half;
      const std::string fn = handleNative(p.name, cb, p.data);
      for (size_t at = half.find("@NATIVE@"); at != std::string::npos; at = half.find("@NATIVE@", at))
        half.replace(at, 8, fn);
      return "({ [" + key + "]" + half + " })[" + key + "]";
    }
    if (!p.js.empty()) {
      body = jsBody(c, p.js);
    } else if (handled && p.resultClass < 0 && p.values.empty()) {
      body = handle + "return apply(" + handleNative(p.name, cb, p.data) + ", this, arguments);";
    } else if (p.resultClass >= 0 || !p.values.empty()) {
      const std::string fn = handled ? handleNative(p.name, cb, p.data ? p.data : preparedTag())
                                     : preparedNative(p.name, cb, p.data);
      const std::string call = fn + "(this" + forwarded(getter ? 0 : p.arity) + ")";
      if (p.prefetched) {
        // What the last step of this very object left, while nothing native has run since.
        const std::string k = std::to_string(p.resultClass);
        body = "if (this === stepObj && s[EPOCH] === stepEpoch) return new R" + k + "(p" + k + "());\n    ";
      }
      body += prepare(p.values) + handle +
              (p.resultClass >= 0 ? wrapped(p.resultClass, call) : "return " + call + ";");
    } else {
      return native(p.name, cb, p.data);
    }
    return "({ [" + key + "]() {\n    " + body + "\n  } })[" + key + "]";
  }

  std::string setter(size_t c, const PropRecord& p) {
    if (!p.setter) return "undefined";
    if (p.setterValues.empty()) return native(p.name, p.setter, p.data);
    const std::string key = quoted(p.name);
    std::string body;
    if (p.numberSlot >= 0) {
      // A number goes straight into its slot; anything else goes to the native setter, which
      // refuses it with the conversion error.
      const std::string n = std::to_string(c);
      body = "if (typeof v === 'number') {\n      const d = R" + n + ".get(this);\n      if (d === undefined) throw coded(U" +
             n + ", 'InvalidArg');\n      d[" + std::to_string(p.numberSlot) + "] = v;\n      return;\n    }\n    ";
    }
    body += prepare(p.setterValues) + preparedNative(p.name, p.setter, p.data) + "(this, v);";
    if (p.writesBack) body += "\n    w" + std::to_string(c) + "(this);";
    return "({ [" + key + "](v) {\n    " + body + "\n  } })[" + key + "]";
  }

  void member(size_t c, const ClassEntry& e, const PropRecord& p) {
    const std::string target = "C" + std::to_string(c);
    const std::string key = quoted(p.name);
    switch (p.kind) {
      case PropKind::Method:
        src_ += "defineProperty(" + target + ".prototype, " + key + ", { value: " + function(c, p, p.method, false) +
                ", writable: true, enumerable: true, configurable: true });\n";
        break;
      case PropKind::StaticMethod:
        src_ += "defineProperty(" + target + ", " + key + ", { value: " + function(c, p, p.method, false) +
                ", writable: false, enumerable: false, configurable: false });\n";
        break;
      case PropKind::Accessor: {
        const std::string get = function(c, p, p.getter, true);
        const std::string set = setter(c, p);
        src_ += "defineProperty(" + target + ".prototype, " + key + ", { get: " + get + ", set: " + set +
                ", enumerable: true, configurable: true });\n";
        break;
      }
    }
    (void)e;
  }

  std::string src_;
  std::vector<NativeFn> natives_;
  std::vector<void*> handled_;
};

const Plan& plan() {
  // The registry is complete by the first module entry, which builds this.
  static const Plan p = Builder().build();
  static const bool marked = (gHandledBegin = p.handled.data(), gHandledEnd = gHandledBegin + p.handled.size(), true);
  (void)marked;
  return p;
}

Error kernelError() { return Error(Status::GenericFailure, "Failed to register class `kernel`"); }

}  // namespace

bool guardsCloning(const ClassEntry& e) { return !e.value && !e.onInstance; }

bool handledMethod(const ClassEntry& e, const PropRecord& p) {
  return !e.value && p.js.empty() && (p.kind == PropKind::Method || (p.kind == PropKind::Accessor && p.getter));
}

bool kernelDefines(int classId, size_t prop) {
  const ClassEntry& e = classEntry(classId);
  if (e.value) return true;
  const PropRecord& p = e.props[prop];
  return handledMethod(e, p) || !p.js.empty() || p.resultClass >= 0 || !p.values.empty() ||
         !p.setterValues.empty();
}

bool handleNative(void* data, void** own) {
  // Only the addresses of Plan::handled's elements mark such natives; any other data (null,
  // the prepared tag, a member's own record) lies outside it.
  const auto at = reinterpret_cast<std::uintptr_t>(data);
  if (at < reinterpret_cast<std::uintptr_t>(gHandledBegin) || at >= reinterpret_cast<std::uintptr_t>(gHandledEnd)) return false;
  *own = *static_cast<void* const*>(data);
  return true;
}

Result<Unit> runKernel(napi_env env, EnvData* d, std::vector<napi_value>& ctors) {
  const Plan& k = plan();
  const auto& classes = registry().classes;

  // The numbers channel: a Float64Array whose memory the native side keeps a pointer to.
  napi_value buffer, numbers;
  void* raw = nullptr;
  constexpr size_t kChannel = kChannelSlots;
  if (napi_create_arraybuffer(env, kChannel * sizeof(double), &raw, &buffer) != napi_ok ||
      napi_create_typedarray(env, napi_float64_array, kChannel, buffer, 0, &numbers) != napi_ok || !raw)
    return kernelError();

  napi_value natives, heavy, undefined;
  napi_get_undefined(env, &undefined);
  if (napi_create_array_with_length(env, k.natives.size(), &natives) != napi_ok ||
      napi_create_array_with_length(env, classes.size(), &heavy) != napi_ok)
    return kernelError();
  for (size_t i = 0; i < k.natives.size(); ++i) {
    napi_value fn;
    const NativeFn& f = k.natives[i];
    void* data = f.handled >= 0 ? const_cast<void**>(&k.handled[static_cast<size_t>(f.handled)]) : f.data;
    if (napi_create_function(env, f.name.c_str(), f.name.size(), f.cb, data, &fn) != napi_ok ||
        napi_set_element(env, natives, static_cast<uint32_t>(i), fn) != napi_ok)
      return kernelError();
  }
  for (size_t c = 0; c < classes.size(); ++c)
    if (napi_set_element(env, heavy, static_cast<uint32_t>(c), ctors[c] ? ctors[c] : undefined) != napi_ok)
      return kernelError();

  napi_value src, maker, kernel, global;
  napi_get_global(env, &global);
  napi_value args[3] = {numbers, natives, heavy};
  if (napi_create_string_utf8(env, k.source.data(), k.source.size(), &src) != napi_ok ||
      napi_run_script(env, src, &maker) != napi_ok ||
      napi_call_function(env, global, maker, 3, args, &kernel) != napi_ok)
    return kernelError();

  napi_value made, fn;
  if (napi_get_named_property(env, kernel, "ctors", &made) != napi_ok) return kernelError();
  for (size_t c = 0; c < classes.size(); ++c) {
    if (!classes[c].value) continue;
    if (napi_get_element(env, made, static_cast<uint32_t>(c), &ctors[c]) != napi_ok) return kernelError();
  }
  const std::pair<const char*, napi_ref EnvData::*> kept[] = {
      {"unpack", &EnvData::unpack},         {"make", &EnvData::make},          {"texts", &EnvData::recordTexts},
      {"unpackMany", &EnvData::unpackMany}, {"makeMany", &EnvData::makeMany}, {"stepped", &EnvData::stepped},
      {"stamp", &EnvData::stamp},           {"stampOf", &EnvData::stampOf}};
  for (const auto& [name, slot] : kept) {
    if (napi_get_named_property(env, kernel, name, &fn) != napi_ok ||
        napi_create_reference(env, fn, 1, &(d->*slot)) != napi_ok)
      return kernelError();
  }
  if (napi_create_reference(env, numbers, 1, &d->recordChannel) != napi_ok) return kernelError();
  d->recordNumbers = static_cast<double*>(raw);
  return Unit{};
}

}  // namespace bw::js
