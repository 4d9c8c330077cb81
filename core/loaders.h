// Bulk loaders: bars from CSV text, from columns of numbers and from exchange rows, without a
// date object or a bar object per row on the way in. Every loader checks all its input before it
// hands back a single bar, so a bad row loads nothing.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/datetime.h"
#include "core/error.h"
#include "core/ohlcv.h"
#include "core/timeframe.h"

namespace bw {

// The fields of a bar in the order of its JSON form; also the order of every loader's columns.
enum class BarField : uint8_t { OpenTime, CloseTime, Open, High, Low, Close, Volume };
inline constexpr size_t kBarFields = 7;
// "openTime", "closeTime", "open", ...: the names JavaScript uses for the columns.
std::string_view barFieldName(BarField f);

// The most bars one load may produce: series lengths reach JavaScript as 32-bit signed integers.
inline constexpr size_t kMaxLoadBars = 2147483647;

// --- Values from text ----------------------------------------------------------------------------

// A decimal number: optional sign, digits with an optional point and exponent, or nan / inf /
// infinity in any case. Nothing else, not even surrounding spaces.
std::optional<double> parseNumber(std::string_view text);

enum class TimeFormat : uint8_t {
  Auto,         // decided per column from its first non-empty value
  Iso8601,      // 2024-03-01, 2024-03-01T09:30:00Z, 2024-03-01 09:30:00.250+02:00, ...
  EpochMillis,  // 1709285400000
  EpochSeconds  // 1709285400, 1709285400.25
};

// ISO 8601 calendar date, alone (midnight UTC) or with a time: "T", "t" or a space, hours ":"
// minutes, optional ":" seconds and a fraction ("." or ","), then optionally "Z", "z" or an
// offset "+hh:mm", "+hhmm" or "+hh". No offset means UTC.
std::optional<DateTime> parseIsoTime(std::string_view text);
// An integer count of milliseconds or seconds since the epoch, with an optional decimal
// fraction kept to the nanosecond, or any other decimal number (exponent forms) rounded to the
// nearest nanosecond. `unit` is EpochMillis or EpochSeconds.
std::optional<DateTime> parseEpoch(std::string_view text, TimeFormat unit);
// The format Auto settles on for a column whose first value is `text`: ISO 8601 when it starts
// like a date, else milliseconds for magnitudes of 1e11 and more (1973 onwards as milliseconds,
// beyond year 5000 as seconds), else seconds.
TimeFormat detectTimeFormat(std::string_view text);

// --- Values from numbers -------------------------------------------------------------------------

// Milliseconds since the epoch, the fraction kept to the nearest nanosecond. Empty for NaN and
// infinities and outside the date range.
std::optional<DateTime> timeFromMillis(double ms);
// Nanoseconds since the epoch: every value is in range.
DateTime timeFromNanos(int64_t ns);

// --- Timeframes ---------------------------------------------------------------------------------

// A timeframe in the vocabulary of crypto exchange APIs: a count and one of s, m, h, d, w, M, y
// ("1m" a minute, "1M" a month, "1d" a day, "1w" a week). Fails for anything else.
Result<Timeframe> exchangeTimeframe(std::string_view text);
// When a bar of the timeframe that opens at `open` closes: open plus its length, by the
// calendar for weeks, months and years. Empty for timeframes without a length and past the
// date range.
std::optional<DateTime> barCloseTime(const DateTime& open, const Timeframe& tf);

// --- CSV ----------------------------------------------------------------------------------------

// Where a bar field comes from: the loader's default, a header name, a column index (0 is the
// first column), or nowhere (the field stays absent / NaN).
struct CsvColumn {
  enum class Kind : uint8_t { Default, Name, Index, None };
  Kind kind = Kind::Default;
  std::string name;
  size_t index = 0;

  static CsvColumn named(std::string n) { return {Kind::Name, std::move(n), 0}; }
  static CsvColumn at(size_t i) { return {Kind::Index, {}, i}; }
  static CsvColumn none() { return {Kind::None, {}, 0}; }
};

// Called with the rows done and the rows in all; an error stops the load and is returned as is.
using LoadProgress = std::function<Result<Unit>(size_t done, size_t total)>;

struct CsvOptions {
  bool header = true;
  char delimiter = ',';
  std::array<CsvColumn, kBarFields> columns{};  // by BarField
  TimeFormat timeFormat = TimeFormat::Auto;     // for both time columns
  bool sorted = false;                          // require open times to increase row by row
  LoadProgress onProgress;                      // about every 1 % of the rows, and at the end
};

// Bars from CSV text. Defaults: with a header, the columns are found by name (case ignored):
// open time as open_time, opentime, time, timestamp, date or datetime (or t), close time as
// close_time or closetime, the prices as open/o, high/h, low/l, close/c and the volume as
// volume/vol/v; without a header, columns 0 to 5 are open time, open, high, low, close and
// volume. Open time and the four prices must be found; close time and volume are used when
// present. Fields may be quoted ("" inside quotes is a quote); a UTF-8 byte order mark, CR LF
// line ends, blank lines and a last line without a line end are accepted; spaces around a field
// are ignored; an empty field is an absent time or NaN.
//
// Errors name the line (1-based, as an editor counts them) and the column.
Result<std::vector<OhlcvBar>> parseCsv(std::string_view text, const CsvOptions& options);

// The whole content of a regular file.
Result<std::string> readFileText(const std::string& path);

// --- Columns and rows ---------------------------------------------------------------------------

// A column of times: milliseconds since the epoch as numbers (NaN: absent) or nanoseconds.
using TimeValues = std::variant<std::vector<double>, std::vector<int64_t>>;

struct BarColumns {
  std::optional<TimeValues> openTime, closeTime;
  std::optional<std::vector<double>> open, high, low, close, volume;
};

// Bars from columns: open time and the four prices are required, close time and volume
// optional; every column given has the length of the open times. With `sorted`, open times
// must increase from bar to bar.
Result<std::vector<OhlcvBar>> barsFromColumns(const BarColumns& columns, bool sorted);

// Bars from exchange rows [timestampMs, open, high, low, close, volume] laid out flat, six
// numbers per row. The timestamp opens the bar; with a timeframe that has a length, the bar
// closes that length later, otherwise it has no close time.
Result<std::vector<OhlcvBar>> barsFromExchangeRows(const std::vector<double>& flat, const Timeframe& tf);

}  // namespace bw
