#include "natives/base/CodeText.h"

namespace shipkit::natives {

std::wstring spacedCode(std::int64_t code) {
  return L" " + std::to_wstring(std::int32_t(std::uint32_t(code)));
}

}  // namespace shipkit::natives
