#include "addon/stdout.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

// Terminal queries and raw descriptor writes have no standard C++ form: one branch per platform
// family, each kept to the three calls the reports need.
#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <io.h>
#include <windows.h>

#include <climits>
#else
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace bw::js {

namespace {

Result<Unit> writeFailed(const char* why) {
  return Error(Status::GenericFailure, std::string("Failed to write to standard output: ") + why);
}

}  // namespace

#ifdef _WIN32

namespace {

// A console takes UTF-16: the report's box-drawing and braille characters would otherwise be
// read in the console's code page.
bool writeConsole(HANDLE h, std::string_view text) {
  DWORD mode = 0;
  if (h == INVALID_HANDLE_VALUE || h == nullptr || !GetConsoleMode(h, &mode)) return false;
  if (text.size() > static_cast<size_t>(INT_MAX)) return false;
  const int len = static_cast<int>(text.size());
  const int wide = MultiByteToWideChar(CP_UTF8, 0, text.data(), len, nullptr, 0);
  if (wide <= 0) return false;
  std::wstring w(static_cast<size_t>(wide), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), len, w.data(), wide);
  const wchar_t* p = w.data();
  DWORD left = static_cast<DWORD>(wide);
  while (left > 0) {
    DWORD written = 0;
    if (!WriteConsoleW(h, p, left, &written, nullptr) || written == 0) return false;
    p += written;
    left -= written;
  }
  return true;
}

}  // namespace

StdoutInfo stdoutInfo() {
  StdoutInfo info;
  info.isTerminal = _isatty(1) != 0;
  if (info.isTerminal) {
    CONSOLE_SCREEN_BUFFER_INFO csbi{};
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &csbi)) {
      const int cols = csbi.srWindow.Right - csbi.srWindow.Left + 1;
      if (cols > 0) info.columns = static_cast<size_t>(cols);
    }
  }
  return info;
}

Result<Unit> writeStdout(std::string_view text) {
  if (text.empty()) return Unit{};
  if (_isatty(1) && writeConsole(GetStdHandle(STD_OUTPUT_HANDLE), text)) return Unit{};
  while (!text.empty()) {
    const unsigned chunk = static_cast<unsigned>(std::min<size_t>(text.size(), INT_MAX));
    const int n = _write(1, text.data(), chunk);
    if (n > 0) {
      text.remove_prefix(static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    return writeFailed(n < 0 ? std::strerror(errno) : "nothing written");
  }
  return Unit{};
}

#else

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
      if (::poll(&p, 1, -1) < 0 && errno != EINTR) return writeFailed(std::strerror(errno));
      continue;
    }
    return writeFailed(n < 0 ? std::strerror(errno) : "nothing written");
  }
  return Unit{};
}

#endif

}  // namespace bw::js
