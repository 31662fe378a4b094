#include "natives/proxy/ProxyResult.h"

namespace shipkit::natives {

std::int64_t autoProxyFailure(AutoProxyStep step, std::uint32_t error) {
  // The error is widened unsigned so that a code with the high bit set cannot spill into
  // the step bits.
  return std::int64_t(step) << 32 | std::int64_t(std::uint64_t(error));
}

const wchar_t* booleanText(bool value) {
  return value ? L"true" : L"false";
}

}  // namespace shipkit::natives
