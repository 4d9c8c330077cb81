// The one binding of every declared indicator class: static `make(ctx)`, `next(...)`,
// `collect(...)` and `collectTyped(...)`, driven by the declaration's argument and result kinds.
// No indicator has binding code of its own. The members enter like every other member of the
// add-on (the same call reading, native-exception guard and result conversion, detail::invoke)
// and convert each argument with the same Arg templates; only the argument list itself is read
// from the declaration at run time instead of from a lambda's signature.
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

// Copies the numbers of an array into a Float64Array from `start` on; the index of the first
// element that is not a number (to be converted one by one for its exact error), or -1.
constexpr const char* kNumbersIn =
    "(function (a, t, start, n) {"
    "  for (var i = start; i < n; i++) {"
    "    var v = a[i];"
    "    if (typeof v !== 'number') return i;"
    "    t[i] = v;"
    "  }"
    "  return -1;"
    "})";

// The plain array of a collect from its result columns, by shape: 0 numbers; 1 numbers or null
// (optional integers, NaN in the column for absent: an integer is never NaN); 2 optional
// booleans from codes (0 false, 1 true, 2 null); 3, 4 and 6 rows of two, three and five numbers;
// 5 rows of a number and a number or null. An array made here holds its numbers unboxed, where one made
// through the host API would box each of them.
constexpr const char* kArrayOut =
    "(function (A, setProto, AP) { return function (shape, n, a, b, c, d, e) {"
    "  var out = new A(n), i, v;"
    "  setProto(out, null);"
    "  switch (shape) {"
    "    case 0: for (i = 0; i < n; i++) out[i] = a[i]; break;"
    "    case 1: for (i = 0; i < n; i++) { v = a[i]; out[i] = v === v ? v : null; } break;"
    "    case 2: for (i = 0; i < n; i++) { v = a[i]; out[i] = v === 2 ? null : v === 1; } break;"
    "    case 3: for (i = 0; i < n; i++) out[i] = [a[i], b[i]]; break;"
    "    case 4: for (i = 0; i < n; i++) out[i] = [a[i], b[i], c[i]]; break;"
    "    case 6: for (i = 0; i < n; i++) out[i] = [a[i], b[i], c[i], d[i], e[i]]; break;"
    "    default: for (i = 0; i < n; i++) { v = b[i]; out[i] = [a[i], v === v ? v : null]; }"
    "  }"
    "  setProto(out, AP);"
    "  return out;"
    "}; })(Array, Object.setPrototypeOf, Array.prototype)";

char numbersInKey, arrayOutKey;

Result<napi_value> helper(napi_env env, const char* key, const char* source) {
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
Result<ArgValue> readParam(napi_env env, napi_value v, const ArgDecl& argDecl) {
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

// Flags of a collect: booleans, null or undefined (absent), as codes 0, 1 and 2.
Result<std::vector<int8_t>> readFlags(napi_env env, napi_value v) {
  BW_ASSIGN(list, Arg<std::vector<std::optional<bool>>>::read(env, v));
  std::vector<int8_t> out;
  out.reserve(list.size());
  for (const auto& f : list) out.push_back(f ? static_cast<int8_t>(*f) : int8_t{2});
  return out;
}

// Above this many elements an array is read in chunks, so that one claiming a huge length but
// holding few elements fails at its first hole instead of asking for the memory of its length.
constexpr uint32_t kWholeArray = 1u << 24;
constexpr uint32_t kBulkThreshold = 32;

// The numbers of an array into a new Float64Array read by the whole loop: one host call for the
// whole array in the usual case, with the same errors per element as one-by-one conversion.
Result<rt::CollectArg> readSeries(napi_env env, napi_value v, std::vector<double>& spill) {
  BW_ASSIGN(n, arrayLength(env, v));
  if (n < kBulkThreshold || n > kWholeArray) {
    BW_ASSIGN(xs, Arg<std::vector<double>>::read(env, v));
    spill = std::move(xs);
    return rt::CollectArg::ofNumbers(spill);
  }
  BW_ASSIGN(fn, helper(env, &numbersInKey, kNumbersIn));
  BW_ASSIGN(buf, makeBuffer<double>(env, n));
  BW_ASSIGN(total, makeSize(env, n));
  uint32_t i = 0;
  while (i < n) {
    BW_ASSIGN(start, makeSize(env, i));
    napi_value argv[4] = {v, buf.value, start, total};
    BW_ASSIGN(res, callHelper(env, fn, 4, argv,
                              [i] { return "Failed to get element with index `" + std::to_string(i) + "`"; }));
    double stop = -1;
    napi_get_value_double(env, res, &stop);
    if (stop < 0) break;
    // Not a number on the first read: converted one by one for the exact error. A getter may
    // answer a number this time; then it is taken and the loop goes on after it.
    i = static_cast<uint32_t>(stop);
    BW_ASSIGN(item, element(env, v, i));
    BW_ASSIGN(x, readF64(env, item));
    buf.data[i] = x;
    ++i;
  }
  return rt::CollectArg::ofNumbers({buf.data, n});
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
      BW_ASSIGN(a, readSeries(env, v, out.numbers[i]));
      out.args[i] = a;
    } else if (argDecls[i].kind == ArgKind::Flags) {
      BW_ASSIGN(fs, readFlags(env, v));
      out.flags[i] = std::move(fs);
      out.args[i] = rt::CollectArg::ofFlags(out.flags[i]);
    } else {
      BW_ASSIGN(a, readParam(env, v, argDecls[i]));
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

// Runs the collect: arguments, columns, steps. `steps` is the number of rows written.
Result<Out> runCollect(const Call& call, rt::Instance& inst, size_t& steps) {
  const napi_env env = call.env;
  const rt::Declaration& decl = inst.decl();
  auto in = std::make_unique<CollectArgs>();
  BW_TRY(readCollectArgs(env, call, decl.args, *in));
  BW_ASSIGN(n, inst.remaining());
  BW_ASSIGN(out, makeOut(env, decl.result, n));
  BW_ASSIGN(done, inst.collectInto(in->args, out.cols));
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
  Box* box = findBox(call.env, call.self, b.classId);
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
    BW_ASSIGN(a, readParam(call.env, call.argv[i], argDecls[i]));
    args[i] = a;
  }
  BW_ASSIGN(r, inst->next(args));
  return stepValue(call.env, b.decl->result, r);
};

constexpr auto collectMember = [](Call& call) -> Result<napi_value> {
  const napi_env env = call.env;
  BW_ASSIGN(inst, receiver(call));
  const ResultKind kind = inst->decl().result;
  size_t steps = 0;
  BW_ASSIGN(out, runCollect(call, *inst, steps));
  if (kind == ResultKind::Script) return scriptResult(env);
  if (steps < kBulkThreshold) {
    // A few results: built directly, without a turn through the helper.
    ListBuilder arr(env, steps);
    for (size_t i = 0; i < steps; ++i) {
      rt::StepResult r;
      for (size_t k = 0; k < rt::numberColumns(kind); ++k) r.num[k] = out.cols.num[k][i];
      if (kind == ResultKind::OptInt || kind == ResultKind::NumberOptInt) {
        const double x = r.num[kind == ResultKind::OptInt ? 0 : 1];
        if (x == x) r.integer = static_cast<int64_t>(x);
      }
      if (kind == ResultKind::OptFlag) r.flag = out.cols.flags[i];
      BW_ASSIGN(x, stepValue(env, kind, r));
      BW_TRY(arr.set(i, x));
    }
    return arr.done();
  }
  BW_ASSIGN(fn, helper(env, &arrayOutKey, kArrayOut));
  napi_value shape, undef = undefinedValue(env);
  napi_create_int32(env, shapeOf(kind), &shape);
  BW_ASSIGN(total, makeSize(env, steps));
  napi_value argv[7] = {shape, total, undef, undef, undef, undef, undef};
  if (kind == ResultKind::OptFlag) argv[2] = out.flags.value;
  for (size_t k = 0; k < rt::numberColumns(kind); ++k) argv[2 + k] = out.num[k].value;
  return callHelper(env, fn, 7, argv, [] { return std::string("Failed to create array"); });
};

// Typed results: one Float64Array per output, NaN where there is no value. Optional integers are
// numbers; optional booleans are 1 (true) and 0 (false).
constexpr auto collectTypedMember = [](Call& call) -> Result<napi_value> {
  const napi_env env = call.env;
  BW_ASSIGN(inst, receiver(call));
  const ResultKind kind = inst->decl().result;
  size_t steps = 0;
  BW_ASSIGN(out, runCollect(call, *inst, steps));
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
    e.props.push_back({"next", PropKind::Method, &detail::invoke<decltype(nextMember), false>, nullptr, nullptr, b});
    e.props.push_back(
        {"collect", PropKind::Method, &detail::invoke<decltype(collectMember), false>, nullptr, nullptr, b});
    if (d->result != ResultKind::Script)
      e.props.push_back({"collectTyped", PropKind::Method, &detail::invoke<decltype(collectTypedMember), false>,
                         nullptr, nullptr, b});
  }
}

}  // namespace

BW_REGISTER(indicators) { addDeferred(&registerIndicators); }
