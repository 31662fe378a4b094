// Natives of the Java class Win32CommunicationBackend.
// getInvalidHandle0 and getCurrentProcessId0 are implemented; the pipe and process methods
// are STUBS that answer with their failure values (-1 or 0 handles, null, false) until the
// named-pipe backend is wired.
#include <jni.h>
#include <windows.h>

extern "C" JNIEXPORT jlong JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32CommunicationBackend_getInvalidHandle0(
    JNIEnv*, jclass) noexcept {
  return -1;  // INVALID_HANDLE_VALUE
}

extern "C" JNIEXPORT jlong JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32CommunicationBackend_createListener0(
    JNIEnv*, jclass, jstring /*pipeName*/) noexcept {
  return -1;
}

extern "C" JNIEXPORT jbyteArray JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32CommunicationBackend_readDataBlock0(
    JNIEnv*, jclass, jlong /*handle*/) noexcept {
  return nullptr;
}

extern "C" JNIEXPORT jboolean JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32CommunicationBackend_writeDataBlock0(
    JNIEnv*, jclass, jlong /*handle*/, jbyteArray /*data*/) noexcept {
  return JNI_FALSE;
}

// 0, not -1, is this method's "gave up".
extern "C" JNIEXPORT jlong JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32CommunicationBackend_connectClient0(
    JNIEnv*, jclass, jstring /*pipeName*/) noexcept {
  return 0;
}

extern "C" JNIEXPORT jboolean JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32CommunicationBackend_connectNamedPipe0(
    JNIEnv*, jclass, jlong /*handle*/) noexcept {
  return JNI_FALSE;
}

extern "C" JNIEXPORT void JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32CommunicationBackend_disconnectNamedPipe0(
    JNIEnv*, jclass, jlong /*handle*/) noexcept {}

extern "C" JNIEXPORT void JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32CommunicationBackend_closeHandle0(
    JNIEnv*, jclass, jlong /*handle*/) noexcept {}

extern "C" JNIEXPORT jboolean JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32CommunicationBackend_isProcessAlive0(
    JNIEnv*, jclass, jint /*processId*/) noexcept {
  return JNI_FALSE;
}

extern "C" JNIEXPORT jint JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32CommunicationBackend_getCurrentProcessId0(
    JNIEnv*, jclass) noexcept {
  return jint(::GetCurrentProcessId());
}
