// Natives of the Java class Registry: keys, typed values, deletion of key trees, hive save
// and restore, enumeration, and the shell notice after file associations changed. Every
// method names its key by a root code, a subkey path and a view argument that is OR-ed
// into every access mask.
#include <jni.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "core/JavaNames.h"
#include "natives/base/JniConvert.h"
#include "natives/base/NativeGuard.h"
#include "natives/base/ShellFunctions.h"
#include "natives/registry/RegistryCalls.h"
#include "win/Unique.h"

namespace shipkit::natives {

namespace {

// Only an advapi32 that the process already has counts; it is not loaded for this.
RegDeleteKeyExWFn loadedDeleteKeyEx() {
  HMODULE advapi = ::GetModuleHandleW(L"advapi32.dll");
  if (!advapi) return nullptr;
  return reinterpret_cast<RegDeleteKeyExWFn>(
      reinterpret_cast<void*>(::GetProcAddress(advapi, "RegDeleteKeyExW")));
}

}  // namespace

RegistryCalls& registryCalls() {
  static RegistryCalls calls{::OpenProcessToken, ::AdjustTokenPrivileges, ::RegSaveKeyW,    ::RegRestoreKeyW,
                             ::RegSetValueExW,   ::RegDeleteKeyW,         loadedDeleteKeyEx};
  return calls;
}

namespace {

// Values travel through one buffer of 100000 bytes (not 100 KiB): larger data cannot be
// read, and is cut when written.
constexpr DWORD kValueBufferBytes = 100000;
constexpr std::size_t kValueBufferUnits = kValueBufferBytes / 2;
constexpr std::size_t kMaxStringUnits = kValueBufferUnits - 1;  // and its terminating zero
constexpr DWORD kEnumNameUnits = 4096;
constexpr DWORD kDeleteNameUnits = 1024;

constexpr LONG kAssociationsChanged = 0x08000000;  // SHCNE_ASSOCCHANGED
constexpr UINT kNoItems = 0;                       // SHCNF_IDLIST with no items

constexpr std::string_view kStringArrayClass = "[Ljava/lang/String;";
constexpr std::string_view kByteArrayClass = "[B";

HKEY rootKey(jint code) {
  switch (code) {
    case 1:
      return HKEY_CLASSES_ROOT;
    case 2:
      return HKEY_CURRENT_USER;
    case 3:
      return HKEY_LOCAL_MACHINE;
    case 4:
      return HKEY_USERS;
    case 5:
      return HKEY_CURRENT_CONFIG;
    default:
      return nullptr;
  }
}

enum class Access { Read, Write, Create };

win::UniqueHkey openKey(jint root, const wchar_t* path, jint view, Access access) {
  HKEY parent = rootKey(root);
  if (!parent) return {};
  const REGSAM viewBits = REGSAM(view);
  HKEY key = nullptr;
  LSTATUS status = ERROR_INVALID_FUNCTION;
  switch (access) {
    case Access::Read:
      status = ::RegOpenKeyExW(parent, path, 0, KEY_READ | viewBits, &key);
      break;
    case Access::Write:
      status = ::RegOpenKeyExW(parent, path, 0, KEY_READ | KEY_SET_VALUE | viewBits, &key);
      break;
    case Access::Create:
      status = ::RegCreateKeyExW(parent, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS | viewBits,
                                 nullptr, &key, nullptr);
      break;
  }
  return status == ERROR_SUCCESS ? win::UniqueHkey(key) : win::UniqueHkey();
}

// Zero-filled, so that a short REG_DWORD reads as its bytes followed by zeros.
std::unique_ptr<wchar_t[]> valueBuffer() {
  return std::unique_ptr<wchar_t[]>(new (std::nothrow) wchar_t[kValueBufferUnits]());
}

// REG_MULTI_SZ: strings are taken from the start while the position is before the data's
// end less two bytes, each up to its zero (or the end of the data); where two zeros meet
// before that point the empty string between them is an element too.
jobject multiStringArray(JNIEnv* env, const wchar_t* data, DWORD size) {
  const std::size_t units = size / 2;
  struct Span {
    std::size_t start, length;
  };
  std::vector<Span> spans;
  for (std::size_t pos = 0; std::int64_t(pos) * 2 < std::int64_t(size) - 2;) {
    std::size_t end = pos;
    while (end < units && data[end] != L'\0') ++end;
    spans.push_back({pos, end - pos});
    pos = end + 1;
  }
  return newStringArray(env, spans.size(), [&](std::size_t i) {
    return newJavaString(env, data + spans[i].start, spans[i].length);
  });
}

jobject javaValueOf(JNIEnv* env, DWORD type, const wchar_t* data, DWORD size) {
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ: {
      // Exactly one trailing zero is dropped; further zeros belong to the string.
      std::size_t units = size / 2;
      if (units != 0 && data[units - 1] == L'\0') --units;
      jstring text = newJavaString(env, data, units);
      if (!text || type == REG_SZ) return text;
      jvalue arg;
      arg.l = text;
      jobject wrapped =
          newJavaObject(env, java::kExpandStringClass, java::kExpandStringConstructorSignature, &arg);
      env->DeleteLocalRef(text);
      return wrapped;
    }
    case REG_BINARY: {
      jbyteArray bytes = env->NewByteArray(jsize(size));
      if (!bytes) {
        clearJavaException(env);
        return nullptr;
      }
      env->SetByteArrayRegion(bytes, 0, jsize(size), reinterpret_cast<const jbyte*>(data));
      return bytes;
    }
    case REG_DWORD: {
      std::uint32_t bits = 0;
      std::memcpy(&bits, data, std::min<DWORD>(size, sizeof bits));
      jvalue arg;
      arg.i = jint(bits);
      return newJavaObject(env, java::kIntegerClass, java::kIntegerConstructorSignature, &arg);
    }
    case REG_MULTI_SZ:
      return multiStringArray(env, data, size);
    default:
      return nullptr;
  }
}

struct Encoded {
  DWORD type = REG_NONE;
  DWORD length = 0;
};

// The Java value in the registry's form, by the caller's type code; none for an unknown
// code, a value of the wrong class, or a multi-string that cannot be stored.
bool encodeValue(JNIEnv* env, jobject value, jint typeCode, wchar_t* buffer, Encoded& out) {
  switch (typeCode) {
    case 1:
    case 5: {
      if (!isInstanceOf(env, value, java::kStringClass)) return false;
      const WideString text = WideString::from(env, static_cast<jstring>(value));
      if (text.isNull()) return false;
      const std::size_t units = std::min(text.length(), kMaxStringUnits);
      std::copy_n(text.get(), units, buffer);
      buffer[units] = L'\0';
      out = {typeCode == 1 ? DWORD(REG_SZ) : DWORD(REG_EXPAND_SZ), DWORD(units * 2 + 2)};
      return true;
    }
    case 2: {
      const std::optional<jint> number = javaIntegerValue(env, value);
      if (!number) return false;
      const std::uint32_t bits = std::uint32_t(*number);
      std::memcpy(buffer, &bits, sizeof bits);
      out = {REG_DWORD, sizeof bits};
      return true;
    }
    case 3: {
      if (!isInstanceOf(env, value, kStringArrayClass)) return false;
      const auto array = static_cast<jobjectArray>(value);
      const jsize count = env->GetArrayLength(array);
      std::size_t used = 0;
      for (jsize i = 0; i < count; ++i) {
        const auto element = static_cast<jstring>(env->GetObjectArrayElement(array, i));
        const WideString text = WideString::from(env, element);
        if (element) env->DeleteLocalRef(element);
        // An empty element would read back as the end of the list: the list is refused.
        if (text.isNull() || text.length() == 0) return false;
        if (used + text.length() + 2 > kValueBufferUnits) return false;
        std::copy_n(text.get(), text.length(), buffer + used);
        used += text.length();
        buffer[used++] = L'\0';
      }
      buffer[used] = L'\0';
      out = {REG_MULTI_SZ, DWORD(used * 2 + 2)};
      return true;
    }
    case 4: {
      if (!isInstanceOf(env, value, kByteArrayClass)) return false;
      const auto bytes = static_cast<jbyteArray>(value);
      const jsize length = std::min<jsize>(env->GetArrayLength(bytes), jsize(kValueBufferBytes));
      env->GetByteArrayRegion(bytes, 0, length, reinterpret_cast<jbyte*>(buffer));
      out = {REG_BINARY, DWORD(length)};
      return true;
    }
    default:
      return false;
  }
}

// A privilege counts as enabled only when the adjustment leaves no error: a privilege the
// token does not hold "succeeds" with ERROR_NOT_ALL_ASSIGNED.
bool enablePrivilege(const wchar_t* name) {
  const RegistryCalls& calls = registryCalls();
  HANDLE raw = nullptr;
  if (!calls.openProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &raw))
    return false;
  const win::UniqueHandle token(raw);
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!::LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid)) return false;
  calls.adjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
  return ::GetLastError() == ERROR_SUCCESS;
}

// Deletes a key and everything below it: the subkeys' names are collected first, their
// trees deleted from the last collected to the first, then the key itself. Individual
// failures are ignored.
void deleteTree(HKEY parent, const wchar_t* name, REGSAM view) {
  HKEY raw = nullptr;
  if (::RegOpenKeyExW(parent, name, 0, KEY_READ | view, &raw) != ERROR_SUCCESS) return;
  win::UniqueHkey key(raw);
  std::vector<std::wstring> subKeys;
  // On the heap: the walk recurses once per key level (up to 512), each with its own buffer.
  std::wstring subKey(kDeleteNameUnits, L'\0');
  for (DWORD index = 0;; ++index) {
    DWORD units = kDeleteNameUnits;
    if (::RegEnumKeyExW(key.get(), index, subKey.data(), &units, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    subKeys.emplace_back(subKey.data(), units);
  }
  for (auto it = subKeys.rbegin(); it != subKeys.rend(); ++it) deleteTree(key.get(), it->c_str(), view);
  key.reset();
  const RegistryCalls& calls = registryCalls();
  if (view != 0) {
    if (RegDeleteKeyExWFn deleteKeyEx = calls.findDeleteKeyEx()) {
      deleteKeyEx(parent, name, view, 0);
      return;
    }
  }
  calls.deleteKey(parent, name);
}

// A path that Windows reads as empty (null, "", only backslashes, or cut by a zero unit)
// names the root itself; deleting "its" tree would empty the whole root.
bool namesRoot(const WideString& path) {
  if (path.isNull()) return true;
  return std::wstring_view(path.get()).find_first_not_of(L'\\') == std::wstring_view::npos;
}

// Subkey (values false) or value (values true) names in enumeration order; null when the
// key cannot be opened.
jobjectArray enumerateNames(JNIEnv* env, jint root, jstring path, jint view, bool values) {
  const WideString keyPath = WideString::from(env, path);
  if (keyPath.failed()) return nullptr;
  win::UniqueHkey key = openKey(root, keyPath.get(), view, Access::Read);
  if (!key) return nullptr;
  std::vector<std::wstring> names;
  std::wstring name(kEnumNameUnits, L'\0');
  std::wstring keyClass(kEnumNameUnits, L'\0');
  for (DWORD index = 0;; ++index) {
    DWORD nameUnits = kEnumNameUnits;
    LSTATUS status;
    if (values) {
      status = ::RegEnumValueW(key.get(), index, name.data(), &nameUnits, nullptr, nullptr, nullptr, nullptr);
    } else {
      DWORD classUnits = kEnumNameUnits;
      status = ::RegEnumKeyExW(key.get(), index, name.data(), &nameUnits, nullptr, keyClass.data(),
                               &classUnits, nullptr);
    }
    if (status == ERROR_NO_MORE_ITEMS) break;
    // A name longer than the buffer is left out; any other error would recur at every index.
    if (status == ERROR_MORE_DATA) continue;
    if (status != ERROR_SUCCESS) break;
    names.emplace_back(name.data(), nameUnits);
  }
  key.reset();
  return newStringArray(env, names.size(),
                        [&](std::size_t i) { return newJavaString(env, names[i].data(), names[i].size()); });
}

}  // namespace

}  // namespace shipkit::natives

using namespace shipkit::natives;
namespace win = shipkit::win;

extern "C" JNIEXPORT jboolean JNICALL Java_com_shipkit_runtime_installer_platform_win32_Registry_keyExists0(
    JNIEnv* env, jclass, jint root, jstring path, jint view) noexcept {
  return guarded(jboolean(JNI_FALSE), [&] {
    const WideString keyPath = WideString::from(env, path);
    if (keyPath.failed()) return jboolean(JNI_FALSE);
    return openKey(root, keyPath.get(), view, Access::Read) ? jboolean(JNI_TRUE) : jboolean(JNI_FALSE);
  });
}

extern "C" JNIEXPORT jboolean JNICALL Java_com_shipkit_runtime_installer_platform_win32_Registry_createKey0(
    JNIEnv* env, jclass, jint root, jstring path, jint view) noexcept {
  return guarded(jboolean(JNI_FALSE), [&] {
    const WideString keyPath = WideString::from(env, path);
    if (keyPath.failed()) return jboolean(JNI_FALSE);
    return openKey(root, keyPath.get(), view, Access::Create) ? jboolean(JNI_TRUE) : jboolean(JNI_FALSE);
  });
}

extern "C" JNIEXPORT jobject JNICALL Java_com_shipkit_runtime_installer_platform_win32_Registry_getValue0(
    JNIEnv* env, jclass, jint root, jstring path, jstring valueName, jint view) noexcept {
  return guarded(jobject(nullptr), [&]() -> jobject {
    const WideString keyPath = WideString::from(env, path);
    const WideString name = WideString::from(env, valueName);
    if (keyPath.failed() || name.failed()) return nullptr;
    win::UniqueHkey key = openKey(root, keyPath.get(), view, Access::Read);
    if (!key) return nullptr;
    const std::unique_ptr<wchar_t[]> buffer = valueBuffer();
    if (!buffer) return nullptr;
    DWORD type = REG_NONE;
    DWORD size = kValueBufferBytes;
    const LSTATUS status = ::RegQueryValueExW(key.get(), name.get(), nullptr, &type,
                                              reinterpret_cast<BYTE*>(buffer.get()), &size);
    key.reset();
    if (status != ERROR_SUCCESS) return nullptr;
    return javaValueOf(env, type, buffer.get(), size);
  });
}

extern "C" JNIEXPORT jboolean JNICALL Java_com_shipkit_runtime_installer_platform_win32_Registry_setValue0(
    JNIEnv* env, jclass, jint root, jstring path, jstring valueName, jobject value, jint typeCode,
    jint view) noexcept {
  return guarded(jboolean(JNI_FALSE), [&]() -> jboolean {
    const WideString keyPath = WideString::from(env, path);
    const WideString name = WideString::from(env, valueName);
    // A name that could not be read must not become the key's default value.
    if (keyPath.failed() || name.failed()) return JNI_FALSE;
    const win::UniqueHkey key = openKey(root, keyPath.get(), view, Access::Create);
    if (!key) return JNI_FALSE;
    const std::unique_ptr<wchar_t[]> buffer = valueBuffer();
    if (!buffer) return JNI_FALSE;
    Encoded encoded;
    if (!encodeValue(env, value, typeCode, buffer.get(), encoded)) return JNI_FALSE;
    const auto write = registryCalls().setValue;
    const auto* data = reinterpret_cast<const BYTE*>(buffer.get());
    if (write(key.get(), name.get(), 0, encoded.type, data, encoded.length) == ERROR_SUCCESS) return JNI_TRUE;
    // One more attempt; its code goes to standard output and the call fails either way.
    const LSTATUS second = write(key.get(), name.get(), 0, encoded.type, data, encoded.length);
    std::printf("no success %d\n", int(second));
    std::fflush(stdout);
    return JNI_FALSE;
  });
}

extern "C" JNIEXPORT void JNICALL Java_com_shipkit_runtime_installer_platform_win32_Registry_deleteValue0(
    JNIEnv* env, jclass, jint root, jstring path, jstring valueName, jint view) noexcept {
  guarded([&] {
    const WideString keyPath = WideString::from(env, path);
    const WideString name = WideString::from(env, valueName);
    if (keyPath.failed() || name.failed()) return;
    if (const win::UniqueHkey key = openKey(root, keyPath.get(), view, Access::Write))
      ::RegDeleteValueW(key.get(), name.get());
  });
}

extern "C" JNIEXPORT void JNICALL Java_com_shipkit_runtime_installer_platform_win32_Registry_deleteKey0(
    JNIEnv* env, jclass, jint root, jstring path, jboolean onlyIfEmpty, jint view) noexcept {
  guarded([&] {
    const WideString keyPath = WideString::from(env, path);
    if (keyPath.failed() || namesRoot(keyPath)) return;
    if (onlyIfEmpty) {
      // A key that cannot be opened here is no reason to stop: the tree walk finds nothing.
      if (const win::UniqueHkey key = openKey(root, keyPath.get(), view, Access::Write)) {
        DWORD subKeys = 0;
        DWORD values = 0;
        if (::RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values,
                               nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
            subKeys != 0 || values != 0)
          return;
      }
    }
    if (HKEY parent = rootKey(root)) deleteTree(parent, keyPath.get(), REGSAM(view));
  });
}

extern "C" JNIEXPORT jboolean JNICALL Java_com_shipkit_runtime_installer_platform_win32_Registry_saveKey0(
    JNIEnv* env, jclass, jint root, jstring path, jstring file, jint view) noexcept {
  return guarded(jboolean(JNI_FALSE), [&]() -> jboolean {
    const WideString keyPath = WideString::from(env, path);
    const WideString fileName = WideString::from(env, file);
    if (keyPath.failed() || fileName.failed()) return JNI_FALSE;
    if (!enablePrivilege(L"SeBackupPrivilege")) return JNI_FALSE;
    const win::UniqueHkey key = openKey(root, keyPath.get(), view, Access::Write);
    if (!key) return JNI_FALSE;
    return registryCalls().saveKey(key.get(), fileName.get(), nullptr) == ERROR_SUCCESS ? JNI_TRUE
                                                                                        : JNI_FALSE;
  });
}

extern "C" JNIEXPORT jboolean JNICALL Java_com_shipkit_runtime_installer_platform_win32_Registry_restoreKey0(
    JNIEnv* env, jclass, jint root, jstring path, jstring file, jint view) noexcept {
  return guarded(jboolean(JNI_FALSE), [&]() -> jboolean {
    const WideString keyPath = WideString::from(env, path);
    const WideString fileName = WideString::from(env, file);
    if (keyPath.failed() || fileName.failed()) return JNI_FALSE;
    if (!enablePrivilege(L"SeBackupPrivilege") || !enablePrivilege(L"SeRestorePrivilege")) return JNI_FALSE;
    const win::UniqueHkey key = openKey(root, keyPath.get(), view, Access::Create);
    if (!key) return JNI_FALSE;
    return registryCalls().restoreKey(key.get(), fileName.get(), 0) == ERROR_SUCCESS ? JNI_TRUE : JNI_FALSE;
  });
}

extern "C" JNIEXPORT jobjectArray JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Registry_enumSubKeys0(JNIEnv* env, jclass, jint root,
                                                                        jstring path, jint view) noexcept {
  return guarded(jobjectArray(nullptr), [&] { return enumerateNames(env, root, path, view, false); });
}

extern "C" JNIEXPORT jobjectArray JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Registry_enumValues0(JNIEnv* env, jclass, jint root,
                                                                       jstring path, jint view) noexcept {
  return guarded(jobjectArray(nullptr), [&] { return enumerateNames(env, root, path, view, true); });
}

extern "C" JNIEXPORT void JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Registry_changeNotifyAssociations0(JNIEnv*,
                                                                                     jclass) noexcept {
  shChangeNotify(kAssociationsChanged, kNoItems, nullptr, nullptr);
}
