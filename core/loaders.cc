#include "core/loaders.h"

#include <algorithm>
#include <charconv>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <new>
#include <system_error>

#if !defined(__cpp_lib_to_chars)
#include <clocale>
#include <cstdlib>
#endif

#include "core/numfmt.h"

namespace bw {

namespace {

constexpr std::array<std::string_view, kBarFields> kFieldNames = {"openTime", "closeTime", "open", "high",
                                                                   "low",      "close",     "volume"};

bool isDigit(char c) { return c >= '0' && c <= '9'; }
char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

int64_t floorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

// Reads exactly `n` digits at `s` as an unsigned number; false when one of them is no digit.
bool fixedDigits(std::string_view s, size_t at, size_t n, unsigned& out) {
  if (at + n > s.size()) return false;
  unsigned v = 0;
  for (size_t i = at; i < at + n; ++i) {
    if (!isDigit(s[i])) return false;
    v = v * 10 + static_cast<unsigned>(s[i] - '0');
  }
  out = v;
  return true;
}

// A value as it appears in messages: quoted, cut after 40 bytes, control characters shown as '?'.
std::string shown(std::string_view text) {
  constexpr size_t kMax = 40;
  std::string out = "\"";
  for (size_t i = 0; i < text.size() && i < kMax; ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    out += b < 0x20 || b == 0x7f ? '?' : text[i];
  }
  if (text.size() > kMax) out += "...";
  out += '"';
  return out;
}

// Exact conversion of a decimal text that has passed the grammar check of parseNumber (no sign).
// Overflow gives infinity and underflow zero, as the text's magnitude says.
#if defined(__cpp_lib_to_chars)
std::optional<double> convertDecimal(std::string_view body, bool overflows) {
  double v = 0;
  const auto r = std::from_chars(body.data(), body.data() + body.size(), v);
  if (r.ec == std::errc::result_out_of_range) return overflows ? std::numeric_limits<double>::infinity() : 0.0;
  if (r.ec != std::errc{} || r.ptr != body.data() + body.size()) return std::nullopt;
  return v;
}
#else
// Standard libraries without a floating-point from_chars: strtod rounds correctly, overflow and
// subnormals included; only its decimal point follows the C locale of the process, so the text
// gets that one. The usual prices never come here (parseNumber reads them itself).
std::optional<double> convertDecimal(std::string_view body, bool) {
  std::string text(body);
  const char point = *std::localeconv()->decimal_point;
  std::replace(text.begin(), text.end(), '.', point);
  return std::strtod(text.c_str(), nullptr);
}
#endif

// --- Time fields ---------------------------------------------------------------------------------

// Seconds and nanoseconds of a non-negative magnitude given as whole units and a decimal
// fraction of a unit, negated when `negative`; empty outside the date range.
std::optional<DateTime> fromUnits(uint64_t whole, uint64_t fracNanos, bool negative, TimeFormat unit) {
  // Far enough out for the range check of fromSecs to decide, near enough not to overflow.
  constexpr uint64_t kMaxMagnitude = static_cast<uint64_t>(-DateTime::kMinSecs) + 1;
  int64_t secs;
  uint64_t nanos;
  if (unit == TimeFormat::EpochMillis) {
    if (whole / 1000 > kMaxMagnitude) return std::nullopt;
    secs = static_cast<int64_t>(whole / 1000);
    nanos = (whole % 1000) * 1'000'000 + fracNanos / 1000;  // a millisecond's billionths, in ns
  } else {
    if (whole > kMaxMagnitude) return std::nullopt;
    secs = static_cast<int64_t>(whole);
    nanos = fracNanos;
  }
  if (negative && nanos > 0) {
    secs = -secs - 1;
    nanos = 1'000'000'000 - nanos;
  } else if (negative) {
    secs = -secs;
  }
  return DateTime::fromSecs(secs, static_cast<uint32_t>(nanos));
}

}  // namespace

std::string_view barFieldName(BarField f) { return kFieldNames[static_cast<size_t>(f)]; }

std::optional<double> parseNumber(std::string_view s) {
  if (s.empty()) return std::nullopt;
  const bool negative = s[0] == '-';
  std::string_view body = (s[0] == '-' || s[0] == '+') ? s.substr(1) : s;
  if (body.empty()) return std::nullopt;
  const double sign = negative ? -1.0 : 1.0;
  // The usual price or volume, at most 19 digits with an optional point and no exponent: exact
  // with one division when the digits fit 53 bits, as both operands are exact and the division
  // rounds once.
  {
    static constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                        1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    uint64_t m = 0;
    size_t i = 0, digits = 0, decimals = 0;
    for (; i < body.size() && isDigit(body[i]); ++i, ++digits) m = m * 10 + static_cast<uint64_t>(body[i] - '0');
    if (i < body.size() && body[i] == '.') {
      for (++i; i < body.size() && isDigit(body[i]); ++i, ++digits, ++decimals)
        m = m * 10 + static_cast<uint64_t>(body[i] - '0');
    }
    if (i == body.size() && digits > 0 && digits <= 19 && m <= (uint64_t{1} << 53))
      return sign * (static_cast<double>(m) / kPow10[decimals]);
  }
  if (!isDigit(body[0]) && body[0] != '.') {
    if (equalsIgnoreCase(body, "nan")) return std::copysign(std::numeric_limits<double>::quiet_NaN(), sign);
    if (equalsIgnoreCase(body, "inf") || equalsIgnoreCase(body, "infinity"))
      return sign * std::numeric_limits<double>::infinity();
    return std::nullopt;
  }
  // digits [. digits] [e [sign] digits], with at least one digit before the exponent.
  size_t i = 0;
  int intDigits = 0, mantissaDigits = 0;
  bool leading = true;
  int firstSignificant = 0;  // position of the first non-zero digit relative to the point
  for (; i < body.size() && isDigit(body[i]); ++i) {
    ++mantissaDigits;
    if (leading && body[i] != '0') leading = false;
    if (!leading) ++intDigits;
  }
  if (i < body.size() && body[i] == '.') {
    ++i;
    for (; i < body.size() && isDigit(body[i]); ++i) {
      ++mantissaDigits;
      if (leading && body[i] == '0') --firstSignificant;
      else leading = false;
    }
  }
  if (mantissaDigits == 0) return std::nullopt;
  int64_t exponent = 0;
  if (i < body.size() && (body[i] == 'e' || body[i] == 'E')) {
    ++i;
    bool expNegative = false;
    if (i < body.size() && (body[i] == '+' || body[i] == '-')) expNegative = body[i++] == '-';
    const size_t expStart = i;
    for (; i < body.size() && isDigit(body[i]); ++i)
      if (exponent < 100000) exponent = exponent * 10 + (body[i] - '0');
    if (i == expStart) return std::nullopt;
    if (expNegative) exponent = -exponent;
  }
  if (i != body.size()) return std::nullopt;
  // The decimal magnitude decides which way a value out of range goes.
  const int64_t magnitude = exponent + (intDigits > 0 ? intDigits : firstSignificant);
  auto v = convertDecimal(body, magnitude > 0);
  if (!v) return std::nullopt;
  return sign * *v;
}

std::optional<DateTime> parseIsoTime(std::string_view s) {
  unsigned year, month, day;
  if (!fixedDigits(s, 0, 4, year) || s.size() < 10 || s[4] != '-' || !fixedDigits(s, 5, 2, month) || s[7] != '-' ||
      !fixedDigits(s, 8, 2, day))
    return std::nullopt;
  unsigned hour = 0, minute = 0, second = 0;
  uint32_t nanos = 0;
  int64_t offset = 0;
  size_t i = 10;
  if (i < s.size()) {
    if (s[i] != 'T' && s[i] != 't' && s[i] != ' ') return std::nullopt;
    if (!fixedDigits(s, i + 1, 2, hour) || i + 3 >= s.size() || s[i + 3] != ':' || !fixedDigits(s, i + 4, 2, minute))
      return std::nullopt;
    i += 6;
    if (i < s.size() && s[i] == ':') {
      if (!fixedDigits(s, i + 1, 2, second)) return std::nullopt;
      i += 3;
      if (i < s.size() && (s[i] == '.' || s[i] == ',')) {
        ++i;
        const size_t start = i;
        uint32_t scale = 100'000'000;
        for (; i < s.size() && isDigit(s[i]); ++i) {
          nanos += static_cast<uint32_t>(s[i] - '0') * scale;  // digits past the ninth add nothing
          scale /= 10;
        }
        if (i == start) return std::nullopt;
      }
    }
    if (i < s.size()) {
      if (s[i] == 'Z' || s[i] == 'z') {
        ++i;
      } else if (s[i] == '+' || s[i] == '-') {
        const int64_t sign = s[i] == '-' ? -1 : 1;
        unsigned oh = 0, om = 0;
        if (!fixedDigits(s, i + 1, 2, oh)) return std::nullopt;
        i += 3;
        if (i < s.size() && s[i] == ':') {
          if (!fixedDigits(s, i + 1, 2, om)) return std::nullopt;
          i += 3;
        } else if (i < s.size()) {
          if (!fixedDigits(s, i, 2, om)) return std::nullopt;
          i += 2;
        }
        if (oh > 23 || om > 59) return std::nullopt;
        offset = sign * (int64_t{oh} * 3600 + int64_t{om} * 60);
      }
    }
    if (i != s.size()) return std::nullopt;
  }
  auto local = DateTime::fromCivil(static_cast<int>(year), month, day, hour, minute, second, nanos);
  if (!local) return std::nullopt;
  return DateTime{local->secs - offset, local->nanos};
}

std::optional<DateTime> parseEpoch(std::string_view s, TimeFormat unit) {
  if (unit != TimeFormat::EpochMillis && unit != TimeFormat::EpochSeconds) return std::nullopt;
  const bool negative = !s.empty() && s[0] == '-';
  std::string_view body = (!s.empty() && (s[0] == '-' || s[0] == '+')) ? s.substr(1) : s;
  // The common forms exactly: whole units and an optional decimal fraction.
  size_t i = 0;
  uint64_t whole = 0;
  for (; i < body.size() && isDigit(body[i]); ++i) {
    if (whole > (std::numeric_limits<uint64_t>::max() - 9) / 10) return std::nullopt;
    whole = whole * 10 + static_cast<uint64_t>(body[i] - '0');
  }
  if (i > 0) {
    uint64_t frac = 0;  // billionths of a unit
    bool simple = i == body.size();
    if (!simple && body[i] == '.') {
      uint64_t scale = 100'000'000;
      size_t j = i + 1;
      for (; j < body.size() && isDigit(body[j]); ++j) {
        frac += static_cast<uint64_t>(body[j] - '0') * scale;
        scale /= 10;
      }
      simple = j == body.size();
    }
    if (simple) return fromUnits(whole, frac, negative, unit);
  }
  // Anything else a number can be written as (exponent forms), to the nearest nanosecond.
  auto v = parseNumber(s);
  if (!v) return std::nullopt;
  return timeFromMillis(unit == TimeFormat::EpochSeconds ? *v * 1000.0 : *v);
}

TimeFormat detectTimeFormat(std::string_view text) {
  unsigned year;
  if (text.size() >= 5 && fixedDigits(text, 0, 4, year) && text[4] == '-') return TimeFormat::Iso8601;
  auto v = parseNumber(text);
  if (!v) return TimeFormat::Iso8601;  // neither: the ISO reader names the value
  return std::fabs(*v) >= 1e11 ? TimeFormat::EpochMillis : TimeFormat::EpochSeconds;
}

std::optional<DateTime> timeFromMillis(double ms) {
  if (!std::isfinite(ms) || std::fabs(ms) > 1e16) return std::nullopt;
  double whole = std::floor(ms);
  // The subtraction is exact; the fraction is rounded to the nearest nanosecond.
  int64_t nanos = std::llround((ms - whole) * 1e6);
  if (nanos >= 1'000'000) {
    whole += 1;
    nanos -= 1'000'000;
  }
  auto t = DateTime::fromMillis(static_cast<int64_t>(whole));
  if (!t) return std::nullopt;
  t->nanos += static_cast<uint32_t>(nanos);
  return t;
}

DateTime timeFromNanos(int64_t ns) {
  const int64_t secs = floorDiv(ns, 1'000'000'000);
  return DateTime{secs, static_cast<uint32_t>(ns - secs * 1'000'000'000)};
}

Result<Timeframe> exchangeTimeframe(std::string_view text) {
  auto bad = [&] {
    return invalidArg("unknown exchange timeframe " + shown(text) +
                      ": expected a count and one of s, m, h, d, w, M, y (\"1m\" is a minute, \"1M\" a month)");
  };
  size_t i = 0;
  uint64_t n = 0;
  for (; i < text.size() && isDigit(text[i]); ++i) {
    n = n * 10 + static_cast<uint64_t>(text[i] - '0');
    if (n > 2147483647) return bad();
  }
  if (i == 0 || i + 1 != text.size() || n == 0) return bad();
  const auto count = static_cast<int64_t>(n);
  switch (text[i]) {
    case 's': return Timeframe::of(TimeUnit::Seconds, count);
    case 'm': return Timeframe::of(TimeUnit::Minutes, count);
    case 'h': return Timeframe::of(TimeUnit::Hours, count);
    case 'd': return Timeframe::of(TimeUnit::Days, count);
    case 'w': return Timeframe::of(TimeUnit::Weeks, count);
    case 'M': return Timeframe::of(TimeUnit::Months, count);
    case 'y': return Timeframe::of(TimeUnit::Years, count);
    default: return bad();
  }
}

std::optional<DateTime> barCloseTime(const DateTime& open, const Timeframe& tf) {
  const int64_t n = tf.signedCount();
  if (n <= 0) return std::nullopt;
  switch (tf.unit) {
    case TimeUnit::Years: return open.plusYears(n);
    case TimeUnit::Months: return open.plusMonths(n);
    case TimeUnit::Weeks:
    case TimeUnit::Days:
    case TimeUnit::Hours:
    case TimeUnit::Minutes:
    case TimeUnit::Seconds: {
      const int64_t unit = secondsPerUnit(tf.unit);
      if (n > Timeframe::kMaxDurationSeconds / unit) return std::nullopt;
      return open.plusSeconds(n * unit);
    }
    default: return std::nullopt;
  }
}

// --- CSV ----------------------------------------------------------------------------------------

namespace {

struct Field {
  std::string_view text;  // between the quotes of a quoted field, trimmed otherwise
  size_t line = 0;
  bool escapes = false;  // holds "" pairs that stand for one quote
};

std::string unescaped(const Field& f) {
  if (!f.escapes) return std::string(f.text);
  std::string out;
  out.reserve(f.text.size());
  for (size_t i = 0; i < f.text.size(); ++i) {
    out += f.text[i];
    if (f.text[i] == '"') ++i;
  }
  return out;
}

// Splits CSV text into records of fields. Blank lines (nothing but spaces and tabs) are skipped;
// a quoted field may span lines, which still count for the line numbers of what follows.
class CsvScanner {
 public:
  CsvScanner(std::string_view text, char delimiter) : p_(text.data()), end_(text.data() + text.size()), d_(delimiter) {
    if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") p_ += 3;
    stops_[static_cast<unsigned char>(d_)] = stops_['\n'] = stops_['\r'] = true;
  }

  // The number of records left, as next() would find them, without splitting fields.
  Result<size_t> countRecords() {
    if (std::memchr(p_, '"', static_cast<size_t>(end_ - p_)) == nullptr) {
      size_t n = 0;
      const bool carriageReturns = std::memchr(p_, '\r', static_cast<size_t>(end_ - p_)) != nullptr;
      while (p_ < end_) {
        const char* q = p_;
        while (q < end_ && isBlank(*q)) ++q;
        if (q < end_ && *q != '\n' && *q != '\r') ++n;
        const void* nl = std::memchr(q, '\n', static_cast<size_t>(end_ - q));
        const char* lineEnd = nl ? static_cast<const char*>(nl) : end_;
        // A lone carriage return ends a line too.
        if (carriageReturns) {
          const void* cr = std::memchr(q, '\r', static_cast<size_t>(lineEnd - q));
          if (cr && static_cast<const char*>(cr) + 1 < lineEnd) lineEnd = static_cast<const char*>(cr);
        }
        p_ = lineEnd < end_ ? lineEnd + 1 : end_;
      }
      return n;
    }
    std::vector<Field> fields;
    size_t n = 0;
    for (;;) {
      BW_ASSIGN(more, next(fields));
      if (!more) return n;
      ++n;
    }
  }

  // The next record into `fields`; false at the end of the text.
  Result<bool> next(std::vector<Field>& fields) {
    fields.clear();
    while (p_ < end_) {
      const char* q = p_;
      while (q < end_ && isBlank(*q)) ++q;
      if (q == end_) {
        p_ = end_;
        return false;
      }
      if (*q == '\n' || *q == '\r') {
        p_ = q;
        lineEnd();
        continue;
      }
      break;
    }
    if (p_ == end_) return false;
    recordLine_ = line_;
    for (;;) {
      while (p_ < end_ && isBlank(*p_)) ++p_;
      Field f;
      f.line = line_;
      if (p_ < end_ && *p_ == '"') {
        const char* start = ++p_;
        for (;;) {
          while (p_ < end_ && *p_ != '"' && *p_ != '\n') ++p_;
          if (p_ == end_) return invalidArg("line " + std::to_string(f.line) + ": a quoted field is never closed");
          if (*p_ == '\n') {
            ++line_;
            ++p_;
            continue;
          }
          if (p_ + 1 < end_ && p_[1] == '"') {
            f.escapes = true;
            p_ += 2;
            continue;
          }
          break;
        }
        f.text = std::string_view(start, static_cast<size_t>(p_ - start));
        ++p_;
        while (p_ < end_ && isBlank(*p_)) ++p_;
        if (p_ < end_ && *p_ != d_ && *p_ != '\n' && *p_ != '\r')
          return invalidArg("line " + std::to_string(line_) + ": text after the closing quote of a field");
      } else {
        const char* start = p_;
        while (p_ < end_ && !stops_[static_cast<unsigned char>(*p_)]) ++p_;
        const char* stop = p_;
        while (stop > start && isBlank(stop[-1])) --stop;
        f.text = std::string_view(start, static_cast<size_t>(stop - start));
      }
      fields.push_back(f);
      if (p_ < end_ && *p_ == d_) {
        ++p_;
        continue;
      }
      if (p_ < end_) lineEnd();
      return true;
    }
  }

  size_t recordLine() const { return recordLine_; }
  const char* position() const { return p_; }

 private:
  bool isBlank(char c) const { return (c == ' ' || c == '\t') && c != d_; }
  // At a line end: steps over "\n", "\r\n" or a lone "\r".
  void lineEnd() {
    if (*p_ == '\r' && p_ + 1 < end_ && p_[1] == '\n') ++p_;
    ++p_;
    ++line_;
  }

  const char* p_;
  const char* end_;
  char d_;
  std::array<bool, 256> stops_{};  // bytes that end an unquoted field
  size_t line_ = 1;
  size_t recordLine_ = 1;
};

// Default header names, compared without regard to case, in order of preference.
constexpr std::array<std::array<std::string_view, 7>, kBarFields> kAliases = {{
    {"open_time", "opentime", "time", "timestamp", "date", "datetime", "t"},
    {"close_time", "closetime"},
    {"open", "o"},
    {"high", "h"},
    {"low", "l"},
    {"close", "c"},
    {"volume", "vol", "v"},
}};

bool requiredByDefault(BarField f) { return f != BarField::CloseTime && f != BarField::Volume; }

std::string joined(const std::vector<std::string>& names) {
  std::string out;
  for (const auto& n : names) {
    if (!out.empty()) out += ", ";
    out += n.empty() ? "(empty)" : n;
  }
  return out;
}

// Which column feeds each bar field, from the options and the header. SIZE_MAX: none.
Result<std::array<size_t, kBarFields>> resolveColumns(const CsvOptions& o, const std::vector<std::string>* header,
                                                      size_t firstRowFields) {
  constexpr size_t kNone = SIZE_MAX;
  std::array<size_t, kBarFields> at;
  at.fill(kNone);
  for (size_t k = 0; k < kBarFields; ++k) {
    const auto f = static_cast<BarField>(k);
    const CsvColumn& c = o.columns[k];
    switch (c.kind) {
      case CsvColumn::Kind::None:
        break;
      case CsvColumn::Kind::Index:
        at[k] = c.index;
        break;
      case CsvColumn::Kind::Name: {
        if (!header)
          return invalidArg("column " + shown(c.name) + " for " + std::string(barFieldName(f)) +
                            " is named, but the text has no header");
        const auto& h = *header;
        auto it = std::find(h.begin(), h.end(), c.name);
        if (it == h.end())
          it = std::find_if(h.begin(), h.end(), [&](const std::string& n) { return equalsIgnoreCase(n, c.name); });
        if (it == h.end())
          return invalidArg("no column " + shown(c.name) + " (" + std::string(barFieldName(f)) +
                            ") in the header; it has: " + joined(h));
        at[k] = static_cast<size_t>(it - h.begin());
        break;
      }
      case CsvColumn::Kind::Default: {
        if (header) {
          const auto& h = *header;
          for (std::string_view alias : kAliases[k]) {
            if (alias.empty()) break;
            auto it = std::find_if(h.begin(), h.end(), [&](const std::string& n) { return equalsIgnoreCase(n, alias); });
            if (it != h.end()) {
              at[k] = static_cast<size_t>(it - h.begin());
              break;
            }
          }
          if (at[k] == kNone && requiredByDefault(f)) {
            std::string looked;
            for (std::string_view alias : kAliases[k])
              if (!alias.empty()) looked += (looked.empty() ? "" : ", ") + std::string(alias);
            return invalidArg("no " + std::string(barFieldName(f)) + " column in the header (looked for " + looked +
                              "); it has: " + joined(h));
          }
        } else {
          // open time, open, high, low, close, volume: the layout of exchange rows.
          static constexpr size_t kByIndex[kBarFields] = {0, kNone, 1, 2, 3, 4, 5};
          at[k] = kByIndex[k];
          if (f == BarField::Volume && firstRowFields <= 5) at[k] = kNone;
        }
        break;
      }
    }
  }
  return at;
}

}  // namespace

Result<std::vector<OhlcvBar>> parseCsv(std::string_view text, const CsvOptions& o) {
  if (o.delimiter == '"' || o.delimiter == '\n' || o.delimiter == '\r')
    return invalidArg("the delimiter cannot be a quote or a line end");
  std::vector<Field> fields;
  fields.reserve(16);
  CsvScanner scan(text, o.delimiter);
  const char* firstRowStart = scan.position();
  BW_ASSIGN(firstRecord, scan.next(fields));
  bool more = firstRecord;
  std::vector<std::string> headerNames;
  const std::vector<std::string>* header = nullptr;
  if (o.header && more) {
    for (const Field& f : fields) headerNames.push_back(unescaped(f));
    header = &headerNames;
    firstRowStart = scan.position();
    BW_ASSIGN(next, scan.next(fields));
    more = next;
  }
  if (!more && !header) {
    if (o.onProgress) BW_TRY(o.onProgress(0, 0));
    return std::vector<OhlcvBar>{};
  }
  // The column layout, from the header or from the first row; the current record is the first
  // row, if any.
  BW_ASSIGN(at, resolveColumns(o, header, more ? fields.size() : 0));
  size_t width = 0;  // columns a row must have
  for (size_t c : at)
    if (c != SIZE_MAX) width = std::max(width, c + 1);

  // The rows: counted exactly when progress is reported (a second scan without splitting
  // fields); otherwise estimated from the length of the first row, and the loop below stops at
  // the most a series can hold.
  const size_t rest = static_cast<size_t>(text.data() + text.size() - scan.position());
  size_t expected = 0;
  if (o.onProgress) {
    CsvScanner counter = scan;
    BW_ASSIGN(n, counter.countRecords());
    expected = n + (more ? 1 : 0);
    if (expected > kMaxLoadBars)
      return invalidArg(std::to_string(expected) + " rows are more than one series can hold (" +
                        std::to_string(kMaxLoadBars) + ")");
  } else if (more) {
    const size_t firstRow = std::max<size_t>(1, static_cast<size_t>(scan.position() - firstRowStart));
    expected = std::min(kMaxLoadBars, 1 + rest / firstRow + rest / firstRow / 8);
  }
  const size_t total = expected;  // exact when it is reported
  std::vector<OhlcvBar> bars;
  bars.reserve(expected);

  auto label = [&](size_t column, size_t k) {
    if (header && column < header->size()) return "column " + shown((*header)[column]);
    return "column " + std::to_string(column) + " (" + std::string(kFieldNames[k]) + ")";
  };
  auto rowError = [&](size_t line, size_t column, size_t k, const std::string& what) {
    return invalidArg("line " + std::to_string(line) + ", " + label(column, k) + ": " + what);
  };

  std::array<TimeFormat, 2> formats = {o.timeFormat, o.timeFormat};
  const size_t step = std::max<size_t>(1, (total + 99) / 100);  // at most 100 reports before the last
  size_t nextReport = step;
  std::optional<DateTime> previousOpen;
  size_t previousLine = 0;

  for (size_t row = 0; more; ++row) {
    if (row == kMaxLoadBars)
      return invalidArg("more rows than one series can hold (" + std::to_string(kMaxLoadBars) + ")");
    const size_t line = scan.recordLine();
    if (fields.size() < width) {
      for (size_t k = 0; k < kBarFields; ++k)
        if (at[k] != SIZE_MAX && at[k] >= fields.size())
          return rowError(line, at[k], k, "missing (the line has " + std::to_string(fields.size()) + " columns)");
    }
    OhlcvBar bar;
    for (size_t k = 0; k < kBarFields; ++k) {
      if (at[k] == SIZE_MAX) continue;
      const Field& f = fields[at[k]];
      if (f.text.empty()) continue;  // absent time or NaN
      if (k < 2) {
        TimeFormat& fmt = formats[k];
        if (fmt == TimeFormat::Auto) fmt = detectTimeFormat(f.text);
        const auto t = fmt == TimeFormat::Iso8601 ? parseIsoTime(f.text) : parseEpoch(f.text, fmt);
        if (!t) {
          const char* kind = fmt == TimeFormat::Iso8601       ? "an ISO 8601 time"
                             : fmt == TimeFormat::EpochMillis ? "a time in milliseconds since the epoch"
                                                              : "a time in seconds since the epoch";
          return rowError(f.line, at[k], k, shown(unescaped(f)) + " is not " + kind);
        }
        (k == 0 ? bar.openTime : bar.closeTime) = t;
      } else {
        const auto x = parseNumber(f.text);
        if (!x) return rowError(f.line, at[k], k, shown(unescaped(f)) + " is not a number");
        switch (static_cast<BarField>(k)) {
          case BarField::Open: bar.open = *x; break;
          case BarField::High: bar.high = *x; break;
          case BarField::Low: bar.low = *x; break;
          case BarField::Close: bar.close = *x; break;
          default: bar.volume = *x; break;
        }
      }
    }
    if (o.sorted) {
      const size_t c = at[0];
      if (!bar.openTime)
        return rowError(line, c, 0, "no open time, but the rows were to be sorted by open time");
      if (previousOpen && *bar.openTime <= *previousOpen)
        return rowError(line, c, 0,
                        bar.openTime->debug() + " is not after " + previousOpen->debug() + " on line " +
                            std::to_string(previousLine) + ", but the rows were to be sorted by open time");
      previousOpen = bar.openTime;
      previousLine = line;
    }
    bars.push_back(bar);
    if (o.onProgress && row + 1 == nextReport && row + 1 < total) {
      BW_TRY(o.onProgress(row + 1, total));
      nextReport += step;
    }
    BW_ASSIGN(next, scan.next(fields));
    more = next;
  }
  if (o.onProgress && bars.size() != total)
    return Error(Status::GenericFailure, "the CSV rows were miscounted: " + std::to_string(total) + " counted, " +
                                             std::to_string(bars.size()) + " read");
  if (o.onProgress) BW_TRY(o.onProgress(total, total));
  return bars;
}

Result<std::string> readFileText(const std::string& path) {
  namespace fs = std::filesystem;
  if (path.find('\0') != std::string::npos) return invalidArg("the path " + shown(path) + " holds a NUL character");
  // The path is UTF-8 text; read as such it names the same file on every system (wide paths where
  // the system wants them).
  const fs::path file(std::u8string(path.begin(), path.end()));
  auto cannot = [&](const std::string& why) { return invalidArg("cannot read " + shown(path) + ": " + why); };
  std::error_code ec;
  const auto status = fs::status(file, ec);
  if (ec) return cannot(ec.message());
  if (!fs::is_regular_file(status)) return cannot("not a regular file");
  const auto size = fs::file_size(file, ec);
  if (ec) return cannot(ec.message());
  std::string out;
  try {
    out.resize(static_cast<size_t>(size));
  } catch (const std::bad_alloc&) {
    return cannot("its " + std::to_string(size) + " bytes do not fit in memory");
  } catch (const std::length_error&) {
    return cannot("its " + std::to_string(size) + " bytes do not fit in memory");
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) return cannot(std::generic_category().message(errno));
  in.read(out.data(), static_cast<std::streamsize>(out.size()));
  out.resize(static_cast<size_t>(in.gcount()));
  // A file that grew since its size was taken: read the rest too.
  if (in) {
    char more[65536];
    while (in.read(more, sizeof more) || in.gcount() > 0) out.append(more, static_cast<size_t>(in.gcount()));
  }
  if (in.bad()) return cannot("read error");
  return out;
}

// --- Columns and rows ---------------------------------------------------------------------------

namespace {

size_t timeCount(const TimeValues& v) {
  return std::visit([](const auto& x) { return x.size(); }, v);
}

}  // namespace

Result<std::vector<OhlcvBar>> barsFromColumns(const BarColumns& c, bool sorted) {
  const bool present[kBarFields] = {c.openTime.has_value(), c.closeTime.has_value(), c.open.has_value(),
                                    c.high.has_value(),     c.low.has_value(),       c.close.has_value(),
                                    c.volume.has_value()};
  for (size_t k = 0; k < kBarFields; ++k)
    if (!present[k] && requiredByDefault(static_cast<BarField>(k)))
      return invalidArg("no `" + std::string(kFieldNames[k]) + "` column");
  const size_t sizes[kBarFields] = {timeCount(*c.openTime), c.closeTime ? timeCount(*c.closeTime) : 0,
                                    c.open->size(),          c.high->size(),
                                    c.low->size(),           c.close->size(),
                                    c.volume ? c.volume->size() : 0};
  const size_t n = sizes[0];
  for (size_t k = 1; k < kBarFields; ++k)
    if (present[k] && sizes[k] != n)
      return invalidArg("column `" + std::string(kFieldNames[k]) + "` has " + std::to_string(sizes[k]) +
                        " entries, but `openTime` has " + std::to_string(n));
  if (n > kMaxLoadBars)
    return invalidArg(std::to_string(n) + " bars are more than one series can hold (" +
                      std::to_string(kMaxLoadBars) + ")");

  // One pass, bar by bar: each bar is written once, whole.
  auto timeAt = [](const TimeValues& v, size_t i, size_t k) -> Result<OptTime> {
    if (const auto* ms = std::get_if<std::vector<double>>(&v)) {
      const double x = (*ms)[i];
      if (std::isnan(x)) return OptTime{};
      auto t = timeFromMillis(x);
      if (!t)
        return invalidArg("`" + std::string(kFieldNames[k]) + "`[" + std::to_string(i) + "]: " + formatNumber(x) +
                          " is not a time in milliseconds since the epoch");
      return OptTime{*t};
    }
    return OptTime{timeFromNanos(std::get<std::vector<int64_t>>(v)[i])};
  };
  const double* open = c.open->data();
  const double* high = c.high->data();
  const double* low = c.low->data();
  const double* close = c.close->data();
  const double* volume = c.volume ? c.volume->data() : nullptr;
  std::vector<OhlcvBar> bars;
  bars.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    BW_ASSIGN(openTime, timeAt(*c.openTime, i, 0));
    OptTime closeTime;
    if (c.closeTime) {
      BW_ASSIGN(t, timeAt(*c.closeTime, i, 1));
      closeTime = t;
    }
    bars.push_back(OhlcvBar{openTime, closeTime, open[i], high[i], low[i], close[i], volume ? volume[i] : kNaN});
  }
  if (sorted) {
    for (size_t i = 0; i < n; ++i) {
      if (!bars[i].openTime)
        return invalidArg("`openTime`[" + std::to_string(i) +
                          "]: no open time, but the bars were to be sorted by open time");
      if (i > 0 && *bars[i].openTime <= *bars[i - 1].openTime)
        return invalidArg("`openTime`[" + std::to_string(i) + "]: " + bars[i].openTime->debug() +
                          " is not after " + bars[i - 1].openTime->debug() +
                          ", but the bars were to be sorted by open time");
    }
  }
  return bars;
}

Result<std::vector<OhlcvBar>> barsFromExchangeRows(const std::vector<double>& flat, const Timeframe& tf) {
  constexpr size_t kWidth = 6;
  const size_t n = flat.size() / kWidth;
  if (n > kMaxLoadBars)
    return invalidArg(std::to_string(n) + " rows are more than one series can hold (" +
                      std::to_string(kMaxLoadBars) + ")");
  const bool closes = tf.isTimeBased() && tf.signedCount() > 0;
  std::vector<OhlcvBar> bars;
  bars.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    const double* r = &flat[i * kWidth];
    auto open = timeFromMillis(r[0]);
    if (!open)
      return invalidArg("rows[" + std::to_string(i) + "][0] (timestamp): " + formatNumber(r[0]) +
                        " is not a time in milliseconds since the epoch");
    OhlcvBar& b = bars.emplace_back();
    b.openTime = open;
    if (closes) {
      b.closeTime = barCloseTime(*open, tf);
      if (!b.closeTime)
        return invalidArg("rows[" + std::to_string(i) + "]: a " + tf.toString() + " bar opening at " + open->debug() +
                          " closes outside the date range");
    }
    b.open = r[1];
    b.high = r[2];
    b.low = r[3];
    b.close = r[4];
    b.volume = r[5];
  }
  return bars;
}

}  // namespace bw
