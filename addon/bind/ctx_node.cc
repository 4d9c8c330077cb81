#include "addon/bind.h"
#include "addon/classes.h"
#include "addon/iter.h"
#include "core/bar_ctx.h"
#include "core/bar_index.h"

using namespace bw;
using namespace bw::js;

namespace {

// One iteration step of a NodeCtx: the advance, yielding the new bar index. The new bar goes to
// the prefetch region on the way (one series lock for both), so `ctx.bar` right after the step
// needs no call of its own.
Result<std::optional<int32_t>> ctxStep(napi_env env, SharedCtx& cell) {
  return cell.write([env](Ctx& c) -> std::optional<int32_t> {
    return c.ohlcv.read([&](const Ohlcv& o) -> std::optional<int32_t> {
      auto i = c.advanceWithin(o.bars.size());
      if (!i) return std::nullopt;
      prefetch(env, o.bars[*i]);
      return toInt32(*i);
    });
  });
}

// The record of a NodeCtxSkip: the kind, the count or index, and the time.
enum SkipSlot : size_t { kKind, kCount, kTime, kSkipNumbers = kTime + kTimeSlots };

}  // namespace

void Codec<CtxSkip>::write(const CtxSkip& s, RecordOut& out) {
  out.number(kKind, static_cast<double>(s.kind));
  out.number(kCount, s.n);
  out.time(kTime, s.time);
}

Result<CtxSkip> Codec<CtxSkip>::read(const RecordIn& in) {
  const auto kind = static_cast<CtxSkip::Kind>(in.integer(kKind, 0, static_cast<int64_t>(CtxSkip::Kind::OpenTimeGeq)));
  const auto n = static_cast<int32_t>(in.integer(kCount, INT32_MIN, INT32_MAX));
  return in.result(CtxSkip{kind, n, in.time(kTime).value_or(DateTime{})});
}

BW_REGISTER(ctx) {
  Class<SharedCtx> c;
  c.constructor([](std::optional<ArcOhlcv> ohlcv, std::optional<Sym> sym) {
    Ctx ctx;
    if (ohlcv) ctx.ohlcv = std::move(*ohlcv);
    if (sym) ctx.sym = std::move(*sym);
    return SharedCtx(std::move(ctx));
  });
  c.onInstance([](napi_env env, napi_value obj) {
    installIterator<SharedCtx>(env, obj, [](napi_env e, SharedCtx& cell) { return ctxStep(e, cell); }, true);
  });
  c.getter("barIndex", [](const SharedCtx& s) { return s.read([](const Ctx& c) { return toInt32(c.barIndex); }); });
  c.getter("isInitialized", [](const SharedCtx& s) { return s.read([](const Ctx& c) { return c.initialized; }); });
  c.getter("length", [](const SharedCtx& s) { return s.read([](const Ctx& c) { return toInt32(c.length()); }); });
  c.prefetchedGetter("bar", [](const SharedCtx& s) { return s.read([](const Ctx& c) { return c.bar(); }); });
  c.getter("sym", [](const SharedCtx& s) { return s.read([](const Ctx& c) { return c.sym; }); });
  c.getter("ohlcv", [](const SharedCtx& s) { return s.read([](const Ctx& c) { return c.ohlcv; }); });
  c.getter("annualizationFactor",
           [](const SharedCtx& s) { return s.read([](const Ctx& c) { return c.annualizationFactor(); }); });
  c.method("reset", [](const SharedCtx& s) { return s.write([](Ctx& c) { c.reset(); }); });
  c.method("skip", [](const SharedCtx& s, const CtxSkip& k) { return s.write([&k](Ctx& c) { c.skip(k); }); });
  c.method("copy", [](const SharedCtx& s) { return s.copy(); });
  c.method("ref", [](const SharedCtx& s) { return s; });
}

BW_REGISTER(ctx_skip) {
  Class<CtxSkip> c;
  c.record(kSkipNumbers, 0);
  c.staticMethod("end", [] { return CtxSkip::end(); });
  c.staticMethod("bars", [](int32_t count) { return CtxSkip::bars(count); });
  c.staticMethod("barIndex", [](int32_t index) { return CtxSkip::barIndex(index); });
  c.staticMethod("openTimeEq", [](DateTime t) { return CtxSkip::openTimeEq(t); });
  c.staticMethod("openTimeGeq", [](DateTime t) { return CtxSkip::openTimeGeq(t); });
}
