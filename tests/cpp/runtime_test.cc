#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "core/bar_ctx.h"
#include "runtime/runtime_ctx.h"
#include "runtime/indicator.h"
#include "runtime/series.h"

using namespace bw;
using namespace bw::rt;

namespace {

const double NaN = kNaN;

OhlcvBar bar(double o, double h, double l, double c, double v = 1, std::optional<int64_t> openMs = std::nullopt) {
  OhlcvBar b;
  b.open = o;
  b.high = h;
  b.low = l;
  b.close = c;
  b.volume = v;
  if (openMs) b.openTime = DateTime::fromMillis(*openMs);
  return b;
}

// A context over bars whose close is each value of `closes` (open = close, high/low around it).
SharedCtx ctxOver(const std::vector<double>& closes) {
  Ohlcv o;
  for (size_t i = 0; i < closes.size(); ++i) {
    const double c = closes[i];
    o.bars.push_back(bar(c, c + 1 + 0.25 * static_cast<double>(i % 3), c - 1, c, 10 + static_cast<double>(i % 7)));
  }
  return SharedCtx(Ctx{Sym{}, ArcOhlcv(std::move(o)), 0, false});
}

bool advance(const SharedCtx& c) { return c.write([](Ctx& x) { return x.advance(); })->has_value(); }

bool same(double a, double b) { return (std::isnan(a) && std::isnan(b)) || a == b; }

}  // namespace

// ---------------------------------------------------------------------------------------------

TEST(Series, AppendReadAndCarryForward) {
  NumSeries x;
  x.advance();  // an empty series stays empty
  EXPECT_EQ(x.length(), 0);
  EXPECT_TRUE(std::isnan(x[0]));
  x.set(1);
  x.push(2);
  x.advance();  // carries 2 forward
  EXPECT_EQ(x.length(), 3);
  EXPECT_EQ(x[0], 2);
  EXPECT_EQ(x[1], 2);
  EXPECT_EQ(x[2], 1);
  EXPECT_TRUE(std::isnan(x[3]));
  EXPECT_TRUE(std::isnan(x[-1]));
  x.set(5);
  EXPECT_EQ(x[0], 5);

  IntSeries i;
  i.push(7);
  i.push(std::nullopt);
  EXPECT_EQ(i[1], std::optional<int64_t>(7));
  EXPECT_EQ(i[0], std::nullopt);
  EXPECT_EQ(i[2], std::nullopt);

  BoolSeries b;
  b.push(true);
  b.push(false);
  b.push(std::nullopt);
  EXPECT_EQ(b[2], std::optional<bool>(true));
  EXPECT_EQ(b[1], std::optional<bool>(false));
  EXPECT_EQ(b[0], std::nullopt);
  EXPECT_EQ(b[3], std::nullopt);
}

TEST(RuntimeCtx, RefreshesFromTheCurrentBar) {
  Ohlcv o;
  o.bars = {bar(1, 4, 2, 3, 9, 1500), bar(5, 6, 4, 5, 1)};
  ArcOhlcv series(std::move(o));
  SharedCtx ctx(Ctx{Sym{}, series, 0, false});
  RuntimeCtx rt(ctx);

  ASSERT_TRUE(rt.update().ok());  // before the first advance: bar 0
  EXPECT_EQ(rt.close[0], 3);
  EXPECT_TRUE(std::isnan(rt.close[1]));
  EXPECT_EQ(rt.bar_index[1], std::nullopt);
  EXPECT_EQ(rt.hl2[0], 3);
  EXPECT_EQ(rt.hlc3[0], 3);
  EXPECT_EQ(rt.hlcc4[0], 3);
  EXPECT_EQ(rt.ohlc4[0], 2.5);
  EXPECT_EQ(rt.open_time[0], std::optional<int64_t>(1500));
  EXPECT_EQ(rt.close_time[0], std::nullopt);
  EXPECT_EQ(rt.bar_index[0], std::optional<int64_t>(0));
  EXPECT_EQ(rt.last_bar_index[0], std::optional<int64_t>(1));

  // Two refreshes without an advance read the same bar; appended bars raise last_bar_index.
  series.write([](Ohlcv& s) { s.bars.push_back(bar(1, 1, 1, 1)); });
  ASSERT_TRUE(rt.update().ok());
  EXPECT_EQ(rt.close.length(), 2);
  EXPECT_EQ(rt.close[1], 3);
  EXPECT_EQ(rt.last_bar_index[0], std::optional<int64_t>(2));
  ASSERT_TRUE(advance(ctx));
  ASSERT_TRUE(advance(ctx));
  ASSERT_TRUE(rt.update().ok());
  EXPECT_EQ(rt.close[0], 5);
  EXPECT_EQ(rt.bar_index[0], std::optional<int64_t>(1));
}

TEST(RuntimeCtx, KeepsOnlyWhatItReads) {
  SharedCtx ctx = ctxOver({1, 2, 3});
  RuntimeCtx rt(ctx, kClose | kHl2);
  ASSERT_TRUE(rt.update().ok());
  EXPECT_EQ(rt.close.length(), 1);
  EXPECT_EQ(rt.hl2.length(), 1);
  EXPECT_EQ(rt.open.length(), 0);
  EXPECT_EQ(rt.bar_index.length(), 0);
}

TEST(RuntimeCtx, NoCurrentBarFailsAndChangesNothing) {
  SharedCtx ctx;  // empty series
  RuntimeCtx rt(ctx);
  EXPECT_FALSE(rt.update().ok());
  EXPECT_EQ(rt.close.length(), 0);

  const Declaration* sma = findDeclaration("Incr_fn_sma_059403");
  ASSERT_NE(sma, nullptr);
  auto inst = sma->make(ctx);
  ArgValue args[] = {ArgValue::num(1), ArgValue::absent()};
  auto r = inst->next(args);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().status, Status::InvalidArg);
  EXPECT_EQ(inst->historyBytes(), 0u);
}

// ---------------------------------------------------------------------------------------------
// Indicators through the mechanism, bar by bar.

namespace {

// Steps of one indicator: series inputs per step (one column per series argument), parameters
// fixed (absent = default).
struct Feed {
  const char* cls;
  std::vector<std::vector<double>> columns;  // series arguments, in order (flags: 0, 1, NaN = absent)
  std::vector<ArgValue> params;              // the other arguments, in order
};

std::vector<StepResult> runNext(const Feed& run) {
  const Declaration* d = findDeclaration(run.cls);
  EXPECT_NE(d, nullptr) << run.cls;
  if (!d) return {};
  const size_t steps = run.columns.empty() ? 0 : run.columns[0].size();
  SharedCtx ctx = ctxOver(std::vector<double>(std::max<size_t>(steps, 1), 100.0));
  auto inst = d->make(ctx);
  std::vector<StepResult> out;
  for (size_t s = 0; s < steps; ++s) {
    EXPECT_TRUE(advance(ctx));
    std::vector<ArgValue> args;
    size_t col = 0, par = 0;
    for (const ArgDecl& argDecl : d->args) {
      if (argDecl.kind == ArgKind::Series) {
        args.push_back(ArgValue::num(run.columns[col++][s]));
      } else if (argDecl.kind == ArgKind::Flags) {
        const double f = run.columns[col++][s];
        args.push_back(ArgValue::optBool(std::isnan(f) ? std::nullopt : std::optional<bool>(f != 0)));
      } else {
        args.push_back(par < run.params.size() ? run.params[par] : ArgValue::absent());
        ++par;
      }
    }
    auto r = inst->next(args.data());
    EXPECT_TRUE(r.ok());
    out.push_back(r.ok() ? *r : StepResult{});
  }
  return out;
}

std::vector<double> numbers(const Feed& run) {
  std::vector<double> v;
  for (const auto& r : runNext(run)) v.push_back(r.num[0]);
  return v;
}
std::vector<std::optional<int64_t>> integers(const Feed& run) {
  std::vector<std::optional<int64_t>> v;
  for (const auto& r : runNext(run)) v.push_back(r.integer);
  return v;
}
std::vector<std::optional<bool>> booleans(const Feed& run) {
  std::vector<std::optional<bool>> v;
  for (const auto& r : runNext(run)) v.push_back(r.flag == 2 ? std::nullopt : std::optional<bool>(r.flag == 1));
  return v;
}

void expectNumbers(const Feed& run, const std::vector<double>& want) {
  const auto got = numbers(run);
  ASSERT_EQ(got.size(), want.size()) << run.cls;
  for (size_t i = 0; i < got.size(); ++i)
    EXPECT_TRUE(same(got[i], want[i]) || std::fabs(got[i] - want[i]) < 1e-12)
        << run.cls << " step " << i + 1 << ": got " << got[i] << ", want " << want[i];
}

ArgValue len(int64_t n) { return ArgValue::integ(n); }

std::vector<double> range(int from, int to) {
  std::vector<double> v;
  for (int i = from; i <= to; ++i) v.push_back(i);
  return v;
}

}  // namespace

TEST(Averages, WarmUpsAndSeeding) {
  struct Case {
    Feed run;
    std::vector<double> want;
  };
  std::vector<double> sma14(13, NaN);
  sma14.push_back(7.5);  // mean of 1..14
  const Case cases[] = {
      {{"Incr_fn_sma_059403", {range(1, 14)}, {}}, sma14},
      {{"Incr_fn_ema_7bc747", {{1, 2, 3, 4}}, {len(3)}}, {NaN, NaN, 2, 3}},
      {{"Incr_fn_rma_3454eb", {{1, 2, 3, 4}}, {len(3)}}, {NaN, NaN, 2, 8.0 / 3}},
      // A missing input after warm-up: missing, then re-seeded from the seed sum as last left
      // (6 + 5 - src[3] = 9 over 3), then smoothing again.
      {{"Incr_fn_ema_7bc747", {{1, 2, 3, NaN, 5, 6}}, {len(3)}}, {NaN, NaN, 2, NaN, 3, 4.5}},
      {{"Incr_fn_wma_5c3876", {{1, 2, 3}}, {len(3)}}, {NaN, NaN, 42.0 / 18}},
      {{"Incr_fn_lwma_60bd2d", {{1, 2, 3}}, {len(3)}}, {NaN, NaN, 42.0 / 18}},
      {{"Incr_fn_wma_5c3876", {{1, NaN, 3, 4}}, {len(2)}}, {NaN, NaN, NaN, (4.0 * 4 + 2 * 3) / 6}},
      {{"Incr_fn_swma_30829d", {{1, 2, 3, 4}}, {}}, {NaN, NaN, NaN, 2.5}},
      {{"Incr_fn_fwma_69cd8f", {{6}}, {len(3)}}, {3}},
      {{"Incr_fn_fwma_69cd8f", {{6, NaN, 2}}, {len(3)}}, {3, 1.5, (2.0 * 2 + 0 + 6) / 4}},
      {{"Incr_fn_dema_d2c3b8", {{1, 2, 3, 4, 5}}, {len(1)}}, {1, 2, 3, 4, 5}},
      {{"Incr_fn_tema_ef3cbc", {{1, 2, 3, 4, 5}}, {len(1)}}, {1, 2, 3, 4, 5}},
      {{"Incr_fn_dev_402351", {{2, 2, 2, 2}}, {len(3)}}, {NaN, NaN, 0, 0}},
      {{"Incr_fn_dev_402351", {{1, 2, 3, 7}}, {len(3)}}, {NaN, NaN, 2.0 / 3, 2}},
      {{"Incr_fn_stdev_d87475", {{4, 4, 4, 4, 4, 4}}, {len(5)}}, {NaN, NaN, NaN, NaN, 0, 0}},
      {{"Incr_fn_stdev_d87475", {{1, 3}}, {len(2), ArgValue::boolean(false)}}, {NaN, std::sqrt(2.0)}},
      {{"Incr_fn_stdev_d87475", {{1, 3, 5}}, {len(2)}}, {NaN, 1, 1}},
      {{"Incr_fn_stdev_d87475", {{1, 2, 6}}, {len(3)}}, {NaN, NaN, std::sqrt(14.0 / 3)}},
      {{"Incr_fn_stdev_d87475", {{1, 2, 6}}, {len(3), ArgValue::boolean(false)}}, {NaN, NaN, std::sqrt(7.0)}},
      {{"Incr_fn_cum_c1d3ea", {{1, NaN, 2, 3}}, {}}, {1, NaN, 2, 5}},
      {{"Incr_fn_change_1e4fad", {{1, 4, 2}}, {}}, {NaN, 3, -2}},
  };
  for (const Case& c : cases) expectNumbers(c.run, c.want);
}

TEST(Averages, WindowSumMissingValueRule) {
  // After warm-up a missing input counts as 0: (sum of the other 13) / 14.
  std::vector<double> xs = range(1, 20);
  xs[16] = NaN;  // step 17
  const auto got = numbers({"Incr_fn_sma_059403", {xs}, {}});
  double s = 0;
  for (int v = 4; v <= 17; ++v) s += v == 17 ? 0 : v;
  EXPECT_DOUBLE_EQ(got[16], s / 14);

  // Leading missing values delay the first value until 14 present inputs: step 19.
  std::vector<double> late(25, 1.0);
  for (int i = 0; i < 5; ++i) late[i] = NaN;
  const auto g2 = numbers({"Incr_fn_sma_059403", {late}, {}});
  EXPECT_TRUE(std::isnan(g2[17]));
  EXPECT_DOUBLE_EQ(g2[18], 1.0);
}

TEST(Averages, CompositeWarmUps) {
  const auto first = [](const std::vector<double>& v) {
    for (size_t i = 0; i < v.size(); ++i)
      if (!std::isnan(v[i])) return static_cast<int>(i) + 1;
    return -1;
  };
  EXPECT_EQ(first(numbers({"Incr_fn_hma_3a3f74", {range(1, 30)}, {}})), 16);
  EXPECT_EQ(first(numbers({"Incr_fn_dema_d2c3b8", {range(1, 30)}, {len(3)}})), 5);
  EXPECT_EQ(first(numbers({"Incr_fn_tema_ef3cbc", {range(1, 30)}, {len(3)}})), 7);
  EXPECT_EQ(first(numbers({"Incr_fn_fwma_69cd8f", {range(1, 30)}, {}})), 1);
  EXPECT_EQ(first(numbers({"Incr_fn_vwma_10c6d1", {range(1, 30)}, {len(4)}})), 4);
}

TEST(Averages, VolumeWeighted) {
  // Volumes of ctxOver are 10 + (i mod 7).
  const auto got = numbers({"Incr_fn_vwma_10c6d1", {{1, 2, 3}}, {len(2)}});
  EXPECT_TRUE(std::isnan(got[0]));
  EXPECT_DOUBLE_EQ(got[1], (1.0 * 10 + 2.0 * 11) / 2 / ((10.0 + 11) / 2));
  EXPECT_DOUBLE_EQ(got[2], (2.0 * 11 + 3.0 * 12) / 2 / ((11.0 + 12) / 2));
}

TEST(Crosses, TouchesAndMissingValues) {
  using B = std::optional<bool>;
  const B n = std::nullopt;
  struct Case {
    Feed run;
    std::vector<B> want;
  };
  const Case cases[] = {
      {{"Incr_fn_crossover_94210a", {{1, 3}, {2, 2}}, {}}, {false, true}},
      {{"Incr_fn_crossover_94210a", {{2, 3}, {2, 2}}, {}}, {false, true}},
      {{"Incr_fn_cross_0ddf1f", {{2, 3}, {2, 2}}, {}}, {false, false}},
      {{"Incr_fn_cross_0ddf1f", {{1, 3, 1}, {2, 2, 2}}, {}}, {false, true, true}},
      {{"Incr_fn_crossunder_ed654e", {{3, 1}, {2, 2}}, {}}, {false, true}},
      {{"Incr_fn_crossunder_ed654e", {{2, 1}, {2, 2}}, {}}, {false, true}},
      {{"Incr_fn_crossover_94210a", {{1, NaN, 3}, {2, 2, 2}}, {}}, {false, n, false}},
      {{"Incr_fn_cross_0ddf1f", {{1, 3}, {2, NaN}}, {}}, {false, n}},
  };
  for (const Case& c : cases) EXPECT_EQ(booleans(c.run), c.want) << c.run.cls;
  using I = std::optional<int64_t>;
  EXPECT_EQ(integers({"Incr_fn_barssince_a2ae8d", {{NaN, 0, 1, 0, NaN, 1}}, {}}),
            (std::vector<I>{std::nullopt, std::nullopt, 0, 1, 2, 0}));
}

TEST(Extremes, ScansWithTiesAndMissingValues) {
  using I = std::optional<int64_t>;
  const I n = std::nullopt;
  expectNumbers({"Incr_fn_highest_84f508", {{1, 5, 2, 4}}, {len(3)}}, {NaN, NaN, 5, 5});
  EXPECT_EQ(integers({"Incr_fn_highestbars_406610", {{1, 5, 2, 4}}, {len(3)}}), (std::vector<I>{n, n, -1, -2}));
  EXPECT_EQ(integers({"Incr_fn_highestbars_406610", {{2, 2, 2}}, {len(3)}}), (std::vector<I>{n, n, -2}));
  EXPECT_EQ(integers({"Incr_fn_lowestbars_45ca87", {{2, 2, 2, 1}}, {len(3)}}), (std::vector<I>{n, n, -2, 0}));
  expectNumbers({"Incr_fn_lowest_4e830f", {{3, NaN, 1}}, {len(3)}}, {NaN, NaN, 1});
  expectNumbers({"Incr_fn_lowest_4e830f", {{3, 1, NaN}}, {len(3)}}, {NaN, NaN, NaN});
  EXPECT_EQ(integers({"Incr_fn_lowestbars_45ca87", {{3, 1, NaN}}, {len(3)}}), (std::vector<I>{n, n, 0}));
  expectNumbers({"Incr_fn_lowest_4e830f", {{3, 1, 2, 5}}, {len(3)}}, {NaN, NaN, 1, 1});
  expectNumbers({"Incr_fn_highest_84f508", {{4, 7, 1}}, {len(1)}}, {4, 7, 1});
}

TEST(Mechanism, LengthsBelowOneAndMissingLengthsGiveMissingResults) {
  for (const Declaration* d : declarations()) {
    bool hasLength = false;
    for (const ArgDecl& a : d->args) hasLength |= a.kind == ArgKind::Length;
    if (!hasLength) continue;
    for (int64_t bad : {int64_t{0}, int64_t{-1}, int64_t{-1000000000000}}) {
      Feed run{d->className.c_str(), {}, {}};
      for (const ArgDecl& a : d->args) {
        if (a.isSeries())
          run.columns.push_back({1, 2, 3});
        else
          run.params.push_back(a.kind == ArgKind::Length ? len(bad) : ArgValue::absent());
      }
      for (const StepResult& r : runNext(run)) {
        EXPECT_TRUE(std::isnan(r.num[0]) && std::isnan(r.num[1]) && std::isnan(r.num[2])) << d->className;
        EXPECT_EQ(r.integer, std::nullopt) << d->className;
        EXPECT_EQ(r.flag, 2) << d->className;
      }
    }
  }
  // stdev has no default length: leaving it out gives NaN.
  expectNumbers({"Incr_fn_stdev_d87475", {{1, 2, 3}}, {}}, {NaN, NaN, NaN});
  // Huge lengths neither loop nor allocate beyond the history.
  const ArgValue huge = len(int64_t{1} << 52);
  for (const char* cls : {"Incr_fn_wma_5c3876", "Incr_fn_fwma_69cd8f", "Incr_fn_hma_3a3f74", "Incr_fn_dev_402351",
                          "Incr_fn_highest_84f508", "Incr_fn_sma_059403", "Incr_fn_ema_7bc747"})
    expectNumbers({cls, {{1, 2, 3}}, {huge}}, {NaN, NaN, NaN});
  expectNumbers({"Incr_fn_stdev_d87475", {{1, 2, 3}}, {huge}}, {NaN, NaN, NaN});
}

// Every declared class keeps only the built-in series its `reads` names: a forgotten one would
// read as NaN and change results, which this comparison with an instance that keeps all of them
// catches. It also runs each class twice over the same bars, once with next and once with collect.
TEST(Mechanism, ReadsAndCollectAgreeWithNextForEveryClass) {
  Ohlcv o;
  for (int i = 0; i < 80; ++i) {
    const double c = 50 + 10 * std::sin(i / 4.0) + (i % 5);
    OhlcvBar b = bar(c - std::cos(i), c + 1 + (i % 3), c - 1 - (i % 2), c, 100 + (i * 37) % 11 * 20, int64_t{i} * 60000);
    b.closeTime = DateTime::fromMillis(int64_t{i} * 60000 + 59999);
    o.bars.push_back(b);
  }
  const ArcOhlcv series(std::move(o));
  const auto ctxFresh = [&] { return SharedCtx(Ctx{Sym{}, series, 0, false}); };

  for (const Declaration* d : declarations()) {
    std::vector<std::vector<double>> columns;
    std::vector<ArgValue> fixed;
    for (const ArgDecl& a : d->args) {
      const size_t k = columns.size();
      if (a.kind == ArgKind::Series) {
        std::vector<double> xs;
        for (int i = 0; i < 80; ++i) xs.push_back(i % 19 == 7 ? NaN : 40 + 12 * std::sin(i / (3.0 + k)) + i % 4);
        columns.push_back(xs);
      } else if (a.kind == ArgKind::Flags) {
        std::vector<double> fs;
        for (int i = 0; i < 80; ++i) fs.push_back(i % 5 == 0 ? 1 : i % 3 == 0 ? NaN : 0);
        columns.push_back(fs);
      }
      switch (a.kind) {
        case ArgKind::Length:
        case ArgKind::OptLength: fixed.push_back(len(4)); break;
        case ArgKind::Number: fixed.push_back(ArgValue::num(2.5)); break;
        default: fixed.push_back(ArgValue::absent()); break;
      }
    }
    std::vector<int8_t> flagCodes[16];
    std::vector<CollectArg> cargs;
    size_t col = 0;
    for (size_t i = 0; i < d->args.size(); ++i) {
      if (d->args[i].kind == ArgKind::Series) {
        cargs.push_back(CollectArg::ofNumbers(columns[col++]));
      } else if (d->args[i].kind == ArgKind::Flags) {
        for (double f : columns[col]) flagCodes[i].push_back(std::isnan(f) ? 2 : static_cast<int8_t>(f != 0));
        ++col;
        cargs.push_back(CollectArg::ofFlags(flagCodes[i]));
      } else {
        cargs.push_back(CollectArg::ofValue(fixed[i]));
      }
    }

    auto ctxA = ctxFresh(), ctxB = ctxFresh();
    auto lean = d->make(ctxA);
    auto full = d->makeKeepingAll(ctxB);
    std::vector<StepResult> stepped;
    for (int i = 0; i < 80; ++i) {
      ASSERT_TRUE(advance(ctxA));
      std::vector<ArgValue> args = fixed;
      col = 0;
      for (size_t k = 0; k < d->args.size(); ++k) {
        if (d->args[k].kind == ArgKind::Series) args[k] = ArgValue::num(columns[col++][i]);
        if (d->args[k].kind == ArgKind::Flags) {
          const double f = columns[col++][i];
          args[k] = ArgValue::optBool(std::isnan(f) ? std::nullopt : std::optional<bool>(f != 0));
        }
      }
      auto r = lean->next(args.data());
      ASSERT_TRUE(r.ok());
      stepped.push_back(*r);
    }
    auto collected = full->collect(cargs.data());
    ASSERT_TRUE(collected.ok());
    ASSERT_EQ(collected->steps, stepped.size()) << d->className;
    for (size_t i = 0; i < stepped.size(); ++i) {
      const StepResult a = stepped[i], b = collected->at(i);
      for (int k = 0; k < 3; ++k) EXPECT_TRUE(same(a.num[k], b.num[k])) << d->className << " bar " << i;
      EXPECT_EQ(a.integer, b.integer) << d->className << " bar " << i;
      EXPECT_EQ(a.flag, b.flag) << d->className << " bar " << i;
    }
    // Nothing kept beyond what the step reads.
    const uint16_t reads = d->reads;
    EXPECT_EQ(lean->runtime().close.length(), (reads & kClose) ? 80 : 0) << d->className;
    EXPECT_EQ(lean->runtime().bar_index.length(), (reads & kBarIndex) ? 80 : 0) << d->className;
  }
}

TEST(Mechanism, CollectStartsAfterTheCurrentBarAndSharesTheCursor) {
  SharedCtx ctx = ctxOver(range(1, 10));
  const Declaration* cum = findDeclaration("Incr_fn_cum_c1d3ea");
  for (int i = 0; i < 6; ++i) ASSERT_TRUE(advance(ctx));  // at bar 5
  auto a = cum->make(ctx);
  auto b = cum->make(ctx);
  const std::vector<double> xs = range(0, 9);
  CollectArg arg = CollectArg::ofNumbers(xs);
  auto r = a->collect(&arg);
  ASSERT_TRUE(r.ok());
  ASSERT_EQ(r->steps, 4u);  // bars 6..9 read elements 6..9
  EXPECT_EQ(r->num, (std::vector<double>{6, 13, 21, 30}));
  auto again = b->collect(&arg);  // same cursor: already at the end
  ASSERT_TRUE(again.ok());
  EXPECT_EQ(again->steps, 0u);

  // A copy of the context walks alone.
  SharedCtx copy(ctx.read([](const Ctx& c) { return c; }).value());
  ASSERT_TRUE(copy.write([](Ctx& c) { c.reset(); }).ok());
  auto c = cum->make(copy);
  auto all = c->collect(&arg);
  ASSERT_TRUE(all.ok());
  EXPECT_EQ(all->steps, 10u);
  EXPECT_EQ(ctx.read([](const Ctx& x) { return x.barIndex; }).value(), 9u);
}
