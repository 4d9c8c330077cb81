// Instruments: the symbol record and its kind.
#pragma once

#include <optional>
#include <string>

#include "core/error.h"
#include "core/ohlcv.h"

namespace bw {

struct SymKind {
  enum class Tag : uint8_t { Stock, Future, Option, Forex, Crypto, Unknown, Other };
  Tag tag = Tag::Unknown;
  std::string other;  // the text of Other

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
};

}  // namespace bw
