#pragma once
// The hand-over to the Java installer runtime once the virtual machine exists: native
// registration, the deferred-deletion executable, the module name property, and main.

#include <jni.h>

#include <string>
#include <vector>

namespace shipkit::jvm {

// The launcher's export that registers its native methods with the Java side.
using RegisterNativesFn = jboolean (*)(JNIEnv* env, void* module, void (*logError)(const wchar_t*, ...));

// Registration, WinDel.externalExecutable and System.setProperty("jarwrap.moduleName");
// failures are logged and the launch goes on.
void handshake(JNIEnv* env);

// The five launcher arguments that precede the user's in main's String[].
std::vector<std::wstring> launcherArgumentBlock();

// The whole String[] for main: the block, the program path, entry 124's words and the
// launcher's arguments less the locale and (with entry 125) "-J" arguments.
std::vector<std::wstring> mainArguments(const std::vector<std::wstring>& launcherArgs);

// Calls the launcher class's main; ends the process when the class or method is missing.
// True when main returned without a pending exception.
bool invokeMain(JNIEnv* env, const std::vector<std::wstring>& launcherArgs);

// True when no exception is pending; otherwise logs its text, optionally lets the machine
// print it, and clears it.
bool checkException(JNIEnv* env, bool describe);

}  // namespace shipkit::jvm
