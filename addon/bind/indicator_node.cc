// The one binding of every declared indicator class: static `make(ctx)`, `next(...)` and
// `collect(...)`, driven by the declaration's argument and result kinds. No indicator has
// binding code of its own. The members enter like every other member of the add-on (the same
// call reading, native-exception guard and result conversion, detail::invoke) and convert each
// argument with the same Arg templates; only the argument list itself is read from the
// declaration at run time instead of from a lambda's signature.
#include <array>
#include <memory>
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
// Arguments.

Result<ArgValue> readParam(napi_env env, napi_value v, const ArgDecl& argDecl) {
  switch (argDecl.kind) {
    case ArgKind::Series:
    case ArgKind::Number: {
      BW_ASSIGN(x, Arg<double>::read(env, v));
      return ArgValue::num(x);
    }
    case ArgKind::Flags:
    case ArgKind::Flag: {
      BW_ASSIGN(b, Arg<std::optional<bool>>::read(env, v));
      return ArgValue::optBool(b);
    }
    case ArgKind::Real: {
      BW_ASSIGN(x, Arg<std::optional<double>>::read(env, v));
      return x ? ArgValue::num(*x) : ArgValue::absent();
    }
    case ArgKind::Period: {
      BW_ASSIGN(t, Arg<std::optional<Timeframe>>::read(env, v));
      return t ? ArgValue::ofPeriod(*t) : ArgValue::absent();
    }
    case ArgKind::Length:
    case ArgKind::OptLength:
    case ArgKind::Integer: break;
  }
  BW_ASSIGN(i, Arg<std::optional<int64_t>>::read(env, v));
  return i ? ArgValue::integ(*i) : ArgValue::absent();
}

// Flags of a collect: booleans, null or undefined (absent), as codes 0, 1 and 2.
Result<std::vector<int8_t>> readFlags(napi_env env, napi_value v) {
  BW_ASSIGN(list, Arg<std::vector<std::optional<bool>>>::read(env, v));
  std::vector<int8_t> out;
  out.reserve(list.size());
  for (const auto& f : list) out.push_back(f ? static_cast<int8_t>(*f) : int8_t{2});
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
  BW_ASSIGN(arr, makeArray(env, n + (tail ? 1 : 0)));
  for (size_t k = 0; k < n; ++k) {
    BW_ASSIGN(x, makeF64(env, xs[k]));
    BW_TRY(setElement(env, arr, static_cast<uint32_t>(k), x));
  }
  if (tail) {
    BW_ASSIGN(x, optInt(env, *tail));
    BW_TRY(setElement(env, arr, static_cast<uint32_t>(n), x));
  }
  return arr;
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
    case ResultKind::Numbers5: return makeRows(env, c.num.data(), c.steps, 5, false);
    case ResultKind::OptInt: return withIntegers(1);
    case ResultKind::NumberOptInt: return withIntegers(2);
    case ResultKind::OptFlag: return makeFlags(env, c.flags.data(), c.flags.size());
  }
  return undefinedValue(env);
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
  const auto& argDecls = bound(call).decl->args;
  BW_ASSIGN(inst, receiver(call));

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
      BW_ASSIGN(xs, Arg<std::vector<double>>::read(env, v));
      numbers[i] = std::move(xs);
      args[i] = rt::CollectArg::ofNumbers(numbers[i]);
    } else if (argDecls[i].kind == ArgKind::Flags) {
      BW_ASSIGN(fs, readFlags(env, v));
      flags[i] = std::move(fs);
      args[i] = rt::CollectArg::ofFlags(flags[i]);
    } else {
      BW_ASSIGN(a, readParam(env, v, argDecls[i]));
      args[i] = rt::CollectArg::ofValue(a);
    }
  }
  for (size_t i = 0; i < argDecls.size(); ++i) {
    if (!inPlace[i]) continue;
    BW_ASSIGN(span, Arg<F64Span>::read(env, call.argv[i]));  // runs no JavaScript
    args[i] = rt::CollectArg::ofNumbers({span.data, span.size});
  }
  BW_ASSIGN(r, inst->collect(args));
  return collectedValue(env, r);
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
  }
}

}  // namespace

BW_REGISTER(indicators) { addDeferred(&registerIndicators); }
