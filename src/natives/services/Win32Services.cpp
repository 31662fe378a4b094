// Natives of the Java class Win32Services: install, configure, start, stop, query and remove
// services through the service control manager of the local machine. The int methods answer
// 0 for success, a Windows error code, 5000 when the manager cannot be opened, or for the
// queries the queried value negated; the decisions live in ServiceRules.
#include <jni.h>
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "natives/base/CodeText.h"
#include "natives/base/JniConvert.h"
#include "natives/base/NativeGuard.h"
#include "natives/services/ServiceCalls.h"
#include "natives/services/ServiceRules.h"
#include "win/Unique.h"

namespace shipkit::natives {

namespace {

LoadedChangeConfig2 findLoadedChangeConfig2() {
  LoadedChangeConfig2 found;
  HMODULE advapi = ::GetModuleHandleW(L"advapi32.dll");
  if (!advapi) return found;
  found.advapiLoaded = true;
  found.fn = reinterpret_cast<ChangeServiceConfig2WFn>(
      reinterpret_cast<void*>(::GetProcAddress(advapi, "ChangeServiceConfig2W")));
  return found;
}

}  // namespace

ServiceCalls& serviceCalls() {
  static ServiceCalls calls{::ChangeServiceConfig2W, findLoadedChangeConfig2, 500};
  return calls;
}

namespace {

constexpr DWORD kConfigBufferBytes = 8192;
// A Java string that could not be copied: the same code as an allocation failure.
constexpr jint kBadArgument = ERROR_NOT_ENOUGH_MEMORY;

// The manager and the service opened for one call, or the code to answer with.
struct OpenedService {
  win::UniqueScHandle manager;
  win::UniqueScHandle service;
  jint error = 0;
};

OpenedService openService(const wchar_t* name, DWORD managerAccess, DWORD serviceAccess) {
  OpenedService opened;
  opened.manager.reset(::OpenSCManagerW(nullptr, nullptr, managerAccess));
  if (!opened.manager) {
    opened.error = kNoServiceManager;
    return opened;
  }
  opened.service.reset(::OpenServiceW(opened.manager.get(), name, serviceAccess));
  if (!opened.service) opened.error = jint(::GetLastError());
  return opened;
}

// The configuration in a buffer of 8192 bytes; the error code when it does not fit (122) or
// the query fails.
struct ServiceConfig {
  std::vector<unsigned char> buffer;
  jint error = 0;
  const QUERY_SERVICE_CONFIGW* get() const {
    return reinterpret_cast<const QUERY_SERVICE_CONFIGW*>(buffer.data());
  }
};

ServiceConfig queryConfig(JNIEnv* env, jstring name) {
  ServiceConfig config;
  WideString serviceName = WideString::from(env, name);
  if (serviceName.failed()) {
    config.error = kBadArgument;
    return config;
  }
  OpenedService opened = openService(serviceName.get(), SC_MANAGER_CONNECT, SERVICE_QUERY_CONFIG);
  if (opened.error) {
    config.error = opened.error;
    return config;
  }
  // QUERY_SERVICE_CONFIGW holds pointers: keep the buffer aligned for them.
  config.buffer.assign(kConfigBufferBytes, 0);
  DWORD needed = 0;
  if (!::QueryServiceConfigW(opened.service.get(),
                             reinterpret_cast<QUERY_SERVICE_CONFIGW*>(config.buffer.data()),
                             kConfigBufferBytes, &needed))
    config.error = jint(::GetLastError());
  return config;
}

jint lastErrorUnless(BOOL ok) {
  return ok ? 0 : jint(::GetLastError());
}

const wchar_t* orNull(const std::optional<std::wstring>& text) {
  return text ? text->c_str() : nullptr;
}

}  // namespace

}  // namespace shipkit::natives

using namespace shipkit::natives;

extern "C" JNIEXPORT jint JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32Services_installService0(JNIEnv* env, jclass,
                                                                                jstring name,
                                                                                jstring displayName,
                                                                                jstring binaryPath) noexcept {
  return guarded(jint(ERROR_NOT_ENOUGH_MEMORY), [&]() -> jint {
    WideString serviceName = WideString::from(env, name), display = WideString::from(env, displayName),
               binary = WideString::from(env, binaryPath);
    if (serviceName.failed() || display.failed() || binary.failed()) return kBadArgument;
    shipkit::win::UniqueScHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) return kNoServiceManager;
    shipkit::win::UniqueScHandle service(
        ::CreateServiceW(manager.get(), serviceName.get(), display.get(), SERVICE_ALL_ACCESS,
                         SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, binary.get(),
                         nullptr, nullptr, nullptr, nullptr, nullptr));
    return service ? 0 : jint(::GetLastError());
  });
}

extern "C" JNIEXPORT jint JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32Services_changeServiceConfig0(
    JNIEnv* env, jclass, jstring name, jstring displayName, jstring binaryPath, jint serviceType,
    jint startType, jstring dependencies, jstring account, jstring password, jstring description) noexcept {
  return guarded(jint(ERROR_NOT_ENOUGH_MEMORY), [&]() -> jint {
    WideString serviceName = WideString::from(env, name), display = WideString::from(env, displayName),
               binary = WideString::from(env, binaryPath), depends = WideString::from(env, dependencies),
               user = WideString::from(env, account), secret = WideString::from(env, password),
               text = WideString::from(env, description);
    for (const WideString* s : {&serviceName, &display, &binary, &depends, &user, &secret, &text})
      if (s->failed()) return kBadArgument;
    OpenedService opened = openService(serviceName.get(), SC_MANAGER_ALL_ACCESS, SERVICE_ALL_ACCESS);
    if (opened.error) return opened.error;

    const std::optional<std::wstring> runAs =
        serviceAccount(user.isNull() ? std::nullopt : std::optional<std::wstring_view>(user.get()));
    const std::wstring dependencyNames = dependencyList(depends.isNull() ? L"" : depends.get());
    if (!::ChangeServiceConfigW(opened.service.get(), DWORD(serviceType), DWORD(startType), SERVICE_NO_CHANGE,
                                binary.get(), nullptr, nullptr, dependencyNames.c_str(), orNull(runAs),
                                secret.get(), display.get()))
      return jint(::GetLastError());
    if (!text.isNull()) {
      SERVICE_DESCRIPTIONW info{const_cast<wchar_t*>(text.get())};
      serviceCalls().changeConfig2(opened.service.get(), SERVICE_CONFIG_DESCRIPTION, &info);
    }
    return 0;
  });
}

extern "C" JNIEXPORT jint JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32Services_setRestartServiceConfig0(
    JNIEnv* env, jclass, jstring name, jboolean restart, jint delayMillis, jint restartCount,
    jint resetPeriodSeconds) noexcept {
  return guarded(jint(ERROR_NOT_ENOUGH_MEMORY), [&]() -> jint {
    const LoadedChangeConfig2 changeConfig2 = serviceCalls().loadedChangeConfig2();
    if (!changeConfig2.advapiLoaded) return 0;
    if (!changeConfig2.fn) return 1;
    WideString serviceName = WideString::from(env, name);
    if (serviceName.failed()) return kBadArgument;
    OpenedService opened =
        openService(serviceName.get(), SC_MANAGER_ALL_ACCESS, SERVICE_CHANGE_CONFIG | SERVICE_START);
    if (opened.error) return opened.error;

    const FailureActions plan =
        failureActions(restart == JNI_TRUE, delayMillis, restartCount, resetPeriodSeconds);
    std::vector<SC_ACTION> actions(plan.actions.size() + 1);  // never empty: the pointer stays set
    for (std::size_t i = 0; i < plan.actions.size(); ++i)
      actions[i] = {SC_ACTION_TYPE(plan.actions[i].type), plan.actions[i].delayMillis};
    SERVICE_FAILURE_ACTIONSW record{};
    record.dwResetPeriod = plan.resetPeriodSeconds;
    record.lpRebootMsg = nullptr;
    record.lpCommand = nullptr;
    record.cActions = DWORD(plan.actions.size());
    record.lpsaActions = actions.data();
    return lastErrorUnless(changeConfig2.fn(opened.service.get(), SERVICE_CONFIG_FAILURE_ACTIONS, &record));
  });
}

extern "C" JNIEXPORT jint JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32Services_setDelayedAutoStart0(
    JNIEnv* env, jclass, jstring name, jboolean delayed) noexcept {
  return guarded(jint(ERROR_NOT_ENOUGH_MEMORY), [&]() -> jint {
    WideString serviceName = WideString::from(env, name);
    if (serviceName.failed()) return kBadArgument;
    OpenedService opened = openService(serviceName.get(), SC_MANAGER_ALL_ACCESS, SERVICE_ALL_ACCESS);
    if (opened.error) return opened.error;
    SERVICE_DELAYED_AUTO_START_INFO info{delayed == JNI_TRUE ? TRUE : FALSE};
    return lastErrorUnless(
        serviceCalls().changeConfig2(opened.service.get(), SERVICE_CONFIG_DELAYED_AUTO_START_INFO, &info));
  });
}

extern "C" JNIEXPORT jint JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32Services_stopService0(JNIEnv* env, jclass,
                                                                             jstring name,
                                                                             jint timeoutMillis) noexcept {
  return guarded(jint(ERROR_NOT_ENOUGH_MEMORY), [&]() -> jint {
    WideString serviceName = WideString::from(env, name);
    if (serviceName.failed()) return kBadArgument;
    OpenedService opened =
        openService(serviceName.get(), SC_MANAGER_CONNECT, SERVICE_STOP | SERVICE_QUERY_STATUS);
    if (opened.error) return opened.error;
    SERVICE_STATUS status{};
    if (!::ControlService(opened.service.get(), SERVICE_CONTROL_STOP, &status)) return jint(::GetLastError());

    if (!::QueryServiceStatus(opened.service.get(), &status)) return kStopStatusUnknown;
    StopWait wait(::GetTickCount(), status.dwCheckPoint, std::uint32_t(timeoutMillis));
    while (status.dwCurrentState != SERVICE_STOPPED) {
      ::Sleep(serviceCalls().stopPollMillis);
      if (!::QueryServiceStatus(opened.service.get(), &status)) return kStopStatusUnknown;
      switch (wait.next(::GetTickCount(), status.dwCurrentState == SERVICE_STOPPED, status.dwCheckPoint,
                        status.dwWaitHint)) {
        case StopWait::Verdict::Stopped:
          return 0;
        case StopWait::Verdict::TimedOut:
          return kStopTimedOut;
        case StopWait::Verdict::KeepWaiting:
          break;
      }
    }
    return 0;
  });
}

extern "C" JNIEXPORT jint JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32Services_startService0(
    JNIEnv* env, jclass, jstring name, jobjectArray arguments) noexcept {
  return guarded(jint(ERROR_NOT_ENOUGH_MEMORY), [&]() -> jint {
    WideString serviceName = WideString::from(env, name);
    if (serviceName.failed()) return kBadArgument;
    std::vector<WideString> copies = stringArrayIn(env, arguments);
    std::vector<const wchar_t*> vector;
    for (const WideString& c : copies) {
      if (c.failed()) return kBadArgument;
      // A null element would reach the service manager as a null pointer inside the vector.
      if (c.isNull()) return ERROR_INVALID_PARAMETER;
      vector.push_back(c.get());
    }
    OpenedService opened = openService(serviceName.get(), SC_MANAGER_CONNECT, SERVICE_START);
    if (opened.error) return opened.error;
    return lastErrorUnless(::StartServiceW(opened.service.get(), DWORD(vector.size()),
                                           vector.empty() ? nullptr : vector.data()));
  });
}

extern "C" JNIEXPORT jint JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32Services_uninstallService0(JNIEnv* env, jclass,
                                                                                  jstring name) noexcept {
  return guarded(jint(ERROR_NOT_ENOUGH_MEMORY), [&]() -> jint {
    WideString serviceName = WideString::from(env, name);
    if (serviceName.failed()) return kBadArgument;
    OpenedService opened = openService(serviceName.get(), SC_MANAGER_ALL_ACCESS, DELETE);
    if (opened.error) return opened.error;
    return lastErrorUnless(::DeleteService(opened.service.get()));
  });
}

extern "C" JNIEXPORT jint JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32Services_queryStatus0(JNIEnv* env, jclass,
                                                                             jstring name) noexcept {
  return guarded(jint(ERROR_NOT_ENOUGH_MEMORY), [&]() -> jint {
    WideString serviceName = WideString::from(env, name);
    if (serviceName.failed()) return kBadArgument;
    OpenedService opened = openService(serviceName.get(), SC_MANAGER_CONNECT, SERVICE_QUERY_STATUS);
    if (opened.error) return opened.error;
    SERVICE_STATUS status{};
    if (!::QueryServiceStatus(opened.service.get(), &status)) return jint(::GetLastError());
    return -jint(status.dwCurrentState);
  });
}

extern "C" JNIEXPORT jint JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32Services_getStartType0(JNIEnv* env, jclass,
                                                                              jstring name) noexcept {
  return guarded(jint(ERROR_NOT_ENOUGH_MEMORY), [&]() -> jint {
    ServiceConfig config = queryConfig(env, name);
    if (config.error) return config.error;
    return -jint(config.get()->dwStartType);
  });
}

extern "C" JNIEXPORT jstring JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32Services_getServiceBinary0(JNIEnv* env, jclass,
                                                                                  jstring name) noexcept {
  return guarded(jstring(nullptr), [&]() -> jstring {
    ServiceConfig config = queryConfig(env, name);
    if (config.error) return newJavaString(env, spacedCode(config.error).c_str());
    const wchar_t* binary = config.get()->lpBinaryPathName;
    return newJavaString(env, binary ? binary : L"");
  });
}
