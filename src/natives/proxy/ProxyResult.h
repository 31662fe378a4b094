#pragma once
// The result codes of automatic proxy detection. 0 is success; the upper 32 bits name the
// step that failed and the lower 32 bits carry the system error of that step; 100000 means
// that WinHTTP is not available.

#include <cstdint>

namespace shipkit::natives {

inline constexpr std::int64_t kProxyUnavailable = 100000;

enum class AutoProxyStep : std::int64_t {
  OpenSession = 1,  // the WinHTTP session could not be opened
  GetProxy = 2,     // the proxy lookup for the URL failed
};

std::int64_t autoProxyFailure(AutoProxyStep step, std::uint32_t error);

// The texts that stand for a boolean in the result arrays.
const wchar_t* booleanText(bool value);

}  // namespace shipkit::natives
