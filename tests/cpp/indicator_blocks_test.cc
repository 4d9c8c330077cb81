// The building blocks shared by the oscillator and band indicators, fed step by step the way an
// indicator's step feeds them: push the input, then update the block once.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "runtime/series.h"
#include "runtime/utils.h"

using namespace bw;
using namespace bw::rt;

namespace {

const double NaN = kNaN;

// One update of the block per input value; the value of each step.
template <class F>
std::vector<double> run(const std::vector<double>& xs, F&& update) {
  NumSeries x;
  std::vector<double> out;
  for (double v : xs) {
    x.push(v);
    out.push_back(update(x));
  }
  return out;
}

void expectSame(const std::vector<double>& got, const std::vector<double>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i) {
    if (std::isnan(want[i]))
      EXPECT_TRUE(std::isnan(got[i])) << "step " << i + 1 << ": " << got[i];
    else
      EXPECT_DOUBLE_EQ(got[i], want[i]) << "step " << i + 1;
  }
}

TEST(StandardDeviation, MissingDuringWarmUpThenTheDeviation) {
  StandardDeviation sd;
  expectSame(run({2, 4, 4, 4, 5, 5, 7, 9}, [&](const NumSeries& x) { return sd.update(x, 8, true); }),
             {NaN, NaN, NaN, NaN, NaN, NaN, NaN, 2});
  StandardDeviation unbiased;
  expectSame(run({1, 3}, [&](const NumSeries& x) { return unbiased.update(x, 2, false); }), {NaN, std::sqrt(2.0)});
}

TEST(StandardDeviation, OnlyFloatNoiseCountsAsZero) {
  StandardDeviation flat, tiny, noise, gap;
  expectSame(run({3, 3, 3}, [&](const NumSeries& x) { return flat.update(x, 2, true); }), {NaN, 0, 0});
  // deviations of 5e-5 are real moves: the population deviation of {1, 1.0001} is 5e-5
  const auto small = run({1, 1.0001}, [&](const NumSeries& x) { return tiny.update(x, 2, true); });
  EXPECT_TRUE(std::isnan(small[0]));
  EXPECT_NEAR(small[1], 5e-5, 1e-17);
  // deviations of 5e-11 are float noise
  expectSame(run({1, 1 + 1e-10}, [&](const NumSeries& x) { return noise.update(x, 2, true); }), {NaN, 0});
  // a missing value inside the window after warm-up makes the value missing
  expectSame(run({1, 3, NaN, 4, 6}, [&](const NumSeries& x) { return gap.update(x, 2, true); }), {NaN, 1, NaN, NaN, 1});
}

TEST(StandardDeviation, HugeLengthStaysMissingWithoutWalkingTheWindow) {
  StandardDeviation sd;
  expectSame(run({1, 2}, [&](const NumSeries& x) { return sd.update(x, int64_t{1} << 40, true); }), {NaN, NaN});
  StandardDeviation none;
  expectSame(run({1, 2}, [&](const NumSeries& x) { return none.update(x, 0, true); }), {NaN, NaN});
}

TEST(MeanDeviation, MissingInsideTheWindowIsMissing) {
  MeanDeviation dev, gap;
  expectSame(run({1, 2, 3, 6}, [&](const NumSeries& x) { return dev.update(x, 3); }), {NaN, NaN, 2.0 / 3, 14.0 / 9});
  // the window sum counts the missing value as 0 after warm-up, the deviation does not
  expectSame(run({1, 2, NaN}, [&](const NumSeries& x) { return gap.update(x, 2); }), {NaN, 0.5, NaN});
}

TEST(Swma, FourValuesWeightedOneTwoTwoOne) {
  expectSame(run({1, 2, 3, 4, NaN}, [](const NumSeries& x) { return swma(x); }), {NaN, NaN, NaN, 2.5, NaN});
}

TEST(MaxOfMinOf, MissingWhenEitherOperandIs) {
  EXPECT_EQ(maxOf(1, 2), 2);
  EXPECT_EQ(minOf(1, 2), 1);
  EXPECT_TRUE(std::isnan(maxOf(NaN, 2)));
  EXPECT_TRUE(std::isnan(maxOf(2, NaN)));
  EXPECT_TRUE(std::isnan(minOf(NaN, 2)));
  EXPECT_TRUE(std::isnan(minOf(2, NaN)));
}

}  // namespace
