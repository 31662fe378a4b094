// VistaFileChooser.displayDialog0 with Wine's common item dialog under the null display
// driver, answered by a helper thread as a user would answer it.
#include <gtest/gtest.h>
#include <jni.h>
#include <objbase.h>
#include <windows.h>

#include <string>

#include "DialogDriver.h"
#include "NativeCallSupport.h"
#include "TestFiles.h"

namespace {

using nlohmann::json;
using wintest::utf8;

std::string controls(HWND dialog) {
  std::string out;
  EnumChildWindows(
      dialog,
      [](HWND child, LPARAM data) -> BOOL {
        wchar_t cls[64] = {}, text[128] = {};
        GetClassNameW(child, cls, 64);
        GetWindowTextW(child, text, 128);
        *reinterpret_cast<std::string*>(data) += utf8(cls) + " #" + std::to_string(GetDlgCtrlID(child)) +
                                                 " '" + utf8(text) + "' " +
                                                 (IsWindowVisible(child) ? "v" : "h") + "\n";
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&out));
  return out;
}

class FileChooserNatives : public wintest::NativeCalls {
 protected:
  void SetUp() override {
    NativeCalls::SetUp();
    call("VistaFileChooser.initialize0", json::array());
    static int n = 0;
    title_ = L"shipkit files " + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++n);
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    dir_ = std::string(temp) + "shipkit-chooser-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(GetTickCount64());
    CreateDirectoryA(dir_.c_str(), nullptr);
    CloseHandle(
        CreateFileA((dir_ + "\\chosen.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  }
  void TearDown() override {
    wintest::removeTree(dir_);
    CoUninitialize();
  }
  // displayDialog0 with the arguments a test varies; the call's record (args after the call).
  json show(bool save, const json& fileName, const json& labels, const json& states,
            const json& filterNames = nullptr, const json& filterPatterns = nullptr, int filterIndex = -1) {
    auto arrayOr = [](const char* tag, const json& v) { return v.is_null() ? v : json{{tag, v}}; };
    return record("VistaFileChooser.displayDialog0",
                  {0, utf8(title_), "Take it", dir_, fileName, 0, 0, save, nullptr,
                   arrayOr("String[]", filterNames), arrayOr("String[]", filterPatterns), filterIndex,
                   arrayOr("String[]", labels), arrayOr("boolean[]", states)});
  }
  std::wstring title_;
  std::string dir_;
};

// What the helper saw of the dialog before answering it.
struct Seen {
  std::string controls;
  bool optionsGroup = false;
  std::vector<int> checkStates;  // BST_CHECKED per check box, in label order
  std::string okLabel, fileType;
};

Seen look(HWND dialog, const std::vector<std::wstring>& labels) {
  Seen seen;
  seen.controls = controls(dialog);
  seen.optionsGroup = wintest::findChild(dialog, L"Static", L"Options:") != nullptr;
  for (const auto& label : labels) {
    HWND box = wintest::findChild(dialog, L"Button", label);
    seen.checkStates.push_back(box ? int(SendMessageW(box, BM_GETCHECK, 0, 0)) : -1);
  }
  wchar_t text[128] = {};
  GetWindowTextW(GetDlgItem(dialog, IDOK), text, 128);
  seen.okLabel = utf8(text);
  HWND types = wintest::findChild(dialog, L"ComboBox", L"");
  if (!types) {
    EnumChildWindows(
        dialog,
        [](HWND child, LPARAM out) -> BOOL {
          wchar_t cls[32] = {};
          GetClassNameW(child, cls, 32);
          if (lstrcmpiW(cls, L"ComboBox") == 0) {
            *reinterpret_cast<HWND*>(out) = child;
            return FALSE;
          }
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&types));
  }
  GetWindowTextW(types, text, 128);
  seen.fileType = utf8(text);
  return seen;
}

void clickOk(HWND dialog) {
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), LPARAM(GetDlgItem(dialog, IDOK)));
}

TEST_F(FileChooserNatives, OpenReturnsTheChosenPathAndTheCheckBoxStates) {
  Seen seen;
  wintest::DialogDriver driver(title_, [&](HWND dialog) {
    seen = look(dialog, {L"Alpha", L"Beta"});
    SendMessageW(wintest::findChild(dialog, L"Button", L"Alpha"), BM_CLICK, 0, 0);
    SendMessageW(wintest::findChild(dialog, L"Button", L"Beta"), BM_CLICK, 0, 0);
    clickOk(dialog);
  });
  const json r = show(false, "chosen.txt", {"Alpha", "Beta"}, {true, false});
  EXPECT_TRUE(driver.finish());
  EXPECT_EQ(r["result"], json({dir_ + "\\chosen.txt"})) << seen.controls;
  EXPECT_TRUE(seen.optionsGroup) << "two labels sit in the group";
  EXPECT_EQ(seen.checkStates, (std::vector<int>{BST_CHECKED, BST_UNCHECKED})) << "initial states";
  EXPECT_EQ(seen.okLabel, "Take it");
  EXPECT_EQ(r["args"][13], json({{"boolean[]", {false, true}}})) << "states after the dialog";
}

TEST_F(FileChooserNatives, OneCheckBoxHasNoGroup) {
  Seen seen;
  wintest::DialogDriver driver(title_, [&](HWND dialog) {
    seen = look(dialog, {L"Only"});
    clickOk(dialog);
  });
  const json r = show(false, "chosen.txt", {"Only"}, {true});
  EXPECT_TRUE(driver.finish());
  EXPECT_FALSE(seen.optionsGroup) << seen.controls;
  EXPECT_EQ(seen.checkStates, (std::vector<int>{BST_CHECKED}));
  EXPECT_EQ(r["args"][13], json({{"boolean[]", {true}}}));
}

TEST_F(FileChooserNatives, CancelIsNullAndLeavesTheStates) {
  wintest::DialogDriver driver(title_, [&](HWND dialog) {
    SendMessageW(wintest::findChild(dialog, L"Button", L"Alpha"), BM_CLICK, 0, 0);
    PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
  });
  const json r = show(false, "chosen.txt", {"Alpha"}, {false});
  EXPECT_TRUE(driver.finish());
  EXPECT_EQ(r["result"], nullptr);
  EXPECT_EQ(r["args"][13], json({{"boolean[]", {false}}}));
}

TEST_F(FileChooserNatives, SaveReturnsTheNamedPath) {
  wintest::DialogDriver driver(title_, [&](HWND dialog) { clickOk(dialog); });
  const json r = show(true, "new.txt", nullptr, nullptr);
  EXPECT_TRUE(driver.finish());
  EXPECT_EQ(r["result"], json({dir_ + "\\new.txt"}));
}

TEST_F(FileChooserNatives, FilterIndexPicksTheFileType) {
  struct Row {
    int index;
    const char* shown;
  };
  for (const Row& row : {Row{-1, "Text"}, Row{1, "All"}, Row{0, "Text"}}) {
    Seen seen;
    wintest::DialogDriver driver(title_, [&](HWND dialog) {
      seen = look(dialog, {});
      PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    show(false, nullptr, nullptr, nullptr, {"Text", "All"}, {"*.txt", "*.*"}, row.index);
    EXPECT_TRUE(driver.finish());
    EXPECT_EQ(seen.fileType, row.shown) << row.index;
  }
}

}  // namespace
