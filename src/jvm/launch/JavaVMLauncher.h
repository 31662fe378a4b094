#pragma once
// Loading a runtime's jvm.dll into the launcher's process, creating the virtual machine
// with the launcher's system properties and running the installer's main on it.

#include <windows.h>

#include <string>
#include <vector>

namespace shipkit::jvm {

// Loads jvm.dll for a java.exe or javaw.exe path: below its bin directory (the configured
// subdirectory first, then client, server, j9vm, hotspot, jrockit), else below the jre\bin
// beside it. A failed attempt undoes its PATH change and DLL directory.
HMODULE loadJvmLibrary(const std::string& javaExe);

// Keeps JNI_CreateJavaVM of the library; false without a handle or the export.
bool resolveEntryPoint(HMODULE library);

// The launcher's system properties that lead the option list.
std::vector<std::string> launcherSystemProperties();

// Creates the virtual machine, shows the splash screen right after when asked, runs the
// handshake and main; destroys the machine after main when asked. False when the machine
// cannot be created or main ended with an exception.
bool createAndRunJvm(const std::vector<std::wstring>& launcherArgs, bool destroyAfterMain, bool showSplash);

// Set once the virtual machine exists.
bool jvmRunning();

}  // namespace shipkit::jvm
