#pragma once
// How the natives write a Windows error code into a result text that the Java side tells
// apart from a value by its first character.

#include <cstdint>
#include <string>

namespace shipkit::natives {

// " %d": a space, then the code in decimal (as a signed 32-bit value).
std::wstring spacedCode(std::int64_t code);

}  // namespace shipkit::natives
