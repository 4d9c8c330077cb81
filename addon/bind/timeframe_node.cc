#include "addon/bind.h"
#include "addon/classes.h"
#include "core/bar_index.h"
#include "core/timeframe.h"

using namespace bw;
using namespace bw::js;

namespace {

// The record of a NodeTimeframe: the unit's tag and the 64-bit count in two halves.
enum Slot : size_t { kUnit, kCount, kNumbers = kCount + kUint64Slots };

// A unit's count getter: the count's low 32 bits when the timeframe has that unit, else null.
std::string countOf(TimeUnit u) { return jsx::when(kUnit, static_cast<double>(u), jsx::int32(kCount)); }

}  // namespace

void Codec<Timeframe>::write(const Timeframe& t, RecordOut& out) {
  out.number(kUnit, static_cast<double>(t.unit));
  out.uint64(kCount, t.count);
}

Result<Timeframe> Codec<Timeframe>::read(const RecordIn& in) {
  const auto unit = static_cast<TimeUnit>(in.integer(kUnit, 0, static_cast<int64_t>(TimeUnit::Unknown)));
  return in.result(Timeframe::of(unit, static_cast<int64_t>(in.uint64(kCount))));
}

BW_REGISTER(timeframe) {
  Class<Timeframe> c;
  c.record(kNumbers, 0);
  c.staticMethod("Years", [](int32_t n) { return Timeframe::of(TimeUnit::Years, n); });
  c.staticMethod("Months", [](int32_t n) { return Timeframe::of(TimeUnit::Months, n); });
  c.staticMethod("Weeks", [](int32_t n) { return Timeframe::of(TimeUnit::Weeks, n); });
  c.staticMethod("Days", [](int32_t n) { return Timeframe::of(TimeUnit::Days, n); });
  c.staticMethod("Hours", [](int32_t n) { return Timeframe::of(TimeUnit::Hours, n); });
  c.staticMethod("Minutes", [](int32_t n) { return Timeframe::of(TimeUnit::Minutes, n); });
  c.staticMethod("Seconds", [](int32_t n) { return Timeframe::of(TimeUnit::Seconds, n); });
  c.staticMethod("Ticks", [](int32_t n) { return Timeframe::of(TimeUnit::Ticks, n); });
  c.staticMethod("Ranges", [](int32_t n) { return Timeframe::of(TimeUnit::Ranges, n); });
  c.staticMethod("Unknown", [] { return Timeframe::unknown(); });
  c.staticMethod("fromString", [](std::string s) { return Timeframe::fromString(s); });
  c.staticMethod("fromDurationS", [](int32_t s) { return Timeframe::fromDurationSeconds(s); });
  c.field("years", countOf(TimeUnit::Years));
  c.field("months", countOf(TimeUnit::Months));
  c.field("weeks", countOf(TimeUnit::Weeks));
  c.field("days", countOf(TimeUnit::Days));
  c.field("hours", countOf(TimeUnit::Hours));
  c.field("minutes", countOf(TimeUnit::Minutes));
  c.field("seconds", countOf(TimeUnit::Seconds));
  c.field("ticks", countOf(TimeUnit::Ticks));
  c.field("ranges", countOf(TimeUnit::Ranges));
  c.field("unknown", jsx::equals(kUnit, static_cast<double>(TimeUnit::Unknown)));
  c.method("eq", [](const Timeframe& a, const Timeframe& b) { return a == b; });
  c.method("toString", [](const Timeframe& t) { return t.toString(); });
  c.method("toDurationS", [](const Timeframe& t) -> Result<int32_t> {
    BW_ASSIGN(len, t.durationSeconds());
    return toInt32(len);
  });
}
