#include "core/trade_table.h"

#include <cmath>

#include "core/numfmt.h"

namespace bw {

TradeRow tradeRow(const Trade& t) {
  TradeRow r;
  r.id = t.id;
  r.direction = t.direction();
  r.size = t.size;
  r.pnl = t.pnl;
  r.commission = t.commission;
  r.highestPrice = t.highest;
  r.lowestPrice = t.lowest;
  if (t.entry) {
    r.entryId = t.entry->id;
    r.entryBarIndex = t.entry->fillBarIndex;
    r.entryTime = t.entry->time;
    r.entryPrice = t.entry->price;
    r.returnPct = t.pnl / (t.entry->price * std::fabs(t.size));
  }
  if (t.exit) {
    r.exitId = t.exit->id;
    r.exitBarIndex = t.exit->fillBarIndex;
    r.exitTime = t.exit->time;
    r.exitPrice = t.exit->price;
    if (t.entry) r.durationBars = t.exit->fillBarIndex - t.entry->fillBarIndex;
  }
  return r;
}

namespace {

std::string number(double x) { return std::isnan(x) ? std::string() : formatPlainNumber(x); }

std::string index(const std::optional<uint64_t>& i) { return i ? std::to_string(*i) : std::string(); }

std::string time(const std::optional<DateTime>& t) { return t ? t->toRfc3339() : std::string(); }

std::string text(const std::optional<std::string>& s) {
  if (!s) return {};
  std::string cell = *s;
  if (!cell.empty() && (cell[0] == '=' || cell[0] == '+' || cell[0] == '-' || cell[0] == '@' || cell[0] == '\t' ||
                        cell[0] == '\r'))
    cell.insert(cell.begin(), '\'');
  if (cell.find_first_of(",\"\r\n") == std::string::npos) return cell;
  std::string quoted = "\"";
  for (char c : cell) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

}  // namespace

std::string tradesCsv(std::span<const TradeRow> rows) {
  std::string out =
      "id,direction,size,entry_id,exit_id,entry_bar_index,exit_bar_index,entry_time,exit_time,entry_price,"
      "exit_price,pnl,return_pct,commission,duration_bars,highest_price,lowest_price\n";
  for (const TradeRow& r : rows) {
    const std::string cells[] = {std::to_string(r.id),
                                 r.direction == TradeDirection::Long ? "long" : "short",
                                 number(r.size),
                                 text(r.entryId),
                                 text(r.exitId),
                                 index(r.entryBarIndex),
                                 index(r.exitBarIndex),
                                 time(r.entryTime),
                                 time(r.exitTime),
                                 number(r.entryPrice),
                                 number(r.exitPrice),
                                 number(r.pnl),
                                 number(r.returnPct),
                                 number(r.commission),
                                 index(r.durationBars),
                                 number(r.highestPrice),
                                 number(r.lowestPrice)};
    bool first = true;
    for (const std::string& c : cells) {
      if (!first) out += ',';
      out += c;
      first = false;
    }
    out += '\n';
  }
  return out;
}

}  // namespace bw
