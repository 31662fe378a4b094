// The Win32Proxy natives against Wine's WinHTTP: the current user's proxy settings and the
// machine's default WinHTTP proxy as written to the registry, and proxy auto-configuration
// scripts served by a real HTTP server on 127.0.0.1.
// clang-format off
#include "LoopbackHttpServer.h"  // winsock2.h before windows.h
// clang-format on
#include <gtest/gtest.h>
#include <winhttp.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "NativesTestSupport.h"
#include "natives/proxy/WinHttpLibrary.h"

namespace {

using namespace nativetest;

constexpr wchar_t kConnections[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";

// A registry value saved when the guard is made and put back (or deleted again) when it goes.
class SavedValue {
 public:
  SavedValue(HKEY root, const wchar_t* name) : root_(root), name_(name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root_, kConnections, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    DWORD size = 0;
    if (RegQueryValueExW(key, name_, nullptr, &type_, nullptr, &size) == ERROR_SUCCESS) {
      data_.resize(size);
      existed_ = RegQueryValueExW(key, name_, nullptr, &type_, data_.data(), &size) == ERROR_SUCCESS;
    }
    RegCloseKey(key);
  }
  ~SavedValue() {
    HKEY key = nullptr;
    if (RegCreateKeyExW(root_, kConnections, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
      return;
    if (existed_) {
      RegSetValueExW(key, name_, 0, type_, data_.data(), DWORD(data_.size()));
    } else {
      RegDeleteValueW(key, name_);
    }
    RegCloseKey(key);
  }
  SavedValue(const SavedValue&) = delete;
  SavedValue& operator=(const SavedValue&) = delete;

 private:
  HKEY root_;
  const wchar_t* name_;
  bool existed_ = false;
  DWORD type_ = 0;
  std::vector<BYTE> data_;
};

// The binary connection settings that Internet Explorer keeps per user: a header (version,
// change counter, flags), then the proxy list, the bypass list and the script URL, each as a
// 32-bit length and ANSI text, and reserved zero bytes.
constexpr DWORD kDirect = 1, kNamedProxy = 2, kScript = 4, kAutoDetect = 8;

std::vector<BYTE> connectionSettings(DWORD flags, const std::string& proxy, const std::string& bypass,
                                     const std::string& script) {
  std::vector<BYTE> out;
  auto dword = [&](DWORD v) {
    for (int i = 0; i < 4; ++i) out.push_back(BYTE(v >> (8 * i)));
  };
  auto text = [&](const std::string& s) {
    dword(DWORD(s.size()));
    out.insert(out.end(), s.begin(), s.end());
  };
  dword(0x46);
  dword(1);
  dword(flags);
  text(proxy);
  text(bypass);
  text(script);
  out.resize(out.size() + 32, 0);
  return out;
}

bool writeConnectionSettings(const std::vector<BYTE>& data) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kConnections, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return false;
  bool ok = RegSetValueExW(key, L"DefaultConnectionSettings", 0, REG_BINARY, data.data(),
                           DWORD(data.size())) == ERROR_SUCCESS;
  RegCloseKey(key);
  return ok;
}

class ProxyNatives : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(natives_.bound());
    ASSERT_EQ(natives_.call("Win32Proxy.loadFunctions0", json::array()), true);
  }
  // Calls the method with a result array preset to "keep" and returns {result, array}: an
  // element the method does not fill must still say "keep".
  std::pair<json, json> call(const std::string& method, json args, std::size_t slots) {
    args.insert(args.begin(), json{{"String[]", std::vector<std::string>(slots, "keep")}});
    json r = natives_.record("Win32Proxy." + method, args);
    return {r["result"], r["args"][0]};
  }

  BoundNatives natives_;
};

struct UserSettings {
  const char* name;
  DWORD flags;
  std::string proxy, bypass, script;
  json filled;
};

void PrintTo(const UserSettings& c, std::ostream* os) {
  *os << c.name;
}

class ProxyUserSettings : public ProxyNatives, public ::testing::WithParamInterface<UserSettings> {};

TEST_P(ProxyUserSettings, ReadBackThroughGetIEConfig) {
  const UserSettings& c = GetParam();
  // Wine's WinHTTP reads only this value; WinINet honours it too, so it goes back afterwards.
  SavedValue saved(HKEY_CURRENT_USER, L"DefaultConnectionSettings");
  ASSERT_TRUE(writeConnectionSettings(connectionSettings(c.flags, c.proxy, c.bypass, c.script)));
  auto [result, filled] = call("getIEConfig0", json::array(), 4);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(filled, c.filled);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, ProxyUserSettings,
    ::testing::Values(UserSettings{"DirectOnly", kDirect, "", "", "", {"false", "keep", "keep", "keep"}},
                      UserSettings{
                          "AutoDetect", kDirect | kAutoDetect, "", "", "", {"true", "keep", "keep", "keep"}},
                      UserSettings{"ProxyAndBypass",
                                   kDirect | kNamedProxy,
                                   "proxy.example:8080",
                                   "<local>;*.internal.example",
                                   "",
                                   {"false", "keep", "proxy.example:8080", "<local>;*.internal.example"}},
                      UserSettings{"Script",
                                   kDirect | kScript,
                                   "",
                                   "",
                                   "http://127.0.0.1:9/proxy.pac",
                                   {"false", "http://127.0.0.1:9/proxy.pac", "keep", "keep"}},
                      UserSettings{"Everything",
                                   kNamedProxy | kScript | kAutoDetect,
                                   "http=p1.example:80;https=p2.example:443",
                                   "*.example",
                                   "http://wpad.example/wpad.dat",
                                   {"true", "http://wpad.example/wpad.dat",
                                    "http=p1.example:80;https=p2.example:443", "*.example"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProxyNatives, MachineDefaultProxyThroughGetDefaultConfig) {
  SavedValue saved(HKEY_LOCAL_MACHINE, L"WinHttpSettings");
  WINHTTP_PROXY_INFO named{WINHTTP_ACCESS_TYPE_NAMED_PROXY, const_cast<wchar_t*>(L"proxy.example:3128"),
                           const_cast<wchar_t*>(L"<local>;10.*")};
  ASSERT_TRUE(WinHttpSetDefaultProxyConfiguration(&named)) << GetLastError();
  auto [result, filled] = call("getDefaultConfig0", json::array(), 3);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(filled, json({"true", "proxy.example:3128", "<local>;10.*"}));

  WINHTTP_PROXY_INFO direct{WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr};
  ASSERT_TRUE(WinHttpSetDefaultProxyConfiguration(&direct)) << GetLastError();
  std::tie(result, filled) = call("getDefaultConfig0", json::array(), 3);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(filled, json({"false", "keep", "keep"}));
}

class ProxyScript : public ProxyNatives {
 protected:
  void SetUp() override {
    ProxyNatives::SetUp();
    ASSERT_TRUE(server_.ready()) << "python3 -m http.server did not start on port " << server_.port();
    ASSERT_TRUE(server_.serve("proxy.pac",
                              "function FindProxyForURL(url, host) {\n"
                              "  if (host == \"via-proxy.example\") return \"PROXY proxy.example:3128\";\n"
                              "  return \"DIRECT\";\n"
                              "}\n"));
  }
  LoopbackHttpServer server_{utf8(uniqueName(L"pac"))};
};

struct ScriptCase {
  const char* name;
  std::string url;
  json filled;
};

TEST_F(ProxyScript, ChoosesWhatTheScriptSaysForEachHost) {
  const ScriptCase rows[] = {
      {"ProxiedHost", "http://via-proxy.example/file.zip", {"true", "proxy.example:3128", "keep"}},
      {"DirectHost", "http://direct.example/file.zip", {"false", "keep", "keep"}},
  };
  for (const auto& row : rows) {
    auto [result, filled] =
        call("getAutoProxyConfig0",
             {row.url, server_.url("proxy.pac"), WINHTTP_AUTOPROXY_CONFIG_URL, 0, false}, 3);
    EXPECT_EQ(result, 0) << row.name;
    EXPECT_EQ(filled, row.filled) << row.name;
  }
}

TEST_F(ProxyScript, AScriptThatCannotBeFetchedGivesTheLookupStepAndTheError) {
  auto [result, filled] = call(
      "getAutoProxyConfig0",
      {"http://via-proxy.example/", server_.url("missing.pac"), WINHTTP_AUTOPROXY_CONFIG_URL, 0, false}, 3);
  ASSERT_TRUE(result.is_number_integer());
  EXPECT_EQ(result.get<std::int64_t>() >> 32, 2);
  EXPECT_EQ(result.get<std::int64_t>() & 0xFFFFFFFF, ERROR_WINHTTP_UNABLE_TO_DOWNLOAD_SCRIPT);
  EXPECT_EQ(filled, json({"keep", "keep", "keep"}));
}

TEST_F(ProxyNatives, WithoutAUrlNothingIsLookedUp) {
  auto [result, filled] = call(
      "getAutoProxyConfig0", {nullptr, "http://127.0.0.1:9/x.pac", WINHTTP_AUTOPROXY_CONFIG_URL, 0, true}, 3);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(filled, json({"keep", "keep", "keep"}));
}

// WinHTTP is loaded once per process, so its absence is tested in a fresh process: this
// test runs itself again with a library name that does not exist.
TEST(ProxyWithoutWinHttp, EveryMethodAnswersUnavailableForTheRestOfTheProcess) {
  if (!std::getenv("SHIPKIT_TEST_NO_WINHTTP")) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring line = L"\"" + std::wstring(self) + L"\" --gtest_filter=ProxyWithoutWinHttp.*";
    SetEnvironmentVariableW(L"SHIPKIT_TEST_NO_WINHTTP", L"1");
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    BOOL started =
        CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child);
    SetEnvironmentVariableW(L"SHIPKIT_TEST_NO_WINHTTP", nullptr);
    ASSERT_TRUE(started);
    DWORD code = 99;
    EXPECT_EQ(WaitForSingleObject(child.hProcess, 60000), WAIT_OBJECT_0);
    GetExitCodeProcess(child.hProcess, &code);
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
    EXPECT_EQ(code, 0u) << "the test failed in the child process";
    return;
  }
  shipkit::natives::winHttpLibraryName() = L"no-such-winhttp.dll";
  BoundNatives natives;
  ASSERT_TRUE(natives.bound());
  const json keep = {{"String[]", {"keep", "keep", "keep", "keep"}}};
  EXPECT_EQ(natives.call("Win32Proxy.loadFunctions0", json::array()), false);
  EXPECT_EQ(natives.call("Win32Proxy.getIEConfig0", json::array({keep})), 100000);
  EXPECT_EQ(natives.call("Win32Proxy.getDefaultConfig0", json::array({keep})), 100000);
  EXPECT_EQ(natives.call("Win32Proxy.getAutoProxyConfig0", {keep, "http://a.example/", nullptr, 1, 1, false}),
            100000);
  // The real library is not tried again.
  shipkit::natives::winHttpLibraryName() = L"Winhttp.dll";
  EXPECT_EQ(natives.call("Win32Proxy.loadFunctions0", json::array()), false);
  EXPECT_EQ(natives.call("Win32Proxy.getIEConfig0", json::array({keep})), 100000);
}

}  // namespace
