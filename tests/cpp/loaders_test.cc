#include "core/loaders.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <vector>

using bw::BarField;
using bw::CsvColumn;
using bw::CsvOptions;
using bw::DateTime;
using bw::OhlcvBar;
using bw::TimeFormat;

namespace {

DateTime at(int y, unsigned mo, unsigned d, unsigned h = 0, unsigned mi = 0, unsigned s = 0, uint32_t ns = 0) {
  return DateTime::fromCivil(y, mo, d, h, mi, s, ns).value();
}

std::string caseName(std::string text) {
  for (char& c : text)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return text.empty() ? "empty" : text;
}

template <class T>
std::string indexName(const testing::TestParamInfo<T>& info) {
  return std::to_string(info.index) + "_" + caseName(info.param.name);
}

// --- Numbers ---------------------------------------------------------------------------------------

struct NumberCase {
  std::string name;
  std::string text;
  std::optional<double> want;  // empty: rejected
};

class ParseNumber : public testing::TestWithParam<NumberCase> {};

TEST_P(ParseNumber, ReadsLikeTheShortestDecimal) {
  const auto& c = GetParam();
  const auto got = bw::parseNumber(c.text);
  ASSERT_EQ(got.has_value(), c.want.has_value()) << c.text;
  if (!c.want) return;
  if (std::isnan(*c.want)) {
    EXPECT_TRUE(std::isnan(*got));
  } else {
    EXPECT_EQ(*got, *c.want) << c.text;
    EXPECT_EQ(std::signbit(*got), std::signbit(*c.want)) << c.text;
  }
}

constexpr double kInf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Loaders, ParseNumber,
    testing::Values(NumberCase{"integer", "16500", 16500.0}, NumberCase{"price", "42123.57", 42123.57},
                    NumberCase{"leading point", ".5", 0.5}, NumberCase{"trailing point", "5.", 5.0},
                    NumberCase{"plus sign", "+1.25", 1.25}, NumberCase{"negative zero", "-0.0", -0.0},
                    // More digits than the quick path takes: still the nearest double.
                    NumberCase{"many digits", "0.30000000000000004", 0.30000000000000004},
                    NumberCase{"twenty digits", "12345678901234567890", 12345678901234567890.0},
                    NumberCase{"exponent", "1.5e-5", 1.5e-5}, NumberCase{"exponent sign", "2E+3", 2000.0},
                    NumberCase{"overflow", "1e400", kInf}, NumberCase{"underflow", "1e-400", 0.0},
                    NumberCase{"nan", "NaN", std::nan("")}, NumberCase{"infinity", "-Infinity", -kInf},
                    NumberCase{"empty", "", std::nullopt}, NumberCase{"sign alone", "-", std::nullopt},
                    NumberCase{"word", "abc", std::nullopt}, NumberCase{"hex", "0x1A", std::nullopt},
                    NumberCase{"thousands", "1,234", std::nullopt}, NumberCase{"space", " 1", std::nullopt},
                    NumberCase{"bare exponent", "1e", std::nullopt}, NumberCase{"two points", "1.2.3", std::nullopt}),
    indexName<NumberCase>);

// --- Times ---------------------------------------------------------------------------------------

struct TimeCase {
  std::string name;
  std::string text;
  TimeFormat format;
  std::optional<DateTime> want;
};

class ParseTime : public testing::TestWithParam<TimeCase> {};

TEST_P(ParseTime, ReadsTheInstant) {
  const auto& c = GetParam();
  const auto got = c.format == TimeFormat::Iso8601 ? bw::parseIsoTime(c.text) : bw::parseEpoch(c.text, c.format);
  ASSERT_EQ(got.has_value(), c.want.has_value()) << c.text;
  if (c.want) {
    EXPECT_EQ(got->debug(), c.want->debug());
  }
}

constexpr auto kIso = TimeFormat::Iso8601;
constexpr auto kMs = TimeFormat::EpochMillis;
constexpr auto kS = TimeFormat::EpochSeconds;

INSTANTIATE_TEST_SUITE_P(
    Loaders, ParseTime,
    testing::Values(
        TimeCase{"date only", "2024-03-01", kIso, at(2024, 3, 1)},
        TimeCase{"utc", "2024-03-01T09:30:00Z", kIso, at(2024, 3, 1, 9, 30)},
        TimeCase{"no offset is utc", "2024-03-01 09:30:00", kIso, at(2024, 3, 1, 9, 30)},
        TimeCase{"minutes only", "2024-03-01T09:30", kIso, at(2024, 3, 1, 9, 30)},
        TimeCase{"offset", "2024-03-01T09:30:00+02:00", kIso, at(2024, 3, 1, 7, 30)},
        TimeCase{"offset across midnight", "2024-03-01T01:00:00-05:30", kIso, at(2024, 3, 1, 6, 30)},
        TimeCase{"compact offset", "2024-03-01T09:30:00+0200", kIso, at(2024, 3, 1, 7, 30)},
        TimeCase{"hour offset", "2024-03-01T09:30:00+02", kIso, at(2024, 3, 1, 7, 30)},
        TimeCase{"fraction", "2024-03-01T09:30:00.250Z", kIso, at(2024, 3, 1, 9, 30, 0, 250'000'000)},
        TimeCase{"comma fraction", "2024-03-01T09:30:00,5Z", kIso, at(2024, 3, 1, 9, 30, 0, 500'000'000)},
        TimeCase{"nanoseconds, more digits ignored", "2024-03-01T09:30:00.1234567891Z", kIso,
                 at(2024, 3, 1, 9, 30, 0, 123'456'789)},
        TimeCase{"leap day", "2024-02-29", kIso, at(2024, 2, 29)},
        TimeCase{"no such day", "2023-02-29", kIso, std::nullopt},
        TimeCase{"month 13", "2024-13-01", kIso, std::nullopt},
        TimeCase{"hour 24", "2024-03-01T24:00:00Z", kIso, std::nullopt},
        TimeCase{"trailing text", "2024-03-01T09:30:00Zx", kIso, std::nullopt},
        TimeCase{"short year", "24-03-01", kIso, std::nullopt},
        TimeCase{"slashes", "2024/03/01", kIso, std::nullopt},
        TimeCase{"epoch ms", "1709285400000", kMs, at(2024, 3, 1, 9, 30)},
        TimeCase{"epoch ms fraction", "1709285400000.5", kMs, at(2024, 3, 1, 9, 30, 0, 500'000)},
        TimeCase{"epoch ms before 1970", "-1", kMs, at(1969, 12, 31, 23, 59, 59, 999'000'000)},
        TimeCase{"epoch ms exponent", "1.7092854e12", kMs, at(2024, 3, 1, 9, 30)},
        TimeCase{"epoch s", "1709285400", kS, at(2024, 3, 1, 9, 30)},
        TimeCase{"epoch s fraction", "1709285400.123456789", kS, at(2024, 3, 1, 9, 30, 0, 123'456'789)},
        TimeCase{"epoch s negative fraction", "-0.25", kS, at(1969, 12, 31, 23, 59, 59, 750'000'000)},
        TimeCase{"epoch out of range", "99999999999999999999", kS, std::nullopt},
        TimeCase{"epoch word", "soon", kMs, std::nullopt}, TimeCase{"epoch nan", "nan", kMs, std::nullopt}),
    indexName<TimeCase>);

TEST(Loaders, DetectsTheTimeFormatFromTheFirstValue) {
  EXPECT_EQ(bw::detectTimeFormat("2024-03-01"), kIso);
  EXPECT_EQ(bw::detectTimeFormat("1709285400000"), kMs);
  EXPECT_EQ(bw::detectTimeFormat("100000000000"), kMs);  // 1973-03-03 in milliseconds
  EXPECT_EQ(bw::detectTimeFormat("99999999999"), kS);     // year 5138 in seconds
  EXPECT_EQ(bw::detectTimeFormat("1709285400"), kS);
  EXPECT_EQ(bw::detectTimeFormat("yesterday"), kIso);  // the ISO reader then names the value
}

TEST(Loaders, MillisecondsKeepTheirFractionToTheNanosecond) {
  EXPECT_EQ(bw::timeFromMillis(1709285400000.0)->debug(), "2024-03-01T09:30:00Z");
  EXPECT_EQ(bw::timeFromMillis(-0.5)->debug(), "1969-12-31T23:59:59.999500Z");
  EXPECT_EQ(bw::timeFromMillis(0.9999999)->debug(), "1970-01-01T00:00:00.001Z");
  EXPECT_FALSE(bw::timeFromMillis(std::nan("")));
  EXPECT_FALSE(bw::timeFromMillis(kInf));
  EXPECT_FALSE(bw::timeFromMillis(1e300));
  EXPECT_EQ(bw::timeFromNanos(-1).debug(), "1969-12-31T23:59:59.999999999Z");
  EXPECT_EQ(bw::timeFromNanos(1709285400123456789).debug(), "2024-03-01T09:30:00.123456789Z");
}

// --- Exchange timeframes ---------------------------------------------------------------------------

TEST(Loaders, ExchangeTimeframesMapToOurs) {
  const std::pair<const char*, const char*> cases[] = {
      {"1s", "1s"}, {"1m", "1m"}, {"15m", "15m"}, {"1h", "1h"}, {"4h", "4h"},
      {"1d", "1D"}, {"3d", "3D"}, {"1w", "1W"}, {"1M", "1M"}, {"1y", "1Y"},
  };
  for (const auto& [exchange, ours] : cases) {
    auto tf = bw::exchangeTimeframe(exchange);
    ASSERT_TRUE(tf.ok()) << exchange;
    EXPECT_EQ(tf->toString(), ours) << exchange;
  }
  for (const char* bad : {"", "m", "1", "0m", "1D", "1H", "1mo", "-1m", "99999999999m"})
    EXPECT_FALSE(bw::exchangeTimeframe(bad).ok()) << bad;
}

TEST(Loaders, BarsCloseOneTimeframeAfterTheyOpen) {
  const auto tf = [](const char* t) { return bw::exchangeTimeframe(t).value(); };
  EXPECT_EQ(bw::barCloseTime(at(2024, 1, 31, 23), tf("1h"))->debug(), "2024-02-01T00:00:00Z");
  EXPECT_EQ(bw::barCloseTime(at(2024, 1, 31), tf("1M"))->debug(), "2024-02-29T00:00:00Z");
  EXPECT_EQ(bw::barCloseTime(at(2024, 1, 1), tf("1w"))->debug(), "2024-01-08T00:00:00Z");
  EXPECT_FALSE(bw::barCloseTime(at(2024, 1, 1), bw::Timeframe::of(bw::TimeUnit::Ticks, 10)));
  EXPECT_FALSE(bw::barCloseTime(at(2024, 1, 1), bw::Timeframe{}));
}

// --- CSV -----------------------------------------------------------------------------------------

// Bars written as one line each: open time, then the five numbers.
std::string render(const std::vector<OhlcvBar>& bars) {
  std::string out;
  for (const auto& b : bars) out += b.debug() + "\n";
  return out;
}

OhlcvBar bar(std::optional<DateTime> t, double o, double h, double l, double c, double v) {
  return OhlcvBar{t, std::nullopt, o, h, l, c, v};
}

struct CsvCase {
  std::string name;
  std::string text;
  std::vector<OhlcvBar> want;
  CsvOptions options = {};
};

class ParseCsv : public testing::TestWithParam<CsvCase> {};

TEST_P(ParseCsv, ReadsTheBars) {
  const auto& c = GetParam();
  auto got = bw::parseCsv(c.text, c.options);
  ASSERT_TRUE(got.ok()) << got.error().reason;
  EXPECT_EQ(render(*got), render(c.want));
}

const OhlcvBar kBar1 = bar(at(2024, 1, 1), 1, 2, 0.5, 1.5, 10);
const OhlcvBar kBar2 = bar(at(2024, 1, 2), 1.5, 2.5, 1, 2, 20);

// Default options with one field changed.
template <class T, class V>
CsvOptions with(T CsvOptions::*field, V value) {
  CsvOptions o;
  o.*field = value;
  return o;
}

CsvOptions mapped() {
  CsvOptions o;
  o.columns[static_cast<size_t>(BarField::OpenTime)] = CsvColumn::named("When");
  o.columns[static_cast<size_t>(BarField::Close)] = CsvColumn::at(1);
  o.columns[static_cast<size_t>(BarField::Volume)] = CsvColumn::none();
  return o;
}

const std::string kHeader = "open_time,open,high,low,close,volume\n";

INSTANTIATE_TEST_SUITE_P(
    Loaders, ParseCsv,
    testing::Values(
        CsvCase{"plain", kHeader + "2024-01-01,1,2,0.5,1.5,10\n2024-01-02,1.5,2.5,1,2,20\n", {kBar1, kBar2}},
        CsvCase{"crlf, no last line end", "open_time,open,high,low,close,volume\r\n2024-01-01,1,2,0.5,1.5,10\r\n"
                "2024-01-02,1.5,2.5,1,2,20", {kBar1, kBar2}},
        CsvCase{"byte order mark", "\xEF\xBB\xBF" + kHeader + "2024-01-01,1,2,0.5,1.5,10\n", {kBar1}},
        CsvCase{"blank lines", "\n" + kHeader + "\n  \n2024-01-01,1,2,0.5,1.5,10\n\n\n", {kBar1}},
        CsvCase{"lone carriage returns", kHeader.substr(0, kHeader.size() - 1) + "\r2024-01-01,1,2,0.5,1.5,10\r",
                {kBar1}},
        CsvCase{"quoted fields", "\"open_time\",\"open\",high,low,close,volume\n\"2024-01-01\", \"1\" ,2,0.5,1.5,10\n",
                {kBar1}},
        CsvCase{"header names in any case and order", "Volume,Close,Low,High,Open,Timestamp\n10,1.5,0.5,2,1,2024-01-01\n",
                {kBar1}},
        CsvCase{"spaces around fields", kHeader + " 2024-01-01 , 1 ,2,\t0.5,1.5 ,10\n", {kBar1}},
        CsvCase{"empty fields are missing values", kHeader + ",1,,0.5,1.5,\n",
                {bar(std::nullopt, 1, std::nan(""), 0.5, 1.5, std::nan(""))}},
        CsvCase{"no volume column", "time,open,high,low,close\n2024-01-01,1,2,0.5,1.5\n",
                {bar(at(2024, 1, 1), 1, 2, 0.5, 1.5, std::nan(""))}},
        CsvCase{"extra columns", "time,open,high,low,close,volume,trades\n2024-01-01,1,2,0.5,1.5,10,7\n", {kBar1}},
        CsvCase{"no header: exchange layout", "1704067200000,1,2,0.5,1.5,10\n", {kBar1}, with(&CsvOptions::header, false)},
        CsvCase{"no header, five columns", "1704067200,1,2,0.5,1.5\n",
                {bar(at(2024, 1, 1), 1, 2, 0.5, 1.5, std::nan(""))}, with(&CsvOptions::header, false)},
        CsvCase{"semicolons", "time;open;high;low;close;volume\n2024-01-01;1;2;0.5;1.5;10\n", {kBar1}, with(&CsvOptions::delimiter, ';')},
        CsvCase{"mapped by name and index, volume left out", "When,Last,open,high,low,volume\n2024-01-01,1.5,1,2,0.5,10\n",
                {bar(at(2024, 1, 1), 1, 2, 0.5, 1.5, std::nan(""))}, mapped()},
        CsvCase{"header only", kHeader, {}}, CsvCase{"nothing", "", {}}),
    indexName<CsvCase>);

TEST(Loaders, CsvReadsCloseTimesAndQuotedLineBreaks) {
  auto got = bw::parseCsv("time,close_time,open,high,low,close,note\n"
                          "2024-01-01T00:00:00Z,1704067260000,1,2,0.5,1.5,\"two\nlines, \"\"quoted\"\"\"\n",
                          {});
  ASSERT_TRUE(got.ok()) << got.error().reason;
  ASSERT_EQ(got->size(), 1u);
  EXPECT_EQ((*got)[0].closeTime->debug(), "2024-01-01T00:01:00Z");
}

struct CsvErrorCase {
  std::string name;
  std::string text;
  std::string message;
  CsvOptions options = {};
};

class CsvErrors : public testing::TestWithParam<CsvErrorCase> {};

TEST_P(CsvErrors, NameTheLineAndColumn) {
  const auto& c = GetParam();
  auto got = bw::parseCsv(c.text, c.options);
  ASSERT_FALSE(got.ok());
  EXPECT_EQ(got.error().status, bw::Status::InvalidArg);
  EXPECT_EQ(got.error().reason, c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Loaders, CsvErrors,
    testing::Values(
        CsvErrorCase{"bad number", kHeader + "2024-01-01,1,2,0.5,1.5,10\n\n2024-01-02,1,2,x,4,5\n",
                     "line 4, column \"low\": \"x\" is not a number"},
        CsvErrorCase{"bad time", kHeader + "2024-01-01,1,2,0.5,1.5,10\n2024-02-30,1,2,3,4,5\n",
                     "line 3, column \"open_time\": \"2024-02-30\" is not an ISO 8601 time"},
        CsvErrorCase{"time in another format than the first", kHeader + "2024-01-01,1,2,3,4,5\n1704067200,1,2,3,4,5\n",
                     "line 3, column \"open_time\": \"1704067200\" is not an ISO 8601 time"},
        CsvErrorCase{"explicit format", kHeader + "2024-01-01,1,2,3,4,5\n",
                     "line 2, column \"open_time\": \"2024-01-01\" is not a time in milliseconds since the epoch",
                     with(&CsvOptions::timeFormat, TimeFormat::EpochMillis)},
        CsvErrorCase{"short row", kHeader + "2024-01-01,1,2,3\n",
                     "line 2, column \"close\": missing (the line has 4 columns)"},
        CsvErrorCase{"short row without header", "1704067200000,1,2,0.5,1.5,10\n1704067260000,1,2\n",
                     "line 2, column 3 (low): missing (the line has 3 columns)", with(&CsvOptions::header, false)},
        CsvErrorCase{"missing column", "time,open,high,close\n",
                     "no low column in the header (looked for low, l); it has: time, open, high, close"},
        CsvErrorCase{"missing named column", "When,Last,open,high,low\n",
                     "no column \"volume\" (volume) in the header; it has: When, Last, open, high, low",
                     [] {
                       CsvOptions o = mapped();
                       o.columns[static_cast<size_t>(BarField::Volume)] = CsvColumn::named("volume");
                       return o;
                     }()},
        CsvErrorCase{"name without header", "1,2,3\n", "column \"When\" for openTime is named, but the text has no header",
                     [] {
                       CsvOptions o = mapped();
                       o.header = false;
                       return o;
                     }()},
        CsvErrorCase{"out of order", kHeader + "2024-01-02,1,2,3,4,5\n2024-01-01,1,2,3,4,5\n",
                     "line 3, column \"open_time\": 2024-01-01T00:00:00Z is not after 2024-01-02T00:00:00Z on line 2, "
                     "but the rows were to be sorted by open time",
                     with(&CsvOptions::sorted, true)},
        CsvErrorCase{"repeated time", kHeader + "2024-01-02,1,2,3,4,5\n2024-01-02,1,2,3,4,5\n",
                     "line 3, column \"open_time\": 2024-01-02T00:00:00Z is not after 2024-01-02T00:00:00Z on line 2, "
                     "but the rows were to be sorted by open time",
                     with(&CsvOptions::sorted, true)},
        CsvErrorCase{"no time when sorted", kHeader + ",1,2,3,4,5\n",
                     "line 2, column \"open_time\": no open time, but the rows were to be sorted by open time", with(&CsvOptions::sorted, true)},
        // The quoted line break counts: the bad value is on line 4.
        CsvErrorCase{"line after a quoted line break", "time,open,high,low,close,note\n2024-01-01,1,2,3,4,\"a\nb\"\n"
                     "2024-01-02,1,2,3,?,x\n",
                     "line 4, column \"close\": \"?\" is not a number"},
        CsvErrorCase{"unclosed quote", kHeader + "2024-01-01,\"1,2,3,4,5\n", "line 2: a quoted field is never closed"},
        CsvErrorCase{"text after a closing quote", kHeader + "2024-01-01,\"1\"x,2,3,4,5\n",
                     "line 2: text after the closing quote of a field"}),
    indexName<CsvErrorCase>);

TEST(Loaders, CsvProgressIsBoundedAndEndsAtTheTotal) {
  std::string text = kHeader;
  for (int i = 0; i < 1234; ++i) text += std::to_string(1704067200000LL + i * 60000LL) + ",1,2,0.5,1.5,10\n";
  std::vector<std::pair<size_t, size_t>> calls;
  CsvOptions o;
  o.onProgress = [&](size_t done, size_t total) -> bw::Result<bw::Unit> {
    calls.emplace_back(done, total);
    return bw::okUnit();
  };
  auto got = bw::parseCsv(text, o);
  ASSERT_TRUE(got.ok());
  ASSERT_FALSE(calls.empty());
  EXPECT_LE(calls.size(), 101u);
  EXPECT_EQ(calls.back(), std::make_pair(size_t{1234}, size_t{1234}));
  for (size_t i = 1; i < calls.size(); ++i) EXPECT_LT(calls[i - 1].first, calls[i].first);
}

TEST(Loaders, CsvProgressErrorStopsTheLoad) {
  std::string text = kHeader;
  for (int i = 0; i < 500; ++i) text += "2024-01-01,1,2,0.5,1.5,10\n";
  CsvOptions o;
  int calls = 0;
  o.onProgress = [&](size_t, size_t) -> bw::Result<bw::Unit> {
    ++calls;
    return bw::Error(bw::Status::Cancelled, "stop");
  };
  auto got = bw::parseCsv(text, o);
  ASSERT_FALSE(got.ok());
  EXPECT_EQ(got.error().reason, "stop");
  EXPECT_EQ(calls, 1);
}

// --- Columns and rows ---------------------------------------------------------------------------

TEST(Loaders, ColumnsMustMatchTheOpenTimes) {
  bw::BarColumns c;
  c.openTime = bw::TimeValues(std::vector<double>{1704067200000.0, std::nan("")});
  c.open = c.high = c.low = std::vector<double>{1, 2};
  c.close = std::vector<double>{1};
  auto got = bw::barsFromColumns(c, false);
  ASSERT_FALSE(got.ok());
  EXPECT_EQ(got.error().reason, "column `close` has 1 entries, but `openTime` has 2");
  c.close = std::vector<double>{1, 2};
  got = bw::barsFromColumns(c, false);
  ASSERT_TRUE(got.ok());
  EXPECT_FALSE((*got)[1].openTime);  // NaN is an absent time
  EXPECT_FALSE(bw::barsFromColumns(c, true).ok());
  c.openTime = bw::TimeValues(std::vector<int64_t>{1704067200000000001, 1704067200000000002});
  got = bw::barsFromColumns(c, true);
  ASSERT_TRUE(got.ok());
  EXPECT_EQ((*got)[1].openTime->debug(), "2024-01-01T00:00:00.000000002Z");
}

TEST(Loaders, ExchangeRowsCloseOneTimeframeLater) {
  const std::vector<double> flat = {1704067200000.0, 1, 2, 0.5, 1.5, 10, 1706745600000.0, 1.5, 2.5, 1, 2, std::nan("")};
  auto got = bw::barsFromExchangeRows(flat, bw::exchangeTimeframe("1M").value());
  ASSERT_TRUE(got.ok());
  EXPECT_EQ((*got)[0].closeTime->debug(), "2024-02-01T00:00:00Z");
  EXPECT_EQ((*got)[1].closeTime->debug(), "2024-03-01T00:00:00Z");
  auto bad = bw::barsFromExchangeRows({1, 2, 3, 4, 5, 6, 1e300, 2, 3, 4, 5, 6}, bw::Timeframe{});
  ASSERT_FALSE(bad.ok());
  EXPECT_EQ(bad.error().reason, "rows[1][0] (timestamp): 1e300 is not a time in milliseconds since the epoch");
}

}  // namespace
