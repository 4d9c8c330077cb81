#include "core/datetime.h"

#include <chrono>
#include <cstdio>

namespace bw {

namespace chr = std::chrono;

namespace {

constexpr int64_t kMinDays = DateTime::kMinSecs / DateTime::kSecsPerDay;
constexpr int64_t kMaxDays = (DateTime::kMaxSecs + 1) / DateTime::kSecsPerDay - 1;
static_assert(kMinDays * DateTime::kSecsPerDay == DateTime::kMinSecs);

chr::sys_days sysDays(int64_t days) { return chr::sys_days{chr::days{days}}; }

int64_t daysOf(const chr::year_month_day& ymd) { return chr::sys_days{ymd}.time_since_epoch().count(); }

DateTime atDays(int64_t days) { return DateTime{days * DateTime::kSecsPerDay, 0}; }

// "2024", "+10000", "-0001".
void appendYear(std::string& out, int year) {
  char buf[16];
  if (year >= 0 && year <= 9999)
    std::snprintf(buf, sizeof buf, "%04d", year);
  else
    std::snprintf(buf, sizeof buf, "%+05d", year);
  out += buf;
}

std::string writeText(const DateTime& t, const char* zone) {
  const CivilTime c = t.civil();
  std::string out;
  out.reserve(40);
  appendYear(out, c.year);
  char buf[32];
  std::snprintf(buf, sizeof buf, "-%02u-%02uT%02u:%02u:%02u", c.month, c.day, c.hour, c.minute, c.second);
  out += buf;
  appendFraction(out, c.nanos);
  out += zone;
  return out;
}

// The RFC 3339 reader. Each step consumes from `s` or names why it cannot.
class Rfc3339Reader {
 public:
  explicit Rfc3339Reader(std::string_view s) : s_(s) {}

  // Exactly `width` ASCII digits. Fewer bytes left than that is a premature end; a non-digit
  // among them is an invalid character.
  std::optional<DateParseError> number(int width, int64_t& out) {
    if (s_.size() < static_cast<size_t>(width)) return DateParseError::TooShort;
    int64_t n = 0;
    for (int i = 0; i < width; ++i) {
      const char c = s_[static_cast<size_t>(i)];
      if (c < '0' || c > '9') return DateParseError::Invalid;
      n = n * 10 + (c - '0');
    }
    s_.remove_prefix(static_cast<size_t>(width));
    out = n;
    return std::nullopt;
  }
  std::optional<DateParseError> literal(char c) {
    if (s_.empty()) return DateParseError::TooShort;
    if (s_.front() != c) return DateParseError::Invalid;
    s_.remove_prefix(1);
    return std::nullopt;
  }
  // One to nine digits scaled to nanoseconds; further digits are read and ignored.
  std::optional<DateParseError> fraction(uint32_t& nanos) {
    if (s_.empty()) return DateParseError::TooShort;
    size_t i = 0;
    uint32_t v = 0;
    while (i < s_.size() && i < 9 && s_[i] >= '0' && s_[i] <= '9') v = v * 10 + static_cast<uint32_t>(s_[i++] - '0');
    if (i == 0) return DateParseError::Invalid;
    for (size_t k = i; k < 9; ++k) v *= 10;
    while (i < s_.size() && s_[i] >= '0' && s_[i] <= '9') ++i;
    s_.remove_prefix(i);
    nanos = v;
    return std::nullopt;
  }
  // "Z", "z", or a sign ("+", "-" or U+2212), two hour digits, ":" and two minute digits.
  std::optional<DateParseError> offset(int64_t& seconds) {
    if (s_.empty()) return DateParseError::TooShort;
    if (s_.front() == 'Z' || s_.front() == 'z') {
      s_.remove_prefix(1);
      seconds = 0;
      return std::nullopt;
    }
    bool negative;
    if (s_.front() == '+' || s_.front() == '-') {
      negative = s_.front() == '-';
      s_.remove_prefix(1);
    } else if (s_.substr(0, 3) == "\xe2\x88\x92") {
      negative = true;
      s_.remove_prefix(3);
    } else {
      return DateParseError::Invalid;
    }
    if (s_.size() < 2) return DateParseError::TooShort;
    if (!isDigit(s_[0]) || !isDigit(s_[1])) return DateParseError::Invalid;
    const int64_t hours = (s_[0] - '0') * 10 + (s_[1] - '0');
    s_.remove_prefix(2);
    if (auto e = literal(':')) return e;
    if (s_.size() < 2) return DateParseError::TooShort;
    if (s_[0] >= '6' && s_[0] <= '9' && isDigit(s_[1])) return DateParseError::OutOfRange;
    if (!isDigit(s_[0]) || !isDigit(s_[1])) return DateParseError::Invalid;
    const int64_t minutes = (s_[0] - '0') * 10 + (s_[1] - '0');
    s_.remove_prefix(2);
    if (hours > 23) return DateParseError::OutOfRange;
    seconds = (negative ? -1 : 1) * (hours * 3600 + minutes * 60);
    return std::nullopt;
  }
  std::optional<DateParseError> separator() {
    if (s_.empty()) return DateParseError::TooShort;
    const char c = s_.front();
    if (c != 'T' && c != 't' && c != ' ') return DateParseError::Invalid;
    s_.remove_prefix(1);
    return std::nullopt;
  }
  bool peek(char c) const { return !s_.empty() && s_.front() == c; }
  bool done() const { return s_.empty(); }

 private:
  static bool isDigit(char c) { return c >= '0' && c <= '9'; }
  std::string_view s_;
};

std::optional<DateParseError> readRfc3339(std::string_view text, DateTime& out) {
  Rfc3339Reader r(text);
  int64_t year, month, day, hour, minute, second, offset = 0;
  uint32_t nanos = 0;
  // A field out of its range fails as soon as it is read, before the text after it.
  auto field = [&r](int width, int64_t& v, int64_t lo, int64_t hi) -> std::optional<DateParseError> {
    if (auto e = r.number(width, v)) return e;
    if (v < lo || v > hi) return DateParseError::OutOfRange;
    return std::nullopt;
  };
  if (auto e = field(4, year, 0, 9999)) return e;
  if (auto e = r.literal('-')) return e;
  if (auto e = field(2, month, 1, 12)) return e;
  if (auto e = r.literal('-')) return e;
  if (auto e = field(2, day, 1, 31)) return e;
  if (auto e = r.separator()) return e;
  if (auto e = field(2, hour, 0, 23)) return e;
  if (auto e = r.literal(':')) return e;
  if (auto e = field(2, minute, 0, 59)) return e;
  if (auto e = r.literal(':')) return e;
  // 60 is read as a leap second and refused below: a date-time here has no leap seconds.
  if (auto e = field(2, second, 0, 60)) return e;
  if (r.peek('.')) {
    if (auto e = r.literal('.')) return e;
    if (auto e = r.fraction(nanos)) return e;
  }
  if (auto e = r.offset(offset)) return e;
  if (!r.done()) return DateParseError::TooLong;
  if (second == 60) return DateParseError::OutOfRange;
  auto local = DateTime::fromCivil(static_cast<int>(year), static_cast<unsigned>(month), static_cast<unsigned>(day),
                                   static_cast<unsigned>(hour), static_cast<unsigned>(minute),
                                   static_cast<unsigned>(second), nanos);
  if (!local) return DateParseError::OutOfRange;  // a day the month does not have
  // Years 0 .. 9999 shifted by less than a day stay far inside the range.
  out = DateTime{local->secs - offset, local->nanos};
  return std::nullopt;
}

}  // namespace

std::optional<DateTime> DateTime::fromDays(int64_t days) {
  if (days < kMinDays || days > kMaxDays) return std::nullopt;
  return atDays(days);
}

std::optional<DateTime> DateTime::fromCivil(const CivilTime& c) {
  if (c.year < -32767 || c.year > 32767) return std::nullopt;
  if (c.hour > 23 || c.minute > 59 || c.second > 59 || c.nanos >= 1'000'000'000u) return std::nullopt;
  const chr::year_month_day ymd{chr::year{c.year}, chr::month{c.month}, chr::day{c.day}};
  if (!ymd.ok()) return std::nullopt;
  return DateTime{daysOf(ymd) * kSecsPerDay + c.hour * 3600 + c.minute * 60 + c.second, c.nanos};
}

DateTime DateTime::now() {
  const auto ns = chr::duration_cast<chr::nanoseconds>(chr::system_clock::now().time_since_epoch()).count();
  int64_t s = ns / 1'000'000'000;
  int64_t rem = ns % 1'000'000'000;
  if (rem < 0) {
    rem += 1'000'000'000;
    s -= 1;
  }
  return DateTime{s, static_cast<uint32_t>(rem)};
}

CivilTime DateTime::civil() const {
  const chr::year_month_day ymd{sysDays(days())};
  const int64_t sod = secondOfDay();
  return CivilTime{static_cast<int>(ymd.year()),
                   static_cast<unsigned>(ymd.month()),
                   static_cast<unsigned>(ymd.day()),
                   static_cast<unsigned>(sod / 3600),
                   static_cast<unsigned>(sod / 60 % 60),
                   static_cast<unsigned>(sod % 60),
                   nanos};
}

unsigned DateTime::isoWeekday() const { return chr::weekday{sysDays(days())}.iso_encoding(); }

IsoWeekDate DateTime::isoWeek() const {
  const unsigned wd = isoWeekday();
  // The ISO year is the year of this week's Thursday.
  const int64_t thursday = days() + 4 - static_cast<int64_t>(wd);
  if (thursday > kMaxDays) return IsoWeekDate{32768, 1, wd};  // the last days of 32767
  const int isoYear = static_cast<int>(chr::year_month_day{sysDays(thursday)}.year());
  const int64_t jan1 = daysOf(chr::year{isoYear} / chr::January / 1);
  return IsoWeekDate{isoYear, static_cast<unsigned>((thursday - jan1) / 7 + 1), wd};
}

DateTime DateTime::startOfIsoWeek() const {
  // Before the first Monday of the range the week starts outside it; keep the range's first day.
  const int64_t monday = days() - (static_cast<int64_t>(isoWeekday()) - 1);
  return atDays(monday < kMinDays ? kMinDays : monday);
}

DateTime DateTime::startOfMonth() const {
  const chr::year_month_day ymd{sysDays(days())};
  return atDays(daysOf(ymd.year() / ymd.month() / 1));
}

DateTime DateTime::startOfYear() const {
  const chr::year_month_day ymd{sysDays(days())};
  return atDays(daysOf(ymd.year() / chr::January / 1));
}

std::optional<DateTime> DateTime::plusSeconds(int64_t n) const {
  constexpr int64_t kSpan = kMaxSecs - kMinSecs;
  if (n > kSpan || n < -kSpan) return std::nullopt;
  return fromSecs(secs + n, nanos);
}

std::optional<DateTime> DateTime::plusDays(int64_t n) const {
  constexpr int64_t kSpanDays = kMaxDays - kMinDays + 1;
  if (n > kSpanDays || n < -kSpanDays) return std::nullopt;
  return plusSeconds(n * kSecsPerDay);
}

std::optional<DateTime> DateTime::plusWeeks(int64_t n) const {
  constexpr int64_t kSpanWeeks = (kMaxDays - kMinDays) / 7 + 1;
  if (n > kSpanWeeks || n < -kSpanWeeks) return std::nullopt;
  return plusDays(n * 7);
}

std::optional<DateTime> DateTime::plusMonths(int64_t n) const {
  constexpr int64_t kSpanMonths = 12 * 65535;
  if (n > kSpanMonths || n < -kSpanMonths) return std::nullopt;
  const CivilTime c = civil();
  const int64_t total = int64_t{c.year} * 12 + (c.month - 1) + n;
  const int64_t year = floorDiv(total, 12);
  if (year < -32767 || year > 32767) return std::nullopt;
  const auto y = chr::year{static_cast<int>(year)};
  const auto m = chr::month{static_cast<unsigned>(total - year * 12 + 1)};
  const unsigned last = static_cast<unsigned>(chr::year_month_day_last{y / m / chr::last}.day());
  const chr::year_month_day ymd{y, m, chr::day{c.day < last ? c.day : last}};
  return fromSecs(daysOf(ymd) * kSecsPerDay + secondOfDay(), nanos);
}

std::optional<DateTime> DateTime::plusYears(int64_t n) const {
  if (n > 65535 || n < -65535) return std::nullopt;
  return plusMonths(n * 12);
}

std::string DateTime::toRfc3339() const { return writeText(*this, "+00:00"); }

std::string DateTime::debug() const { return writeText(*this, "Z"); }

Result<DateTime> DateTime::parseRfc3339(std::string_view text) {
  DateTime out;
  if (auto e = readRfc3339(text, out)) return invalidArg(std::string(dateParseErrorText(*e)));
  return out;
}

std::string_view dateParseErrorText(DateParseError e) {
  switch (e) {
    case DateParseError::Invalid: return "input contains invalid characters";
    case DateParseError::TooShort: return "premature end of input";
    case DateParseError::TooLong: return "trailing input";
    case DateParseError::OutOfRange: return "input is out of range";
    case DateParseError::Impossible: return "no possible date and time matching input";
    case DateParseError::NotEnough: return "input is not enough for unique date and time";
  }
  return "input contains invalid characters";
}

void appendFraction(std::string& out, uint32_t nanos) {
  if (nanos == 0) return;
  char buf[16];
  if (nanos % 1'000'000u == 0)
    std::snprintf(buf, sizeof buf, ".%03u", nanos / 1'000'000u);
  else if (nanos % 1'000u == 0)
    std::snprintf(buf, sizeof buf, ".%06u", nanos / 1'000u);
  else
    std::snprintf(buf, sizeof buf, ".%09u", nanos);
  out += buf;
}

}  // namespace bw
