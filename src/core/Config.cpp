#include "core/Config.h"

#include <cstring>

#include "core/ConfigValue.h"
#include "core/Log.h"
#include "win/Text.h"

namespace shipkit::core {

using core::logLine;

Tables& tables() {
  // Never destroyed: threads that still run while the process exits read it.
  static Tables* t = new Tables;
  return *t;
}

int configString(int32_t id, char* buffer, std::size_t capacity) {
  if (capacity == 0) return 0;
  auto it = tables().config.find(id);
  if (it == tables().config.end()) {
    buffer[0] = '\0';
    return 0;
  }
  const std::string& value = it->second;
  std::size_t n = value.size();
  if (n >= capacity) {
    logLine(L"ERROR: config string %d truncated (%d %d)", int(id), int(capacity), int(value.size()));
    n = capacity - 1;
  }
  std::memcpy(buffer, value.data(), n);
  buffer[n] = '\0';
  return int(n);
}

std::string configString(int32_t id, std::size_t capacity) {
  std::string buffer(capacity, '\0');
  int n = configString(id, buffer.data(), capacity);
  buffer.resize(std::size_t(n));
  return buffer;
}

std::string configStringCopy(int32_t id) {
  auto it = tables().config.find(id);
  return it == tables().config.end() ? std::string() : it->second;
}

bool configPresent(int32_t id) {
  return tables().config.count(id) != 0;
}

int32_t configInt(int32_t id) {
  return parseConfigInt(configString(id, kTextCapacity));
}

std::wstring configWString(int32_t id, std::size_t capacity) {
  std::string value = configStringCopy(id);
  if (capacity == 0) return {};
  if (value.size() > capacity - 1) value.resize(capacity - 1);
  return win::widenBytes(value);
}

std::wstring message(int32_t id) {
  auto it = tables().messages.find(id);
  if (it == tables().messages.end()) return {};
  std::u16string text = it->second.substr(0, kTextCapacity - 1);
  return std::wstring(text.begin(), text.end());
}

std::wstring messageOrConfig(int32_t id) {
  std::wstring text = message(id);
  return text.empty() ? configWString(id, kTextCapacity) : text;
}

bool languageCode(std::string& out) {
  if (tables().languageCode.empty()) return false;
  out = tables().languageCode;
  return true;
}

bool countryCode(std::string& out) {
  if (tables().countryCode.empty()) return false;
  out = tables().countryCode;
  return true;
}

}  // namespace shipkit::core
