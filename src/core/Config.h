#pragma once
// The configuration entries and messages read from the payload container, and their
// accessors. Before the container has been read every entry is absent (empty, 0) and
// every message empty.

#include <cstdint>
#include <string>

#include "core/ConfigTables.h"

namespace shipkit::core {

inline constexpr std::size_t kTextCapacity = 6000;

struct Tables {
  ConfigMap config;
  MessageMap messages;
  std::string languageKey = "en";
  std::string languageCode;
  std::string countryCode;
  uint64_t fileDataPosition = 0;
};

Tables& tables();

// Copies at most capacity - 1 bytes; a longer value is cut and the cut is logged.
// Returns the number of bytes copied.
int configString(int32_t id, char* buffer, std::size_t capacity);
std::string configString(int32_t id, std::size_t capacity = kTextCapacity);
std::string configStringCopy(int32_t id);
bool configPresent(int32_t id);
int32_t configInt(int32_t id);
// The entry widened byte for unit, cut to capacity - 1 units.
std::wstring configWString(int32_t id, std::size_t capacity = kTextCapacity);
// The message text, cut to 5999 units; empty when absent.
std::wstring message(int32_t id);
// The message, or when that is empty the configuration entry of the same id widened.
std::wstring messageOrConfig(int32_t id);
bool languageCode(std::string& out);
bool countryCode(std::string& out);

}  // namespace shipkit::core
