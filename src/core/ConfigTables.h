#pragma once
// The shapes of the configuration entries (byte strings) and message texts (UTF-16) by id.

#include <cstdint>
#include <map>
#include <string>

namespace shipkit::core {

using ConfigMap = std::map<int32_t, std::string>;
using MessageMap = std::map<int32_t, std::u16string>;

}  // namespace shipkit::core
