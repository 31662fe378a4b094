#include "core/PathList.h"

#include "core/PathRules.h"

namespace shipkit::core {

std::wstring reducedPath(std::wstring_view path, std::wstring_view windowsDir) {
  const std::wstring prefix = lowerAZ(windowsDir);
  std::wstring out;
  for (const auto& entry : splitList(path)) {
    if (entry.size() >= prefix.size() && lowerAZ(std::wstring_view(entry).substr(0, prefix.size())) == prefix)
      continue;
    if (!out.empty()) out += L';';
    out += entry;
  }
  return out;
}

}  // namespace shipkit::core
