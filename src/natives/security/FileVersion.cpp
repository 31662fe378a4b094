// Natives of the Java class FileVersion: the order of two files' version resources.
#include <jni.h>
#include <windows.h>

#include <cstring>
#include <optional>
#include <vector>

#include "natives/base/JniConvert.h"
#include "natives/base/NativeGuard.h"
#include "natives/security/VersionOrder.h"
#include "win/LateBound.h"

namespace {

using namespace shipkit::natives;

struct VersionFunctions {
  using SizeFn = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
  using InfoFn = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID);
  using QueryFn = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);
  SizeFn size = nullptr;
  InfoFn info = nullptr;
  QueryFn query = nullptr;
};

template <typename Fn>
Fn exported(HMODULE module, const char* name) {
  return shipkit::win::procAddress<Fn>(module, name);
}

// version.dll from the system directory only, resolved once per process; all three
// functions or none.
const VersionFunctions* versionFunctions() {
  static const std::optional<VersionFunctions> functions = []() -> std::optional<VersionFunctions> {
    HMODULE module = ::LoadLibraryExW(L"version.dll", nullptr, 0x800 /* LOAD_LIBRARY_SEARCH_SYSTEM32 */);
    if (!module) return std::nullopt;
    VersionFunctions f;
    f.size = exported<VersionFunctions::SizeFn>(module, "GetFileVersionInfoSizeW");
    f.info = exported<VersionFunctions::InfoFn>(module, "GetFileVersionInfoW");
    f.query = exported<VersionFunctions::QueryFn>(module, "VerQueryValueW");
    if (!f.size || !f.info || !f.query) return std::nullopt;
    return f;
  }();
  return functions ? &*functions : nullptr;
}

std::optional<FileVersionPair> fileVersionOf(const VersionFunctions& f, const WideString& file) {
  if (file.isNull() || file.failed()) return std::nullopt;
  DWORD ignored = 0;
  const DWORD size = f.size(file.get(), &ignored);
  if (size == 0) return std::nullopt;
  std::vector<unsigned char> block(size, 0);
  if (!f.info(file.get(), 0, size, block.data())) return std::nullopt;
  void* fixed = nullptr;
  UINT length = 0;
  if (!f.query(block.data(), L"\\", &fixed, &length) || !fixed || length < sizeof(VS_FIXEDFILEINFO))
    return std::nullopt;
  VS_FIXEDFILEINFO record;
  std::memcpy(&record, fixed, sizeof record);
  return FileVersionPair{record.dwFileVersionMS, record.dwFileVersionLS};
}

}  // namespace

// 0 same version, 1 the first is higher, 2 the second is higher, 3 either is unreadable.
extern "C" JNIEXPORT jint JNICALL Java_com_shipkit_runtime_installer_platform_win32_FileVersion_compare0(
    JNIEnv* env, jclass, jstring firstFile, jstring secondFile) noexcept {
  return guarded<jint>(3, [&]() -> jint {
    const VersionFunctions* f = versionFunctions();
    if (!f) return 3;
    const auto first = fileVersionOf(*f, WideString::from(env, firstFile));
    const auto second = fileVersionOf(*f, WideString::from(env, secondFile));
    return compareFileVersions(first, second);
  });
}
