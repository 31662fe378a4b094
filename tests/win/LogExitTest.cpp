// The diagnostic log while the process exits with a thread still writing to it.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "TestFiles.h"

namespace {

// Runs the helper with TEMP and TMP set to `dir`; returns its exit code.
DWORD runLogExit(const std::wstring& dir) {
  wchar_t oldTemp[MAX_PATH] = {}, oldTmp[MAX_PATH] = {};
  GetEnvironmentVariableW(L"TEMP", oldTemp, MAX_PATH);
  GetEnvironmentVariableW(L"TMP", oldTmp, MAX_PATH);
  SetEnvironmentVariableW(L"TEMP", dir.c_str());
  SetEnvironmentVariableW(L"TMP", dir.c_str());
  std::wstring command = L"\"Z:" LOGEXIT_EXE L"\"";
  for (wchar_t& c : command)
    if (c == L'/') c = L'\\';
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  DWORD code = 999;
  if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    if (WaitForSingleObject(pi.hProcess, 30000) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  SetEnvironmentVariableW(L"TEMP", oldTemp);
  SetEnvironmentVariableW(L"TMP", oldTmp);
  return code;
}

// Exit handlers delete an unrequested log; a line written after that must not create it
// again, and the writer must not meet destroyed state (a crash exits with 3 or 5).
TEST(DiagnosticLogAtExit, AWriterThreadNeitherRecreatesTheLogNorCrashes) {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring dir = std::wstring(temp) + L"skt_logexit_" + wintest::uniqueName();
  ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr));
  for (int run = 0; run < 5; ++run) {
    SCOPED_TRACE(run);
    EXPECT_EQ(runLogExit(dir), 0u);
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((dir + L"\\skt_nlog_*").c_str(), &data);
    EXPECT_EQ(find, INVALID_HANDLE_VALUE) << "a log was left behind";
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
  }
  std::string narrow(dir.begin(), dir.end());
  wintest::removeTree(narrow);
}

}  // namespace
