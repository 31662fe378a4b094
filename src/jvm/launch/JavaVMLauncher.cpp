#include "jvm/launch/JavaVMLauncher.h"

#include <jni.h>

#include <cstdlib>

#include "core/Config.h"
#include "core/DllDirectories.h"
#include "core/Log.h"
#include "core/Paths.h"
#include "core/RunState.h"
#include "instance/SingleInstance.h"
#include "jvm/launch/Handshake.h"
#include "jvm/launch/VmOptionsWin.h"
#include "payload/Extract.h"
#include "win/OsVersion.h"

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
  volatile bool running = false;
};

VmState& vmState() {
  static VmState s;
  return s;
}

bool fileExists(const std::string& path) {
  return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Sets PATH in the process environment and in the C runtime's copy of it; `value` null
// removes the variable.
void setPath(const std::string* value) {
  BOOL ok = ::SetEnvironmentVariableA("PATH", value ? value->c_str() : nullptr);
  DWORD error = ::GetLastError();
  const char* shown = value ? value->c_str() : "";
  if (ok)
    logLine(L"Setting PATH %S", shown);
  else
    logLine(L"Setting PATH %S failed with error %d", shown, int(error));
  std::string crt = "PATH=" + (value ? *value : std::string());
  _putenv(crt.c_str());
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

  DWORD size = ::GetEnvironmentVariableA("PATH", nullptr, 0);
  const bool hadPath = size > 0;
  std::string oldPath;
  if (hadPath) {
    oldPath.resize(size + 6000);
    DWORD n = ::GetEnvironmentVariableA("PATH", oldPath.data(), DWORD(oldPath.size()));
    oldPath.resize(n < oldPath.size() ? n : 0);
  }
  std::string newPath = bin + ";" + oldPath;
  if (::SetEnvironmentVariableA("PATH", newPath.c_str()))
    logLine(L"Setting PATH %d %S", int(oldPath.size()), newPath.c_str());
  else
    logLine(L"Setting PATH %S failed with error %d", newPath.c_str(), int(::GetLastError()));
  std::string crt = "PATH=" + newPath;
  _putenv(crt.c_str());

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
  setPath(hadPath ? &oldPath : nullptr);
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

bool createAndRunJvm(const std::vector<std::wstring>& launcherArgs, bool destroyAfterMain) {
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
  s.running = true;
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
