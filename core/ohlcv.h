// OHLCV bars and the shared, reader/writer-locked series handle.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <utility>
#include <vector>

#include "core/datetime.h"
#include "core/error.h"
#include "core/timeframe.h"

namespace bw {

inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct OhlcvBar {
  std::optional<DateTime> openTime;
  std::optional<DateTime> closeTime;
  double open = kNaN;
  double high = kNaN;
  double low = kNaN;
  double close = kNaN;
  double volume = kNaN;
};

// The series value: bars in the order they were added, and a timeframe label.
struct Ohlcv {
  std::vector<OhlcvBar> bars;
  Timeframe timeframe;
};

// A shared handle on one Ohlcv behind one reader/writer lock. Copying the handle shares the
// storage; it lives until the last handle goes. Each operation holds the lock only for its own
// duration and never calls out while holding it. This is also the read interface that contexts,
// backtests and the script runtime use.
class ArcOhlcv {
 public:
  ArcOhlcv() : s_(std::make_shared<Storage>()) {}
  explicit ArcOhlcv(Ohlcv data) : s_(std::make_shared<Storage>()) { s_->data = std::move(data); }

  // Runs f(const Ohlcv&) under the read lock. f must not call back into this series.
  template <class F>
  decltype(auto) read(F&& f) const {
    std::shared_lock lock(s_->mu);
    return std::forward<F>(f)(static_cast<const Ohlcv&>(s_->data));
  }
  // Runs f(Ohlcv&) under the write lock. f must not call back into this series.
  template <class F>
  decltype(auto) write(F&& f) const {
    std::unique_lock lock(s_->mu);
    return std::forward<F>(f)(s_->data);
  }

  size_t length() const {
    return read([](const Ohlcv& o) { return o.bars.size(); });
  }
  // A copy of the bar at the index, or absent when index >= length.
  std::optional<OhlcvBar> get(size_t i) const {
    return read([i](const Ohlcv& o) -> std::optional<OhlcvBar> {
      if (i >= o.bars.size()) return std::nullopt;
      return o.bars[i];
    });
  }
  Timeframe timeframe() const {
    return read([](const Ohlcv& o) { return o.timeframe; });
  }
  // A new, independent storage holding a copy of the series.
  ArcOhlcv deepCopy() const { return ArcOhlcv(read([](const Ohlcv& o) { return o; })); }
  bool sameStorage(const ArcOhlcv& other) const { return s_ == other.s_; }

 private:
  struct Storage {
    mutable std::shared_mutex mu;
    Ohlcv data;
  };
  std::shared_ptr<Storage> s_;
};

}  // namespace bw
