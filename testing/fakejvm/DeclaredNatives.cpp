#include "DeclaredNatives.h"

#include <array>

namespace fakejvm {
namespace {

// clang-format off
constexpr std::array kNatives = std::to_array<DeclaredNative>({
    {"ACLHandling", "addACE", "(Ljava/lang/String;ZZZZZILjava/lang/String;)Z"},

    {"FileVersion", "compare0", "(Ljava/lang/String;Ljava/lang/String;)I"},

    {"FolderInfo", "getSpecialFolder0", "(IZ)Ljava/lang/String;"},
    {"FolderInfo", "getPathFromRegistry0", "(Ljava/lang/String;)Ljava/lang/String;"},
    {"FolderInfo", "getWindowsDirectory0", "()Ljava/lang/String;"},
    {"FolderInfo", "getSystemDirectory0", "()Ljava/lang/String;"},
    {"FolderInfo", "getDriveType0", "(Ljava/lang/String;)I"},
    {"FolderInfo", "getShortPathName0", "(Ljava/lang/String;)Ljava/lang/String;"},
    {"FolderInfo", "getUniversalPathName0", "(Ljava/lang/String;)Ljava/lang/String;"},

    {"Misc", "reboot0", "()V"},
    {"Misc", "getRunningModules0", "(Z)[Ljava/lang/String;"},
    {"Misc", "getEnvVarPairs0", "()[Ljava/lang/String;"},
    {"Misc", "broadcastSettingChange0", "()V"},
    {"Misc", "getPhysicalMemory0", "()J"},
    {"Misc", "getFreeDiskSpace0", "(Ljava/lang/String;)J"},
    {"Misc", "moveWithDelayUntilReboot0", "(Ljava/lang/String;Ljava/lang/String;)Z"},
    {"Misc", "toFront0", "()V"},
    {"Misc", "terminateProcesses0", "([IZI)I"},
    {"Misc", "getWindowTitle0", "(I)Ljava/lang/String;"},
    {"Misc", "setForegroundWindow0", "(J)V"},
    {"Misc", "getTopLevelWindows0", "(Ljava/lang/Class;I)[Lcom/shipkit/api/windows/WindowInfo;"},
    {"Misc", "getPidFromHandle0", "(J)I"},

    {"ObjectPicker", "show0", "(ZZZZZ)[Lcom/shipkit/runtime/installer/platform/win32/ObjectPicker$Result;"},

    {"ShellLink", "createWide0", "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;ZLjava/lang/String;I)Z"},
    {"ShellLink", "changeNotify0", "([B[B)Z"},
    {"ShellLink", "initialize0", "()Z"},
    {"ShellLink", "uninitialize", "()Z"},

    {"VistaFileChooser", "initialize0", "()V"},
    {"VistaFileChooser", "displayDialog0", "(JLjava/lang/String;Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;IIZLjava/lang/String;[Ljava/lang/String;[Ljava/lang/String;I[Ljava/lang/String;[Z)[Ljava/lang/String;"},

    {"VistaTaskDialog", "show0", "(JLjava/lang/String;Ljava/lang/String;Ljava/lang/String;IIILjava/lang/String;[Ljava/lang/String;I)I"},

    {"Win32CommunicationBackend", "getInvalidHandle0", "()J"},
    {"Win32CommunicationBackend", "createListener0", "(Ljava/lang/String;)J"},
    {"Win32CommunicationBackend", "readDataBlock0", "(J)[B"},
    {"Win32CommunicationBackend", "writeDataBlock0", "(J[B)Z"},
    {"Win32CommunicationBackend", "connectClient0", "(Ljava/lang/String;)J"},
    {"Win32CommunicationBackend", "connectNamedPipe0", "(J)Z"},
    {"Win32CommunicationBackend", "disconnectNamedPipe0", "(J)V"},
    {"Win32CommunicationBackend", "closeHandle0", "(J)V"},
    {"Win32CommunicationBackend", "isProcessAlive0", "(I)Z"},
    {"Win32CommunicationBackend", "getCurrentProcessId0", "()I"},

    {"Win32Proxy", "getIEConfig0", "([Ljava/lang/String;)I"},
    {"Win32Proxy", "getDefaultConfig0", "([Ljava/lang/String;)I"},
    {"Win32Proxy", "getAutoProxyConfig0", "([Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;IIZ)J"},
    {"Win32Proxy", "loadFunctions0", "()Z"},

    {"Win32UserInfo", "isMemberOfGroup0", "(I)Z"},
    {"Win32UserInfo", "executeElevated0", "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;I)Z"},
    {"Win32UserInfo", "getElevationType0", "()I"},
    {"Win32UserInfo", "addUser0", "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;ZZ)Ljava/lang/String;"},
    {"Win32UserInfo", "deleteUser0", "(Ljava/lang/String;Ljava/lang/String;)I"},
    {"Win32UserInfo", "deleteLocalGroup0", "(Ljava/lang/String;Ljava/lang/String;)I"},
    {"Win32UserInfo", "getAccountName0", "(Ljava/lang/String;Z)Ljava/lang/String;"},
    {"Win32UserInfo", "getUserProfileDirectory0", "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;"},
    {"Win32UserInfo", "getUserSid0", "()Ljava/lang/String;"},
    {"Win32UserInfo", "setLsaAccountRight0", "(Ljava/lang/String;Ljava/lang/String;Z)Z"},

    {"Registry", "keyExists0", "(ILjava/lang/String;I)Z"},
    {"Registry", "createKey0", "(ILjava/lang/String;I)Z"},
    {"Registry", "getValue0", "(ILjava/lang/String;Ljava/lang/String;I)Ljava/lang/Object;"},
    {"Registry", "setValue0", "(ILjava/lang/String;Ljava/lang/String;Ljava/lang/Object;II)Z"},
    {"Registry", "deleteValue0", "(ILjava/lang/String;Ljava/lang/String;I)V"},
    {"Registry", "deleteKey0", "(ILjava/lang/String;ZI)V"},
    {"Registry", "saveKey0", "(ILjava/lang/String;Ljava/lang/String;I)Z"},
    {"Registry", "restoreKey0", "(ILjava/lang/String;Ljava/lang/String;I)Z"},
    {"Registry", "enumSubKeys0", "(ILjava/lang/String;I)[Ljava/lang/String;"},
    {"Registry", "enumValues0", "(ILjava/lang/String;I)[Ljava/lang/String;"},
    {"Registry", "changeNotifyAssociations0", "()V"},

    {"Win32Exec", "launch0", "(Ljava/lang/String;Ljava/lang/String;)I"},

    {"Win32Handle", "list0", "()[Ljava/lang/Object;"},
    {"Win32Handle", "close0", "(I)Z"},
    {"Win32Handle", "getDeviceName0", "(Ljava/lang/String;)Ljava/lang/String;"},

    {"Win32Services", "installService0", "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;)I"},
    {"Win32Services", "changeServiceConfig0", "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;IILjava/lang/String;Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;)I"},
    {"Win32Services", "setRestartServiceConfig0", "(Ljava/lang/String;ZIII)I"},
    {"Win32Services", "setDelayedAutoStart0", "(Ljava/lang/String;Z)I"},
    {"Win32Services", "stopService0", "(Ljava/lang/String;I)I"},
    {"Win32Services", "startService0", "(Ljava/lang/String;[Ljava/lang/String;)I"},
    {"Win32Services", "uninstallService0", "(Ljava/lang/String;)I"},
    {"Win32Services", "queryStatus0", "(Ljava/lang/String;)I"},
    {"Win32Services", "getStartType0", "(Ljava/lang/String;)I"},
    {"Win32Services", "getServiceBinary0", "(Ljava/lang/String;)Ljava/lang/String;"},
});
// clang-format on

static_assert(kNatives.size() == 79, "the fifteen classes declare 79 natives");

}  // namespace

std::span<const DeclaredNative> declaredNatives() {
  return kNatives;
}

}  // namespace fakejvm
