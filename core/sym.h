// Instruments: the symbol record and its kind, and the rounding and sizing rules that put prices
// on a symbol's tick grid and quantities on its quantity grid.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/error.h"
#include "core/ohlcv.h"

namespace bw {

struct SymKind {
  enum class Tag : uint8_t { Stock, Future, Option, Forex, Crypto, Unknown, Other };
  Tag tag = Tag::Unknown;
  std::string other;  // the text of Other

  static SymKind of(Tag t) { return SymKind{t, {}}; }
  static SymKind makeOther(std::string text) { return SymKind{Tag::Other, std::move(text)}; }
  // The six lower-case words read as their kinds; any other text (also "Crypto" or "") is Other.
  static SymKind fromString(std::string_view text);

  // "stock", ..., "unknown"; Other gives its own text.
  std::string toString() const;
  // Stock, ..., Unknown; Other as Other("text") with the text escaped.
  std::string display() const;

  // 365 for Crypto, 252 for every other kind.
  int periodsPerYear() const { return tag == Tag::Crypto ? 365 : 252; }
  friend bool operator==(const SymKind& a, const SymKind& b) {
    return a.tag == b.tag && (a.tag != Tag::Other || a.other == b.other);
  }
};

struct Sym {
  std::optional<std::string> id;
  std::optional<std::string> tickerId;
  std::optional<std::string> prefix;
  std::optional<std::string> currency;
  std::optional<std::string> baseCurrency;
  std::optional<std::string> ticker;
  std::optional<std::string> country;
  std::optional<std::string> metadata;
  double minTick = kNaN;
  double minQty = kNaN;
  double priceScale = kNaN;
  double pointValue = kNaN;
  SymKind kind;

  static Sym btcUsd();
  static Sym ethUsd();
  static Sym solUsd();
  static Sym dogeUsd();

  // round(1 / minQty), half away from zero; needs minQty > 0 ("min_qty must be greater than 0.0").
  Result<double> qtyScale() const;
  // Same instrument: both have an id and the ids are byte-equal.
  bool sameId(const Sym& other) const { return id && other.id && *id == *other.id; }
  // Sym(ticker_id=Some("BITSTAMP:BTCUSD"), id=Some("ORVEX__BITSTAMP:BTCUSD"), kind=Crypto)
  std::string toString() const;
};

// The quantity scale of a minimum quantity: round(1 / minQty); the one guard for every use of it.
Result<double> qtyScaleOf(double minQty);

// Some("text") with quotes, backslashes and control characters escaped, or None.
std::string displayOptionalText(const std::optional<std::string>& text);

// ---------------------------------------------------------------------------------------------
// Rounding and sizing. Rounding means nearest integer, halves away from zero.

// The spacing of doubles at 1.0, added before the contract rounding so that exact halves of small
// magnitude go up: 0.5 contracts on a grid of 1 become 1, -0.5 become -0.
inline constexpr double kContractEpsilon = 2.220446049250313e-16;

// A price on the tick grid: NaN value gives 0, NaN tick leaves the value as it is.
double roundToMinTick(double value, double minTick);
// A quantity on the grid of qtyScale (= round(1 / minQty)); NaN minQty leaves the size as it is.
double roundContracts(double size, double minQty, double qtyScale);
// Whether |size| reaches the minimum quantity; any size passes a NaN minimum, a NaN size fails.
bool validateContracts(double size, double minQty);
// (equityPct × equity × multiplier) / (price × pointValue), unrounded.
double orderSize(double equityPct, double equity, double multiplier, double price, double pointValue);
// The change of position that holds the signed share equityPct of equity, unrounded.
double orderSizeForEquityPct(double equityPct, double equity, double positionSize, double price, double pointValue,
                             double multiplier);

}  // namespace bw
