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
  return "Signal { kind: " + kind.debug() + ", id: " + displayOptionalText(id) + ", comment: " + displayOptionalText(comment) + " }";
}

}  // namespace bw
