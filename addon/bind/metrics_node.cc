// Performance metric free functions. Counts arrive as 32-bit integers whose bits are read as an
// unsigned value, so -1 counts 4294967295.
#include "addon/bind.h"
#include "core/metrics.h"

using namespace bw;
using namespace bw::js;

namespace {
uint64_t count(int32_t n) { return static_cast<uint32_t>(n); }
}  // namespace

BW_REGISTER(metrics) {
  function("expectancy", [](F64Span pnl) { return expectancy(pnl); });
  function("expectancyScore", [](double a, double b) { return expectancyScore(a, b); });
  function("pnl", [](double qty, double entry, double current) { return pnl(qty, entry, current); });
  function("profitFactor", [](double gp, double gl) { return profitFactor(gp, gl); });
  function("longNetProfitRatio", [](double a, double b) { return longNetProfitRatio(a, b); });
  function("winRate", [](int32_t w, int32_t total) { return winRate(count(w), count(total)); });
  function("avgTrade", [](double profit, int32_t n) { return avgTrade(profit, count(n)); });
  function("avgWinningTrade", [](double profit, int32_t n) { return avgWinningTrade(profit, count(n)); });
  function("avgLosingTrade", [](double loss, int32_t n) { return avgLosingTrade(loss, count(n)); });
  function("avgWinLossRatio", [](double win, double loss) { return avgWinLossRatio(win, loss); });
  function("sharpeRatio", [](double a, double d, double rf) { return sharpeRatio(a, d, rf); });
  function("sharpeRatioFromReturns", [](F64Span r, double rf) { return sharpeRatioFromReturns(r, rf); });
  function("sortinoRatio", [](double a, double d, double rf) { return sortinoRatio(a, d, rf); });
  function("sortinoRatioFromReturns", [](F64Span r, double rf) { return sortinoRatioFromReturns(r, rf); });
  function("omegaRatio", [](double a, double d, double rf) { return omegaRatio(a, d, rf); });
  function("omegaRatioFromReturns", [](F64Span r, double rf) { return omegaRatioFromReturns(r, rf); });
  function("netProfitPct", [](double x, double base) { return netProfitPct(x, base); });
  function("grossProfitPct", [](double x, double base) { return grossProfitPct(x, base); });
  function("grossLossPct", [](double x, double base) { return grossLossPct(x, base); });
  function("longNetProfitPct", [](double x, double base) { return longNetProfitPct(x, base); });
  function("shortNetProfitPct", [](double x, double base) { return shortNetProfitPct(x, base); });
  function("accuracy", [](double tp, double fp, double fn, double tn) { return accuracy(tp, fp, fn, tn); });
  function("precision", [](double tp, double fp) { return precision(tp, fp); });
  function("recall", [](double tp, double fn) { return recall(tp, fn); });
  function("f1", [](double p, double r) { return f1(p, r); });
}
