// The one binding of every declared indicator class: static `make(ctx)`, `next(...)`,
// `collect(...)` and `collectTyped(...)`, driven by the declaration's argument and result kinds.
// No indicator has binding code of its own. The members enter like every other member of the
// add-on (the same call reading, native-exception guard and result conversion, detail::invoke)
// and convert each argument with the same Arg templates; only the argument list itself is read
// from the declaration at run time instead of from a lambda's signature. next has a second, leaner
// way in for the usual call with plain numbers: see "next by the numbers channel" below.
//
// collect writes its results straight into JavaScript buffers (one column per output) and, for
// the array it returns, turns those into the plain array in one pass of a small JavaScript loop;
// collectTyped returns the buffers themselves.
#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "addon/bind.h"
#include "addon/classes.h"
#include "core/bar_ctx.h"
#include "core/timeframe.h"
#include "runtime/indicator.h"

using namespace bw;
using namespace bw::js;
using rt::ArgKind;
using rt::ArgDecl;
using rt::ArgValue;
using rt::ResultKind;

namespace {

struct Bound {
  const rt::Declaration* decl;
  int classId;
};

struct IndicatorBox final : Box {
  std::unique_ptr<rt::Instance> inst;
  IndicatorBox(int id, std::unique_ptr<rt::Instance> i) : inst(std::move(i)) { classId = id; }
};

// ---------------------------------------------------------------------------------------------
// Per-environment helpers: small JavaScript loops made once and kept in the environment's data.
// They use no globals (the arrays and buffers they fill are made here, the array constructor is
// reached through a literal), so a script that replaces Array or Float64Array changes nothing.

// Copies the numbers of a[start, end) into t[0, end - start); the index of the first element that
// is not a number (to be converted one by one for its exact error), or -1.
constexpr const char* kNumbersIn =
    "(function (a, t, start, end) {"
    "  for (var i = start, j = 0; i < end; i++, j++) {"
    "    var v = a[i];"
    "    if (typeof v !== 'number') return i;"
    "    t[j] = v;"
    "  }"
    "  return -1;"
    "})";

// Rows [start, end) of the plain array of a collect (made by the first chunk, `out` null, with
// room for `total`) from a chunk of its result columns in t: column k of row start + j at
// t[k * stride + j]. By shape: 0 numbers; 1 numbers or null (optional integers, NaN for absent:
// an integer is never NaN); 2 optional booleans from codes (0 false, 1 true, 2 null); 3, 4 and 6
// rows of two, three and five numbers; 5 rows of a number and a number or null. An array made
// here holds its numbers unboxed, where one made through the host API would box each of them.
// The built-ins are taken as they were when the helper was made. A store into a hole of the new
// array would reach a setter that a script put on an index of Array.prototype or
// Object.prototype: only then (a prototype has an index of its own, or the chain is not the
// built-in one) is the array filled without its prototype, which costs the engine's fast stores.
constexpr const char* kArrayOut =
    "(function (A, setProto, getProto, names, AP, OP) {"
    "  function indexed(o) {"
    "    var k = names(o);"
    "    for (var i = 0; i < k.length; i++) if (k[i] === '' + (k[i] >>> 0)) return true;"
    "    return false;"
    "  }"
    "  return function (shape, out, start, end, total, t, s) {"
    "    if (out === null) out = new A(total);"
    "    var bare = getProto(AP) !== OP || getProto(OP) !== null || indexed(AP) || indexed(OP);"
    "    if (bare) setProto(out, null);"
    "    var i = start, j = 0, v;"
    "    switch (shape) {"
    "      case 0: for (; i < end; i++, j++) out[i] = t[j]; break;"
    "      case 1: for (; i < end; i++, j++) { v = t[j]; out[i] = v === v ? v : null; } break;"
    "      case 2: for (; i < end; i++, j++) { v = t[j]; out[i] = v === 2 ? null : v === 1; } break;"
    "      case 3: for (; i < end; i++, j++) out[i] = [t[j], t[s + j]]; break;"
    "      case 4: for (; i < end; i++, j++) out[i] = [t[j], t[s + j], t[2 * s + j]]; break;"
    "      case 6: for (; i < end; i++, j++) out[i] = [t[j], t[s + j], t[2 * s + j], t[3 * s + j], t[4 * s + j]]; break;"
    "      default: for (; i < end; i++, j++) { v = t[s + j]; out[i] = [t[j], v === v ? v : null]; }"
    "    }"
    "    if (bare) setProto(out, AP);"
    "    return out;"
    "  };"
    "})(Array, Object.setPrototypeOf, Object.getPrototypeOf, Object.getOwnPropertyNames, Array.prototype,"
    "   Object.prototype)";

// Rows per chunk of the array helper, and the scratch buffer the helpers fill or read: a chunk
// of the widest rows, or as many input numbers. One scratch per call, so that a conversion
// re-entered through an element getter never shares it.
constexpr size_t kChunkRows = 16384;
constexpr size_t kScratch = 5 * kChunkRows;

char numbersInKey, arrayOutKey;

// A helper's result, or the host's failure (a pending exception wins) as `what` says.
template <class What>
Result<napi_value> callHelper(napi_env env, napi_value fn, size_t argc, const napi_value* argv, What what) {
  napi_value global, out;
  napi_get_global(env, &global);
  napi_status st = napi_call_function(env, global, fn, argc, argv, &out);
  if (st != napi_ok) return hostError(env, st, what());
  return out;
}

Result<napi_value> makeSize(napi_env env, size_t n) { return makeF64(env, static_cast<double>(n)); }

// A new Float64Array of n elements (or an Int8Array), with its memory.
template <class T>
struct Buffer {
  napi_value value = nullptr;
  T* data = nullptr;
};
template <class T>
Result<Buffer<T>> makeBuffer(napi_env env, size_t n) {
  Buffer<T> b;
  void* raw = nullptr;
  napi_value ab;
  napi_status st = napi_create_arraybuffer(env, std::max<size_t>(n, 1) * sizeof(T), &raw, &ab);
  if (st == napi_ok)
    st = napi_create_typedarray(env, sizeof(T) == 8 ? napi_float64_array : napi_int8_array, n, ab, 0, &b.value);
  if (st != napi_ok || !raw) return hostError(env, st == napi_ok ? napi_generic_failure : st, "Failed to create array");
  b.data = static_cast<T*>(raw);
  return b;
}

// ---------------------------------------------------------------------------------------------
// Arguments.

// One argument of next. A number comes first, as the likeliest case: one host call when it is
// one; for the optional kinds a second check tells null or undefined (absent) from a value of the
// wrong type, which then fails with the same error as a direct conversion.
Result<ArgValue> readParamSlow(napi_env env, napi_value v, const ArgDecl& argDecl) {
  switch (argDecl.kind) {
    case ArgKind::Series:
    case ArgKind::Number: {
      BW_ASSIGN(x, readF64(env, v));
      return ArgValue::num(x);
    }
    case ArgKind::Flags:
    case ArgKind::Flag: {
      bool b;
      if (napi_get_value_bool(env, v, &b) == napi_ok) return ArgValue::boolean(b);
      BW_ASSIGN(absent, isNullish(env, v));
      if (absent) return ArgValue::absent();
      BW_ASSIGN(again, readBool(env, v));
      return ArgValue::boolean(again);
    }
    case ArgKind::Real: {
      double x;
      if (napi_get_value_double(env, v, &x) == napi_ok) return ArgValue::num(x);
      BW_ASSIGN(absent, isNullish(env, v));
      if (absent) return ArgValue::absent();
      BW_ASSIGN(again, readF64(env, v));
      return ArgValue::num(again);
    }
    case ArgKind::Period: {
      BW_ASSIGN(t, Arg<std::optional<Timeframe>>::read(env, v));
      return t ? ArgValue::ofPeriod(*t) : ArgValue::absent();
    }
    case ArgKind::Length:
    case ArgKind::OptLength:
    case ArgKind::Integer: break;
  }
  int64_t i;
  if (napi_get_value_int64(env, v, &i) == napi_ok) return ArgValue::integ(i);
  BW_ASSIGN(absent, isNullish(env, v));
  if (absent) return ArgValue::absent();
  BW_ASSIGN(again, readI64(env, v));
  return ArgValue::integ(again);
}

// The same, written straight into `out`: the usual case (a number, or a boolean for a flag) takes
// one host call and no copy of the record through a result.
Result<Unit> readParam(napi_env env, napi_value v, const ArgDecl& argDecl, ArgValue& out) {
  switch (argDecl.kind) {
    case ArgKind::Series:
    case ArgKind::Number:
    case ArgKind::Real: {
      double x;
      if (napi_get_value_double(env, v, &x) != napi_ok) break;
      out = ArgValue::num(x);
      return Unit{};
    }
    case ArgKind::Length:
    case ArgKind::OptLength:
    case ArgKind::Integer: {
      int64_t i;
      if (napi_get_value_int64(env, v, &i) != napi_ok) break;
      out = ArgValue::integ(i);
      return Unit{};
    }
    case ArgKind::Flags:
    case ArgKind::Flag: {
      bool b;
      if (napi_get_value_bool(env, v, &b) != napi_ok) break;
      out = ArgValue::boolean(b);
      return Unit{};
    }
    case ArgKind::Period: break;
  }
  BW_ASSIGN(a, readParamSlow(env, v, argDecl));
  out = a;
  return Unit{};
}

// Flags of a collect: booleans, null or undefined (absent), as codes 0, 1 and 2.
Result<std::vector<int8_t>> readFlags(napi_env env, napi_value v) {
  BW_ASSIGN(list, Arg<std::vector<std::optional<bool>>>::read(env, v));
  std::vector<int8_t> out;
  out.reserve(list.size());
  for (const auto& f : list) out.push_back(f ? static_cast<int8_t>(*f) : int8_t{2});
  return out;
}

// Room reserved for an array's numbers at most: one that claims a huge length but holds few
// elements fails at its first hole instead of asking for the memory of its length.
constexpr uint32_t kReserveAtMost = 1u << 24;
constexpr uint32_t kBulkThreshold = 32;

// The numbers of an array, read chunk by chunk through the scratch by the helper loop: one host
// call per chunk in the usual case, with the same errors per element as one-by-one conversion.
// The list has room for every element up front, so it never copies itself while it grows.
Result<rt::CollectArg> readSeries(napi_env env, napi_value v, std::vector<double>& out,
                                  std::optional<Buffer<double>>& scratch) {
  BW_ASSIGN(n, arrayLength(env, v));
  if (n < kBulkThreshold) {
    BW_ASSIGN(xs, Arg<std::vector<double>>::read(env, v));
    out = std::move(xs);
    return rt::CollectArg::ofNumbers(out);
  }
  BW_ASSIGN(fn, keptScript(env, &numbersInKey, kNumbersIn));
  if (!scratch) {
    BW_ASSIGN(b, makeBuffer<double>(env, kScratch));
    scratch = b;
  }
  out.clear();
  out.reserve(std::min(n, kReserveAtMost));
  uint32_t i = 0;
  while (i < n) {
    const uint32_t end = static_cast<uint32_t>(std::min<size_t>(n, size_t{i} + kScratch));
    BW_ASSIGN(start, makeSize(env, i));
    BW_ASSIGN(stop, makeSize(env, end));
    napi_value argv[4] = {v, scratch->value, start, stop};
    BW_ASSIGN(res, callHelper(env, fn, 4, argv,
                              [i] { return "Failed to get element with index `" + std::to_string(i) + "`"; }));
    double at = -1;
    napi_get_value_double(env, res, &at);
    const uint32_t upto = at < 0 ? end : static_cast<uint32_t>(at);
    out.insert(out.end(), scratch->data, scratch->data + (upto - i));
    i = upto;
    if (at < 0) continue;
    // Not a number on the first read: converted one by one for the exact error. A getter may
    // answer a number this time; then it is taken and the loop goes on after it.
    BW_ASSIGN(item, element(env, v, i));
    BW_ASSIGN(x, readF64(env, item));
    out.push_back(x);
    ++i;
  }
  return rt::CollectArg::ofNumbers(out);
}

// Every argument of a collect, converted before the first step.
struct CollectArgs {
  std::vector<double> numbers[kMaxArgs];
  std::vector<int8_t> flags[kMaxArgs];
  rt::CollectArg args[kMaxArgs];
};

Result<Unit> readCollectArgs(napi_env env, const Call& call, const std::vector<ArgDecl>& argDecls, CollectArgs& out) {
  // Float64Arrays are taken in place only after every other argument is converted: converting
  // those may run JavaScript (element getters, proxies) that could detach or resize a buffer
  // whose memory an earlier span would still point into.
  bool inPlace[kMaxArgs] = {};
  std::optional<Buffer<double>> scratch;
  for (size_t i = 0; i < argDecls.size(); ++i) {
    napi_value v = call.argv[i];
    if (argDecls[i].kind == ArgKind::Series) {
      bool typed = false;
      napi_is_typedarray(env, v, &typed);
      napi_typedarray_type type;
      if (typed && napi_get_typedarray_info(env, v, &type, nullptr, nullptr, nullptr, nullptr) == napi_ok &&
          type == napi_float64_array) {
        inPlace[i] = true;
        continue;
      }
      BW_ASSIGN(a, readSeries(env, v, out.numbers[i], scratch));
      out.args[i] = a;
    } else if (argDecls[i].kind == ArgKind::Flags) {
      BW_ASSIGN(fs, readFlags(env, v));
      out.flags[i] = std::move(fs);
      out.args[i] = rt::CollectArg::ofFlags(out.flags[i]);
    } else {
      ArgValue a;
      BW_TRY(readParam(env, v, argDecls[i], a));
      out.args[i] = rt::CollectArg::ofValue(a);
    }
  }
  for (size_t i = 0; i < argDecls.size(); ++i) {
    if (!inPlace[i]) continue;
    BW_ASSIGN(span, Arg<F64Span>::read(env, call.argv[i]));  // runs no JavaScript
    out.args[i] = rt::CollectArg::ofNumbers({span.data, span.size});
  }
  return Unit{};
}

// ---------------------------------------------------------------------------------------------
// Results.

Result<napi_value> optInt(napi_env env, const std::optional<int64_t>& i) {
  if (!i) return nullValue(env);
  return makeI64(env, *i);
}
Result<napi_value> optFlag(napi_env env, int8_t f) {
  if (f == 2) return nullValue(env);
  return makeBool(env, f == 1);
}
Result<napi_value> tuple(napi_env env, const double* xs, size_t n, const std::optional<int64_t>* tail) {
  ListBuilder arr(env, n + (tail ? 1 : 0));
  for (size_t k = 0; k < n; ++k) {
    BW_ASSIGN(x, makeF64(env, xs[k]));
    BW_TRY(arr.set(k, x));
  }
  if (tail) {
    BW_ASSIGN(x, optInt(env, *tail));
    BW_TRY(arr.set(n, x));
  }
  return arr.done();
}

Result<napi_value> scriptResult(napi_env env) {
  BW_ASSIGN(alerts, makeArray(env, 0));
  BW_ASSIGN(locals, makeObject(env));
  return ObjectBuilder(env).set("alerts", alerts).set("locals", locals).done();
}

Result<napi_value> stepValue(napi_env env, ResultKind kind, const rt::StepResult& r) {
  switch (kind) {
    case ResultKind::Number: return makeF64(env, r.num[0]);
    case ResultKind::OptInt: return optInt(env, r.integer);
    case ResultKind::OptFlag: return optFlag(env, r.flag);
    case ResultKind::Numbers2: return tuple(env, r.num.data(), 2, nullptr);
    case ResultKind::Numbers3: return tuple(env, r.num.data(), 3, nullptr);
    case ResultKind::Numbers5: return tuple(env, r.num.data(), 5, nullptr);
    case ResultKind::NumberOptInt: return tuple(env, r.num.data(), 1, &r.integer);
    case ResultKind::Script: return undefinedValue(env);
  }
  return undefinedValue(env);
}

// The result columns of one collect, made before the loop with room for every remaining bar:
// one Float64Array per number column, an Int8Array for flag codes.
struct Out {
  std::array<Buffer<double>, 5> num{};
  Buffer<int8_t> flags;
  rt::Columns cols;
};

Result<Out> makeOut(napi_env env, ResultKind kind, size_t n) {
  Out o;
  for (size_t k = 0; k < rt::numberColumns(kind); ++k) {
    BW_ASSIGN(b, makeBuffer<double>(env, n));
    o.num[k] = b;
    o.cols.num[k] = b.data;
  }
  if (rt::flagColumn(kind)) {
    BW_ASSIGN(b, makeBuffer<int8_t>(env, n));
    o.flags = b;
    o.cols.flags = b.data;
  }
  o.cols.capacity = n;
  return o;
}

// The result columns of a collect whose array is built afterwards: native memory, uninitialised
// (every row the collect runs is written).
struct NativeOut {
  std::array<std::unique_ptr<double[]>, 5> num;
  std::unique_ptr<int8_t[]> flags;
  rt::Columns cols;

  NativeOut(ResultKind kind, size_t n) {
    for (size_t k = 0; k < rt::numberColumns(kind); ++k) {
      num[k].reset(new double[n]);  // left uninitialised on purpose
      cols.num[k] = num[k].get();
    }
    if (rt::flagColumn(kind)) {
      flags.reset(new int8_t[n]);
      cols.flags = flags.get();
    }
    cols.capacity = n;
  }
};

// Runs the collect: arguments, then columns from `make(n)` for the n remaining bars, then the
// steps. `steps` is the number of rows written.
template <class Make>
auto runCollect(const Call& call, rt::Instance& inst, size_t& steps, Make make) -> decltype(make(size_t{})) {
  const napi_env env = call.env;
  const rt::Declaration& decl = inst.decl();
  auto in = std::make_unique<CollectArgs>();
  BW_TRY(readCollectArgs(env, call, decl.args, *in));
  BW_ASSIGN(n, inst.remaining());
  BW_ASSIGN(out, make(n));
  BW_ASSIGN(done, inst.collectInto(in->args, out->cols));
  steps = done;
  return out;
}

// A view of the first `steps` elements of a column (the whole column in every reachable case).
Result<napi_value> firstOf(napi_env env, napi_value typed, size_t steps, size_t capacity) {
  if (steps == capacity) return typed;
  napi_typedarray_type type;
  napi_value ab;
  size_t offset = 0;
  napi_status st = napi_get_typedarray_info(env, typed, &type, nullptr, nullptr, &ab, &offset);
  napi_value view = nullptr;
  if (st == napi_ok) st = napi_create_typedarray(env, type, steps, ab, offset, &view);
  if (st != napi_ok) return hostError(env, st, "Failed to create array");
  return view;
}

// The shape numbers of kArrayOut.
int32_t shapeOf(ResultKind k) {
  switch (k) {
    case ResultKind::Number: return 0;
    case ResultKind::OptInt: return 1;
    case ResultKind::OptFlag: return 2;
    case ResultKind::Numbers2: return 3;
    case ResultKind::Numbers3: return 4;
    case ResultKind::NumberOptInt: return 5;
    case ResultKind::Numbers5: return 6;
    case ResultKind::Script: break;
  }
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Members.

const Bound& bound(const Call& call) { return *static_cast<const Bound*>(call.data); }

Result<rt::Instance*> receiver(const Call& call) {
  const Bound& b = bound(call);
  Box* box = findSelf(call, b.classId);
  if (!box) return unwrapError(b.decl->className.c_str());
  return static_cast<IndicatorBox*>(box)->inst.get();
}

constexpr auto makeMember = [](Call& call, SharedCtx& ctx) -> Result<napi_value> {
  const Bound& b = bound(call);
  BW_ASSIGN(obj, newObject(call.env, b.classId));
  return attach(call.env, obj, new IndicatorBox(b.classId, b.decl->make(ctx)));
};

constexpr auto nextMember = [](Call& call) -> Result<napi_value> {
  const Bound& b = bound(call);
  const auto& argDecls = b.decl->args;
  BW_ASSIGN(inst, receiver(call));
  // Room for the usual few arguments, so a call does not initialise all sixteen slots.
  std::array<ArgValue, 4> few;
  std::vector<ArgValue> many;
  ArgValue* args = few.data();
  if (argDecls.size() > few.size()) {
    many.resize(argDecls.size());
    args = many.data();
  }
  for (size_t i = 0; i < argDecls.size(); ++i) {
    // An optional argument left out is absent without asking the host (undefined); a required one
    // fails its conversion below as undefined does.
    const ArgKind k = argDecls[i].kind;
    if (i >= call.argc && k != ArgKind::Series && k != ArgKind::Number) {
      args[i] = ArgValue::absent();
      continue;
    }
    BW_TRY(readParam(call.env, call.argv[i], argDecls[i], args[i]));
  }
  rt::StepResult r;
  BW_TRY(inst->next(args, r));
  return stepValue(call.env, b.decl->result, r);
};

// ---------------------------------------------------------------------------------------------
// next by the numbers channel. When every argument is a plain number (a boolean for a flag, null
// or undefined for an optional one), the JavaScript half writes them into the channel and the
// native half reads them there, and answers through the channel too: the call then costs no host
// call per argument or for the result. Anything else takes the usual way, with its usual result
// or error. In the channel, NaN marks an optional argument as absent: an optional real that is
// NaN takes the usual way, and integers and flags never are.

// Which arguments the channel can carry: none of a period (a text or an object), and no more
// than it has room for.
bool passable(const rt::Declaration& d) {
  if (d.args.size() > kPassArgCount) return false;
  for (const ArgDecl& a : d.args)
    if (a.kind == ArgKind::Period) return false;
  return true;
}

std::string slot(size_t i) { return "s[" + std::to_string(i) + "]"; }

// The JavaScript half of next for one declaration. Its parameters have defaults only so that the
// function's length stays 0, as for every other member.
std::string nextHalf(const rt::Declaration& d, int classId) {
  std::string params, test = "h !== 0", stores;
  for (size_t i = 0; i < d.args.size(); ++i) {
    const std::string a = "a" + std::to_string(i);
    const std::string to = slot(kPassArgs + i);
    params += (i ? ", " : "") + a + " = undefined";
    const std::string absent = "(" + a + " === undefined || " + a + " === null)";
    switch (d.args[i].kind) {
      case ArgKind::Series:
      case ArgKind::Number:
        test += " && typeof " + a + " === 'number'";
        stores += "      " + to + " = " + a + ";\n";
        continue;
      case ArgKind::Real:
        test += " && (" + absent + " || typeof " + a + " === 'number' && " + a + " === " + a + ")";
        break;
      case ArgKind::Length:
      case ArgKind::OptLength:
      case ArgKind::Integer:
        // Only whole numbers of 32 bits: their conversion to an integer is exact.
        test += " && (" + absent + " || typeof " + a + " === 'number' && (" + a + " | 0) === " + a + ")";
        break;
      case ArgKind::Flags:
      case ArgKind::Flag:
        test += " && (" + absent + " || typeof " + a + " === 'boolean')";
        stores += "      " + to + " = " + absent + " ? NaN : " + a + " ? 1 : 0;\n";
        continue;
      case ArgKind::Period: break;
    }
    stores += "      " + to + " = " + absent + " ? NaN : " + a + ";\n";
  }
  const std::string r0 = slot(kPassResults), r1 = slot(kPassResults + 1);
  std::string result;
  switch (d.result) {
    case ResultKind::Number: result = "return " + r0 + ";"; break;
    case ResultKind::OptInt: result = "const v = " + r0 + ";\n      return v === v ? v : null;"; break;
    case ResultKind::OptFlag: result = "const v = " + r0 + ";\n      return v === 2 ? null : v === 1;"; break;
    case ResultKind::Numbers2:
    case ResultKind::Numbers3:
    case ResultKind::Numbers5: {
      const size_t n = rt::numberColumns(d.result);
      result = "return [";
      for (size_t k = 0; k < n; ++k) result += (k ? ", " : "") + slot(kPassResults + k);
      result += "];";
      break;
    }
    case ResultKind::NumberOptInt:
      result = "const v = " + r1 + ";\n      return [" + r0 + ", v === v ? v : null];";
      break;
    case ResultKind::Script: result = "return;"; break;
  }
  return "(" + params + ") {\n    const h = stampOf(this);\n    if (" + test + ") {\n      s[HANDLE] = h;\n" + stores +
         "      " + slot(kPassSlot) + " = " + std::to_string(classId + 1) + ";\n      @NATIVE@();\n      " + result +
         "\n    }\n    s[HANDLE] = h;\n    " + slot(kPassSlot) + " = 0;\n    return apply(@NATIVE@, this, arguments);\n  }";
}

// The native half of next when its arguments wait in the channel: the class the half belongs to
// is in the pass slot, the receiver's handle in its own.
napi_value nextPassed(napi_env env, EnvData* d, double* s) {
  const int id = static_cast<int>(s[kPassSlot]) - 1;
  s[kPassSlot] = 0;
  s[kEpochSlot] += 1;
  Box* box = takeHandle(d);
  if (!box || box->classId != id) return fail(env, unwrapError(classEntry(id).name.c_str()));
  rt::Instance& inst = *static_cast<IndicatorBox*>(box)->inst;
  const rt::Declaration& decl = inst.decl();
  std::array<ArgValue, kPassArgCount> args;
  for (size_t i = 0; i < decl.args.size(); ++i) {
    const double v = s[kPassArgs + i];
    switch (decl.args[i].kind) {
      case ArgKind::Series:
      case ArgKind::Number: args[i] = ArgValue::num(v); break;
      case ArgKind::Real: args[i] = v == v ? ArgValue::num(v) : ArgValue::absent(); break;
      case ArgKind::Length:
      case ArgKind::OptLength:
      case ArgKind::Integer: args[i] = v == v ? ArgValue::integ(static_cast<int64_t>(v)) : ArgValue::absent(); break;
      case ArgKind::Flags:
      case ArgKind::Flag: args[i] = v == v ? ArgValue::boolean(v != 0) : ArgValue::absent(); break;
      case ArgKind::Period: args[i] = ArgValue::absent(); break;  // never passed this way
    }
  }
  rt::StepResult r;
  if (auto st = inst.next(args.data(), r); !st.ok()) return fail(env, st.error());
  double* out = s + kPassResults;
  switch (decl.result) {
    case ResultKind::OptInt: out[0] = r.integer ? static_cast<double>(*r.integer) : kNaN; break;
    case ResultKind::OptFlag: out[0] = r.flag; break;
    case ResultKind::NumberOptInt:
      out[0] = r.num[0];
      out[1] = r.integer ? static_cast<double>(*r.integer) : kNaN;
      break;
    case ResultKind::Script: break;
    case ResultKind::Number: out[0] = r.num[0]; break;
    case ResultKind::Numbers2: std::memcpy(out, r.num.data(), 2 * sizeof(double)); break;
    case ResultKind::Numbers3: std::memcpy(out, r.num.data(), 3 * sizeof(double)); break;
    case ResultKind::Numbers5: std::memcpy(out, r.num.data(), 5 * sizeof(double)); break;
  }
  return nullptr;  // undefined: the half reads the channel
}

napi_value nextNative(napi_env env, napi_callback_info info) {
  EnvData* d = envData(env);
  double* s = d ? d->recordNumbers : nullptr;
  if (!s || s[kPassSlot] == 0) return detail::invoke<decltype(nextMember), false>(env, info);
  try {
    return nextPassed(env, d, s);
  } catch (const std::exception& ex) {
    return fail(env, Error(Status::GenericFailure, ex.what()));
  } catch (...) {
    return fail(env, Error(Status::GenericFailure, "unexpected native failure"));
  }
}

constexpr auto collectMember = [](Call& call) -> Result<napi_value> {
  const napi_env env = call.env;
  BW_ASSIGN(inst, receiver(call));
  const ResultKind kind = inst->decl().result;
  size_t steps = 0;
  BW_ASSIGN(out, runCollect(call, *inst, steps, [kind](size_t n) -> Result<std::unique_ptr<NativeOut>> {
    return std::make_unique<NativeOut>(kind, n);
  }));
  if (kind == ResultKind::Script) return scriptResult(env);
  const rt::Columns& cols = out->cols;
  const size_t width = rt::numberColumns(kind);
  if (steps < kBulkThreshold) {
    // A few results: built directly, without a turn through the helper.
    ListBuilder arr(env, steps);
    for (size_t i = 0; i < steps; ++i) {
      rt::StepResult r;
      for (size_t k = 0; k < width; ++k) r.num[k] = cols.num[k][i];
      if (kind == ResultKind::OptInt || kind == ResultKind::NumberOptInt) {
        const double x = r.num[kind == ResultKind::OptInt ? 0 : 1];
        if (x == x) r.integer = static_cast<int64_t>(x);
      }
      if (kind == ResultKind::OptFlag) r.flag = cols.flags[i];
      BW_ASSIGN(x, stepValue(env, kind, r));
      BW_TRY(arr.set(i, x));
    }
    return arr.done();
  }
  // Chunk by chunk: the columns' rows into the scratch, then the helper makes the array's rows.
  BW_ASSIGN(fn, keptScript(env, &arrayOutKey, kArrayOut));
  BW_ASSIGN(scratch, makeBuffer<double>(env, kScratch));
  napi_value shape, stride, arr;
  napi_create_int32(env, shapeOf(kind), &shape);
  BW_ASSIGN(strideValue, makeSize(env, kChunkRows));
  stride = strideValue;
  napi_get_null(env, &arr);
  BW_ASSIGN(total, makeSize(env, steps));
  for (size_t start = 0; start < steps; start += kChunkRows) {
    const size_t rows = std::min(kChunkRows, steps - start);
    for (size_t k = 0; k < width; ++k)
      std::memcpy(scratch.data + k * kChunkRows, cols.num[k] + start, rows * sizeof(double));
    if (kind == ResultKind::OptFlag)
      for (size_t j = 0; j < rows; ++j) scratch.data[j] = cols.flags[start + j];
    BW_ASSIGN(from, makeSize(env, start));
    BW_ASSIGN(to, makeSize(env, start + rows));
    napi_value argv[7] = {shape, arr, from, to, total, scratch.value, stride};
    BW_ASSIGN(made, callHelper(env, fn, 7, argv, [] { return std::string("Failed to create array"); }));
    arr = made;
  }
  return arr;
};

// Typed results: one Float64Array per output, NaN where there is no value. Optional integers are
// numbers; optional booleans are 1 (true) and 0 (false).
constexpr auto collectTypedMember = [](Call& call) -> Result<napi_value> {
  const napi_env env = call.env;
  BW_ASSIGN(inst, receiver(call));
  const ResultKind kind = inst->decl().result;
  size_t steps = 0;
  BW_ASSIGN(made, runCollect(call, *inst, steps, [env, kind](size_t n) -> Result<std::optional<Out>> {
    BW_ASSIGN(o, makeOut(env, kind, n));
    return std::optional<Out>(std::move(o));
  }));
  const Out& out = *made;
  const size_t n = out.cols.capacity;
  if (kind == ResultKind::OptFlag) {
    BW_ASSIGN(b, makeBuffer<double>(env, n));
    for (size_t i = 0; i < steps; ++i) {
      const int8_t f = out.cols.flags[i];
      b.data[i] = f == 2 ? kNaN : static_cast<double>(f);
    }
    return firstOf(env, b.value, steps, n);
  }
  const size_t width = rt::numberColumns(kind);
  if (kind == ResultKind::Number || kind == ResultKind::OptInt) return firstOf(env, out.num[0].value, steps, n);
  ListBuilder arr(env, width);
  for (size_t k = 0; k < width; ++k) {
    BW_ASSIGN(col, firstOf(env, out.num[k].value, steps, n));
    BW_TRY(arr.set(k, col));
  }
  return arr.done();
};

void registerIndicators() {
  for (const rt::Declaration* d : rt::declarations()) {
    if (d->args.size() > kMaxArgs) continue;  // not bindable; no declaration comes near this
    auto* b = new Bound{d, classId(d->className)};  // lives for the whole process
    ClassEntry& e = classEntry(b->classId);
    // Members whose only receiver is the raw call: the class is known from the record's data.
    e.props.push_back({"make", PropKind::StaticMethod, &detail::invoke<decltype(makeMember), false>, nullptr, nullptr, b});
    e.props.push_back({"next", PropKind::Method, &nextNative, nullptr, nullptr, b});
    if (passable(*d)) e.props.back().half = nextHalf(*d, b->classId);
    e.props.push_back(
        {"collect", PropKind::Method, &detail::invoke<decltype(collectMember), false>, nullptr, nullptr, b});
    if (d->result != ResultKind::Script)
      e.props.push_back({"collectTyped", PropKind::Method, &detail::invoke<decltype(collectTypedMember), false>,
                         nullptr, nullptr, b});
  }
}

}  // namespace

BW_REGISTER(indicators) { addDeferred(&registerIndicators); }
