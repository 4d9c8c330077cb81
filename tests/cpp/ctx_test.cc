#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "core/bar_ctx.h"

namespace {

using bw::ArcOhlcv;
using bw::Ctx;
using bw::CtxSkip;
using bw::DateTime;
using bw::Ohlcv;
using bw::OhlcvBar;
using bw::SharedCtx;

constexpr uint64_t kPastEnd = std::numeric_limits<uint64_t>::max();

// n hourly bars opening at 1000 s, 2000 s, ...; closes 0, 1, 2, ...
ArcOhlcv series(size_t n) {
  Ohlcv o;
  for (size_t i = 0; i < n; ++i) {
    OhlcvBar b;
    b.openTime = DateTime{static_cast<int64_t>(1000 * (i + 1)), 0};
    b.close = static_cast<double>(i);
    o.bars.push_back(b);
  }
  return ArcOhlcv(std::move(o));
}

Ctx at(ArcOhlcv s, uint64_t index, bool initialized = true) {
  Ctx c;
  c.ohlcv = std::move(s);
  c.barIndex = index;
  c.initialized = initialized;
  return c;
}

TEST(Ctx, AdvanceWalksToTheEndAndSeesAppendedBars) {
  ArcOhlcv s = series(2);
  Ctx c = at(s, 0, false);
  EXPECT_EQ(c.advance(), std::optional<uint64_t>(0));
  EXPECT_EQ(c.advance(), std::optional<uint64_t>(1));
  EXPECT_EQ(c.advance(), std::nullopt);
  EXPECT_EQ(c.barIndex, 1u);
  s.write([](Ohlcv& o) { o.bars.push_back(OhlcvBar{}); });
  EXPECT_EQ(c.advance(), std::optional<uint64_t>(2));
  c.reset();
  EXPECT_FALSE(c.initialized);
  EXPECT_EQ(c.advance(), std::optional<uint64_t>(0));
}

TEST(Ctx, BarNeedsABarAtTheIndex) {
  EXPECT_FALSE(at(series(0), 0, false).bar().ok());
  EXPECT_FALSE(at(series(3), 3).bar().ok());
  auto b = at(series(3), 2).bar();
  ASSERT_TRUE(b.ok());
  EXPECT_EQ(b->close, 2.0);
}

struct SkipCase {
  size_t bars;
  uint64_t from;
  CtxSkip skip;
  uint64_t want;
};

TEST(Ctx, SkipTargetsWrapAndClampToTheLastBar) {
  const DateTime t3{4000, 0};
  const std::vector<SkipCase> cases = {
      {10, 0, CtxSkip::end(), 9},
      {10, 0, CtxSkip::bars(3), 3},
      {10, 5, CtxSkip::bars(100), 9},
      {10, 5, CtxSkip::bars(-2), 3},
      {10, 5, CtxSkip::bars(-5), 0},
      {10, 5, CtxSkip::bars(-6), 9},  // wraps below 0, clamps to the last bar
      {10, 5, CtxSkip::barIndex(4), 4},
      {10, 5, CtxSkip::barIndex(-1), 9},
      {10, 5, CtxSkip::bars(INT32_MIN), 9},
      {10, 8, CtxSkip::openTimeEq(t3), 3},  // searches from the start: moves back
      {10, 0, CtxSkip::openTimeEq(DateTime{4000, 1}), 9},
      {10, 0, CtxSkip::openTimeGeq(DateTime{6500, 0}), 6},
      {10, 0, CtxSkip::openTimeGeq(DateTime{6000, 0}), 5},
      {10, 0, CtxSkip::openTimeGeq(DateTime{999, 999999999}), 0},
      {10, 0, CtxSkip::openTimeGeq(DateTime{10001, 0}), 9},
      // No last bar on an empty series: the index may be left past the end.
      {0, 0, CtxSkip::end(), kPastEnd},
      {0, 0, CtxSkip::bars(3), 3},
      {0, 0, CtxSkip::barIndex(-1), kPastEnd},
      {0, 0, CtxSkip::openTimeGeq(t3), kPastEnd},
  };
  for (const auto& k : cases) {
    Ctx c = at(series(k.bars), k.from, false);
    c.skip(k.skip);
    EXPECT_EQ(c.barIndex, k.want) << "bars " << k.bars << " from " << k.from << " kind "
                                  << static_cast<int>(k.skip.kind) << " n " << k.skip.n;
    EXPECT_FALSE(c.initialized) << "a skip never changes the initialised flag";
  }
}

TEST(Ctx, TimeSkipsIgnoreBarsWithoutOpenTime) {
  ArcOhlcv s = series(4);
  s.write([](Ohlcv& o) { o.bars[1].openTime.reset(); });
  Ctx c = at(s, 0);
  c.skip(CtxSkip::openTimeGeq(DateTime{1500, 0}));
  EXPECT_EQ(c.barIndex, 2u);
}

TEST(Ctx, AnnualizationFactorByKindAndTimeframe) {
  ArcOhlcv s = series(1);
  Ctx c = at(s, 0);
  EXPECT_EQ(c.annualizationFactor().error().reason, "Unknown timeframe");
  s.write([](Ohlcv& o) { o.timeframe = bw::Timeframe::of(bw::TimeUnit::Days, 1); });
  EXPECT_EQ(*c.annualizationFactor(), 252.0);
  c.sym.kind = bw::SymKind::of(bw::SymKind::Tag::Crypto);
  EXPECT_EQ(*c.annualizationFactor(), 365.0);
  s.write([](Ohlcv& o) { o.timeframe = bw::Timeframe::of(bw::TimeUnit::Hours, 1); });
  EXPECT_EQ(*c.annualizationFactor(), 8760.0);
  s.write([](Ohlcv& o) { o.timeframe = bw::Timeframe::of(bw::TimeUnit::Ticks, 1); });
  EXPECT_EQ(c.annualizationFactor().error().reason, "Unknown timeframe");
}

TEST(SharedCtx, CopiesShareTheCellAndCopyMakesANewOne) {
  SharedCtx a(at(series(5), 0, false));
  SharedCtx same = a;
  ASSERT_TRUE(a.write([](Ctx& c) { c.advance(); }).ok());
  ASSERT_TRUE(same.write([](Ctx& c) { c.advance(); }).ok());
  auto copied = a.copy();
  ASSERT_TRUE(copied.ok());
  EXPECT_TRUE(a.sameCell(same));
  EXPECT_FALSE(a.sameCell(*copied));
  ASSERT_TRUE(copied->write([](Ctx& c) { c.advance(); }).ok());
  EXPECT_EQ(*a.read([](const Ctx& c) { return c.barIndex; }), 1u);
  EXPECT_EQ(*copied->read([](const Ctx& c) { return c.barIndex; }), 2u);
  EXPECT_TRUE(*copied->read([&](const Ctx& c) { return a.read([&](const Ctx& o) {
    return c.ohlcv.sameStorage(o.ohlcv);
  }); }));
}

TEST(SharedCtx, ConflictingBorrowsAreErrorsAndReleaseAfterwards) {
  SharedCtx a(at(series(3), 0, false));
  auto nestedWrite = a.read([&](const Ctx&) { return a.write([](Ctx& c) { c.advance(); }); });
  EXPECT_FALSE(nestedWrite.ok());
  EXPECT_EQ(nestedWrite.error().status, bw::Status::GenericFailure);
  auto nestedRead = a.write([&](Ctx&) { return a.read([](const Ctx& c) { return c.barIndex; }); });
  EXPECT_FALSE(nestedRead.ok());
  auto readers = a.read([&](const Ctx&) { return a.read([](const Ctx& c) { return c.initialized; }); });
  EXPECT_TRUE(readers.ok()) << "many readers at once";
  // Nothing stays borrowed after a failed borrow.
  EXPECT_TRUE(a.write([](Ctx& c) { return c.advance(); }).ok());
  EXPECT_EQ(*a.read([](const Ctx& c) { return c.barIndex; }), 0u);
}

}  // namespace
