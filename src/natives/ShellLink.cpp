// Natives of the Java class ShellLink.
// initialize0, uninitialize and changeNotify0 are implemented; createWide0 and the exported,
// unregistered create0 are STUBS that answer false until the link object is wired.
#include <jni.h>
#include <objbase.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "natives/JniConvert.h"
#include "natives/NativeGuard.h"
#include "natives/ShellFunctions.h"

namespace {

constexpr LONG kCreated = 0x2;              // SHCNE_CREATE
constexpr LONG kDirectoryUpdated = 0x1000;  // SHCNE_UPDATEDIR
constexpr UINT kPath = 0x5;                 // SHCNF_PATHW
constexpr UINT kPathFlush = 0x1005;         // SHCNF_PATHW | SHCNF_FLUSH

// The array holds a zero-terminated UTF-16LE path; the copy stays terminated even when the
// caller forgot the zero.
std::wstring pathOf(const shipkit::natives::ByteArrayElements& bytes) {
  const std::size_t units = std::size_t(bytes.size()) / 2;
  std::wstring path(units, L'\0');
  std::memcpy(path.data(), bytes.data(), units * 2);
  path.resize(std::wcslen(path.c_str()));
  return path;
}

}  // namespace

extern "C" JNIEXPORT jboolean JNICALL Java_com_shipkit_runtime_installer_platform_win32_ShellLink_createWide0(
    JNIEnv*, jclass, jstring /*linkFile*/, jstring /*target*/, jstring /*workingDirectory*/,
    jstring /*iconFile*/, jstring /*arguments*/, jboolean /*runAsAdministrator*/, jstring /*description*/,
    jint /*showCommand*/) noexcept {
  return JNI_FALSE;
}

// The 8-bit twin of createWide0: byte[] paths in the system code page, no show command.
extern "C" JNIEXPORT jboolean JNICALL Java_com_shipkit_runtime_installer_platform_win32_ShellLink_create0(
    JNIEnv*, jclass, jstring /*linkFile*/, jbyteArray /*target*/, jbyteArray /*workingDirectory*/,
    jbyteArray /*iconFile*/, jbyteArray /*arguments*/, jboolean /*runAsAdministrator*/,
    jbyteArray /*description*/) noexcept {
  return JNI_FALSE;
}

// Tells the shell about a new file and its updated folder; true even when shell32 could not
// be bound.
extern "C" JNIEXPORT jboolean JNICALL
Java_com_shipkit_runtime_installer_platform_win32_ShellLink_changeNotify0(
    JNIEnv* env, jclass, jbyteArray createdPath, jbyteArray updatedDirectory) noexcept {
  using namespace shipkit::natives;
  guarded([&] {
    const ByteArrayElements created(env, createdPath);
    const ByteArrayElements updated(env, updatedDirectory);
    if (created) shChangeNotify(kCreated, kPath, pathOf(created).c_str(), nullptr);
    if (updated) shChangeNotify(kDirectoryUpdated, kPathFlush, pathOf(updated).c_str(), nullptr);
  });
  return JNI_TRUE;
}

// COM for createWide0 on the calling thread; true whatever COM answered.
extern "C" JNIEXPORT jboolean JNICALL
Java_com_shipkit_runtime_installer_platform_win32_ShellLink_initialize0(JNIEnv*, jclass) noexcept {
  ::CoInitialize(nullptr);
  return JNI_TRUE;
}

extern "C" JNIEXPORT jboolean JNICALL
Java_com_shipkit_runtime_installer_platform_win32_ShellLink_uninitialize(JNIEnv*, jclass) noexcept {
  ::CoUninitialize();
  return JNI_TRUE;
}
