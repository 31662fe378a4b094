#include "jre/UntarGz.h"

#include <commctrl.h>
#include <zlib.h>

#include <cstdio>
#include <string>

#include "core/DialogIds.h"
#include "core/Log.h"
#include "jre/TarFormat.h"
#include "jre/Untar.h"
#include "win/Unique.h"

namespace shipkit::jre {

namespace {

class GzInput : public TarInput {
 public:
  explicit GzInput(gzFile file) : file_(file) {}
  int read(char* buffer, unsigned length) override { return gzread(file_, buffer, length); }
  bool skip(int64_t length) override { return gzseek(file_, z_off_t(length), SEEK_CUR) != -1; }
  bool atEnd() override { return gzeof(file_) != 0; }
  int64_t position() override { return int64_t(gztell(file_)); }

 private:
  gzFile file_;
};

// Member files in the current directory, and the progress bar (positions 100..200).
class FileOutput : public TarOutput {
 public:
  FileOutput(HWND window, int32_t total) : window_(window), total_(total), lastUpdate_(::GetTickCount()) {}
  void makeDirectory(const std::string& name) override { ::CreateDirectoryA(name.c_str(), nullptr); }
  // Created as the C runtime's "wb" does (truncating an existing file), without its
  // stream buffer: the copy already writes whole chunks.
  bool openFile(const std::string& name) override {
    file_.reset(::CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file_.get() != INVALID_HANDLE_VALUE;
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
    if (!window_) return;
    DWORD now = ::GetTickCount();
    if (!member && now - lastUpdate_ <= 200) return;
    lastUpdate_ = now;
    const int shown = untarProgress(position, total_);
    if (shown == lastShown_) return;
    lastShown_ = shown;
    ::SendDlgItemMessageW(window_, core::kProgressBar, PBM_SETPOS, WPARAM(shown), 0);
  }
  void log(const std::string& text, bool error) override {
    if (error)
      core::logError(L"%S", text.c_str());
    else
      core::logLine(L"%S", text.c_str());
  }

 private:
  HWND window_;
  int32_t total_;
  DWORD lastUpdate_;
  int lastShown_ = -1;
  win::UniqueFile file_;
};

}  // namespace

bool untarGz(const char* archive, const char* target, HWND window, int32_t total, std::string& uncreatable) {
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
    GzInput input(file);
    FileOutput output(window, total);
    result = untar(input, output, kCopyBuffer);
  }
  ::SetCurrentDirectoryA(saved.c_str());
  gzclose(file);
  if (result.outcome == UntarOutcome::kCannotCreate) uncreatable = result.failedName;
  return result.outcome == UntarOutcome::kSuccess;
}

}  // namespace shipkit::jre
