// Natives of the Java class FileVersion.
// STUB: not implemented yet; answers with the method's failure value.
#include <jni.h>

// 3: the version of either file cannot be read.
extern "C" JNIEXPORT jint JNICALL Java_com_shipkit_runtime_installer_platform_win32_FileVersion_compare0(
    JNIEnv*, jclass, jstring /*firstFile*/, jstring /*secondFile*/) noexcept {
  return 3;
}
