#include "addon/stdout.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace bw::js {

StdoutInfo stdoutInfo() {
  StdoutInfo info;
  info.isTerminal = ::isatty(STDOUT_FILENO) == 1;
  if (info.isTerminal) {
    struct winsize ws {};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) info.columns = ws.ws_col;
  }
  return info;
}

Result<Unit> writeStdout(std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(STDOUT_FILENO, text.data(), text.size());
    if (n > 0) {
      text.remove_prefix(static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      struct pollfd p {STDOUT_FILENO, POLLOUT, 0};
      if (::poll(&p, 1, -1) < 0 && errno != EINTR)
        return Error(Status::GenericFailure, std::string("Failed to write to standard output: ") + std::strerror(errno));
      continue;
    }
    return Error(Status::GenericFailure,
                 std::string("Failed to write to standard output: ") + (n < 0 ? std::strerror(errno) : "nothing written"));
  }
  return Unit{};
}

}  // namespace bw::js
