// The instance id registry value and window activation against Wine's registry and window
// manager. Value names are unique per run and removed afterwards.
#include <gtest/gtest.h>
#include <objbase.h>
#include <windows.h>

#include <chrono>
#include <string>
#include <thread>

#include "instance/SingleInstance.h"

namespace {

using namespace shipkit::instance;

constexpr const char* kPids = "SOFTWARE\\larkfield\\jarwrap\\pids\\";

std::string uniquePath() {
  GUID g;
  CoCreateGuid(&g);
  wchar_t text[64];
  StringFromGUID2(g, text, 64);
  std::wstring w(text);
  return "c:\\test\\" + std::string(w.begin(), w.end()) + "\\setup.exe";
}

struct PidValue {
  std::string name = uniquePath();
  ~PidValue() { RegDeleteKeyValueA(HKEY_CURRENT_USER, kPids, name.c_str()); }
  void set(DWORD type, const void* data, DWORD size) const {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kPids, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
              0);
    RegSetValueExA(key, name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
  }
};

}  // namespace

TEST(SingleInstance, InstancePidValue) {
  const DWORD pid = 4242;
  const unsigned long long wide = 4242;
  const WORD narrow = 4242;
  struct Row {
    const char* what;
    DWORD type;
    const void* data;
    DWORD size;
    DWORD expected;
  } rows[] = {
      {"a DWORD", REG_DWORD, &pid, 4, 4242},
      {"eight bytes", REG_QWORD, &wide, 8, 0},
      {"two bytes", REG_BINARY, &narrow, 2, 0},
      {"four bytes of another type", REG_BINARY, &pid, 4, 4242},
      {"missing", 0, nullptr, 0, 0},
  };
  for (const auto& row : rows) {
    PidValue v;
    if (row.data) v.set(row.type, row.data, row.size);
    EXPECT_EQ(readInstancePid(v.name), row.expected) << row.what;
  }
  PidValue v;
  recordInstancePid(v.name, 77);
  EXPECT_EQ(readInstancePid(v.name), 77u);
  recordInstancePid(v.name, 78);
  EXPECT_EQ(readInstancePid(v.name), 78u) << "a stale value is overwritten";
}

// The first instance may write its id a little after the second one looks.
TEST(SingleInstance, PidIsWaitedForWithinTheRetries) {
  PidValue late;
  std::thread writer([&] {
    Sleep(60);
    recordInstancePid(late.name, 99);
  });
  EXPECT_EQ(waitForInstancePid(late.name, 50, 10), 99u);
  writer.join();

  PidValue never;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(waitForInstancePid(never.name, 5, 10), 0u);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(45)) << "all retries waited";
}

TEST(SingleInstance, ActivationRestoresMinimizedWindowsWhenAsked) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = DefWindowProcA;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "SingleInstanceTestWindow";
  RegisterClassA(&wc);
  for (bool restore : {false, true}) {
    HWND w = CreateWindowExA(0, wc.lpszClassName, "instance", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                             nullptr, wc.hInstance, nullptr);
    ASSERT_NE(w, nullptr);
    ShowWindow(w, SW_MINIMIZE);
    ASSERT_TRUE(IsIconic(w));
    activateProcessWindows(GetCurrentProcessId(), restore);
    EXPECT_EQ(IsIconic(w) != FALSE, !restore) << restore;
    if (restore) {
      EXPECT_EQ(GetForegroundWindow(), w);
    }
    DestroyWindow(w);
  }
}
