// The JavaScript class of each bound native type. Every binding that takes or returns one of
// these types sees the same mapping. Value classes hold records (addon/value.h); each one's
// Codec is defined in its binding file, beside its class table.
#pragma once

#include "addon/bind.h"

namespace bw {
struct Timeframe;
struct OhlcvBar;
class ArcOhlcv;
struct Sym;
struct SymKind;
class SharedCtx;
struct CtxSkip;
struct Signal;
struct Trade;
struct TradeEvent;
enum class TradeDirection : int8_t;
class SharedBacktest;
}  // namespace bw

BW_JS_VALUE(bw::Timeframe, "NodeTimeframe");
BW_JS_VALUE(bw::OhlcvBar, "NodeOhlcvBar");
BW_JS_CLASS(bw::ArcOhlcv, "NodeOhlcv");
BW_JS_VALUE(bw::Sym, "NodeSym");
BW_JS_VALUE(bw::SymKind, "NodeSymKind");
BW_JS_CLASS(bw::SharedCtx, "NodeCtx");
BW_JS_VALUE(bw::CtxSkip, "NodeCtxSkip");
BW_JS_VALUE(bw::Signal, "NodeSignal");
BW_JS_VALUE(bw::Trade, "NodeTrade");
BW_JS_VALUE(bw::TradeEvent, "NodeTradeEvent");
BW_JS_VALUE(bw::TradeDirection, "NodeTradeDirection");
BW_JS_CLASS(bw::SharedBacktest, "NodeBacktest");
