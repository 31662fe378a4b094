#pragma once
// The Windows version the system reports to the launcher (which depends on its manifest).

#include <windows.h>

namespace shipkit::win {

struct OsVersion {
  DWORD major = 0;
  DWORD minor = 0;
  bool below(DWORD otherMajor, DWORD otherMinor) const {
    return major < otherMajor || (major == otherMajor && minor < otherMinor);
  }
};

inline OsVersion reportedOsVersion() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  ::GetVersionExA(&info);
#pragma GCC diagnostic pop
  return {info.dwMajorVersion, info.dwMinorVersion};
}

}  // namespace shipkit::win
