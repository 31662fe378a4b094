#pragma once
// A real HTTP server on 127.0.0.1 for the Windows tests: Python's http.server, started as a
// Unix program (Wine runs Unix executables named by a Z: path but hands back no usable
// process handle, so the server records its Unix pid and is ended with kill). It serves a
// fresh directory below /tmp on a port that was free when the test began, and ends by
// itself after two minutes should the test never stop it.

#include <winsock2.h>
#include <ws2tcpip.h>
// winsock2.h before windows.h
#include <windows.h>

#include <string>

#include "TestFiles.h"

namespace nativetest {

// A port on 127.0.0.1 that nothing listens on at the moment.
inline int freeLoopbackPort() {
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int port = 0;
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    int size = sizeof address;
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &size);
    port = ntohs(address.sin_port);
  }
  closesocket(s);
  return port;
}

inline bool acceptsConnections(int port) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(u_short(port));
  bool ok = connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  closesocket(s);
  return ok;
}

inline bool runUnix(std::string commandLine) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &started))
    return false;
  // Wine's handles to Unix processes are not waitable; closing them is harmless.
  CloseHandle(started.hThread);
  CloseHandle(started.hProcess);
  return true;
}

class LoopbackHttpServer {
 public:
  // unique: a name part that no other run uses.
  explicit LoopbackHttpServer(const std::string& unique)
      : unixDir_("/tmp/shipkit-http-" + unique), windowsDir_("Z:\\tmp\\shipkit-http-" + unique) {
    CreateDirectoryA(windowsDir_.c_str(), nullptr);
    port_ = freeLoopbackPort();
    runUnix("Z:\\bin\\sh -c \"echo $$ > " + unixDir_ + "/.pid; exec timeout 120 python3 -m http.server " +
            std::to_string(port_) + " --bind 127.0.0.1 --directory " + unixDir_ + " >/dev/null 2>&1\"");
    for (int i = 0; i < 200 && !ready_; ++i) {
      ready_ = acceptsConnections(port_);
      if (!ready_) Sleep(50);
    }
  }
  ~LoopbackHttpServer() {
    runUnix("Z:\\bin\\sh -c \"kill $(cat " + unixDir_ + "/.pid)\"");
    for (int i = 0; i < 100 && acceptsConnections(port_); ++i) Sleep(50);
    wintest::removeTree(windowsDir_);
  }
  LoopbackHttpServer(const LoopbackHttpServer&) = delete;
  LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

  bool ready() const { return ready_; }
  int port() const { return port_; }
  std::string url(const std::string& file) const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/" + file;
  }
  // Puts a file into the served directory.
  bool serve(const std::string& file, const std::string& content) const {
    HANDLE h = CreateFileA((windowsDir_ + "\\" + file).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD put = 0;
    bool ok = WriteFile(h, content.data(), DWORD(content.size()), &put, nullptr) && put == content.size();
    CloseHandle(h);
    return ok;
  }

 private:
  std::string unixDir_;
  std::string windowsDir_;
  int port_ = 0;
  bool ready_ = false;
};

}  // namespace nativetest
