// Natives of the Java class ObjectPicker: the directory object picker for users and groups,
// modal to the installer's window, with the selection returned as ObjectPicker$Result
// objects.
#include <jni.h>
#include <objbase.h>
#include <windows.h>

// After windows.h, which they build on.
#include <oleauto.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "natives/base/JniConvert.h"
#include "natives/base/NativeGuard.h"
#include "natives/dialogs/DialogWords.h"
#include "natives/dialogs/PickerSelection.h"

namespace shipkit::natives {

namespace {
constexpr const char* kResultClass = "com/shipkit/runtime/installer/platform/win32/ObjectPicker$Result";
constexpr const char* kResultConstructor =
    "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;)V";

std::optional<std::wstring> textOf(const wchar_t* text) {
  return text ? std::optional<std::wstring>(text) : std::nullopt;
}

// The SID bytes of the fetched "objectSID" attribute, as a SID string.
std::optional<std::wstring> sidOf(const DS_SELECTION& selection, ULONG fetched, SidToStringFn toString) {
  if (fetched < 1 || !selection.pvarFetchedAttributes) return std::nullopt;
  const VARIANT& value = selection.pvarFetchedAttributes[0];
  if (value.vt != (VT_ARRAY | VT_UI1) || !value.parray) return std::nullopt;
  void* bytes = nullptr;
  if (FAILED(::SafeArrayAccessData(value.parray, &bytes))) return std::nullopt;
  std::optional<std::wstring> text;
  LPWSTR sid = nullptr;
  if (bytes && ::IsValidSid(bytes) && toString(bytes, &sid) && sid) text = sid;
  ::LocalFree(sid);
  ::SafeArrayUnaccessData(value.parray);
  return text;
}

jstring javaText(JNIEnv* env, const std::optional<std::wstring>& text) {
  return text ? newJavaString(env, text->c_str(), text->size()) : nullptr;
}
}  // namespace

std::vector<PickedObject> pickedObjects(const DS_SELECTION_LIST& list, SidToStringFn toString) {
  std::vector<PickedObject> objects;
  for (ULONG i = 0; i < list.cItems; ++i) {
    const DS_SELECTION& s = list.aDsSelection[i];
    objects.push_back({textOf(s.pwzName), textOf(s.pwzADsPath), textOf(s.pwzClass), textOf(s.pwzUPN),
                       sidOf(s, list.cFetchedAttributes, toString)});
  }
  return objects;
}

// Built element by element, so that only one object's references live at a time.
jobjectArray pickerResults(JNIEnv* env, const std::vector<PickedObject>& objects) {
  jclass resultClass = env->FindClass(kResultClass);
  if (!resultClass) {
    clearJavaException(env);
    return nullptr;
  }
  jobjectArray array = env->NewObjectArray(jsize(objects.size()), resultClass, nullptr);
  env->DeleteLocalRef(resultClass);
  if (!array) {
    clearJavaException(env);
    return nullptr;
  }
  for (std::size_t i = 0; i < objects.size(); ++i) {
    const PickedObject& o = objects[i];
    jvalue args[5];
    args[0].l = javaText(env, o.name);
    args[1].l = javaText(env, o.adsPath);
    args[2].l = javaText(env, o.objectClass);
    args[3].l = javaText(env, o.upn);
    args[4].l = javaText(env, o.sid);
    jobject element = newJavaObject(env, kResultClass, kResultConstructor, args);
    for (jvalue& arg : args) {
      if (arg.l) env->DeleteLocalRef(arg.l);
    }
    if (!element) {
      env->DeleteLocalRef(array);
      return nullptr;
    }
    env->SetObjectArrayElement(array, jsize(i), element);
    env->DeleteLocalRef(element);
  }
  return array;
}

}  // namespace shipkit::natives

namespace {

using namespace shipkit::natives;

static_assert(sizeof(DSOP_SCOPE_INIT_INFO) == 56, "the picker's scope record");
static_assert(sizeof(DSOP_INIT_INFO) == 48, "the picker's init record");

// From the loaded advapi32; cached once found.
SidToStringFn sidToString() {
  static SidToStringFn fn = nullptr;
  if (!fn) {
    HMODULE advapi = ::GetModuleHandleW(L"advapi32.dll");
    if (advapi)
      fn = reinterpret_cast<SidToStringFn>(
          reinterpret_cast<void*>(::GetProcAddress(advapi, "ConvertSidToStringSidW")));
  }
  return fn;
}

// The window the picker is modal to: the last visible top-level window of this process
// other than its console window, or else the console window.
HWND pickerParent() {
  struct Search {
    DWORD process;
    HWND console;
    HWND last;
  } search{::GetCurrentProcessId(), ::GetConsoleWindow(), nullptr};
  ::EnumWindows(
      [](HWND window, LPARAM data) -> BOOL {
        auto* s = reinterpret_cast<Search*>(data);
        DWORD process = 0;
        ::GetWindowThreadProcessId(window, &process);
        if (process == s->process && window != s->console && ::IsWindowVisible(window)) s->last = window;
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.last ? search.last : search.console;
}

std::optional<std::vector<PickedObject>> pick(const PickerWords& words, HWND parent, SidToStringFn toString) {
  IDsObjectPicker* picker = nullptr;
  if (FAILED(::CoCreateInstance(CLSID_DsObjectPicker, nullptr, CLSCTX_INPROC_SERVER, IID_IDsObjectPicker,
                                reinterpret_cast<void**>(&picker))) ||
      !picker)
    return std::nullopt;
  DSOP_SCOPE_INIT_INFO scope = {};
  scope.cbSize = sizeof scope;
  scope.flType = words.scopeType;
  scope.flScope = words.scopeFlags;
  scope.FilterFlags.Uplevel.flBothModes = words.uplevelFilter;
  scope.FilterFlags.flDownlevel = words.downlevelFilter;
  LPCWSTR attributes[] = {L"objectSID"};
  DSOP_INIT_INFO init = {};
  init.cbSize = sizeof init;
  init.pwzTargetComputer = nullptr;
  init.cDsScopeInfos = 1;
  init.aDsScopeInfos = &scope;
  init.flOptions = words.options;
  init.cAttributesToFetch = 1;
  init.apwzAttributeNames = attributes;

  std::optional<std::vector<PickedObject>> result;
  IDataObject* data = nullptr;
  if (SUCCEEDED(picker->Initialize(&init)) && picker->InvokeDialog(parent, &data) == S_OK && data) {
    FORMATETC format = {CLIPFORMAT(::RegisterClipboardFormatW(L"CFSTR_DSOP_DS_SELECTION_LIST")), nullptr,
                        DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium = {};
    if (SUCCEEDED(data->GetData(&format, &medium))) {
      if (const auto* list = static_cast<const DS_SELECTION_LIST*>(::GlobalLock(medium.hGlobal))) {
        result = pickedObjects(*list, toString);
        ::GlobalUnlock(medium.hGlobal);
      }
      ::ReleaseStgMedium(&medium);
    }
    data->Release();
  }
  picker->Release();
  return result;
}

}  // namespace

// The selected users and groups, or null when the picker was cancelled or failed or there is
// no window to be modal to ("could not find window" on standard output).
extern "C" JNIEXPORT jobjectArray JNICALL
Java_com_shipkit_runtime_installer_platform_win32_ObjectPicker_show0(JNIEnv* env, jclass,
                                                                     jboolean multiSelect, jboolean groups,
                                                                     jboolean users,
                                                                     jboolean wellKnownPrincipals,
                                                                     jboolean localComputerOnly) noexcept {
  return guarded<jobjectArray>(nullptr, [&]() -> jobjectArray {
    SidToStringFn toString = sidToString();
    if (!toString) return nullptr;
    const HWND parent = pickerParent();
    if (!parent) {
      std::printf("could not find window\n");
      std::fflush(stdout);
      return nullptr;
    }
    if (FAILED(::CoInitialize(nullptr))) return nullptr;
    const PickerWords words = pickerWords(multiSelect != JNI_FALSE, groups != JNI_FALSE, users != JNI_FALSE,
                                          wellKnownPrincipals != JNI_FALSE, localComputerOnly != JNI_FALSE);
    const auto selections = pick(words, parent, toString);
    ::CoUninitialize();
    std::fflush(stdout);
    return selections ? pickerResults(env, *selections) : nullptr;
  });
}
