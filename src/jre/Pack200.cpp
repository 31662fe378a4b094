#include "jre/Pack200.h"

#include <atomic>
#include <vector>

#include "core/ErrorDisplay.h"
#include "core/Log.h"
#include "core/Progress.h"
#include "win/Unique.h"

namespace shipkit::jre {

using core::logError;
using core::logLine;

namespace {

constexpr std::size_t kPackSuffix = 5;  // ".pack"

// Shared with the progress thread, which only reads them.
std::atomic<bool> gPack200Done{false};
std::atomic<DWORD> gUntarDuration{0};

bool exists(const std::string& path) {
  return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void unpackJarsInDir(const std::string& home, const char* subdirectory, bool& announced) {
  std::string pattern = home + "\\" + subdirectory + "\\*.jar.pack";
  WIN32_FIND_DATAA found;
  win::UniqueFind find(::FindFirstFileA(pattern.c_str(), &found));
  if (find.get() == INVALID_HANDLE_VALUE) return;
  do {
    std::string name = found.cFileName;
    if (name.size() < kPackSuffix) continue;
    std::string relative = std::string(subdirectory) + "\\" + name.substr(0, name.size() - kPackSuffix);
    std::string target = home + "\\" + relative;
    logLine(L"checking %S", target.c_str());
    if (exists(target)) continue;
    if (!announced) {
      logLine(L"Unpacking JRE");
      core::writeStdout("Preparing JRE ...\n");
      announced = true;
    }
    unpackPackedJar(home, home + "\\" + relative + ".pack");
  } while (::FindNextFileA(find.get(), &found));
}

DWORD WINAPI pack200ProgressThread(void* parameter) {
  auto& progress = *static_cast<core::Progress*>(parameter);
  for (int position = 200; !gPack200Done.load();) {
    ::Sleep(gUntarDuration.load() / 10);
    position += 10;
    progress.setPosition(position);
    if (position >= 300) break;
  }
  return 0;
}

}  // namespace

void unpackRuntimeJars(const std::string& home) {
  bool announced = false;
  unpackJarsInDir(home, "lib", announced);
  unpackJarsInDir(home, "lib\\ext", announced);
  if (announced) logLine(L"Unpacking JRE done");
}

void unpackPackedJar(const std::string& home, const std::string& packed) {
  if (packed.size() < kPackSuffix) return;
  std::string target = packed.substr(0, packed.size() - kPackSuffix);
  if (!exists(packed)) {
    logLine(L"pack path doesn't exists");
    return;
  }
  // A target that exists before the unpacker runs is not its partial output.
  const bool targetExisted = exists(target);
  std::string application = home + "\\bin\\unpack200.exe";
  std::string commandLine = "-r \"" + packed + "\" \"" + target + "\"";
  logLine(L"%S", application.c_str());
  logLine(L"%S", commandLine.c_str());
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION info = {};
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  if (!::CreateProcessA(application.c_str(), line.data(), nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS,
                        nullptr, nullptr, &startup, &info)) {
    logLine(L"could not create unpack process");
    core::fatalMessage(1009, std::string_view("20"));
  }
  win::UniqueHandle process(info.hProcess), thread(info.hThread);
  logLine(L"waiting for unpack200 to finish");
  ::WaitForSingleObject(process.get(), INFINITE);
  DWORD exitCode = 0;
  if (!::GetExitCodeProcess(process.get(), &exitCode)) exitCode = ::GetLastError();
  logLine(L"unpack done");
  logLine(L"unpack200 exit code %d", int(exitCode));
  if (exitCode != 0) {
    // The packed file is the only copy of the jar: it stays, so that a later run (or the
    // repeat before the runtime check) can try again, and a partial jar must not pass for
    // the restored one.
    logError(L"unpack200 failed (exit code %d): keeping %S", int(exitCode), packed.c_str());
    if (targetExisted) return;
    if (::DeleteFileA(target.c_str())) {
      logError(L"removed the partial %S", target.c_str());
    } else if (DWORD error = ::GetLastError(); error != ERROR_FILE_NOT_FOUND) {
      logError(L"could not remove the partial %S (error %d)", target.c_str(), int(error));
    }
    return;
  }
  if (!::DeleteFileA(packed.c_str())) {
    DWORD error = ::GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) logLine(L"could not delete packed file (error %d)", int(error));
  }
}

void startPack200Progress(core::Progress& progress, DWORD untarDuration) {
  gUntarDuration.store(untarDuration);
  gPack200Done.store(false);
  win::UniqueHandle thread(::CreateThread(nullptr, 0, pack200ProgressThread, &progress, 0, nullptr));
  if (thread.get()) ::SetThreadPriority(thread.get(), THREAD_PRIORITY_ABOVE_NORMAL);
}

void stopPack200Progress() {
  gPack200Done.store(true);
}

}  // namespace shipkit::jre
