// VistaTaskDialog.show0 under Wine's null display driver, answered by a helper thread as a
// user would answer it.
#include <gtest/gtest.h>
#include <jni.h>
#include <windows.h>

// After windows.h, which they build on.
#include <commctrl.h>

#include <string>

#include "DialogDriver.h"
#include "NativeCallSupport.h"

namespace {

using nlohmann::json;
using wintest::utf8;

constexpr int kAllowCancellation = 0x8;  // TDF_ALLOW_DIALOG_CANCELLATION

class TaskDialogNatives : public wintest::NativeCalls {
 protected:
  void SetUp() override {
    NativeCalls::SetUp();
    // The launcher runs with the version-6 common controls loaded; so does this test.
    ASSERT_NE(LoadLibraryW(L"comctl32.dll"), nullptr);
    static int n = 0;
    title_ = L"shipkit task " + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++n);
  }
  json show(HWND parent, int flags, const json& verification, const json& labels, int defaultIndex) {
    return call("VistaTaskDialog.show0", {static_cast<long long>(reinterpret_cast<LONG_PTR>(parent)),
                                          utf8(title_),
                                          "Main instruction",
                                          "Some content",
                                          flags,
                                          32515 /* IDI_WARNING */,
                                          0,
                                          verification,
                                          {{"String[]", labels}},
                                          defaultIndex});
  }
  std::wstring title_;
};

// The dialog's default button, as the dialog manager reports it; -1 for none.
int defaultId(HWND dialog) {
  const LRESULT r = SendMessageW(dialog, DM_GETDEFID, 0, 0);
  return HIWORD(r) == DC_HASDEFID ? LOWORD(r) : -1;
}

TEST_F(TaskDialogNatives, DefaultButtonPressedGivesItsIndex) {
  int seenDefault = 0;
  wintest::DialogDriver driver(title_, [&](HWND dialog) {
    seenDefault = defaultId(dialog);
    PostMessageW(dialog, TDM_CLICK_BUTTON, WPARAM(seenDefault), 0);
  });
  EXPECT_EQ(show(nullptr, 0, nullptr, {"One", "Two", "Three"}, 2), 3);
  EXPECT_TRUE(driver.finish());
  EXPECT_EQ(seenDefault, 103);
}

TEST_F(TaskDialogNatives, TickedVerificationNegatesTheResult) {
  bool boxShown = false;
  wintest::DialogDriver driver(title_, [&](HWND dialog) {
    boxShown = wintest::findChild(dialog, L"Button", L"Do not ask again") != nullptr;
    SendMessageW(dialog, TDM_CLICK_VERIFICATION, TRUE, FALSE);
    PostMessageW(dialog, TDM_CLICK_BUTTON, 103, 0);
  });
  EXPECT_EQ(show(nullptr, 0, "Do not ask again", {"One", "Two", "Three"}, 2), -3);
  EXPECT_TRUE(driver.finish());
  EXPECT_TRUE(boxShown);
}

TEST_F(TaskDialogNatives, OtherButtonsCountFromOne) {
  wintest::DialogDriver driver(title_, [&](HWND dialog) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(101, BN_CLICKED),
                 LPARAM(wintest::findChild(dialog, L"Button", L"One")));
  });
  EXPECT_EQ(show(nullptr, 0, nullptr, {"One", "Two", "Three"}, 2), 1);
  EXPECT_TRUE(driver.finish());
}

TEST_F(TaskDialogNatives, ClosedWithoutAButtonGives1000) {
  wintest::DialogDriver driver(title_, [&](HWND dialog) { PostMessageW(dialog, WM_CLOSE, 0, 0); });
  EXPECT_EQ(show(nullptr, kAllowCancellation, nullptr, {"One", "Two", "Three"}, 2), 1000);
  EXPECT_TRUE(driver.finish());
}

// With a parent the timer callback runs; the dialog stays answerable and modal to it.
TEST_F(TaskDialogNatives, WithAParentWindow) {
  HWND parent = CreateWindowExW(0, L"STATIC", L"shipkit parent", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300,
                                200, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(parent, nullptr);
  bool parentDisabled = false;
  HWND owner = nullptr;
  wintest::DialogDriver driver(title_, [&](HWND dialog) {
    parentDisabled = !IsWindowEnabled(parent);
    owner = GetWindow(dialog, GW_OWNER);
    PostMessageW(dialog, TDM_CLICK_BUTTON, 102, 0);
  });
  EXPECT_EQ(show(parent, 0, nullptr, {"One", "Two"}, 0), 2);
  EXPECT_TRUE(driver.finish());
  EXPECT_TRUE(parentDisabled);
  EXPECT_EQ(owner, parent);
  DestroyWindow(parent);
}

}  // namespace
