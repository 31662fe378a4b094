// Registration of the launcher's natives with the Java side, against the fake JNI
// environment: the exported registerNatives, the class order and method table, the three
// failure reports, and a first call of each registered native that already answers.
#include <gtest/gtest.h>
#include <jni.h>
#include <objbase.h>
#include <windows.h>

#include <cstdarg>
#include <cstdint>
#include <cwchar>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "Vm.h"
#include "natives/base/JniConvert.h"
#include "natives/base/ShellFunctions.h"
#include "natives/base/registration.h"

namespace {

using nlohmann::json;

struct Expected {
  const char* cls;
  const char* name;
  const char* signature;
};

// What the installer runtime declares, in the order the launcher registers it. Written out
// here on purpose, independently of the launcher's own table.
// clang-format off
const Expected kExpected[] = {
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
};
// clang-format on
static_assert(std::size(kExpected) == 79);

const std::string kPackage = "com/shipkit/runtime/installer/platform/win32/";

std::string exportName(const Expected& e) {
  return std::string("Java_com_shipkit_runtime_installer_platform_win32_") + e.cls + "_" + e.name;
}

// The "registered" report entries of the first `count` methods.
json registeredPrefix(std::size_t count) {
  json out = json::array();
  for (std::size_t i = 0; i < count; ++i)
    out.push_back({{"class", kPackage + kExpected[i].cls},
                   {"name", kExpected[i].name},
                   {"signature", kExpected[i].signature}});
  return out;
}

// Methods of the classes before the named one.
std::size_t methodsBefore(const std::string& cls) {
  std::size_t n = 0;
  while (n < std::size(kExpected) && kExpected[n].cls != cls) ++n;
  return n;
}

// The report function as the launcher's log sees it: formatted with the Microsoft runtime.
std::vector<std::wstring> reports;
void captureReport(const wchar_t* format, ...) {
  wchar_t text[2048];
  va_list args;
  va_start(args, format);
  int n = _vsnwprintf(text, std::size(text) - 1, format, args);
  va_end(args);
  text[n < 0 ? 0 : n] = L'\0';
  reports.push_back(text);
}

// Export lookups through GetProcAddress on the test executable (which links the natives),
// recorded, with one name that can be made to look missing.
struct Lookups {
  std::string missing;
  std::vector<std::string> asked;
};
Lookups* lookups = nullptr;

void* lookUp(void* module, const char* name) {
  lookups->asked.push_back(name);
  if (name == lookups->missing) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

using RegisterNativesFn = jboolean (*)(JNIEnv*, void*, shipkit::natives::ReportFn);

class Registration : public ::testing::Test {
 protected:
  explicit Registration(json scenario = json::object()) : vm_(scenario) { reports.clear(); }
  ~Registration() override { lookups = nullptr; }

  bool registerWithout(const std::string& missingExport) {
    lookups_.missing = missingExport;
    lookups = &lookups_;
    return shipkit::natives::registerAllNatives(vm_.env(), GetModuleHandleW(nullptr), lookUp, captureReport);
  }
  void expectNoJavaTrouble() {
    EXPECT_FALSE(vm_.env()->ExceptionCheck()) << "registration leaves no exception pending";
    EXPECT_TRUE(vm_.report()["callsWithPendingException"].empty())
        << vm_.report()["callsWithPendingException"];
  }

  fakejvm::Vm vm_;
  Lookups lookups_;
};

TEST_F(Registration, ExportedRegisterNativesRegistersAllFifteenClassesInOrder) {
  auto registerNatives = reinterpret_cast<RegisterNativesFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(nullptr), "registerNatives")));
  ASSERT_NE(registerNatives, nullptr);
  EXPECT_EQ(registerNatives(vm_.env(), GetModuleHandleW(nullptr), captureReport), JNI_TRUE);
  EXPECT_TRUE(reports.empty());
  EXPECT_EQ(vm_.report()["registered"], registeredPrefix(std::size(kExpected)));
  expectNoJavaTrouble();
}

TEST_F(Registration, NativesAreLookedUpByTheirShortNamesAndCreate0IsNotNeeded) {
  EXPECT_TRUE(registerWithout("Java_com_shipkit_runtime_installer_platform_win32_ShellLink_create0"));
  std::vector<std::string> names;
  for (const auto& e : kExpected) names.push_back(exportName(e));
  EXPECT_EQ(lookups_.asked, names);
  EXPECT_EQ(vm_.report()["registered"].size(), std::size(kExpected));
  EXPECT_TRUE(reports.empty());
}

struct MissingExport {
  const char* name;
  const char* cls;
  const char* method;
};

void PrintTo(const MissingExport& c, std::ostream* os) {
  *os << c.name;
}

class RegistrationMissingExport : public Registration, public ::testing::WithParamInterface<MissingExport> {};

TEST_P(RegistrationMissingExport, StopsAtItsClassAndKeepsTheEarlierOnes) {
  const MissingExport& c = GetParam();
  const std::string missing =
      std::string("Java_com_shipkit_runtime_installer_platform_win32_") + c.cls + "_" + c.method;
  EXPECT_FALSE(registerWithout(missing));
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0], L"did not find " + std::wstring(missing.begin(), missing.end()));
  // Nothing of the failing class, nothing after it.
  EXPECT_EQ(vm_.report()["registered"], registeredPrefix(methodsBefore(c.cls)));
  ASSERT_FALSE(lookups_.asked.empty());
  EXPECT_EQ(lookups_.asked.back(), missing);
  expectNoJavaTrouble();
}

INSTANTIATE_TEST_SUITE_P(Exports, RegistrationMissingExport,
                         ::testing::Values(MissingExport{"RegistryEnumValues", "Registry", "enumValues0"},
                                           MissingExport{"FirstOfAll", "ACLHandling", "addACE"},
                                           MissingExport{"FirstOfAClass", "Registry", "keyExists0"},
                                           MissingExport{"LastOfAll", "Win32Services", "getServiceBinary0"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Registration, MissingRegistryEnumValuesKeepsTheFirstElevenClasses) {
  EXPECT_FALSE(registerWithout("Java_com_shipkit_runtime_installer_platform_win32_Registry_enumValues0"));
  const json& registered = vm_.report()["registered"];
  ASSERT_EQ(registered.size(), 54u);
  EXPECT_EQ(registered.back()["class"], kPackage + "Win32UserInfo");
}

class RegistrationMissingClass : public Registration, public ::testing::WithParamInterface<const char*> {
 protected:
  RegistrationMissingClass() : Registration(json{{"missingClasses", {kPackage + GetParam()}}}) {}
};

TEST_P(RegistrationMissingClass, ReportsTheClassPath) {
  EXPECT_FALSE(registerWithout(""));
  ASSERT_EQ(reports.size(), 1u);
  const std::string path = kPackage + GetParam();
  EXPECT_EQ(reports[0], L"could not load class " + std::wstring(path.begin(), path.end()));
  EXPECT_EQ(vm_.report()["registered"], registeredPrefix(methodsBefore(GetParam())));
  expectNoJavaTrouble();
}

INSTANTIATE_TEST_SUITE_P(Classes, RegistrationMissingClass,
                         ::testing::Values("ACLHandling", "Registry", "Win32Services"));

// The Java class does not declare one of the natives: RegisterNatives itself fails.
class RegistrationRejected : public Registration {
 protected:
  RegistrationRejected() : Registration(json{{"missingNatives", {{"Win32Exec", {"launch0"}}}}}) {}
};

TEST_F(RegistrationRejected, ReportsTheRegisterNativesResultAndStops) {
  EXPECT_FALSE(registerWithout(""));
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0], L"register com/shipkit/runtime/installer/platform/win32/Win32Exec failed -1");
  EXPECT_EQ(vm_.report()["registered"], registeredPrefix(methodsBefore("Win32Exec")));
  EXPECT_EQ(lookups_.asked.back(), exportName(kExpected[methodsBefore("Win32Exec")]));
  expectNoJavaTrouble();
}

// ---------------------------------------------------------------------------------------
// Registered natives called as the virtual machine calls them

class RegisteredNatives : public Registration {
 protected:
  void SetUp() override { ASSERT_TRUE(registerWithout("")); }
  json call(const std::string& target, const json& args) {
    json record = vm_.callNative({{"call", target}, {"args", args}});
    EXPECT_EQ(record["exception"], nullptr) << target;
    EXPECT_EQ(record["unreleased"], 0) << target;
    EXPECT_EQ(record["localRefsLeft"], 0) << target;
    EXPECT_EQ(record.count("error"), 0u) << target;
    return record["result"];
  }
};

TEST_F(RegisteredNatives, ProcessAndHandleBasicsAnswer) {
  EXPECT_EQ(call("Win32CommunicationBackend.getInvalidHandle0", json::array()), -1);
  EXPECT_EQ(call("Win32CommunicationBackend.getCurrentProcessId0", json::array()), GetCurrentProcessId());
  // The pseudo handle of the current process is -1.
  EXPECT_EQ(call("Misc.getPidFromHandle0", {-1}), GetCurrentProcessId());
  HANDLE self = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, GetCurrentProcessId());
  ASSERT_NE(self, nullptr);
  EXPECT_EQ(call("Misc.getPidFromHandle0", {std::int64_t(reinterpret_cast<std::intptr_t>(self))}),
            GetCurrentProcessId());
  CloseHandle(self);
  EXPECT_EQ(call("Misc.getPidFromHandle0", {0}), 0);
}

TEST_F(RegisteredNatives, ShellLinkComInitialisationAnswersTrue) {
  EXPECT_EQ(call("ShellLink.initialize0", json::array()), true);
  EXPECT_EQ(call("ShellLink.uninitialize", json::array()), true);
  call("VistaFileChooser.initialize0", json::array());
  CoUninitialize();
}

struct NotifyCall {
  LONG event;
  UINT flags;
  std::wstring path;
  bool secondNull;
};
std::vector<NotifyCall>* notifyCalls = nullptr;

void WINAPI recordNotify(LONG event, UINT flags, LPCVOID item1, LPCVOID item2) {
  notifyCalls->push_back(
      {event, flags, item1 ? static_cast<const wchar_t*>(item1) : L"<null>", item2 == nullptr});
}

json utf16Bytes(std::u16string_view text) {
  json bytes = json::array();
  for (char16_t u : text) {
    bytes.push_back(std::int8_t(u & 0xFF));
    bytes.push_back(std::int8_t(u >> 8));
  }
  return {{"byte[]", bytes}};
}

TEST_F(RegisteredNatives, ShellLinkChangeNotifyTellsTheShellAboutTheFileAndItsFolder) {
  auto& shell = shipkit::natives::shellFunctions();
  const shipkit::natives::ShellFunctions saved = shell;
  std::vector<NotifyCall> calls;
  notifyCalls = &calls;
  shell.changeNotify = recordNotify;
  json result = call("ShellLink.changeNotify0", {utf16Bytes(std::u16string(u"C:\\d\\a.lnk\0", 11)),
                                                 utf16Bytes(std::u16string(u"C:\\d\0", 5))});
  // Without the terminating zero the path still ends where the array ends.
  json unterminated = call("ShellLink.changeNotify0", {utf16Bytes(u"C:\\x"), utf16Bytes(u"C:\\")});
  shell.changeNotify = nullptr;  // shell32 unavailable: still true
  json unbound = call("ShellLink.changeNotify0", {utf16Bytes(u"C:\\y"), utf16Bytes(u"C:\\")});
  shell = saved;
  notifyCalls = nullptr;
  EXPECT_EQ(result, true);
  EXPECT_EQ(unterminated, true);
  EXPECT_EQ(unbound, true);
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[0].event, 0x2);
  EXPECT_EQ(calls[0].flags, 0x5u);
  EXPECT_EQ(calls[0].path, L"C:\\d\\a.lnk");
  EXPECT_EQ(calls[1].event, 0x1000);
  EXPECT_EQ(calls[1].flags, 0x1005u);
  EXPECT_EQ(calls[1].path, L"C:\\d");
  EXPECT_EQ(calls[2].path, L"C:\\x");
  EXPECT_EQ(calls[3].path, L"C:\\");
  for (const auto& c : calls) EXPECT_TRUE(c.secondNull);
}

// Natives whose work is not written yet answer with their failure value. Each row uses an
// input for which that value is also the right answer, so the rows stay true once the
// natives are implemented.
struct Answer {
  const char* name;
  const char* target;
  json args;
  json expected;
};

void PrintTo(const Answer& c, std::ostream* os) {
  *os << c.name;
}

class RegisteredNativeAnswers : public RegisteredNatives, public ::testing::WithParamInterface<Answer> {};

TEST_P(RegisteredNativeAnswers, FailureValues) {
  const Answer& c = GetParam();
  EXPECT_EQ(call(c.target, c.args), c.expected);
}

const std::int64_t kNoProcess = 0x7FFFFF00;

INSTANTIATE_TEST_SUITE_P(
    Cases, RegisteredNativeAnswers,
    ::testing::Values(
        Answer{"AddAceWithoutPath",
               "ACLHandling.addACE",
               {nullptr, false, true, false, false, false, 2, nullptr},
               false},
        Answer{
            "CompareMissingFiles", "FileVersion.compare0", {"C:\\no\\such-a.dll", "C:\\no\\such-b.dll"}, 3},
        Answer{"PathFromRegistryOfMissingValue",
               "FolderInfo.getPathFromRegistry0",
               {"shipkit-no-such-value"},
               nullptr},
        Answer{"ShortPathOfMissingPath",
               "FolderInfo.getShortPathName0",
               {"C:\\no\\such path"},
               "C:\\no\\such path"},
        Answer{"FreeDiskSpaceOfMissingDrive", "Misc.getFreeDiskSpace0", {"Q:\\nothing"}, -1},
        Answer{"TerminateMissingProcessForced",
               "Misc.terminateProcesses0",
               {{{"int[]", {kNoProcess}}}, true, 0},
               0},
        Answer{"WindowTitleOfMissingProcess", "Misc.getWindowTitle0", {kNoProcess}, ""},
        Answer{"TopLevelWindowsOfMissingProcess",
               "Misc.getTopLevelWindows0",
               {"com/shipkit/api/windows/WindowInfo", kNoProcess},
               nullptr},
        Answer{
            "ListenerWithInvalidPipeName", "Win32CommunicationBackend.createListener0", {"not a pipe"}, -1},
        Answer{"ReadFromInvalidHandle", "Win32CommunicationBackend.readDataBlock0", {-1}, nullptr},
        Answer{"WriteToInvalidHandle",
               "Win32CommunicationBackend.writeDataBlock0",
               {-1, {{"byte[]", {1}}}},
               false},
        Answer{"ConnectInvalidHandle", "Win32CommunicationBackend.connectNamedPipe0", {-1}, false},
        Answer{"MissingProcessIsNotAlive", "Win32CommunicationBackend.isProcessAlive0", {kNoProcess}, false},
        Answer{"CloseNullHandle", "Win32Handle.close0", {0}, false},
        Answer{"DeviceNameOfNull", "Win32Handle.getDeviceName0", {nullptr}, nullptr},
        Answer{"DeviceNameOfMissingDrive", "Win32Handle.getDeviceName0", {"\\??\\Q:"}, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------
// The shared conversions

class JniConversions : public ::testing::Test {
 protected:
  jstring str(std::u16string_view text) {
    return env_->NewString(reinterpret_cast<const jchar*>(text.data()), jsize(text.size()));
  }
  void expectClean() {
    EXPECT_FALSE(env_->ExceptionCheck());
    EXPECT_EQ(vm_.outstandingPins(), 0u);
    EXPECT_TRUE(vm_.report()["callsWithPendingException"].empty());
  }
  fakejvm::Vm vm_;
  JNIEnv* env_ = vm_.env();
};

TEST_F(JniConversions, WideCopyKeepsNullAsNullAndTerminatesEveryCopy) {
  using shipkit::natives::WideString;
  const WideString none = WideString::from(env_, nullptr);
  EXPECT_TRUE(none.isNull());
  EXPECT_EQ(none.get(), nullptr);
  EXPECT_FALSE(none.failed());

  const WideString empty = WideString::from(env_, str(u""));
  ASSERT_FALSE(empty.isNull());
  EXPECT_EQ(empty.length(), 0u);
  EXPECT_EQ(empty.get()[0], L'\0');

  // The fake's characters are not terminated: the copy takes exactly the string's length.
  const std::u16string text(u"a\0\U0001F600z", 5);
  const WideString copy = WideString::from(env_, str(text));
  ASSERT_EQ(copy.length(), 5u);
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(copy.get()), 5), text);
  EXPECT_EQ(copy.get()[5], L'\0');
  expectClean();
}

TEST_F(JniConversions, StringArraysInAndOut) {
  using namespace shipkit::natives;
  jclass stringClass = env_->FindClass("java/lang/String");
  jobjectArray in = env_->NewObjectArray(3, stringClass, nullptr);
  env_->SetObjectArrayElement(in, 0, str(u"one"));
  env_->SetObjectArrayElement(in, 2, str(u""));
  const std::size_t before = vm_.liveLocalRefs();
  std::vector<WideString> copies = stringArrayIn(env_, in);
  EXPECT_EQ(vm_.liveLocalRefs(), before) << "element references are deleted";
  ASSERT_EQ(copies.size(), 3u);
  EXPECT_STREQ(copies[0].get(), L"one");
  EXPECT_TRUE(copies[1].isNull());
  EXPECT_FALSE(copies[2].isNull());
  EXPECT_TRUE(stringArrayIn(env_, nullptr).empty());

  std::vector<jstring> elements{newJavaString(env_, L"x"), nullptr, newJavaString(env_, L"y\0z", 3)};
  jobjectArray out = newStringArray(env_, elements);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(vm_.liveLocalRefs(), before + 1) << "only the array's reference is left";
  EXPECT_EQ(vm_.toJson(vm_.resolve(out, "test")), (json{"x", nullptr, std::string("y\0z", 3)}));
  expectClean();
}

TEST_F(JniConversions, ObjectsOutAndIntegersIn) {
  using namespace shipkit::natives;
  jvalue five;
  five.i = 5;
  jobject boxed = newJavaObject(env_, "java/lang/Integer", "(I)V", &five);
  ASSERT_NE(boxed, nullptr);
  EXPECT_EQ(javaIntegerValue(env_, boxed), std::optional<jint>(5));
  EXPECT_EQ(javaIntegerValue(env_, str(u"5")), std::nullopt);
  EXPECT_EQ(javaIntegerValue(env_, nullptr), std::nullopt);
  // Failed lookups give null and leave no exception for the Java side.
  EXPECT_EQ(newJavaObject(env_, "com/example/NoSuchClass", "()V", nullptr), nullptr);
  EXPECT_EQ(newJavaObject(env_, "java/lang/Integer", "(Ljava/lang/String;J)V", nullptr), nullptr);
  expectClean();
}

TEST_F(JniConversions, ByteArraysAreNotWrittenBackBooleanArraysAre) {
  using namespace shipkit::natives;
  jbyteArray bytes = env_->NewByteArray(2);
  jbooleanArray flags = env_->NewBooleanArray(2);
  {
    ByteArrayElements b(env_, bytes);
    BooleanArrayElements f(env_, flags);
    ASSERT_TRUE(b);
    ASSERT_TRUE(f);
    EXPECT_EQ(b.size(), 2);
    b.data()[0] = 7;
    f.data()[1] = JNI_TRUE;
  }
  jbyte b[2] = {-1, -1};
  jboolean f[2] = {9, 9};
  env_->GetByteArrayRegion(bytes, 0, 2, b);
  env_->GetBooleanArrayRegion(flags, 0, 2, f);
  EXPECT_EQ(b[0], 0);
  EXPECT_EQ(f[0], JNI_FALSE);
  EXPECT_EQ(f[1], JNI_TRUE);
  ByteArrayElements none(env_, nullptr);
  EXPECT_FALSE(none);
  expectClean();
}

}  // namespace
