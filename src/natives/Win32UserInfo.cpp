// Natives of the Java class Win32UserInfo.
// STUB: not implemented yet; every method answers with its failure value: true from
// isMemberOfGroup0 (the test could not be made), false, 0, null, -1 (function missing), an
// empty account name, or an error text beginning with a space.
#include <jni.h>

#include "natives/JniConvert.h"

using shipkit::natives::newJavaString;

extern "C" JNIEXPORT jboolean JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32UserInfo_isMemberOfGroup0(JNIEnv*, jclass,
                                                                                 jint /*rid*/) noexcept {
  return JNI_TRUE;
}

extern "C" JNIEXPORT jboolean JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32UserInfo_executeElevated0(
    JNIEnv*, jclass, jstring /*file*/, jstring /*parameters*/, jstring /*directory*/,
    jint /*showCommand*/) noexcept {
  return JNI_FALSE;
}

extern "C" JNIEXPORT jint JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32UserInfo_getElevationType0(JNIEnv*, jclass) noexcept {
  return 0;
}

extern "C" JNIEXPORT jstring JNICALL Java_com_shipkit_runtime_installer_platform_win32_Win32UserInfo_addUser0(
    JNIEnv*, jclass, jstring /*userName*/, jstring /*password*/, jstring /*userComment*/,
    jstring /*groupName*/, jstring /*groupComment*/, jboolean /*createGroup*/,
    jboolean /*failIfGroupExists*/) noexcept {
  return nullptr;
}

extern "C" JNIEXPORT jint JNICALL Java_com_shipkit_runtime_installer_platform_win32_Win32UserInfo_deleteUser0(
    JNIEnv*, jclass, jstring /*server*/, jstring /*userName*/) noexcept {
  return -1;
}

extern "C" JNIEXPORT jint JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32UserInfo_deleteLocalGroup0(
    JNIEnv*, jclass, jstring /*server*/, jstring /*groupName*/) noexcept {
  return -1;
}

extern "C" JNIEXPORT jstring JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32UserInfo_getAccountName0(
    JNIEnv* env, jclass, jstring /*sid*/, jboolean /*nameOnly*/) noexcept {
  return newJavaString(env, L"", 0);
}

// 120: ERROR_CALL_NOT_IMPLEMENTED.
extern "C" JNIEXPORT jstring JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32UserInfo_getUserProfileDirectory0(
    JNIEnv* env, jclass, jstring /*sid*/, jstring /*password*/) noexcept {
  return newJavaString(env, L" could not get functions 120");
}

extern "C" JNIEXPORT jstring JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32UserInfo_getUserSid0(JNIEnv*, jclass) noexcept {
  return nullptr;
}

extern "C" JNIEXPORT jboolean JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32UserInfo_setLsaAccountRight0(
    JNIEnv*, jclass, jstring /*account*/, jstring /*right*/, jboolean /*add*/) noexcept {
  return JNI_FALSE;
}
