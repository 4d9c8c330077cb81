// NodeBacktest.fromSignals: a whole backtest in one call, for the many runs of a parameter sweep.
// Every input is read, checked and copied before the first bar runs, so that bad input throws
// with the context untouched and no JavaScript runs while the loop does. The backtest itself is
// made by the NodeBacktest constructor, with the options other than the three lists, so that
// fromSignals takes exactly the options (costs included) that the constructor takes, read and
// refused by the same reader.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "addon/bind.h"
#include "addon/classes.h"
#include "addon/record.h"
#include "core/backtest.h"
#include "core/signal_run.h"

using namespace bw;
using namespace bw::js;

namespace {

constexpr const char* kWho = "fromSignals: ";
constexpr const char* kPlanKeys[] = {"entries", "exits", "size"};

Error bad(const std::string& what) { return invalidArg(kWho + what); }

Result<napi_valuetype> typeOf(napi_env env, napi_value v) {
  napi_valuetype t;
  napi_status st = napi_typeof(env, v, &t);
  if (st != napi_ok) return hostError(env, st, "Failed to read value type");
  return t;
}

Result<bool> isArray(napi_env env, napi_value v) {
  bool yes = false;
  napi_status st = napi_is_array(env, v, &yes);
  if (st != napi_ok) return hostError(env, st, "Failed to check given napi value is array");
  return yes;
}

// The element type of a typed array, or nothing for any other value.
Result<std::optional<napi_typedarray_type>> typedArrayType(napi_env env, napi_value v) {
  bool typed = false;
  napi_status st = napi_is_typedarray(env, v, &typed);
  if (st != napi_ok) return hostError(env, st, "Failed to check given napi value is a typed array");
  if (!typed) return std::optional<napi_typedarray_type>{};
  napi_typedarray_type type;
  size_t n = 0;
  st = napi_get_typedarray_info(env, v, &type, &n, nullptr, nullptr, nullptr);
  if (st != napi_ok) return hostError(env, st, "Failed to read the typed array");
  return std::optional<napi_typedarray_type>{type};
}

// Truthiness of every element of a plain array, as `if (flags[i])` reads it, written into a byte
// array by one small function made once per environment: one call instead of one host read per
// element.
constexpr const char* kTruthSource =
    "(function (a, out, n) { for (var i = 0; i < n; i++) out[i] = a[i] ? 1 : 0; })";
const char kTruthKey = 0;

// Per-bar flags: bytes, non-zero where the bar's flag is set. Byte arrays are read in place,
// others converted. Getters of the options may still run JavaScript after the flags are read (and
// detach or shrink a buffer), so the place of a byte array is taken again by `settle` once
// nothing but native code runs until the call returns.
struct Flags {
  std::vector<uint8_t> owned;
  napi_value source = nullptr;  // the byte array read in place
  std::span<const uint8_t> external;

  std::span<const uint8_t> bytes() const { return source ? external : std::span<const uint8_t>(owned); }
  Result<Unit> settle(napi_env env) {
    if (!source) return Unit{};
    size_t n = 0;
    void* data = nullptr;
    napi_status st = napi_get_typedarray_info(env, source, nullptr, &n, &data, nullptr, nullptr);
    if (st != napi_ok) return hostError(env, st, "Failed to read the typed array");
    external = std::span<const uint8_t>(static_cast<const uint8_t*>(data), data ? n : 0);
    return Unit{};
  }
};

// Per-bar flags, set where `if (flags[j])` would be true: a Uint8Array, Int8Array or
// Float64Array (non-zero and not NaN: the 1/0/NaN of collectTyped), or a plain array (truthy, so
// the true/false/null results of crossover and crossunder read as they do in a loop).
Result<Flags> readFlags(napi_env env, napi_value v, const char* name) {
  BW_ASSIGN(typed, typedArrayType(env, v));
  if (typed && (*typed == napi_uint8_array || *typed == napi_uint8_clamped_array || *typed == napi_int8_array ||
                *typed == napi_float64_array)) {
    size_t n = 0;
    void* data = nullptr;
    napi_status st = napi_get_typedarray_info(env, v, nullptr, &n, &data, nullptr, nullptr);
    if (st != napi_ok) return hostError(env, st, "Failed to read the typed array");
    if (!data) n = 0;
    Flags out;
    if (*typed == napi_float64_array) {
      out.owned.resize(n);
      const auto* p = static_cast<const double*>(data);
      for (size_t i = 0; i < n; ++i) out.owned[i] = p[i] != 0 && !std::isnan(p[i]);
    } else {
      out.source = v;
      out.external = std::span<const uint8_t>(static_cast<const uint8_t*>(data), n);
    }
    return out;
  }
  BW_ASSIGN(array, isArray(env, v));
  if (typed || !array)
    return bad(std::string(name) + " must be a Uint8Array, an Int8Array, a Float64Array or an array of booleans, got " +
               (typed ? "another typed array" : std::string(typeName(env, v))));
  BW_ASSIGN(n, arrayLength(env, v));
  Flags out;
  out.owned.resize(n);
  if (n == 0) return out;
  BW_ASSIGN(fn, keptScript(env, &kTruthKey, kTruthSource));
  void* raw = nullptr;
  napi_value buffer, bytes, count, global, ignored;
  napi_status st = napi_create_arraybuffer(env, n, &raw, &buffer);
  if (st == napi_ok) st = napi_create_typedarray(env, napi_uint8_array, n, buffer, 0, &bytes);
  if (st == napi_ok) st = napi_create_uint32(env, n, &count);
  if (st == napi_ok) st = napi_get_global(env, &global);
  if (st != napi_ok) return hostError(env, st, "Failed to create array");
  napi_value args[3] = {v, bytes, count};
  st = napi_call_function(env, global, fn, 3, args, &ignored);
  if (st != napi_ok) return hostError(env, st, "Failed to read " + std::string(name));
  std::memcpy(out.owned.data(), raw, n);
  return out;
}

Result<std::optional<napi_value>> option(napi_env env, napi_value obj, const char* key) {
  BW_ASSIGN(v, record::field(env, obj, key));
  return record::present(env, v, record::Null::Absent);
}

Result<napi_value> required(napi_env env, napi_value obj, const char* key) {
  BW_ASSIGN(v, option(env, obj, key));
  if (!v) return bad(std::string("options.") + key + " is required");
  return *v;
}

// The options object without the three lists: what the constructor reads. Absent (undefined)
// when nothing else is given, so that the constructor applies its defaults.
Result<napi_value> backtestOptions(napi_env env, napi_value obj) {
  napi_value keys, out;
  napi_status st = napi_get_all_property_names(env, obj, napi_key_own_only,
                                               static_cast<napi_key_filter>(napi_key_enumerable | napi_key_skip_symbols),
                                               napi_key_numbers_to_strings, &keys);
  if (st != napi_ok) return hostError(env, st, "Failed to read the keys of the object");
  BW_ASSIGN(n, arrayLength(env, keys));
  BW_ASSIGN(copy, makeObject(env));
  out = copy;
  bool any = false;
  for (uint32_t i = 0; i < n; ++i) {
    BW_ASSIGN(key, element(env, keys, i));
    BW_ASSIGN(name, readText(env, key));
    bool plan = false;
    for (const char* k : kPlanKeys) plan = plan || name == k;
    if (plan) continue;
    napi_value value;
    st = napi_get_property(env, obj, key, &value);
    if (st == napi_ok) st = napi_set_property(env, out, key, value);
    if (st != napi_ok) return hostError(env, st, "Failed to get property with field `" + name + "`");
    any = true;
  }
  return any ? out : undefinedValue(env);
}

// A new NodeBacktest, made by its own constructor.
Result<napi_value> constructBacktest(napi_env env, napi_value ctx, napi_value capital, napi_value options) {
  EnvData* d = envData(env);
  const auto id = static_cast<size_t>(ClassOf<SharedBacktest>::id());
  napi_value ctor;
  if (!d || id >= d->ctors.size() || !d->ctors[id] || napi_get_reference_value(env, d->ctors[id], &ctor) != napi_ok ||
      !ctor)
    return Error(Status::GenericFailure, "Failed to initialize class `NodeBacktest`");
  napi_value args[3] = {ctx, capital, options};
  napi_value made;
  napi_status st = napi_new_instance(env, ctor, 3, args, &made);
  if (st != napi_ok) return hostError(env, st, "Failed to create NodeBacktest");
  return made;
}

// Bars the context has still to run: all of them on a fresh context, else those after the
// current one.
Result<uint64_t> remainingBars(const SharedCtx& ctx) {
  return ctx.read([](const Ctx& c) -> uint64_t {
    const uint64_t n = c.ohlcv.length();
    if (!c.initialized) return n;
    return c.barIndex + 1 < n ? n - c.barIndex - 1 : 0;
  });
}

Result<Unit> checkLength(const char* name, size_t got, uint64_t want) {
  if (got == want) return Unit{};
  return bad(std::string(name) + " has " + std::to_string(got) + " elements, but the context has " +
             std::to_string(want) + " bars to run: one element per remaining bar");
}

Result<napi_value> fromSignals(Call& call) {
  const napi_env env = call.env;
  SharedCtx* ctx = unwrapAs<SharedCtx>(env, call.argv[0]);
  if (!ctx) return recoverError(ClassOf<SharedCtx>::name);
  const napi_value obj = call.argv[2];
  BW_ASSIGN(objType, typeOf(env, obj));
  BW_ASSIGN(objIsArray, isArray(env, obj));
  if (objType != napi_object || objIsArray)
    return bad("the third argument must be an options object { entries, exits, size }, got " +
               std::string(typeName(env, obj)));

  BW_ASSIGN(entriesValue, required(env, obj, "entries"));
  BW_ASSIGN(exitsValue, required(env, obj, "exits"));
  BW_ASSIGN(sizeValue, required(env, obj, "size"));
  BW_ASSIGN(entries, readFlags(env, entriesValue, "entries"));
  BW_ASSIGN(exits, readFlags(env, exitsValue, "exits"));

  // A signal enters with that signal on every entry bar; a list gives Size(size[j]) on bar j. The
  // plan's entry stays Hold for a list, which only an empty run (no bar to enter on) could reach.
  SignalPlan plan;
  std::vector<double> sizes;
  BW_ASSIGN(sizeSignal, unpackRecord(env, sizeValue, ClassOf<Signal>::id()));
  if (sizeSignal) {
    BW_ASSIGN(entry, Codec<Signal>::read(RecordIn(env, Refusal{ClassOf<Signal>::name, false})));
    plan.entry = std::move(entry);
  } else {
    BW_ASSIGN(sizeArray, isArray(env, sizeValue));
    BW_ASSIGN(typed, typedArrayType(env, sizeValue));
    if (!sizeArray && !(typed && *typed == napi_float64_array))
      return bad("size must be a NodeSignal or an array of per-bar sizes, got " +
                 std::string(typed ? "another typed array" : typeName(env, sizeValue)));
    BW_ASSIGN(numbers, readNumbers(env, sizeValue));
    sizes = std::move(numbers);
  }

  BW_ASSIGN(remaining, remainingBars(*ctx));
  BW_TRY(checkLength("entries", entries.bytes().size(), remaining));
  BW_TRY(checkLength("exits", exits.bytes().size(), remaining));
  if (!sizeSignal) BW_TRY(checkLength("size", sizes.size(), remaining));

  BW_ASSIGN(options, backtestOptions(env, obj));
  BW_ASSIGN(made, constructBacktest(env, call.argv[0], call.argv[1], options));
  SharedBacktest* bt = unwrapAs<SharedBacktest>(env, made);
  if (!bt) return recoverError(ClassOf<SharedBacktest>::name);
  // From here on no JavaScript runs until the call returns.
  BW_TRY(entries.settle(env));
  BW_TRY(exits.settle(env));
  BW_TRY(checkLength("entries", entries.bytes().size(), remaining));
  BW_TRY(checkLength("exits", exits.bytes().size(), remaining));
  plan.entries = entries.bytes();
  plan.exits = exits.bytes();
  plan.sizes = sizes;
  BW_TRY(bt->write([&plan](Backtest& t) { return runSignals(t, plan); }));
  return made;
}

}  // namespace

// A second table for NodeBacktest: the registry adds these members to the class of that name.
BW_REGISTER(sweep) {
  Class<SharedBacktest> c;
  c.staticMethod("fromSignals", [](Call& call) { return fromSignals(call); });
}
