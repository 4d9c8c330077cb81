// The binding layer: one place for argument conversion, result conversion, receivers, instance
// creation and error throwing. A class binding is a table of members over core functions:
//
//   BW_REGISTER(timeframe) {
//     Class<Timeframe> c;
//     c.staticMethod("Days", [](int32_t n) { return Timeframe::of(TimeUnit::Days, n); });
//     c.getter("unknown", [](const Timeframe& t) { return t.isUnknown(); });
//     c.method("eq", [](const Timeframe& a, const Timeframe& b) { return a == b; });
//   }
//
// Members are captureless lambdas. Their parameter types are the argument kinds, their return
// type the result kind:
//   int32_t, int64_t, double, bool, std::string, DateTime, F64Span, JsObject, std::optional<K>,
//   std::vector<K>, any type bound to a class with BW_JS_CLASS or BW_JS_VALUE (passed as
//   `const T&`/`T&`; a value class's `T&` receiver is written back to its object).
//   A `Call&` parameter receives the raw call (env, receiver, arguments) and takes no argument.
// Results: void, the scalars above, uint64_t (BigInt), DateTime (Date), std::optional<K> (null),
//   std::vector<K> and std::pair/std::tuple (arrays), bound class types (new instances),
//   napi_value (as is) and Result<K> (thrown on error).
// Value classes (BW_JS_VALUE, addon/value.h) also declare `record(numbers, texts)` and members
// computed in JavaScript from the record: `field(name, jsx::...)`, `numberField`, `jsMethod`.
#pragma once

#include <node_api.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <tuple>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "addon/registry.h"
#include "addon/value.h"
#include "core/datetime.h"
#include "core/error.h"

namespace bw::js {

// ---------------------------------------------------------------------------------------------
// Per-environment state (instance data): class constructors and the internal-construction flag.

struct Box;

struct EnvData {
  std::vector<napi_ref> ctors;  // by class id
  int internalConstruct = 0;    // > 0 while the add-on itself runs a class constructor
  napi_threadsafe_function customGc = nullptr;
  // Every native box alive in this environment: a wrapped pointer is ours only if it is here.
  std::unordered_set<const struct Box*> live;
  // The few boxes found most recently, all of them in `live`: a loop that calls the same objects
  // bar after bar finds them here without a lookup in the (large) live set.
  std::array<const struct Box*, 8> recent{};
  unsigned recentNext = 0;
  bool released = false;  // the environment is gone; the last box finalizer frees this
  napi_ref numbersIn = nullptr;  // bulk reader of number arrays (see readNumbers)
  napi_ref rowsOut = nullptr;    // bulk writer of number, row and flag arrays (see makeRows)
  napi_ref datesOut = nullptr;   // bulk writer of date lists (see makeDates)
  napi_ref listSmall = nullptr;  // list makers (see ListBuilder)
  napi_ref listLarge = nullptr;
  std::vector<napi_ref> cloneGuards;  // by class id: the symbol boxed objects hold (see attach)
  napi_ref scratch = nullptr;    // the Float64Array those helpers fill and read
  bool scratchBusy = false;      // a conversion is using it (re-entered through a getter)
  // Functions that add-on pieces make once per environment, by a key of their own (the
  // iteration protocol keeps one installer per iterable class here).
  std::unordered_map<const void*, napi_ref> kept;
  // The value-object kernel (addon/kernel.h): its functions and the two record channels.
  napi_ref unpack = nullptr;
  napi_ref make = nullptr;
  napi_ref unpackMany = nullptr;
  napi_ref makeMany = nullptr;
  napi_ref stepped = nullptr;  // tells the kernel which object a prefetching walker just stepped
  napi_ref recordTexts = nullptr;
  napi_ref recordChannel = nullptr;  // the Float64Array behind recordNumbers
  double* recordNumbers = nullptr;
  // Handles of the live boxes, by number (0 is none): what a receiver carries on the JavaScript
  // side instead of a pointer, so the native half finds its box without asking the host.
  std::vector<Box*> handles{nullptr};
  std::vector<uint32_t> freeHandles;
  napi_ref stamp = nullptr;    // puts a handle on a new object (see attach)
  napi_ref stampOf = nullptr;  // reads it back, 0 for any other value
};

EnvData* envData(napi_env env);
// Drops the references the binding layer keeps in the environment's data.
void releaseLayerRefs(napi_env env, EnvData* d);

// ---------------------------------------------------------------------------------------------
// Errors.

// Throws the error value into JavaScript by the rules of the add-on: a pending exception always
// wins. Returns nullptr so callbacks can `return fail(env, e);`.
napi_value fail(napi_env env, const Error& e);

// An error value for a failed host call: a pending exception becomes PendingException.
Error hostError(napi_env env, napi_status st, std::string reason);

std::string_view typeName(napi_env env, napi_value v);

// ---------------------------------------------------------------------------------------------
// Native instances.

struct Box {
  int classId;
  uint32_t handle = 0;  // its number in EnvData::handles
  virtual ~Box() = default;
};

template <class T>
struct TypedBox final : Box {
  T value;
  template <class... A>
  explicit TypedBox(int id, A&&... a) : value(std::forward<A>(a)...) {
    classId = id;
  }
};

// Attaches a box to a fresh object and installs the class's per-instance properties.
Result<napi_value> attach(napi_env env, napi_value obj, Box* box);

// A new object of the class from its stored constructor, without running constructor logic.
Result<napi_value> newObject(napi_env env, int classId);

// The box wrapped by `v` when it belongs to class `id`, else null.
Box* findBox(napi_env env, napi_value v, int id);

// The box whose handle a member's JavaScript half left in the channel, taking it out; null when
// there is none. Only natives that their own JavaScript half calls (and that alone) read it: the
// half writes it right before the call, with nothing in between that could run a script.
Box* takeHandle(EnvData* d);

// Binds a native type to its JavaScript class name. A class made with BW_JS_CLASS wraps a native
// box (shared, heavy objects); one made with BW_JS_VALUE is a value class whose objects hold a
// record (addon/value.h) described by Codec<Type>.
template <class T>
struct ClassOf;

template <class T, class = void>
struct IsBound : std::false_type {};
template <class T>
struct IsBound<T, std::void_t<decltype(ClassOf<T>::name)>> : std::true_type {};

template <class T, class = void>
struct IsValue : std::false_type {};
template <class T>
struct IsValue<T, std::enable_if_t<IsBound<T>::value>> : std::bool_constant<ClassOf<T>::value> {};

#define BW_JS_CLASS_OF(Type, Name, Value)                         \
  template <>                                                     \
  struct bw::js::ClassOf<Type> {                                  \
    static constexpr const char* name = Name;                     \
    static constexpr bool value = Value;                          \
    static int id() {                                             \
      static const int i = ::bw::js::classId(Name);               \
      return i;                                                   \
    }                                                             \
  }

#define BW_JS_CLASS(Type, Name) BW_JS_CLASS_OF(Type, Name, false)

#define BW_JS_VALUE(Type, Name)                                   \
  BW_JS_CLASS_OF(Type, Name, true);                               \
  template <>                                                     \
  struct bw::js::Codec<Type> {                                    \
    static void write(const Type& v, ::bw::js::RecordOut& out);   \
    static ::bw::Result<Type> read(const ::bw::js::RecordIn& in); \
  }

template <class T>
Result<napi_value> newInstance(napi_env env, T value) {
  static_assert(!IsValue<T>::value, "value objects are made from records");
  BW_ASSIGN(obj, newObject(env, ClassOf<T>::id()));
  auto* box = new TypedBox<T>(ClassOf<T>::id(), std::move(value));
  return attach(env, obj, box);
}

Error unwrapError(const char* className);   // receiver
Error recoverError(const char* className);  // argument

// The tag of native callbacks whose JavaScript half copies the records of their value parameters
// into the channels before the call (addon/kernel.cc).
void* preparedTag();

// A value read from a region of the channels that a JavaScript half filled.
template <class T>
Result<T> readRegion(napi_env env, size_t region, bool receiver) {
  const Refusal refusal{ClassOf<T>::name, receiver};
  RecordIn in(env, refusal, region);
  if (!in.present()) return refusal.error();
  return Codec<T>::read(in);
}

// A value object's value, read from its record; refused when `v` is not an object of the class.
template <class T>
Result<T> readValue(napi_env env, napi_value v, bool receiver) {
  const Refusal refusal{ClassOf<T>::name, receiver};
  BW_ASSIGN(found, unpackRecord(env, v, ClassOf<T>::id()));
  if (!found) return refusal.error();
  return Codec<T>::read(RecordIn(env, refusal));
}

// Leaves the value's record in the channels.
template <class T>
Result<Unit> writeValue(napi_env env, const T& v) {
  RecordOut out(env);
  Codec<T>::write(v, out);
  return out.done();
}

// Leaves the value's record in the prefetch region (a walker's step; see prefetchedGetter).
template <class T>
void prefetch(napi_env env, const T& v) {
  RecordOut out(env, kPrefetchRegion);
  Codec<T>::write(v, out);
}

template <class T>
Result<napi_value> makeValue(napi_env env, const T& v) {
  BW_TRY(writeValue(env, v));
  return makeRecord(env, ClassOf<T>::id());
}

template <class T>
T* unwrapAs(napi_env env, napi_value v) {
  static_assert(!IsValue<T>::value, "value objects hold records, not boxes");
  Box* b = findBox(env, v, ClassOf<T>::id());
  return b ? &static_cast<TypedBox<T>*>(b)->value : nullptr;
}

// ---------------------------------------------------------------------------------------------
// Call information.

constexpr size_t kMaxArgs = 16;

// Past the record channel's own slots: numbers a member's JavaScript half hands its native half
// instead of host values, and the numbers the native half answers with, read back by the half
// (see PropRecord::half). The first slot says the arguments are there (nonzero) and is cleared by
// the native half; a half whose call takes the usual way clears it first.
inline constexpr size_t kPassSlot = kChannelNumbers;
inline constexpr size_t kPassArgs = kPassSlot + 1;
inline constexpr size_t kPassArgCount = 8;
inline constexpr size_t kPassResults = kPassArgs + kPassArgCount;
inline constexpr size_t kPassResultCount = 8;
inline constexpr size_t kChannelSlots = kPassResults + kPassResultCount;

struct Call {
  napi_env env;
  napi_value self;
  size_t argc;
  napi_value argv[kMaxArgs + 1];
  void* data;
  Box* box = nullptr;  // the receiver's box, when its JavaScript half found its handle

  napi_value undefined() const;
};

// The receiver's box when it belongs to class `id`, else null: from the handle when there is one,
// else looked up as findBox does (a foreign or unknown receiver gets the same answer either way).
Box* findSelf(const Call& call, int id);

// Reads the receiver and the first `want` arguments (missing ones read as undefined).
Result<Unit> readCall(napi_env env, napi_callback_info info, Call& call, size_t want = kMaxArgs);

// ---------------------------------------------------------------------------------------------
// Argument kinds.

// A Float64Array's elements, read in place for the duration of the call. It passes as the
// number span that core functions take.
struct F64Span {
  const double* data = nullptr;
  size_t size = 0;
  double operator[](size_t i) const { return data[i]; }
  operator std::span<const double>() const { return {data, size}; }
};

class JsObject;

template <class T, class = void>
struct Arg;

Result<double> readF64(napi_env env, napi_value v);
Result<int32_t> readI32(napi_env env, napi_value v);
Result<int64_t> readI64(napi_env env, napi_value v);
Result<bool> readBool(napi_env env, napi_value v);
Result<std::string> readText(napi_env env, napi_value v);
Result<DateTime> readDate(napi_env env, napi_value v);
Result<F64Span> readF64Span(napi_env env, napi_value v);
Result<bool> isNullish(napi_env env, napi_value v);
// The most elements a list argument or a list result may have: holding more could exhaust the
// process's memory, which would end it. A result is refused before anything is made for it; a
// list argument when its conversion reaches the limit (an array may claim a length it does not
// hold, and then fails at its first hole as before).
inline constexpr size_t kMaxListLength = size_t{1} << 24;
// "A list of N elements exceeds the limit of ..." when a list of n elements, `converted` of them
// done, has reached the limit.
Result<Unit> checkListLength(size_t n, size_t converted = kMaxListLength);
Result<uint32_t> arrayLength(napi_env env, napi_value v);  // "Given napi value is not an array"
Result<napi_value> element(napi_env env, napi_value arr, uint32_t i);
// A list of numbers: a JavaScript array (converted in bulk, with the same errors per element as
// one-by-one conversion) or a Float64Array (read in place).
Result<std::vector<double>> readNumbers(napi_env env, napi_value v);

// Lists of value objects whose records are numbers only, long enough to be worth it, cross in
// bulk: a chunk of records at a time through a scratch Float64Array.
bool bulkRecords(int classId, size_t n);
// each(record) for every element in order; one(i) for an element the bulk reader did not take.
Result<Unit> readRecords(napi_env env, napi_value arr, uint32_t n, int classId,
                         const std::function<Result<Unit>(const double*)>& each,
                         const std::function<Result<Unit>(uint32_t)>& one);
// A new dense Array of n objects of the class, fill(i, record) writing the record of each.
Result<napi_value> makeRecords(napi_env env, int classId, size_t n,
                               const std::function<Result<Unit>(size_t, double*)>& fill);

template <>
struct Arg<double> {
  using Stored = double;
  static Result<double> read(napi_env e, napi_value v) { return readF64(e, v); }
};
template <>
struct Arg<int32_t> {
  using Stored = int32_t;
  static Result<int32_t> read(napi_env e, napi_value v) { return readI32(e, v); }
};
template <>
struct Arg<int64_t> {
  using Stored = int64_t;
  static Result<int64_t> read(napi_env e, napi_value v) { return readI64(e, v); }
};
template <>
struct Arg<bool> {
  using Stored = bool;
  static Result<bool> read(napi_env e, napi_value v) { return readBool(e, v); }
};
template <>
struct Arg<std::string> {
  using Stored = std::string;
  static Result<std::string> read(napi_env e, napi_value v) { return readText(e, v); }
};
template <>
struct Arg<DateTime> {
  using Stored = DateTime;
  static Result<DateTime> read(napi_env e, napi_value v) { return readDate(e, v); }
};
template <>
struct Arg<F64Span> {
  using Stored = F64Span;
  static Result<F64Span> read(napi_env e, napi_value v) { return readF64Span(e, v); }
};
template <>
struct Arg<napi_value> {
  using Stored = napi_value;
  static Result<napi_value> read(napi_env, napi_value v) { return v; }
};

// Instances of bound classes: boxes are borrowed for the call, values are read from their record.
template <class T>
struct Arg<T, std::enable_if_t<IsBound<T>::value && !IsValue<T>::value>> {
  using Stored = T*;
  static Result<T*> read(napi_env e, napi_value v) {
    if (T* p = unwrapAs<T>(e, v)) return p;
    return recoverError(ClassOf<T>::name);
  }
};
template <class T>
struct Arg<T, std::enable_if_t<IsValue<T>::value>> {
  using Stored = T;
  static Result<T> read(napi_env e, napi_value v) { return readValue<T>(e, v, false); }
};

template <class T>
struct Arg<std::optional<T>> {
  using Stored = std::optional<T>;
  static Result<Stored> read(napi_env e, napi_value v) {
    BW_ASSIGN(absent, isNullish(e, v));
    if (absent) return Stored{};
    BW_ASSIGN(inner, Arg<T>::read(e, v));
    if constexpr (std::is_pointer_v<typename Arg<T>::Stored>)
      return Stored{*inner};
    else
      return Stored{std::move(inner)};
  }
};

template <>
struct Arg<std::vector<double>> {
  using Stored = std::vector<double>;
  static Result<Stored> read(napi_env e, napi_value v) { return readNumbers(e, v); }
};

template <class T>
struct Arg<std::vector<T>> {
  using Stored = std::vector<T>;
  static Result<Stored> read(napi_env e, napi_value v) {
    BW_ASSIGN(n, arrayLength(e, v));
    Stored out;
    // A sparse array may claim a huge length; grow as elements actually convert.
    out.reserve(std::min<uint32_t>(n, 1u << 16));
    if constexpr (IsValue<T>::value) {
      if (bulkRecords(ClassOf<T>::id(), n)) {
        const Refusal refusal{ClassOf<T>::name, false};
        BW_TRY(readRecords(
            e, v, n, ClassOf<T>::id(),
            [&](const double* record) -> Result<Unit> {
              BW_ASSIGN(x, Codec<T>::read(RecordIn(record, refusal)));
              out.push_back(std::move(x));
              return Unit{};
            },
            [&](uint32_t i) -> Result<Unit> {
              BW_ASSIGN(item, element(e, v, i));
              BW_ASSIGN(x, Arg<T>::read(e, item));
              out.push_back(std::move(x));
              return Unit{};
            }));
        return out;
      }
    }
    for (uint32_t i = 0; i < n; ++i) {
      BW_TRY(checkListLength(n, i));
      BW_ASSIGN(item, element(e, v, i));
      BW_ASSIGN(x, Arg<T>::read(e, item));
      if constexpr (std::is_pointer_v<typename Arg<T>::Stored>)
        out.push_back(*x);
      else
        out.push_back(std::move(x));
    }
    return out;
  }
};

// A plain object, read property by property when the operation needs each one, through the record
// reader of addon/record.h.
class JsObject {
 public:
  JsObject() = default;
  JsObject(napi_env env, napi_value v) : env_(env), v_(v) {}

  napi_env env() const { return env_; }
  napi_value value() const { return v_; }

 private:
  napi_env env_ = nullptr;
  napi_value v_ = nullptr;
};

template <>
struct Arg<JsObject> {
  using Stored = JsObject;
  static Result<JsObject> read(napi_env e, napi_value v) { return JsObject(e, v); }
};

// ---------------------------------------------------------------------------------------------
// Result kinds.

template <class T, class = void>
struct Ret;

napi_value undefinedValue(napi_env env);
napi_value nullValue(napi_env env);
Result<napi_value> makeF64(napi_env env, double x);
Result<napi_value> makeI32(napi_env env, int32_t x);
Result<napi_value> makeI64(napi_env env, int64_t x);
Result<napi_value> makeU64(napi_env env, uint64_t x);
Result<napi_value> makeBool(napi_env env, bool x);
Result<napi_value> makeText(napi_env env, std::string_view s);
Result<napi_value> makeDate(napi_env env, const DateTime& d);
Result<napi_value> makeArray(napi_env env, size_t n);
Result<Unit> setElement(napi_env env, napi_value arr, uint32_t i, napi_value v);

// A new Array of n values set in any order: made by the engine's own Array and dense, whatever a
// script has put on Array.prototype (an indexed setter there catches nothing).
class ListBuilder {
 public:
  ListBuilder(napi_env env, size_t n);
  Result<Unit> set(size_t i, napi_value v);
  Result<napi_value> done();

 private:
  napi_env env_;
  size_t n_;
  napi_value array_ = nullptr;
  std::vector<napi_value> small_;
  Result<Unit> status_ = Unit{};
};

// Makes the bulk and list helpers while the add-on loads, so they keep the built-ins as they are
// then.
Result<Unit> prepareHelpers(napi_env env);
// A function made once per environment from JavaScript source and kept under `key` (an address
// unique to its user): the small JavaScript halves of the bulk conversions in the member tables.
Result<napi_value> keptScript(napi_env env, const void* key, const char* source);
Result<napi_value> makeObject(napi_env env);
Result<Unit> setProperty(napi_env env, napi_value obj, const char* key, napi_value v);
// A new plain Array of numbers, built in bulk.
Result<napi_value> makeNumbers(napi_env env, const double* data, size_t n);
// A new plain Array of `rows` arrays of `width` numbers (2, 3 or 5) read row by row from `flat`;
// width 1 gives plain numbers. With `nullableLast`, a NaN in the last place of a row becomes
// null: the encoding of an absent optional integer.
Result<napi_value> makeRows(napi_env env, const double* flat, size_t rows, size_t width, bool nullableLast);
// A new plain Array of optional booleans from codes 0 (false), 1 (true) and 2 (null).
Result<napi_value> makeFlags(napi_env env, const int8_t* codes, size_t n);
// A new plain Array of dates (`null` for an absent one), built in bulk.
Result<napi_value> makeDates(napi_env env, const std::vector<std::optional<DateTime>>& v);

template <>
struct Ret<napi_value> {
  static Result<napi_value> make(napi_env, napi_value v) { return v; }
};
template <>
struct Ret<double> {
  static Result<napi_value> make(napi_env e, double x) { return makeF64(e, x); }
};
template <>
struct Ret<int32_t> {
  static Result<napi_value> make(napi_env e, int32_t x) { return makeI32(e, x); }
};
template <>
struct Ret<int64_t> {
  static Result<napi_value> make(napi_env e, int64_t x) { return makeI64(e, x); }
};
template <>
struct Ret<uint64_t> {
  static Result<napi_value> make(napi_env e, uint64_t x) { return makeU64(e, x); }
};
template <>
struct Ret<bool> {
  static Result<napi_value> make(napi_env e, bool x) { return makeBool(e, x); }
};
template <>
struct Ret<std::string> {
  static Result<napi_value> make(napi_env e, const std::string& s) { return makeText(e, s); }
};
template <>
struct Ret<DateTime> {
  static Result<napi_value> make(napi_env e, const DateTime& d) { return makeDate(e, d); }
};
template <class T>
struct Ret<T, std::enable_if_t<IsBound<T>::value && !IsValue<T>::value>> {
  static Result<napi_value> make(napi_env e, T v) { return newInstance<T>(e, std::move(v)); }
};
template <class T>
struct Ret<T, std::enable_if_t<IsValue<T>::value>> {
  static Result<napi_value> make(napi_env e, const T& v) { return makeValue<T>(e, v); }
};
template <class T>
struct Ret<std::optional<T>> {
  static Result<napi_value> make(napi_env e, std::optional<T> v) {
    if (!v) return nullValue(e);
    return Ret<T>::make(e, std::move(*v));
  }
};
template <class T>
struct Ret<Result<T>> {
  static Result<napi_value> make(napi_env e, Result<T> r) {
    if (!r.ok()) return std::move(r).error();
    if constexpr (std::is_same_v<T, Unit>)
      return undefinedValue(e);
    else
      return Ret<T>::make(e, std::move(r).value());
  }
};
template <>
struct Ret<Unit> {
  static Result<napi_value> make(napi_env e, Unit) { return undefinedValue(e); }
};
template <>
struct Ret<std::vector<double>> {
  static Result<napi_value> make(napi_env e, const std::vector<double>& v) {
    return makeNumbers(e, v.data(), v.size());
  }
};
template <>
struct Ret<std::vector<std::optional<DateTime>>> {
  static Result<napi_value> make(napi_env e, const std::vector<std::optional<DateTime>>& v) { return makeDates(e, v); }
};
template <class T>
struct Ret<std::vector<T>> {
  static Result<napi_value> make(napi_env e, std::vector<T> v) {
    BW_TRY(checkListLength(v.size()));
    if constexpr (IsValue<T>::value) {
      if (bulkRecords(ClassOf<T>::id(), v.size())) {
        return makeRecords(e, ClassOf<T>::id(), v.size(), [&](size_t i, double* record) -> Result<Unit> {
          RecordOut out(record);
          Codec<T>::write(v[i], out);
          return out.done();
        });
      }
    }
    ListBuilder list(e, v.size());
    for (size_t i = 0; i < v.size(); ++i) {
      BW_ASSIGN(x, Ret<T>::make(e, std::move(v[i])));
      BW_TRY(list.set(i, x));
    }
    return list.done();
  }
};
template <class... T>
struct Ret<std::tuple<T...>> {
  static Result<napi_value> make(napi_env e, std::tuple<T...> t) {
    ListBuilder list(e, sizeof...(T));
    Result<Unit> st = Unit{};
    size_t i = 0;
    std::apply(
        [&](auto&... x) {
          ((st.ok() ? (void)([&] {
             auto r = Ret<std::decay_t<decltype(x)>>::make(e, std::move(x));
             if (!r.ok()) st = std::move(r).error();
             else st = list.set(i, *r);
             ++i;
           }())
                    : void()),
           ...);
        },
        t);
    if (!st.ok()) return std::move(st).error();
    return list.done();
  }
};
template <class A, class B>
struct Ret<std::pair<A, B>> {
  static Result<napi_value> make(napi_env e, std::pair<A, B> p) {
    return Ret<std::tuple<A, B>>::make(e, std::tuple<A, B>(std::move(p.first), std::move(p.second)));
  }
};

// Builds a plain object with properties in the order they are set.
class ObjectBuilder {
 public:
  explicit ObjectBuilder(napi_env env) : env_(env) {
    auto r = makeObject(env);
    if (r.ok()) obj_ = *r; else st_ = std::move(r).error();
  }
  template <class T>
  ObjectBuilder& set(const char* key, T value) {
    if (!st_.ok()) return *this;
    auto v = Ret<std::decay_t<T>>::make(env_, std::move(value));
    if (!v.ok()) { st_ = std::move(v).error(); return *this; }
    st_ = setProperty(env_, obj_, key, *v);
    return *this;
  }
  Result<napi_value> done() {
    if (!st_.ok()) return st_.error();
    return obj_;
  }

 private:
  napi_env env_;
  napi_value obj_ = nullptr;
  Result<Unit> st_ = Unit{};
};

// ---------------------------------------------------------------------------------------------
// Callback trampolines. A member is a captureless lambda type F; its callback default-constructs
// F, converts the receiver and the arguments in order, calls it and converts the result.

namespace detail {

template <class F>
struct Sig : Sig<decltype(&F::operator())> {};
template <class C, class R, class... A>
struct Sig<R (C::*)(A...) const> {
  using Ret = R;
  using Args = std::tuple<A...>;
  static constexpr size_t N = sizeof...(A);
};
template <class R, class... A>
struct Sig<R (*)(A...)> {
  using Ret = R;
  using Args = std::tuple<A...>;
  static constexpr size_t N = sizeof...(A);
};

template <class P>
constexpr bool isCall = std::is_same_v<std::remove_cvref_t<P>, Call>;

// Role of each lambda parameter: -2 the call, -1 the receiver, k >= 0 the k-th argument.
template <bool HasReceiver, class... P>
constexpr std::array<int, sizeof...(P) + 1> roles() {
  std::array<int, sizeof...(P) + 1> out{};
  constexpr bool calls[] = {isCall<P>..., false};
  bool receiverTaken = !HasReceiver;
  int k = 0;
  for (size_t i = 0; i < sizeof...(P); ++i) {
    if (calls[i])
      out[i] = -2;
    else if (!receiverTaken) {
      out[i] = -1;
      receiverTaken = true;
    } else
      out[i] = k++;
  }
  out[sizeof...(P)] = k;  // number of JavaScript arguments read
  return out;
}

// What a parameter's slot keeps; chosen lazily, since there is no Arg<Call>.
template <class P, bool = isCall<P>>
struct StoredOf {
  using type = typename Arg<std::remove_cvref_t<P>>::Stored;
};
template <class P>
struct StoredOf<P, true> {
  using type = Call*;
};

template <class P>
struct Slot {
  using D = std::remove_cvref_t<P>;
  using Stored = typename StoredOf<P>::type;
  std::optional<Stored> v;
  decltype(auto) pass() {
    if constexpr (isCall<P>)
      return static_cast<Call&>(**v);
    else if constexpr (std::is_pointer_v<Stored> && !std::is_same_v<D, napi_value>)
      return static_cast<D&>(**v);
    else if constexpr (std::is_lvalue_reference_v<P> && !std::is_const_v<std::remove_reference_t<P>>)
      return static_cast<D&>(*v);
    else
      return std::move(*v);
  }
};

template <class T>
auto receiver(Call& c, bool prepared) -> Result<typename Arg<T>::Stored> {
  if constexpr (IsValue<T>::value) {
    if (prepared) return readRegion<T>(c.env, 0, true);
    return readValue<T>(c.env, c.self, true);
  } else {
    (void)prepared;
    if (Box* b = findSelf(c, ClassOf<T>::id())) return &static_cast<TypedBox<T>*>(b)->value;
    return unwrapError(ClassOf<T>::name);
  }
}

// The value class of a member's result when it is a value object (also optional, also inside a
// Result): such a member leaves the record in the channels and its JavaScript half makes the
// object (see PropRecord::resultClass).
template <class R, class = void>
struct ValueResult {
  static constexpr bool is = false;
};
template <class T>
struct ValueResult<T, std::enable_if_t<IsValue<T>::value>> {
  static constexpr bool is = true;
  using Type = T;
};
template <class T>
struct ValueResult<std::optional<T>, std::enable_if_t<IsValue<T>::value>> : ValueResult<T> {};
template <class T>
struct ValueResult<Result<T>, std::enable_if_t<ValueResult<T>::is>> : ValueResult<T> {};

template <class R>
int resultClassOf() {
  using D = std::remove_cvref_t<R>;
  if constexpr (ValueResult<D>::is)
    return ClassOf<typename ValueResult<D>::Type>::id();
  else
    return -1;
}

// Leaves a value result in the channels: `undefined` when it is there, `null` when absent.
template <class R>
Result<napi_value> emitValue(napi_env env, R&& r) {
  using D = std::remove_cvref_t<R>;
  if constexpr (IsValue<D>::value) {
    BW_TRY(writeValue(env, r));
    return undefinedValue(env);
  } else if constexpr (std::is_same_v<D, std::optional<typename ValueResult<D>::Type>>) {
    if (!r) return nullValue(env);
    return emitValue(env, *r);
  } else {
    if (!r.ok()) return std::move(r).error();
    return emitValue(env, std::move(r).value());
  }
}

// Value-class parameters: T and std::optional<T>.
template <class P, class = void>
struct ValueParam {
  static constexpr bool is = false;
};
template <class T>
struct ValueParam<T, std::enable_if_t<IsValue<T>::value>> {
  static constexpr bool is = true;
  static constexpr bool optional = false;
  using Type = T;
};
template <class T>
struct ValueParam<std::optional<T>, std::enable_if_t<IsValue<T>::value>> {
  static constexpr bool is = true;
  static constexpr bool optional = true;
  using Type = T;
};

// The channel region of each parameter that is a value: 0 for the receiver, 1, 2, ... for value
// arguments in order; -1 for the others.
template <bool HasReceiver, class... P>
constexpr std::array<int, sizeof...(P) + 1> valueRegions() {
  constexpr auto role = roles<HasReceiver, P...>();
  constexpr bool value[] = {ValueParam<std::remove_cvref_t<P>>::is..., false};
  std::array<int, sizeof...(P) + 1> out{};
  int next = 1;
  for (size_t i = 0; i < sizeof...(P); ++i)
    out[i] = role[i] == -2 || !value[i] ? -1 : role[i] == -1 ? 0 : next++;
  return out;
}

// The same, for the registry: (argument index or -1 for the receiver, class id), in order.
template <class F, bool HasReceiver>
std::vector<std::pair<int, int>> valueParams() {
  using S = Sig<F>;
  std::vector<std::pair<int, int>> out;
  [&]<size_t... I>(std::index_sequence<I...>) {
    constexpr auto role = roles<HasReceiver, std::tuple_element_t<I, typename S::Args>...>();
    auto one = [&]<size_t K>(std::integral_constant<size_t, K>) {
      using D = std::remove_cvref_t<std::tuple_element_t<K, typename S::Args>>;
      if constexpr (role[K] != -2 && ValueParam<D>::is)
        out.emplace_back(role[K], ClassOf<typename ValueParam<D>::Type>::id());
    };
    (one(std::integral_constant<size_t, I>{}), ...);
    (void)one;
  }(std::make_index_sequence<S::N>{});
  return out;
}

// What a value argument's region held, read before any argument is converted.
template <class P, class = void>
struct Prepared {};
template <class P>
struct Prepared<P, std::enable_if_t<ValueParam<std::remove_cvref_t<P>>::is>> {
  std::optional<Result<typename ValueParam<std::remove_cvref_t<P>>::Type>> r;
};

// A mutable value receiver (a setter's `T&`) is written back to its object's record after the
// member ran.
template <bool HasReceiver, class... P>
constexpr int mutableValueReceiver() {
  constexpr auto role = roles<HasReceiver, P...>();
  constexpr bool mut[] = {(std::is_lvalue_reference_v<P> && !std::is_const_v<std::remove_reference_t<P>> &&
                           IsValue<std::remove_cvref_t<P>>::value)...,
                          false};
  for (size_t i = 0; i < sizeof...(P); ++i)
    if (role[i] == -1 && mut[i]) return static_cast<int>(i);
  return -1;
}

// Reads the call, converts the receiver (when there is one) and every argument of F in order,
// stopping at the first failure, then hands `then` the call and a thunk that runs F on the
// converted values. Native exceptions become GenericFailure errors.
template <class F, bool HasReceiver, class Then>
napi_value withConverted(napi_env env, napi_callback_info info, Then then) {
  using S = Sig<F>;
  return [&]<size_t... I>(std::index_sequence<I...>) -> napi_value {
    constexpr auto role = roles<HasReceiver, std::tuple_element_t<I, typename S::Args>...>();
    constexpr bool raw = (isCall<std::tuple_element_t<I, typename S::Args>> || ... || false);
    constexpr auto region = valueRegions<HasReceiver, std::tuple_element_t<I, typename S::Args>...>();
    Call call;
    if (auto r = readCall(env, info, call, raw ? kMaxArgs : size_t(role[S::N])); !r.ok()) return fail(env, r.error());
    const bool prepared = call.data == preparedTag();
    std::tuple<Slot<std::tuple_element_t<I, typename S::Args>>...> slots;
    // Value arguments whose records wait in the channels are read first: converting another
    // argument may run JavaScript, which may use the channels itself. Without such another
    // argument, they are read straight into their slots.
    constexpr bool others = ((role[I] >= 0 && region[I] <= 0) || ... || false);
    std::conditional_t<others, std::tuple<Prepared<std::tuple_element_t<I, typename S::Args>>...>, std::tuple<>> early;
    if constexpr (others) {
      if (prepared) {
        auto take = [&]<size_t K>(std::integral_constant<size_t, K>) {
          using D = std::remove_cvref_t<std::tuple_element_t<K, typename S::Args>>;
          if constexpr (region[K] > 0) {
            using T = typename ValueParam<D>::Type;
            std::get<K>(early).r.emplace(readRegion<T>(env, static_cast<size_t>(region[K]), false));
          }
        };
        (take(std::integral_constant<size_t, I>{}), ...);
        (void)take;
      }
    }
    Result<Unit> st = Unit{};
    auto convert = [&]<size_t K>(std::integral_constant<size_t, K>) {
      if (!st.ok()) return;
      using P = std::tuple_element_t<K, typename S::Args>;
      using D = std::remove_cvref_t<P>;
      auto& slot = std::get<K>(slots);
      if constexpr (role[K] == -2) {
        slot.v = &call;
      } else if constexpr (role[K] == -1) {
        auto r = receiver<D>(call, prepared);
        if (!r.ok()) st = std::move(r).error();
        else slot.v = *r;
      } else if constexpr (region[K] > 0) {
        napi_value v = call.argv[role[K]];
        if constexpr (ValueParam<D>::optional) {
          auto absent = isNullish(env, v);
          if (!absent.ok()) {
            st = std::move(absent).error();
            return;
          }
          if (*absent) {
            slot.v = D{};
            return;
          }
        }
        using T = typename ValueParam<D>::Type;
        Result<T> r = [&]() -> Result<T> {
          if (!prepared) return Arg<T>::read(env, v);
          if constexpr (others)
            return std::move(*std::get<K>(early).r);
          else
            return readRegion<T>(env, static_cast<size_t>(region[K]), false);
        }();
        if (!r.ok()) st = std::move(r).error();
        else slot.v = D{std::move(r).value()};
      } else {
        auto r = Arg<D>::read(env, call.argv[role[K]]);
        if (!r.ok()) st = std::move(r).error();
        else slot.v = std::move(r).value();
      }
    };
    (convert(std::integral_constant<size_t, I>{}), ...);
    (void)convert;
    if (!st.ok()) return fail(env, st.error());
    try {
      napi_value out = then(call, [&]() -> decltype(auto) { return F{}(std::get<I>(slots).pass()...); });
      constexpr int back = mutableValueReceiver<HasReceiver, std::tuple_element_t<I, typename S::Args>...>();
      if constexpr (back >= 0) {
        // The JavaScript half copies region 0 back into the object's record.
        if (out) {
          using T = std::remove_cvref_t<std::tuple_element_t<static_cast<size_t>(back), typename S::Args>>;
          Result<Unit> stored = prepared ? writeValue<T>(env, *std::get<static_cast<size_t>(back)>(slots).v)
                                         : Result<Unit>(unwrapError(ClassOf<T>::name));
          if (!stored.ok()) return fail(env, stored.error());
        }
      }
      return out;
    } catch (const std::exception& ex) {
      return fail(env, Error(Status::GenericFailure, ex.what()));
    } catch (...) {
      return fail(env, Error(Status::GenericFailure, "unexpected native failure"));
    }
  }(std::make_index_sequence<S::N>{});
}

}  // namespace detail

// A hand-written callback behind the same guard as the generated ones: a native exception (an
// allocation failure, say) becomes a thrown GenericFailure error instead of ending the process.
template <napi_callback Fn>
napi_value guarded(napi_env env, napi_callback_info info) {
  try {
    return Fn(env, info);
  } catch (const std::exception& ex) {
    return fail(env, Error(Status::GenericFailure, ex.what()));
  } catch (...) {
    return fail(env, Error(Status::GenericFailure, "unexpected native failure"));
  }
}

namespace detail {

// Callback of a method, getter, setter, static method or free function.
template <class F, bool HasReceiver>
napi_value invoke(napi_env env, napi_callback_info info) {
  using R = typename Sig<F>::Ret;
  return withConverted<F, HasReceiver>(env, info, [env](Call&, auto&& run) -> napi_value {
    if constexpr (std::is_void_v<R>) {
      run();
      return undefinedValue(env);
    } else if constexpr (ValueResult<std::remove_cvref_t<R>>::is) {
      auto out = emitValue(env, run());
      if (!out.ok()) return fail(env, out.error());
      return *out;
    } else {
      auto out = Ret<std::remove_cvref_t<R>>::make(env, run());
      if (!out.ok()) return fail(env, out.error());
      return *out;
    }
  });
}

napi_value noConstructor(napi_env env, napi_callback_info info);
bool constructingInternally(napi_env env, napi_callback_info info, napi_value* self);
bool calledWithNew(napi_env env, napi_callback_info info);
Error needsNewError(const char* className);

// Constructor callback of a value class: F returns T or Result<T>, whose record it leaves in the
// channels for the class's JavaScript constructor (which has already refused calls without new).
template <class T, class F>
napi_value constructValue(napi_env env, napi_callback_info info) {
  return withConverted<F, false>(env, info, [env](Call&, auto&& run) -> napi_value {
    Result<T> made = run();
    if (!made.ok()) return fail(env, made.error());
    auto out = writeValue<T>(env, *made);
    if (!out.ok()) return fail(env, out.error());
    return undefinedValue(env);
  });
}

// Constructor callback for classes with a JavaScript constructor: F returns T or Result<T>.
// The add-on's own instance creation skips the constructor logic altogether. A call without
// `new` (on the global object, a prototype, a proxy, ...) wraps nothing.
template <class T, class F>
napi_value construct(napi_env env, napi_callback_info info) {
  napi_value self;
  if (constructingInternally(env, info, &self)) return self;
  if (!calledWithNew(env, info)) return fail(env, needsNewError(ClassOf<T>::name));
  return withConverted<F, false>(env, info, [env](Call& call, auto&& run) -> napi_value {
    Result<T> made = run();
    if (!made.ok()) return fail(env, made.error());
    auto* box = new TypedBox<T>(ClassOf<T>::id(), std::move(made).value());
    auto r = attach(env, call.self, box);
    if (!r.ok()) return fail(env, r.error());
    return call.self;
  });
}

}  // namespace detail

// ---------------------------------------------------------------------------------------------
// Class and function tables.

// Members must be captureless lambdas: the callback default-constructs them.
template <class F>
constexpr bool isMember = std::is_empty_v<F> && std::is_default_constructible_v<F>;

template <class T>
class Class {
 public:
  Class() : id_(ClassOf<T>::id()) { classEntry(id_).value = IsValue<T>::value; }

  // A value class's record: this many numbers and texts (Codec<T> lays them out).
  Class& record(size_t numbers, size_t texts) {
    static_assert(IsValue<T>::value, "only value classes hold records");
    ClassEntry& e = classEntry(id_);
    e.numbers = numbers;
    e.texts = texts;
    return *this;
  }

  template <class F>
  Class& constructor(F) {
    static_assert(isMember<F>, "members are captureless lambdas");
    if constexpr (IsValue<T>::value)
      classEntry(id_).ctor = &detail::constructValue<T, F>;
    else
      classEntry(id_).ctor = &detail::construct<T, F>;
    return *this;
  }
  template <class F>
  Class& method(const char* name, F) {
    static_assert(isMember<F>, "members are captureless lambdas");
    PropRecord p{name, PropKind::Method, &detail::invoke<F, true>, nullptr, nullptr, nullptr, {}, resultOf<F>()};
    p.values = detail::valueParams<F, true>();
    p.arity = arityOf<F, true>();
    add(std::move(p));
    return *this;
  }
  template <class F>
  Class& staticMethod(const char* name, F) {
    static_assert(isMember<F>, "members are captureless lambdas");
    PropRecord p{name, PropKind::StaticMethod, &detail::invoke<F, false>, nullptr, nullptr, nullptr, {}, resultOf<F>()};
    p.values = detail::valueParams<F, false>();
    p.arity = arityOf<F, false>();
    add(std::move(p));
    return *this;
  }
  template <class F>
  Class& getter(const char* name, F) {
    static_assert(isMember<F>, "members are captureless lambdas");
    PropRecord p{name, PropKind::Accessor, nullptr, &detail::invoke<F, true>, nullptr, nullptr, {}, resultOf<F>()};
    p.values = detail::valueParams<F, true>();
    add(std::move(p));
    return *this;
  }
  template <class G, class S>
  Class& accessor(const char* name, G, S) {
    static_assert(isMember<G> && isMember<S>, "members are captureless lambdas");
    PropRecord p{name, PropKind::Accessor, nullptr, &detail::invoke<G, true>, &detail::invoke<S, true>, nullptr, {},
                 resultOf<G>()};
    p.values = detail::valueParams<G, true>();
    setterOf<S>(p);
    add(std::move(p));
    return *this;
  }
  // Members of value classes computed in JavaScript from the record, by an expression of
  // addon/value.h's jsx: a getter (with a native setter, when given) or a method.
  Class& field(const char* name, std::string js) {
    static_assert(IsValue<T>::value, "only value classes hold records");
    add({name, PropKind::Accessor, nullptr, nullptr, nullptr, nullptr, std::move(js), -1});
    return *this;
  }
  template <class S>
  Class& field(const char* name, std::string js, S) {
    static_assert(IsValue<T>::value, "only value classes hold records");
    static_assert(isMember<S>, "members are captureless lambdas");
    PropRecord p{name, PropKind::Accessor, nullptr, nullptr, &detail::invoke<S, true>, nullptr, std::move(js), -1};
    setterOf<S>(p);
    add(std::move(p));
    return *this;
  }
  // A getter whose value object the class's walker also leaves in the prefetch region at each step
  // (prefetch below): right after a step, it reads it from there without a native call.
  template <class F>
  Class& prefetchedGetter(const char* name, F f) {
    getter(name, f);
    PropRecord& p = classEntry(id_).props.back();
    p.prefetched = p.resultClass >= 0 && classEntry(p.resultClass).texts == 0;
    return *this;
  }
  // A field holding one 64-bit float in record slot `slot`: read and written in JavaScript, with
  // the native setter S (which stores the number) taking only the values it refuses.
  template <class S>
  Class& numberField(const char* name, size_t slot, S setter) {
    field(name, jsx::number(slot), setter);
    classEntry(id_).props.back().numberSlot = static_cast<int>(slot);
    return *this;
  }
  Class& jsMethod(const char* name, std::string js) {
    static_assert(IsValue<T>::value, "only value classes hold records");
    add({name, PropKind::Method, nullptr, nullptr, nullptr, nullptr, std::move(js), -1});
    return *this;
  }
  Class& onInstance(void (*hook)(napi_env, napi_value)) {
    static_assert(!IsValue<T>::value, "value objects are not boxes");
    classEntry(id_).onInstance = hook;
    return *this;
  }

 private:
  // How many JavaScript arguments the callback of F reads.
  template <class F, bool HasReceiver>
  static int arityOf() {
    return [&]<size_t... I>(std::index_sequence<I...>) {
      using S = detail::Sig<F>;
      constexpr auto role = detail::roles<HasReceiver, std::tuple_element_t<I, typename S::Args>...>();
      constexpr bool raw = (detail::isCall<std::tuple_element_t<I, typename S::Args>> || ... || false);
      return raw ? static_cast<int>(kMaxArgs) : role[S::N];
    }(std::make_index_sequence<detail::Sig<F>::N>{});
  }
  template <class F>
  static int resultOf() {
    return detail::resultClassOf<typename detail::Sig<F>::Ret>();
  }
  template <class S>
  static void setterOf(PropRecord& p) {
    p.setterValues = detail::valueParams<S, true>();
    p.writesBack = [&]<size_t... I>(std::index_sequence<I...>) {
      return detail::mutableValueReceiver<true, std::tuple_element_t<I, typename detail::Sig<S>::Args>...>() >= 0;
    }(std::make_index_sequence<detail::Sig<S>::N>{});
  }
  void add(PropRecord p) { classEntry(id_).props.push_back(std::move(p)); }

  int id_;
};

template <class F>
void function(const char* name, F) {
  static_assert(isMember<F>, "functions are captureless lambdas");
  static_assert(!detail::ValueResult<std::remove_cvref_t<typename detail::Sig<F>::Ret>>::is,
                "a free function returns value objects inside lists or records only");
  addFunction(name, &detail::invoke<F, false>);
}

// A registration routine, run at library load.
struct Registration {
  explicit Registration(void (*fn)()) { fn(); }
};

#define BW_REGISTER(tag)                                               \
  static void bw_register_##tag();                                     \
  static const ::bw::js::Registration bw_registration_##tag{&bw_register_##tag}; \
  static void bw_register_##tag()

}  // namespace bw::js
