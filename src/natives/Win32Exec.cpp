// Natives of the Java class Win32Exec.
// STUB: not implemented yet; answers ERROR_CALL_NOT_IMPLEMENTED as its Windows error code.
#include <jni.h>

#include "natives/StubValues.h"

extern "C" JNIEXPORT jint JNICALL Java_com_shipkit_runtime_installer_platform_win32_Win32Exec_launch0(
    JNIEnv*, jclass, jstring /*applicationPath*/, jstring /*commandLine*/) noexcept {
  return shipkit::natives::kNotImplementedError;
}
