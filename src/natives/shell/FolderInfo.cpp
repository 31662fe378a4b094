// Natives of the Java class FolderInfo: special folders, the Windows and system directories,
// program folders configured in the registry, drive types and the short and universal forms
// of paths.
#include <jni.h>
#include <objbase.h>
#include <windows.h>

// After windows.h, which they build on.
#include <winnetwk.h>

#include <cstring>
#include <vector>

#include "natives/base/JniConvert.h"
#include "natives/base/NativeGuard.h"
#include "natives/shell/FolderCodes.h"
#include "win/LateBound.h"
#include "win/Unique.h"

namespace {

using namespace shipkit::natives;

constexpr DWORD kPathUnits = 0x7FFF;
constexpr DWORD kUniversalNameBytes = 0xFFFE;
constexpr DWORD kRegistryValueBytes = 0x7FFF;

GUID guidOf(const FolderId& id) {
  GUID guid;
  guid.Data1 = id.data1;
  guid.Data2 = id.data2;
  guid.Data3 = id.data3;
  std::memcpy(guid.Data4, id.data4.data(), sizeof guid.Data4);
  return guid;
}

jstring csidlFolder(JNIEnv* env, int csidl) {
  using Fn = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPWSTR);
  static shipkit::win::LateBound<Fn> getFolderPath(L"shell32.dll", "SHGetFolderPathW");
  Fn fn = getFolderPath.get();
  if (!fn) return nullptr;
  std::vector<wchar_t> path(kPathUnits, L'\0');
  if (fn(nullptr, csidl | kCsidlFlagCreate, nullptr, 0 /* SHGFP_TYPE_CURRENT */, path.data()) != S_OK)
    return nullptr;
  return newJavaString(env, path.data());
}

jstring knownFolder(JNIEnv* env, const FolderId& id) {
  using Fn = HRESULT(WINAPI*)(REFGUID, DWORD, HANDLE, PWSTR*);
  static shipkit::win::LateBound<Fn> getKnownFolderPath(L"shell32.dll", "SHGetKnownFolderPath");
  Fn fn = getKnownFolderPath.get();
  if (!fn) return nullptr;
  const GUID guid = guidOf(id);
  PWSTR path = nullptr;
  const HRESULT hr = fn(guid, 0, nullptr, &path);
  jstring result = hr == S_OK && path ? newJavaString(env, path) : nullptr;
  ::CoTaskMemFree(path);  // also what a failed call may have left
  return result;
}

}  // namespace

extern "C" JNIEXPORT jstring JNICALL
Java_com_shipkit_runtime_installer_platform_win32_FolderInfo_getSpecialFolder0(JNIEnv* env, jclass, jint code,
                                                                               jboolean allUsers) noexcept {
  return guarded<jstring>(nullptr, [&]() -> jstring {
    if (code <= kLastCsidlCode) return csidlFolder(env, csidlOfCode(code, allUsers != JNI_FALSE));
    return knownFolder(env, knownFolderOfCode(code));
  });
}

// Only string values are answered: data of another type is no path.
extern "C" JNIEXPORT jstring JNICALL
Java_com_shipkit_runtime_installer_platform_win32_FolderInfo_getPathFromRegistry0(
    JNIEnv* env, jclass, jstring valueName) noexcept {
  return guarded<jstring>(nullptr, [&]() -> jstring {
    const WideString name = WideString::from(env, valueName);
    if (name.failed()) return nullptr;
    shipkit::win::UniqueHkey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion", 0,
                        KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
      return nullptr;
    // Two zero units past the buffer keep an unterminated value terminated.
    std::vector<wchar_t> data(kRegistryValueBytes / sizeof(wchar_t) + 2, L'\0');
    DWORD type = 0;
    DWORD size = kRegistryValueBytes;
    if (::RegQueryValueExW(key.get(), name.get(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                           &size) != ERROR_SUCCESS)
      return nullptr;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return nullptr;
    return newJavaString(env, data.data());
  });
}

extern "C" JNIEXPORT jstring JNICALL
Java_com_shipkit_runtime_installer_platform_win32_FolderInfo_getWindowsDirectory0(JNIEnv* env,
                                                                                  jclass) noexcept {
  return guarded<jstring>(nullptr, [&]() -> jstring {
    std::vector<wchar_t> path(kPathUnits, L'\0');
    using Fn = UINT(WINAPI*)(LPWSTR, UINT);
    // Looked up on every call, as the system may lack it.
    HMODULE kernel = ::LoadLibraryW(L"Kernel32.DLL");
    auto systemWindows = kernel ? reinterpret_cast<Fn>(reinterpret_cast<void*>(
                                      ::GetProcAddress(kernel, "GetSystemWindowsDirectoryW")))
                                : nullptr;
    if (systemWindows) {
      const UINT n = systemWindows(path.data(), kPathUnits);
      if (n > 0 && n < kPathUnits) return newJavaString(env, path.data(), n);
    }
    const UINT n = ::GetWindowsDirectoryW(path.data(), kPathUnits);
    if (n == 0 || n >= kPathUnits) return nullptr;
    return newJavaString(env, path.data(), n);
  });
}

extern "C" JNIEXPORT jstring JNICALL
Java_com_shipkit_runtime_installer_platform_win32_FolderInfo_getSystemDirectory0(JNIEnv* env,
                                                                                 jclass) noexcept {
  return guarded<jstring>(nullptr, [&]() -> jstring {
    std::vector<wchar_t> path(kPathUnits, L'\0');
    const UINT n = ::GetSystemDirectoryW(path.data(), kPathUnits);
    if (n == 0 || n >= kPathUnits) return nullptr;
    return newJavaString(env, path.data(), n);
  });
}

extern "C" JNIEXPORT jint JNICALL Java_com_shipkit_runtime_installer_platform_win32_FolderInfo_getDriveType0(
    JNIEnv* env, jclass, jstring rootPath) noexcept {
  return guarded<jint>(DRIVE_UNKNOWN, [&]() -> jint {
    const WideString root = WideString::from(env, rootPath);
    if (root.failed()) return DRIVE_UNKNOWN;
    return jint(::GetDriveTypeW(root.get()));
  });
}

// On failure the very string object passed in comes back.
extern "C" JNIEXPORT jstring JNICALL
Java_com_shipkit_runtime_installer_platform_win32_FolderInfo_getShortPathName0(JNIEnv* env, jclass,
                                                                               jstring path) noexcept {
  return guarded<jstring>(path, [&]() -> jstring {
    const WideString longPath = WideString::from(env, path);
    if (longPath.failed() || longPath.isNull()) return path;
    std::vector<wchar_t> shortPath(kPathUnits, L'\0');
    const DWORD n = ::GetShortPathNameW(longPath.get(), shortPath.data(), kPathUnits);
    if (n == 0 || n >= kPathUnits) return path;
    jstring result = newJavaString(env, shortPath.data(), n);
    return result ? result : path;
  });
}

// The UNC form of a path on a network drive; ";" and the function's code when there is none;
// the argument itself when mpr is unavailable.
extern "C" JNIEXPORT jstring JNICALL
Java_com_shipkit_runtime_installer_platform_win32_FolderInfo_getUniversalPathName0(JNIEnv* env, jclass,
                                                                                   jstring path) noexcept {
  return guarded<jstring>(path, [&]() -> jstring {
    using Fn = DWORD(WINAPI*)(LPCWSTR, DWORD, LPVOID, LPDWORD);
    static shipkit::win::LateBound<Fn> getUniversalName(L"mpr.dll", "WNetGetUniversalNameW");
    Fn fn = getUniversalName.get();
    if (!fn) return path;
    const WideString local = WideString::from(env, path);
    if (local.failed()) return path;
    std::vector<unsigned char> buffer(kUniversalNameBytes, 0);
    DWORD size = kUniversalNameBytes;
    const DWORD result = fn(local.get(), UNIVERSAL_NAME_INFO_LEVEL, buffer.data(), &size);
    if (result == NO_ERROR) {
      const auto* info = reinterpret_cast<const UNIVERSAL_NAME_INFOW*>(buffer.data());
      return info->lpUniversalName ? newJavaString(env, info->lpUniversalName) : nullptr;
    }
    wchar_t text[16];
    const int n = ::wsprintfW(text, L";%d", int(result));
    return newJavaString(env, text, std::size_t(n));
  });
}
