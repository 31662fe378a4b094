// Names on the Java side that the launcher relies on: the classes, members and JNI
// signatures of the installer runtime that the launcher calls or sets, the classes of its
// native methods, and the objects the natives construct. Class names are in the JNI slash
// form. The launcher and the fake JVM used by the tests both take them from here, so the
// two cannot drift apart.
#pragma once

#include <array>
#include <string_view>

namespace shipkit::java {

// Entry point: static void main(String[]). The class depends on the launcher kind.
inline constexpr std::string_view kShipkitLauncherClass = "com/shipkit/runtime/launcher/WinLauncher";
inline constexpr std::string_view kJarwrapLauncherClass = "com/jarwrap/runtime/WinLauncher";
inline constexpr std::string_view kMainMethod = "main";
inline constexpr std::string_view kMainSignature = "([Ljava/lang/String;)V";

// Called with true before native registration, with false when registration failed.
inline constexpr std::string_view kCommonClass = "com/shipkit/runtime/installer/platform/win32/Common";
inline constexpr std::string_view kInitFromLauncherMethod = "initFromLauncher";
inline constexpr std::string_view kInitFromLauncherSignature = "(Z)V";

// The deferred-deletion class learns the launcher's executable through a static field.
inline constexpr std::string_view kWinDelClass = "com/jarwrap/runtime/util/WinDel";
inline constexpr std::string_view kExternalExecutableField = "externalExecutable";
inline constexpr std::string_view kStringFieldSignature = "Ljava/lang/String;";

// System.setProperty publishes the launcher's Unicode path.
inline constexpr std::string_view kSystemClass = "java/lang/System";
inline constexpr std::string_view kSetPropertyMethod = "setProperty";
inline constexpr std::string_view kSetPropertySignature =
    "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;";
inline constexpr std::string_view kModuleNameProperty = "jarwrap.moduleName";

// Splash text settings go to this class for every launcher kind.
inline constexpr std::string_view kSplashConfigClass = kJarwrapLauncherClass;
inline constexpr std::string_view kInitAwtSplashConfigMethod = "initAwtSplashConfig";
inline constexpr std::string_view kInitAwtSplashConfigSignature =
    "(ZZLjava/lang/String;IILjava/lang/String;IILjava/lang/String;IILjava/lang/String;II)V";

// Text of a pending exception: Object.toString, so the exception's own override runs.
inline constexpr std::string_view kObjectClass = "java/lang/Object";
inline constexpr std::string_view kToStringMethod = "toString";
inline constexpr std::string_view kToStringSignature = "()Ljava/lang/String;";

inline constexpr std::string_view kStringClass = "java/lang/String";
inline constexpr std::string_view kConstructorName = "<init>";

// Integers in and out of the natives.
inline constexpr std::string_view kIntegerClass = "java/lang/Integer";
inline constexpr std::string_view kIntegerConstructorSignature = "(I)V";
inline constexpr std::string_view kIntValueMethod = "intValue";
inline constexpr std::string_view kIntValueSignature = "()I";

// Objects that natives construct.
inline constexpr std::string_view kExpandStringClass = "com/shipkit/api/windows/WinRegistry$ExpandString";
inline constexpr std::string_view kExpandStringConstructorSignature = "(Ljava/lang/String;)V";
inline constexpr std::string_view kWindowInfoClass = "com/shipkit/api/windows/WindowInfo";
inline constexpr std::string_view kWindowInfoConstructorSignature =
    "(JILjava/lang/String;Ljava/lang/String;)V";
inline constexpr std::string_view kObjectPickerResultClass =
    "com/shipkit/runtime/installer/platform/win32/ObjectPicker$Result";
inline constexpr std::string_view kObjectPickerResultConstructorSignature =
    "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;)V";

// The classes whose native methods the launcher registers, in registration order.
// Each native is exported as kNativeExportPrefix + class name + "_" + method name.
inline constexpr std::string_view kNativePackage = "com/shipkit/runtime/installer/platform/win32/";
inline constexpr std::string_view kNativeExportPrefix = "Java_com_shipkit_runtime_installer_platform_win32_";

struct NativeClassName {
  std::string_view name;  // e.g. "Registry"
  std::string_view path;  // kNativePackage + name
};

inline constexpr std::array<NativeClassName, 15> kNativeClasses{{
    {"ACLHandling", "com/shipkit/runtime/installer/platform/win32/ACLHandling"},
    {"FileVersion", "com/shipkit/runtime/installer/platform/win32/FileVersion"},
    {"FolderInfo", "com/shipkit/runtime/installer/platform/win32/FolderInfo"},
    {"Misc", "com/shipkit/runtime/installer/platform/win32/Misc"},
    {"ObjectPicker", "com/shipkit/runtime/installer/platform/win32/ObjectPicker"},
    {"ShellLink", "com/shipkit/runtime/installer/platform/win32/ShellLink"},
    {"VistaFileChooser", "com/shipkit/runtime/installer/platform/win32/VistaFileChooser"},
    {"VistaTaskDialog", "com/shipkit/runtime/installer/platform/win32/VistaTaskDialog"},
    {"Win32CommunicationBackend", "com/shipkit/runtime/installer/platform/win32/Win32CommunicationBackend"},
    {"Win32Proxy", "com/shipkit/runtime/installer/platform/win32/Win32Proxy"},
    {"Win32UserInfo", "com/shipkit/runtime/installer/platform/win32/Win32UserInfo"},
    {"Registry", "com/shipkit/runtime/installer/platform/win32/Registry"},
    {"Win32Exec", "com/shipkit/runtime/installer/platform/win32/Win32Exec"},
    {"Win32Handle", "com/shipkit/runtime/installer/platform/win32/Win32Handle"},
    {"Win32Services", "com/shipkit/runtime/installer/platform/win32/Win32Services"},
}};

constexpr bool nativeClassPathsMatchNames() {
  for (const auto& c : kNativeClasses) {
    if (c.path.size() != kNativePackage.size() + c.name.size() || !c.path.starts_with(kNativePackage) ||
        !c.path.ends_with(c.name)) {
      return false;
    }
  }
  return true;
}
static_assert(nativeClassPathsMatchNames(), "every native class path is the package followed by its name");

}  // namespace shipkit::java
