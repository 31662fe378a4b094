#pragma once
// Decisions behind the registry sources of Java runtimes, without system calls: the key-name
// form of a path, how stored values are read back, the order in which version subkeys are
// tried and which of several found runtimes wins.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "jvm/locate/Version.h"

namespace shipkit::jvm {

// A runtime found by a registry source: the java.exe to use and its version string.
struct FoundJvm {
  std::string javaExe;
  std::string version;
};

// A path as one registry key name: every "\" becomes "/". Paths that contain "/" themselves
// do not survive the round trip.
std::string keyNameForm(std::string_view path);
std::string pathFromKeyName(std::string_view name);

// A string value as stored: text up to the first zero byte, or all of it when the writer left
// out the terminator.
std::string storedString(std::string_view data);

// The "Version" value of a version-cache entry: none when the text does not fit a buffer of
// `capacity` bytes with its terminator, or when it is exactly "1.5.", "1.6." or "1.7.".
std::optional<std::string> cachedVersion(std::string_view data, std::size_t capacity);

// A FILETIME as the 8 little-endian bytes stored in "LastWriteTime".
std::array<uint8_t, 8> fileTimeBytes(uint64_t fileTime);

// The version subkey names worth trying, in the order they are tried: those in the bounds by
// the lenient test, greatest first by byte-wise text comparison (so 9.0.4 comes before 11.0.2
// and 1.8.0_201 before 1.8.0_1000).
std::vector<std::string> versionKeysInTryOrder(std::vector<std::string> names, const VersionNumber& minimum,
                                               const VersionNumber& maximum);

// Of the per-user and per-machine located runtimes: the only one present, else the machine's
// unless the user's version is greater.
std::optional<FoundJvm> chooseLocated(std::optional<FoundJvm> user, std::optional<FoundJvm> machine);

// Of the JavaSoft result and the located result: the JavaSoft one when there is no located one
// or when its version is greater; equal versions go to the located one.
std::optional<FoundJvm> chooseRegistryResult(std::optional<FoundJvm> javaSoft,
                                             std::optional<FoundJvm> located);

}  // namespace shipkit::jvm
