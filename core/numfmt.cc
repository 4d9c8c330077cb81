#include "core/numfmt.h"

#include <charconv>
#include <cstdio>
#include <cmath>
#include <system_error>

namespace bw {

void appendNumber(std::string& out, double x) {
  if (std::isnan(x)) {
    out += "NaN";
    return;
  }
  if (std::isinf(x)) {
    out += x > 0 ? "inf" : "-inf";
    return;
  }
  // Shortest round-trip digits in scientific form: [-]d[.ddd]e[+-]xx.
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::scientific);
  (void)ec;  // 64 bytes always hold a double
  const char* p = buf;
  if (*p == '-') {
    out += '-';
    ++p;
  }
  std::string digits;
  for (; p < end && *p != 'e'; ++p)
    if (*p != '.') digits += *p;
  int exp = 0;
  const char* e = p + 1;
  if (e < end && *e == '+') ++e;
  std::from_chars(e, end, exp);

  const double mag = std::fabs(x);
  if (x != 0 && (mag < 1e-4 || mag >= 1e16)) {
    out += digits[0];
    if (digits.size() > 1) {
      out += '.';
      out.append(digits, 1);
    }
    out += 'e';
    out += std::to_string(exp);
    return;
  }
  // Plain decimal: the value is 0.d1d2d3... × 10^(exp + 1).
  if (exp < 0) {
    out += "0.";
    out.append(static_cast<size_t>(-exp - 1), '0');
    out += digits;
    return;
  }
  const size_t intLen = static_cast<size_t>(exp) + 1;
  if (digits.size() <= intLen) {
    out += digits;
    out.append(intLen - digits.size(), '0');
    out += ".0";
  } else {
    out.append(digits, 0, intLen);
    out += '.';
    out.append(digits, intLen);
  }
}

std::string formatPlainNumber(double x) {
  if (std::isnan(x)) return "NaN";
  if (std::isinf(x)) return x > 0 ? "inf" : "-inf";
  // The fixed form of the shortest round trip: at most 309 integer digits, or 0. and up to 340
  // fraction digits for the smallest subnormals.
  char buf[400];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::fixed);
  (void)ec;
  return std::string(buf, end);
}

std::string formatFixed(double x, int decimals) {
  if (std::isnan(x)) return "NaN";
  if (std::isinf(x)) return x > 0 ? "inf" : "-inf";
  char buf[400];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, x);
  return buf;
}

}  // namespace bw
