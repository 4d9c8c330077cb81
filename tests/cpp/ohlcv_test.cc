#include "core/ohlcv.h"

#include <gtest/gtest.h>

using bw::ArcOhlcv;
using bw::DateTime;
using bw::Ohlcv;
using bw::OhlcvBar;
using bw::OptTime;

namespace {

DateTime minute(int m) { return *DateTime::fromCivil(2024, 1, 1, 10 + m / 60, static_cast<unsigned>(m % 60)); }

// A well-formed bar covering [m, m + 1) minutes after 10:00.
OhlcvBar good(int m, double price = 100) { return OhlcvBar{minute(m), minute(m + 1), price, price + 1, price - 1, price, 10}; }

std::string problems(const std::vector<OhlcvBar>& bars) {
  auto r = Ohlcv{bars, {}}.validate();
  return r.ok() ? "ok" : r.error().reason;
}

}  // namespace

TEST(OhlcvValidate, NamesTheFirstBadBar) {
  EXPECT_EQ(problems({}), "ohlcv is empty");
  EXPECT_EQ(problems({good(0), good(1)}), "ok");
  EXPECT_EQ(problems({good(0)}), "ok");

  OhlcvBar early = good(1);
  early.openTime = *DateTime::fromCivil(2024, 1, 1, 9, 59);
  EXPECT_EQ(problems({good(0), early}),
            "bar[1 | Some(2024-01-01T09:59:00Z) | Some(2024-01-01T10:02:00Z)]: open_time < prev_bar.close_time, "
            "open_time <= prev_bar.open_time");

  OhlcvBar open = good(3);
  open.closeTime.reset();
  EXPECT_EQ(problems({good(0), good(1), good(2), open}),
            "bar[3 | Some(2024-01-01T10:03:00Z) | None]: close_time <= open_time, close_time <= prev_bar.close_time");

  // Absent open and close: absent is below every time, so the close is not after the open.
  OhlcvBar none{OptTime{}, OptTime{}, 1, 1, 1, 1, 1};
  EXPECT_EQ(problems({none}), "bar[0 | None | None]: close_time <= open_time");

  OhlcvBar prices = good(0);
  prices.open = bw::kNaN;
  prices.high = 0;
  prices.low = -1;
  prices.volume = -0.5;
  EXPECT_EQ(problems({prices}),
            "bar[0 | Some(2024-01-01T10:00:00Z) | Some(2024-01-01T10:01:00Z)]: open is NaN, high <= 0, low <= 0, "
            "volume < 0");

  OhlcvBar nan{minute(0), minute(1), bw::kNaN, bw::kNaN, bw::kNaN, bw::kNaN, bw::kNaN};
  EXPECT_EQ(problems({nan}),
            "bar[0 | Some(2024-01-01T10:00:00Z) | Some(2024-01-01T10:01:00Z)]: open is NaN, high is NaN, low is NaN, "
            "close is NaN, volume is NaN");
  OhlcvBar zeroVolume = good(0);
  zeroVolume.volume = 0;
  EXPECT_EQ(problems({zeroVolume}), "ok");

  // Same open time as the previous bar, overlapping close.
  EXPECT_EQ(problems({good(0), good(0)}),
            "bar[1 | Some(2024-01-01T10:00:00Z) | Some(2024-01-01T10:01:00Z)]: open_time < prev_bar.close_time, "
            "close_time <= prev_bar.close_time, open_time <= prev_bar.open_time");
  // Validation goes through the shared handle too, and the first bad bar wins.
  ArcOhlcv s(Ohlcv{{good(0), good(1), good(1), none}, {}});
  ASSERT_FALSE(s.validate().ok());
  EXPECT_EQ(s.validate().error().reason.substr(0, 6), "bar[2 ");
}

TEST(OhlcvReader, IndexingAndRanges) {
  ArcOhlcv s(Ohlcv{{good(0, 1), good(1, 2), good(2, 3), good(3, 4), good(4, 5)}, bw::Timeframe::of(bw::TimeUnit::Minutes, 1)});
  EXPECT_EQ(s.length(), 5u);
  EXPECT_EQ(s.get(4)->open, 5);
  EXPECT_FALSE(s.get(5).has_value());
  EXPECT_EQ(s.at(-1)->open, 5);
  EXPECT_EQ(s.at(-5)->open, 1);
  EXPECT_FALSE(s.at(-6).has_value());
  EXPECT_FALSE(s.at(5).has_value());
  EXPECT_FALSE(s.at(INT32_MIN).has_value());

  auto mid = s.slice(1, 3);
  ASSERT_TRUE(mid.ok());
  ASSERT_EQ(mid->size(), 2u);
  EXPECT_EQ((*mid)[0].open, 2);
  EXPECT_TRUE(s.slice(5, 5)->empty());
  EXPECT_FALSE(s.slice(3, 2).ok());
  EXPECT_FALSE(s.slice(0, 6).ok());
  EXPECT_FALSE(s.slice(static_cast<uint64_t>(-1), 2).ok());

  EXPECT_EQ(s.head(5)->length(), 5u);
  EXPECT_EQ(s.head(0)->length(), 0u);
  ASSERT_FALSE(s.head(6).ok());
  EXPECT_EQ(s.head(6).error().reason, "head: count 6 is outside 0..5, the length of the series");
  EXPECT_EQ(s.head(static_cast<uint64_t>(-1)).error().reason, "head: count -1 is outside 0..5, the length of the series");
  EXPECT_EQ(s.tail(2).get(0)->open, 4);
  EXPECT_EQ(s.tail(0).length(), 0u);
  EXPECT_EQ(s.tail(static_cast<uint64_t>(-1)).length(), 5u);
  EXPECT_EQ(s.tail(2).timeframe(), s.timeframe());
  EXPECT_FALSE(s.tail(2).sameStorage(s));

  EXPECT_EQ(s.closes(), (std::vector<double>{1, 2, 3, 4, 5}));
  EXPECT_EQ(s.openTimes()[2], OptTime(minute(2)));
  EXPECT_EQ(s.closeTimes().size(), 5u);
}

TEST(OhlcvReader, OpenTimeSearches) {
  OhlcvBar none{};
  // Unsorted on purpose: both searches return the first match in index order.
  ArcOhlcv s(Ohlcv{{none, good(3), good(1), good(3), good(5)}, {}});
  EXPECT_EQ(s.findOpenTime(minute(3)), 1u);
  EXPECT_EQ(s.findOpenTime(minute(1)), 2u);
  EXPECT_FALSE(s.findOpenTime(minute(2)).has_value());
  EXPECT_EQ(s.findOpenTimeAtOrAfter(minute(0)), 1u);
  EXPECT_EQ(s.findOpenTimeAtOrAfter(minute(4)), 4u);
  EXPECT_FALSE(s.findOpenTimeAtOrAfter(minute(6)).has_value());
  // A bar without open time never matches, not even the earliest time there is.
  ArcOhlcv only(Ohlcv{{none}, {}});
  EXPECT_FALSE(only.findOpenTimeAtOrAfter(DateTime{DateTime::kMinSecs, 0}).has_value());
}

TEST(OhlcvMutation, ExtendBySelfAppendsACopy) {
  ArcOhlcv s(Ohlcv{{good(0, 1), good(1, 2)}, {}});
  s.extend(s);
  EXPECT_EQ(s.closes(), (std::vector<double>{1, 2, 1, 2}));
  ArcOhlcv same = s;  // another handle on the same storage
  s.extend(same);
  EXPECT_EQ(s.length(), 8u);
  EXPECT_EQ(same.length(), 8u);

  ArcOhlcv other(Ohlcv{{good(9, 9)}, bw::Timeframe::of(bw::TimeUnit::Days, 1)});
  s.extend(other);
  EXPECT_EQ(s.length(), 9u);
  EXPECT_TRUE(s.timeframe().isUnknown());
}

TEST(OhlcvMutation, PopShiftReverseSort) {
  ArcOhlcv s;
  EXPECT_FALSE(s.pop().has_value());
  EXPECT_FALSE(s.shift().has_value());
  s.reverse();
  EXPECT_EQ(s.length(), 0u);

  OhlcvBar none{OptTime{}, OptTime{}, 0, 0, 0, 0, 0};
  OhlcvBar a = good(2, 1), b = good(1, 2), c = good(2, 3);
  s.pushMany({a, none, b, c});
  s.sort(true);
  EXPECT_EQ(s.opens(), (std::vector<double>{0, 2, 1, 3}));  // absent first; a before c
  s.sort(false);
  EXPECT_EQ(s.opens(), (std::vector<double>{1, 3, 2, 0}));  // absent last; a still before c
  s.reverse();
  EXPECT_EQ(s.opens(), (std::vector<double>{0, 2, 3, 1}));
  EXPECT_EQ(s.shift()->open, 0);
  EXPECT_EQ(s.pop()->open, 1);
  EXPECT_EQ(s.opens(), (std::vector<double>{2, 3}));
  s.setTimeframe(bw::Timeframe::of(bw::TimeUnit::Hours, 1));
  s.clear();
  EXPECT_EQ(s.length(), 0u);
  EXPECT_EQ(s.timeframe().toString(), "1h");
}

TEST(OhlcvText, DebugForms) {
  ArcOhlcv s;
  EXPECT_EQ(s.debug(), "ArcOhlcv { inner: RwLock { data: Ohlcv { bars: [], timeframe: Unknown }, poisoned: false, .. } }");
  s.push(OhlcvBar{minute(0), OptTime{}, 100, 101.5, 99.75, 101, 1200});
  s.push(OhlcvBar{});
  s.setTimeframe(bw::Timeframe::of(bw::TimeUnit::Days, 1));
  EXPECT_EQ(s.debug(),
            "ArcOhlcv { inner: RwLock { data: Ohlcv { bars: [OhlcvBar { open_time: Some(2024-01-01T10:00:00Z), "
            "close_time: None, open: 100.0, high: 101.5, low: 99.75, close: 101.0, volume: 1200.0 }, OhlcvBar { "
            "open_time: None, close_time: None, open: NaN, high: NaN, low: NaN, close: NaN, volume: NaN }], "
            "timeframe: Days(1) }, poisoned: false, .. } }");
}
