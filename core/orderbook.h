// The order book: orders waiting for the next processing pass, in arrival order, and the record
// of every order ever queued. It decides nothing about prices (the fill model does) nor about
// trades (the ledger does).
#pragma once

#include <cstdint>
#include <deque>
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

  size_t pending() const { return queue_.size(); }
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

}  // namespace bw
