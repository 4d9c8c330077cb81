#include "core/trade.h"

#include <array>
#include <string_view>

#include "core/numfmt.h"

namespace bw {

namespace {
constexpr std::array<std::string_view, 6> kKinds = {"NotEntered",     "NotActive",     "Closed",
                                                    "AlreadyEntered", "AlreadyClosed", "InvalidTradeSize"};
}  // namespace

std::string TradeError::debug() const {
  std::string out(kKinds[static_cast<size_t>(kind)]);
  if (kind == Kind::InvalidTradeSize) out += "(" + formatNumber(size) + ")";
  return out;
}

Error TradeError::toError() const { return invalidArg("Trade error: " + debug()); }

}  // namespace bw
