#pragma once

namespace bw {
inline constexpr const char* kCoreVersion = BARWISE_VERSION;
}
