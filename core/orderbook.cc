#include "core/orderbook.h"

namespace bw {

uint64_t OrderBook::queue(OrderConfig request) {
  const uint64_t id = nextId_++;
  orders_.push_back(Order{id, grid_.round(request.size), std::move(request.tag)});
  queue_.push_back(id);
  return id;
}

const Order* OrderBook::take() {
  if (queue_.empty()) return nullptr;
  const uint64_t id = queue_.front();
  queue_.pop_front();
  return &orders_[id];
}

}  // namespace bw
