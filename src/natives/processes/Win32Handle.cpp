// Natives of the Java class Win32Handle: the open file handles of this process with their
// object names, closing one of them, and the target of an object-namespace symbolic link
// (a drive letter's device). They use the native system interface of ntdll, resolved by
// name at each call.
#include <jni.h>
// clang-format off
#include <windows.h>
#include <winternl.h>  // needs windows.h first
// clang-format on

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "natives/base/JavaArrays.h"
#include "natives/base/JniConvert.h"
#include "natives/base/NativeGuard.h"
#include "natives/processes/HandleList.h"
#include "natives/processes/PrintedTexts.h"
#include "natives/processes/SystemHandles.h"
#include "win/LateBound.h"
#include "win/Text.h"
#include "win/Unique.h"

namespace shipkit::natives {

namespace {

using NtDuplicateObjectFn = NTSTATUS(NTAPI*)(HANDLE, HANDLE, HANDLE, PHANDLE, ACCESS_MASK, ULONG, ULONG);
using NtQueryObjectFn = NTSTATUS(NTAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
using NtOpenSymbolicLinkObjectFn = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES);
using NtQuerySymbolicLinkObjectFn = NTSTATUS(NTAPI*)(HANDLE, PUNICODE_STRING, PULONG);

constexpr NTSTATUS kStatusBufferTooSmall = NTSTATUS(0xC0000023L);
constexpr NTSTATUS kStatusObjectNameInvalid = NTSTATUS(0xC0000033L);

constexpr ULONG kObjectNameInformation = 1;
constexpr ULONG kObjectTypeInformation = 2;
constexpr ULONG kObjectQueryBytes = 4096;

static_assert(sizeof(OBJECT_ATTRIBUTES) == 48);

bool succeeded(NTSTATUS status) {
  return status >= 0;
}

template <typename Fn>
Fn ntdllFunction(const char* name) {
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return shipkit::win::procAddress<Fn>(ntdll, name);
}

void print(const std::string& text) {
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
}

HANDLE handleOf(std::uint64_t value) {
  return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(value));
}

std::wstring_view unicodeText(const void* buffer) {
  const auto* text = static_cast<const UNICODE_STRING*>(buffer);
  return text->Buffer ? std::wstring_view(text->Buffer, text->Length / sizeof(wchar_t)) : std::wstring_view();
}

struct FileHandleRecord {
  jint handle;
  std::wstring name;
};

// The entry's name when it is an open file of this process; none otherwise.
std::optional<std::wstring> openFileName(NtDuplicateObjectFn duplicate, NtQueryObjectFn queryObject,
                                         const HandleEntry& entry) {
  win::UniqueHandle copy;
  if (!succeeded(duplicate(::GetCurrentProcess(), handleOf(entry.value), ::GetCurrentProcess(), copy.put(), 0,
                           0, 0)))
    return std::nullopt;
  std::vector<std::uint64_t> type(kObjectQueryBytes / sizeof(std::uint64_t));
  ULONG length = 0;
  if (!succeeded(queryObject(copy.get(), kObjectTypeInformation, type.data(), kObjectQueryBytes, &length)))
    return std::nullopt;
  // GetFileType does not wait for a read in progress; the name query would.
  if (!nameMayBeQueried(::GetFileType(copy.get()))) return std::nullopt;
  std::vector<std::uint64_t> name(kObjectQueryBytes / sizeof(std::uint64_t));
  length = 0;
  if (!succeeded(queryObject(copy.get(), kObjectNameInformation, name.data(), kObjectQueryBytes, &length))) {
    if (length <= kObjectQueryBytes) return std::nullopt;
    name.assign((length + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t), 0);
    if (!succeeded(queryObject(copy.get(), kObjectNameInformation, name.data(), length, &length)))
      return std::nullopt;
  }
  const std::wstring_view objectName = unicodeText(name.data());
  if (!isOpenFile(unicodeText(type.data()), objectName)) return std::nullopt;
  return std::wstring(objectName);
}

jobjectArray openFilesResult(JNIEnv* env, const std::vector<FileHandleRecord>& files) {
  std::vector<jint> handles;
  std::vector<std::wstring_view> names;
  for (const FileHandleRecord& f : files) {
    handles.push_back(f.handle);
    names.push_back(f.name);
  }
  // Each step runs only when the one before it worked, so that no call meets a pending exception.
  jobjectArray nameArray = newStringArrayOf(env, names);
  jintArray handleArray = nameArray ? env->NewIntArray(jsize(handles.size())) : nullptr;
  clearJavaException(env);
  jclass objectClass = handleArray ? env->FindClass("java/lang/Object") : nullptr;
  clearJavaException(env);
  jobjectArray result = nullptr;
  if (nameArray && handleArray && objectClass) {
    env->SetIntArrayRegion(handleArray, 0, jsize(handles.size()), handles.data());
    result = env->NewObjectArray(2, objectClass, nullptr);
    if (result) {
      env->SetObjectArrayElement(result, 0, handleArray);
      env->SetObjectArrayElement(result, 1, nameArray);
    }
  }
  clearJavaException(env);
  for (jobject local : {static_cast<jobject>(nameArray), static_cast<jobject>(handleArray),
                        static_cast<jobject>(objectClass)})
    if (local) env->DeleteLocalRef(local);
  return result;
}

}  // namespace

}  // namespace shipkit::natives

using namespace shipkit::natives;
namespace win = shipkit::win;

// [int[] handle values, String[] object names] of this process's open files; null when a
// function is missing or the system query fails.
extern "C" JNIEXPORT jobjectArray JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32Handle_list0(JNIEnv* env, jclass) noexcept {
  return guarded<jobjectArray>(nullptr, [&]() -> jobjectArray {
    auto query = ntdllFunction<NtQuerySystemInformationFn>("NtQuerySystemInformation");
    auto duplicate = ntdllFunction<NtDuplicateObjectFn>("NtDuplicateObject");
    auto queryObject = ntdllFunction<NtQueryObjectFn>("NtQueryObject");
    if (!query || !duplicate || !queryObject) return nullptr;
    const std::optional<std::vector<HandleEntry>> entries = systemHandles(query);
    if (!entries) {
      print("NtQuerySystemInformation failed!\n");
      return nullptr;
    }
    const std::uint64_t self = ::GetCurrentProcessId();
    std::vector<FileHandleRecord> files;
    for (const HandleEntry& entry : *entries) {
      // Values beyond a Java int could not be passed back to close0.
      if (entry.processId != self || entry.value > 0x7FFFFFFF) continue;
      if (std::optional<std::wstring> name = openFileName(duplicate, queryObject, entry))
        files.push_back({jint(entry.value), std::move(*name)});
    }
    std::fflush(stdout);
    return openFilesResult(env, files);
  });
}

// Closes the handle with that value in this process.
extern "C" JNIEXPORT jboolean JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32Handle_close0(JNIEnv*, jclass, jint handle) noexcept {
  auto duplicate = ntdllFunction<NtDuplicateObjectFn>("NtDuplicateObject");
  // Negative values are the pseudo handles of the current process and thread, never open
  // handles: closing "them" would succeed without closing anything.
  if (!duplicate || handle < 0) return JNI_FALSE;
  HANDLE copy = nullptr;
  const NTSTATUS status = duplicate(::GetCurrentProcess(), handleOf(std::uint64_t(handle)),
                                    ::GetCurrentProcess(), &copy, 0, 0, DUPLICATE_CLOSE_SOURCE);
  if (copy) ::CloseHandle(copy);
  return succeeded(status) ? JNI_TRUE : JNI_FALSE;
}

// The target of a symbolic link of the object namespace ("\??\C:" gives the volume's device).
extern "C" JNIEXPORT jstring JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32Handle_getDeviceName0(JNIEnv* env, jclass,
                                                                             jstring linkName) noexcept {
  return guarded<jstring>(nullptr, [&]() -> jstring {
    if (!linkName) return nullptr;
    auto open = ntdllFunction<NtOpenSymbolicLinkObjectFn>("NtOpenSymbolicLinkObject");
    auto query = ntdllFunction<NtQuerySymbolicLinkObjectFn>("NtQuerySymbolicLinkObject");
    if (!open || !query) {
      print("did not find functions\n");
      return nullptr;
    }
    const WideString name = WideString::from(env, linkName);
    if (name.failed()) return nullptr;
    const std::string shown = win::narrow(std::wstring_view(name.get(), name.length()));
    // A counted name holds at most 32767 characters.
    if (name.length() > 0x7FFF) {
      print(couldNotOpenLinkText(shown, std::uint32_t(kStatusObjectNameInvalid)));
      return nullptr;
    }
    UNICODE_STRING objectName{USHORT(name.length() * 2), USHORT(name.length() * 2),
                              const_cast<PWSTR>(name.get())};
    OBJECT_ATTRIBUTES attributes{};
    attributes.Length = sizeof attributes;
    attributes.ObjectName = &objectName;
    win::UniqueHandle link;
    const NTSTATUS opened = open(link.put(), GENERIC_READ, &attributes);
    if (!succeeded(opened)) {
      print(couldNotOpenLinkText(shown, std::uint32_t(opened)));
      return nullptr;
    }
    UNICODE_STRING target{0, 0, nullptr};
    ULONG size = 0;
    if (query(link.get(), &target, &size) != kStatusBufferTooSmall) {
      print(couldNotQueryLinkLengthText(shown));
      return nullptr;
    }
    const std::size_t bytes = std::min<std::size_t>(std::size_t(size) + sizeof(wchar_t), 0xFFFE);
    std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1, L'\0');
    target.Buffer = buffer.data();
    target.MaximumLength = USHORT(bytes);
    if (!succeeded(query(link.get(), &target, &size))) {
      print(couldNotQueryLinkText(shown));
      return nullptr;
    }
    return newJavaString(env, target.Buffer, target.Length / sizeof(wchar_t));
  });
}
