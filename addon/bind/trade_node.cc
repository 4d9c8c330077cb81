#include <cmath>

#include "addon/bind.h"
#include "addon/classes.h"
#include "core/bar_index.h"
#include "core/trade.h"
#include "core/trade_table.h"

using namespace bw;
using namespace bw::js;

namespace bw::js {

// A trade table record as a plain object with snake_case keys; bt.tradeTable() uses it too.
Result<napi_value> tradeRowObject(napi_env env, const TradeRow& r) {
  auto index = [](const std::optional<uint64_t>& i) { return toInt32(i); };
  auto time = [](const std::optional<DateTime>& t) -> std::optional<std::string> {
    if (!t) return std::nullopt;
    return t->toRfc3339();
  };
  auto price = [](double x) -> std::optional<double> {
    if (std::isnan(x)) return std::nullopt;
    return x;
  };
  return ObjectBuilder(env)
      .set("id", static_cast<double>(r.id))
      .set("direction", std::string(r.direction == TradeDirection::Long ? "long" : "short"))
      .set("size", r.size)
      .set("entry_id", r.entryId)
      .set("exit_id", r.exitId)
      .set("entry_bar_index", index(r.entryBarIndex))
      .set("exit_bar_index", index(r.exitBarIndex))
      .set("entry_time", time(r.entryTime))
      .set("exit_time", time(r.exitTime))
      .set("entry_price", price(r.entryPrice))
      .set("exit_price", price(r.exitPrice))
      .set("pnl", r.pnl)
      .set("return_pct", r.returnPct)
      .set("commission", r.commission)
      .set("duration_bars", index(r.durationBars))
      .set("highest_price", r.highestPrice)
      .set("lowest_price", r.lowestPrice)
      .done();
}

}  // namespace bw::js


namespace {

// The record of a NodeTradeEvent: the two bar indexes (64-bit, in halves), the price and the time;
// the id and the comment.
enum EventSlot : size_t {
  kOrderBar,
  kFillBar = kOrderBar + kUint64Slots,
  kPrice = kFillBar + kUint64Slots,
  kTime,
  kEventNumbers = kTime + kTimeSlots
};
enum EventText : size_t { kEventId, kEventComment, kEventTexts };

// The record of a NodeTrade: size, pnl, direction and state, the id (64-bit, in halves), the
// commission and the price range, then each event behind a presence flag; the texts of the entry,
// then of the exit.
enum TradeSlot : size_t {
  kSize,
  kPnl,
  kDirection,
  kActive,
  kClosed,
  kId,
  kCommission = kId + kUint64Slots,
  kHighest,
  kLowest,
  kHasEntry,
  kEntry,
  kHasExit = kEntry + kEventNumbers,
  kExit,
  kTradeNumbers = kExit + kEventNumbers
};
enum TradeText : size_t { kEntryTexts = 0, kExitTexts = kEventTexts, kTradeTexts = 2 * kEventTexts };

void writeEvent(const TradeEvent& e, RecordOut& out, size_t slot, size_t text) {
  out.uint64(slot + kOrderBar, static_cast<uint64_t>(e.orderBarIndex));
  out.uint64(slot + kFillBar, e.fillBarIndex);
  out.number(slot + kPrice, e.price);
  out.time(slot + kTime, e.time);
  out.text(text + kEventId, e.id);
  out.text(text + kEventComment, e.comment);
}

TradeEvent readEvent(const RecordIn& in, size_t slot, size_t text) {
  return TradeEvent{in.text(text + kEventId), in.text(text + kEventComment),
                    static_cast<int64_t>(in.uint64(slot + kOrderBar)), in.uint64(slot + kFillBar),
                    in.number(slot + kPrice), in.time(slot + kTime)};
}

// A trade's entry or exit: a new NodeTradeEvent made from the trade's record, or null.
std::string eventOf(size_t has, size_t slot, size_t text) {
  return jsx::when(has, 1,
                   jsx::object(ClassOf<TradeEvent>::id(), jsx::slots(slot, kEventNumbers) + ", " +
                                                              jsx::textSlots(text, kEventTexts, kTradeNumbers)));
}

}  // namespace

void Codec<TradeEvent>::write(const TradeEvent& e, RecordOut& out) { writeEvent(e, out, 0, 0); }

Result<TradeEvent> Codec<TradeEvent>::read(const RecordIn& in) { return in.result(readEvent(in, 0, 0)); }

void Codec<TradeDirection>::write(const TradeDirection& d, RecordOut& out) { out.number(0, static_cast<double>(d)); }

Result<TradeDirection> Codec<TradeDirection>::read(const RecordIn& in) {
  return in.result(in.integer(0, -1, 1) < 0 ? TradeDirection::Short : TradeDirection::Long);
}

void Codec<Trade>::write(const Trade& t, RecordOut& out) {
  out.number(kSize, t.size);
  out.number(kPnl, t.pnl);
  out.number(kDirection, static_cast<double>(t.direction()));
  out.flag(kActive, t.isActive());
  out.flag(kClosed, t.isClosed());
  out.uint64(kId, t.id);
  out.number(kCommission, t.commission);
  out.number(kHighest, t.highest);
  out.number(kLowest, t.lowest);
  const TradeEvent none;
  out.flag(kHasEntry, t.entry.has_value());
  writeEvent(t.entry.value_or(none), out, kEntry, kEntryTexts);
  out.flag(kHasExit, t.exit.has_value());
  writeEvent(t.exit.value_or(none), out, kExit, kExitTexts);
}

Result<Trade> Codec<Trade>::read(const RecordIn& in) {
  Trade t;
  t.size = in.number(kSize);
  t.pnl = in.number(kPnl);
  t.id = in.uint64(kId);
  t.commission = in.number(kCommission);
  t.highest = in.number(kHighest);
  t.lowest = in.number(kLowest);
  if (in.flag(kHasEntry)) t.entry = readEvent(in, kEntry, kEntryTexts);
  if (in.flag(kHasExit)) t.exit = readEvent(in, kExit, kExitTexts);
  return in.result(std::move(t));
}

BW_REGISTER(trade_event) {
  Class<TradeEvent> c;
  c.record(kEventNumbers, kEventTexts);
  c.field("id", jsx::text(kEventId, kEventNumbers));
  c.field("comment", jsx::text(kEventComment, kEventNumbers));
  c.field("orderBarIndex", jsx::int32(kOrderBar));
  c.field("fillBarIndex", jsx::int32(kFillBar));
  c.field("price", jsx::number(kPrice));
}

BW_REGISTER(trade_direction) {
  Class<TradeDirection> c;
  c.record(1, 0);
  c.staticMethod("fromNumber", [](double x) { return directionOf(x); });
  c.jsMethod("toNumber", jsx::number(0));
  // Members of instances, not factories: the receiver's own value does not matter.
  c.method("Long", [](const TradeDirection&) { return TradeDirection::Long; });
  c.method("Short", [](const TradeDirection&) { return TradeDirection::Short; });
}

BW_REGISTER(trade) {
  Class<Trade> c;
  c.record(kTradeNumbers, kTradeTexts);
  c.field("size", jsx::number(kSize));
  c.field("pnl", jsx::number(kPnl));
  c.field("direction", jsx::object(ClassOf<TradeDirection>::id(), jsx::number(kDirection)));
  c.field("entry", eventOf(kHasEntry, kEntry, kEntryTexts));
  c.field("exit", eventOf(kHasExit, kExit, kExitTexts));
  c.field("isActive", jsx::flag(kActive));
  c.field("isClosed", jsx::flag(kClosed));
  c.method("toJSON", [](Call& call, const Trade& t) { return tradeRowObject(call.env, tradeRow(t)); });
}
