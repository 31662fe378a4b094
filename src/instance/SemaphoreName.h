#pragma once
// The name of the instance semaphore, derived from the launcher's path; no system calls.

#include <string>
#include <string_view>

namespace shipkit::instance {

// The longest object name the system accepts (MAX_PATH units with the terminating NUL).
inline constexpr std::size_t kMaxObjectName = 259;
// The numbered names go up to this number (its successor ends the search).
inline constexpr int kMaxInstanceNumber = 99999;

// The launcher path as instances compare it: lower case (A-Z), runs of backslashes
// collapsed except a network path's leading pair. The instance id registry value's name.
std::string normalizeInstancePath(std::string_view absolutePath);

// Every '\' and ' ' replaced by '_'.
std::string sanitizeForObjectName(std::string_view path);

struct SemaphoreBase {
  std::string name;       // prefix + sanitized path, or prefix + digest
  bool digested = false;  // the path was too long for an object name
};

// "Global\" or "Local\" followed by the sanitized normalized path. When that name with the
// largest number appended would exceed the system's limit, the prefix is followed by a
// digest of the normalized path instead, so that the same path keeps the same name.
SemaphoreBase semaphoreBaseName(std::string_view absolutePath, bool global);

}  // namespace shipkit::instance
