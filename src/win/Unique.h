#pragma once
// One owner type per Win32 resource kind, each with the right invalid value: a file
// handle is invalid as INVALID_HANDLE_VALUE, a process or event handle as NULL.

#include <windows.h>

#include <utility>

namespace shipkit::win {

template <typename Traits>
class Unique {
 public:
  using Type = typename Traits::Type;
  Unique() = default;
  explicit Unique(Type value) : value_(value) {}
  Unique(const Unique&) = delete;
  Unique& operator=(const Unique&) = delete;
  Unique(Unique&& other) noexcept : value_(other.release()) {}
  Unique& operator=(Unique&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~Unique() { reset(); }

  Type get() const { return value_; }
  bool valid() const { return value_ != Traits::invalid(); }
  explicit operator bool() const { return valid(); }
  Type release() { return std::exchange(value_, Traits::invalid()); }
  void reset(Type value = Traits::invalid()) {
    Type old = std::exchange(value_, value);
    if (old != Traits::invalid()) Traits::close(old);
  }
  // For out-parameters: closes the current value and hands out the slot.
  Type* put() {
    reset();
    return &value_;
  }

 private:
  Type value_ = Traits::invalid();
};

struct FileTraits {
  using Type = HANDLE;
  static Type invalid() { return INVALID_HANDLE_VALUE; }
  static void close(Type h) { ::CloseHandle(h); }
};
struct HandleTraits {
  using Type = HANDLE;
  static Type invalid() { return nullptr; }
  static void close(Type h) { ::CloseHandle(h); }
};
struct FindTraits {
  using Type = HANDLE;
  static Type invalid() { return INVALID_HANDLE_VALUE; }
  static void close(Type h) { ::FindClose(h); }
};
struct HkeyTraits {
  using Type = HKEY;
  static Type invalid() { return nullptr; }
  static void close(Type k) { ::RegCloseKey(k); }
};
struct LocalTraits {
  using Type = HLOCAL;
  static Type invalid() { return nullptr; }
  static void close(Type p) { ::LocalFree(p); }
};

struct ScHandleTraits {
  using Type = SC_HANDLE;
  static Type invalid() { return nullptr; }
  static void close(Type h) { ::CloseServiceHandle(h); }
};

using UniqueFile = Unique<FileTraits>;
using UniqueHandle = Unique<HandleTraits>;
using UniqueFind = Unique<FindTraits>;
using UniqueHkey = Unique<HkeyTraits>;
using UniqueLocal = Unique<LocalTraits>;
using UniqueScHandle = Unique<ScHandleTraits>;

}  // namespace shipkit::win
