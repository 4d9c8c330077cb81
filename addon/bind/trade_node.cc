#include "addon/bind.h"
#include "addon/classes.h"
#include "core/bar_index.h"
#include "core/trade.h"

using namespace bw;
using namespace bw::js;

BW_REGISTER(trade_event) {
  Class<TradeEvent> c;
  c.getter("id", [](const TradeEvent& e) { return e.id; });
  c.getter("comment", [](const TradeEvent& e) { return e.comment; });
  c.getter("orderBarIndex", [](const TradeEvent& e) { return toInt32(e.orderBarIndex); });
  c.getter("fillBarIndex", [](const TradeEvent& e) { return toInt32(e.fillBarIndex); });
  c.getter("price", [](const TradeEvent& e) { return e.price; });
}

BW_REGISTER(trade_direction) {
  Class<TradeDirection> c;
  c.staticMethod("fromNumber", [](double x) { return directionOf(x); });
  c.method("toNumber", [](const TradeDirection& d) { return static_cast<int32_t>(d); });
  // Members of instances, not factories: the receiver's own value does not matter.
  c.method("Long", [](const TradeDirection&) { return TradeDirection::Long; });
  c.method("Short", [](const TradeDirection&) { return TradeDirection::Short; });
}

BW_REGISTER(trade) {
  Class<Trade> c;
  c.getter("size", [](const Trade& t) { return t.size; });
  c.getter("pnl", [](const Trade& t) { return t.pnl; });
  c.getter("direction", [](const Trade& t) { return t.direction(); });
  c.getter("entry", [](const Trade& t) { return t.entry; });
  c.getter("exit", [](const Trade& t) { return t.exit; });
  c.getter("isActive", [](const Trade& t) { return t.isActive(); });
  c.getter("isClosed", [](const Trade& t) { return t.isClosed(); });
}
