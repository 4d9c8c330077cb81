// The one binding of every declared indicator class: static `make(ctx)`, `next(...)` and
// `collect(...)`, driven by the declaration's argument and result kinds. No indicator has
// binding code of its own.
#include <array>
#include <memory>
#include <vector>

#include "addon/bind.h"
#include "addon/classes.h"
#include "core/bar_ctx.h"
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
// Arguments.

Result<ArgValue> readParam(napi_env env, napi_value v, const ArgDecl& argDecl) {
  switch (argDecl.kind) {
    case ArgKind::Series:
    case ArgKind::Number: {
      BW_ASSIGN(x, readF64(env, v));
      return ArgValue::num(x);
    }
    default: break;
  }
  // The value given is the common case: one host call reads it; only a value of another type
  // is then asked whether it is null or undefined.
  switch (argDecl.kind) {
    case ArgKind::Flags:
    case ArgKind::Flag: {
      bool b;
      if (napi_get_value_bool(env, v, &b) == napi_ok) return ArgValue::boolean(b);
      break;
    }
    case ArgKind::Real: {
      double x;
      if (napi_get_value_double(env, v, &x) == napi_ok) return ArgValue::num(x);
      break;
    }
    default: {
      int64_t i;
      if (napi_get_value_int64(env, v, &i) == napi_ok) return ArgValue::integ(i);
      break;
    }
  }
  BW_ASSIGN(absent, isNullish(env, v));
  if (absent) return ArgValue::absent();
  switch (argDecl.kind) {
    case ArgKind::Flags:
    case ArgKind::Flag: {
      BW_ASSIGN(b, readBool(env, v));
      return ArgValue::boolean(b);
    }
    case ArgKind::Real: {
      BW_ASSIGN(x, readF64(env, v));
      return ArgValue::num(x);
    }
    default: {
      BW_ASSIGN(i, readI64(env, v));
      return ArgValue::integ(i);
    }
  }
}

// Flags of a collect: booleans, null or undefined (absent); anything else is refused like a
// boolean argument.
Result<std::vector<int8_t>> readFlags(napi_env env, napi_value v) {
  BW_ASSIGN(n, arrayLength(env, v));
  std::vector<int8_t> out;
  out.reserve(std::min<uint32_t>(n, 1u << 16));
  for (uint32_t i = 0; i < n; ++i) {
    BW_ASSIGN(item, element(env, v, i));
    BW_ASSIGN(absent, isNullish(env, item));
    if (absent) {
      out.push_back(2);
      continue;
    }
    BW_ASSIGN(b, readBool(env, item));
    out.push_back(static_cast<int8_t>(b));
  }
  return out;
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
    case ResultKind::NumberOptInt: return tuple(env, r.num.data(), 1, &r.integer);
    case ResultKind::Script: return undefinedValue(env);
  }
  return undefinedValue(env);
}

// One array of results, built in bulk: numbers as they are, tuples as rows, optional integers
// as numbers with NaN for absent (an integer is never NaN), flags by their codes.
Result<napi_value> collectedValue(napi_env env, const rt::Collected& c) {
  const auto withIntegers = [&](size_t width) -> Result<napi_value> {
    std::vector<double> flat(c.steps * width);
    for (size_t i = 0; i < c.steps; ++i) {
      if (width == 2) flat[2 * i] = c.num[i];
      const auto& k = c.integers[i];
      flat[i * width + width - 1] = k ? static_cast<double>(*k) : kNaN;
    }
    return makeRows(env, flat.data(), c.steps, width, true);
  };
  switch (c.kind) {
    case ResultKind::Script: return scriptResult(env);
    case ResultKind::Number: return makeNumbers(env, c.num.data(), c.num.size());
    case ResultKind::Numbers2: return makeRows(env, c.num.data(), c.steps, 2, false);
    case ResultKind::Numbers3: return makeRows(env, c.num.data(), c.steps, 3, false);
    case ResultKind::OptInt: return withIntegers(1);
    case ResultKind::NumberOptInt: return withIntegers(2);
    case ResultKind::OptFlag: return makeFlags(env, c.flags.data(), c.flags.size());
  }
  return undefinedValue(env);
}

// ---------------------------------------------------------------------------------------------
// Members.

Result<rt::Instance*> receiver(const Call& call, const Bound& b) {
  Box* box = findBox(call.env, call.self, b.classId);
  if (!box) return unwrapError(b.decl->className.c_str());
  return static_cast<IndicatorBox*>(box)->inst.get();
}

napi_value makeMember(napi_env env, napi_callback_info info) {
  Call call;
  if (auto r = readCall(env, info, call, 1); !r.ok()) return fail(env, r.error());
  const auto& b = *static_cast<const Bound*>(call.data);
  SharedCtx* ctx = unwrapAs<SharedCtx>(env, call.argv[0]);
  if (!ctx) return fail(env, recoverError(ClassOf<SharedCtx>::name));
  auto obj = newObject(env, b.classId);
  if (!obj.ok()) return fail(env, obj.error());
  auto attached = attach(env, *obj, new IndicatorBox(b.classId, b.decl->make(*ctx)));
  if (!attached.ok()) return fail(env, attached.error());
  return *attached;
}

napi_value nextMember(napi_env env, napi_callback_info info) {
  Call call;
  if (auto r = readCall(env, info, call); !r.ok()) return fail(env, r.error());
  const auto& b = *static_cast<const Bound*>(call.data);
  const auto& argDecls = b.decl->args;
  auto inst = receiver(call, b);
  if (!inst.ok()) return fail(env, inst.error());
  // Room for the usual few arguments, so a call does not initialise all sixteen slots.
  std::array<ArgValue, 4> few;
  std::vector<ArgValue> many;
  ArgValue* args = few.data();
  if (argDecls.size() > few.size()) {
    many.resize(argDecls.size());
    args = many.data();
  }
  for (size_t i = 0; i < argDecls.size(); ++i) {
    auto a = readParam(env, call.argv[i], argDecls[i]);
    if (!a.ok()) return fail(env, a.error());
    args[i] = *a;
  }
  auto r = (*inst)->next(args);
  if (!r.ok()) return fail(env, r.error());
  auto out = stepValue(env, b.decl->result, *r);
  if (!out.ok()) return fail(env, out.error());
  return *out;
}

napi_value collectMember(napi_env env, napi_callback_info info) {
  Call call;
  if (auto r = readCall(env, info, call); !r.ok()) return fail(env, r.error());
  const auto& b = *static_cast<const Bound*>(call.data);
  const auto& argDecls = b.decl->args;
  auto inst = receiver(call, b);
  if (!inst.ok()) return fail(env, inst.error());

  // Every argument is converted before the first step; arrays once, Float64Arrays read in place.
  std::vector<double> numbers[kMaxArgs];
  std::vector<int8_t> flags[kMaxArgs];
  rt::CollectArg args[kMaxArgs];
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
      auto xs = readNumbers(env, v);
      if (!xs.ok()) return fail(env, xs.error());
      numbers[i] = std::move(xs).value();
      args[i] = rt::CollectArg::ofNumbers(numbers[i]);
    } else if (argDecls[i].kind == ArgKind::Flags) {
      auto fs = readFlags(env, v);
      if (!fs.ok()) return fail(env, fs.error());
      flags[i] = std::move(fs).value();
      args[i] = rt::CollectArg::ofFlags(flags[i]);
    } else {
      auto a = readParam(env, v, argDecls[i]);
      if (!a.ok()) return fail(env, a.error());
      args[i] = rt::CollectArg::ofValue(*a);
    }
  }
  for (size_t i = 0; i < argDecls.size(); ++i) {
    if (!inPlace[i]) continue;
    auto span = readF64Span(env, call.argv[i]);  // runs no JavaScript
    if (!span.ok()) return fail(env, span.error());
    args[i] = rt::CollectArg::ofNumbers({span->data, span->size});
  }
  auto r = (*inst)->collect(args);
  if (!r.ok()) return fail(env, r.error());
  auto out = collectedValue(env, *r);
  if (!out.ok()) return fail(env, out.error());
  return *out;
}

void registerIndicators() {
  for (const rt::Declaration* d : rt::declarations()) {
    if (d->args.size() > kMaxArgs) continue;  // not bindable; no declaration comes near this
    auto* b = new Bound{d, classId(d->className)};  // lives for the whole process
    ClassEntry& e = classEntry(b->classId);
    e.props.push_back({"make", PropKind::StaticMethod, &guarded<&makeMember>, nullptr, nullptr, b});
    e.props.push_back({"next", PropKind::Method, &guarded<&nextMember>, nullptr, nullptr, b});
    e.props.push_back({"collect", PropKind::Method, &guarded<&collectMember>, nullptr, nullptr, b});
  }
}

}  // namespace

BW_REGISTER(indicators) { addDeferred(&registerIndicators); }
