// Natives of the Java class ShellLink: shortcut files through the shell's link object, and
// the shell's notification about new files.
#include <jni.h>
#include <objbase.h>
#include <windows.h>

// After windows.h, which they build on.
#include <shlobj.h>
#include <shobjidl.h>

#include <cstring>
#include <string>

#include "natives/base/JniConvert.h"
#include "natives/base/NativeGuard.h"
#include "natives/base/ShellFunctions.h"
#include "natives/shell/ShellLinkFlags.h"
#include "win/ComPtr.h"

namespace shipkit::natives {

bool addRunAsFlag(IUnknown* link) {
  IShellLinkDataList* dataList = nullptr;
  if (FAILED(link->QueryInterface(IID_IShellLinkDataList, reinterpret_cast<void**>(&dataList))) || !dataList)
    return false;
  DWORD flags = 0;
  bool done = SUCCEEDED(dataList->GetFlags(&flags));
  if (done) done = SUCCEEDED(dataList->SetFlags(flags | kRunAsUserFlag));
  dataList->Release();
  return done;
}

}  // namespace shipkit::natives

namespace {

using namespace shipkit::natives;
using shipkit::win::ComPtr;

// The steps after the setters, shared by both link natives: the run-as flag when asked for,
// then the save over any existing file.
bool finishLink(IUnknown* link, bool runAsAdministrator, const wchar_t* linkFile) {
  ComPtr<IPersistFile> file;
  if (FAILED(link->QueryInterface(IID_IPersistFile, file.putVoid())) || !file) return false;
  if (runAsAdministrator && !addRunAsFlag(link)) return false;
  return SUCCEEDED(file->Save(linkFile, TRUE));
}

// A zero-terminated string of the system code page from a byte[]; the copy stays terminated
// when the array lacks the zero. No value for a null array.
struct AnsiArg {
  bool present = false;
  bool failed = false;
  std::string text;
  const char* get() const { return present ? text.c_str() : nullptr; }
};

AnsiArg ansiArg(JNIEnv* env, jbyteArray array) {
  AnsiArg arg;
  if (!array) return arg;
  const ByteArrayElements bytes(env, array);
  if (!bytes) {
    arg.failed = true;
    return arg;
  }
  arg.present = true;
  arg.text.assign(reinterpret_cast<const char*>(bytes.data()), std::size_t(bytes.size()));
  arg.text.resize(std::strlen(arg.text.c_str()));
  return arg;
}

constexpr LONG kCreated = 0x2;              // SHCNE_CREATE
constexpr LONG kDirectoryUpdated = 0x1000;  // SHCNE_UPDATEDIR
constexpr UINT kPath = 0x5;                 // SHCNF_PATHW
constexpr UINT kPathFlush = 0x1005;         // SHCNF_PATHW | SHCNF_FLUSH

// The array holds a zero-terminated UTF-16LE path; the copy stays terminated even when the
// caller forgot the zero.
std::wstring pathOf(const shipkit::natives::ByteArrayElements& bytes) {
  const std::size_t units = std::size_t(bytes.size()) / 2;
  std::wstring path(units, L'\0');
  std::memcpy(path.data(), bytes.data(), units * 2);
  path.resize(std::wcslen(path.c_str()));
  return path;
}

}  // namespace

// Creates (or overwrites) a link file. COM must have been initialised on this thread by
// initialize0. The setters' results are not reported; the result is the save's (and the
// run-as flag's) success.
extern "C" JNIEXPORT jboolean JNICALL Java_com_shipkit_runtime_installer_platform_win32_ShellLink_createWide0(
    JNIEnv* env, jclass, jstring linkFile, jstring target, jstring workingDirectory, jstring iconFile,
    jstring arguments, jboolean runAsAdministrator, jstring description, jint showCommand) noexcept {
  return guarded<jboolean>(JNI_FALSE, [&]() -> jboolean {
    const WideString file = WideString::from(env, linkFile);
    const WideString path = WideString::from(env, target);
    const WideString directory = WideString::from(env, workingDirectory);
    const WideString icon = WideString::from(env, iconFile);
    const WideString args = WideString::from(env, arguments);
    const WideString text = WideString::from(env, description);
    for (const WideString* s : {&file, &path, &directory, &icon, &args, &text}) {
      if (s->failed()) return JNI_FALSE;
    }
    ComPtr<IShellLinkW> link;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  link.putVoid())) ||
        !link)
      return JNI_FALSE;
    link->SetPath(path.get());
    // A fresh link has no working directory, so a null one needs no call; Wine's link
    // object crashes on SetWorkingDirectory(NULL).
    if (!directory.isNull()) link->SetWorkingDirectory(directory.get());
    if (!icon.isNull()) link->SetIconLocation(icon.get(), 0);
    if (!args.isNull()) link->SetArguments(args.get());
    if (!text.isNull()) link->SetDescription(text.get());
    link->SetShowCmd(showCommand);
    return finishLink(link.get(), runAsAdministrator != JNI_FALSE, file.get()) ? JNI_TRUE : JNI_FALSE;
  });
}

// The 8-bit twin of createWide0: byte[] strings in the system code page, no show command.
extern "C" JNIEXPORT jboolean JNICALL Java_com_shipkit_runtime_installer_platform_win32_ShellLink_create0(
    JNIEnv* env, jclass, jstring linkFile, jbyteArray target, jbyteArray workingDirectory,
    jbyteArray iconFile, jbyteArray arguments, jboolean runAsAdministrator, jbyteArray description) noexcept {
  return guarded<jboolean>(JNI_FALSE, [&]() -> jboolean {
    const WideString file = WideString::from(env, linkFile);
    const AnsiArg path = ansiArg(env, target);
    const AnsiArg directory = ansiArg(env, workingDirectory);
    const AnsiArg icon = ansiArg(env, iconFile);
    const AnsiArg args = ansiArg(env, arguments);
    const AnsiArg text = ansiArg(env, description);
    if (file.failed()) return JNI_FALSE;
    for (const AnsiArg* a : {&path, &directory, &icon, &args, &text}) {
      if (a->failed) return JNI_FALSE;
    }
    ComPtr<IShellLinkA> link;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                  link.putVoid())) ||
        !link)
      return JNI_FALSE;
    link->SetPath(path.get());
    // As in createWide0: no call for a null working directory.
    if (directory.present) link->SetWorkingDirectory(directory.get());
    if (icon.present) link->SetIconLocation(icon.get(), 0);
    if (args.present) link->SetArguments(args.get());
    if (text.present) link->SetDescription(text.get());
    return finishLink(link.get(), runAsAdministrator != JNI_FALSE, file.get()) ? JNI_TRUE : JNI_FALSE;
  });
}

// Tells the shell about a new file and its updated folder; true even when shell32 could not
// be bound.
extern "C" JNIEXPORT jboolean JNICALL
Java_com_shipkit_runtime_installer_platform_win32_ShellLink_changeNotify0(
    JNIEnv* env, jclass, jbyteArray createdPath, jbyteArray updatedDirectory) noexcept {
  guarded([&] {
    const ByteArrayElements created(env, createdPath);
    const ByteArrayElements updated(env, updatedDirectory);
    if (created) shChangeNotify(kCreated, kPath, pathOf(created).c_str(), nullptr);
    if (updated) shChangeNotify(kDirectoryUpdated, kPathFlush, pathOf(updated).c_str(), nullptr);
  });
  return JNI_TRUE;
}

// COM for createWide0 on the calling thread; true whatever COM answered.
extern "C" JNIEXPORT jboolean JNICALL
Java_com_shipkit_runtime_installer_platform_win32_ShellLink_initialize0(JNIEnv*, jclass) noexcept {
  ::CoInitialize(nullptr);
  return JNI_TRUE;
}

extern "C" JNIEXPORT jboolean JNICALL
Java_com_shipkit_runtime_installer_platform_win32_ShellLink_uninitialize(JNIEnv*, jclass) noexcept {
  ::CoUninitialize();
  return JNI_TRUE;
}
