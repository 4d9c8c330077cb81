// Value objects: the small value classes (timeframes, bars, symbols, signals, trades, ...) keep
// their data in a record of plain JavaScript numbers and texts held in a private field of the
// object. The engine owns that memory: there is no native allocation per object, no reference and
// no finalizer, so a loop that makes millions of them runs in flat memory. Getters that only read
// the record run in JavaScript; everything else is native and sees the record through two
// channels shared with the JavaScript side of the add-on (its "kernel", made per environment):
//
//   numbers  a Float64Array the native side reads and writes in place
//   texts    a dense JavaScript array of strings or null
//
// A value crosses in one direction at a time: the writer fills the channels, the reader copies
// them out at once, before any other code runs. The channels have a few regions of one record
// each: a member's JavaScript half copies the receiver's record into region 0 and each value
// argument's into the next region before it calls the native half, which reads them all before it
// converts anything else; a value result goes back through region 0. Each value type describes its
// record once, in a Codec<T> (write: value to channels; read: channels to value, checking every
// slot), next to its class table in its binding file.
#pragma once

#include <node_api.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "core/datetime.h"
#include "core/error.h"

namespace bw::js {

// Channel capacity: a region holds the largest record of any value class. The last number of a
// region says whether a record was copied there (1) or the value was not of the class (0); the
// one before it has bit k set when text k is a string, so absent texts cost no host call.
inline constexpr size_t kRecordNumbers = 32;
inline constexpr size_t kRecordTexts = 16;
inline constexpr size_t kRecordPresent = kRecordNumbers - 1;
inline constexpr size_t kRecordTextMask = kRecordNumbers - 2;
inline constexpr size_t kRegions = 4;
// After the regions: one more region where a walker's step leaves the record of the item it moved
// to (see kernelPrefetch), then the epoch, a count of calls into the native side. A record left
// by a step is current as long as the epoch has not moved since: nothing native ran, so nothing
// could change what it describes.
inline constexpr size_t kPrefetchRegion = kRegions;
inline constexpr size_t kEpochSlot = (kRegions + 1) * kRecordNumbers;
// The handle a member's JavaScript half found on its receiver (0: none), taken by the native half
// before anything else runs (see takeHandle); and where a walker's step leaves the index it moved
// to (NaN at the end), so the step returns nothing the host would have to box.
inline constexpr size_t kHandleSlot = kEpochSlot + 1;
inline constexpr size_t kStepSlot = kEpochSlot + 2;
inline constexpr size_t kChannelNumbers = kEpochSlot + 3;

// Counts one call into the native side (every callback does, before anything else).
void bumpEpoch(napi_env env);

// Slots a value takes in the numbers channel.
inline constexpr size_t kTimeSlots = 3;    // milliseconds (NaN when absent), seconds, nanoseconds
inline constexpr size_t kUint64Slots = 2;  // low and high 32 bits

// The value type's record layout and its two directions; specialised once per value type.
template <class T>
struct Codec;

// Writes one record into the channels.
class RecordOut {
 public:
  explicit RecordOut(napi_env env, size_t region = 0);
  // Into plain memory: a record of numbers only (lists of such values go in bulk).
  explicit RecordOut(double* numbers) : env_(nullptr), numbers_(numbers), plain_(true) {}
  void number(size_t slot, double x);
  void flag(size_t slot, bool b) { number(slot, b ? 1 : 0); }
  void uint64(size_t slot, uint64_t x);
  void time(size_t slot, const std::optional<DateTime>& t);
  void text(size_t slot, const std::optional<std::string>& t);
  // The first failure of the host while writing, if any.
  Result<Unit> done() const { return status_; }

 private:
  napi_env env_;
  double* numbers_ = nullptr;
  napi_value texts_ = nullptr;
  uint32_t textBase_ = 0;
  uint32_t textMask_ = 0;
  bool plain_ = false;
  Result<Unit> status_ = Unit{};
};

// Who refuses a value that is not of the class: the receiver's or the argument's error of the
// binding conventions, made only when it is needed.
struct Refusal {
  const char* className;
  bool receiver;
  Error error() const;
};

// Reads one record from the channels. Every slot is checked: a slot that does not hold what the
// class needs there (another type, an out-of-range tag or time) reads as a neutral value and
// marks the record bad, and `result` then refuses it. Reads are plain so a codec reads slot after
// slot without an error check between them.
class RecordIn {
 public:
  RecordIn(napi_env env, Refusal refusal, size_t region = 0);
  // From plain memory: a record of numbers only.
  RecordIn(const double* numbers, Refusal refusal) : env_(nullptr), numbers_(numbers), refusal_(refusal), plain_(true) {}
  // Whether the JavaScript half found a record of the class for this region. The small reads are
  // inline: a codec's read is then a run of loads and compares.
  bool present() const { return numbers_ && numbers_[kRecordPresent] == 1; }
  double number(size_t slot) const {
    if (!numbers_ || slot >= kRecordTextMask) return bad(0.0);
    return numbers_[slot];
  }
  bool flag(size_t slot) const { return integer(slot, 0, 1) == 1; }
  // A whole number in [lo, hi].
  int64_t integer(size_t slot, int64_t lo, int64_t hi) const {
    const double x = number(slot);
    if (!(x >= static_cast<double>(lo) && x <= static_cast<double>(hi)) || std::trunc(x) != x) return bad(lo);
    return static_cast<int64_t>(x);
  }
  uint64_t uint64(size_t slot) const;
  // The region's numbers as they are, the text mask among them (null when reading from plain
  // memory, or when there is no channel).
  const double* raw() const { return plain_ ? nullptr : numbers_; }
  std::optional<DateTime> time(size_t slot) const;
  std::optional<std::string> text(size_t slot) const {
    if (!numbers_ || plain_ || slot >= kRecordTexts) return bad(std::optional<std::string>{});
    const double mask = numbers_[kRecordTextMask];
    if (!(mask >= 0 && mask < 65536) || std::trunc(mask) != mask) return bad(std::optional<std::string>{});
    if (!(static_cast<uint32_t>(mask) & (1u << slot))) return std::nullopt;
    return textAt(slot);
  }
  // The value read, or the refusal when a slot was bad.
  template <class T>
  Result<T> result(T value) const {
    if (bad_) return refusal_.error();
    return value;
  }

 private:
  template <class T>
  T bad(T neutral) const {
    bad_ = true;
    return neutral;
  }

  // A text the mask says is there, read from the texts channel.
  std::optional<std::string> textAt(size_t slot) const;

  napi_env env_;
  const double* numbers_ = nullptr;
  mutable napi_value texts_ = nullptr;
  uint32_t textBase_ = 0;
  Refusal refusal_;
  bool plain_ = false;
  mutable bool bad_ = false;
};

// Kernel calls. `classId` is the value class of the record.
// Copies the record of `obj` into region 0; false when `obj` is not an object of the class (for
// callers without a JavaScript half: free functions, constructors of boxed classes, list elements).
Result<bool> unpackRecord(napi_env env, napi_value obj, int classId);
// A new object of the class from the record in region 0.
Result<napi_value> makeRecord(napi_env env, int classId);

// JavaScript expressions over a record `d`, for members computed on the JavaScript side. They
// name slots of the numbers channel and of the texts channel the way Codec<T> lays them out.
namespace jsx {
std::string number(size_t slot);                        // the number as it is
std::string int32(size_t slot);                         // a uint64 record's low half, as int32
std::string text(size_t textSlot, size_t numbers);      // the text or null
std::string flag(size_t slot);                          // a 0/1 slot as a boolean
std::string date(size_t slot);                          // a time as a new Date, or null
std::string equals(size_t slot, double x);              // true when the slot holds x
std::string when(size_t slot, double x, const std::string& then);  // then, or null
// A new object of another value class from the given slot expressions, in its record order.
std::string object(int classId, const std::string& slots);
// The slot expressions of `count` slots from `first`, comma separated.
std::string slots(size_t first, size_t count);
std::string textSlots(size_t firstText, size_t count, size_t numbers);
}  // namespace jsx

}  // namespace bw::js
