#include "core/orderbook.h"

#include <gtest/gtest.h>

#include <cmath>

#include "core/ledger.h"

using namespace bw;

namespace {

constexpr QtyGrid kMilli{0.001, 1000};

// An order book and a ledger on a grid of 0.001 contracts: a pass fills every queued order of
// `bar` at `price`, then values the open trades at `mark`.
struct Desk {
  OrderBook orders{kMilli};
  Ledger trades{kMilli};
  double capital = 1000;

  // The error of the pass, if any.
  std::optional<std::string> pass(uint64_t bar, double price, double mark, bool onClose = false) {
    while (const Order* o = orders.take())
      if (auto r = trades.fill(o->size, o->tag, FillAt{bar, onClose, price, std::nullopt}); !r.ok()) return r.error().reason;
    if (auto r = trades.mark(mark); !r.ok()) return r.error().reason;
    return std::nullopt;
  }
  void order(double size, const char* tag = nullptr) {
    orders.queue(OrderConfig{tag ? std::optional<std::string>(tag) : std::nullopt, size, {}, 0});
  }
  double equity() const { return capital + trades.netProfit() + trades.openProfit(); }
};

}  // namespace

TEST(OrderBook, QueueRoundsOntoTheGridAndCountsIds) {
  OrderBook book(kMilli);
  EXPECT_EQ(book.queue({{}, 1.23456, {}, 0}), 0u);
  EXPECT_EQ(book.queue({{}, 0.0004, {}, 0}), 1u);  // rounds to 0, still takes an id
  EXPECT_EQ(book.nextId(), 2u);
  EXPECT_DOUBLE_EQ(book.orders()[0].size, 1.235);
  EXPECT_EQ(book.orders()[1].size, 0.0);
  EXPECT_EQ(book.pending(), 2u);

  OrderBook ungridded(QtyGrid{kNaN, kNaN});
  ungridded.queue({{}, 1.23456, {}, 0});
  EXPECT_EQ(ungridded.orders()[0].size, 1.23456);
}

TEST(OrderBook, OneOrderNetsSeveralTradesOldestFirst) {
  Desk d;
  d.order(2, "a");
  d.order(1, "b");
  ASSERT_FALSE(d.pass(1, 100, 100));
  ASSERT_EQ(d.trades.open().size(), 2u);  // same direction: never merged
  d.order(-4, "c");
  ASSERT_FALSE(d.pass(2, 110, 110));
  ASSERT_EQ(d.trades.closed().size(), 2u);
  EXPECT_EQ(d.trades.closed()[0].size, 2);
  EXPECT_EQ(d.trades.closed()[0].entry->id, "a");
  EXPECT_EQ(d.trades.closed()[1].size, 1);
  EXPECT_EQ(d.trades.closed()[0].exit->id, "c");
  EXPECT_EQ(d.trades.closed()[0].pnl, 20);
  ASSERT_EQ(d.trades.open().size(), 1u);
  EXPECT_EQ(d.trades.open()[0].size, -1);
  EXPECT_EQ(d.trades.open()[0].entry->id, "c");
  EXPECT_EQ(d.trades.positionSize(), -1);
  EXPECT_EQ(d.trades.netProfit(), 30);
  EXPECT_EQ(d.trades.winningTrades(), 2u);
  EXPECT_EQ(d.equity(), 1030);
}

TEST(OrderBook, PartialCloseKeepsTheTradeOpenAndFilesAClosedCopy) {
  Desk d;
  d.order(2, "long");
  ASSERT_FALSE(d.pass(0, 100, 100));
  d.order(-0.5, "trim");
  ASSERT_FALSE(d.pass(1, 104, 106));
  ASSERT_EQ(d.trades.open().size(), 1u);
  const Trade& kept = d.trades.open()[0];
  EXPECT_EQ(kept.size, 1.5);
  EXPECT_EQ(kept.entry->id, "long");
  EXPECT_EQ(kept.entry->fillBarIndex, 0u);
  EXPECT_EQ(kept.entry->orderBarIndex, -1);  // filled at the open of bar 0
  EXPECT_FALSE(kept.exit);
  EXPECT_EQ(kept.pnl, 9);  // (106 - 100) × 1.5
  ASSERT_EQ(d.trades.closed().size(), 1u);
  const Trade& part = d.trades.closed()[0];
  EXPECT_EQ(part.size, 0.5);
  EXPECT_EQ(part.exit->id, "trim");
  EXPECT_EQ(part.exit->price, 104);
  EXPECT_EQ(part.pnl, 2);
  EXPECT_EQ(d.trades.positionSize(), 1.5);
  EXPECT_EQ(d.trades.openProfit(), 9);
  EXPECT_EQ(d.equity(), 1011);
  EXPECT_EQ(d.trades.netProfit(), 2);
}

TEST(OrderBook, ExactOppositeClosesEverythingAndOpensNothing) {
  Desk d;
  d.order(1);
  d.order(2);
  ASSERT_FALSE(d.pass(0, 50, 50));
  d.order(-3);
  ASSERT_FALSE(d.pass(1, 50, 50));
  EXPECT_TRUE(d.trades.open().empty());
  EXPECT_EQ(d.trades.closed().size(), 2u);
  EXPECT_EQ(d.trades.positionSize(), 0);
  // pnl exactly 0 counts as a loss and adds 0 to the gross loss.
  EXPECT_EQ(d.trades.losingTrades(), 2u);
  EXPECT_EQ(d.trades.winningTrades(), 0u);
  EXPECT_EQ(d.trades.grossLoss(), 0);
}

TEST(OrderBook, NaNOrders) {
  Desk d;
  d.order(kNaN);
  ASSERT_FALSE(d.pass(0, 10, 10));  // nothing open: nothing happens
  EXPECT_TRUE(d.trades.open().empty());
  EXPECT_FALSE(d.trades.firstEntryBarIndex());

  d.order(1);
  ASSERT_FALSE(d.pass(1, 10, 10));
  d.order(kNaN);
  EXPECT_EQ(d.pass(2, 10, 10), "Trade error: InvalidTradeSize(NaN)");
  EXPECT_EQ(d.orders.pending(), 0u);  // taken orders are not put back
}

TEST(OrderBook, OrdersOfOnePassFillAtOnePriceInQueueOrder) {
  Desk d;
  d.order(1, "first");
  d.order(-1, "second");
  ASSERT_FALSE(d.pass(3, 42, 43, /*onClose=*/true));
  ASSERT_EQ(d.trades.closed().size(), 1u);
  const Trade& t = d.trades.closed()[0];
  EXPECT_EQ(t.entry->id, "first");
  EXPECT_EQ(t.exit->id, "second");
  EXPECT_EQ(t.entry->price, 42);
  EXPECT_EQ(t.exit->price, 42);
  EXPECT_EQ(t.entry->orderBarIndex, 3);  // close mode: placed on the fill bar
  EXPECT_EQ(*d.trades.firstEntryBarIndex(), 3u);
}

TEST(OrderBook, BelowTheMinimumQuantityNothingOpens) {
  Desk d;
  d.orders = OrderBook(QtyGrid{1, 1});
  d.trades = Ledger(QtyGrid{1, 1});
  d.order(0.5);  // rounds to 1 (the 2^-52 pushes the half up)
  d.order(-0.5);  // rounds to -0: opens nothing
  ASSERT_FALSE(d.pass(0, 10, 10));
  EXPECT_EQ(d.orders.orders()[0].size, 1);
  EXPECT_EQ(d.orders.orders()[1].size, 0);
  EXPECT_TRUE(std::signbit(d.orders.orders()[1].size));
  EXPECT_EQ(d.trades.open().size(), 1u);
}

TEST(OrderBook, MarkingOrClosingAnInactiveTradeFails) {
  std::deque<Trade> open(1);
  open[0].size = 1;  // no entry
  auto marked = markTrades(open, 10);
  ASSERT_FALSE(marked.ok());
  EXPECT_EQ(marked.error().reason, "Trade error: NotActive");
  EXPECT_FALSE(closeAt(open[0], FillAt{0, false, 10, std::nullopt}, std::nullopt).ok());
}

TEST(OrderBook, SweepKeepsWhatWaitsAndStopsAtAnError) {
  Desk d;
  d.order(1, "keep");
  d.order(2, "fail");
  d.order(3, "after");
  d.order(4, "done");
  auto r = d.orders.sweep([](Order& o) -> Result<bool> {
    if (o.tag == "fail") return invalidArg("no");
    return o.tag != "keep";
  });
  ASSERT_FALSE(r.ok());
  // The failing order is taken off; the one before it that waits and those after it stay.
  std::vector<uint64_t> left(d.orders.pendingIds().begin(), d.orders.pendingIds().end());
  EXPECT_EQ(left, (std::vector<uint64_t>{0, 2, 3}));
  ASSERT_TRUE(d.orders.sweep([](Order& o) -> Result<bool> { return o.tag == "done"; }).ok());
  left.assign(d.orders.pendingIds().begin(), d.orders.pendingIds().end());
  EXPECT_EQ(left, (std::vector<uint64_t>{0, 2}));
}

TEST(OrderBook, CancelTakesEveryOrderOfATag) {
  Desk d;
  d.order(1, "a");
  d.order(1, "b");
  d.order(1, "a");
  d.order(1);
  EXPECT_EQ(d.orders.cancel("a"), 2u);
  EXPECT_EQ(d.orders.cancel("a"), 0u);
  std::vector<uint64_t> left(d.orders.pendingIds().begin(), d.orders.pendingIds().end());
  EXPECT_EQ(left, (std::vector<uint64_t>{1, 3}));
}
