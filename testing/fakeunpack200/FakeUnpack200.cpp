// A stand-in for a Java runtime's bin\unpack200.exe, for tests of the pack200 step.
//
// Expects the command line  -r "<packed>" "<target>"  and writes the target as "jar:" followed
// by the packed file's content. Every run first appends its whole command line and CR LF to
// the file that FAKE_UNPACK200_RECORD names (when set). FAKE_UNPACK200_MODE changes what it
// does:
//   fail           exits with 2 and writes nothing
//   partial        writes the first half of the target, then exits with 2 (a full disk)
//   no-output      exits with 0 and writes nothing
//   remove-packed  writes the target, then deletes the packed file itself
// A command line of any other shape exits with 97.

#include <windows.h>

#include <string>

namespace {

std::string environment(const char* name) {
  char value[32768];
  DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
  return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

bool readFile(const std::string& path, std::string& out) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  char chunk[65536];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) out.append(chunk, got);
  CloseHandle(file);
  return true;
}

bool writeFile(const std::string& path, const std::string& data, DWORD disposition) {
  HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            disposition, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  if (disposition == OPEN_ALWAYS) SetFilePointer(file, 0, nullptr, FILE_END);
  DWORD written = 0;
  bool ok = WriteFile(file, data.data(), DWORD(data.size()), &written, nullptr) && written == data.size();
  CloseHandle(file);
  return ok;
}

// The next "..."-quoted argument at `at`, after any spaces.
bool quoted(const std::string& line, std::size_t& at, std::string& value) {
  while (at < line.size() && line[at] == ' ') ++at;
  if (at >= line.size() || line[at] != '"') return false;
  std::size_t end = line.find('"', at + 1);
  if (end == std::string::npos) return false;
  value = line.substr(at + 1, end - at - 1);
  at = end + 1;
  return true;
}

}  // namespace

int main() {
  std::string line = GetCommandLineA();
  std::string record = environment("FAKE_UNPACK200_RECORD");
  if (!record.empty()) writeFile(record, line + "\r\n", OPEN_ALWAYS);
  std::string packed, target;
  std::size_t at = 3;
  if (line.rfind("-r ", 0) != 0 || !quoted(line, at, packed) || !quoted(line, at, target)) return 97;
  std::string mode = environment("FAKE_UNPACK200_MODE");
  if (mode == "fail") return 2;
  if (mode == "no-output") return 0;
  std::string content;
  if (!readFile(packed, content)) return 3;
  if (mode == "partial") {
    writeFile(target, ("jar:" + content).substr(0, (content.size() + 4) / 2), CREATE_NEW);
    return 2;
  }
  if (!writeFile(target, "jar:" + content, CREATE_NEW)) return 4;
  if (mode == "remove-packed") DeleteFileA(packed.c_str());
  return 0;
}
