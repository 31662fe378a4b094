// The progress bar while a shipped runtime is unpacked: the untar step at 100..200 on a
// GNU tar archive made at build time, and the pack200 progress thread at 200..300, on a real
// progress bar control whose messages are recorded.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "TestFiles.h"
#include "core/DialogIds.h"
#include "jre/Pack200.h"
#include "jre/UntarGz.h"

namespace {

std::vector<int> gPositions;
WNDPROC gBarProc = nullptr;

LRESULT CALLBACK recordingBar(HWND bar, UINT message, WPARAM w, LPARAM l) {
  if (message == PBM_SETPOS) gPositions.push_back(int(w));
  return CallWindowProcW(gBarProc, bar, message, w, l);
}

// A parent window with a progress bar of the dialog's id whose positions are recorded.
class ProgressWindow : public testing::Test {
 protected:
  void SetUp() override {
    INITCOMMONCONTROLSEX init = {sizeof init, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&init);
    parent_ = CreateWindowExW(0, L"STATIC", L"progress", WS_OVERLAPPED, 0, 0, 300, 100, nullptr, nullptr,
                              nullptr, nullptr);
    ASSERT_NE(parent_, nullptr);
    HWND bar = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD, 0, 0, 200, 20, parent_,
                               HMENU(INT_PTR(shipkit::core::kProgressBar)), nullptr, nullptr);
    ASSERT_NE(bar, nullptr);
    SendMessageW(bar, PBM_SETRANGE, 0, MAKELPARAM(0, 400));
    gBarProc = WNDPROC(SetWindowLongPtrW(bar, GWLP_WNDPROC, LONG_PTR(recordingBar)));
    gPositions.clear();
  }
  void TearDown() override {
    if (parent_) DestroyWindow(parent_);
  }
  HWND parent_ = nullptr;
};

}  // namespace

TEST_F(ProgressWindow, UntarMovesTheBarThrough100To200) {
  char tmp[MAX_PATH];
  GetTempPathA(MAX_PATH, tmp);
  std::string root = std::string(tmp) + "skt_untar_progress_" + std::to_string(GetCurrentProcessId());
  wintest::removeTree(root);
  ASSERT_TRUE(CreateDirectoryA(root.c_str(), nullptr));
  std::string target = root + "\\jre";
  ASSERT_TRUE(CreateDirectoryA(target.c_str(), nullptr));
  // The uncompressed size is the gzip trailer's last four bytes.
  std::ifstream in(PROGRESS_ARCHIVE, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  std::string gz = bytes.str();
  ASSERT_GT(gz.size(), 4u);
  uint32_t total = 0;
  for (int i = 0; i < 4; ++i) total |= uint32_t(uint8_t(gz[gz.size() - 4 + i])) << (8 * i);
  char before[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, before);
  shipkit::jre::MemberName uncreatable;
  EXPECT_TRUE(shipkit::jre::untarGz(PROGRESS_ARCHIVE, target.c_str(), parent_, int32_t(total), uncreatable));
  char after[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, after);
  EXPECT_STREQ(before, after);
  // A position per regular member (eight large files) and while a member is copied slowly;
  // the fifty tiny members add no position of their own: each position is sent once.
  ASSERT_GE(gPositions.size(), 8u);
  ASSERT_LT(gPositions.size(), 50u);
  EXPECT_EQ(gPositions.front(), 100);
  for (std::size_t i = 1; i < gPositions.size(); ++i) EXPECT_GT(gPositions[i], gPositions[i - 1]) << i;
  EXPECT_GE(gPositions.back(), 180);
  EXPECT_LE(gPositions.back(), 200);
  for (const char* file : {"\\lib\\f8", "\\small\\s50"})
    EXPECT_NE(GetFileAttributesA((target + file).c_str()), INVALID_FILE_ATTRIBUTES) << file;
  wintest::removeTree(root);
}

TEST_F(ProgressWindow, Pack200ThreadMovesTheBarFrom200To300InTenSteps) {
  shipkit::jre::startPack200Progress(parent_, 50);  // steps of 5 ms
  // The thread posts its positions; take them from the queue until 300 arrives (bounded).
  DWORD deadline = GetTickCount() + 10000;
  while ((gPositions.empty() || gPositions.back() < 300) && GetTickCount() < deadline) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
  }
  shipkit::jre::stopPack200Progress();
  EXPECT_EQ(gPositions, (std::vector<int>{210, 220, 230, 240, 250, 260, 270, 280, 290, 300}));
}
