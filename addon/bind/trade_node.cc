#include "addon/bind.h"
#include "addon/classes.h"
#include "core/trade.h"

using namespace bw;
using namespace bw::js;

namespace {

// The record of a NodeTradeEvent: the two bar indexes (64-bit, in halves) and the price; the id
// and the comment.
enum EventSlot : size_t { kOrderBar, kFillBar = kOrderBar + kUint64Slots, kPrice = kFillBar + kUint64Slots, kEventNumbers };
enum EventText : size_t { kEventId, kEventComment, kEventTexts };

// The record of a NodeTrade: size, pnl, direction and state, then each event behind a presence
// flag; the texts of the entry, then of the exit.
enum TradeSlot : size_t {
  kSize,
  kPnl,
  kDirection,
  kActive,
  kClosed,
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
  out.text(text + kEventId, e.id);
  out.text(text + kEventComment, e.comment);
}

TradeEvent readEvent(const RecordIn& in, size_t slot, size_t text) {
  return TradeEvent{in.text(text + kEventId), in.text(text + kEventComment),
                    static_cast<int64_t>(in.uint64(slot + kOrderBar)), in.uint64(slot + kFillBar),
                    in.number(slot + kPrice)};
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
}
