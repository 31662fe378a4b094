// Natives of the Java class Win32Proxy.
// STUB: not implemented yet; every method answers as when WinHTTP is unavailable (100000,
// or false from loadFunctions0).
#include <jni.h>

namespace {
constexpr jint kUnavailable = 100000;
}

extern "C" JNIEXPORT jint JNICALL Java_com_shipkit_runtime_installer_platform_win32_Win32Proxy_getIEConfig0(
    JNIEnv*, jclass, jobjectArray /*result*/) noexcept {
  return kUnavailable;
}

extern "C" JNIEXPORT jint JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32Proxy_getDefaultConfig0(
    JNIEnv*, jclass, jobjectArray /*result*/) noexcept {
  return kUnavailable;
}

extern "C" JNIEXPORT jlong JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32Proxy_getAutoProxyConfig0(
    JNIEnv*, jclass, jobjectArray /*result*/, jstring /*url*/, jstring /*scriptUrl*/, jint /*autoProxyFlags*/,
    jint /*autoDetectFlags*/, jboolean /*autoLogon*/) noexcept {
  return kUnavailable;
}

extern "C" JNIEXPORT jboolean JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32Proxy_loadFunctions0(JNIEnv*, jclass) noexcept {
  return JNI_FALSE;
}
