#include "natives/base/registration.h"

#include <windows.h>

#include <array>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/JavaNames.h"
#include "natives/base/JniConvert.h"

namespace shipkit::natives {

namespace {

struct NativeMethod {
  const char* name;
  const char* signature;
};

struct NativeClass {
  std::string_view name;
  std::span<const NativeMethod> methods;
};

// clang-format off
constexpr NativeMethod kAclHandling[] = {
    {"addACE", "(Ljava/lang/String;ZZZZZILjava/lang/String;)Z"},
};
constexpr NativeMethod kFileVersion[] = {
    {"compare0", "(Ljava/lang/String;Ljava/lang/String;)I"},
};
constexpr NativeMethod kFolderInfo[] = {
    {"getSpecialFolder0", "(IZ)Ljava/lang/String;"},
    {"getPathFromRegistry0", "(Ljava/lang/String;)Ljava/lang/String;"},
    {"getWindowsDirectory0", "()Ljava/lang/String;"},
    {"getSystemDirectory0", "()Ljava/lang/String;"},
    {"getDriveType0", "(Ljava/lang/String;)I"},
    {"getShortPathName0", "(Ljava/lang/String;)Ljava/lang/String;"},
    {"getUniversalPathName0", "(Ljava/lang/String;)Ljava/lang/String;"},
};
constexpr NativeMethod kMisc[] = {
    {"reboot0", "()V"},
    {"getRunningModules0", "(Z)[Ljava/lang/String;"},
    {"getEnvVarPairs0", "()[Ljava/lang/String;"},
    {"broadcastSettingChange0", "()V"},
    {"getPhysicalMemory0", "()J"},
    {"getFreeDiskSpace0", "(Ljava/lang/String;)J"},
    {"moveWithDelayUntilReboot0", "(Ljava/lang/String;Ljava/lang/String;)Z"},
    {"toFront0", "()V"},
    {"terminateProcesses0", "([IZI)I"},
    {"getWindowTitle0", "(I)Ljava/lang/String;"},
    {"setForegroundWindow0", "(J)V"},
    {"getTopLevelWindows0", "(Ljava/lang/Class;I)[Lcom/shipkit/api/windows/WindowInfo;"},
    {"getPidFromHandle0", "(J)I"},
};
constexpr NativeMethod kObjectPicker[] = {
    {"show0", "(ZZZZZ)[Lcom/shipkit/runtime/installer/platform/win32/ObjectPicker$Result;"},
};
// create0, the 8-bit twin of createWide0, is exported but not registered.
constexpr NativeMethod kShellLink[] = {
    {"createWide0", "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;ZLjava/lang/String;I)Z"},
    {"changeNotify0", "([B[B)Z"},
    {"initialize0", "()Z"},
    {"uninitialize", "()Z"},
};
constexpr NativeMethod kVistaFileChooser[] = {
    {"initialize0", "()V"},
    {"displayDialog0", "(JLjava/lang/String;Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;IIZLjava/lang/String;[Ljava/lang/String;[Ljava/lang/String;I[Ljava/lang/String;[Z)[Ljava/lang/String;"},
};
constexpr NativeMethod kVistaTaskDialog[] = {
    {"show0", "(JLjava/lang/String;Ljava/lang/String;Ljava/lang/String;IIILjava/lang/String;[Ljava/lang/String;I)I"},
};
constexpr NativeMethod kWin32CommunicationBackend[] = {
    {"getInvalidHandle0", "()J"},
    {"createListener0", "(Ljava/lang/String;)J"},
    {"readDataBlock0", "(J)[B"},
    {"writeDataBlock0", "(J[B)Z"},
    {"connectClient0", "(Ljava/lang/String;)J"},
    {"connectNamedPipe0", "(J)Z"},
    {"disconnectNamedPipe0", "(J)V"},
    {"closeHandle0", "(J)V"},
    {"isProcessAlive0", "(I)Z"},
    {"getCurrentProcessId0", "()I"},
};
constexpr NativeMethod kWin32Proxy[] = {
    {"getIEConfig0", "([Ljava/lang/String;)I"},
    {"getDefaultConfig0", "([Ljava/lang/String;)I"},
    {"getAutoProxyConfig0", "([Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;IIZ)J"},
    {"loadFunctions0", "()Z"},
};
constexpr NativeMethod kWin32UserInfo[] = {
    {"isMemberOfGroup0", "(I)Z"},
    {"executeElevated0", "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;I)Z"},
    {"getElevationType0", "()I"},
    {"addUser0", "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;ZZ)Ljava/lang/String;"},
    {"deleteUser0", "(Ljava/lang/String;Ljava/lang/String;)I"},
    {"deleteLocalGroup0", "(Ljava/lang/String;Ljava/lang/String;)I"},
    {"getAccountName0", "(Ljava/lang/String;Z)Ljava/lang/String;"},
    {"getUserProfileDirectory0", "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;"},
    {"getUserSid0", "()Ljava/lang/String;"},
    {"setLsaAccountRight0", "(Ljava/lang/String;Ljava/lang/String;Z)Z"},
};
constexpr NativeMethod kRegistry[] = {
    {"keyExists0", "(ILjava/lang/String;I)Z"},
    {"createKey0", "(ILjava/lang/String;I)Z"},
    {"getValue0", "(ILjava/lang/String;Ljava/lang/String;I)Ljava/lang/Object;"},
    {"setValue0", "(ILjava/lang/String;Ljava/lang/String;Ljava/lang/Object;II)Z"},
    {"deleteValue0", "(ILjava/lang/String;Ljava/lang/String;I)V"},
    {"deleteKey0", "(ILjava/lang/String;ZI)V"},
    {"saveKey0", "(ILjava/lang/String;Ljava/lang/String;I)Z"},
    {"restoreKey0", "(ILjava/lang/String;Ljava/lang/String;I)Z"},
    {"enumSubKeys0", "(ILjava/lang/String;I)[Ljava/lang/String;"},
    {"enumValues0", "(ILjava/lang/String;I)[Ljava/lang/String;"},
    {"changeNotifyAssociations0", "()V"},
};
constexpr NativeMethod kWin32Exec[] = {
    {"launch0", "(Ljava/lang/String;Ljava/lang/String;)I"},
};
constexpr NativeMethod kWin32Handle[] = {
    {"list0", "()[Ljava/lang/Object;"},
    {"close0", "(I)Z"},
    {"getDeviceName0", "(Ljava/lang/String;)Ljava/lang/String;"},
};
constexpr NativeMethod kWin32Services[] = {
    {"installService0", "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;)I"},
    {"changeServiceConfig0", "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;IILjava/lang/String;Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;)I"},
    {"setRestartServiceConfig0", "(Ljava/lang/String;ZIII)I"},
    {"setDelayedAutoStart0", "(Ljava/lang/String;Z)I"},
    {"stopService0", "(Ljava/lang/String;I)I"},
    {"startService0", "(Ljava/lang/String;[Ljava/lang/String;)I"},
    {"uninstallService0", "(Ljava/lang/String;)I"},
    {"queryStatus0", "(Ljava/lang/String;)I"},
    {"getStartType0", "(Ljava/lang/String;)I"},
    {"getServiceBinary0", "(Ljava/lang/String;)Ljava/lang/String;"},
};

// In registration order.
constexpr std::array<NativeClass, 15> kTable{{
    {"ACLHandling", kAclHandling},
    {"FileVersion", kFileVersion},
    {"FolderInfo", kFolderInfo},
    {"Misc", kMisc},
    {"ObjectPicker", kObjectPicker},
    {"ShellLink", kShellLink},
    {"VistaFileChooser", kVistaFileChooser},
    {"VistaTaskDialog", kVistaTaskDialog},
    {"Win32CommunicationBackend", kWin32CommunicationBackend},
    {"Win32Proxy", kWin32Proxy},
    {"Win32UserInfo", kWin32UserInfo},
    {"Registry", kRegistry},
    {"Win32Exec", kWin32Exec},
    {"Win32Handle", kWin32Handle},
    {"Win32Services", kWin32Services},
}};
// clang-format on

constexpr bool sameClassesAsJavaNames() {
  for (std::size_t i = 0; i < kTable.size(); ++i) {
    if (kTable[i].name != java::kNativeClasses[i].name) return false;
  }
  return true;
}
static_assert(sameClassesAsJavaNames(), "the table follows the Java side's class order");

// The export name is the JNI short name; it needs no escapes only while no class or method
// name holds '_', '$' or a non-ASCII character.
constexpr bool plainJavaName(std::string_view name) {
  for (char c : name) {
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
  }
  return !name.empty();
}
constexpr bool namesNeedNoEscapes() {
  std::size_t methods = 0;
  for (const auto& c : kTable) {
    if (!plainJavaName(c.name)) return false;
    for (const auto& m : c.methods) {
      if (!plainJavaName(m.name)) return false;
      ++methods;
    }
  }
  return methods == 79;
}
static_assert(namesNeedNoEscapes(), "79 methods with names that map to JNI short names unchanged");

std::wstring widen(std::string_view ascii) {
  return std::wstring(ascii.begin(), ascii.end());
}

// The texts hold class paths and export names, which contain no '%', so they can serve as
// the report's format.
bool registerClass(JNIEnv* env, void* module, ExportLookup lookup, ReportFn report, const NativeClass& cls,
                   std::string_view path) {
  const std::string pathZ(path);
  jclass javaClass = env->FindClass(pathZ.c_str());
  if (!javaClass) {
    clearJavaException(env);
    report((L"could not load class " + widen(path)).c_str());
    return false;
  }
  std::vector<JNINativeMethod> methods;
  methods.reserve(cls.methods.size());
  for (const NativeMethod& m : cls.methods) {
    const std::string exportName =
        std::string(java::kNativeExportPrefix) + std::string(cls.name) + "_" + m.name;
    void* function = lookup(module, exportName.c_str());
    if (!function) {
      report((L"did not find " + widen(exportName)).c_str());
      env->DeleteLocalRef(javaClass);
      return false;
    }
    methods.push_back({const_cast<char*>(m.name), const_cast<char*>(m.signature), function});
  }
  const jint result = env->RegisterNatives(javaClass, methods.data(), jint(methods.size()));
  clearJavaException(env);
  env->DeleteLocalRef(javaClass);
  if (result != 0) {
    report((L"register " + widen(path) + L" failed %d").c_str(), int(result));
    return false;
  }
  return true;
}

void ignoreReport(const wchar_t*, ...) {}

void* exportOf(void* module, const char* name) {
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(module), name));
}

}  // namespace

bool registerAllNatives(JNIEnv* env, void* module, ExportLookup lookup, ReportFn report) noexcept {
  if (!report) report = ignoreReport;
  try {
    for (std::size_t i = 0; i < kTable.size(); ++i) {
      if (!registerClass(env, module, lookup, report, kTable[i], java::kNativeClasses[i].path)) return false;
    }
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace shipkit::natives

extern "C" __declspec(dllexport) jboolean
    registerNatives(JNIEnv* env, void* module, shipkit::natives::ReportFn report) noexcept {
  return shipkit::natives::registerAllNatives(env, module, shipkit::natives::exportOf, report) ? JNI_TRUE
                                                                                               : JNI_FALSE;
}
