#pragma once
// Shared by the tests that call natives through the fake JNI environment: the natives bound
// by the launcher's registerNatives, a checked call, and the helper process pipepeer.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <io.h>
#include <jni.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "NativeCall.h"
#include "Vm.h"

namespace nativetest {

using nlohmann::json;

class BoundNatives {
 public:
  explicit BoundNatives(const json& scenario = json::object()) : vm_(scenario) {
    bound_ = wintest::registerAllNatives(vm_);
  }
  bool bound() const { return bound_; }

  // Calls "<Class>.<method>" as the virtual machine would and returns the whole record. No
  // call may leave an exception, a pinned buffer or a local reference behind.
  json record(const std::string& target, const json& args) {
    return wintest::checkedNativeCall(vm_, target, args);
  }
  json call(const std::string& target, const json& args) { return record(target, args)["result"]; }
  fakejvm::Vm& vm() { return vm_; }

 private:
  fakejvm::Vm vm_;
  bool bound_ = false;
};

// A Java byte[] as the fake's report shows it.
inline json javaBytes(const std::vector<std::uint8_t>& bytes) {
  json list = json::array();
  for (std::uint8_t b : bytes) list.push_back(int(std::int8_t(b)));
  return json{{"byte[]", list}};
}

// A name no other test run uses: the process id and the start time, and a counter.
inline std::wstring uniqueName(const wchar_t* what) {
  static const std::wstring run =
      std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount64());
  static int counter = 0;
  return std::wstring(what) + L"-" + run + L"-" + std::to_wstring(++counter);
}

inline std::string utf8(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += c < 0x80 ? char(c) : '?';
  return out;
}

inline std::wstring windowsPath(std::string unixPath) {
  for (char& c : unixPath)
    if (c == '/') c = '\\';
  return L"Z:" + std::wstring(unixPath.begin(), unixPath.end());
}

inline std::wstring pipePeerPath() {
  return windowsPath(PIPEPEER_EXE);
}

// A started pipepeer; ended (if still running) when the owner goes.
class Peer {
 public:
  explicit Peer(const std::wstring& arguments) {
    std::wstring line = L"\"" + pipePeerPath() + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &info_)) {
      CloseHandle(info_.hThread);
    }
  }
  ~Peer() {
    if (info_.hProcess) {
      if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(info_.hProcess, 99);
      CloseHandle(info_.hProcess);
    }
  }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  bool started() const { return info_.hProcess != nullptr; }
  DWORD id() const { return info_.dwProcessId; }
  // The exit code, or 0x7FFFFFFF when it did not end within the time.
  DWORD exitCode(DWORD timeoutMs = 20000) const {
    if (!info_.hProcess || WaitForSingleObject(info_.hProcess, timeoutMs) != WAIT_OBJECT_0) return 0x7FFFFFFF;
    DWORD code = 0;
    GetExitCodeProcess(info_.hProcess, &code);
    return code;
  }

 private:
  PROCESS_INFORMATION info_{};
};

// What the process writes to standard output while the capture lives.
class StdoutCapture {
 public:
  StdoutCapture() {
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    path_ = std::wstring(dir) + uniqueName(L"stdout") + L".txt";
    std::fflush(stdout);
    saved_ = _dup(_fileno(stdout));
    int fd = _wopen(path_.c_str(), _O_CREAT | _O_TRUNC | _O_WRONLY | _O_BINARY, 0600);
    _dup2(fd, _fileno(stdout));
    _close(fd);
  }
  ~StdoutCapture() { finish(); }
  std::string finish() {
    if (saved_ >= 0) {
      std::fflush(stdout);
      _dup2(saved_, _fileno(stdout));
      _close(saved_);
      saved_ = -1;
      FILE* f = _wfopen(path_.c_str(), L"rb");
      if (f) {
        char chunk[4096];
        for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) text_.append(chunk, n);
        std::fclose(f);
      }
      DeleteFileW(path_.c_str());
    }
    return text_;
  }

 private:
  std::wstring path_;
  int saved_ = -1;
  std::string text_;
};

}  // namespace nativetest
