// Natives of the Java class VistaFileChooser.
// initialize0 is implemented; displayDialog0 is a STUB that answers null (no choice) until
// the common item dialog is wired.
#include <jni.h>
#include <objbase.h>

// COM for the dialog on the calling thread; the result is not reported.
extern "C" JNIEXPORT void JNICALL
Java_com_shipkit_runtime_installer_platform_win32_VistaFileChooser_initialize0(JNIEnv*, jclass) noexcept {
  ::CoInitialize(nullptr);
}

extern "C" JNIEXPORT jobjectArray JNICALL
Java_com_shipkit_runtime_installer_platform_win32_VistaFileChooser_displayDialog0(
    JNIEnv*, jclass, jlong /*parentWindow*/, jstring /*title*/, jstring /*okButtonLabel*/,
    jstring /*initialFolder*/, jstring /*fileName*/, jint /*optionsToSet*/, jint /*optionsToClear*/,
    jboolean /*saveDialog*/, jstring /*defaultExtension*/, jobjectArray /*filterNames*/,
    jobjectArray /*filterPatterns*/, jint /*filterIndex*/, jobjectArray /*checkBoxLabels*/,
    jbooleanArray /*checkBoxStates*/) noexcept {
  return nullptr;
}
