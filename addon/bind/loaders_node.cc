// The bulk loaders of NodeOhlcv: its static factories from columns, CSV text or files and
// exchange rows, and `toColumns` back out. A second member table for the class: the registry
// adds these members to the ones of ohlcv_node.cc.
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "addon/bind.h"
#include "addon/classes.h"
#include "core/loaders.h"
#include "core/ohlcv.h"

using namespace bw;
using namespace bw::js;

namespace {

// Operation failures name the operation; a pending JavaScript exception passes unchanged.
Error within(const std::string& where, Error e) {
  if (e.status != Status::PendingException) e.reason = where + ": " + e.reason;
  return e;
}

template <class T>
Result<T> within(const std::string& where, Result<T> r) {
  if (r.ok()) return r;
  return within(where, std::move(r).error());
}

Result<napi_valuetype> typeOf(napi_env env, napi_value v) {
  napi_valuetype t;
  napi_status st = napi_typeof(env, v, &t);
  if (st != napi_ok) return hostError(env, st, "Failed to read value type");
  return t;
}

// The own enumerable string-keyed properties of a plain object, read once each, in order; a
// property holding `undefined` counts as absent. Getters run here, before anything is converted.
Result<std::vector<std::pair<std::string, napi_value>>> ownEntries(napi_env env, napi_value obj, const char* what) {
  BW_ASSIGN(t, typeOf(env, obj));
  bool isArray = false;
  napi_is_array(env, obj, &isArray);
  if (t != napi_object || isArray)
    return Error(Status::ObjectExpected, std::string(what) + ": expected a plain object, got " +
                                             std::string(isArray ? "Array" : typeName(env, obj)));
  napi_value keys;
  napi_status st = napi_get_all_property_names(env, obj, napi_key_own_only,
                                               static_cast<napi_key_filter>(napi_key_enumerable | napi_key_skip_symbols),
                                               napi_key_numbers_to_strings, &keys);
  if (st != napi_ok) return hostError(env, st, std::string(what) + ": failed to read its keys");
  uint32_t n = 0;
  napi_get_array_length(env, keys, &n);
  std::vector<std::pair<std::string, napi_value>> out;
  for (uint32_t i = 0; i < n; ++i) {
    BW_ASSIGN(key, element(env, keys, i));
    BW_ASSIGN(name, readText(env, key));
    napi_value value;
    st = napi_get_property(env, obj, key, &value);
    if (st != napi_ok) return hostError(env, st, std::string(what) + ": failed to read `" + name + "`");
    BW_ASSIGN(absent, typeOf(env, value));
    if (absent == napi_undefined) continue;
    out.emplace_back(std::move(name), value);
  }
  return out;
}

Error unknownKey(const std::string& key, const char* what, const char* expected) {
  return invalidArg(std::string(what) + ": unknown key `" + key + "`; expected " + expected);
}

// Typed array details, or the element type absent for anything else.
struct Typed {
  bool is = false;
  napi_typedarray_type type = napi_int8_array;
  size_t length = 0;
  const void* data = nullptr;
};

Result<Typed> typedInfo(napi_env env, napi_value v) {
  Typed t;
  napi_is_typedarray(env, v, &t.is);
  if (!t.is) return t;
  void* data = nullptr;
  napi_status st = napi_get_typedarray_info(env, v, &t.type, &t.length, &data, nullptr, nullptr);
  if (st != napi_ok) return hostError(env, st, "Get TypedArray info failed");
  if (!data) t.length = 0;  // detached
  t.data = data;
  return t;
}

const char* typedName(napi_typedarray_type t) {
  switch (t) {
    case napi_int8_array: return "Int8Array";
    case napi_uint8_array: return "Uint8Array";
    case napi_uint8_clamped_array: return "Uint8ClampedArray";
    case napi_int16_array: return "Int16Array";
    case napi_uint16_array: return "Uint16Array";
    case napi_int32_array: return "Int32Array";
    case napi_uint32_array: return "Uint32Array";
    case napi_float32_array: return "Float32Array";
    case napi_float64_array: return "Float64Array";
    case napi_bigint64_array: return "BigInt64Array";
    case napi_biguint64_array: return "BigUint64Array";
    default: return "TypedArray";  // kinds newer than these headers
  }
}

// A column of numbers: a Float64Array or an array of numbers, copied. A bad element is named by
// its index.
Error tooLong(const std::string& name, size_t n) {
  return invalidArg("`" + name + "` has " + std::to_string(n) + " entries, more than one series can hold (" +
                    std::to_string(kMaxLoadBars) + ")");
}

Result<std::vector<double>> numberColumn(napi_env env, napi_value v, const std::string& name) {
  BW_ASSIGN(t, typedInfo(env, v));
  if (t.is && t.length > kMaxLoadBars) return tooLong(name, t.length);
  if (t.is) {
    if (t.type != napi_float64_array)
      return invalidArg("`" + name + "`: expected a Float64Array or an array of numbers, got " + typedName(t.type));
    const auto* p = static_cast<const double*>(t.data);
    return std::vector<double>(p, p + t.length);
  }
  bool isArray = false;
  napi_is_array(env, v, &isArray);
  if (!isArray)
    return invalidArg("`" + name + "`: expected a Float64Array or an array of numbers, got " +
                      std::string(typeName(env, v)));
  BW_ASSIGN(length, arrayLength(env, v));
  if (length > kMaxLoadBars) return tooLong(name, length);
  auto numbers = readNumbers(env, v);
  if (numbers.ok() || numbers.error().status == Status::PendingException) return numbers;
  // Name the first element that is not a number.
  uint32_t n = 0;
  napi_get_array_length(env, v, &n);
  for (uint32_t i = 0; i < n; ++i) {
    BW_ASSIGN(item, element(env, v, i));
    BW_ASSIGN(kind, typeOf(env, item));
    if (kind != napi_number)
      return within("`" + name + "`[" + std::to_string(i) + "]", std::move(numbers).error());
  }
  return numbers;
}

// A column of times: milliseconds as a Float64Array or an array of numbers, or nanoseconds as a
// BigInt64Array.
Result<TimeValues> timeColumn(napi_env env, napi_value v, const std::string& name) {
  BW_ASSIGN(t, typedInfo(env, v));
  if (t.is && t.type == napi_bigint64_array) {
    if (t.length > kMaxLoadBars) return tooLong(name, t.length);
    const auto* p = static_cast<const int64_t*>(t.data);
    return TimeValues(std::vector<int64_t>(p, p + t.length));
  }
  auto ms = numberColumn(env, v, name);
  if (!ms.ok()) {
    Error e = std::move(ms).error();
    if (e.reason.find("expected a Float64Array") != std::string::npos)
      e.reason = "`" + name + "`: expected milliseconds as a Float64Array or an array of numbers, or nanoseconds as a "
                 "BigInt64Array, got " + std::string(t.is ? typedName(t.type) : typeName(env, v));
    return e;
  }
  return TimeValues(std::move(ms).value());
}

Result<Timeframe> timeframeValue(napi_env env, napi_value v, const std::string& name) {
  return within(name, readValue<Timeframe>(env, v, false));
}

Result<bool> boolValue(napi_env env, napi_value v, const std::string& name) {
  return within(name, readBool(env, v));
}

// --- fromColumns ---------------------------------------------------------------------------------

constexpr const char* kColumnKeys = "openTime, closeTime, open, high, low, close, volume, timeframe, sorted";

Result<ArcOhlcv> fromColumns(napi_env env, napi_value arg) {
  BW_ASSIGN(entries, ownEntries(env, arg, "columns"));
  BarColumns cols;
  Timeframe tf;
  bool sorted = false;
  for (auto& [key, value] : entries) {
    BW_ASSIGN(kind, typeOf(env, value));
    if (kind == napi_null) continue;
    if (key == "openTime") {
      BW_ASSIGN(c, timeColumn(env, value, key));
      cols.openTime = std::move(c);
    } else if (key == "closeTime") {
      BW_ASSIGN(c, timeColumn(env, value, key));
      cols.closeTime = std::move(c);
    } else if (key == "open" || key == "high" || key == "low" || key == "close" || key == "volume") {
      BW_ASSIGN(c, numberColumn(env, value, key));
      auto& slot = key == "open" ? cols.open : key == "high" ? cols.high : key == "low" ? cols.low
                                              : key == "close" ? cols.close : cols.volume;
      slot = std::move(c);
    } else if (key == "timeframe") {
      BW_ASSIGN(x, timeframeValue(env, value, key));
      tf = x;
    } else if (key == "sorted") {
      BW_ASSIGN(x, boolValue(env, value, key));
      sorted = x;
    } else {
      return unknownKey(key, "columns", kColumnKeys);
    }
  }
  BW_ASSIGN(bars, barsFromColumns(cols, sorted));
  return ArcOhlcv(Ohlcv{std::move(bars), tf});
}

// --- CSV -----------------------------------------------------------------------------------------

constexpr const char* kCsvKeys = "header, delimiter, columns, timeFormat, sorted, timeframe, onProgress";
constexpr const char* kFieldKeys = "openTime, closeTime, open, high, low, close, volume";

Result<CsvColumn> csvColumn(napi_env env, napi_value v, const std::string& name) {
  BW_ASSIGN(kind, typeOf(env, v));
  if (kind == napi_string) {
    BW_ASSIGN(text, readText(env, v));
    return CsvColumn::named(std::move(text));
  }
  if (kind == napi_boolean) {
    bool b = true;
    napi_get_value_bool(env, v, &b);
    if (!b) return CsvColumn::none();
  }
  if (kind == napi_number) {
    double x = 0;
    napi_get_value_double(env, v, &x);
    if (x >= 0 && x <= 2147483647.0 && x == std::floor(x)) return CsvColumn::at(static_cast<size_t>(x));
  }
  return invalidArg("`columns." + name + "`: expected a header name, a column index (0 is the first) or false, got " +
                    std::string(typeName(env, v)));
}

struct CsvCall {
  CsvOptions options;
  Timeframe timeframe;
};

Result<CsvCall> csvOptions(napi_env env, napi_value arg) {
  CsvCall out;
  BW_ASSIGN(absent, isNullish(env, arg));
  if (absent) return out;
  BW_ASSIGN(entries, ownEntries(env, arg, "options"));
  CsvOptions& o = out.options;
  for (auto& [key, value] : entries) {
    BW_ASSIGN(kind, typeOf(env, value));
    if (kind == napi_null) continue;
    if (key == "header") {
      BW_ASSIGN(x, boolValue(env, value, key));
      o.header = x;
    } else if (key == "delimiter") {
      auto text = readText(env, value);
      if (!text.ok() || text->size() != 1 || *text == "\"" || *text == "\n" || *text == "\r")
        return invalidArg("`delimiter`: expected one character other than a quote or a line end, such as \",\", "
                          "\";\" or \"\\t\"");
      o.delimiter = (*text)[0];
    } else if (key == "columns") {
      BW_ASSIGN(fields, ownEntries(env, value, "columns"));
      for (auto& [field, ref] : fields) {
        size_t k = 0;
        while (k < kBarFields && barFieldName(static_cast<BarField>(k)) != field) ++k;
        if (k == kBarFields) return unknownKey(field, "columns", kFieldKeys);
        BW_ASSIGN(refKind, typeOf(env, ref));
        if (refKind == napi_null) continue;
        BW_ASSIGN(c, csvColumn(env, ref, field));
        o.columns[k] = std::move(c);
      }
    } else if (key == "timeFormat") {
      auto text = readText(env, value);
      const std::string s = text.ok() ? *text : "";
      if (s == "auto") o.timeFormat = TimeFormat::Auto;
      else if (s == "iso") o.timeFormat = TimeFormat::Iso8601;
      else if (s == "ms") o.timeFormat = TimeFormat::EpochMillis;
      else if (s == "s") o.timeFormat = TimeFormat::EpochSeconds;
      else return invalidArg("`timeFormat`: expected \"auto\", \"iso\", \"ms\" or \"s\"");
    } else if (key == "sorted") {
      BW_ASSIGN(x, boolValue(env, value, key));
      o.sorted = x;
    } else if (key == "timeframe") {
      BW_ASSIGN(x, timeframeValue(env, value, key));
      out.timeframe = x;
    } else if (key == "onProgress") {
      if (kind != napi_function)
        return Error(Status::FunctionExpected,
                     "`onProgress`: expected a function, got " + std::string(typeName(env, value)));
      napi_value fn = value;
      o.onProgress = [env, fn](size_t done, size_t total) -> Result<Unit> {
        napi_value args[2], self, ignored;
        napi_create_double(env, static_cast<double>(done), &args[0]);
        napi_create_double(env, static_cast<double>(total), &args[1]);
        napi_get_undefined(env, &self);
        napi_status st = napi_call_function(env, self, fn, 2, args, &ignored);
        if (st != napi_ok) return hostError(env, st, "onProgress failed");
        return okUnit();
      };
    } else {
      return unknownKey(key, "options", kCsvKeys);
    }
  }
  return out;
}

// CSV text from a string or from UTF-8 bytes (a Buffer or another Uint8Array), copied: the
// progress callback could otherwise detach the bytes under the parser. A string is written into
// room for three bytes per UTF-16 unit, its most, so that the host need not measure it first
// (the pages never written are never touched).
struct Text {
  std::unique_ptr<char[]> bytes;
  size_t size = 0;
  std::string_view view() const { return {bytes.get(), size}; }
};

Result<Text> csvText(napi_env env, napi_value v) {
  BW_ASSIGN(t, typedInfo(env, v));
  Text out;
  if (t.is && t.type == napi_uint8_array) {
    out.bytes.reset(new char[t.length + 1]);
    if (t.length) std::memcpy(out.bytes.get(), t.data, t.length);
    out.size = t.length;
    return out;
  }
  BW_ASSIGN(kind, typeOf(env, v));
  if (kind != napi_string) {
    BW_ASSIGN(never, readText(env, v));  // the text conversion error, showing the value
    (void)never;
  }
  size_t units = 0;
  napi_status st = napi_get_value_string_utf16(env, v, nullptr, 0, &units);
  if (st != napi_ok) return hostError(env, st, "Failed to read text");
  const size_t room = units * 3 + 1;
  out.bytes.reset(new char[room]);
  st = napi_get_value_string_utf8(env, v, out.bytes.get(), room, &out.size);
  if (st != napi_ok) return hostError(env, st, "Failed to read text");
  return out;
}

Result<ArcOhlcv> fromCsv(const std::string& where, std::string_view text, const CsvCall& c) {
  BW_ASSIGN(bars, within(where, parseCsv(text, c.options)));
  return ArcOhlcv(Ohlcv{std::move(bars), c.timeframe});
}

// --- Exchange rows -------------------------------------------------------------------------------

constexpr size_t kRowWidth = 6;
constexpr const char* kRowShape = "[timestampMs, open, high, low, close, volume]";
constexpr const char* kRowNames[kRowWidth] = {"timestamp", "open", "high", "low", "close", "volume"};
constexpr uint32_t kRowChunk = 8192;

// Copies rows into a flat Float64Array, one host call per chunk; stops at the first row it
// cannot take whole and returns its index (-1: all taken). It reads no globals: the array check
// is the one of the intrinsic Array, found through an array literal.
constexpr const char* kRowsIn =
    "(function (isArray) { return function (rows, out, start, end) {"
    "  for (var i = start, j = 0; i < end; i++, j += 6) {"
    "    var r = rows[i];"
    "    if (!isArray(r) || r.length !== 6) return i;"
    "    var t = r[0];"
    "    if (typeof t !== 'number') return i;"
    "    out[j] = t;"
    "    for (var k = 1; k < 6; k++) {"
    "      var v = r[k];"
    "      if (typeof v === 'number') out[j + k] = v;"
    "      else if (v === null || v === undefined) out[j + k] = 0 / 0;"
    "      else return i;"
    "    }"
    "  }"
    "  return -1;"
    "}; })([].constructor.isArray)";

const char kRowsInKey = 0;

// One row converted by hand: the exact error for a row the bulk copy refused, or its values
// when a getter answers differently the second time.
Result<Unit> convertRow(napi_env env, napi_value rows, uint32_t i, double* out) {
  const std::string at = "rows[" + std::to_string(i) + "]";
  BW_ASSIGN(row, element(env, rows, i));
  bool isArray = false;
  napi_is_array(env, row, &isArray);
  if (!isArray)
    return invalidArg(at + ": expected an array " + kRowShape + ", got " + std::string(typeName(env, row)));
  uint32_t n = 0;
  napi_get_array_length(env, row, &n);
  if (n != kRowWidth)
    return invalidArg(at + ": " + std::to_string(n) + " entries, expected " + std::to_string(kRowWidth) + " " +
                      kRowShape);
  for (uint32_t k = 0; k < kRowWidth; ++k) {
    BW_ASSIGN(v, element(env, row, k));
    BW_ASSIGN(kind, typeOf(env, v));
    if (kind == napi_number) {
      napi_get_value_double(env, v, &out[k]);
    } else if (k > 0 && (kind == napi_null || kind == napi_undefined)) {
      out[k] = std::nan("");
    } else {
      return invalidArg(at + "[" + std::to_string(k) + "] (" + kRowNames[k] + "): expected a number, got " +
                        std::string(typeName(env, v)));
    }
  }
  return okUnit();
}

Result<std::vector<double>> flatRows(napi_env env, napi_value rows) {
  BW_ASSIGN(n, arrayLength(env, rows));
  if (n > kMaxLoadBars)
    return invalidArg(std::to_string(n) + " rows are more than one series can hold (" +
                      std::to_string(kMaxLoadBars) + ")");
  std::vector<double> flat;
  if (n == 0) return flat;
  BW_ASSIGN(fn, keptScript(env, &kRowsInKey, kRowsIn));
  void* raw = nullptr;
  napi_value buffer, chunk, global;
  const size_t cells = size_t{std::min(n, kRowChunk)} * kRowWidth;
  napi_status st = napi_create_arraybuffer(env, cells * sizeof(double), &raw, &buffer);
  if (st == napi_ok) st = napi_create_typedarray(env, napi_float64_array, cells, buffer, 0, &chunk);
  if (st == napi_ok) st = napi_get_global(env, &global);
  if (st != napi_ok) return hostError(env, st, "Failed to create array");
  const double* cellsIn = static_cast<const double*>(raw);
  uint32_t i = 0;
  while (i < n) {
    const uint32_t end = static_cast<uint32_t>(std::min<size_t>(n, size_t{i} + kRowChunk));
    napi_value args[4] = {rows, chunk, nullptr, nullptr};
    napi_create_uint32(env, i, &args[2]);
    napi_create_uint32(env, end, &args[3]);
    napi_value res;
    st = napi_call_function(env, global, fn, 4, args, &res);
    if (st != napi_ok) return hostError(env, st, "Failed to get element with index `" + std::to_string(i) + "`");
    double stop = -1;
    napi_get_value_double(env, res, &stop);
    const uint32_t upto = stop < 0 ? end : static_cast<uint32_t>(stop);
    flat.insert(flat.end(), cellsIn, cellsIn + size_t{upto - i} * kRowWidth);
    i = upto;
    if (stop < 0) continue;
    double row[kRowWidth];
    BW_TRY(convertRow(env, rows, i, row));
    flat.insert(flat.end(), row, row + kRowWidth);
    ++i;
  }
  return flat;
}

Result<Timeframe> exchangeTimeframeArg(napi_env env, napi_value v) {
  BW_ASSIGN(kind, typeOf(env, v));
  if (kind == napi_undefined || kind == napi_null) return Timeframe{};
  if (kind == napi_string) {
    BW_ASSIGN(text, readText(env, v));
    return exchangeTimeframe(text);
  }
  BW_ASSIGN(found, unpackRecord(env, v, ClassOf<Timeframe>::id()));
  if (!found)
    return invalidArg("timeframe: expected an exchange timeframe such as \"1m\", \"1h\", \"1d\" or \"1M\", or a "
                      "NodeTimeframe, got " + std::string(typeName(env, v)));
  return Codec<Timeframe>::read(RecordIn(env, Refusal{ClassOf<Timeframe>::name, false}));
}

// --- toColumns -----------------------------------------------------------------------------------

Result<napi_value> toColumns(napi_env env, const ArcOhlcv& s) {
  const size_t n = s.length();
  napi_value arrays[kBarFields];
  double* data[kBarFields];
  for (size_t k = 0; k < kBarFields; ++k) {
    void* raw = nullptr;
    napi_value buffer;
    napi_status st = napi_create_arraybuffer(env, n * sizeof(double), &raw, &buffer);
    if (st == napi_ok) st = napi_create_typedarray(env, napi_float64_array, n, buffer, 0, &arrays[k]);
    if (st != napi_ok) return hostError(env, st, "Failed to create Float64Array");
    data[k] = static_cast<double*>(raw);
  }
  const Timeframe tf = s.read([&](const Ohlcv& o) {
    const size_t m = std::min(n, o.bars.size());
    const double nan = std::nan("");
    for (size_t i = 0; i < m; ++i) {
      const OhlcvBar& b = o.bars[i];
      data[0][i] = b.openTime ? static_cast<double>(b.openTime->toMillis()) : nan;
      data[1][i] = b.closeTime ? static_cast<double>(b.closeTime->toMillis()) : nan;
      data[2][i] = b.open;
      data[3][i] = b.high;
      data[4][i] = b.low;
      data[5][i] = b.close;
      data[6][i] = b.volume;
    }
    return o.timeframe;
  });
  BW_ASSIGN(obj, makeObject(env));
  for (size_t k = 0; k < kBarFields; ++k)
    BW_TRY(setProperty(env, obj, std::string(barFieldName(static_cast<BarField>(k))).c_str(), arrays[k]));
  BW_ASSIGN(tfValue, makeValue<Timeframe>(env, tf));
  BW_TRY(setProperty(env, obj, "timeframe", tfValue));
  return obj;
}

}  // namespace

BW_REGISTER(ohlcv_loaders) {
  Class<ArcOhlcv> c;
  c.staticMethod("fromColumns", [](Call& call) -> Result<ArcOhlcv> {
    return within("fromColumns", fromColumns(call.env, call.argv[0]));
  });
  c.staticMethod("fromCsv", [](Call& call) -> Result<ArcOhlcv> {
    BW_ASSIGN(text, within("fromCsv", csvText(call.env, call.argv[0])));
    BW_ASSIGN(options, within("fromCsv", csvOptions(call.env, call.argv[1])));
    return fromCsv("fromCsv", text.view(), options);
  });
  c.staticMethod("fromCsvFile", [](Call& call) -> Result<ArcOhlcv> {
    BW_ASSIGN(path, within("fromCsvFile", readText(call.env, call.argv[0])));
    BW_ASSIGN(options, within("fromCsvFile", csvOptions(call.env, call.argv[1])));
    BW_ASSIGN(text, within("fromCsvFile", readFileText(path)));
    return fromCsv("fromCsvFile: " + path, text, options);
  });
  c.staticMethod("fromExchangeRows", [](Call& call) -> Result<ArcOhlcv> {
    BW_ASSIGN(flat, within("fromExchangeRows", flatRows(call.env, call.argv[0])));
    BW_ASSIGN(tf, within("fromExchangeRows", exchangeTimeframeArg(call.env, call.argv[1])));
    BW_ASSIGN(bars, within("fromExchangeRows", barsFromExchangeRows(flat, tf)));
    return ArcOhlcv(Ohlcv{std::move(bars), tf});
  });
  c.method("toColumns", [](Call& call, const ArcOhlcv& s) { return toColumns(call.env, s); });
}
