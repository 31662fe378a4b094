// The diagnostic log while the process exits with a thread still writing to it.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <thread>

#include "TestFiles.h"
#include "core/Log.h"

namespace {

// Runs the helper with TEMP and TMP set to `dir`; returns its exit code.
DWORD runLogExit(const std::wstring& dir, const wchar_t* mode) {
  wchar_t oldTemp[MAX_PATH] = {}, oldTmp[MAX_PATH] = {};
  GetEnvironmentVariableW(L"TEMP", oldTemp, MAX_PATH);
  GetEnvironmentVariableW(L"TMP", oldTmp, MAX_PATH);
  SetEnvironmentVariableW(L"TEMP", dir.c_str());
  SetEnvironmentVariableW(L"TMP", dir.c_str());
  std::wstring command = L"\"Z:" LOGEXIT_EXE L"\" " + std::wstring(mode);
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
  for (int run = 0; run < 6; ++run) {
    // Every other run the writer keeps the log open in a batch: the exit still removes it.
    const wchar_t* mode = run % 2 ? L"batch" : L"plain";
    SCOPED_TRACE(run);
    EXPECT_EQ(runLogExit(dir, mode), 0u);
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((dir + L"\\skt_nlog_*").c_str(), &data);
    EXPECT_EQ(find, INVALID_HANDLE_VALUE) << "a log was left behind";
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
  }
  std::string narrow(dir.begin(), dir.end());
  wintest::removeTree(narrow);
}

// Lines (text mode: CR LF) written in a batch reach the file at once, in order, also from another thread;
// once the batch ends nobody holds the file (it opens without sharing).
TEST(DiagnosticLog, ABatchSharesOneStreamAndReleasesItAtItsEnd) {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring dir = std::wstring(temp) + L"skt_logbatch_" + wintest::uniqueName();
  ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr));
  SetEnvironmentVariableW(L"TEMP", dir.c_str());
  SetEnvironmentVariableW(L"TMP", dir.c_str());
  shipkit::core::logLine(L"before");
  const std::wstring path = shipkit::core::getLogPath().value_or(L"");
  ASSERT_FALSE(path.empty());
  auto content = [&] {
    std::string text;
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
    CloseHandle(file);
    return text;
  };
  {
    shipkit::core::LogBatch outer;
    shipkit::core::logLine(L"in batch %d", 1);
    {
      shipkit::core::LogBatch inner;
      std::thread([] { shipkit::core::logError(L"from %S", "another thread"); }).join();
    }
    shipkit::core::logLine(L"in batch %d", 2);
    const std::string text = content();
    const auto first = text.find("in batch 1\r\n"), other = text.find("ERROR: from another thread\r\n"),
               second = text.find("in batch 2\r\n");
    EXPECT_TRUE(first != std::string::npos && other != std::string::npos && second != std::string::npos &&
                first < other && other < second)
        << text;
    HANDLE exclusive = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(exclusive, INVALID_HANDLE_VALUE) << "the batch holds the file";
    if (exclusive != INVALID_HANDLE_VALUE) CloseHandle(exclusive);
  }
  HANDLE exclusive = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(exclusive, INVALID_HANDLE_VALUE) << "the file is still held after the batch";
  CloseHandle(exclusive);
  shipkit::core::logLine(L"after");
  EXPECT_NE(content().find("after\r\n"), std::string::npos);
  wintest::removeTree(std::string(dir.begin(), dir.end()));
}

}  // namespace
