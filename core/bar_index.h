// Bar indexes, lengths and counts. Inside they are unsigned 64-bit; JavaScript sees them as
// 32-bit signed integers and hands them back the same way. These two conversions are the only
// place where the widths meet.
#pragma once

#include <concepts>
#include <cstdint>
#include <optional>

namespace bw {

// A bar's position in a series, or a number of bars.
using BarIndex = uint64_t;

// To JavaScript: the low 32 bits read as signed. An index one before bar 0 (all bits set) reads
// as -1; a length of 2^31 bars or more wraps, as every count that reaches JavaScript does.
template <std::integral T>
constexpr int32_t toInt32(T x) noexcept {
  return static_cast<int32_t>(static_cast<uint32_t>(x));
}
template <std::integral T>
constexpr std::optional<int32_t> toInt32(const std::optional<T>& x) noexcept {
  if (!x) return std::nullopt;
  return toInt32(*x);
}

// From JavaScript: a 32-bit argument sign-extended to 64 bits and read as unsigned, so a negative
// count or index lies beyond every length.
constexpr BarIndex fromInt32(int32_t x) noexcept { return static_cast<BarIndex>(static_cast<int64_t>(x)); }

}  // namespace bw
