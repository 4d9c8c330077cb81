#include "core/sym.h"

#include <array>
#include <cmath>
#include <cstdio>

namespace bw {

namespace {

constexpr std::array<std::string_view, 6> kKindWords = {"stock", "future", "option", "forex", "crypto", "unknown"};
constexpr std::array<std::string_view, 6> kKindNames = {"Stock", "Future", "Option", "Forex", "Crypto", "Unknown"};

void appendCodePointEscape(std::string& out, unsigned cp) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "\\u{%x}", cp);
  out += buf;
}

// Double-quoted, with quotes, backslashes and control characters (C0, DEL and C1) escaped.
std::string quoted(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '"';
  for (size_t i = 0; i < text.size(); ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    switch (b) {
      case '"': out += "\\\""; continue;
      case '\\': out += "\\\\"; continue;
      case '\n': out += "\\n"; continue;
      case '\r': out += "\\r"; continue;
      case '\t': out += "\\t"; continue;
      case '\0': out += "\\0"; continue;
      default: break;
    }
    if (b < 0x20 || b == 0x7f) {
      appendCodePointEscape(out, b);
    } else if (b == 0xc2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9f) {
      appendCodePointEscape(out, static_cast<unsigned char>(text[i + 1]));  // U+0080..U+009F
      ++i;
    } else {
      out += static_cast<char>(b);
    }
  }
  out += '"';
  return out;
}

Sym preset(const char* id, const char* prefix, const char* base, const char* ticker, double minTick, double minQty,
           double priceScale) {
  Sym s;
  s.id = id;
  s.tickerId = std::string(prefix) + ":" + ticker;
  s.prefix = prefix;
  s.currency = "USD";
  s.baseCurrency = base;
  s.ticker = ticker;
  s.minTick = minTick;
  s.minQty = minQty;
  s.priceScale = priceScale;
  s.pointValue = 1.0;
  s.kind = SymKind::of(SymKind::Tag::Crypto);
  return s;
}

}  // namespace

SymKind SymKind::fromString(std::string_view text) {
  for (size_t i = 0; i < kKindWords.size(); ++i)
    if (text == kKindWords[i]) return of(static_cast<Tag>(i));
  return makeOther(std::string(text));
}

std::string SymKind::toString() const {
  if (tag == Tag::Other) return other;
  return std::string(kKindWords[static_cast<size_t>(tag)]);
}

std::string SymKind::display() const {
  if (tag == Tag::Other) return "Other(" + quoted(other) + ")";
  return std::string(kKindNames[static_cast<size_t>(tag)]);
}

Sym Sym::btcUsd() { return preset("ORVEX__BITSTAMP:BTCUSD", "BITSTAMP", "BTC", "BTCUSD", 1.0, 0.000001, 1.0); }
Sym Sym::ethUsd() { return preset("ORVEX__BITSTAMP:ETHUSD", "BITSTAMP", "ETH", "ETHUSD", 0.1, 0.0001, 10.0); }
Sym Sym::solUsd() { return preset("ORVEX__BINANCE:SOLUSD", "BINANCE", "SOL", "SOLUSD", 0.01, 0.001, 100.0); }
Sym Sym::dogeUsd() { return preset("ORVEX__BINANCE:DOGEUSD", "BINANCE", "DOGE", "DOGEUSD", 0.0001, 0.001, 10000.0); }

Result<double> qtyScaleOf(double minQty) {
  if (!(minQty > 0.0)) return invalidArg("min_qty must be greater than 0.0");
  return std::round(1.0 / minQty);
}

Result<double> Sym::qtyScale() const { return qtyScaleOf(minQty); }

std::string displayOptionalText(const std::optional<std::string>& text) {
  if (!text) return "None";
  return "Some(" + quoted(*text) + ")";
}

std::string Sym::toString() const {
  return "Sym(ticker_id=" + displayOptionalText(tickerId) + ", id=" + displayOptionalText(id) +
         ", kind=" + kind.display() + ")";
}

// ---------------------------------------------------------------------------------------------

double roundToMinTick(double value, double minTick) {
  if (std::isnan(value)) return 0.0;
  if (std::isnan(minTick)) return value;
  return std::round(value / minTick) * minTick;
}

double roundContracts(double size, double minQty, double qtyScale) {
  if (std::isnan(minQty)) return size;
  return std::round(size * qtyScale + kContractEpsilon) / qtyScale;
}

bool validateContracts(double size, double minQty) {
  if (std::isnan(minQty)) return true;
  if (std::isnan(size)) return false;
  return std::fabs(size) >= minQty;
}

double orderSize(double equityPct, double equity, double multiplier, double price, double pointValue) {
  return (equityPct * equity * multiplier) / (price * pointValue);
}

double orderSizeForEquityPct(double equityPct, double equity, double positionSize, double price, double pointValue,
                             double multiplier) {
  const double sign = std::isnan(equityPct) ? kNaN : std::copysign(1.0, equityPct);
  const double target = sign * ((std::fabs(equityPct) * equity * multiplier) / (price * pointValue));
  return target - positionSize;
}

}  // namespace bw
