// The exports of the fake jvm.dll: the three JNI invocation entry points. One Vm lives for
// the rest of the process once JNI_CreateJavaVM has been called, shaped by the scenario
// file named in FAKEJVM_SCENARIO and reporting to the file named in FAKEJVM_REPORT.
#define _JNI_IMPLEMENTATION_
#include <windows.h>

#include <string>

#include "JniTable.h"
#include "Text.h"
#include "Vm.h"

using fakejvm::Vm;
using nlohmann::json;

namespace {

Vm* g_vm = nullptr;      // never freed: the Java side may end the process at any time
bool g_created = false;  // a JVM that was created once cannot be created again

std::wstring environmentVariable(const wchar_t* name) {
  DWORD n = GetEnvironmentVariableW(name, nullptr, 0);
  if (n == 0) return {};
  std::wstring value(n, L'\0');
  n = GetEnvironmentVariableW(name, value.data(), n);
  value.resize(n);
  return value;
}

[[noreturn]] void scenarioFailure(const std::string& message) {
  std::string text = "fakejvm: scenario: " + message + "\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  TerminateProcess(GetCurrentProcess(), 3);
  ExitProcess(3);
}

json loadScenario() {
  std::wstring path = environmentVariable(L"FAKEJVM_SCENARIO");
  if (path.empty()) return json::object();
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  std::string utf8Path = fakejvm::utf8FromUtf16(std::u16string(path.begin(), path.end()));
  if (h == INVALID_HANDLE_VALUE) scenarioFailure("cannot open " + utf8Path);
  std::string text;
  char buf[4096];
  DWORD got = 0;
  while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0) text.append(buf, got);
  CloseHandle(h);
  json scenario = json::parse(text, nullptr, false);
  if (scenario.is_discarded() || !scenario.is_object()) scenarioFailure(utf8Path + " is not a JSON object");
  return scenario;
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL JNI_GetDefaultJavaVMInitArgs(void* args) {
  auto* initArgs = static_cast<JavaVMInitArgs*>(args);
  if (!initArgs) return JNI_ERR;
  // Like a current JVM: the 1.1 argument layout is no longer supported.
  return fakejvm::isSupportedJniVersion(initArgs->version) && initArgs->version != JNI_VERSION_1_1
             ? JNI_OK
             : JNI_EVERSION;
}

JNIEXPORT jint JNICALL JNI_CreateJavaVM(JavaVM** pvm, void** penv, void* args) {
  if (g_created) return g_vm->destroyed() ? JNI_ERR : JNI_EEXIST;
  auto* initArgs = static_cast<JavaVMInitArgs*>(args);
  json scenario = loadScenario();
  if (scenario.contains("createResult") && !scenario["createResult"].is_number_integer()) {
    scenarioFailure("createResult is not an integer");
  }
  // A failed creation may be tried again; the earlier model stays allocated and its report
  // is replaced.
  g_vm = new Vm(scenario, environmentVariable(L"FAKEJVM_REPORT"));
  jint result = scenario.value("createResult", JNI_OK);
  if (result == JNI_OK &&
      (!fakejvm::isSupportedJniVersion(initArgs->version) || initArgs->version == JNI_VERSION_1_1)) {
    result = JNI_EVERSION;
  }
  g_vm->recordCreation(initArgs, result);
  if (result != JNI_OK) {
    *pvm = nullptr;
    *penv = nullptr;
    return result;
  }
  g_created = true;
  *pvm = g_vm->javaVm();
  *penv = g_vm->env();
  return JNI_OK;
}

JNIEXPORT jint JNICALL JNI_GetCreatedJavaVMs(JavaVM** vms, jsize capacity, jsize* count) {
  bool alive = g_vm && g_created && !g_vm->destroyed();
  if (count) *count = alive ? 1 : 0;
  if (alive && vms && capacity > 0) vms[0] = g_vm->javaVm();
  return JNI_OK;
}

}  // extern "C"
