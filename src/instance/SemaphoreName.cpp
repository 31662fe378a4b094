#include "instance/SemaphoreName.h"

#include <cstdint>

#include "core/PathRules.h"

namespace shipkit::instance {

std::string normalizeInstancePath(std::string_view absolutePath) {
  return core::collapseBackslashes<char>(core::lowerAZ<char>(absolutePath));
}

std::string sanitizeForObjectName(std::string_view path) {
  std::string out(path);
  for (char& c : out)
    if (c == '\\' || c == ' ') c = '_';
  return out;
}

namespace {

// FNV-1a over the bytes: stable across runs, builds and machines.
std::string digest(std::string_view text) {
  uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "shipkit_instance_";
  for (int shift = 60; shift >= 0; shift -= 4) out += kHex[(hash >> shift) & 0xF];
  return out;
}

}  // namespace

SemaphoreBase semaphoreBaseName(std::string_view absolutePath, bool global) {
  const std::string prefix = global ? "Global\\" : "Local\\";
  const std::string normalized = normalizeInstancePath(absolutePath);
  const std::size_t longestNumber = std::to_string(kMaxInstanceNumber + 1).size();
  SemaphoreBase base;
  if (prefix.size() + normalized.size() + longestNumber <= kMaxObjectName) {
    base.name = prefix + sanitizeForObjectName(normalized);
  } else {
    base.name = prefix + digest(normalized);
    base.digested = true;
  }
  return base;
}

}  // namespace shipkit::instance
