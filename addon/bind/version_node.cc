#include "addon/bind.h"
#include "core/version.h"

BW_REGISTER(core_version) {
  bw::js::function("_getCoreVersion", [] { return std::string(bw::kCoreVersion); });
}
