// Natives of the Java class VistaTaskDialog.
// STUB: not implemented yet; answers 0, the value for "task dialogs are unavailable".
#include <jni.h>

extern "C" JNIEXPORT jint JNICALL Java_com_shipkit_runtime_installer_platform_win32_VistaTaskDialog_show0(
    JNIEnv*, jclass, jlong /*parentWindow*/, jstring /*windowTitle*/, jstring /*mainInstruction*/,
    jstring /*content*/, jint /*flags*/, jint /*mainIcon*/, jint /*width*/, jstring /*verificationText*/,
    jobjectArray /*buttonLabels*/, jint /*defaultButtonIndex*/) noexcept {
  return 0;
}
