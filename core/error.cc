#include "core/error.h"

#include <array>

namespace bw {

namespace {
constexpr std::array<std::string_view, 23> kStatusNames = {
    "Ok",
    "InvalidArg",
    "ObjectExpected",
    "StringExpected",
    "NameExpected",
    "FunctionExpected",
    "NumberExpected",
    "BooleanExpected",
    "ArrayExpected",
    "GenericFailure",
    "PendingException",
    "Cancelled",
    "EscapeCalledTwice",
    "HandleScopeMismatch",
    "CallbackScopeMismatch",
    "QueueFull",
    "Closing",
    "BigintExpected",
    "DateExpected",
    "ArrayBufferExpected",
    "DetachableArraybufferExpected",
    "WouldDeadlock",
    "NoExternalBuffersAllowed",
};
}  // namespace

std::string_view statusName(int raw) {
  if (raw < 0 || raw >= static_cast<int>(kStatusNames.size())) return "Unknown";
  return kStatusNames[static_cast<size_t>(raw)];
}

std::string_view statusName(Status s) { return statusName(static_cast<int>(s)); }

}  // namespace bw
