#include "jvm/launch/JavaVMLauncher.h"

#include <jni.h>

#include <atomic>
#include <optional>

#include "core/Config.h"
#include "core/DllDirectories.h"
#include "core/Log.h"
#include "core/Paths.h"
#include "core/RunState.h"
#include "instance/SingleInstance.h"
#include "jvm/launch/Handshake.h"
#include "jvm/launch/VmOptionsWin.h"
#include "jvm/splash/Splash.h"
#include "jvm/splash/SplashConfig.h"
#include "payload/Extract.h"
#include "win/Environment.h"
#include "win/OsVersion.h"
#include "win/Text.h"

namespace shipkit::jvm {

using core::logError;
using core::logLine;

namespace {

using CreateJavaVM = jint(JNICALL*)(JavaVM**, void**, void*);

struct VmState {
  HMODULE library = nullptr;
  CreateJavaVM create = nullptr;
  JavaVM* vm = nullptr;
  JNIEnv* env = nullptr;
  std::atomic<bool> running{false};
};

VmState& vmState() {
  static VmState* s = new VmState;  // never destroyed: the VM thread outlives exit handlers
  return *s;
}

bool fileExists(const std::string& path) {
  return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Puts PATH back as it was before an attempt (removed when it was not set).
void restorePath(const std::optional<std::wstring>& value) {
  const DWORD error = win::setEnvironmentVariable(L"PATH", value ? &*value : nullptr);
  const wchar_t* shown = value ? value->c_str() : L"";
  if (error == 0)
    logLine(L"Setting PATH %s", shown);
  else
    logLine(L"Setting PATH %s failed with error %d", shown, int(error));
}

void preloadUcrt(const std::string& bin) {
  const bool below64 = win::reportedOsVersion().below(6, 4);
  const std::string ucrt = bin + "\\ucrtbase.dll";
  if (!below64 || !fileExists(ucrt)) return;
  logLine(L"Preloading ucrtbase.dll");
  if (!::LoadLibraryA("ucrtbase.dll") && !::LoadLibraryA(ucrt.c_str()))
    logLine(L"Could not preload ucrtbase.dll");
}

HMODULE tryBinDirectory(const std::string& bin) {
  DLL_DIRECTORY_COOKIE cookie = core::addDllDirectory(bin);
  preloadUcrt(bin);

  // PATH goes through the wide functions: entries outside the ANSI code page must reach the
  // virtual machine and the processes it starts unchanged.
  const std::optional<std::wstring> oldPath = win::environmentVariable(L"PATH");
  const std::wstring newPath = win::wide(bin) + L";" + oldPath.value_or(std::wstring());
  const DWORD error = win::setEnvironmentVariable(L"PATH", &newPath);
  if (error == 0)
    logLine(L"Setting PATH %d %s", int(oldPath ? oldPath->size() : 0), newPath.c_str());
  else
    logLine(L"Setting PATH %s failed with error %d", newPath.c_str(), int(error));

  std::vector<std::string> names;
  std::string preferred = core::configString(152, 200);
  if (!preferred.empty()) names.push_back(preferred);
  for (const char* name : {"client", "server", "j9vm", "hotspot", "jrockit"}) names.emplace_back(name);
  for (const auto& name : names) {
    const std::string dll = bin + "\\" + name + "\\jvm.dll";
    const bool present = fileExists(dll);
    logLine(L"Trying %S (exists %d)", dll.c_str(), int(present));
    HMODULE library = ::LoadLibraryA(dll.c_str());
    if (library) return library;
    if (present) logLine(L"Failed with error code %d", int(::GetLastError()));
  }
  core::removeDllDirectory(cookie);
  restorePath(oldPath);
  return nullptr;
}

std::string binOf(const std::string& exe) {
  std::size_t slash = exe.find_last_of('\\');
  return slash == std::string::npos ? std::string() : exe.substr(0, slash);
}

}  // namespace

HMODULE loadJvmLibrary(const std::string& javaExe) {
  logLine(L"Trying to load JVM-DLL from %S", javaExe.c_str());
  HMODULE library = tryBinDirectory(binOf(javaExe));
  if (!library) library = tryBinDirectory(binOf(binOf(javaExe) + "\\..\\jre\\bin\\java.exe"));
  return library;
}

bool resolveEntryPoint(HMODULE library) {
  if (!library) return false;
  auto create =
      reinterpret_cast<CreateJavaVM>(reinterpret_cast<void*>(::GetProcAddress(library, "JNI_CreateJavaVM")));
  if (!create) return false;
  vmState().library = library;
  vmState().create = create;
  return true;
}

bool jvmRunning() {
  return vmState().running;
}

std::vector<std::string> launcherSystemProperties() {
  const core::RunState& rs = core::runState();
  std::vector<std::string> props;
  std::string semaphore = instance::semaphoreName();
  if (!semaphore.empty()) props.push_back("-Djarwrap.semaphoreName=" + semaphore);
  if (rs.manualRuntime) props.push_back("-Djarwrap.manualJre=true");
  if (rs.launcherKind == 'i') props.push_back("-Djarwrap.isShipkit=true");
  props.push_back("-Djarwrap.moduleName=" + core::launcherPath());
  props.push_back("-Dsun.java.command=" + core::launcherPath());
  props.push_back("-Djarwrap.tempDir=" + rs.extractionDir);
  const bool reused = rs.languageRestart && !rs.restartFailed;
  props.push_back("-Djarwrap.unextractedPosition=" +
                  std::to_string(reused ? -1 : int(payload::unextractedPosition())));
  char path[12000] = {};
  DWORD n = ::GetEnvironmentVariableA("PATH", path, sizeof path);
  props.push_back("-Djava.library.path=" + std::string(path, n < sizeof path ? n : 0));
  if (::GetEnvironmentVariableA("MANPATH", nullptr, 0) == 0 && ::GetLastError() == ERROR_ENVVAR_NOT_FOUND)
    props.push_back("-Djarwrap.consoleCodepage=cp" + std::to_string(::GetConsoleOutputCP()));
  return props;
}

bool createAndRunJvm(const std::vector<std::wstring>& launcherArgs, bool destroyAfterMain, bool showSplash) {
  VmState& s = vmState();
  logLine(L"launching program");
  std::vector<std::string> options = assembleVmOptions(launcherArgs, launcherSystemProperties());
  std::vector<JavaVMOption> jvmOptions(options.size());
  logLine(L"vmoption count %d", int(options.size()));
  for (std::size_t i = 0; i < options.size(); ++i) {
    jvmOptions[i].optionString = options[i].data();
    jvmOptions[i].extraInfo = nullptr;
    logLine(L"vmoption %d: %S", int(i), options[i].c_str());
  }
  JavaVMInitArgs args{};
  args.version = JNI_VERSION_1_2;
  args.nOptions = jint(jvmOptions.size());
  args.options = jvmOptions.data();
  args.ignoreUnrecognized = JNI_TRUE;
  logLine(L"Creating JVM");
  if (!s.create || s.create(&s.vm, reinterpret_cast<void**>(&s.env), &args) != JNI_OK) {
    logError(L"could not initialize JVM");
    return false;
  }
  logLine(L"JVM created");
  if (showSplash) showOrCloseSplash(true);
  s.running = true;
  if (core::configInt(108) != 0) passSplashTextSettings(s.env);
  handshake(s.env);
  if (!invokeMain(s.env, launcherArgs)) {
    logError(L"could not call main");
    return false;
  }
  if (destroyAfterMain) {
    logLine(L"dest JVM");
    s.vm->DestroyJavaVM();
  }
  logLine(L"launch done");
  return true;
}

}  // namespace shipkit::jvm
