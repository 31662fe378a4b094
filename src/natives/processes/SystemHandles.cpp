#include "natives/processes/SystemHandles.h"

#include <cstdint>
#include <span>

namespace shipkit::natives {

namespace {

constexpr LONG kStatusNotImplemented = LONG(0xC0000002L);
constexpr LONG kStatusInvalidInfoClass = LONG(0xC0000003L);
constexpr LONG kStatusInfoLengthMismatch = LONG(0xC0000004L);

constexpr ULONG kBasicHandleInformation = 16;
constexpr ULONG kExtendedHandleInformation = 64;

enum class Answer { Entries, ClassMissing, Failed };

Answer query(NtQuerySystemInformationFn fn, HandleListForm form,
             std::optional<std::vector<HandleEntry>>& out) {
  const ULONG infoClass =
      form == HandleListForm::Extended ? kExtendedHandleInformation : kBasicHandleInformation;
  std::vector<std::uint64_t> buffer;  // 8-byte aligned, as the entries' pointers need
  for (std::size_t bytes = kFirstHandleQueryBytes; bytes != 0; bytes = nextHandleQueryBytes(bytes)) {
    buffer.assign(bytes / sizeof(std::uint64_t), 0);
    ULONG returned = 0;
    const LONG status = fn(infoClass, buffer.data(), ULONG(bytes), &returned);
    if (status == kStatusInfoLengthMismatch) continue;
    if (status == kStatusInvalidInfoClass || status == kStatusNotImplemented) return Answer::ClassMissing;
    if (status < 0) return Answer::Failed;
    out = parseHandleList(std::span(reinterpret_cast<const std::uint8_t*>(buffer.data()), bytes), form);
    return out ? Answer::Entries : Answer::Failed;
  }
  return Answer::Failed;
}

}  // namespace

std::optional<std::vector<HandleEntry>> systemHandles(NtQuerySystemInformationFn fn) {
  std::optional<std::vector<HandleEntry>> entries;
  if (query(fn, HandleListForm::Extended, entries) == Answer::ClassMissing)
    query(fn, HandleListForm::Basic, entries);
  return entries;
}

}  // namespace shipkit::natives
