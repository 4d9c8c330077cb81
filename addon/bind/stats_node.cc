// Statistics free functions: sum, mean, variance, stdev, returns, annualization_factor.
#include "addon/bind.h"
#include "addon/classes.h"
#include "core/stats.h"

using namespace bw;
using namespace bw::js;

BW_REGISTER(stats) {
  function("sum", [](F64Span v) { return sum(v); });
  function("mean", [](F64Span v) { return mean(v); });
  function("variance", [](F64Span v) { return variance(v); });
  function("stdev", [](F64Span v) { return stdev(v); });
  // The NaN in front comes only with an explicit `false`.
  function("returns", [](F64Span v, std::optional<bool> pad) { return returns(v, pad == false); });
  function("annualization_factor", [](const Timeframe& t, double daysPerYear) {
    return annualizationFactor(t, daysPerYear);
  });
}
