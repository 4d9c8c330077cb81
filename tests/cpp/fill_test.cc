#include "core/fill.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

#include "core/sym.h"

using namespace bw;

namespace {

// The inline rounding must give the library's round bit for bit: halves, the largest double
// below one half, both sides of 2^52, signed zeros, huge and missing values.
TEST(Fill, RoundHalfAwayIsTheLibraryRound) {
  const double inf = std::numeric_limits<double>::infinity();
  const double cases[] = {0.0,
                          -0.0,
                          0.5,
                          -0.5,
                          1.5,
                          2.5,
                          -2.5,
                          0.49999999999999994,
                          -0.49999999999999994,
                          std::nextafter(0.5, 1.0),
                          4503599627370495.5,
                          -4503599627370495.5,
                          4503599627370496.0,
                          4503599627370497.0,
                          9007199254740993.0,
                          1e300,
                          -1e300,
                          5e-324,
                          -5e-324,
                          inf,
                          -inf,
                          std::nan("")};
  for (double x : cases) {
    SCOPED_TRACE(x);
    EXPECT_EQ(std::bit_cast<uint64_t>(roundHalfAway(x)), std::bit_cast<uint64_t>(std::round(x)));
  }
  std::mt19937_64 rng(7);
  std::uniform_int_distribution<int> exponent(-20, 60);
  std::uniform_real_distribution<double> mantissa(-1, 1);
  for (int i = 0; i < 100000; ++i) {
    const double x = std::ldexp(mantissa(rng), exponent(rng));
    ASSERT_EQ(std::bit_cast<uint64_t>(roundHalfAway(x)), std::bit_cast<uint64_t>(std::round(x))) << x;
  }
}

TEST(Fill, RoundToTickIsRoundToMinTick) {
  const double ticks[] = {0.01, 0.25, 1e-8, 0.1, 5, std::nan("")};
  const double values[] = {100.005, 100.015, -3.125, 0.0, -0.0, 1e17, 123456.789, std::nan(""),
                           std::numeric_limits<double>::infinity()};
  for (double tick : ticks)
    for (double v : values) {
      SCOPED_TRACE(testing::Message() << v << " on " << tick);
      EXPECT_EQ(std::bit_cast<uint64_t>(roundToTick(v, tick)), std::bit_cast<uint64_t>(roundToMinTick(v, tick)));
    }
}

}  // namespace
