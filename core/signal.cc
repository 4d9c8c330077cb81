#include "core/signal.h"

#include <array>

#include "core/numfmt.h"
#include "core/sym.h"

namespace bw {

namespace {

constexpr std::array<std::string_view, 4> kVariants = {"Size", "EquityPct", "Hold", "CloseAll"};

}  // namespace

std::string_view variantName(SignalKind::Tag tag) { return kVariants[static_cast<size_t>(tag)]; }

std::optional<SignalKind::Tag> variantFromName(std::string_view name) {
  for (size_t i = 0; i < kVariants.size(); ++i)
    if (kVariants[i] == name) return static_cast<SignalKind::Tag>(i);
  return std::nullopt;
}

std::string SignalKind::debug() const {
  std::string out(variantName(tag));
  if (hasPayload()) out += "(" + formatNumber(value) + ")";
  return out;
}

std::string Signal::toString() const {
  std::string out = "Signal { kind: " + kind.debug() + ", id: " + displayOptionalText(id) +
                    ", comment: " + displayOptionalText(comment);
  // The order terms only when there are any, so a plain signal reads as it always did.
  auto level = [](const ExitLevel& l) { return std::string(l.relative ? "Pct(" : "Price(") + formatNumber(l.value) + ")"; };
  if (terms.limitPrice) out += ", limit_price: " + formatNumber(*terms.limitPrice);
  if (terms.stopPrice) out += ", stop_price: " + formatNumber(*terms.stopPrice);
  if (terms.timeInForce) out += ", time_in_force: " + std::to_string(*terms.timeInForce);
  if (terms.stopLoss) out += ", stop_loss: " + level(*terms.stopLoss);
  if (terms.takeProfit) out += ", take_profit: " + level(*terms.takeProfit);
  if (terms.trailingStop)
    out += std::string(", trailing_stop: ") + (terms.trailingStop->ticks ? "Ticks(" : "Pct(") +
           formatNumber(terms.trailingStop->value) + ")";
  return out + " }";
}

}  // namespace bw
