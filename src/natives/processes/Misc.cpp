// Natives of the Java class Misc: processes and their windows, a few machine facts, the
// environment, a file move at the next reboot, and the reboot itself.
//
// The window enumerations hand their working data to the callback through its parameter,
// never through process-wide variables, so every method may run on several threads at once.
#include <jni.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "natives/base/JavaArrays.h"
#include "natives/base/JniConvert.h"
#include "natives/base/NativeGuard.h"
#include "natives/processes/MiscCalls.h"
#include "natives/processes/PrintedTexts.h"
#include "natives/processes/Privilege.h"
#include "natives/processes/ProcessEntries.h"
#include "natives/processes/ProcessList.h"
#include "natives/processes/TerminateRules.h"
#include "win/LateBound.h"
#include "win/Unique.h"

namespace shipkit::natives {

MiscCalls& miscCalls() {
  static MiscCalls calls{::ExitWindowsEx};
  return calls;
}

namespace {

// Window titles and class names are read into buffers of this many characters.
constexpr int kWindowTextUnits = 4096;

constexpr std::string_view kWindowInfoConstructorSignature = "(JILjava/lang/String;Ljava/lang/String;)V";

using IntArrayElements =
    ArrayElements<jintArray, jint, &JNIEnv::GetIntArrayElements, &JNIEnv::ReleaseIntArrayElements, JNI_ABORT>;

HWND windowOf(jlong handle) {
  return reinterpret_cast<HWND>(static_cast<std::intptr_t>(handle));
}

DWORD processOf(HWND window) {
  DWORD processId = 0;
  ::GetWindowThreadProcessId(window, &processId);
  return processId;
}

// Calls visit(window) for every top-level window until it returns false. An exception
// from visit ends the enumeration and is thrown again here, never across user32's frames.
template <typename Visit>
void forEachTopLevelWindow(Visit&& visit) {
  struct Context {
    std::remove_reference_t<Visit>* visit;
    bool failed;
  } context{&visit, false};
  ::EnumWindows(
      [](HWND window, LPARAM parameter) -> BOOL {
        auto* c = reinterpret_cast<Context*>(parameter);
        try {
          return (*c->visit)(window) ? TRUE : FALSE;
        } catch (...) {
          c->failed = true;
          return FALSE;
        }
      },
      reinterpret_cast<LPARAM>(&context));
  if (context.failed) throw std::bad_alloc();
}

std::wstring windowText(HWND window) {
  std::wstring text(kWindowTextUnits, L'\0');
  const int n = ::GetWindowTextW(window, text.data(), kWindowTextUnits);
  text.resize(n > 0 ? std::size_t(n) : 0);
  return text;
}

int terminateForced(const jint* ids, jsize count) {
  int status = kTerminateDone;
  for (jsize i = 0; i < count; ++i) {
    if (!mayEnd(DWORD(ids[i]), ::GetCurrentProcessId())) {
      status = kTerminateNotClosable;
      continue;
    }
    win::UniqueHandle process(::OpenProcess(PROCESS_TERMINATE, FALSE, DWORD(ids[i])));
    if (!process || !::TerminateProcess(process.get(), 0)) status = kTerminateNotClosable;
  }
  return status;
}

// Waits for all processes, at most kMaxWaitHandles in one wait, within one time-out.
WaitOutcome waitForAll(const std::vector<win::UniqueHandle>& processes, DWORD timeout) {
  const ULONGLONG start = ::GetTickCount64();
  std::vector<HANDLE> handles;
  for (const auto& [first, last] : waitGroups(processes.size())) {
    handles.clear();
    for (std::size_t i = first; i < last; ++i) handles.push_back(processes[i].get());
    const DWORD left = remainingTimeout(timeout, ::GetTickCount64() - start);
    const DWORD r = ::WaitForMultipleObjects(DWORD(handles.size()), handles.data(), TRUE, left);
    if (r == WAIT_TIMEOUT) return WaitOutcome::TimedOut;
    if (r >= WAIT_OBJECT_0 + handles.size()) return WaitOutcome::Failed;
  }
  return WaitOutcome::AllEnded;
}

int terminatePolite(const jint* ids, jsize count, DWORD timeout) {
  // Nothing to end: done, rather than a wait over no handles, which fails.
  if (count == 0) return kTerminateDone;
  std::vector<bool> found(std::size_t(count), false);
  bool postFailed = false;
  forEachTopLevelWindow([&](HWND window) {
    if (!::IsWindowVisible(window)) return true;
    const DWORD processId = processOf(window);
    // The own windows are not asked to close: the own id stays not found (status 0, no wait).
    if (!mayEnd(processId, ::GetCurrentProcessId())) return true;
    for (jsize i = 0; i < count; ++i) {
      if (DWORD(ids[i]) != processId) continue;
      found[std::size_t(i)] = true;
      if (!::PostMessageW(window, WM_CLOSE, 0, 0)) postFailed = true;
    }
    return true;
  });
  int status = closeRequestStatus(found, postFailed);
  if (status != kTerminateDone) return status;
  std::vector<win::UniqueHandle> processes;
  for (jsize i = 0; i < count; ++i) {
    processes.emplace_back(::OpenProcess(SYNCHRONIZE, FALSE, DWORD(ids[i])));
    if (!processes.back()) status = kTerminateWaitFailed;
  }
  if (status != kTerminateDone) return status;
  return waitStatus(waitForAll(processes, timeout));
}

struct TitleSearch {
  DWORD processId;
  std::wstring title;
};

}  // namespace

}  // namespace shipkit::natives

using namespace shipkit::natives;
namespace win = shipkit::win;

// Enables the shutdown privilege and, if that worked, asks the system to restart.
extern "C" JNIEXPORT void JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Misc_reboot0(JNIEnv*, jclass) noexcept {
  if (setPrivilege(L"SeShutdownPrivilege", true)) miscCalls().exitWindowsEx(EWX_REBOOT, 0);
}

// "<id> <path>" of every running process; null when none could be listed. The debug
// privilege is enabled when the flag is false and disabled when it is true.
extern "C" JNIEXPORT jobjectArray JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Misc_getRunningModules0(
    JNIEnv* env, jclass, jboolean debugPrivilegeOff) noexcept {
  return guarded<jobjectArray>(nullptr, [&]() -> jobjectArray {
    setPrivilege(L"SeDebugPrivilege", debugPrivilegeOff == JNI_FALSE);
    const std::vector<std::wstring> entries = runningModules();
    return entries.empty() ? nullptr : newStringArrayOf(env, entries);
  });
}

// Every non-empty entry of the environment block, "name=value", in block order.
extern "C" JNIEXPORT jobjectArray JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Misc_getEnvVarPairs0(JNIEnv* env, jclass) noexcept {
  return guarded<jobjectArray>(nullptr, [&]() -> jobjectArray {
    wchar_t* block = ::GetEnvironmentStringsW();
    if (!block) return nullptr;
    struct Free {
      wchar_t* block;
      ~Free() { ::FreeEnvironmentStringsW(block); }
    } free{block};
    std::size_t length = 0;
    while (block[length] != L'\0' || block[length + 1] != L'\0') ++length;
    return newStringArrayOf(env, environmentEntries(std::wstring_view(block, length + 1)));
  });
}

extern "C" JNIEXPORT void JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Misc_broadcastSettingChange0(JNIEnv*, jclass) noexcept {
  DWORD_PTR result = 0;
  ::SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"Environment"),
                        SMTO_ABORTIFHUNG, 5000, &result);
}

// Total physical memory in bytes; GlobalMemoryStatus's answer where the Ex form is missing
// or fails.
extern "C" JNIEXPORT jlong JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Misc_getPhysicalMemory0(JNIEnv*, jclass) noexcept {
  using GlobalMemoryStatusExFn = BOOL(WINAPI*)(LPMEMORYSTATUSEX);
  static win::LateBound<GlobalMemoryStatusExFn> statusEx{L"Kernel32.DLL", "GlobalMemoryStatusEx"};
  if (GlobalMemoryStatusExFn fn = statusEx.get()) {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (fn(&status)) return jlong(status.ullTotalPhys);
    const DWORD error = ::GetLastError();
    guarded([error] { std::fputs(memoryErrorText(error).c_str(), stdout); });
    std::fflush(stdout);
  }
  MEMORYSTATUS status{};
  status.dwLength = sizeof status;
  ::GlobalMemoryStatus(&status);
  return jlong(status.dwTotalPhys);
}

// Bytes free to the calling user on the volume of the directory; -1 on failure.
extern "C" JNIEXPORT jlong JNICALL Java_com_shipkit_runtime_installer_platform_win32_Misc_getFreeDiskSpace0(
    JNIEnv* env, jclass, jstring directory) noexcept {
  return guarded<jlong>(-1, [&]() -> jlong {
    const WideString path = WideString::from(env, directory);
    if (path.failed()) return -1;
    ULARGE_INTEGER freeToCaller{};
    if (!::GetDiskFreeSpaceExW(path.get(), &freeToCaller, nullptr, nullptr)) return -1;
    return jlong(freeToCaller.QuadPart);
  });
}

// Schedules a move (a null target: a deletion) for the next reboot.
extern "C" JNIEXPORT jboolean JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Misc_moveWithDelayUntilReboot0(JNIEnv* env, jclass,
                                                                                 jstring source,
                                                                                 jstring target) noexcept {
  using MoveFileExWFn = BOOL(WINAPI*)(LPCWSTR, LPCWSTR, DWORD);
  static win::LateBound<MoveFileExWFn> moveFileEx{L"Kernel32.DLL", "MoveFileExW"};
  return guarded<jboolean>(JNI_FALSE, [&]() -> jboolean {
    MoveFileExWFn fn = moveFileEx.get();
    if (!fn) return JNI_FALSE;
    const WideString from = WideString::from(env, source);
    const WideString to = WideString::from(env, target);
    if (from.failed() || to.failed()) return JNI_FALSE;
    return fn(from.get(), to.get(), MOVEFILE_DELAY_UNTIL_REBOOT) ? JNI_TRUE : JNI_FALSE;
  });
}

// Brings every visible top-level window of this process to the front, then its last
// active pop-up.
extern "C" JNIEXPORT void JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Misc_toFront0(JNIEnv*, jclass) noexcept {
  guarded([] {
    const DWORD self = ::GetCurrentProcessId();
    forEachTopLevelWindow([self](HWND window) {
      if (::IsWindowVisible(window) && processOf(window) == self) {
        ::SetForegroundWindow(window);
        ::SetForegroundWindow(::GetLastActivePopup(window));
      }
      return true;
    });
  });
}

// Kills the processes (force) or asks their visible windows to close and waits for them;
// the status codes are those of TerminateRules.h.
extern "C" JNIEXPORT jint JNICALL Java_com_shipkit_runtime_installer_platform_win32_Misc_terminateProcesses0(
    JNIEnv* env, jclass, jintArray processIds, jboolean force, jint timeoutMillis) noexcept {
  return guarded<jint>(kTerminateNotClosable, [&]() -> jint {
    // A null array lists nothing to end.
    if (!processIds) return kTerminateDone;
    const IntArrayElements ids(env, processIds);
    if (!ids) return kTerminateNotClosable;
    return force ? terminateForced(ids.data(), ids.size())
                 : terminatePolite(ids.data(), ids.size(), DWORD(timeoutMillis));
  });
}

// The title of the first visible titled window of the process, else of its last invisible
// titled one, else the empty string.
extern "C" JNIEXPORT jstring JNICALL Java_com_shipkit_runtime_installer_platform_win32_Misc_getWindowTitle0(
    JNIEnv* env, jclass, jint processId) noexcept {
  return guarded<jstring>(nullptr, [&]() -> jstring {
    TitleSearch search{DWORD(processId), {}};
    forEachTopLevelWindow([&search](HWND window) {
      if (processOf(window) != search.processId) return true;
      std::wstring title = windowText(window);
      if (title.empty()) return true;
      search.title = std::move(title);
      return !::IsWindowVisible(window);
    });
    return newJavaString(env, search.title.data(), search.title.size());
  });
}

extern "C" JNIEXPORT void JNICALL Java_com_shipkit_runtime_installer_platform_win32_Misc_setForegroundWindow0(
    JNIEnv*, jclass, jlong window) noexcept {
  const HWND w = windowOf(window);
  WINDOWPLACEMENT placement{};
  placement.length = sizeof placement;
  if (::GetWindowPlacement(w, &placement) && placement.showCmd == SW_SHOWMINIMIZED)
    ::ShowWindow(w, SW_RESTORE);
  ::SetForegroundWindow(w);
}

// Window information objects of the caller's class for the visible unowned top-level
// windows of the process. Windows without a class name, a title or a style keep their
// slot, left null at the array's end.
extern "C" JNIEXPORT jobjectArray JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Misc_getTopLevelWindows0(JNIEnv* env, jclass,
                                                                           jclass windowInfoClass,
                                                                           jint processId) noexcept {
  return guarded<jobjectArray>(nullptr, [&]() -> jobjectArray {
    std::vector<HWND> windows;
    forEachTopLevelWindow([&](HWND window) {
      if (processOf(window) == DWORD(processId) && !::GetWindow(window, GW_OWNER) &&
          ::IsWindowVisible(window))
        windows.push_back(window);
      return true;
    });
    if (windows.empty()) return nullptr;
    jmethodID constructor =
        windowInfoClass ? env->GetMethodID(windowInfoClass, "<init>", kWindowInfoConstructorSignature.data())
                        : nullptr;
    if (!constructor) {
      clearJavaException(env);
      std::fputs("window info constructor not found", stderr);
      std::fflush(stderr);
      return nullptr;
    }
    jobjectArray array = env->NewObjectArray(jsize(windows.size()), windowInfoClass, nullptr);
    if (!array) {
      clearJavaException(env);
      std::fputs("could not create window info array", stderr);
      std::fflush(stderr);
      return nullptr;
    }
    jsize next = 0;
    for (HWND window : windows) {
      const LONG style = ::GetWindowLongW(window, GWL_STYLE);
      std::wstring className(kWindowTextUnits, L'\0');
      const int classLength = ::GetClassNameW(window, className.data(), kWindowTextUnits);
      const std::wstring title = windowText(window);
      if (classLength <= 0 || title.empty() || style == 0) continue;
      jvalue args[4];
      args[0].j = jlong(reinterpret_cast<std::intptr_t>(window));
      args[1].i = jint(style);
      args[2].l = newJavaString(env, className.data(), std::size_t(classLength));
      args[3].l = newJavaString(env, title.data(), title.size());
      jobject info = args[2].l && args[3].l ? env->NewObjectA(windowInfoClass, constructor, args) : nullptr;
      clearJavaException(env);
      if (info) env->SetObjectArrayElement(array, next++, info);
      clearJavaException(env);
      for (jobject local : {info, args[2].l, args[3].l})
        if (local) env->DeleteLocalRef(local);
    }
    return array;
  });
}

// The process id of a process handle; 0 when the handle is not one.
extern "C" JNIEXPORT jint JNICALL Java_com_shipkit_runtime_installer_platform_win32_Misc_getPidFromHandle0(
    JNIEnv*, jclass, jlong process) noexcept {
  return jint(::GetProcessId(reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(process))));
}
