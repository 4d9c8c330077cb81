#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "core/numfmt.h"
#include "core/pine.h"

namespace {

using bw::DateTime;
using bw::Ohlcv;
using bw::OhlcvBar;
using bw::PineTrade;

TEST(PlainNumber, ShortestDecimalWithoutExponent) {
  struct Case {
    double x;
    const char* text;
  } cases[] = {
      {1000, "1000"},         {2500.5, "2500.5"}, {0.5, "0.5"},  {-2, "-2"},      {0.0001, "0.0001"},
      {1e21, "1000000000000000000000"},           {0.1 + 0.2, "0.30000000000000004"},
      {1.5e-7, "0.00000015"}, {NAN, "NaN"},        {INFINITY, "inf"}, {-INFINITY, "-inf"}, {0, "0"},
  };
  for (const auto& c : cases) EXPECT_EQ(bw::formatPlainNumber(c.x), c.text);
}

Ohlcv barsAt(std::vector<std::optional<int64_t>> openMs) {
  Ohlcv o;
  for (auto ms : openMs) {
    OhlcvBar b;
    if (ms) b.openTime = DateTime::fromMillis(*ms);
    o.bars.push_back(b);
  }
  return o;
}

TEST(Pine, WholeTextOfAClosedAndAnOpenTrade) {
  const Ohlcv series = barsAt({1700000000000, 1700000060000, 1700000120500});
  const std::vector<PineTrade> trades{{0, std::nullopt, 1.5}, {1, 2, -0.25}};
  const auto at = *DateTime::fromCivil(2025, 3, 4, 5, 6, 7, 250'000'000);
  auto text = bw::toPine(2500.5, trades, series, at);
  ASSERT_TRUE(text.ok()) << text.error().reason;
  const std::string head =
      "//@version=5\n"
      "strategy(\"Strategy export\", overlay=true, initial_capital=2500.5, default_qty_type = "
      "strategy.percent_of_equity, default_qty_value = 100)\n"
      "// Generated at 2025-03-04 05:06:07.250 UTC\n"
      "// by barwise (";
  EXPECT_EQ(text->substr(0, head.size()), head);
  const std::string tail =
      "\n\n"
      "type Trade\n    string id\n    int entry_open_time_ms\n    int exit_open_time_ms\n    float size\n        \n"
      "trades = array.from<Trade>(Trade.new(id=\"0\", entry_open_time_ms=1700000000000, exit_open_time_ms=na, "
      "size=1.5),Trade.new(id=\"1\", entry_open_time_ms=1700000060000, exit_open_time_ms=1700000120500, "
      "size=-0.25))\n"
      "open_time_ms = time\n\nfor i = 0 to array.size(trades) - 1\n    item = array.get(trades, i)\n"
      "    qty = math.abs(item.size)\n\n    if item.entry_open_time_ms == open_time_ms\n"
      "        _dir = item.size > 0 ? strategy.long : strategy.short\n"
      "        strategy.order(id=item.id, direction=_dir, qty=qty)\n\n"
      "    if item.exit_open_time_ms == open_time_ms\n"
      "        _dir = item.size > 0 ? strategy.short : strategy.long\n"
      "        strategy.order(id=item.id, direction=_dir, qty=qty)\n    ";
  ASSERT_GE(text->size(), tail.size());
  EXPECT_EQ(text->substr(text->size() - tail.size()), tail);
  // The maker line is one line and names no registry.
  const size_t maker = text->find("// by barwise (");
  EXPECT_EQ(text->find('\n', maker), text->find("\n\n\ntype Trade"));
}

TEST(Pine, GeneratedAtShowsTheFewestFractionDigits) {
  const Ohlcv none;
  struct Case {
    uint32_t nanos;
    const char* text;
  } cases[] = {{0, "2025-03-04 05:06:07 UTC"},
               {250'000'000, "2025-03-04 05:06:07.250 UTC"},
               {250'500'000, "2025-03-04 05:06:07.250500 UTC"},
               {1, "2025-03-04 05:06:07.000000001 UTC"}};
  for (const auto& c : cases) {
    const auto at = *DateTime::fromCivil(2025, 3, 4, 5, 6, 7, c.nanos);
    auto text = bw::toPine(1000, {}, none, at);
    ASSERT_TRUE(text.ok());
    EXPECT_NE(text->find(std::string("\n// Generated at ") + c.text + "\n"), std::string::npos) << c.text;
    EXPECT_NE(text->find("initial_capital=1000,"), std::string::npos);
    EXPECT_NE(text->find("\ntrades = array.from<Trade>()\n"), std::string::npos);
  }
}

TEST(Pine, RefusesATradeWhoseBarCannotBeFound) {
  const Ohlcv series = barsAt({1700000000000, std::nullopt});
  const DateTime at{};
  struct Case {
    PineTrade trade;
    const char* reason;
  } cases[] = {
      {{-1, std::nullopt, 1}, "Cannot export trade 0 to Pine: its entry order bar index -1 has no bar in the series"},
      {{0, 7, 1}, "Cannot export trade 0 to Pine: its exit order bar index 7 has no bar in the series"},
      {{1, std::nullopt, 1}, "Cannot export trade 0 to Pine: bar 1 of its entry order has no open time"},
  };
  for (const auto& c : cases) {
    const std::vector<PineTrade> trades{c.trade};
    auto text = bw::toPine(1000, trades, series, at);
    ASSERT_FALSE(text.ok());
    EXPECT_EQ(text.error().reason, c.reason);
    EXPECT_EQ(text.error().status, bw::Status::InvalidArg);
  }
}

}  // namespace
