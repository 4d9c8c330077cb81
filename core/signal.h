// Signals: the instruction a strategy gives the backtest engine for the current bar. A signal is
// a plain value with no bar, price or engine attached; the engine reads it once when it is handed
// over and turns it into at most one order.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/order_terms.h"

namespace bw {

struct SignalKind {
  // In this order; the order is also the variant index.
  enum class Tag : uint8_t { Size, EquityPct, Hold, CloseAll };
  Tag tag = Tag::Hold;
  double value = 0;  // the payload of Size and EquityPct; unused otherwise

  static SignalKind size(double x) { return {Tag::Size, x}; }
  static SignalKind equityPct(double x) { return {Tag::EquityPct, x}; }
  static SignalKind hold() { return {Tag::Hold, 0}; }
  static SignalKind closeAll() { return {Tag::CloseAll, 0}; }

  bool hasPayload() const { return tag == Tag::Size || tag == Tag::EquityPct; }
  // "Size(2.5)", "EquityPct(-1.0)", "Hold", "CloseAll".
  std::string debug() const;
};

std::string_view variantName(SignalKind::Tag tag);
// The variant of that name, or nothing.
std::optional<SignalKind::Tag> variantFromName(std::string_view name);

struct Signal {
  SignalKind kind;
  std::optional<std::string> id;       // becomes the tag of the order and of its trade events
  std::optional<std::string> comment;  // kept with the signal only
  OrderTerms terms;                    // limit and stop prices, time in force, exits; none by default

  // Signal { kind: EquityPct(1.0), id: Some("entry"), comment: None }
  std::string toString() const;
};

}  // namespace bw
