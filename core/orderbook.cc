#include "core/orderbook.h"

namespace bw {

uint64_t OrderBook::queue(OrderConfig request) {
  const uint64_t id = nextId_++;
  Order o;
  o.id = id;
  o.size = grid_.round(request.size);
  o.tag = std::move(request.tag);
  o.terms = std::move(request.terms);
  o.liveFrom = request.liveFrom;
  orders_.push_back(std::move(o));
  queue_.push_back(id);
  return id;
}

const Order* OrderBook::take() {
  if (queue_.empty()) return nullptr;
  const uint64_t id = queue_.front();
  queue_.pop_front();
  return &orders_[id];
}

size_t OrderBook::cancel(std::string_view tag) {
  size_t kept = 0, cancelled = 0;
  for (size_t i = 0; i < queue_.size(); ++i) {
    const Order& o = orders_[queue_[i]];
    if (o.tag && *o.tag == tag)
      ++cancelled;
    else
      queue_[kept++] = queue_[i];
  }
  queue_.resize(kept);
  return cancelled;
}

}  // namespace bw
