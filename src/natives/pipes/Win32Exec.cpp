// Natives of the Java class Win32Exec: starts a process and does not wait for it.
#include <jni.h>
#include <windows.h>

#include "natives/base/JniConvert.h"
#include "natives/base/NativeGuard.h"

using namespace shipkit::natives;

extern "C" JNIEXPORT jint JNICALL Java_com_shipkit_runtime_installer_platform_win32_Win32Exec_launch0(
    JNIEnv* env, jclass, jstring applicationPath, jstring commandLine) noexcept {
  return guarded(jint(ERROR_NOT_ENOUGH_MEMORY), [&]() -> jint {
    const WideString application = WideString::from(env, applicationPath);
    // CreateProcessW may write into the command line: the owned copy is writable.
    WideString command = WideString::from(env, commandLine);
    if (application.failed() || command.failed()) return ERROR_NOT_ENOUGH_MEMORY;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(application.get(), const_cast<wchar_t*>(command.get()), nullptr, nullptr, FALSE,
                          NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup, &started)) {
      return jint(::GetLastError());
    }
    // The new process runs on by itself; only the launcher's handles to it go.
    ::CloseHandle(started.hThread);
    ::CloseHandle(started.hProcess);
    return 0;
  });
}
