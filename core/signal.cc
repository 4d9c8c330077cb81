#include "core/signal.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace bw {

namespace {

constexpr std::array<std::string_view, 4> kVariants = {"Size", "EquityPct", "Hold", "CloseAll"};

// The debug number form: shortest round-trip digits, ".0" on whole values, exponent form below
// 1e-4 and from 1e16 in magnitude.
std::string debugNumber(double x) {
  if (std::isnan(x)) return "NaN";
  if (std::isinf(x)) return x > 0 ? "inf" : "-inf";
  char buf[512];
  const double a = std::fabs(x);
  if (x == 0 || (a >= 1e-4 && a < 1e16)) {
    auto r = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::fixed);
    std::string s(buf, r.ptr);
    if (s.find('.') == std::string::npos) s += ".0";
    return s;
  }
  auto r = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::scientific);
  std::string s(buf, r.ptr);
  const size_t e = s.find('e');
  std::string mantissa = s.substr(0, e);
  std::string exponent = s.substr(e + 1);
  const bool negative = exponent[0] == '-';
  size_t digits = exponent.find_first_not_of("+-0");
  exponent = digits == std::string::npos ? "0" : exponent.substr(digits);
  return mantissa + "e" + (negative ? "-" : "") + exponent;
}

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
  if (hasPayload()) out += "(" + debugNumber(value) + ")";
  return out;
}

std::string Signal::toString() const {
  return "Signal { kind: " + kind.debug() + ", id: " + debugText(id) + ", comment: " + debugText(comment) + " }";
}

}  // namespace bw
