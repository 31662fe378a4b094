#pragma once
// testing/httpserve.py on 127.0.0.1 for the end-to-end download tests.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "E2eSupport.h"

namespace e2e {

// testing/httpserve.py serving `dir`/jre.tar.gz; ended with the test.
class HttpServer {
 public:
  explicit HttpServer(const fs::path& dir) : dir_(dir) {
    std::string script = (repoRoot() / "testing" / "httpserve.py").string();
    pid_ = ::fork();
    if (pid_ == 0) {
      ::unsetenv("http_proxy");
      ::unsetenv("https_proxy");
      ::execlp("python3", "python3", script.c_str(), dir.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    for (int i = 0; i < 200 && !fs::exists(dir / "port"); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    port_ = std::atoi(Sandbox::readFile(dir / "port").c_str());
  }
  ~HttpServer() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  int port() const { return port_; }
  std::string url(const std::string& mode) const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/" + mode + "/jre.tar.gz";
  }
  // "path|user agent" per request.
  std::vector<std::string> requests() const {
    std::vector<std::string> lines;
    std::istringstream in(Sandbox::readFile(dir_ / "requests"));
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
  }

 private:
  fs::path dir_;
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace e2e
