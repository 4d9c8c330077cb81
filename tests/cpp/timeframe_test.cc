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

TEST(Timeframe, Equality) {
  EXPECT_EQ(Timeframe::of(TimeUnit::Minutes, 15), Timeframe::fromString("15m"));
  EXPECT_NE(Timeframe::of(TimeUnit::Days, 1), Timeframe::of(TimeUnit::Hours, 24));
  EXPECT_EQ(Timeframe::unknown(), Timeframe::fromString("nope"));
}

TEST(Timeframe, MostNegativeLengthIsYears) {
  EXPECT_EQ(Timeframe::fromDurationSeconds(INT64_MIN).unit, TimeUnit::Years);
}
