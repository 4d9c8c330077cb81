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
// them out at once, before any other code runs. Each value type describes its record once, in a
// Codec<T> (write: value to channels; read: channels to value, checking every slot), next to its
// class table in its binding file.
#pragma once

#include <node_api.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "core/datetime.h"
#include "core/error.h"

namespace bw::js {

// Channel capacity: the largest record of any value class fits.
inline constexpr size_t kRecordNumbers = 32;
inline constexpr size_t kRecordTexts = 16;

// Slots a value takes in the numbers channel.
inline constexpr size_t kTimeSlots = 3;    // milliseconds (NaN when absent), seconds, nanoseconds
inline constexpr size_t kUint64Slots = 2;  // low and high 32 bits

// The value type's record layout and its two directions; specialised once per value type.
template <class T>
struct Codec;

// Writes one record into the channels.
class RecordOut {
 public:
  explicit RecordOut(napi_env env);
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
  Result<Unit> status_ = Unit{};
};

// Reads one record from the channels. Every slot is checked: a record that does not hold a value
// of the class (wrong types, out-of-range tags or times) is refused with `refusal`.
class RecordIn {
 public:
  RecordIn(napi_env env, Error refusal);
  Result<double> number(size_t slot) const;
  Result<bool> flag(size_t slot) const;
  // A whole number in [lo, hi].
  Result<int64_t> integer(size_t slot, int64_t lo, int64_t hi) const;
  Result<uint64_t> uint64(size_t slot) const;
  Result<std::optional<DateTime>> time(size_t slot) const;
  Result<std::optional<std::string>> text(size_t slot) const;

 private:
  napi_env env_;
  const double* numbers_ = nullptr;
  napi_value texts_ = nullptr;
  Error refusal_;
};

// Kernel calls. `classId` is the value class of the record.
// Copies the record of `obj` into the channels; false when `obj` is not an object of the class.
Result<bool> unpackRecord(napi_env env, napi_value obj, int classId);
// Writes the channels back into the record of `obj` (after a native setter changed the value).
Result<Unit> storeRecord(napi_env env, napi_value obj, int classId);
// A new object of the class from the record in the channels.
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
