// Natives of the Java class Win32Services.
// STUB: not implemented yet; the int methods answer ERROR_CALL_NOT_IMPLEMENTED as their
// Windows error code (a positive value, so the query methods read it as an error too), and
// getServiceBinary0 the matching error text " 120".
#include <jni.h>

#include "natives/JniConvert.h"
#include "natives/StubValues.h"

using shipkit::natives::kNotImplementedError;

extern "C" JNIEXPORT jint JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32Services_installService0(
    JNIEnv*, jclass, jstring /*name*/, jstring /*displayName*/, jstring /*binaryPath*/) noexcept {
  return kNotImplementedError;
}

extern "C" JNIEXPORT jint JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32Services_changeServiceConfig0(
    JNIEnv*, jclass, jstring /*name*/, jstring /*displayName*/, jstring /*binaryPath*/, jint /*serviceType*/,
    jint /*startType*/, jstring /*dependencies*/, jstring /*account*/, jstring /*password*/,
    jstring /*description*/) noexcept {
  return kNotImplementedError;
}

extern "C" JNIEXPORT jint JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32Services_setRestartServiceConfig0(
    JNIEnv*, jclass, jstring /*name*/, jboolean /*restart*/, jint /*delayMillis*/, jint /*restartCount*/,
    jint /*resetPeriodSeconds*/) noexcept {
  return kNotImplementedError;
}

extern "C" JNIEXPORT jint JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32Services_setDelayedAutoStart0(
    JNIEnv*, jclass, jstring /*name*/, jboolean /*delayed*/) noexcept {
  return kNotImplementedError;
}

extern "C" JNIEXPORT jint JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32Services_stopService0(
    JNIEnv*, jclass, jstring /*name*/, jint /*timeoutMillis*/) noexcept {
  return kNotImplementedError;
}

extern "C" JNIEXPORT jint JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32Services_startService0(
    JNIEnv*, jclass, jstring /*name*/, jobjectArray /*arguments*/) noexcept {
  return kNotImplementedError;
}

extern "C" JNIEXPORT jint JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32Services_uninstallService0(JNIEnv*, jclass,
                                                                                  jstring /*name*/) noexcept {
  return kNotImplementedError;
}

extern "C" JNIEXPORT jint JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32Services_queryStatus0(JNIEnv*, jclass,
                                                                             jstring /*name*/) noexcept {
  return kNotImplementedError;
}

extern "C" JNIEXPORT jint JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32Services_getStartType0(JNIEnv*, jclass,
                                                                              jstring /*name*/) noexcept {
  return kNotImplementedError;
}

extern "C" JNIEXPORT jstring JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32Services_getServiceBinary0(JNIEnv* env, jclass,
                                                                                  jstring /*name*/) noexcept {
  return shipkit::natives::newJavaString(env, L" 120");
}
