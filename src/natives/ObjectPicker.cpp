// Natives of the Java class ObjectPicker.
// STUB: not implemented yet; answers with the method's failure value.
#include <jni.h>

extern "C" JNIEXPORT jobjectArray JNICALL
Java_com_shipkit_runtime_installer_platform_win32_ObjectPicker_show0(
    JNIEnv*, jclass, jboolean /*multiSelect*/, jboolean /*groups*/, jboolean /*users*/,
    jboolean /*wellKnownPrincipals*/, jboolean /*localComputerOnly*/) noexcept {
  return nullptr;
}
