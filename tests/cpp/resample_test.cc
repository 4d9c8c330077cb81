#include "core/resample.h"

#include <gtest/gtest.h>

using bw::DateTime;
using bw::Ohlcv;
using bw::OhlcvBar;
using bw::OptTime;
using bw::Timeframe;
using bw::TimeUnit;

namespace {

DateTime at(int y, unsigned mo, unsigned d, unsigned h = 0, unsigned mi = 0, unsigned s = 0, uint32_t ns = 0) {
  return *DateTime::fromCivil(y, mo, d, h, mi, s, ns);
}

Timeframe tf(TimeUnit u, int64_t n) { return Timeframe::of(u, n); }

std::string start(const DateTime& t, TimeUnit u, int32_t n) {
  auto s = bw::bucketStart(t, u, n);
  return s ? s->debug() : "none";
}

// Bars of `step` seconds from `t0`, open = close = index, high = index + 1, low = index - 1.
Ohlcv steps(DateTime t0, int64_t step, int count) {
  Ohlcv o;
  for (int i = 0; i < count; ++i) {
    const DateTime open{t0.secs + i * step, 0};
    o.bars.push_back(OhlcvBar{open, DateTime{open.secs + step, 0}, double(i), double(i + 1), double(i - 1), double(i), 1});
  }
  return o;
}

std::vector<std::string> openTimes(const Ohlcv& o) {
  std::vector<std::string> out;
  for (const auto& b : o.bars) out.push_back(b.openTime ? b.openTime->debug() : "None");
  return out;
}

std::string reason(const bw::Result<Ohlcv>& r) { return r.ok() ? "ok" : r.error().reason; }

}  // namespace

TEST(Resample, BucketStarts) {
  const DateTime t = at(2024, 3, 10, 13, 47, 29, 500'000'000);  // a Sunday
  struct Case {
    DateTime t;
    TimeUnit unit;
    int32_t n;
    const char* want;
  } cases[] = {
      {t, TimeUnit::Years, 1, "2024-01-01T00:00:00Z"},
      {t, TimeUnit::Years, 5, "2020-01-01T00:00:00Z"},
      {at(1969, 6, 1), TimeUnit::Years, 5, "1970-01-01T00:00:00Z"},  // -1 rem 5 is -1: after the bar
      {at(1964, 6, 1), TimeUnit::Years, 5, "1965-01-01T00:00:00Z"},
      {t, TimeUnit::Months, 1, "2024-03-01T00:00:00Z"},
      {t, TimeUnit::Months, 3, "2024-01-01T00:00:00Z"},
      {at(2024, 5, 9), TimeUnit::Months, 3, "2024-04-01T00:00:00Z"},
      {at(1971, 3, 9), TimeUnit::Months, 13, "1971-02-01T00:00:00Z"},
      {at(1969, 12, 15), TimeUnit::Months, 3, "1970-01-01T00:00:00Z"},
      {at(1969, 9, 15), TimeUnit::Months, 3, "1969-10-01T00:00:00Z"},
      {t, TimeUnit::Weeks, 1, "2024-03-04T00:00:00Z"},
      {t, TimeUnit::Weeks, 2, "2024-03-04T00:00:00Z"},
      {at(2024, 3, 17), TimeUnit::Weeks, 2, "2024-03-04T00:00:00Z"},
      {at(2024, 3, 18), TimeUnit::Weeks, 2, "2024-03-18T00:00:00Z"},
      {at(1970, 1, 1), TimeUnit::Weeks, 1, "1969-12-29T00:00:00Z"},
      {at(1970, 1, 12), TimeUnit::Weeks, 2, "1970-01-05T00:00:00Z"},
      {t, TimeUnit::Days, 1, "2024-03-10T00:00:00Z"},
      {t, TimeUnit::Days, 3, "2024-03-09T00:00:00Z"},  // day 19792 rem 3 is 1
      {at(1969, 12, 31, 5), TimeUnit::Days, 2, "1970-01-01T00:00:00Z"},
      {t, TimeUnit::Hours, 1, "2024-03-10T13:00:00Z"},
      {t, TimeUnit::Hours, 4, "2024-03-10T12:00:00Z"},
      {at(2024, 3, 10, 23, 59), TimeUnit::Hours, 5, "2024-03-10T20:00:00Z"},  // restarts at midnight
      {t, TimeUnit::Hours, 48, "2024-03-10T00:00:00Z"},
      {t, TimeUnit::Minutes, 15, "2024-03-10T13:45:00Z"},
      {t, TimeUnit::Minutes, 7, "2024-03-10T13:42:00Z"},  // restarts each hour
      {t, TimeUnit::Seconds, 10, "2024-03-10T13:47:20Z"},
      {t, TimeUnit::Seconds, 1, "2024-03-10T13:47:29Z"},  // no fraction
      {t, TimeUnit::Unknown, 0, "2024-03-10T13:47:29.500Z"},
      {DateTime::fromMillis(-1).value(), TimeUnit::Hours, 1, "1969-12-31T23:00:00Z"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(start(c.t, c.unit, c.n), c.want) << c.t.debug() << " " << bw::unitName(c.unit) << "(" << c.n << ")";
}

TEST(Resample, ByCount) {
  const Ohlcv src = steps(at(2024, 1, 1), 60, 5);
  for (bool align : {true, false}) {
    auto r = bw::resample(src, tf(TimeUnit::Ticks, 2), align);
    ASSERT_TRUE(r.ok());
    ASSERT_EQ(r->bars.size(), 3u);
    EXPECT_EQ(r->bars[0].open, 0);
    EXPECT_EQ(r->bars[0].close, 1);
    EXPECT_EQ(r->bars[0].high, 2);
    EXPECT_EQ(r->bars[0].volume, 2);
    EXPECT_EQ(r->bars[2].open, 4);
    EXPECT_EQ(r->bars[2].volume, 1);
    EXPECT_EQ(r->timeframe.toString(), "2T");
  }
  auto same = bw::resample(src, tf(TimeUnit::Ranges, 0), false);
  ASSERT_EQ(same->bars.size(), 5u);
  EXPECT_EQ(same->bars[3].debug(), src.bars[3].debug());
  // Times play no part.
  Ohlcv timeless;
  timeless.bars.assign(3, OhlcvBar{OptTime{}, OptTime{}, 1, 2, 0, 1, 1});
  EXPECT_EQ(bw::resample(timeless, tf(TimeUnit::Ticks, 2), true)->bars.size(), 2u);
  // A count that wraps negative groups everything.
  EXPECT_EQ(bw::resample(src, tf(TimeUnit::Ticks, -1), true)->bars.size(), 1u);
}

TEST(Resample, CalendarBuckets) {
  // One-minute bars 09:00 .. 10:59.
  const Ohlcv src = steps(at(2024, 3, 1, 9), 60, 120);
  auto hours = bw::resample(src, tf(TimeUnit::Hours, 1), true);
  ASSERT_TRUE(hours.ok());
  ASSERT_EQ(hours->bars.size(), 2u);
  const OhlcvBar& h0 = hours->bars[0];
  EXPECT_EQ(h0.openTime->debug(), "2024-03-01T09:00:00Z");
  EXPECT_EQ(h0.closeTime->debug(), "2024-03-01T10:00:00Z");
  EXPECT_EQ(hours->bars[1].closeTime->debug(), "2024-03-01T11:00:00Z");
  EXPECT_EQ(h0.open, 0);
  EXPECT_EQ(h0.close, 59);
  EXPECT_EQ(h0.high, 60);
  EXPECT_EQ(h0.low, -1);
  EXPECT_EQ(h0.volume, 60);

  auto quarters = bw::resample(src, tf(TimeUnit::Minutes, 15), true);
  ASSERT_EQ(quarters->bars.size(), 8u);
  EXPECT_EQ(quarters->bars[7].openTime->debug(), "2024-03-01T10:45:00Z");
  EXPECT_EQ(quarters->bars[0].closeTime->debug(), "2024-03-01T09:15:00Z");  // the last member's close

  // Calendar days close 24 hours after they open, whatever their bars say; minutes keep theirs.
  Ohlcv day;
  day.bars.push_back(OhlcvBar{at(2024, 3, 1, 9, 30), at(2024, 3, 1, 9, 35), 1, 1, 1, 1, 1});
  day.bars.push_back(OhlcvBar{at(2024, 3, 1, 9, 31), OptTime{}, 2, 2, 2, 2, 1});
  auto days = bw::resample(day, tf(TimeUnit::Days, 1), true);
  ASSERT_EQ(days->bars.size(), 1u);
  EXPECT_EQ(days->bars[0].openTime->debug(), "2024-03-01T00:00:00Z");
  EXPECT_EQ(days->bars[0].closeTime->debug(), "2024-03-02T00:00:00Z");
  EXPECT_EQ(days->bars[0].close, 1);  // an absent close time never replaces a present one
  auto fives = bw::resample(day, tf(TimeUnit::Minutes, 5), true);
  EXPECT_EQ(fives->bars[0].closeTime->debug(), "2024-03-01T09:35:00Z");
  EXPECT_EQ(bw::resample(day, tf(TimeUnit::Days, 2), true)->bars[0].closeTime->debug(), "2024-03-02T00:00:00Z");
  EXPECT_EQ(bw::resample(day, tf(TimeUnit::Hours, 4), true)->bars[0].closeTime->debug(), "2024-03-01T12:00:00Z");
}

TEST(Resample, CalendarBeforeTheEpoch) {
  // Negative month counts round toward zero: the bucket of December 1969 starts in January 1970,
  // and its bars, opening before the bucket, then give the group their open.
  Ohlcv src;
  src.bars.push_back(OhlcvBar{at(1969, 12, 20), at(1969, 12, 21), 20, 21, 19, 20, 1});
  src.bars.push_back(OhlcvBar{at(1969, 12, 15), at(1969, 12, 16), 15, 16, 14, 15, 1});
  auto r = bw::resample(src, tf(TimeUnit::Months, 3), true);
  ASSERT_EQ(r->bars.size(), 1u);
  EXPECT_EQ(r->bars[0].openTime->debug(), "1969-12-15T00:00:00Z");
  EXPECT_EQ(r->bars[0].open, 15);
  EXPECT_EQ(r->bars[0].close, 20);
  // In stored order: the first bar starts the group at the bucket start, the earlier second one
  // replaces its open.
  std::swap(src.bars[0], src.bars[1]);
  r = bw::resample(src, tf(TimeUnit::Months, 3), true);
  EXPECT_EQ(r->bars[0].openTime->debug(), "1969-12-20T00:00:00Z");
  EXPECT_EQ(r->bars[0].open, 20);
}

TEST(Resample, CalendarGroupsOnlyNeighbours) {
  Ohlcv src;
  for (int h : {9, 10, 9, 9}) src.bars.push_back(OhlcvBar{at(2024, 1, 1, h), at(2024, 1, 1, h, 30), 1, 1, 1, 1, 1});
  auto r = bw::resample(src, tf(TimeUnit::Hours, 1), true);
  EXPECT_EQ(openTimes(*r), (std::vector<std::string>{"2024-01-01T09:00:00Z", "2024-01-01T10:00:00Z", "2024-01-01T09:00:00Z"}));
  EXPECT_EQ(r->bars[2].volume, 2);
  auto unknown = bw::resample(src, Timeframe::unknown(), true);
  EXPECT_EQ(unknown->bars.size(), 3u);
  EXPECT_EQ(unknown->timeframe.toString(), "?");
  // Weeks: a Sunday belongs to the week of the Monday before.
  Ohlcv daily = steps(at(2024, 3, 4), 86400, 14);  // Monday 4th .. Sunday 17th
  auto weeks = bw::resample(daily, tf(TimeUnit::Weeks, 1), true);
  EXPECT_EQ(openTimes(*weeks), (std::vector<std::string>{"2024-03-04T00:00:00Z", "2024-03-11T00:00:00Z"}));
  EXPECT_EQ(weeks->bars[0].close, 6);
  auto fortnights = bw::resample(steps(at(2024, 3, 4), 86400, 28), tf(TimeUnit::Weeks, 2), true);
  EXPECT_EQ(openTimes(*fortnights), (std::vector<std::string>{"2024-03-04T00:00:00Z", "2024-03-18T00:00:00Z"}));
}

TEST(Resample, FixedWindows) {
  // Bars every minute from 09:07, and a gap: 09:07 .. 09:36, then 10:00 .. 10:04.
  Ohlcv src = steps(at(2024, 1, 1, 9, 7), 60, 30);
  for (const auto& b : steps(at(2024, 1, 1, 10), 60, 5).bars) src.bars.push_back(b);
  auto r = bw::resample(src, tf(TimeUnit::Minutes, 15), false);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(openTimes(*r), (std::vector<std::string>{"2024-01-01T09:07:00Z", "2024-01-01T09:22:00Z",
                                                       "2024-01-01T10:00:00Z"}));
  EXPECT_EQ(r->bars[0].closeTime->debug(), "2024-01-01T09:22:00Z");
  EXPECT_EQ(r->bars[0].volume, 15);
  auto aligned = bw::resample(src, tf(TimeUnit::Minutes, 15), true);
  EXPECT_EQ(openTimes(*aligned)[0], "2024-01-01T09:00:00Z");

  // Hourly bars from 00:30 with a four-hour window: 00:30-04:30, 04:30-08:30.
  auto four = bw::resample(steps(at(2024, 1, 1, 0, 30), 3600, 8), tf(TimeUnit::Hours, 4), false);
  EXPECT_EQ(openTimes(*four), (std::vector<std::string>{"2024-01-01T00:30:00Z", "2024-01-01T04:30:00Z"}));
  EXPECT_EQ(four->bars[0].closeTime->debug(), "2024-01-01T04:30:00Z");

  // An earlier bar joins the window and takes its open, but the window does not move.
  Ohlcv back;
  back.bars.push_back(OhlcvBar{at(2024, 1, 1, 10), at(2024, 1, 1, 10, 1), 1, 1, 1, 1, 1});
  back.bars.push_back(OhlcvBar{at(2024, 1, 1, 9), at(2024, 1, 1, 9, 1), 2, 2, 2, 2, 1});
  back.bars.push_back(OhlcvBar{at(2024, 1, 1, 10, 59), at(2024, 1, 1, 11), 3, 3, 3, 3, 1});
  back.bars.push_back(OhlcvBar{at(2024, 1, 1, 11), at(2024, 1, 1, 11, 1), 4, 4, 4, 4, 1});
  auto w = bw::resample(back, tf(TimeUnit::Hours, 1), false);
  ASSERT_EQ(w->bars.size(), 2u);
  EXPECT_EQ(w->bars[0].openTime->debug(), "2024-01-01T09:00:00Z");
  EXPECT_EQ(w->bars[0].open, 2);
  EXPECT_EQ(w->bars[0].close, 3);
  EXPECT_EQ(w->bars[1].open, 4);
}

TEST(Resample, SameOpenTimesShareAGroupAndEmptyStaysEmpty) {
  Ohlcv twins;
  twins.bars.assign(2, OhlcvBar{at(2024, 1, 1, 9, 30, 15), at(2024, 1, 1, 9, 31), 1, 1, 1, 1, 1});
  for (auto [unit, align] : std::vector<std::pair<TimeUnit, bool>>{{TimeUnit::Years, true},  {TimeUnit::Seconds, true},
                                                                   {TimeUnit::Weeks, true},  {TimeUnit::Unknown, true},
                                                                   {TimeUnit::Seconds, false}, {TimeUnit::Months, false}}) {
    auto r = bw::resample(twins, tf(unit, 1), align);
    ASSERT_TRUE(r.ok()) << reason(r);
    EXPECT_EQ(r->bars.size(), 1u) << bw::unitName(unit) << align;
    EXPECT_EQ(r->bars[0].volume, 2);
  }
  for (auto t : {tf(TimeUnit::Ticks, 3), tf(TimeUnit::Days, 1), tf(TimeUnit::Hours, 2), Timeframe::unknown()}) {
    for (bool align : {true, false}) {
      if (t.isUnknown() && !align) continue;
      auto r = bw::resample(Ohlcv{}, t, align);
      ASSERT_TRUE(r.ok());
      EXPECT_TRUE(r->bars.empty());
      EXPECT_EQ(r->timeframe, t);
    }
  }
}

TEST(Resample, BrokenLimitsAreRefused) {
  Ohlcv src = steps(at(2024, 1, 1), 60, 3);
  src.bars[1].openTime.reset();
  const char* missing = "resample: bar 1 has no open time, which time-based resampling needs";
  EXPECT_EQ(reason(bw::resample(src, tf(TimeUnit::Minutes, 5), true)), missing);
  EXPECT_EQ(reason(bw::resample(src, tf(TimeUnit::Minutes, 5), false)), missing);
  EXPECT_EQ(reason(bw::resample(src, Timeframe::unknown(), true)), missing);
  EXPECT_EQ(reason(bw::resample(src, tf(TimeUnit::Ticks, 2), true)), "ok");

  const Ohlcv ok = steps(at(2024, 1, 1), 60, 3);
  EXPECT_EQ(reason(bw::resample(ok, tf(TimeUnit::Days, 0), true)),
            "resample: calendar buckets need a count of at least 1, got 0 (0D)");
  EXPECT_EQ(reason(bw::resample(ok, tf(TimeUnit::Hours, -2), true)),
            "resample: calendar buckets need a count of at least 1, got -2 (18446744073709551614h)");
  EXPECT_EQ(reason(bw::resample(ok, Timeframe::unknown(), false)), "Unknown timeframe");
  EXPECT_EQ(reason(bw::resample(Ohlcv{}, Timeframe::unknown(), false)), "Unknown timeframe");
  EXPECT_EQ(reason(bw::resample(ok, tf(TimeUnit::Years, 300000000), false)),
            "resample: the window length of 300000000Y lies outside the representable range");

  // Window ends and bucket closes past the last representable second.
  Ohlcv last;
  last.bars.push_back(OhlcvBar{at(32767, 12, 31, 12), OptTime{}, 1, 1, 1, 1, 1});
  EXPECT_EQ(reason(bw::resample(last, tf(TimeUnit::Days, 1), false)),
            "resample: the window starting at bar 0 (+32767-12-31T12:00:00Z) ends outside the date range");
  EXPECT_EQ(reason(bw::resample(last, tf(TimeUnit::Days, 1), true)),
            "resample: the bucket opening at +32767-12-31T00:00:00Z closes 1D later, outside the date range");
  EXPECT_EQ(reason(bw::resample(last, tf(TimeUnit::Hours, 12), true)),
            "resample: the bucket opening at +32767-12-31T12:00:00Z closes 12h later, outside the date range");
  EXPECT_EQ(reason(bw::resample(last, tf(TimeUnit::Hours, 6), true)), "ok");
  EXPECT_EQ(reason(bw::resample(last, tf(TimeUnit::Years, 1), true)), "ok");
}
