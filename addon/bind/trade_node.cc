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
  c.method("toJSON", [](Call& call, const Trade& t) { return tradeRowObject(call.env, tradeRow(t)); });
}
