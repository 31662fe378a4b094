// Natives of the Java class FolderInfo.
// STUB: not implemented yet; every method answers with its failure value (null, DRIVE_UNKNOWN,
// or the unchanged argument for the two path-form methods).
#include <jni.h>

extern "C" JNIEXPORT jstring JNICALL
Java_com_shipkit_runtime_installer_platform_win32_FolderInfo_getSpecialFolder0(
    JNIEnv*, jclass, jint /*code*/, jboolean /*allUsers*/) noexcept {
  return nullptr;
}

extern "C" JNIEXPORT jstring JNICALL
Java_com_shipkit_runtime_installer_platform_win32_FolderInfo_getPathFromRegistry0(
    JNIEnv*, jclass, jstring /*valueName*/) noexcept {
  return nullptr;
}

extern "C" JNIEXPORT jstring JNICALL
Java_com_shipkit_runtime_installer_platform_win32_FolderInfo_getWindowsDirectory0(JNIEnv*, jclass) noexcept {
  return nullptr;
}

extern "C" JNIEXPORT jstring JNICALL
Java_com_shipkit_runtime_installer_platform_win32_FolderInfo_getSystemDirectory0(JNIEnv*, jclass) noexcept {
  return nullptr;
}

extern "C" JNIEXPORT jint JNICALL Java_com_shipkit_runtime_installer_platform_win32_FolderInfo_getDriveType0(
    JNIEnv*, jclass, jstring /*rootPath*/) noexcept {
  return 0;  // DRIVE_UNKNOWN
}

extern "C" JNIEXPORT jstring JNICALL
Java_com_shipkit_runtime_installer_platform_win32_FolderInfo_getShortPathName0(JNIEnv*, jclass,
                                                                               jstring path) noexcept {
  return path;
}

extern "C" JNIEXPORT jstring JNICALL
Java_com_shipkit_runtime_installer_platform_win32_FolderInfo_getUniversalPathName0(JNIEnv*, jclass,
                                                                                   jstring path) noexcept {
  return path;
}
