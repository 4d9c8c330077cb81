#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "core/metrics.h"
#include "core/stats.h"

namespace {

using bw::TimeUnit;
using bw::Timeframe;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(Stats, EmptySumIsNegativeZeroAndTheRestNaN) {
  std::vector<double> none;
  EXPECT_TRUE(std::signbit(bw::sum(none)));
  EXPECT_EQ(bw::sum(none), 0.0);
  EXPECT_TRUE(std::isnan(bw::mean(none)));
  EXPECT_TRUE(std::isnan(bw::variance(none)));
  EXPECT_TRUE(std::isnan(bw::stdev(none)));
}

TEST(Stats, ReturnsWithAndWithoutLeadingNaN) {
  std::vector<double> xs{100, 110, 99};
  auto plain = bw::returns(xs);
  ASSERT_EQ(plain.size(), 2u);
  EXPECT_DOUBLE_EQ(plain[0], 0.1);
  EXPECT_DOUBLE_EQ(plain[1], -0.1);
  auto padded = bw::returns(xs, true);
  ASSERT_EQ(padded.size(), 3u);
  EXPECT_TRUE(std::isnan(padded[0]));
  EXPECT_EQ(bw::returns(std::vector<double>{}, true).size(), 1u);
}

TEST(Stats, AnnualizationFactor) {
  EXPECT_DOUBLE_EQ(*bw::annualizationFactor(Timeframe::of(TimeUnit::Days, 1), 252), 252);
  EXPECT_DOUBLE_EQ(*bw::annualizationFactor(Timeframe::of(TimeUnit::Minutes, 1), 365), 525600);
  EXPECT_DOUBLE_EQ(*bw::annualizationFactor(Timeframe::of(TimeUnit::Months, 1), 252), 8.4);
  EXPECT_TRUE(std::isinf(*bw::annualizationFactor(Timeframe::of(TimeUnit::Hours, 0), 252)));
  auto unknown = bw::annualizationFactor(Timeframe::of(TimeUnit::Ticks, 1), 252);
  ASSERT_FALSE(unknown.ok());
  EXPECT_EQ(unknown.error().reason, "Unknown timeframe");
  // A count whose length in seconds overflows 64 bits, and one just past the span of a duration.
  EXPECT_FALSE(bw::annualizationFactor(Timeframe{TimeUnit::Years, 1ull << 62}, 252).ok());
  EXPECT_FALSE(bw::annualizationFactor(Timeframe::of(TimeUnit::Seconds, 9223372036854776LL), 252).ok());
  EXPECT_TRUE(bw::annualizationFactor(Timeframe::of(TimeUnit::Seconds, 9223372036854775LL), 252).ok());
}

TEST(Metrics, ExpectancyDropsTheSmallestWinAndCountsZeroAsALoss) {
  struct Case {
    std::vector<double> pnl;
    double want;
  } cases[] = {
      {{10, 20, -5, -15}, 0},
      {{10, -5}, 0.5},
      {{5, 5, -5}, 0},
      {{20, 10, 0}, std::numeric_limits<double>::infinity()},  // the only loss is 0: avgLoss 0
      {{10, 20}, kNaN},
      {{}, kNaN},
  };
  for (const auto& c : cases) {
    const double got = bw::expectancy(c.pnl);
    if (std::isnan(c.want))
      EXPECT_TRUE(std::isnan(got));
    else
      EXPECT_DOUBLE_EQ(got, c.want);
  }
}

TEST(Metrics, SortinoUsesTheDeviationOfLossesAroundTheirOwnMean) {
  std::vector<double> r{0.1, -0.05, 0.02, -0.01};
  // Losses [-0.05, -0.01]: mean -0.03, population deviation 0.02.
  EXPECT_NEAR(bw::sortinoRatioFromReturns(r, 0.005), (0.015 - 0.005) / 0.02, 1e-12);
  EXPECT_TRUE(std::isnan(bw::sortinoRatioFromReturns(std::vector<double>{0.1, -0.05}, 0)));
}

TEST(Metrics, ZeroDivisorMeansExactlyZero) {
  EXPECT_TRUE(std::isnan(bw::profitFactor(1, 0)));
  EXPECT_TRUE(std::isnan(bw::profitFactor(1, -0.0)));
  EXPECT_TRUE(std::isnan(bw::profitFactor(1, kNaN)));
  EXPECT_DOUBLE_EQ(bw::profitFactor(1, 1e-300), 1e300);
  EXPECT_TRUE(std::isnan(bw::winRate(1, 0)));
  EXPECT_TRUE(std::isinf(bw::netProfitPct(1, 0)));
}

}  // namespace

namespace {

struct DrawdownCase {
  const char* name;
  std::vector<double> equity;
  double amount;
  std::optional<size_t> peak, trough, recovery;
};

class MaxDrawdown : public ::testing::TestWithParam<DrawdownCase> {};

TEST_P(MaxDrawdown, FindsTheLargestFallFromARunningPeak) {
  const DrawdownCase& c = GetParam();
  const bw::Drawdown d = bw::maxDrawdown(c.equity);
  EXPECT_EQ(d.amount, c.amount);
  EXPECT_EQ(d.peak, c.peak);
  EXPECT_EQ(d.trough, c.trough);
  EXPECT_EQ(d.recovery, c.recovery);
  if (c.peak) {
    EXPECT_DOUBLE_EQ(d.fraction, c.amount / c.equity[*c.peak]);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MaxDrawdown,
    ::testing::Values(DrawdownCase{"Empty", {}, 0, {}, {}, {}},
                      DrawdownCase{"NeverFalls", {100, 100, 120}, 0, {}, {}, {}},
                      DrawdownCase{"Recovers", {100, 110, 90, 105, 111, 95}, 20, 1, 2, 4},
                      DrawdownCase{"LaterLargerFallFromANewPeak", {100, 90, 130, 100, 95}, 35, 2, 4, {}},
                      DrawdownCase{"EqualFallsTheFirstCounts", {100, 90, 100, 90}, 10, 0, 1, 2},
                      DrawdownCase{"PendingEntriesAreSkipped", {100, kNaN, 80, kNaN, 100}, 20, 0, 2, 4}),
    [](const ::testing::TestParamInfo<DrawdownCase>& info) { return std::string(info.param.name); });

}  // namespace
