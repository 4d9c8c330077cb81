#include "core/stats.h"

#include <cmath>
#include <limits>

namespace bw {

double sum(std::span<const double> values) {
  double s = -0.0;
  for (double x : values) s += x;
  return s;
}

double mean(std::span<const double> values) {
  return sum(values) / static_cast<double>(values.size());
}

double variance(std::span<const double> values) {
  const double m = mean(values);
  double s = -0.0;
  for (double x : values) s += (x - m) * (x - m);
  return s / static_cast<double>(values.size());
}

double stdev(std::span<const double> values) { return std::sqrt(variance(values)); }

std::vector<double> returns(std::span<const double> values, bool leadingNaN) {
  std::vector<double> out;
  out.reserve(values.size() + 1);
  if (leadingNaN) out.push_back(std::numeric_limits<double>::quiet_NaN());
  for (size_t i = 1; i < values.size(); ++i) out.push_back((values[i] - values[i - 1]) / values[i - 1]);
  return out;
}

Result<double> annualizationFactor(const Timeframe& timeframe, double daysPerYear) {
  if (!timeframe.isTimeBased()) return invalidArg("Unknown timeframe");
  BW_ASSIGN(seconds, timeframe.durationSeconds());
  return daysPerYear * 86400.0 / static_cast<double>(seconds);
}

}  // namespace bw
