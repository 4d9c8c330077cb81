// Append-only per-bar histories: the newest element is the current bar, x[k] reads k bars back,
// and reading beyond the history gives the element type's missing value (NaN for numbers, absent
// for optional integers and booleans). Never trimmed; appends are amortised constant time.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/ohlcv.h"  // kNaN

namespace bw::rt {

// Steps still to come in the collect running on this thread (0 outside one): a series that has
// to grow during a collect grows once to hold them all, rather than doubling its way there and
// copying its history at every doubling. Only the collect loop of runtime/indicator.h sets it.
inline thread_local size_t tlCollectAhead = 0;

// How each element type is stored and what it reads as beyond the history.
template <class T>
struct SeriesCodec {
  using Stored = T;
  static Stored encode(T v) { return v; }
  static T decode(Stored s) { return s; }
  static T missing() { return T{}; }  // absent for optionals
};
template <>
struct SeriesCodec<double> {
  using Stored = double;
  static double encode(double v) { return v; }
  static double decode(double s) { return s; }
  static double missing() { return kNaN; }
};
// One byte a bar: 0 false, 1 true, 2 absent.
template <>
struct SeriesCodec<std::optional<bool>> {
  using Stored = int8_t;
  static int8_t encode(std::optional<bool> v) { return v ? static_cast<int8_t>(*v) : int8_t{2}; }
  static std::optional<bool> decode(int8_t s) {
    if (s == 2) return std::nullopt;
    return s == 1;
  }
  static std::optional<bool> missing() { return std::nullopt; }
};

template <class T>
class Series {
  using Codec = SeriesCodec<T>;

 public:
  using value_type = T;

  // Opens the next bar: the newest value carries forward; an empty series stays empty.
  void advance() {
    if (!v_.empty()) v_.push_back(v_.back());
  }
  // Replaces the newest value; on an empty series appends it.
  void set(T x) {
    if (v_.empty())
      v_.push_back(Codec::encode(x));
    else
      v_.back() = Codec::encode(x);
  }
  // advance() then set(x): always exactly one new element. Inlined into every step: it is the
  // one thing each step does to each of its series.
  [[gnu::always_inline]] void push(T x) {
    if (v_.size() == v_.capacity()) [[unlikely]]
      grow();
    v_.push_back(Codec::encode(x));
  }

  // Room for `extra` more elements without growing on the way (a collect knows how many bars it
  // will step). Repeated small reservations still grow geometrically, never one at a time.
  void reserveMore(size_t extra) {
    const size_t want = v_.size() + extra;
    if (want <= v_.capacity()) return;
    v_.reserve(std::max(want, v_.capacity() + v_.capacity() / 2));
  }

  // The element k bars back; the missing value when k is negative or beyond the history.
  T operator[](int64_t k) const {
    const uint64_t n = v_.size();
    if (static_cast<uint64_t>(k) >= n) return Codec::missing();
    return Codec::decode(v_[n - 1 - static_cast<uint64_t>(k)]);
  }
  int64_t length() const { return static_cast<int64_t>(v_.size()); }
  // The newest `n` stored elements as one contiguous run, oldest first: window[n - 1] is x[0]
  // and window[n - 1 - k] is x[k]. For loops over a whole window without a range check per
  // element; the caller makes sure n <= length().
  const typename Codec::Stored* window(size_t n) const { return v_.data() + (v_.size() - n); }
  bool empty() const { return v_.empty(); }

  // Bytes held, for memory accounting.
  size_t capacityBytes() const { return v_.capacity() * sizeof(typename Codec::Stored); }

 private:
  // Out of line, so that push itself stays small enough to inline into every step.
  [[gnu::noinline]] void grow() {
    v_.reserve(std::max(v_.size() + std::max<size_t>(tlCollectAhead, 1), 2 * v_.capacity()));
  }

  std::vector<typename Codec::Stored> v_;
};

using NumSeries = Series<double>;
using IntSeries = Series<std::optional<int64_t>>;
using BoolSeries = Series<std::optional<bool>>;

}  // namespace bw::rt
