#include "core/trade.h"

#include <array>
#include <charconv>
#include <cmath>
#include <string_view>

namespace bw {

namespace {
constexpr std::array<std::string_view, 6> kKinds = {"NotEntered",     "NotActive",     "Closed",
                                                    "AlreadyEntered", "AlreadyClosed", "InvalidTradeSize"};
}  // namespace

std::string TradeError::debug() const {
  std::string out(kKinds[static_cast<size_t>(kind)]);
  if (kind == Kind::InvalidTradeSize) {
    std::string shown;
    if (std::isnan(size)) {
      shown = "NaN";
    } else if (std::isinf(size)) {
      shown = size > 0 ? "inf" : "-inf";
    } else {
      char buf[64];
      auto r = std::to_chars(buf, buf + sizeof buf, size);
      shown.assign(buf, r.ptr);
    }
    out += "(" + shown + ")";
  }
  return out;
}

Error TradeError::toError() const { return invalidArg("Trade error: " + debug()); }

}  // namespace bw
