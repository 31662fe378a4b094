#pragma once
// Functions looked up by name at run time: declared once with their type, resolved on
// first use and cached; their absence is a normal branch. Libraries are never freed.

#include <windows.h>

#include <atomic>

namespace shipkit::win {

// Loads a system library from the system directory only (never the application directory
// or PATH), or returns the already loaded module.
HMODULE systemLibrary(const wchar_t* name);

// A function exported by `module` under `name`, as the type it is declared with; null when
// the module is null or has no such export.
template <typename Fn>
Fn procAddress(HMODULE module, const char* name) {
  return module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name))) : nullptr;
}

template <typename Fn>
class LateBound {
 public:
  LateBound(const wchar_t* module, const char* name) : module_(module), name_(name) {}
  // The function, or null when the module or the export is missing. Every caller stores
  // the same value, so concurrent first calls are harmless.
  Fn get() {
    if (!resolved_.load(std::memory_order_acquire)) {
      HMODULE m = systemLibrary(module_);
      fn_.store(procAddress<Fn>(m, name_), std::memory_order_relaxed);
      resolved_.store(true, std::memory_order_release);
    }
    return fn_.load(std::memory_order_relaxed);
  }
  bool available() { return get() != nullptr; }

 private:
  const wchar_t* module_;
  const char* name_;
  std::atomic<Fn> fn_{nullptr};
  std::atomic<bool> resolved_{false};
};

}  // namespace shipkit::win
