// Natives of the Java class ACLHandling.
// STUB: not implemented yet; answers with the method's failure value.
#include <jni.h>

extern "C" JNIEXPORT jboolean JNICALL Java_com_shipkit_runtime_installer_platform_win32_ACLHandling_addACE(
    JNIEnv*, jclass, jstring /*path*/, jboolean /*isRegistryKey*/, jboolean /*read*/, jboolean /*write*/,
    jboolean /*execute*/, jboolean /*all*/, jint /*trusteeKind*/, jstring /*account*/) noexcept {
  return JNI_FALSE;
}
