#pragma once
// Formats the option assembly's log lines without the C runtime, so that the same literal
// format gives the same text natively and on Windows. The directives follow the launcher's
// log: "%s" a wide string, "%S" a narrow one (widened byte for unit), "%d" an integer,
// "%p" a pointer as the Microsoft runtime prints it (16 upper-case hex digits), "%%".

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace shipkit::jvm {

class LogArg {
 public:
  enum class Kind { integer, wide, narrow, pointer };
  LogArg(int value) : kind_(Kind::integer), integer_(value) {}
  LogArg(std::wstring_view value) : kind_(Kind::wide), wide_(value) {}
  LogArg(const std::wstring& value) : LogArg(std::wstring_view(value)) {}
  LogArg(const wchar_t* value) : LogArg(std::wstring_view(value ? value : L"")) {}
  LogArg(std::string_view value) : kind_(Kind::narrow), narrow_(value) {}
  LogArg(const std::string& value) : LogArg(std::string_view(value)) {}
  LogArg(const char* value) : LogArg(std::string_view(value ? value : "")) {}
  LogArg(const void* value) : kind_(Kind::pointer), pointer_(reinterpret_cast<std::uintptr_t>(value)) {}

  Kind kind() const { return kind_; }
  int integer() const { return integer_; }
  std::wstring_view wide() const { return wide_; }
  std::string_view narrow() const { return narrow_; }
  std::uintptr_t pointer() const { return pointer_; }

 private:
  Kind kind_;
  int integer_ = 0;
  std::wstring_view wide_;
  std::string_view narrow_;
  std::uintptr_t pointer_ = 0;
};

// A directive whose argument is missing or of another kind prints "<?>": a wrong call shows
// in the log instead of reading the wrong memory.
std::wstring formatLogArgs(std::wstring_view format, std::initializer_list<LogArg> args);

template <typename... Args>
std::wstring formatLog(std::wstring_view format, const Args&... args) {
  return formatLogArgs(format, {LogArg(args)...});
}

}  // namespace shipkit::jvm
