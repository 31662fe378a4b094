#include "jvm/locate/RegistryRules.h"

#include <algorithm>

namespace shipkit::jvm {

namespace {

std::string replaced(std::string_view text, char from, char to) {
  std::string out(text);
  std::replace(out.begin(), out.end(), from, to);
  return out;
}

}  // namespace

std::string keyNameForm(std::string_view path) {
  return replaced(path, '\\', '/');
}

std::string pathFromKeyName(std::string_view name) {
  return replaced(name, '/', '\\');
}

std::string storedString(std::string_view data) {
  return std::string(data.substr(0, data.find('\0')));
}

std::optional<std::string> cachedVersion(std::string_view data, std::size_t capacity) {
  std::string text = storedString(data);
  if (text.size() >= capacity) return std::nullopt;
  if (text == "1.5." || text == "1.6." || text == "1.7.") return std::nullopt;
  return text;
}

std::array<uint8_t, 8> fileTimeBytes(uint64_t fileTime) {
  std::array<uint8_t, 8> out{};
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = uint8_t(fileTime >> (8 * i));
  return out;
}

std::vector<std::string> versionKeysInTryOrder(std::vector<std::string> names, const VersionNumber& minimum,
                                               const VersionNumber& maximum) {
  std::erase_if(names,
                [&](const std::string& name) { return !isVersionInRangeLenient(name, minimum, maximum); });
  // std::string compares bytes as unsigned char, as strcmp does.
  std::sort(names.begin(), names.end(), std::greater<>());
  return names;
}

std::optional<FoundJvm> chooseLocated(std::optional<FoundJvm> user, std::optional<FoundJvm> machine) {
  if (!user) return machine;
  if (!machine) return user;
  return isVersionGreater(user->version, machine->version) ? user : machine;
}

std::optional<FoundJvm> chooseRegistryResult(std::optional<FoundJvm> javaSoft,
                                             std::optional<FoundJvm> located) {
  if (!javaSoft) return located;
  if (!located || isVersionGreater(javaSoft->version, located->version)) return javaSoft;
  return located;
}

}  // namespace shipkit::jvm
