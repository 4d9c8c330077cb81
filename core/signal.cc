#include "core/signal.h"

#include <array>
#include <cstdio>

#include "core/numfmt.h"

namespace bw {

namespace {

constexpr std::array<std::string_view, 4> kVariants = {"Size", "EquityPct", "Hold", "CloseAll"};

// Some("text") with quotes, backslashes and control characters escaped, or None.
std::string debugText(const std::optional<std::string>& text) {
  if (!text) return "None";
  std::string out = "Some(\"";
  for (char c : *text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\0': out += "\\0"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
          char esc[16];
          std::snprintf(esc, sizeof esc, "\\u{%x}", static_cast<unsigned>(static_cast<unsigned char>(c)));
          out += esc;
        } else {
          out += c;
        }
    }
  }
  return out + "\")";
}

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
  return "Signal { kind: " + kind.debug() + ", id: " + debugText(id) + ", comment: " + debugText(comment) + " }";
}

}  // namespace bw
