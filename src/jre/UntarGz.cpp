#include "jre/UntarGz.h"

#include <zlib.h>

#include <cstdio>
#include <string>

#include "core/Log.h"
#include "core/Progress.h"
#include "jre/GzTarInput.h"
#include "jre/TarFormat.h"
#include "jre/Untar.h"
#include "win/Text.h"
#include "win/Unique.h"

namespace shipkit::jre {

namespace {

// A member name for the wide file functions: pax names are UTF-8, the others are in the
// code page of the narrow file functions (as those would take them).
std::wstring wideName(const MemberName& name) {
  return name.utf8 ? win::fromUtf8(name.bytes) : win::wide(name.bytes);
}

// Member files in the current directory, and the progress bar (positions 100..200).
class FileOutput : public TarOutput {
 public:
  FileOutput(core::Progress& progress, int32_t total) : progress_(progress), total_(total), lastUpdate_(::GetTickCount()) {}
  void makeDirectory(const MemberName& name) override { ::CreateDirectoryW(wideName(name).c_str(), nullptr); }
  // Created as the C runtime's "wb" does (truncating an existing file), without its
  // stream buffer: the copy already writes whole chunks.
  bool openFile(const MemberName& name) override {
    file_.reset(::CreateFileW(wideName(name).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file_.get() != INVALID_HANDLE_VALUE;
  }
  bool copyFile(const MemberName& from, const MemberName& to) override {
    return ::CopyFileW(wideName(from).c_str(), wideName(to).c_str(), FALSE) != 0;
  }
  bool write(const char* data, std::size_t length) override {
    DWORD written = 0;
    return ::WriteFile(file_.get(), data, DWORD(length), &written, nullptr) && written == length;
  }
  bool closeFile() override { return ::CloseHandle(file_.release()) != 0; }
  // Once per member and at most every 200 ms while one is copied. A position the bar already
  // shows is not sent again: each update is a message to the dialog's thread, which with
  // thousands of small members would cost more than the files themselves.
  void progress(int64_t position, bool member) override {
    if (!progress_.hasDialog()) return;
    DWORD now = ::GetTickCount();
    if (!member && now - lastUpdate_ <= 200) return;
    lastUpdate_ = now;
    const int shown = untarProgress(position, total_);
    if (shown == lastShown_) return;
    lastShown_ = shown;
    progress_.setPosition(shown);
  }
  void log(const std::string& text, bool error, bool utf8) override {
    const std::wstring line = utf8 ? win::fromUtf8(text) : win::wide(text);
    if (error)
      core::logError(L"%s", line.c_str());
    else
      core::logLine(L"%s", line.c_str());
  }

 private:
  core::Progress& progress_;
  int32_t total_;
  DWORD lastUpdate_;
  int lastShown_ = -1;
  win::UniqueFile file_;
};

}  // namespace

bool untarGz(const char* archive, const char* target, core::Progress& progress, int32_t total,
             MemberName& uncreatable) {
  // The directory to return to, at any length (a fixed buffer too small for it would leave
  // the process in the target directory).
  std::string saved(::GetCurrentDirectoryA(0, nullptr), '\0');
  saved.resize(::GetCurrentDirectoryA(DWORD(saved.size()), saved.data()));
  gzFile file = gzopen(archive, "rb");
  if (!file) {
    core::logError(L"Could not open gz-file");
    core::logError(L"untaring JRE was unsuccessful");
    return false;
  }
  ::SetCurrentDirectoryA(target);
  UntarResult result;
  {
    core::LogBatch batch;  // a line per member
    GzTarInput input(file);
    FileOutput output(progress, total);
    result = untar(input, output, kCopyBuffer);
  }
  ::SetCurrentDirectoryA(saved.c_str());
  gzclose(file);
  if (result.outcome == UntarOutcome::kCannotCreate) uncreatable = result.failedName;
  return result.outcome == UntarOutcome::kSuccess;
}

}  // namespace shipkit::jre
