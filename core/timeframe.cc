#include "core/timeframe.h"

#include <array>

namespace bw {

namespace {
constexpr std::array<char, 9> kLetters = {'Y', 'M', 'W', 'D', 'h', 'm', 's', 'T', 'R'};
constexpr std::array<std::string_view, 10> kNames = {"Years",   "Months",  "Weeks", "Days",   "Hours",
                                                     "Minutes", "Seconds", "Ticks", "Ranges", "Unknown"};
constexpr std::array<int64_t, 10> kSeconds = {31536000, 2592000, 604800, 86400, 3600, 60, 1, 0, 0, 0};
}  // namespace

int64_t secondsPerUnit(TimeUnit u) { return kSeconds[static_cast<size_t>(u)]; }
std::string_view unitName(TimeUnit u) { return kNames[static_cast<size_t>(u)]; }

std::string Timeframe::toString() const {
  if (isUnknown()) return "?";
  return std::to_string(count) + kLetters[static_cast<size_t>(unit)];
}

std::string Timeframe::debug() const {
  if (isUnknown()) return "Unknown";
  return std::string(unitName(unit)) + "(" + std::to_string(count) + ")";
}

Timeframe Timeframe::fromString(std::string_view text) {
  if (text.empty() || text == "?") return unknown();
  // Digits and the rest, each keeping its order: "D1" reads like "1D". A non-ASCII byte can
  // never complete a valid text (a non-ASCII numeral is refused, and the unit is one ASCII
  // letter), so it ends the parse at once.
  std::string digits, rest;
  for (char c : text) {
    auto b = static_cast<unsigned char>(c);
    if (b >= 0x80) return unknown();
    if (c >= '0' && c <= '9')
      digits += c;
    else
      rest += c;
  }
  if (digits.empty() || rest.size() != 1) return unknown();
  uint64_t n = 0;
  for (char c : digits) {
    uint64_t d = static_cast<uint64_t>(c - '0');
    if (n > (UINT64_MAX - d) / 10) return unknown();
    n = n * 10 + d;
  }
  for (size_t i = 0; i < kLetters.size(); ++i)
    if (kLetters[i] == rest[0]) return Timeframe{static_cast<TimeUnit>(i), n};
  return unknown();
}

Timeframe Timeframe::fromDurationSeconds(int64_t s) {
  // The magnitude in unsigned arithmetic: the most negative length has no signed opposite.
  const uint64_t mag = s < 0 ? 0 - static_cast<uint64_t>(s) : static_cast<uint64_t>(s);
  if (mag >= 31536000) return of(TimeUnit::Years, s / 31536000);
  if (mag >= 2592000) return of(TimeUnit::Months, s / 2592000);
  if (s >= 604800) return of(TimeUnit::Weeks, s / 604800);
  if (s >= 86400) return of(TimeUnit::Days, s / 86400);
  if (s >= 3600) return of(TimeUnit::Hours, s / 3600);
  if (s >= 60) return of(TimeUnit::Minutes, s / 60);
  if (s >= 1) return of(TimeUnit::Seconds, s);
  return unknown();
}

Result<int64_t> Timeframe::durationSeconds() const {
  if (!isTimeBased()) return invalidArg("Invalid timeframe");
  // The bound is checked on magnitudes before multiplying, so the product is only formed when it
  // fits: |count| × per > max exactly when |count| > floor(max / per). The magnitude is taken
  // unsigned because the most negative count has no signed opposite.
  const int64_t n = signedCount();
  const auto per = static_cast<uint64_t>(secondsPerUnit(unit));
  const uint64_t mag = n < 0 ? 0 - static_cast<uint64_t>(n) : static_cast<uint64_t>(n);
  if (mag > static_cast<uint64_t>(kMaxDurationSeconds) / per)
    return invalidArg("Timeframe " + toString() + " is too long to convert to seconds");
  return n * static_cast<int64_t>(per);
}

}  // namespace bw
