#include "core/datetime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/numfmt.h"

using bw::DateTime;

namespace {

DateTime at(int y, unsigned mo, unsigned d, unsigned h = 0, unsigned mi = 0, unsigned s = 0, uint32_t ns = 0) {
  auto t = DateTime::fromCivil(y, mo, d, h, mi, s, ns);
  EXPECT_TRUE(t.has_value()) << y << "-" << mo << "-" << d;
  return t.value_or(DateTime{});
}

}  // namespace

TEST(NumberFormat, ShortestRoundTripWithFraction) {
  struct Case {
    double x;
    const char* text;
  } cases[] = {
      {1.0, "1.0"},
      {0.1, "0.1"},
      {-0.0, "-0.0"},
      {0.0, "0.0"},
      {101.25, "101.25"},
      {99.75, "99.75"},
      {1200.0, "1200.0"},
      {1e15, "1000000000000000.0"},
      {9999999999999998.0, "9999999999999998.0"},
      {1e16, "1e16"},
      {-2.5e20, "-2.5e20"},
      {1.5e-5, "1.5e-5"},
      {1e-4, "0.0001"},
      {0.00012345, "0.00012345"},
      {9.99e-5, "9.99e-5"},
      {1.0 / 3.0, "0.3333333333333333"},
      {0.1 + 0.2, "0.30000000000000004"},
      {std::numeric_limits<double>::max(), "1.7976931348623157e308"},
      {std::numeric_limits<double>::denorm_min(), "5e-324"},
      {std::nan(""), "NaN"},
      {std::numeric_limits<double>::infinity(), "inf"},
      {-std::numeric_limits<double>::infinity(), "-inf"},
  };
  for (const auto& c : cases) EXPECT_EQ(bw::formatNumber(c.x), c.text);
}

TEST(DateTimeText, WriterFractionsAndYears) {
  struct Case {
    DateTime t;
    const char* rfc;
    const char* debug;
  } cases[] = {
      {at(2024, 3, 1, 9, 30), "2024-03-01T09:30:00+00:00", "2024-03-01T09:30:00Z"},
      {at(2024, 3, 1, 9, 30, 0, 250'000'000), "2024-03-01T09:30:00.250+00:00", "2024-03-01T09:30:00.250Z"},
      {at(2024, 3, 1, 9, 30, 0, 1'000), "2024-03-01T09:30:00.000001+00:00", "2024-03-01T09:30:00.000001Z"},
      {at(2024, 3, 1, 9, 30, 0, 1), "2024-03-01T09:30:00.000000001+00:00", "2024-03-01T09:30:00.000000001Z"},
      {at(2024, 3, 1, 9, 30, 0, 123'456'789), "2024-03-01T09:30:00.123456789+00:00",
       "2024-03-01T09:30:00.123456789Z"},
      {*DateTime::fromMillis(-1), "1969-12-31T23:59:59.999+00:00", "1969-12-31T23:59:59.999Z"},
      {at(0, 1, 1), "0000-01-01T00:00:00+00:00", "0000-01-01T00:00:00Z"},
      {at(10000, 1, 1), "+10000-01-01T00:00:00+00:00", "+10000-01-01T00:00:00Z"},
      {at(-1, 12, 31, 23, 59, 59), "-0001-12-31T23:59:59+00:00", "-0001-12-31T23:59:59Z"},
      {at(-32767, 1, 1), "-32767-01-01T00:00:00+00:00", "-32767-01-01T00:00:00Z"},
      {at(32767, 12, 31, 23, 59, 59), "+32767-12-31T23:59:59+00:00", "+32767-12-31T23:59:59Z"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.t.toRfc3339(), c.rfc);
    EXPECT_EQ(c.t.debug(), c.debug);
  }
  EXPECT_EQ(at(-32767, 1, 1).secs, DateTime::kMinSecs);
  EXPECT_EQ(at(32767, 12, 31, 23, 59, 59).secs, DateTime::kMaxSecs);
}

TEST(DateTimeText, ReaderAcceptsSeparatorsZonesAndOffsets) {
  struct Case {
    const char* text;
    DateTime want;
  } cases[] = {
      {"2024-01-01T10:00:00Z", at(2024, 1, 1, 10)},
      {"2024-01-01t10:00:00z", at(2024, 1, 1, 10)},
      {"2024-01-01 10:00:00+02:00", at(2024, 1, 1, 8)},
      {"2024-01-01T01:00:00+02:00", at(2023, 12, 31, 23)},
      {"2024-01-01T22:30:00-05:30", at(2024, 1, 2, 4)},
      {"2024-01-01T22:30:00\xe2\x88\x92" "05:30", at(2024, 1, 2, 4)},
      {"2024-03-01T09:30:00.25+00:00", at(2024, 3, 1, 9, 30, 0, 250'000'000)},
      {"2024-03-01T09:30:00.1234567891234Z", at(2024, 3, 1, 9, 30, 0, 123'456'789)},
      {"2024-02-29T00:00:00Z", at(2024, 2, 29)},
      {"0000-01-01T00:00:00+01:00", at(-1, 12, 31, 23)},
      {"9999-12-31T23:59:59.999999999-23:59", at(10000, 1, 1, 23, 58, 59, 999'999'999)},
  };
  for (const auto& c : cases) {
    auto r = DateTime::parseRfc3339(c.text);
    ASSERT_TRUE(r.ok()) << c.text << ": " << r.error().reason;
    EXPECT_EQ(*r, c.want) << c.text;
  }
}

TEST(DateTimeText, ReaderNamesEachFailure) {
  struct Case {
    const char* text;
    const char* reason;
  } cases[] = {
      {"", "premature end of input"},
      {"2024-01-01", "premature end of input"},
      {"2024-01-0", "premature end of input"},
      {"2024-01-01T10:00", "premature end of input"},
      {"2024-01-01T10:00:00", "premature end of input"},
      {"2024-01-01T10:00:00.", "premature end of input"},
      {"2024-01-01T10:00:00+02", "premature end of input"},
      {"2024-01-01T10:00:00+02:0", "premature end of input"},
      {"+10000-01-01T00:00:00+00:00", "input contains invalid characters"},
      {"24-01-01T10:00:00Z", "input contains invalid characters"},
      {"2024-1-01T10:00:00Z", "input contains invalid characters"},
      {"2024/01/01T10:00:00Z", "input contains invalid characters"},
      {"2024-01-01X10:00:00Z", "input contains invalid characters"},
      {"2024-01-01T10:00:00.Z", "input contains invalid characters"},
      {"2024-01-01T10:00:00 Z", "input contains invalid characters"},
      {"2024-01-01T10:00:00+0200", "input contains invalid characters"},
      {"2024-01-01T10:00:00UTC", "input contains invalid characters"},
      {"2024-01-01T10:00:00Zjunk", "trailing input"},
      {"2024-01-01T10:00:00+02:00 ", "trailing input"},
      {"2024-13-01T10:00:00Z", "input is out of range"},
      {"2024-00-01T10:00:00Z", "input is out of range"},
      {"2024-01-32T10:00:00Z", "input is out of range"},
      {"2023-02-29T10:00:00Z", "input is out of range"},
      {"2024-04-31T10:00:00Z", "input is out of range"},
      {"2024-01-01T24:00:00Z", "input is out of range"},
      {"2024-01-01T10:60:00Z", "input is out of range"},
      {"2024-01-01T10:00:61Z", "input is out of range"},
      {"2016-12-31T23:59:60Z", "input is out of range"},
      {"2024-01-01T10:00:00+24:00", "input is out of range"},
      {"2024-01-01T10:00:00+02:60", "input is out of range"},
  };
  for (const auto& c : cases) {
    auto r = DateTime::parseRfc3339(c.text);
    ASSERT_FALSE(r.ok()) << c.text;
    EXPECT_EQ(r.error().reason, c.reason) << c.text;
    EXPECT_EQ(r.error().status, bw::Status::InvalidArg);
  }
}

TEST(DateTimeText, RoundTripsToTheNanosecond) {
  for (uint32_t ns : {0u, 1u, 1'000u, 1'000'000u, 250'000'000u, 999'999'999u, 123'456'000u}) {
    for (int64_t secs : {int64_t{0}, int64_t{-1}, int64_t{1709285400}, int64_t{-62167219200}, int64_t{253402300799}}) {
      const DateTime t{secs, ns};
      auto back = DateTime::parseRfc3339(t.toRfc3339());
      ASSERT_TRUE(back.ok()) << t.toRfc3339();
      EXPECT_EQ(*back, t) << t.toRfc3339();
    }
  }
}

TEST(DateTimeCalendar, FieldsAndRange) {
  const DateTime t = at(2024, 3, 10, 13, 45, 7, 5);
  const auto c = t.civil();
  EXPECT_EQ(c.year, 2024);
  EXPECT_EQ(c.month, 3u);
  EXPECT_EQ(c.day, 10u);
  EXPECT_EQ(c.hour, 13u);
  EXPECT_EQ(c.minute, 45u);
  EXPECT_EQ(c.second, 7u);
  EXPECT_EQ(c.nanos, 5u);
  EXPECT_EQ(DateTime::fromMillis(-1)->civil().year, 1969);
  EXPECT_EQ(at(1969, 12, 31).days(), -1);

  EXPECT_FALSE(DateTime::fromCivil(2023, 2, 29).has_value());
  EXPECT_FALSE(DateTime::fromCivil(32768, 1, 1).has_value());
  EXPECT_FALSE(DateTime::fromCivil(-32768, 12, 31).has_value());
  EXPECT_FALSE(DateTime::fromCivil(2024, 1, 1, 24).has_value());
  EXPECT_FALSE(DateTime::fromMillis(8'640'000'000'000'000).has_value());
  EXPECT_FALSE(DateTime::fromSecs(DateTime::kMaxSecs + 1).has_value());
  EXPECT_FALSE(DateTime::fromSecs(0, 1'000'000'000).has_value());
  EXPECT_FALSE(DateTime::fromDays(DateTime::kMaxSecs / 86400 + 1).has_value());
  EXPECT_EQ(*DateTime::fromDays(-1), at(1969, 12, 31));
}

TEST(DateTimeCalendar, IsoWeeks) {
  struct Case {
    DateTime t;
    int year;
    unsigned week, weekday;
  } cases[] = {
      {at(2024, 3, 10), 2024, 10, 7},   // a Sunday
      {at(2024, 3, 4), 2024, 10, 1},    // the Monday before it
      {at(2024, 12, 30), 2025, 1, 1},   // belongs to the next ISO year
      {at(2021, 1, 3), 2020, 53, 7},    // belongs to the previous ISO year
      {at(1970, 1, 1), 1970, 1, 4},     // a Thursday
      {at(1970, 1, 5), 1970, 2, 1},
      {at(1969, 12, 29), 1970, 1, 1},
  };
  for (const auto& c : cases) {
    const auto w = c.t.isoWeek();
    EXPECT_EQ(w.year, c.year) << c.t.debug();
    EXPECT_EQ(w.week, c.week) << c.t.debug();
    EXPECT_EQ(w.weekday, c.weekday) << c.t.debug();
  }
  EXPECT_EQ(at(2024, 3, 10, 17).startOfIsoWeek(), at(2024, 3, 4));
  EXPECT_EQ(at(2024, 3, 4).startOfIsoWeek(), at(2024, 3, 4));
  EXPECT_EQ(at(1970, 1, 1, 5).startOfIsoWeek(), at(1969, 12, 29));
}

TEST(DateTimeCalendar, Arithmetic) {
  const DateTime t = at(2024, 1, 31, 12, 0, 0, 7);
  EXPECT_EQ(*t.plusMonths(1), at(2024, 2, 29, 12, 0, 0, 7));
  EXPECT_EQ(*t.plusMonths(-2), at(2023, 11, 30, 12, 0, 0, 7));
  EXPECT_EQ(*t.plusMonths(13), at(2025, 2, 28, 12, 0, 0, 7));
  EXPECT_EQ(*at(2024, 2, 29).plusYears(1), at(2025, 2, 28));
  EXPECT_EQ(*at(2024, 2, 29).plusYears(-4), at(2020, 2, 29));
  EXPECT_EQ(*at(1970, 1, 1).plusMonths(-1), at(1969, 12, 1));
  EXPECT_EQ(*t.plusDays(-31), at(2023, 12, 31, 12, 0, 0, 7));
  EXPECT_EQ(*t.plusWeeks(1), at(2024, 2, 7, 12, 0, 0, 7));
  EXPECT_EQ(*t.plusSeconds(12 * 3600), at(2024, 2, 1, 0, 0, 0, 7));

  EXPECT_EQ(at(2024, 3, 10, 13, 45).startOfDay(), at(2024, 3, 10));
  EXPECT_EQ(at(2024, 3, 10, 13, 45).startOfMonth(), at(2024, 3, 1));
  EXPECT_EQ(at(2024, 3, 10, 13, 45).startOfYear(), at(2024, 1, 1));
  EXPECT_EQ(DateTime::fromMillis(-1)->startOfDay(), at(1969, 12, 31));

  // Leaving the range is reported, never wrapped.
  const DateTime last = at(32767, 12, 31, 23, 59, 59);
  EXPECT_FALSE(last.plusSeconds(1).has_value());
  EXPECT_FALSE(last.plusDays(1).has_value());
  EXPECT_FALSE(last.plusMonths(1).has_value());
  EXPECT_FALSE(last.plusYears(1).has_value());
  EXPECT_FALSE(at(-32767, 1, 1).plusMonths(-1).has_value());
  EXPECT_FALSE(t.plusSeconds(std::numeric_limits<int64_t>::max()).has_value());
  EXPECT_FALSE(t.plusDays(std::numeric_limits<int64_t>::min()).has_value());
  EXPECT_FALSE(t.plusMonths(std::numeric_limits<int64_t>::max()).has_value());
  EXPECT_FALSE(t.plusYears(std::numeric_limits<int64_t>::min()).has_value());
}
