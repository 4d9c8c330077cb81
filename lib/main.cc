// The entry of the compiled user script. Its body is empty: each step only refreshes the runtime
// context, and `collect` reports no alerts and no locals.
#include "runtime/indicator.h"

namespace bw::rt {
namespace {

struct Main {
  void step(const RuntimeCtx&) {}
};

}  // namespace

BW_INDICATOR(Main, "main", "11e0b6", Group::Script, "The compiled user script's entry; its body is empty.", none());

}  // namespace bw::rt
