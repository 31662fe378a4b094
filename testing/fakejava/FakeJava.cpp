// A stand-in for a Java runtime's java.exe, for tests of the version check.
//
// What a copy does comes from the text file "<its own path>.behaviour", one directive a line:
//   stderr TEXT        writes TEXT and CR LF to standard error (in file order)
//   exit N             the exit code (default 0)
//   hang               sleeps until it is terminated (after writing its output)
//   record-env NAME    the run's record also shows NAME's value, or "<unset>"
//   journal FILE LABEL also appends LABEL and CR LF to FILE, so that tests can see the order in
//                      which several copies ran
// Empty lines and lines beginning with "#" are ignored. Without a behaviour file it writes a
// complaint to standard error and exits with 97.
//
// Every run first appends one line to "<its own path>.runs":
//   pid=<process id>|cmd=<command line>[|NAME=<value>]...
// so that a test can count runs, see the arguments and find the process.

#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string modulePath() {
  std::string path(32768, '\0');
  DWORD n = GetModuleFileNameA(nullptr, path.data(), DWORD(path.size()));
  path.resize(n < path.size() ? n : 0);
  return path;
}

bool readFile(const std::string& path, std::string& out) {
  HANDLE file =
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) out.append(chunk, got);
  CloseHandle(file);
  return true;
}

void appendToFile(const std::string& path, const std::string& text) {
  HANDLE file =
      CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, text.data(), DWORD(text.size()), &written, nullptr);
  CloseHandle(file);
}

void writeStderr(const std::string& text) {
  HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  if (err == nullptr || err == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(err, text.data(), DWORD(text.size()), &written, nullptr);
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out.push_back(line);
    start = end + 1;
  }
  return out;
}

std::string envValue(const std::string& name) {
  DWORD size = GetEnvironmentVariableA(name.c_str(), nullptr, 0);
  if (size == 0) return "<unset>";
  std::string value(size, '\0');
  DWORD n = GetEnvironmentVariableA(name.c_str(), value.data(), size);
  value.resize(n < size ? n : 0);
  return value;
}

}  // namespace

int main() {
  const std::string self = modulePath();
  std::string behaviour;
  const bool haveBehaviour = readFile(self + ".behaviour", behaviour);

  std::vector<std::string> errLines;
  std::string record = "pid=" + std::to_string(GetCurrentProcessId()) + "|cmd=" + GetCommandLineA();
  int exitCode = 0;
  bool hang = false;
  for (const std::string& line : lines(behaviour)) {
    if (line.empty() || line[0] == '#') continue;
    std::size_t space = line.find(' ');
    const std::string verb = line.substr(0, space);
    const std::string rest = space == std::string::npos ? std::string() : line.substr(space + 1);
    if (verb == "stderr") {
      errLines.push_back(rest);
    } else if (verb == "exit") {
      exitCode = std::atoi(rest.c_str());
    } else if (verb == "hang") {
      hang = true;
    } else if (verb == "record-env") {
      record += "|" + rest + "=" + envValue(rest);
    } else if (verb == "journal") {
      std::size_t split = rest.find(' ');
      if (split != std::string::npos) appendToFile(rest.substr(0, split), rest.substr(split + 1) + "\r\n");
    }
  }
  appendToFile(self + ".runs", record + "\r\n");

  if (!haveBehaviour) {
    writeStderr("fakejava: no behaviour file beside " + self + "\r\n");
    return 97;
  }
  for (const std::string& line : errLines) writeStderr(line + "\r\n");
  if (hang)
    for (;;) Sleep(INFINITE);
  return exitCode;
}
