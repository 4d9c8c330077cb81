#include "addon/bind.h"
#include "addon/classes.h"
#include "core/bar_index.h"
#include "core/timeframe.h"

using namespace bw;
using namespace bw::js;

namespace {

template <TimeUnit U>
std::optional<int32_t> countOf(const Timeframe& t) {
  if (t.unit != U) return std::nullopt;
  return toInt32(t.count);
}

}  // namespace

BW_REGISTER(timeframe) {
  Class<Timeframe> c;
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
  c.getter("years", [](const Timeframe& t) { return countOf<TimeUnit::Years>(t); });
  c.getter("months", [](const Timeframe& t) { return countOf<TimeUnit::Months>(t); });
  c.getter("weeks", [](const Timeframe& t) { return countOf<TimeUnit::Weeks>(t); });
  c.getter("days", [](const Timeframe& t) { return countOf<TimeUnit::Days>(t); });
  c.getter("hours", [](const Timeframe& t) { return countOf<TimeUnit::Hours>(t); });
  c.getter("minutes", [](const Timeframe& t) { return countOf<TimeUnit::Minutes>(t); });
  c.getter("seconds", [](const Timeframe& t) { return countOf<TimeUnit::Seconds>(t); });
  c.getter("ticks", [](const Timeframe& t) { return countOf<TimeUnit::Ticks>(t); });
  c.getter("ranges", [](const Timeframe& t) { return countOf<TimeUnit::Ranges>(t); });
  c.getter("unknown", [](const Timeframe& t) { return t.isUnknown(); });
  c.method("eq", [](const Timeframe& a, const Timeframe& b) { return a == b; });
  c.method("toString", [](const Timeframe& t) { return t.toString(); });
  c.method("toDurationS", [](const Timeframe& t) -> Result<int32_t> {
    BW_ASSIGN(len, t.durationSeconds());
    return toInt32(len);
  });
}
