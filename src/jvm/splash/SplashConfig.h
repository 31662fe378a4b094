#pragma once
// The layout of the splash screen's two text lines, handed to the Java side after the
// virtual machine exists.

#include <jni.h>

namespace shipkit::jvm {

// Calls the static "initAwtSplashConfig" of the splash configuration class with the
// fourteen values of the configuration entries 163 and 10109-10122 (font names excepted).
void passSplashTextSettings(JNIEnv* env);

}  // namespace shipkit::jvm
