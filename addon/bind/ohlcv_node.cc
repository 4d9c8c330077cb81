#include "addon/bind.h"
#include "addon/classes.h"
#include "addon/record.h"
#include "core/bar_index.h"
#include "core/ohlcv.h"
#include "core/resample.h"

using namespace bw;
using namespace bw::js;

namespace {

using TimeList = std::vector<std::optional<DateTime>>;
using NumberList = std::vector<double>;

using record::Null;

// Every field of a bar's JSON may be null: an absent time, or a NaN number (JSON.stringify writes
// NaN as null), so a bar reads back its own JSON text.
Result<std::optional<std::string>> jsonTime(const JsObject& j, const char* key) {
  return record::named<std::string>(j.env(), j.value(), key, Null::Absent);
}

Result<double> jsonNumber(const JsObject& j, const char* key) {
  BW_ASSIGN(x, record::named<double>(j.env(), j.value(), key, Null::Absent));
  return x.value_or(kNaN);
}

Result<OptTime> parseJsonTime(const std::optional<std::string>& text) {
  if (!text) return OptTime{};
  auto t = DateTime::parseRfc3339(*text);
  if (!t.ok()) return invalidArg("bad date: " + t.error().reason);
  return OptTime{*t};
}

Result<OhlcvBar> barFromJson(JsObject j) {
  BW_ASSIGN(openText, jsonTime(j, "open_time"));
  BW_ASSIGN(closeText, jsonTime(j, "close_time"));
  BW_ASSIGN(open, jsonNumber(j, "open"));
  BW_ASSIGN(high, jsonNumber(j, "high"));
  BW_ASSIGN(low, jsonNumber(j, "low"));
  BW_ASSIGN(close, jsonNumber(j, "close"));
  BW_ASSIGN(volume, jsonNumber(j, "volume"));
  BW_ASSIGN(openTime, parseJsonTime(openText));
  BW_ASSIGN(closeTime, parseJsonTime(closeText));
  return OhlcvBar{openTime, closeTime, open, high, low, close, volume};
}

Result<napi_value> barToJson(napi_env env, const OhlcvBar& b) {
  auto text = [](const OptTime& t) { return t ? std::optional<std::string>(t->toRfc3339()) : std::nullopt; };
  return ObjectBuilder(env)
      .set("open_time", text(b.openTime))
      .set("close_time", text(b.closeTime))
      .set("open", b.open)
      .set("high", b.high)
      .set("low", b.low)
      .set("close", b.close)
      .set("volume", b.volume)
      .done();
}

// Builds bars column by column. The length is that of the first column given; every other
// column given must match it.
Result<std::vector<OhlcvBar>> zipColumns(const std::optional<TimeList>& openTime, const std::optional<TimeList>& closeTime,
                                         const std::optional<NumberList>& open, const std::optional<NumberList>& high,
                                         const std::optional<NumberList>& low, const std::optional<NumberList>& close,
                                         const std::optional<NumberList>& volume) {
  struct Column {
    const char* name;
    bool present;
    size_t size;
  };
  const Column columns[] = {
      {"openTime", openTime.has_value(), openTime ? openTime->size() : 0},
      {"closeTime", closeTime.has_value(), closeTime ? closeTime->size() : 0},
      {"open", open.has_value(), open ? open->size() : 0},
      {"high", high.has_value(), high ? high->size() : 0},
      {"low", low.has_value(), low ? low->size() : 0},
      {"close", close.has_value(), close ? close->size() : 0},
      {"volume", volume.has_value(), volume ? volume->size() : 0},
  };
  const Column* first = nullptr;
  for (const Column& c : columns) {
    if (!c.present) continue;
    if (!first) {
      first = &c;
    } else if (c.size != first->size) {
      return invalidArg(std::string("zipOhlcvBars: column `") + c.name + "` has " + std::to_string(c.size) +
                        " entries, but `" + first->name + "` has " + std::to_string(first->size));
    }
  }
  const size_t n = first ? first->size : 0;
  std::vector<OhlcvBar> out(n);
  auto fill = [&out](const auto& col, auto field) {
    if (col)
      for (size_t i = 0; i < out.size(); ++i) out[i].*field = (*col)[i];
  };
  fill(openTime, &OhlcvBar::openTime);
  fill(closeTime, &OhlcvBar::closeTime);
  fill(open, &OhlcvBar::open);
  fill(high, &OhlcvBar::high);
  fill(low, &OhlcvBar::low);
  fill(close, &OhlcvBar::close);
  fill(volume, &OhlcvBar::volume);
  return out;
}

// The record of a NodeOhlcvBar: the five numbers, then the two times.
enum BarSlot : size_t {
  kOpen,
  kHigh,
  kLow,
  kClose,
  kVolume,
  kOpenTime,
  kCloseTime = kOpenTime + kTimeSlots,
  kBarNumbers = kCloseTime + kTimeSlots
};

}  // namespace

void Codec<OhlcvBar>::write(const OhlcvBar& b, RecordOut& out) {
  out.number(kOpen, b.open);
  out.number(kHigh, b.high);
  out.number(kLow, b.low);
  out.number(kClose, b.close);
  out.number(kVolume, b.volume);
  out.time(kOpenTime, b.openTime);
  out.time(kCloseTime, b.closeTime);
}

Result<OhlcvBar> Codec<OhlcvBar>::read(const RecordIn& in) {
  OhlcvBar b;
  BW_ASSIGN(open, in.number(kOpen));
  BW_ASSIGN(high, in.number(kHigh));
  BW_ASSIGN(low, in.number(kLow));
  BW_ASSIGN(close, in.number(kClose));
  BW_ASSIGN(volume, in.number(kVolume));
  BW_ASSIGN(openTime, in.time(kOpenTime));
  BW_ASSIGN(closeTime, in.time(kCloseTime));
  return OhlcvBar{openTime, closeTime, open, high, low, close, volume};
}

BW_REGISTER(ohlcv_bar) {
  Class<OhlcvBar> c;
  c.record(kBarNumbers, 0);
  c.constructor([](std::optional<DateTime> openTime, std::optional<DateTime> closeTime, std::optional<double> open,
                   std::optional<double> high, std::optional<double> low, std::optional<double> close,
                   std::optional<double> volume) {
    return OhlcvBar{openTime,           closeTime,         open.value_or(kNaN),   high.value_or(kNaN),
                    low.value_or(kNaN), close.value_or(kNaN), volume.value_or(kNaN)};
  });
  c.field("openTime", jsx::date(kOpenTime), [](OhlcvBar& b, std::optional<DateTime> t) { b.openTime = t; });
  c.field("closeTime", jsx::date(kCloseTime), [](OhlcvBar& b, std::optional<DateTime> t) { b.closeTime = t; });
  c.field("open", jsx::number(kOpen), [](OhlcvBar& b, double x) { b.open = x; });
  c.field("high", jsx::number(kHigh), [](OhlcvBar& b, double x) { b.high = x; });
  c.field("low", jsx::number(kLow), [](OhlcvBar& b, double x) { b.low = x; });
  c.field("close", jsx::number(kClose), [](OhlcvBar& b, double x) { b.close = x; });
  c.field("volume", jsx::number(kVolume), [](OhlcvBar& b, double x) { b.volume = x; });
  c.method("merge", [](const OhlcvBar& a, const OhlcvBar& b) { return a.merge(b); });
  c.method("toJSON", [](Call& call, const OhlcvBar& b) { return barToJson(call.env, b); });
  c.staticMethod("fromJSON", [](JsObject j) { return barFromJson(j); });
  c.method("toString", [](const OhlcvBar& b) { return b.debug(); });
}

BW_REGISTER(ohlcv) {
  Class<ArcOhlcv> c;
  c.constructor([] { return ArcOhlcv(); });
  c.staticMethod("fromBars", [](std::vector<OhlcvBar> bars) { return ArcOhlcv(Ohlcv{std::move(bars), Timeframe{}}); });
  c.getter("length", [](const ArcOhlcv& s) { return toInt32(s.length()); });
  c.accessor(
      "timeframe", [](const ArcOhlcv& s) { return s.timeframe(); },
      [](ArcOhlcv& s, const Timeframe& tf) { s.setTimeframe(tf); });
  c.getter("bars", [](const ArcOhlcv& s) { return s.bars(); });
  c.getter("openTime", [](const ArcOhlcv& s) { return s.openTimes(); });
  c.getter("closeTime", [](const ArcOhlcv& s) { return s.closeTimes(); });
  c.getter("open", [](const ArcOhlcv& s) { return s.opens(); });
  c.getter("high", [](const ArcOhlcv& s) { return s.highs(); });
  c.getter("low", [](const ArcOhlcv& s) { return s.lows(); });
  c.getter("close", [](const ArcOhlcv& s) { return s.closes(); });
  c.getter("volume", [](const ArcOhlcv& s) { return s.volumes(); });
  c.method("at", [](const ArcOhlcv& s, int32_t i) { return s.at(i); });
  c.method("slice", [](const ArcOhlcv& s, int32_t start, int32_t end) {
    return s.sliced(fromInt32(start), fromInt32(end));
  });
  c.method("head", [](const ArcOhlcv& s, int32_t count) { return s.head(fromInt32(count)); });
  c.method("tail", [](const ArcOhlcv& s, int32_t count) { return s.tail(fromInt32(count)); });
  c.method("copy", [](const ArcOhlcv& s) { return s.deepCopy(); });
  c.method("ref", [](const ArcOhlcv& s) { return s; });
  c.method("push", [](ArcOhlcv& s, const OhlcvBar& b) { s.push(b); });
  c.method("pushMany", [](ArcOhlcv& s, std::vector<OhlcvBar> bars) { s.pushMany(bars); });
  c.method("extend", [](ArcOhlcv& s, const ArcOhlcv& other) { s.extend(other); });
  c.method("pop", [](ArcOhlcv& s) { return s.pop(); });
  c.method("shift", [](ArcOhlcv& s) { return s.shift(); });
  c.method("clear", [](ArcOhlcv& s) { s.clear(); });
  c.method("reverse", [](ArcOhlcv& s) { s.reverse(); });
  c.method("sort", [](ArcOhlcv& s, bool ascending) { s.sort(ascending); });
  c.method("resample", [](const ArcOhlcv& s, const Timeframe& tf, bool align) -> Result<ArcOhlcv> {
    BW_ASSIGN(out, s.read([&](const Ohlcv& o) { return resample(o, tf, align); }));
    return ArcOhlcv(std::move(out));
  });
  c.method("toString", [](const ArcOhlcv& s) { return s.debug(); });
}

BW_REGISTER(zip_ohlcv_bars) {
  function("zipOhlcvBars", [](std::optional<TimeList> openTime, std::optional<TimeList> closeTime,
                              std::optional<NumberList> open, std::optional<NumberList> high,
                              std::optional<NumberList> low, std::optional<NumberList> close,
                              std::optional<NumberList> volume) {
    return zipColumns(openTime, closeTime, open, high, low, close, volume);
  });
}
