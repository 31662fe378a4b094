#include "jvm/launch/Handshake.h"

#include <windows.h>

#include "core/CommandLine.h"
#include "core/Config.h"
#include "core/ErrorDisplay.h"
#include "core/JavaNames.h"
#include "core/Log.h"
#include "core/Paths.h"
#include "core/RunState.h"
#include "instance/StartMarkers.h"
#include "jvm/launch/ExpandVariables.h"
#include "win/Text.h"

namespace shipkit::jvm {

using core::logError;
using core::logLine;

namespace {

std::string cstr(std::string_view s) {
  return std::string(s);
}

jstring newString(JNIEnv* env, const std::wstring& text) {
  return env->NewString(reinterpret_cast<const jchar*>(text.data()), jsize(text.size()));
}

// Exceptions raised by lookups that are allowed to fail are not the Java side's business.
void clearPending(JNIEnv* env) {
  if (env->ExceptionCheck()) env->ExceptionClear();
}

void registerLauncherNatives(JNIEnv* env) {
  logLine(L"load helper dll");
  HMODULE self = ::GetModuleHandleW(nullptr);
  logLine(L"helper dll (in-module) %p", self);
  auto registerNatives =
      reinterpret_cast<RegisterNativesFn>(reinterpret_cast<void*>(::GetProcAddress(self, "registerNatives")));
  if (!registerNatives) {
    logError(L"did not find register natives in helper dll");
    return;
  }
  jclass common = env->FindClass(cstr(java::kCommonClass).c_str());
  if (!common) {
    clearPending(env);
    logError(L"did not find com/shipkit/runtime/installer/platform/win32/Common");
    return;
  }
  jmethodID init = env->GetStaticMethodID(common, cstr(java::kInitFromLauncherMethod).c_str(),
                                          cstr(java::kInitFromLauncherSignature).c_str());
  if (!init) {
    clearPending(env);
    logError(L"did not find initMethod");
    env->DeleteLocalRef(common);
    return;
  }
  env->CallStaticVoidMethod(common, init, JNI_TRUE);
  clearPending(env);
  if (!registerNatives(env, self, &core::logError)) {
    logError(L"registering helper dll failed");
    env->CallStaticVoidMethod(common, init, JNI_FALSE);
    clearPending(env);
  }
  env->DeleteLocalRef(common);
}

void setDeferredDeletionExecutable(JNIEnv* env) {
  jclass winDel = env->FindClass(cstr(java::kWinDelClass).c_str());
  if (!winDel) {
    clearPending(env);
    logError(L"did not find WinDel class");
    return;
  }
  jfieldID field = env->GetStaticFieldID(winDel, cstr(java::kExternalExecutableField).c_str(),
                                         cstr(java::kStringFieldSignature).c_str());
  if (!field) {
    clearPending(env);
    logError(L"did not find WinDel field");
    env->DeleteLocalRef(winDel);
    return;
  }
  std::wstring module(32768, L'\0');
  DWORD n = ::GetModuleFileNameW(nullptr, module.data(), DWORD(module.size()));
  if (n == 0 || n >= module.size()) {
    logError(L"could not get module name for WinDel");
    env->DeleteLocalRef(winDel);
    return;
  }
  module.resize(n);
  jstring value = newString(env, module);
  if (!value) {
    clearPending(env);
    logError(L"could not create string for WinDel");
    env->DeleteLocalRef(winDel);
    return;
  }
  env->SetStaticObjectField(winDel, field, value);
  env->DeleteLocalRef(value);
  env->DeleteLocalRef(winDel);
}

void setModuleNameProperty(JNIEnv* env) {
  jclass system = env->FindClass(cstr(java::kSystemClass).c_str());
  if (!system) {
    clearPending(env);
    logError(L"could not get system class");
    return;
  }
  jmethodID setProperty = env->GetStaticMethodID(system, cstr(java::kSetPropertyMethod).c_str(),
                                                 cstr(java::kSetPropertySignature).c_str());
  if (!setProperty) {
    clearPending(env);
    logError(L"could not get method for module name init");
    env->DeleteLocalRef(system);
    return;
  }
  const std::wstring& path = core::launcherLongPath();
  jstring value = newString(env, path);
  jstring name = env->NewStringUTF(cstr(java::kModuleNameProperty).c_str());
  if (!value || !name) {
    clearPending(env);
    logError(L"could not create string for init module name");
  } else {
    logLine(L"setting jarwrap.moduleName to %s", path.c_str());
    jobject previous = env->CallStaticObjectMethod(system, setProperty, name, value);
    clearPending(env);
    if (previous) env->DeleteLocalRef(previous);
  }
  if (value) env->DeleteLocalRef(value);
  if (name) env->DeleteLocalRef(name);
  env->DeleteLocalRef(system);
}

// A redirection file: expanded (long form); "$..." stays as it is, anything else becomes
// a full path against the launcher's directory.
std::wstring redirection(int flagId, int pathId) {
  if (core::configInt(flagId) == 0) return {};
  std::wstring value = expandWide(core::configWString(pathId), false);
  if (!value.empty() && value[0] == L'$') return value;
  return core::resolvePath(value, false, true);
}

}  // namespace

void handshake(JNIEnv* env) {
  if (core::runState().launcherKind == 'i') registerLauncherNatives(env);
  setDeferredDeletionExecutable(env);
  setModuleNameProperty(env);
}

std::vector<std::wstring> launcherArgumentBlock() {
  std::vector<std::wstring> block;
  block.push_back(core::configInt(107) == 1 ? L"true" : L"false");
  std::wstring mainClass = core::configWString(122);
  block.push_back(core::configInt(133) != 0 ? L"/" + mainClass : mainClass);
  block.push_back(redirection(102, 103));
  block.push_back(redirection(104, 105));
  block.push_back(core::configInt(106) != 0 ? L"true" : L"false");
  return block;
}

std::vector<std::wstring> mainArguments(const std::vector<std::wstring>& launcherArgs) {
  std::vector<std::wstring> args = launcherArgumentBlock();
  if (!launcherArgs.empty()) args.push_back(launcherArgs[0]);
  std::wstring extra = expandWide(core::configWString(124, 2001), false);
  core::splitCommandLine(extra, args);
  const bool jOptions = core::configInt(125) != 0;
  for (std::size_t i = 1; i < launcherArgs.size(); ++i) {
    const std::wstring& a = launcherArgs[i];
    if (a.starts_with(L"-Dsun.locale.formatasdefault=")) continue;
    if (jOptions && a.starts_with(L"-J")) continue;
    args.push_back(a);
  }
  return args;
}

bool invokeMain(JNIEnv* env, const std::vector<std::wstring>& launcherArgs) {
  const std::string className =
      cstr(core::runState().launcherKind == 'i' ? java::kShipkitLauncherClass : java::kJarwrapLauncherClass);
  logLine(L"main class: %S", className.c_str());
  jclass mainClass = env->FindClass(className.c_str());
  if (!mainClass) {
    clearPending(env);
    logError(L"could not find main class");
    core::fatalMessage(1010);
  }
  jmethodID main =
      env->GetStaticMethodID(mainClass, cstr(java::kMainMethod).c_str(), cstr(java::kMainSignature).c_str());
  if (!main) {
    clearPending(env);
    logError(L"could not find main method");
    core::fatalMessage(1011);
  }
  std::vector<std::wstring> args = mainArguments(launcherArgs);
  logLine(L"param count: %d", int(args.size()));
  jclass stringClass = env->FindClass(cstr(java::kStringClass).c_str());
  jobjectArray array = stringClass ? env->NewObjectArray(jsize(args.size()), stringClass, nullptr) : nullptr;
  // Without the argument array main cannot be called: an internal error of the launcher.
  if (!array) core::fatalMessage(1009, std::string_view("72"));
  for (std::size_t i = 0; i < args.size(); ++i) {
    logLine(L"param %d: %s", int(i), args[i].c_str());
    jstring element = newString(env, args[i]);
    if (!element) core::fatalMessage(1009, std::string_view("72"));
    env->SetObjectArrayElement(array, jsize(i), element);
    env->DeleteLocalRef(element);
  }
  logLine(L"calling main");
  instance::handOverStartMarkers();
  env->CallStaticVoidMethod(mainClass, main, array);
  logLine(L"main returned");
  const bool clean = checkException(env, true);
  env->DeleteLocalRef(array);
  env->DeleteLocalRef(stringClass);
  env->DeleteLocalRef(mainClass);
  return clean;
}

bool checkException(JNIEnv* env, bool describe) {
  jthrowable exception = env->ExceptionOccurred();
  if (!exception) return true;
  logError(L"an exception occurred");
  // No other JNI call is allowed while an exception is pending: take it, ask for its
  // text, and raise it again for the machine to print.
  env->ExceptionClear();
  jclass object = env->FindClass(cstr(java::kObjectClass).c_str());
  jmethodID toString = object ? env->GetMethodID(object, cstr(java::kToStringMethod).c_str(),
                                                 cstr(java::kToStringSignature).c_str())
                              : nullptr;
  jstring text = toString ? static_cast<jstring>(env->CallObjectMethod(exception, toString)) : nullptr;
  clearPending(env);
  if (text) {
    const jchar* chars = env->GetStringChars(text, nullptr);
    if (chars) {
      std::wstring message(reinterpret_cast<const wchar_t*>(chars), std::size_t(env->GetStringLength(text)));
      logError(L"%s", message.c_str());
      env->ReleaseStringChars(text, chars);
    }
    env->DeleteLocalRef(text);
  }
  if (object) env->DeleteLocalRef(object);
  if (describe) {
    env->Throw(exception);
    env->ExceptionDescribe();
  }
  env->ExceptionClear();
  env->DeleteLocalRef(exception);
  return false;
}

}  // namespace shipkit::jvm
