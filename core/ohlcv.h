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

// Optional times order with absent below every time; std::optional's own ordering does exactly
// that, so bars compare their times with the plain operators.
using OptTime = std::optional<DateTime>;

// One period of market data. No invariant is enforced: validation of a series names the problems.
struct OhlcvBar {
  OptTime openTime;
  OptTime closeTime;
  double open = kNaN;
  double high = kNaN;
  double low = kNaN;
  double close = kNaN;
  double volume = kNaN;

  // Folds `b` into this bar: the earlier open (ties keep ours), the later close (ties keep ours),
  // the larger high and smaller low ignoring NaN, and the summed volume.
  void absorb(const OhlcvBar& b) {
    if (b.openTime < openTime) {
      openTime = b.openTime;
      open = b.open;
    }
    if (b.closeTime > closeTime) {
      closeTime = b.closeTime;
      close = b.close;
    }
    high = std::fmax(high, b.high);
    low = std::fmin(low, b.low);
    volume += b.volume;
  }
  // This bar merged with `b`, this bar being the receiver; neither changes.
  OhlcvBar merge(const OhlcvBar& b) const {
    OhlcvBar out = *this;
    out.absorb(b);
    return out;
  }

  // "OhlcvBar { open_time: Some(2024-03-01T09:30:00Z), close_time: None, open: 100.0, ... }".
  std::string debug() const;
};

// "None" or "Some(2024-03-01T09:30:00Z)".
std::string debugTime(const OptTime& t);

// The series value: bars in the order they were added, and a timeframe label.
struct Ohlcv {
  std::vector<OhlcvBar> bars;
  Timeframe timeframe;

  // "Ohlcv { bars: [...], timeframe: Days(1) }".
  std::string debug() const;
  // Success, or the first bad bar: "bar[3 | Some(...) | None]: close_time <= open_time, ...".
  Result<Unit> validate() const;
};

// A shared handle on one Ohlcv behind one reader/writer lock. Copying the handle shares the
// storage; it lives until the last handle goes. Each operation holds the lock only for its own
// duration and never calls out while holding it. This is also the read interface that contexts,
// backtests and the script runtime use: length and get cost one lock and at most one bar copy.
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

  // --- Reading -------------------------------------------------------------------------------

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
  // As get, with a negative index counting from the end (-1 is the last bar).
  std::optional<OhlcvBar> at(int32_t index) const;
  Timeframe timeframe() const {
    return read([](const Ohlcv& o) { return o.timeframe; });
  }
  // Copies of the bars start <= i < end; fails unless 0 <= start <= end <= length.
  Result<std::vector<OhlcvBar>> slice(uint64_t start, uint64_t end) const;
  std::vector<OhlcvBar> bars() const {
    return read([](const Ohlcv& o) { return o.bars; });
  }
  // One list per field, in bar order.
  std::vector<OptTime> timeColumn(OptTime OhlcvBar::*field) const;
  std::vector<double> column(double OhlcvBar::*field) const;
  std::vector<OptTime> openTimes() const { return timeColumn(&OhlcvBar::openTime); }
  std::vector<OptTime> closeTimes() const { return timeColumn(&OhlcvBar::closeTime); }
  std::vector<double> opens() const { return column(&OhlcvBar::open); }
  std::vector<double> highs() const { return column(&OhlcvBar::high); }
  std::vector<double> lows() const { return column(&OhlcvBar::low); }
  std::vector<double> closes() const { return column(&OhlcvBar::close); }
  std::vector<double> volumes() const { return column(&OhlcvBar::volume); }
  Result<Unit> validate() const {
    return read([](const Ohlcv& o) { return o.validate(); });
  }
  // Index of the first bar whose open time equals t / is present and at or after t. Bars
  // without an open time never match.
  std::optional<size_t> findOpenTime(const DateTime& t) const;
  std::optional<size_t> findOpenTimeAtOrAfter(const DateTime& t) const;
  // "ArcOhlcv { inner: RwLock { data: Ohlcv { ... }, poisoned: false, .. } }".
  std::string debug() const;

  // --- New storage ---------------------------------------------------------------------------

  // A new, independent storage holding a copy of the series.
  ArcOhlcv deepCopy() const { return ArcOhlcv(read([](const Ohlcv& o) { return o; })); }
  // New storage with the bars start <= i < end (limits as for slice), the first count bars
  // (count <= length), or the last count bars (all of them when count >= length); same timeframe.
  Result<ArcOhlcv> sliced(uint64_t start, uint64_t end) const;
  Result<ArcOhlcv> head(uint64_t count) const;
  ArcOhlcv tail(uint64_t count) const;
  bool sameStorage(const ArcOhlcv& other) const { return s_ == other.s_; }

  // --- Mutation ------------------------------------------------------------------------------

  void push(const OhlcvBar& bar) {
    write([&](Ohlcv& o) { o.bars.push_back(bar); });
  }
  void pushMany(const std::vector<OhlcvBar>& bars) {
    write([&](Ohlcv& o) { o.bars.insert(o.bars.end(), bars.begin(), bars.end()); });
  }
  // Appends copies of the other series' bars; the timeframe stays. The bars are copied under the
  // other series' read lock before this one is locked for writing, so extending a series by
  // itself (or by a handle on the same storage) appends a copy and never holds two locks.
  void extend(const ArcOhlcv& other) { pushMany(other.bars()); }
  std::optional<OhlcvBar> pop();
  std::optional<OhlcvBar> shift();
  void clear() {
    write([](Ohlcv& o) { o.bars.clear(); });
  }
  void reverse();
  // Stable sort on open times, absent below every time; descending keeps equal times in order.
  void sort(bool ascending);
  void setTimeframe(const Timeframe& tf) {
    write([&](Ohlcv& o) { o.timeframe = tf; });
  }

 private:
  struct Storage {
    mutable std::shared_mutex mu;
    Ohlcv data;
  };
  std::shared_ptr<Storage> s_;
};

}  // namespace bw
