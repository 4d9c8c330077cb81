// The one indicator mechanism. An indicator is a state record with a step function plus ONE
// declaration; the mechanism gives it `make`, `next` and `collect` (the JavaScript binding for
// every declared class is generic and lives in addon/bind/indicator_node.cc), and the listing
// that the typings, the docs and the generic tests are generated from.
//
//   // lib/averages.cc
//   // sma: sum(src, length) / length; missing until `length` present inputs have been seen.
//   struct Sma {
//     WindowSum sum;
//     double step(const RuntimeCtx&, const NumSeries& src, int64_t length) {
//       return sma(sum, src, length);
//     }
//   };
//   BW_INDICATOR(Sma, "sma", "059403", Group::Averages, "Simple moving average of src over length bars.",
//                first("length"), series("src"), length("length", 14));
//
// The declaration gives, in this order:
//   - the indicator's name; the JavaScript class is `Incr_fn_<name>_<six hex digits>`, with the
//     digits given (the long-standing classes) or, when left out, derived from the name
//     (indicatorDigits);
//   - its group and a one-line description;
//   - when its outputs are first defined: first(expr) for one output, outputs({"a", expr}, ...)
//     for several (named in result order). expr is the step (1-based) of the first value with
//     complete inputs, written over the argument names with + - * / ( ), ?:, max, min, trunc,
//     sqrt ("length + 1"; "1" when there is no warm-up); firstAtEarliest(expr) or {"a", expr,
//     true} for an output that has a value on some steps only; none() for the script entry;
//   - the `next` arguments in order. The step takes the runtime context and then one parameter
//     per argument:
//
//   series(name)        number series input       -> const NumSeries& (its whole history)
//   flags(name)         optional boolean series   -> const BoolSeries&
//   number(name)        required number           -> double
//   length(name, def)   length, default def       -> int64_t, always >= 1
//   length(name)        length without a default  -> int64_t, always >= 1
//   optLength(name)     length that may be absent -> std::optional<int64_t> (absent or >= 1)
//   integer(name, def)  whole number, any value   -> int64_t
//   real(name, def)     number with a default     -> double
//   flag(name, def)     boolean with a default    -> bool
//   period(name, def)   timeframe with a default  -> Timeframe (a NodeTimeframe in JavaScript)
//
// The result kind comes from the step's return type: double (NaN when missing),
// std::optional<int64_t>, std::optional<bool>, std::array<double, 2 or 3>,
// std::pair<double, std::optional<int64_t>>, or void (the script entry).
//
// Built-in bar series: a state record that reads any declares them, and only those are kept:
//   static constexpr uint16_t reads = kHigh | kLow | kClose;
// and reads them from the runtime context: `rt.close[1]`, `rt.volume[0]`.
//
// One step (next, or one bar of collect): read the context's current bar (failing before any
// change), push every series input onto its history, refresh the kept built-in series, run the
// step. Intermediate series and building-block records are members of the state record.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/bar_ctx.h"
#include "core/error.h"
#include "core/timeframe.h"
#include "runtime/runtime_ctx.h"
#include "runtime/series.h"
#include "runtime/utils.h"

namespace bw::rt {

// ---------------------------------------------------------------------------------------------
// Declarations: what the binding, the generic tests and the generated docs read.

enum class ArgKind : uint8_t { Series, Flags, Number, Length, OptLength, Integer, Real, Flag, Period };
enum class ResultKind : uint8_t { Number, OptInt, OptFlag, Numbers2, Numbers3, Numbers5, NumberOptInt, Script };

struct ArgDecl {
  const char* name;
  ArgKind kind;
  bool hasDefault = false;
  double def = 0;  // the default of Length, Integer, Real (as a number) and Flag (0 or 1)
  Timeframe period{};  // the default of Period

  bool isSeries() const { return kind == ArgKind::Series || kind == ArgKind::Flags; }
};

// One argument of one step, already converted. Series inputs use `number` (NaN is a missing
// value) or `flag` (0 false, 1 true, 2 absent); parameters use `present` and their field. A
// period keeps its count in `integer` and its unit in `flag`, so that the record stays small:
// a step copies one per argument.
struct ArgValue {
  double number = kNaN;
  int64_t integer = 0;
  int8_t flag = 2;
  bool present = false;

  static ArgValue num(double x) { return ArgValue{x, 0, 2, true}; }
  static ArgValue integ(int64_t i) { return ArgValue{kNaN, i, 2, true}; }
  static ArgValue boolean(bool b) { return ArgValue{kNaN, 0, static_cast<int8_t>(b), true}; }
  static ArgValue optBool(std::optional<bool> b) {
    return ArgValue{kNaN, 0, b ? static_cast<int8_t>(*b) : int8_t{2}, b.has_value()};
  }
  static ArgValue absent() { return ArgValue{}; }
  static ArgValue ofPeriod(Timeframe t) {
    return ArgValue{kNaN, static_cast<int64_t>(t.count), static_cast<int8_t>(t.unit), true};
  }
  Timeframe period() const { return Timeframe{static_cast<TimeUnit>(flag), static_cast<uint64_t>(integer)}; }
};

// The result of one step, by kind: numbers in `num`, the optional integer in `integer`, the
// optional boolean in `flag` (0, 1, 2 absent).
struct StepResult {
  std::array<double, 5> num{kNaN, kNaN, kNaN, kNaN, kNaN};
  std::optional<int64_t> integer;
  int8_t flag = 2;
};

// Where a collect writes its results: one column per output, each with room for `capacity`
// steps. Numbers go to `num` (one column, or one per output of a tuple); an optional integer is
// written as a number in its column, NaN when absent (an integer is never NaN); optional booleans
// go to `flags` as codes (0 false, 1 true, 2 absent).
struct Columns {
  std::array<double*, 5> num{};
  int8_t* flags = nullptr;
  size_t capacity = 0;
};
// The number columns and whether a flag column is written, by result kind.
size_t numberColumns(ResultKind k);
inline bool flagColumn(ResultKind k) { return k == ResultKind::OptFlag; }

// Every step of one collect, by kind, in the layout of Columns: `num` holds numberColumns(kind)
// columns of `steps` numbers one after the other, `flags` the flag codes.
struct Collected {
  ResultKind kind = ResultKind::Number;
  size_t steps = 0;
  std::vector<double> num;
  std::vector<int8_t> flags;

  StepResult at(size_t i) const;
};

// One argument of collect: series inputs are element i read on bar i (numbers or flag codes,
// not owned; NaN or absent beyond the end), parameters are one value for every step.
struct CollectArg {
  const double* numbers = nullptr;
  const int8_t* flags = nullptr;
  size_t size = 0;
  ArgValue value;  // parameters

  static CollectArg ofNumbers(std::span<const double> xs) { return CollectArg{xs.data(), nullptr, xs.size(), {}}; }
  static CollectArg ofFlags(std::span<const int8_t> fs) { return CollectArg{nullptr, fs.data(), fs.size(), {}}; }
  static CollectArg ofValue(ArgValue v) { return CollectArg{nullptr, nullptr, 0, v}; }
};

class Instance;
struct Declaration;

using MakeFn = std::unique_ptr<Instance> (*)(const Declaration&, SharedCtx, uint16_t reads);

// The groups of the listing, in the order the docs show them.
enum class Group : uint8_t { Averages, Oscillators, Volatility, Volume, Crosses, Momentum, Script };

// One output of a step: its name (for tuples; "value" for a single output) and the step of its
// first value as an expression over the argument names (see the top of this file). An output
// that only has a value on some steps (a pivot, say) gives the earliest step it can have one.
struct OutputDecl {
  const char* name;
  const char* first;
  bool earliest = false;
};

struct Outputs {
  std::vector<OutputDecl> list;
};
inline Outputs first(const char* expr) { return {{{"value", expr}}}; }
inline Outputs firstAtEarliest(const char* expr) { return {{{"value", expr, true}}}; }
inline Outputs outputs(OutputDecl a, OutputDecl b) { return {{a, b}}; }
inline Outputs outputs(OutputDecl a, OutputDecl b, OutputDecl c) { return {{a, b, c}}; }
inline Outputs outputs(OutputDecl a, OutputDecl b, OutputDecl c, OutputDecl d, OutputDecl e) {
  return {{a, b, c, d, e}};
}
inline Outputs none() { return {}; }

// The six hex digits of a class name that the declaration leaves out: FNV-1a of the name, folded
// to 24 bits. The one rule for every indicator without digits of its own.
std::string indicatorDigits(std::string_view name);
// `Incr_fn_<name>_<digits>`, the digits derived when `digits` is null.
std::string indicatorClassName(std::string_view name, const char* digits);

struct Declaration {
  std::string className;
  std::vector<ArgDecl> args;
  ResultKind result;
  uint16_t reads;  // built-in series the step reads
  MakeFn makeFn;
  std::string name;  // the friendly name, `sma`
  Group group = Group::Script;
  std::string summary;
  std::vector<OutputDecl> outputs;
  // Where the step is defined (`lib/averages.cc`, `Sma`): the docs take its formula from the
  // comment above the state record.
  std::string source;
  std::string state;

  // A new instance bound to the context (shared, not copied) with empty state and series.
  std::unique_ptr<Instance> make(SharedCtx ctx) const { return makeFn(*this, std::move(ctx), reads); }
  // The same, keeping every built-in series whatever the step reads (for tests of `reads`).
  std::unique_ptr<Instance> makeKeepingAll(SharedCtx ctx) const {
    return makeFn(*this, std::move(ctx), kAllBuiltins);
  }
};

// Every declared class, in declaration order (per file; files in link order).
const std::vector<const Declaration*>& declarations();
const Declaration* findDeclaration(std::string_view className);
// Keeps the declaration for the rest of the process and lists it; the reference stays valid.
const Declaration& addDeclaration(Declaration d);
// Whether every declaration is complete and consistent: names and classes unique, one output
// per result value, an expression for each. The message names the first fault; empty when none.
std::string checkDeclarations();
// The whole list as JSON: [{"class", "name", "group", "summary", "args": [{"name", "kind",
// "default"?}], "result", "outputs": [{"name", "first", "earliest"?}], "source", "state"}].
std::string declarationsJson();
const char* kindName(ArgKind k);
const char* kindName(ResultKind k);
const char* groupName(Group g);
// Numbers a step of that kind yields (the number of NumberOptInt counts).
size_t numbersPerStep(ResultKind k);

// ---------------------------------------------------------------------------------------------
// Instances.

class Instance {
 public:
  Instance(const Declaration& d, SharedCtx ctx, uint16_t reads) : decl_(&d), rt_(std::move(ctx), reads) {}
  virtual ~Instance() = default;
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;

  const Declaration& decl() const { return *decl_; }
  const RuntimeCtx& runtime() const { return rt_; }

  // One step on the context's current bar, without moving it. `args` has one value per declared
  // argument. Fails (changing nothing) when the context has no current bar.
  Result<StepResult> next(const ArgValue* args);
  // The same into `out`, which must hold missing values (a fresh StepResult).
  Result<Unit> next(const ArgValue* args, StepResult& out);
  // Advances the shared context bar by bar to its end, one step per bar.
  Result<Collected> collect(const CollectArg* args);
  // The number of steps a collect would run now: the bars after the context's current one.
  Result<size_t> remaining() const;
  // collect, writing the results of step i at row i of `out` and stopping after out.capacity
  // steps (size it by remaining()). Returns the number of steps run.
  virtual Result<size_t> collectInto(const CollectArg* args, const Columns& out) = 0;

  // Bytes held by the instance's series, for memory accounting.
  virtual size_t historyBytes() const = 0;

 protected:
  // Steps 2 to 4 of next on a bar already read: push the inputs, refresh the runtime context,
  // compute. `out` holds missing values on entry.
  virtual void stepOn(const ArgValue* args, const BarSnapshot& bar, StepResult& out) = 0;
  size_t runtimeBytes() const;

  const Declaration* decl_;
  RuntimeCtx rt_;
};

// ---------------------------------------------------------------------------------------------
// Argument helpers used in declarations.

struct Empty {};

namespace args {

struct SeriesArg {
  const char* name;
  using Input = NumSeries;
  ArgDecl argDecl() const { return {name, ArgKind::Series}; }
  static void push(Input& s, const ArgValue& v) { s.push(v.number); }
  static const Input& param(const Input& s, const ArgValue&, const ArgDecl&) { return s; }
};
struct FlagsArg {
  const char* name;
  using Input = BoolSeries;
  ArgDecl argDecl() const { return {name, ArgKind::Flags}; }
  static void push(Input& s, const ArgValue& v) {
    s.push(v.flag == 2 ? std::nullopt : std::optional<bool>(v.flag == 1));
  }
  static const Input& param(const Input& s, const ArgValue&, const ArgDecl&) { return s; }
};
struct NumberArg {
  const char* name;
  using Input = Empty;
  ArgDecl argDecl() const { return {name, ArgKind::Number}; }
  static double param(const Input&, const ArgValue& v, const ArgDecl&) { return v.number; }
};
struct LengthArg {
  const char* name;
  std::optional<int64_t> def;
  using Input = Empty;
  ArgDecl argDecl() const {
    return {name, ArgKind::Length, def.has_value(), def ? static_cast<double>(*def) : 0.0};
  }
  static int64_t param(const Input&, const ArgValue& v, const ArgDecl& s) {
    return v.present ? v.integer : static_cast<int64_t>(s.def);
  }
};
struct OptLengthArg {
  const char* name;
  using Input = Empty;
  ArgDecl argDecl() const { return {name, ArgKind::OptLength}; }
  static std::optional<int64_t> param(const Input&, const ArgValue& v, const ArgDecl&) {
    if (!v.present || v.integer < 1) return std::nullopt;
    return v.integer;
  }
};
struct IntegerArg {
  const char* name;
  int64_t def;
  using Input = Empty;
  ArgDecl argDecl() const { return {name, ArgKind::Integer, true, static_cast<double>(def)}; }
  static int64_t param(const Input&, const ArgValue& v, const ArgDecl& s) {
    return v.present ? v.integer : static_cast<int64_t>(s.def);
  }
};
struct RealArg {
  const char* name;
  double def;
  using Input = Empty;
  ArgDecl argDecl() const { return {name, ArgKind::Real, true, def}; }
  static double param(const Input&, const ArgValue& v, const ArgDecl& s) { return v.present ? v.number : s.def; }
};
struct FlagArg {
  const char* name;
  bool def;
  using Input = Empty;
  ArgDecl argDecl() const { return {name, ArgKind::Flag, true, def ? 1.0 : 0.0}; }
  static bool param(const Input&, const ArgValue& v, const ArgDecl& s) {
    return v.present ? v.flag == 1 : s.def != 0;
  }
};
struct PeriodArg {
  const char* name;
  Timeframe def;
  using Input = Empty;
  ArgDecl argDecl() const { return {name, ArgKind::Period, true, 0.0, def}; }
  static Timeframe param(const Input&, const ArgValue& v, const ArgDecl& s) { return v.present ? v.period() : s.period; }
};

template <class A>
constexpr bool isSeriesArg = std::is_same_v<A, SeriesArg> || std::is_same_v<A, FlagsArg>;

// The step parameter type of each argument kind (used to find the step's return type).
template <class A>
auto paramType() -> decltype(A::param(std::declval<const typename A::Input&>(), std::declval<const ArgValue&>(),
                                      std::declval<const ArgDecl&>()));

}  // namespace args

inline args::SeriesArg series(const char* name) { return {name}; }
inline args::FlagsArg flags(const char* name) { return {name}; }
inline args::NumberArg number(const char* name) { return {name}; }
inline args::LengthArg length(const char* name, int64_t def) { return {name, def}; }
inline args::LengthArg length(const char* name) { return {name, std::nullopt}; }
inline args::OptLengthArg optLength(const char* name) { return {name}; }
inline args::IntegerArg integer(const char* name, int64_t def) { return {name, def}; }
inline args::RealArg real(const char* name, double def) { return {name, def}; }
inline args::FlagArg flag(const char* name, bool def) { return {name, def}; }
inline args::PeriodArg period(const char* name, Timeframe def) { return {name, def}; }

// ---------------------------------------------------------------------------------------------
// The typed instance behind every declaration.

namespace detail {

// Each result kind: how one step's value goes into a StepResult (next) and into row i of the
// columns (collect), and what a step without a value writes there.
template <class R>
struct ResultOf;
template <>
struct ResultOf<double> {
  static constexpr ResultKind kind = ResultKind::Number;
  static void store(double x, StepResult& o) { o.num[0] = x; }
  static void write(double x, const Columns& c, size_t i) { c.num[0][i] = x; }
  static void none(const Columns& c, size_t i) { c.num[0][i] = kNaN; }
};
inline double asNumber(const std::optional<int64_t>& x) { return x ? static_cast<double>(*x) : kNaN; }
template <>
struct ResultOf<std::optional<int64_t>> {
  static constexpr ResultKind kind = ResultKind::OptInt;
  static void store(std::optional<int64_t> x, StepResult& o) { o.integer = x; }
  static void write(std::optional<int64_t> x, const Columns& c, size_t i) { c.num[0][i] = asNumber(x); }
  static void none(const Columns& c, size_t i) { c.num[0][i] = kNaN; }
};
template <>
struct ResultOf<std::optional<bool>> {
  static constexpr ResultKind kind = ResultKind::OptFlag;
  static int8_t code(std::optional<bool> x) { return x ? static_cast<int8_t>(*x) : int8_t{2}; }
  static void store(std::optional<bool> x, StepResult& o) { o.flag = code(x); }
  static void write(std::optional<bool> x, const Columns& c, size_t i) { c.flags[i] = code(x); }
  static void none(const Columns& c, size_t i) { c.flags[i] = 2; }
};
template <>
struct ResultOf<std::array<double, 2>> {
  static constexpr ResultKind kind = ResultKind::Numbers2;
  static void store(const std::array<double, 2>& x, StepResult& o) {
    o.num[0] = x[0];
    o.num[1] = x[1];
  }
  static void write(const std::array<double, 2>& x, const Columns& c, size_t i) {
    c.num[0][i] = x[0];
    c.num[1][i] = x[1];
  }
  static void none(const Columns& c, size_t i) { c.num[0][i] = c.num[1][i] = kNaN; }
};
template <>
struct ResultOf<std::array<double, 3>> {
  static constexpr ResultKind kind = ResultKind::Numbers3;
  static void store(const std::array<double, 3>& x, StepResult& o) { std::copy(x.begin(), x.end(), o.num.begin()); }
  static void write(const std::array<double, 3>& x, const Columns& c, size_t i) {
    c.num[0][i] = x[0];
    c.num[1][i] = x[1];
    c.num[2][i] = x[2];
  }
  static void none(const Columns& c, size_t i) { c.num[0][i] = c.num[1][i] = c.num[2][i] = kNaN; }
};
template <>
struct ResultOf<std::array<double, 5>> {
  static constexpr ResultKind kind = ResultKind::Numbers5;
  static void store(const std::array<double, 5>& x, StepResult& o) { o.num = x; }
  static void write(const std::array<double, 5>& x, const Columns& c, size_t i) {
    for (size_t k = 0; k < 5; ++k) c.num[k][i] = x[k];
  }
  static void none(const Columns& c, size_t i) {
    for (size_t k = 0; k < 5; ++k) c.num[k][i] = kNaN;
  }
};
template <>
struct ResultOf<std::pair<double, std::optional<int64_t>>> {
  static constexpr ResultKind kind = ResultKind::NumberOptInt;
  static void store(const std::pair<double, std::optional<int64_t>>& x, StepResult& o) {
    o.num[0] = x.first;
    o.integer = x.second;
  }
  static void write(const std::pair<double, std::optional<int64_t>>& x, const Columns& c, size_t i) {
    c.num[0][i] = x.first;
    c.num[1][i] = asNumber(x.second);
  }
  static void none(const Columns& c, size_t i) { c.num[0][i] = c.num[1][i] = kNaN; }
};
template <>
struct ResultOf<void> {
  static constexpr ResultKind kind = ResultKind::Script;
  static void none(const Columns&, size_t) {}
};

template <class S>
constexpr uint16_t readsOf() {
  if constexpr (requires { S::reads; })
    return static_cast<uint16_t>(S::reads);
  else
    return 0;
}

// Bars read per block in collect: one borrow of the context and one lock of the series each.
inline constexpr size_t kCollectBlock = 512;

// The instance of one state record S with arguments A...: everything below is compiled per
// indicator, so a step is a direct (inlinable) call of S::step with its parameters already
// converted, and collect reads its inputs straight from the argument spans.
template <class S, class... A>
class InstanceOf final : public Instance {
 public:
  using Instance::Instance;

  using Ret = decltype(std::declval<S&>().step(std::declval<const RuntimeCtx&>(),
                                               args::paramType<A>()...));

  size_t historyBytes() const override {
    size_t n = runtimeBytes();
    std::apply([&](const auto&... in) { ((n += bytesOf(in)), ...); }, inputs_);
    if constexpr (requires(const S& s) { s.historyBytes(); }) n += state_.historyBytes();
    return n;
  }

  Result<size_t> collectInto(const CollectArg* in, const Columns& out) override {
    return [&]<size_t... I>(std::index_sequence<I...>) -> Result<size_t> {
      // Parameters are converted once for every bar.
      const std::array<ArgValue, sizeof...(A)> fixed{in[I].value...};
      const bool ok = usable(fixed.data());
      const ArgDecl* decls = decl_->args.data();
      const std::tuple<decltype(args::paramType<A>())...> params{
          A::param(std::get<I>(inputs_), fixed[I], decls[I])...};

      BW_ASSIGN(total, remaining());
      const size_t steps = std::min(total, out.capacity);
      (reserveOne<A>(std::get<I>(inputs_), steps), ...);
      rt_.reserveMore(steps);

      // Made with its own mask (always, but for the tests of `reads`): the refresh is compiled for it.
      const bool ownReads = rt_.reads() == readsOf<S>();
      BarBlock block;
      size_t done = 0;
      // The series of the state record grow once, to the steps left, when they first have to.
      struct Ahead {
        size_t saved = tlCollectAhead;
        ~Ahead() { tlCollectAhead = saved; }
      } ahead;
      while (done < steps) {
        tlCollectAhead = steps - done;
        BW_TRY(rt_.readBlock(block, std::min(kCollectBlock, steps - done)));
        if (block.rows == 0) break;
        BW_ASSIGN(moved, rt_.advanceOver(block));
        if (!moved) break;  // unreachable: nothing else runs between the read and the advance
        for (size_t r = 0; r < block.rows; ++r, ++done) {
          [[maybe_unused]] const uint64_t bar = block.first + r;
          (pushAt<A>(std::get<I>(inputs_), in[I], bar), ...);
          if (ownReads)
            rt_.applyKept<readsOf<S>()>(block, r);
          else
            rt_.apply(block, r);
          if (!ok) {
            ResultOf<Ret>::none(out, done);
          } else if constexpr (std::is_void_v<Ret>) {
            state_.step(static_cast<const RuntimeCtx&>(rt_), std::get<I>(params)...);
          } else {
            ResultOf<Ret>::write(state_.step(static_cast<const RuntimeCtx&>(rt_), std::get<I>(params)...), out,
                                 done);
          }
        }
      }
      return done;
    }(std::index_sequence_for<A...>{});
  }

 protected:
  void stepOn(const ArgValue* a, const BarSnapshot& bar, StepResult& out) override {
    [&]<size_t... I>(std::index_sequence<I...>) {
      (pushOne<A>(std::get<I>(inputs_), a[I]), ...);
      rt_.apply(bar);
      if (!usable(a)) return;
      const ArgDecl* decls = decl_->args.data();
      if constexpr (std::is_void_v<Ret>)
        state_.step(static_cast<const RuntimeCtx&>(rt_), A::param(std::get<I>(inputs_), a[I], decls[I])...);
      else
        ResultOf<Ret>::store(
            state_.step(static_cast<const RuntimeCtx&>(rt_), A::param(std::get<I>(inputs_), a[I], decls[I])...), out);
    }(std::index_sequence_for<A...>{});
  }

 private:
  template <class T>
  static size_t bytesOf(const T& in) {
    if constexpr (std::is_same_v<T, Empty>)
      return 0;
    else
      return in.capacityBytes();
  }

  // Lengths below 1, and a length without a default that the caller left out (stdev's), have no
  // meaning: such a step still records its inputs and bar, so histories stay aligned with the
  // bars, but the computation is skipped and the result is missing (NaN, or null). Nothing
  // loops, nothing fails. Building blocks apply the same rule to lengths derived in a formula.
  bool usable(const ArgValue* a) const {
    return [&]<size_t... I>(std::index_sequence<I...>) {
      const ArgDecl* decls = decl_->args.data();
      return (usableOne<A>(a[I], decls[I]) && ... && true);
    }(std::index_sequence_for<A...>{});
  }
  template <class Arg>
  static bool usableOne(const ArgValue& v, const ArgDecl& d) {
    if constexpr (std::is_same_v<Arg, args::LengthArg>)
      return v.present ? v.integer >= 1 : d.hasDefault;
    else
      return true;
  }

  template <class Arg, class In>
  static void pushOne(In& in, const ArgValue& v) {
    if constexpr (args::isSeriesArg<Arg>) Arg::push(in, v);
  }
  // Element `bar` of a collect argument; NaN or absent beyond its end.
  template <class Arg, class In>
  static void pushAt(In& in, const CollectArg& c, uint64_t bar) {
    if constexpr (std::is_same_v<Arg, args::SeriesArg>)
      in.push(bar < c.size ? c.numbers[bar] : kNaN);
    else if constexpr (std::is_same_v<Arg, args::FlagsArg>)
      in.push(SeriesCodec<std::optional<bool>>::decode(bar < c.size ? c.flags[bar] : int8_t{2}));
  }
  template <class Arg, class In>
  static void reserveOne(In& in, size_t steps) {
    if constexpr (args::isSeriesArg<Arg>) in.reserveMore(steps);
  }

  S state_{};
  std::tuple<typename A::Input...> inputs_;
};

}  // namespace detail

// The source path from the library folder on (`lib/averages.cc`), whatever the build's path.
std::string sourcePath(const char* file);

// Records a declaration; the returned reference lives for the whole process.
template <class S, class... A>
const Declaration& declare(const char* state, const char* file, const char* name, const char* digits, Group group,
                           const char* summary, Outputs out, A... a) {
  using Inst = detail::InstanceOf<S, A...>;
  return addDeclaration(Declaration{indicatorClassName(name, digits),
                                    {a.argDecl()...},
                                    detail::ResultOf<typename Inst::Ret>::kind,
                                    detail::readsOf<S>(),
                                    [](const Declaration& decl, SharedCtx ctx, uint16_t reads) -> std::unique_ptr<Instance> {
                                      return std::make_unique<Inst>(decl, std::move(ctx), reads);
                                    },
                                    name,
                                    group,
                                    summary,
                                    std::move(out.list),
                                    sourcePath(file),
                                    state});
}
// The same, with the class-name digits derived from the name.
template <class S, class... A>
const Declaration& declare(const char* state, const char* file, const char* name, Group group, const char* summary,
                           Outputs out, A... a) {
  return declare<S>(state, file, name, nullptr, group, summary, std::move(out), a...);
}

#define BW_RT_CAT2(a, b) a##b
#define BW_RT_CAT(a, b) BW_RT_CAT2(a, b)
#define BW_INDICATOR(State, ...)                                                             \
  [[maybe_unused]] static const ::bw::rt::Declaration& BW_RT_CAT(bw_indicator_, __LINE__) = \
      ::bw::rt::declare<State>(#State, __FILE__, __VA_ARGS__)

}  // namespace bw::rt
