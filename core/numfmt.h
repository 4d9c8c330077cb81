// The debug form of a 64-bit float, used by every `toString` text of the system: the shortest
// decimal that reads back as the same value, always with a fractional part ("1.0", "0.1",
// "-0.0", "101.25"), in exponent form when the magnitude is at least 1e16 or below 1e-4 ("1e16",
// "1.5e-5", "-2.5e20"); "NaN", "inf" and "-inf" otherwise.
#pragma once

#include <string>

namespace bw {

void appendNumber(std::string& out, double x);

inline std::string formatNumber(double x) {
  std::string s;
  appendNumber(s, x);
  return s;
}

// The plain decimal form of generated script texts: no exponent, the fewest digits that read back
// as the same value, no fractional part for whole numbers ("1000", "0.5", "-2", "0.0001",
// "1000000000000000000000"); "NaN", "inf" and "-inf" otherwise.
std::string formatPlainNumber(double x);

// Fixed-point with exactly `decimals` digits after the point ("1234.50", "-3.00"), the form of
// the printed report; "NaN", "inf" and "-inf" otherwise.
std::string formatFixed(double x, int decimals);

}  // namespace bw
