// The printed summary and the Pine export of NodeBacktest, registered beside the engine's own
// members on the same class.
#include "addon/bind.h"
#include "addon/classes.h"
#include "addon/stdout.h"
#include "core/backtest.h"
#include "core/pine.h"
#include "core/report.h"

using namespace bw;
using namespace bw::js;

BW_REGISTER(report) {
  Class<SharedBacktest> c;
  // Tables and chart to standard output; bold, colours and the full terminal width only when it
  // is a terminal.
  c.method("display", [](const SharedBacktest& b) -> Result<Unit> {
    const StdoutInfo out = stdoutInfo();
    const TableLayout layout{out.isTerminal, out.columns};
    BW_ASSIGN(figures, b.read([](const Backtest& t) { return reportFigures(t); }));
    return writeStdout(renderReport(figures, layout));
  });
  c.method("toPine", [](const SharedBacktest& b) {
    return b.read([](const Backtest& t) { return toPine(t, DateTime::now()); });
  });
}
