#include "core/ohlcv.h"

#include <algorithm>

#include "core/bar_index.h"
#include "core/numfmt.h"

namespace bw {

namespace {

void appendField(std::string& out, const char* name, double x) {
  out += name;
  appendNumber(out, x);
}

}  // namespace

std::string debugTime(const OptTime& t) { return t ? "Some(" + t->debug() + ")" : "None"; }

std::string OhlcvBar::debug() const {
  std::string out = "OhlcvBar { open_time: ";
  out += debugTime(openTime);
  out += ", close_time: ";
  out += debugTime(closeTime);
  appendField(out, ", open: ", open);
  appendField(out, ", high: ", high);
  appendField(out, ", low: ", low);
  appendField(out, ", close: ", close);
  appendField(out, ", volume: ", volume);
  out += " }";
  return out;
}

std::string Ohlcv::debug() const {
  std::string out = "Ohlcv { bars: [";
  for (size_t i = 0; i < bars.size(); ++i) {
    if (i) out += ", ";
    out += bars[i].debug();
  }
  out += "], timeframe: ";
  out += timeframe.debug();
  out += " }";
  return out;
}

Result<Unit> Ohlcv::validate() const {
  if (bars.empty()) return invalidArg("ohlcv is empty");
  std::vector<const char*> problems;
  for (size_t i = 0; i < bars.size(); ++i) {
    const OhlcvBar& b = bars[i];
    problems.clear();
    if (b.closeTime <= b.openTime) problems.push_back("close_time <= open_time");
    if (i > 0) {
      const OhlcvBar& p = bars[i - 1];
      if (b.openTime < p.closeTime) problems.push_back("open_time < prev_bar.close_time");
      if (b.closeTime <= p.closeTime) problems.push_back("close_time <= prev_bar.close_time");
      if (b.openTime <= p.openTime) problems.push_back("open_time <= prev_bar.open_time");
    }
    if (std::isnan(b.open)) problems.push_back("open is NaN");
    if (std::isnan(b.high)) problems.push_back("high is NaN");
    if (std::isnan(b.low)) problems.push_back("low is NaN");
    if (std::isnan(b.close)) problems.push_back("close is NaN");
    if (std::isnan(b.volume)) problems.push_back("volume is NaN");
    if (b.open <= 0) problems.push_back("open <= 0");
    if (b.high <= 0) problems.push_back("high <= 0");
    if (b.low <= 0) problems.push_back("low <= 0");
    if (b.close <= 0) problems.push_back("close <= 0");
    if (b.volume < 0) problems.push_back("volume < 0");
    if (problems.empty()) continue;
    std::string msg = "bar[" + std::to_string(i) + " | " + debugTime(b.openTime) + " | " + debugTime(b.closeTime) + "]: ";
    for (size_t k = 0; k < problems.size(); ++k) {
      if (k) msg += ", ";
      msg += problems[k];
    }
    return invalidArg(std::move(msg));
  }
  return okUnit();
}

// ---------------------------------------------------------------------------------------------

std::optional<OhlcvBar> ArcOhlcv::at(int32_t index) const {
  return read([index](const Ohlcv& o) -> std::optional<OhlcvBar> {
    // Negative indexes count from the end, in 32-bit arithmetic like the index itself.
    const int32_t n = toInt32(o.bars.size());
    const int32_t i = index < 0 ? toInt32(static_cast<uint32_t>(index) + static_cast<uint32_t>(n)) : index;
    if (i < 0 || static_cast<size_t>(i) >= o.bars.size()) return std::nullopt;
    return o.bars[static_cast<size_t>(i)];
  });
}

namespace {

Result<Unit> checkRange(uint64_t start, uint64_t end, size_t length) {
  // Arguments arrive sign-extended; show them as the caller wrote them.
  const auto shown = [](uint64_t v) { return std::to_string(static_cast<int64_t>(v)); };
  if (start > length || end > length)
    return invalidArg("slice: range " + shown(start) + ".." + shown(end) + " is outside 0.." + std::to_string(length) +
                      ", the length of the series");
  if (start > end) return invalidArg("slice: start " + shown(start) + " is after end " + shown(end));
  return okUnit();
}

}  // namespace

Result<std::vector<OhlcvBar>> ArcOhlcv::slice(uint64_t start, uint64_t end) const {
  return read([&](const Ohlcv& o) -> Result<std::vector<OhlcvBar>> {
    BW_TRY(checkRange(start, end, o.bars.size()));
    return std::vector<OhlcvBar>(o.bars.begin() + static_cast<ptrdiff_t>(start),
                                 o.bars.begin() + static_cast<ptrdiff_t>(end));
  });
}

Result<ArcOhlcv> ArcOhlcv::sliced(uint64_t start, uint64_t end) const {
  return read([&](const Ohlcv& o) -> Result<ArcOhlcv> {
    BW_TRY(checkRange(start, end, o.bars.size()));
    Ohlcv out;
    out.timeframe = o.timeframe;
    out.bars.assign(o.bars.begin() + static_cast<ptrdiff_t>(start), o.bars.begin() + static_cast<ptrdiff_t>(end));
    return ArcOhlcv(std::move(out));
  });
}

Result<ArcOhlcv> ArcOhlcv::head(uint64_t count) const {
  return read([&](const Ohlcv& o) -> Result<ArcOhlcv> {
    if (count > o.bars.size())
      return invalidArg("head: count " + std::to_string(static_cast<int64_t>(count)) + " is outside 0.." +
                        std::to_string(o.bars.size()) + ", the length of the series");
    Ohlcv out;
    out.timeframe = o.timeframe;
    out.bars.assign(o.bars.begin(), o.bars.begin() + static_cast<ptrdiff_t>(count));
    return ArcOhlcv(std::move(out));
  });
}

ArcOhlcv ArcOhlcv::tail(uint64_t count) const {
  return read([&](const Ohlcv& o) {
    Ohlcv out;
    out.timeframe = o.timeframe;
    const size_t n = count >= o.bars.size() ? o.bars.size() : static_cast<size_t>(count);
    out.bars.assign(o.bars.end() - static_cast<ptrdiff_t>(n), o.bars.end());
    return ArcOhlcv(std::move(out));
  });
}

std::vector<OptTime> ArcOhlcv::timeColumn(OptTime OhlcvBar::*field) const {
  return read([field](const Ohlcv& o) {
    std::vector<OptTime> out;
    out.reserve(o.bars.size());
    for (const OhlcvBar& b : o.bars) out.push_back(b.*field);
    return out;
  });
}

std::vector<double> ArcOhlcv::column(double OhlcvBar::*field) const {
  return read([field](const Ohlcv& o) {
    std::vector<double> out;
    out.reserve(o.bars.size());
    for (const OhlcvBar& b : o.bars) out.push_back(b.*field);
    return out;
  });
}

std::optional<size_t> ArcOhlcv::findOpenTime(const DateTime& t) const {
  return read([&t](const Ohlcv& o) -> std::optional<size_t> {
    for (size_t i = 0; i < o.bars.size(); ++i)
      if (o.bars[i].openTime == t) return i;
    return std::nullopt;
  });
}

std::optional<size_t> ArcOhlcv::findOpenTimeAtOrAfter(const DateTime& t) const {
  return read([&t](const Ohlcv& o) -> std::optional<size_t> {
    for (size_t i = 0; i < o.bars.size(); ++i)
      if (o.bars[i].openTime && *o.bars[i].openTime >= t) return i;
    return std::nullopt;
  });
}

std::string ArcOhlcv::debug() const {
  return "ArcOhlcv { inner: RwLock { data: " + read([](const Ohlcv& o) { return o.debug(); }) +
         ", poisoned: false, .. } }";
}

std::optional<OhlcvBar> ArcOhlcv::pop() {
  return write([](Ohlcv& o) -> std::optional<OhlcvBar> {
    if (o.bars.empty()) return std::nullopt;
    OhlcvBar b = o.bars.back();
    o.bars.pop_back();
    return b;
  });
}

std::optional<OhlcvBar> ArcOhlcv::shift() {
  return write([](Ohlcv& o) -> std::optional<OhlcvBar> {
    if (o.bars.empty()) return std::nullopt;
    OhlcvBar b = o.bars.front();
    o.bars.erase(o.bars.begin());
    return b;
  });
}

void ArcOhlcv::reverse() {
  write([](Ohlcv& o) { std::reverse(o.bars.begin(), o.bars.end()); });
}

void ArcOhlcv::sort(bool ascending) {
  write([ascending](Ohlcv& o) {
    if (ascending)
      std::stable_sort(o.bars.begin(), o.bars.end(),
                       [](const OhlcvBar& a, const OhlcvBar& b) { return a.openTime < b.openTime; });
    else
      std::stable_sort(o.bars.begin(), o.bars.end(),
                       [](const OhlcvBar& a, const OhlcvBar& b) { return a.openTime > b.openTime; });
  });
}

}  // namespace bw
