#include "core/timeframe.h"

#include <gtest/gtest.h>

using bw::Timeframe;
using bw::TimeUnit;

TEST(Timeframe, ParsesAndPrints) {
  struct Case {
    const char* text;
    const char* printed;
  } cases[] = {
      {"15m", "15m"}, {"1M", "1M"},   {"D1", "1D"},   {"007h", "7h"},   {"0D", "0D"},
      {"1h30m", "?"}, {" 5m", "?"},   {"+5D", "?"},   {"?", "?"},       {"", "?"},
      {"abc", "?"},   {"5", "?"},     {"5d", "?"},    {"5\xd9\xa3" "D", "?"},
      {"99999999999999999999D", "?"}, {"18446744073709551615D", "18446744073709551615D"},
  };
  for (const auto& c : cases) EXPECT_EQ(Timeframe::fromString(c.text).toString(), c.printed) << c.text;
}

TEST(Timeframe, LengthsBothWays) {
  EXPECT_EQ(*Timeframe::of(TimeUnit::Days, -1).durationSeconds(), -86400);
  EXPECT_EQ(*Timeframe::of(TimeUnit::Months, 1).durationSeconds(), 2592000);
  EXPECT_FALSE(Timeframe::of(TimeUnit::Ticks, 10).durationSeconds().ok());
  EXPECT_FALSE(Timeframe::unknown().durationSeconds().ok());
  EXPECT_FALSE(Timeframe::of(TimeUnit::Years, 300000000).durationSeconds().ok());

  struct Case {
    int64_t seconds;
    const char* debug;
  } cases[] = {{86400, "Days(1)"},   {90000, "Days(1)"},    {5400, "Hours(1)"},   {604800, "Weeks(1)"},
               {2592000, "Months(1)"}, {31536000, "Years(1)"}, {59, "Seconds(59)"}, {0, "Unknown"},
               {-60, "Unknown"},       {-2592000, "Months(18446744073709551615)"}};
  for (const auto& c : cases) EXPECT_EQ(Timeframe::fromDurationSeconds(c.seconds).debug(), c.debug) << c.seconds;
}

// The largest count of each unit that still converts, its neighbour, and the counts whose product
// would leave 64 bits; limits worked out by hand from floor(9223372036854775 / seconds per unit).
TEST(Timeframe, LengthLimits) {
  struct Case {
    TimeUnit unit;
    uint64_t count;
    int64_t seconds;  // 0: refused
  } cases[] = {
      {TimeUnit::Years, 292471208, 9223372015488000},
      {TimeUnit::Years, 292471209, 0},
      {TimeUnit::Years, static_cast<uint64_t>(-292471208), -9223372015488000},
      {TimeUnit::Years, static_cast<uint64_t>(-292471209), 0},
      {TimeUnit::Minutes, 153722867280912, 9223372036854720},
      {TimeUnit::Minutes, 153722867280913, 0},
      {TimeUnit::Seconds, 9223372036854775, 9223372036854775},
      {TimeUnit::Seconds, 9223372036854776, 0},
      {TimeUnit::Seconds, static_cast<uint64_t>(-9223372036854775), -9223372036854775},
      {TimeUnit::Seconds, static_cast<uint64_t>(-9223372036854776), 0},
      {TimeUnit::Seconds, uint64_t{1} << 63, 0},  // the most negative count
      {TimeUnit::Days, UINT64_MAX, -86400},        // reads as -1
      {TimeUnit::Days, uint64_t{1} << 62, 0},      // the product would wrap to 0 in 64 bits
  };
  for (const auto& c : cases) {
    const auto r = Timeframe{c.unit, c.count}.durationSeconds();
    if (c.seconds == 0)
      EXPECT_FALSE(r.ok()) << Timeframe{c.unit, c.count}.debug();
    else
      EXPECT_EQ(*r, c.seconds) << Timeframe{c.unit, c.count}.debug();
  }
}

TEST(Timeframe, Equality) {
  EXPECT_EQ(Timeframe::of(TimeUnit::Minutes, 15), Timeframe::fromString("15m"));
  EXPECT_NE(Timeframe::of(TimeUnit::Days, 1), Timeframe::of(TimeUnit::Hours, 24));
  EXPECT_EQ(Timeframe::unknown(), Timeframe::fromString("nope"));
}

TEST(Timeframe, MostNegativeLengthIsYears) {
  EXPECT_EQ(Timeframe::fromDurationSeconds(INT64_MIN).unit, TimeUnit::Years);
}
