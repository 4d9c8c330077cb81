// Standard output of the process, as the printed reports need it: whether it is a terminal, its
// width when known, and a write that survives a non-blocking descriptor.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "core/error.h"

namespace bw::js {

struct StdoutInfo {
  bool isTerminal = false;
  std::optional<size_t> columns;  // known only for a terminal that reports a non-zero width
};

StdoutInfo stdoutInfo();

// Writes all of `text` to file descriptor 1. The host may have made it non-blocking (pipes),
// so a full pipe is waited for rather than dropping output.
Result<Unit> writeStdout(std::string_view text);

}  // namespace bw::js
