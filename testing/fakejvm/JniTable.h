// The JNI function table and the invocation interface of the fake JVM.
#pragma once

#include <jni.h>

#include <string>
#include <vector>

namespace fakejvm {

const JNINativeInterface_* jniFunctionTable();
const JNIInvokeInterface_* jniInvokeTable();

// Names of the function-table slots that do real work; every other slot ends the process
// with "fakejvm: unimplemented JNI function <Name>".
std::vector<std::string> implementedJniFunctions();

// The JNI versions this JVM knows (1.1 to 10, as a Java 17 runtime).
bool isSupportedJniVersion(jint version);

}  // namespace fakejvm
