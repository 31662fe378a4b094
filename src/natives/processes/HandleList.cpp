#include "natives/processes/HandleList.h"

namespace shipkit::natives {

namespace {

std::uint64_t readLe(std::span<const std::uint8_t> data, std::size_t offset, std::size_t bytes) {
  std::uint64_t v = 0;
  for (std::size_t i = bytes; i-- > 0;) v = (v << 8) | data[offset + i];
  return v;
}

struct Layout {
  std::size_t countBytes, firstEntry, entryBytes;
  std::size_t processOffset, processBytes, valueOffset, valueBytes, accessOffset;
};

// Basic: pid u16, back-trace u16, type u8, attributes u8, value u16, object u64, access u32, pad.
// Extended: object u64, pid u64, value u64, access u32, back-trace u16, type u16, attributes u32, reserved
// u32.
constexpr Layout kBasic{4, 8, 24, 0, 4, 6, 2, 16};
constexpr Layout kExtended{8, 16, 40, 8, 8, 16, 8, 24};

constexpr std::size_t kMaxHandleQueryBytes = std::size_t(1) << 30;

}  // namespace

std::optional<std::vector<HandleEntry>> parseHandleList(std::span<const std::uint8_t> data,
                                                        HandleListForm form) {
  const Layout& l = form == HandleListForm::Basic ? kBasic : kExtended;
  if (data.size() < l.countBytes) return std::nullopt;
  const std::uint64_t count = readLe(data, 0, l.countBytes);
  if (data.size() < l.firstEntry || count > (data.size() - l.firstEntry) / l.entryBytes) return std::nullopt;
  std::vector<HandleEntry> entries;
  entries.reserve(std::size_t(count));
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = l.firstEntry + i * l.entryBytes;
    entries.push_back({readLe(data, at + l.processOffset, l.processBytes),
                       readLe(data, at + l.valueOffset, l.valueBytes),
                       std::uint32_t(readLe(data, at + l.accessOffset, 4))});
  }
  return entries;
}

bool nameMayBeQueried(std::uint32_t fileType) {
  return fileType == kFileTypeDisk;
}

bool isOpenFile(std::wstring_view typeName, std::wstring_view objectName) {
  return typeName == L"File" && !objectName.empty();
}

std::size_t nextHandleQueryBytes(std::size_t current) {
  return current > kMaxHandleQueryBytes / 2 ? 0 : current * 2;
}

}  // namespace shipkit::natives
