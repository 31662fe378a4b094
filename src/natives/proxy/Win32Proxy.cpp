// Natives of the Java class Win32Proxy: the current user's Internet Explorer proxy settings,
// the machine's default WinHTTP proxy, and the proxy that automatic detection or a proxy
// auto-configuration script chooses for a URL. WinHTTP is loaded at run time, once.
#include <jni.h>
#include <windows.h>
#include <winhttp.h>

#include "natives/base/JniConvert.h"
#include "natives/base/NativeGuard.h"
#include "natives/proxy/ProxyResult.h"
#include "natives/proxy/WinHttpLibrary.h"
#include "win/LateBound.h"

namespace shipkit::natives {

const wchar_t*& winHttpLibraryName() {
  static const wchar_t* name = L"Winhttp.dll";
  return name;
}

namespace {

using GetIEProxyConfigFn = BOOL(WINAPI*)(WINHTTP_CURRENT_USER_IE_PROXY_CONFIG*);
using OpenFn = HINTERNET(WINAPI*)(LPCWSTR, DWORD, LPCWSTR, LPCWSTR, DWORD);
using CloseHandleFn = BOOL(WINAPI*)(HINTERNET);
using GetProxyForUrlFn = BOOL(WINAPI*)(HINTERNET, LPCWSTR, WINHTTP_AUTOPROXY_OPTIONS*, WINHTTP_PROXY_INFO*);
using GetDefaultProxyFn = BOOL(WINAPI*)(WINHTTP_PROXY_INFO*);

struct WinHttp {
  GetIEProxyConfigFn getIEProxyConfig = nullptr;
  OpenFn open = nullptr;
  CloseHandleFn closeHandle = nullptr;
  GetProxyForUrlFn getProxyForUrl = nullptr;
  GetDefaultProxyFn getDefaultProxy = nullptr;
  bool available = false;
};

template <typename Fn>
Fn lookUp(HMODULE module, const char* name) {
  return shipkit::win::procAddress<Fn>(module, name);
}

WinHttp loadWinHttp() {
  WinHttp w;
  if (HMODULE module = win::systemLibrary(winHttpLibraryName())) {
    w.getIEProxyConfig = lookUp<GetIEProxyConfigFn>(module, "WinHttpGetIEProxyConfigForCurrentUser");
    w.open = lookUp<OpenFn>(module, "WinHttpOpen");
    w.closeHandle = lookUp<CloseHandleFn>(module, "WinHttpCloseHandle");
    w.getProxyForUrl = lookUp<GetProxyForUrlFn>(module, "WinHttpGetProxyForUrl");
    w.getDefaultProxy = lookUp<GetDefaultProxyFn>(module, "WinHttpGetDefaultProxyConfiguration");
  }
  w.available = w.getIEProxyConfig && w.open && w.closeHandle && w.getProxyForUrl && w.getDefaultProxy;
  return w;
}

WinHttp loadedWinHttp;
volatile bool winHttpLoaded = false;

// The attempt is made once, also when it fails: a missing WinHTTP stays missing. Not
// guarded: the Java side calls loadFunctions0 before the other methods, and concurrent first
// calls would store the same values.
const WinHttp& winHttp() {
  if (!winHttpLoaded) {
    loadedWinHttp = loadWinHttp();
    winHttpLoaded = true;
  }
  return loadedWinHttp;
}

// Stores a copy of a string WinHTTP allocated at `index` of the result array and releases
// the original; absent and empty strings leave the element as it is.
void fillAndFree(JNIEnv* env, jobjectArray result, jsize index, LPWSTR text) {
  if (!text) return;
  if (*text && result) {
    if (jstring copy = newJavaString(env, text)) {
      env->SetObjectArrayElement(result, index, copy);
      clearJavaException(env);  // an index past the array's end: the value is dropped
      env->DeleteLocalRef(copy);
    }
  }
  ::GlobalFree(text);
}

void fillText(JNIEnv* env, jobjectArray result, jsize index, const wchar_t* text) {
  if (!result) return;
  if (jstring copy = newJavaString(env, text)) {
    env->SetObjectArrayElement(result, index, copy);
    clearJavaException(env);
    env->DeleteLocalRef(copy);
  }
}

void fillProxyInfo(JNIEnv* env, jobjectArray result, WINHTTP_PROXY_INFO& info) {
  fillText(env, result, 0, booleanText(info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY));
  fillAndFree(env, result, 1, info.lpszProxy);
  fillAndFree(env, result, 2, info.lpszProxyBypass);
}

jint getIEConfig(JNIEnv* env, jobjectArray result) {
  const WinHttp& w = winHttp();
  if (!w.available) return jint(kProxyUnavailable);
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
  if (!w.getIEProxyConfig(&config)) return jint(::GetLastError());
  fillText(env, result, 0, booleanText(config.fAutoDetect));
  fillAndFree(env, result, 1, config.lpszAutoConfigUrl);
  fillAndFree(env, result, 2, config.lpszProxy);
  fillAndFree(env, result, 3, config.lpszProxyBypass);
  return 0;
}

jint getDefaultConfig(JNIEnv* env, jobjectArray result) {
  const WinHttp& w = winHttp();
  if (!w.available) return jint(kProxyUnavailable);
  WINHTTP_PROXY_INFO info{};
  if (!w.getDefaultProxy(&info)) return jint(::GetLastError());
  fillProxyInfo(env, result, info);
  return 0;
}

jlong getAutoProxyConfig(JNIEnv* env, jobjectArray result, jstring url, jstring scriptUrl,
                         jint autoProxyFlags, jint autoDetectFlags, jboolean autoLogon) {
  const WinHttp& w = winHttp();
  if (!w.available) return kProxyUnavailable;
  const WideString target = WideString::from(env, url);
  const WideString script = WideString::from(env, scriptUrl);
  if (target.failed() || script.failed())
    return autoProxyFailure(AutoProxyStep::GetProxy, ERROR_NOT_ENOUGH_MEMORY);
  if (target.isNull()) return 0;  // nothing to look up

  HINTERNET session = w.open(L"shipkit proxy detection/1.0", WINHTTP_ACCESS_TYPE_NO_PROXY,
                             WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
  if (!session) return autoProxyFailure(AutoProxyStep::OpenSession, ::GetLastError());

  WINHTTP_AUTOPROXY_OPTIONS options{};
  options.dwFlags = DWORD(autoProxyFlags);
  options.dwAutoDetectFlags = DWORD(autoDetectFlags);
  options.lpszAutoConfigUrl = script.get();
  options.fAutoLogonIfChallenged = autoLogon ? TRUE : FALSE;
  WINHTTP_PROXY_INFO info{};
  jlong code = 0;
  if (w.getProxyForUrl(session, target.get(), &options, &info)) {
    fillProxyInfo(env, result, info);
  } else {
    code = autoProxyFailure(AutoProxyStep::GetProxy, ::GetLastError());
  }
  w.closeHandle(session);
  return code;
}

}  // namespace

}  // namespace shipkit::natives

using namespace shipkit::natives;

extern "C" JNIEXPORT jint JNICALL Java_com_shipkit_runtime_installer_platform_win32_Win32Proxy_getIEConfig0(
    JNIEnv* env, jclass, jobjectArray result) noexcept {
  return guarded(jint(ERROR_NOT_ENOUGH_MEMORY), [&] { return getIEConfig(env, result); });
}

extern "C" JNIEXPORT jint JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32Proxy_getDefaultConfig0(JNIEnv* env, jclass,
                                                                               jobjectArray result) noexcept {
  return guarded(jint(ERROR_NOT_ENOUGH_MEMORY), [&] { return getDefaultConfig(env, result); });
}

extern "C" JNIEXPORT jlong JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32Proxy_getAutoProxyConfig0(
    JNIEnv* env, jclass, jobjectArray result, jstring url, jstring scriptUrl, jint autoProxyFlags,
    jint autoDetectFlags, jboolean autoLogon) noexcept {
  return guarded(autoProxyFailure(AutoProxyStep::GetProxy, ERROR_NOT_ENOUGH_MEMORY), [&] {
    return getAutoProxyConfig(env, result, url, scriptUrl, autoProxyFlags, autoDetectFlags, autoLogon);
  });
}

extern "C" JNIEXPORT jboolean JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32Proxy_loadFunctions0(JNIEnv*, jclass) noexcept {
  return winHttp().available ? JNI_TRUE : JNI_FALSE;
}
