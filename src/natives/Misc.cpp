// Natives of the Java class Misc.
// STUB: not implemented yet except getPidFromHandle0; the others answer with their failure
// value (null, -1, false, status 0, an empty title) or do nothing.
#include <jni.h>
#include <windows.h>

#include <cstdint>

#include "natives/JniConvert.h"

using shipkit::natives::newJavaString;

extern "C" JNIEXPORT void JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Misc_reboot0(JNIEnv*, jclass) noexcept {}

extern "C" JNIEXPORT jobjectArray JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Misc_getRunningModules0(
    JNIEnv*, jclass, jboolean /*debugPrivilegeOff*/) noexcept {
  return nullptr;
}

extern "C" JNIEXPORT jobjectArray JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Misc_getEnvVarPairs0(JNIEnv*, jclass) noexcept {
  return nullptr;
}

extern "C" JNIEXPORT void JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Misc_broadcastSettingChange0(JNIEnv*, jclass) noexcept {}

extern "C" JNIEXPORT jlong JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Misc_getPhysicalMemory0(JNIEnv*, jclass) noexcept {
  return 0;
}

extern "C" JNIEXPORT jlong JNICALL Java_com_shipkit_runtime_installer_platform_win32_Misc_getFreeDiskSpace0(
    JNIEnv*, jclass, jstring /*directory*/) noexcept {
  return -1;
}

extern "C" JNIEXPORT jboolean JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Misc_moveWithDelayUntilReboot0(
    JNIEnv*, jclass, jstring /*source*/, jstring /*target*/) noexcept {
  return JNI_FALSE;
}

extern "C" JNIEXPORT void JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Misc_toFront0(JNIEnv*, jclass) noexcept {}

extern "C" JNIEXPORT jint JNICALL Java_com_shipkit_runtime_installer_platform_win32_Misc_terminateProcesses0(
    JNIEnv*, jclass, jintArray /*processIds*/, jboolean /*force*/, jint /*timeoutMillis*/) noexcept {
  return 0;
}

// No titled window found: the empty string.
extern "C" JNIEXPORT jstring JNICALL Java_com_shipkit_runtime_installer_platform_win32_Misc_getWindowTitle0(
    JNIEnv* env, jclass, jint /*processId*/) noexcept {
  return newJavaString(env, L"", 0);
}

extern "C" JNIEXPORT void JNICALL Java_com_shipkit_runtime_installer_platform_win32_Misc_setForegroundWindow0(
    JNIEnv*, jclass, jlong /*window*/) noexcept {}

extern "C" JNIEXPORT jobjectArray JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Misc_getTopLevelWindows0(JNIEnv*, jclass,
                                                                           jclass /*windowInfoClass*/,
                                                                           jint /*processId*/) noexcept {
  return nullptr;
}

// The process id of a process handle; 0 when the handle is not one.
extern "C" JNIEXPORT jint JNICALL Java_com_shipkit_runtime_installer_platform_win32_Misc_getPidFromHandle0(
    JNIEnv*, jclass, jlong process) noexcept {
  return jint(::GetProcessId(reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(process))));
}
