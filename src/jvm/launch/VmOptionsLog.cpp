#include "jvm/launch/VmOptionsLog.h"

namespace shipkit::jvm {

std::wstring formatLogArgs(std::wstring_view format, std::initializer_list<LogArg> args) {
  std::wstring out;
  const LogArg* next = args.begin();
  auto take = [&](LogArg::Kind kind) -> const LogArg* {
    if (next == args.end()) return nullptr;
    const LogArg* arg = next++;
    return arg->kind() == kind ? arg : nullptr;
  };
  for (std::size_t i = 0; i < format.size(); ++i) {
    wchar_t c = format[i];
    if (c != L'%' || i + 1 == format.size()) {
      out += c;
      continue;
    }
    wchar_t directive = format[++i];
    const LogArg* arg = nullptr;
    switch (directive) {
      case L'%':
        out += L'%';
        continue;
      case L'd':
        if ((arg = take(LogArg::Kind::integer))) out += std::to_wstring(arg->integer());
        break;
      case L's':
        if ((arg = take(LogArg::Kind::wide))) out += arg->wide();
        break;
      case L'S':
        if ((arg = take(LogArg::Kind::narrow)))
          for (char b : arg->narrow()) out += wchar_t(static_cast<unsigned char>(b));
        break;
      case L'p':
        if ((arg = take(LogArg::Kind::pointer))) {
          static constexpr wchar_t kHex[] = L"0123456789ABCDEF";
          for (int shift = 60; shift >= 0; shift -= 4) out += kHex[(uint64_t(arg->pointer()) >> shift) & 0xF];
        }
        break;
      default:
        // Not a directive of the log: kept as written.
        out += L'%';
        out += directive;
        continue;
    }
    if (!arg) out += L"<?>";
  }
  return out;
}

}  // namespace shipkit::jvm
