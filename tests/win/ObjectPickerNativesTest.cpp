// ObjectPicker.show0 with Wine's directory object picker under the null display driver,
// modal to a window of this process and answered by a helper thread.
#include <gtest/gtest.h>
#include <jni.h>
#include <windows.h>

// After windows.h, which it builds on.
#include <io.h>
#include <oleauto.h>
#include <sddl.h>

#include <fstream>
#include <iterator>
#include <string>

#include "DialogDriver.h"
#include "NativeCallSupport.h"
#include "natives/dialogs/PickerSelection.h"

namespace {

using nlohmann::json;
using wintest::utf8;

class ObjectPickerNatives : public wintest::NativeCalls {
 protected:
  void SetUp() override {
    NativeCalls::SetUp();
    parent_ = CreateWindowExW(0, L"STATIC", L"shipkit picker parent", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                              300, 200, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(parent_, nullptr);
  }
  void TearDown() override { DestroyWindow(parent_); }

  // The picker: a dialog of this process owned by the parent window.
  std::function<HWND()> picker() {
    return [parent = parent_] {
      struct Search {
        HWND parent, found;
      } s{parent, nullptr};
      EnumWindows(
          [](HWND w, LPARAM data) -> BOOL {
            auto* s = reinterpret_cast<Search*>(data);
            DWORD pid = 0;
            GetWindowThreadProcessId(w, &pid);
            if (pid == GetCurrentProcessId() && w != s->parent && GetWindow(w, GW_OWNER) == s->parent) {
              s->found = w;
              return FALSE;
            }
            return TRUE;
          },
          reinterpret_cast<LPARAM>(&s));
      return s.found;
    };
  }
  HWND parent_ = nullptr;
};

// Wine's IDsObjectPicker::InvokeDialog is a stub that shows nothing and fails: the call
// ends without a selection, which the native answers with null.
TEST_F(ObjectPickerNatives, NoSelectionIsNull) {
  EXPECT_EQ(call("ObjectPicker.show0", {false, true, true, false, true}), nullptr);
  EXPECT_EQ(call("ObjectPicker.show0", {true, false, true, true, false}), nullptr);
}

TEST_F(ObjectPickerNatives, CancelIsNull) {
  if (wintest::runningOnWine())
    GTEST_SKIP() << "Wine's IDsObjectPicker::InvokeDialog is a stub: no dialog to cancel";
  wintest::DialogDriver driver(picker(), [&](HWND dialog) { PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0); });
  EXPECT_EQ(call("ObjectPicker.show0", {false, true, true, false, true}), nullptr);
  EXPECT_TRUE(driver.finish());
}

// Standard output of the calls made while it lives, read back from a temporary file.
class CapturedStdout {
 public:
  CapturedStdout() {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    path_ = std::string(temp) + "shipkit-stdout-" + std::to_string(GetCurrentProcessId()) + ".txt";
    fflush(stdout);
    saved_ = _dup(_fileno(stdout));
    FILE* file = fopen(path_.c_str(), "wb");
    _dup2(_fileno(file), _fileno(stdout));
    fclose(file);
  }
  std::string finish() {
    fflush(stdout);
    _dup2(saved_, _fileno(stdout));
    _close(saved_);
    std::ifstream in(path_, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    DeleteFileA(path_.c_str());
    return text;
  }

 private:
  std::string path_;
  int saved_ = -1;
};

TEST(ObjectPickerWithoutWindow, PrintsAndIsNull) {
  if (GetConsoleWindow()) GTEST_SKIP() << "this process has a console window to be modal to";
  fakejvm::Vm vm;
  wintest::NativeCalls::registerAll(vm);
  CapturedStdout out;
  const json r = vm.callNative({{"call", "ObjectPicker.show0"}, {"args", {false, true, true, false, true}}});
  const std::string printed = out.finish();
  EXPECT_EQ(r["result"], nullptr);
  EXPECT_EQ(printed, "could not find window\n");
}

// A selection list as the picker hands it over, turned into Result objects. The picker
// cannot be shown under Wine, so the list is made here.
TEST_F(ObjectPickerNatives, SelectionsBecomeResultsInOrder) {
  PSID users = nullptr;
  ASSERT_TRUE(ConvertStringSidToSidW(L"S-1-5-32-545", &users));
  const ULONG sidSize = GetLengthSid(users);
  SAFEARRAY* bytes = SafeArrayCreateVector(VT_UI1, 0, sidSize);
  void* data = nullptr;
  SafeArrayAccessData(bytes, &data);
  memcpy(data, users, sidSize);
  SafeArrayUnaccessData(bytes);
  LocalFree(users);
  SAFEARRAY* notASid = SafeArrayCreateVector(VT_UI1, 0, 3);  // too short to be a SID

  VARIANT sidValue, wrongType, shortValue;
  VariantInit(&sidValue);
  sidValue.vt = VT_ARRAY | VT_UI1;
  sidValue.parray = bytes;
  VariantInit(&wrongType);
  wrongType.vt = VT_I4;
  wrongType.lVal = 545;
  VariantInit(&shortValue);
  shortValue.vt = VT_ARRAY | VT_UI1;
  shortValue.parray = notASid;

  std::vector<unsigned char> buffer(sizeof(DS_SELECTION_LIST) + 3 * sizeof(DS_SELECTION));
  auto* list = reinterpret_cast<DS_SELECTION_LIST*>(buffer.data());
  list->cItems = 4;
  list->cFetchedAttributes = 1;
  wchar_t name[] = L"Users", path[] = L"WinNT://HOST/Users", cls[] = L"group", upn[] = L"users@host",
          other[] = L"Zo\u00eb";
  list->aDsSelection[0] = {name, path, cls, nullptr, &sidValue, 0};
  list->aDsSelection[0].pwzUPN = upn;
  list->aDsSelection[1] = {other, nullptr, nullptr, nullptr, &wrongType, 0};
  list->aDsSelection[2] = {nullptr, nullptr, nullptr, nullptr, nullptr, 0};
  list->aDsSelection[3] = {other, nullptr, cls, nullptr, &shortValue, 0};

  auto* toString = reinterpret_cast<shipkit::natives::SidToStringFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"advapi32.dll"), "ConvertSidToStringSidW")));
  const auto objects = shipkit::natives::pickedObjects(*list, toString);
  jobjectArray results = shipkit::natives::pickerResults(vm_.env(), objects);
  ASSERT_NE(results, nullptr);
  const json shown = vm_.toJson(vm_.resolve(results, "test"));
  vm_.env()->DeleteLocalRef(results);
  const std::string ctor =
      "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;)V";
  const json expected = {
      {"Users", "WinNT://HOST/Users", "group", "users@host", "S-1-5-32-545"},
      {"Zo\u00eb", nullptr, nullptr, nullptr, nullptr},
      {nullptr, nullptr, nullptr, nullptr, nullptr},
      {"Zo\u00eb", nullptr, "group", nullptr, nullptr},
  };
  ASSERT_EQ(shown.size(), expected.size()) << shown.dump();
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(shown[i]["class"], "com/shipkit/runtime/installer/platform/win32/ObjectPicker$Result");
    EXPECT_EQ(shown[i]["constructor"], ctor);
    EXPECT_EQ(shown[i]["args"], expected[i]) << i;
  }
  EXPECT_EQ(vm_.liveLocalRefs(), 0u);

  list->cFetchedAttributes = 0;  // nothing fetched: no SID even where a value is present
  EXPECT_FALSE(shipkit::natives::pickedObjects(*list, toString)[0].sid);
  SafeArrayDestroy(bytes);
  SafeArrayDestroy(notASid);
}

}  // namespace
