// Natives of the Java class Win32Handle.
// STUB: not implemented yet; every method answers with its failure value (null or false).
#include <jni.h>

extern "C" JNIEXPORT jobjectArray JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32Handle_list0(JNIEnv*, jclass) noexcept {
  return nullptr;
}

extern "C" JNIEXPORT jboolean JNICALL Java_com_shipkit_runtime_installer_platform_win32_Win32Handle_close0(
    JNIEnv*, jclass, jint /*handle*/) noexcept {
  return JNI_FALSE;
}

extern "C" JNIEXPORT jstring JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32Handle_getDeviceName0(JNIEnv*, jclass,
                                                                             jstring /*linkName*/) noexcept {
  return nullptr;
}
