#include "addon/value.h"

#include <cmath>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "addon/bind.h"
#include "addon/registry.h"

namespace bw::js {

namespace {

napi_value channel(napi_env env, napi_ref ref) {
  napi_value v = nullptr;
  if (ref) napi_get_reference_value(env, ref, &v);
  return v;
}

std::string integerText(double x) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", x);
  return buf;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Channels.

RecordOut::RecordOut(napi_env env, size_t region) : env_(env), textBase_(static_cast<uint32_t>(region * kRecordTexts)) {
  EnvData* d = envData(env);
  if (d && d->recordNumbers && region <= kPrefetchRegion) numbers_ = d->recordNumbers + region * kRecordNumbers;
  if (!numbers_) {
    status_ = Error(Status::GenericFailure, "Failed to initialize napi function call.");
    return;
  }
  numbers_[kRecordTextMask] = 0;
}

void RecordOut::number(size_t slot, double x) {
  if (numbers_ && slot < kRecordTextMask) numbers_[slot] = x;
}

void RecordOut::uint64(size_t slot, uint64_t x) {
  number(slot, static_cast<double>(static_cast<uint32_t>(x)));
  number(slot + 1, static_cast<double>(static_cast<uint32_t>(x >> 32)));
}

void RecordOut::time(size_t slot, const std::optional<DateTime>& t) {
  const double nan = std::nan("");
  number(slot, t ? static_cast<double>(t->toMillis()) : nan);
  number(slot + 1, t ? static_cast<double>(t->secs) : nan);
  number(slot + 2, t ? static_cast<double>(t->nanos) : nan);
}

void RecordOut::text(size_t slot, const std::optional<std::string>& t) {
  if (!status_.ok() || slot >= kRecordTexts || !t) return;
  if (plain_) {
    status_ = Error(Status::GenericFailure, "Failed to create string");
    return;
  }
  if (!texts_) {
    EnvData* d = envData(env_);
    texts_ = d ? channel(env_, d->recordTexts) : nullptr;
    if (!texts_) {
      status_ = Error(Status::GenericFailure, "Failed to initialize napi function call.");
      return;
    }
  }
  napi_value v;
  napi_status st = napi_create_string_utf8(env_, t->data(), t->size(), &v);
  // The channel is dense: setting an element replaces an own property, whatever a script has
  // put on Array.prototype.
  if (st == napi_ok) st = napi_set_element(env_, texts_, textBase_ + static_cast<uint32_t>(slot), v);
  if (st != napi_ok) {
    status_ = hostError(env_, st, "Failed to create string");
    return;
  }
  textMask_ |= 1u << slot;
  numbers_[kRecordTextMask] = textMask_;
}

Error Refusal::error() const { return receiver ? unwrapError(className) : recoverError(className); }

RecordIn::RecordIn(napi_env env, Refusal refusal, size_t region)
    : env_(env), textBase_(static_cast<uint32_t>(region * kRecordTexts)), refusal_(refusal) {
  EnvData* d = envData(env);
  if (d && d->recordNumbers && region < kRegions) numbers_ = d->recordNumbers + region * kRecordNumbers;
}

uint64_t RecordIn::uint64(size_t slot) const {
  const auto low = static_cast<uint64_t>(integer(slot, 0, 0xffffffffLL));
  const auto high = static_cast<uint64_t>(integer(slot + 1, 0, 0xffffffffLL));
  return (high << 32) | low;
}

std::optional<DateTime> RecordIn::time(size_t slot) const {
  const double ms = number(slot);
  if (std::isnan(ms) && std::isnan(number(slot + 1)) && std::isnan(number(slot + 2))) return std::nullopt;
  const int64_t secs = integer(slot + 1, DateTime::kMinSecs, DateTime::kMaxSecs);
  const int64_t nanos = integer(slot + 2, 0, 999'999'999);
  auto t = DateTime::fromSecs(secs, static_cast<uint32_t>(nanos));
  if (!t || static_cast<double>(t->toMillis()) != ms) return bad(std::optional<DateTime>{});
  return t;
}

std::optional<std::string> RecordIn::textAt(size_t slot) const {
  if (!texts_) {
    EnvData* d = envData(env_);
    texts_ = d ? channel(env_, d->recordTexts) : nullptr;
    if (!texts_) return bad(std::optional<std::string>{});
  }
  napi_value v;
  napi_valuetype t;
  if (napi_get_element(env_, texts_, textBase_ + static_cast<uint32_t>(slot), &v) != napi_ok ||
      napi_typeof(env_, v, &t) != napi_ok || t != napi_string)
    return bad(std::optional<std::string>{});
  auto s = readText(env_, v);
  if (!s.ok()) return bad(std::optional<std::string>{});
  return std::move(s).value();
}

void bumpEpoch(napi_env env) {
  EnvData* d = envData(env);
  if (d && d->recordNumbers) d->recordNumbers[kEpochSlot] += 1;
}

// ---------------------------------------------------------------------------------------------
// Kernel calls.

namespace {

Result<napi_value> callKernel(napi_env env, napi_ref fn, napi_value a, napi_value b, size_t argc) {
  napi_value f = channel(env, fn);
  if (!f) return Error(Status::GenericFailure, "Failed to initialize napi function call.");
  napi_value undefined, out;
  napi_get_undefined(env, &undefined);
  napi_value args[2] = {a, b};
  napi_status st = napi_call_function(env, undefined, f, argc, args, &out);
  if (st != napi_ok) return hostError(env, st, "Failed to initialize napi function call.");
  return out;
}

Result<napi_value> classNumber(napi_env env, int classId) {
  napi_value v;
  napi_status st = napi_create_int32(env, classId, &v);
  if (st != napi_ok) return hostError(env, st, "Failed to create number");
  return v;
}

}  // namespace

Result<bool> unpackRecord(napi_env env, napi_value obj, int classId) {
  EnvData* d = envData(env);
  if (!d) return false;
  BW_ASSIGN(c, classNumber(env, classId));
  BW_ASSIGN(out, callKernel(env, d->unpack, obj, c, 2));
  bool found = false;
  napi_get_value_bool(env, out, &found);
  return found;
}

Result<napi_value> makeRecord(napi_env env, int classId) {
  EnvData* d = envData(env);
  if (!d) return Error(Status::GenericFailure, "Failed to create instance of class `" + classEntry(classId).name + "`");
  BW_ASSIGN(c, classNumber(env, classId));
  return callKernel(env, d->make, c, nullptr, 1);
}

// ---------------------------------------------------------------------------------------------
// Expressions.

namespace jsx {

std::string number(size_t slot) { return "d[" + std::to_string(slot) + "]"; }
std::string int32(size_t slot) { return "(" + number(slot) + " | 0)"; }
std::string text(size_t textSlot, size_t numbers) { return number(numbers + textSlot); }
std::string flag(size_t slot) { return "(" + number(slot) + " === 1)"; }
std::string date(size_t slot) {
  const std::string v = number(slot);
  return "(" + v + " === " + v + " ? new D(" + v + ") : null)";
}
std::string equals(size_t slot, double x) { return "(" + number(slot) + " === " + integerText(x) + ")"; }
std::string when(size_t slot, double x, const std::string& then) {
  return "(" + number(slot) + " === " + integerText(x) + " ? " + then + " : null)";
}
std::string object(int classId, const std::string& slotList) {
  return "new R" + std::to_string(classId) + "([" + slotList + "])";
}
std::string slots(size_t first, size_t count) {
  std::string out;
  for (size_t i = 0; i < count; ++i) out += (i ? ", " : "") + number(first + i);
  return out;
}
std::string textSlots(size_t firstText, size_t count, size_t numbers) { return slots(numbers + firstText, count); }

}  // namespace jsx

}  // namespace bw::js
