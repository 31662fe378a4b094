#pragma once
// Functions looked up by name at run time: declared once with their type, resolved on
// first use and cached; their absence is a normal branch. Libraries are never freed.

#include <windows.h>

namespace shipkit::win {

// Loads a system library from the system directory only (never the application directory
// or PATH), or returns the already loaded module.
HMODULE systemLibrary(const wchar_t* name);

template <typename Fn>
class LateBound {
 public:
  LateBound(const wchar_t* module, const char* name) : module_(module), name_(name) {}
  // The function, or null when the module or the export is missing. Every caller stores
  // the same value, so concurrent first calls are harmless.
  Fn get() {
    if (!resolved_) {
      HMODULE m = systemLibrary(module_);
      fn_ = m ? reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(m, name_))) : nullptr;
      resolved_ = true;
    }
    return fn_;
  }
  bool available() { return get() != nullptr; }

 private:
  const wchar_t* module_;
  const char* name_;
  Fn fn_ = nullptr;
  volatile bool resolved_ = false;
};

}  // namespace shipkit::win
