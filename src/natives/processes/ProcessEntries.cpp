#include "natives/processes/ProcessEntries.h"

namespace shipkit::natives {

std::wstring processEntryPrefix(std::uint32_t processId) {
  return std::to_wstring(std::int32_t(processId)) + L" ";
}

std::size_t pathRoom(std::size_t prefixLength) {
  return prefixLength >= kEntryBufferUnits ? 0 : kEntryBufferUnits - prefixLength;
}

bool needsModuleRequery(std::wstring_view entry, bool fromFullImageName) {
  return fromFullImageName && entry.size() > 4 && entry.ends_with(L".tmp");
}

std::vector<std::wstring_view> environmentEntries(std::wstring_view block) {
  std::vector<std::wstring_view> entries;
  std::size_t pos = 0;
  while (pos < block.size()) {
    std::size_t end = block.find(L'\0', pos);
    if (end == std::wstring_view::npos) end = block.size();
    if (end == pos) break;
    entries.push_back(block.substr(pos, end - pos));
    pos = end + 1;
  }
  return entries;
}

}  // namespace shipkit::natives
