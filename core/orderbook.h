// The order book: orders waiting for a processing pass, in arrival order, and the record of every
// order ever queued. It decides nothing about prices (the fill model does) nor about trades (the
// ledger does).
#pragma once

#include <cstdint>
#include <deque>
#include <string_view>
#include <vector>

#include "core/trade.h"

namespace bw {

class OrderBook {
 public:
  explicit OrderBook(QtyGrid grid) : grid_(grid) {}

  // Rounds the size onto the quantity grid, gives the order the next id and queues it. Nothing
  // is filled until the next processing pass.
  uint64_t queue(OrderConfig request);
  // The oldest unprocessed order, taken off the queue (it stays in the record), or null.
  const Order* take();
  // Hands every waiting order, oldest first, to `done(Order&)`, which returns Result<bool>: true
  // takes the order off the queue, false leaves it waiting. An error ends the sweep: the order
  // that failed is taken off, those after it keep waiting.
  template <class F>
  Result<Unit> sweep(F&& done);
  // Takes every waiting order tagged `tag` off the queue; how many there were.
  size_t cancel(std::string_view tag);

  size_t pending() const { return queue_.size(); }
  bool idle() const { return queue_.empty(); }
  // The waiting orders' ids, oldest first.
  const std::deque<uint64_t>& pendingIds() const { return queue_; }
  uint64_t nextId() const { return nextId_; }
  // Every order ever queued, by id; entries stay after processing.
  const std::vector<Order>& orders() const { return orders_; }
  const QtyGrid& grid() const { return grid_; }

 private:
  std::deque<uint64_t> queue_;
  std::vector<Order> orders_;  // orders_[id].id == id
  uint64_t nextId_ = 0;
  QtyGrid grid_;
};

template <class F>
Result<Unit> OrderBook::sweep(F&& done) {
  // Compacts the queue in place: a pass allocates nothing.
  size_t kept = 0;
  for (size_t i = 0; i < queue_.size(); ++i) {
    const uint64_t id = queue_[i];
    Result<bool> r = done(orders_[id]);
    if (!r.ok()) {
      for (size_t j = i + 1; j < queue_.size(); ++j) queue_[kept++] = queue_[j];
      queue_.resize(kept);
      return std::move(r).error();
    }
    if (!*r) queue_[kept++] = id;
  }
  queue_.resize(kept);
  return Unit{};
}

}  // namespace bw
