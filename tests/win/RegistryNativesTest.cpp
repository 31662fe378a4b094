// The Registry natives against Wine's real registry, called through the fake JNI
// environment exactly as the virtual machine calls them after registerNatives. Each test
// works in its own throwaway key, deleted before and after, and checks what the natives
// wrote with the registry API directly.
#include <gtest/gtest.h>
#include <jni.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "TestFiles.h"
#include "Vm.h"
#include "natives/base/ShellFunctions.h"
#include "natives/base/registration.h"
#include "natives/registry/RegistryCalls.h"

namespace {

using nlohmann::json;
using Bytes = std::vector<std::uint8_t>;

constexpr int kClassesRoot = 1, kCurrentUser = 2, kLocalMachine = 3, kUsers = 4, kCurrentConfig = 5;
constexpr int kView64 = 0x100, kView32 = 0x200;

std::string utf8(std::wstring_view text) {
  if (text.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(std::size_t(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

Bytes bytesOf(std::u16string_view units) {
  Bytes out(units.size() * 2);
  std::memcpy(out.data(), units.data(), out.size());
  return out;
}

void ignoreReport(const wchar_t*, ...) {}

int nextKeyNumber() {
  static int n = 0;
  return ++n;
}

// Names this test's keys with a GUID, so that a run never meets a key another run left
// behind (Wine reuses process ids within seconds).
std::wstring runToken() {
  return wintest::uniqueName();
}

// A unique key below HKCU\Software\shipkit-tests for one test.
std::wstring uniqueKey(const wchar_t* what) {
  return L"Software\\shipkit-tests\\" + std::wstring(what) + L"-" + runToken() + L"-" +
         std::to_wstring(nextKeyNumber());
}

struct RawValue {
  LSTATUS status = ERROR_INVALID_FUNCTION;
  DWORD type = 0;
  Bytes data;
};

// The value as the registry holds it, read independently of the natives.
RawValue rawGet(HKEY root, const std::wstring& path, const wchar_t* name, REGSAM view = 0) {
  RawValue r;
  HKEY key = nullptr;
  r.status = RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key);
  if (r.status != ERROR_SUCCESS) return r;
  DWORD size = 0;
  r.status = RegQueryValueExW(key, name, nullptr, nullptr, nullptr, &size);
  if (r.status == ERROR_SUCCESS) {
    const std::uint8_t kCanary = 0xA5;
    r.data.assign(size + 4, kCanary);
    r.type = 0xdeadbeef;
    DWORD got = size;
    r.status = RegQueryValueExW(key, name, nullptr, &r.type, r.data.data(), &got);
    EXPECT_EQ(got, size);
    for (DWORD i = size; i < size + 4; ++i) EXPECT_EQ(r.data[i], kCanary) << "past the value's end";
    r.data.resize(got);
  }
  RegCloseKey(key);
  return r;
}

LSTATUS rawSet(HKEY root, const std::wstring& path, const wchar_t* name, DWORD type, const Bytes& data,
               REGSAM view = 0) {
  HKEY key = nullptr;
  LSTATUS status =
      RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS) return status;
  // Windows (and Wine) count one more unit for a string whose data is followed by a zero
  // in memory: non-zero bytes after the data keep the stored length exactly as given.
  Bytes padded = data;
  padded.insert(padded.end(), {0xA5, 0xA5, 0xA5, 0xA5});
  status = RegSetValueExW(key, name, 0, type, padded.data(), DWORD(data.size()));
  RegCloseKey(key);
  return status;
}

LSTATUS rawCreate(HKEY root, const std::wstring& path, REGSAM view = 0) {
  HKEY key = nullptr;
  LSTATUS status =
      RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key, nullptr);
  if (status == ERROR_SUCCESS) RegCloseKey(key);
  return status;
}

bool rawExists(HKEY root, const std::wstring& path, REGSAM view = 0) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

// Names in the order the registry enumerates them, read independently of the natives.
std::vector<std::string> rawNames(HKEY root, const std::wstring& path, bool values) {
  std::vector<std::string> names;
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
  for (DWORD i = 0;; ++i) {
    wchar_t name[16384];
    DWORD n = 16384;
    LSTATUS s = values ? RegEnumValueW(key, i, name, &n, nullptr, nullptr, nullptr, nullptr)
                       : RegEnumKeyExW(key, i, name, &n, nullptr, nullptr, nullptr, nullptr);
    if (s != ERROR_SUCCESS) break;
    names.push_back(utf8(std::wstring_view(name, n)));
  }
  RegCloseKey(key);
  return names;
}

void deleteTreeBothViews(HKEY root, const std::wstring& path) {
  for (REGSAM view : {REGSAM(0), REGSAM(KEY_WOW64_64KEY), REGSAM(KEY_WOW64_32KEY)}) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS | view, &key) == ERROR_SUCCESS) {
      RegDeleteTreeW(key, nullptr);
      RegCloseKey(key);
      RegDeleteKeyExW(root, path.c_str(), view, 0);
    }
  }
}

// Every key in `expected` must be in `actual` with an equal value (objects recursively), so
// that a row can name the parts of a constructed Java object it cares about.
::testing::AssertionResult matches(const json& actual, const json& expected) {
  if (expected.is_object() && actual.is_object()) {
    for (const auto& [k, v] : expected.items()) {
      if (!actual.contains(k))
        return ::testing::AssertionFailure() << "no \"" << k << "\" in " << actual.dump();
      auto inner = matches(actual[k], v);
      if (!inner) return inner;
    }
    return ::testing::AssertionSuccess();
  }
  if (actual == expected) return ::testing::AssertionSuccess();
  const std::string shownActual = actual.dump(), shownExpected = expected.dump();
  return ::testing::AssertionFailure()
         << shownActual.substr(0, 300) << " != " << shownExpected.substr(0, 300);
}

json expandString(const std::string& text) {
  return {{"class", "com/shipkit/api/windows/WinRegistry$ExpandString"},
          {"constructor", "(Ljava/lang/String;)V"},
          {"args", {text}}};
}

json integer(int value) {
  return {{"class", "java/lang/Integer"}, {"fields", {{"value", value}}}};
}

// The natives bound in a fake virtual machine through the launcher's registerNatives.
class RegistryNatives : public ::testing::Test {
 protected:
  explicit RegistryNatives(const json& scenario = json::object()) : vm_(scenario) {}
  void SetUp() override {
    key_ = uniqueKey(L"natives");
    RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str());
    auto registerNatives = reinterpret_cast<jboolean (*)(JNIEnv*, void*, shipkit::natives::ReportFn)>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(nullptr), "registerNatives")));
    ASSERT_NE(registerNatives, nullptr);
    ASSERT_EQ(registerNatives(vm_.env(), GetModuleHandleW(nullptr), ignoreReport), JNI_TRUE);
  }
  void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str()); }

  // Calls Registry.<method> as the virtual machine would. No call may leave an exception, a
  // pinned buffer or a local reference behind.
  json call(const std::string& method, const json& args) {
    json record = vm_.callNative({{"call", "Registry." + method}, {"args", args}});
    EXPECT_EQ(record["exception"], nullptr) << method << " " << record.dump().substr(0, 300);
    EXPECT_EQ(record["unreleased"], 0) << method;
    EXPECT_EQ(record["localRefsLeft"], 0) << method;
    EXPECT_EQ(record.count("error"), 0u) << record["error"];
    EXPECT_TRUE(vm_.report()["callsWithPendingException"].empty())
        << method << " " << vm_.report()["callsWithPendingException"].dump();
    return record["result"];
  }
  std::string key() const { return utf8(key_); }
  std::string key(const std::string& below) const { return utf8(key_) + "\\" + below; }
  std::wstring wkey(const std::wstring& below) const { return key_ + L"\\" + below; }

  fakejvm::Vm vm_;
  std::wstring key_;
};

// ---------------------------------------------------------------------------------------
// setValue0 and getValue0

struct RoundTrip {
  const char* name;
  int typeCode;
  json value;  // the Java object passed to setValue0
  DWORD storedType;
  Bytes storedData;
  json readBack;  // getValue0's result (objects: the parts that must match)
};

void PrintTo(const RoundTrip& c, std::ostream* os) {
  *os << c.name;
}

class RegistryRoundTrip : public RegistryNatives, public ::testing::WithParamInterface<RoundTrip> {};

TEST_P(RegistryRoundTrip, StoresTheTypeAndDataAndReadsThemBack) {
  const RoundTrip& c = GetParam();
  EXPECT_EQ(call("setValue0", {kCurrentUser, key(), "v", c.value, c.typeCode, 0}), true);
  RawValue raw = rawGet(HKEY_CURRENT_USER, key_, L"v");
  ASSERT_EQ(raw.status, ERROR_SUCCESS);
  EXPECT_EQ(raw.type, c.storedType);
  EXPECT_EQ(raw.data, c.storedData);
  EXPECT_TRUE(matches(call("getValue0", {kCurrentUser, key(), "v", 0}), c.readBack));
}

INSTANTIATE_TEST_SUITE_P(
    Types, RegistryRoundTrip,
    ::testing::Values(RoundTrip{"Sz", 1, "hello", REG_SZ, bytesOf(std::u16string(u"hello\0", 6)), "hello"},
                      RoundTrip{"SzEmpty", 1, "", REG_SZ, Bytes{0, 0}, ""},
                      RoundTrip{"SzNonAscii", 1, "\u00e9\U0001F600", REG_SZ,
                                bytesOf(std::u16string(u"\u00e9\U0001F600\0", 4)), "\u00e9\U0001F600"},
                      // The zero unit inside the Java string is stored; only the added terminator is dropped.
                      RoundTrip{"SzInnerZero", 1, json{{"utf16", {97, 0, 98}}}, REG_SZ,
                                bytesOf(std::u16string(u"a\0b\0", 4)), std::string("a\0b", 3)},
                      RoundTrip{"ExpandSz", 5, "%TEMP%\\x", REG_EXPAND_SZ,
                                bytesOf(std::u16string(u"%TEMP%\\x\0", 9)), expandString("%TEMP%\\x")},
                      RoundTrip{"Dword", 2, json{{"Integer", 258}}, REG_DWORD, Bytes{2, 1, 0, 0},
                                integer(258)},
                      RoundTrip{"DwordNegative", 2, json{{"Integer", -2}}, REG_DWORD,
                                Bytes{0xFE, 0xFF, 0xFF, 0xFF}, integer(-2)},
                      RoundTrip{"MultiSz", 3, json{{"String[]", {"a", "bc"}}}, REG_MULTI_SZ,
                                bytesOf(std::u16string(u"a\0bc\0\0", 6)), json{"a", "bc"}},
                      RoundTrip{"MultiSzEmptyList", 3, json{{"String[]", json::array()}}, REG_MULTI_SZ,
                                Bytes{0, 0}, json::array()},
                      RoundTrip{"Binary", 4, json{{"byte[]", {0, -1, 127, -128}}}, REG_BINARY,
                                Bytes{0x00, 0xFF, 0x7F, 0x80}, json{{"byte[]", {0, -1, 127, -128}}}},
                      RoundTrip{"BinaryEmpty", 4, json{{"byte[]", json::array()}}, REG_BINARY, Bytes{},
                                json{{"byte[]", json::array()}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RegistryNatives, NullValueNameAddressesTheDefaultValue) {
  ASSERT_EQ(rawSet(HKEY_CURRENT_USER, key_, L"named", REG_SZ, bytesOf(std::u16string(u"n\0", 2))),
            ERROR_SUCCESS);
  EXPECT_EQ(call("setValue0", {kCurrentUser, key(), nullptr, "dflt", 1, 0}), true);
  RawValue raw = rawGet(HKEY_CURRENT_USER, key_, nullptr);
  ASSERT_EQ(raw.status, ERROR_SUCCESS);
  EXPECT_EQ(raw.data, bytesOf(std::u16string(u"dflt\0", 5)));
  EXPECT_EQ(call("getValue0", {kCurrentUser, key(), nullptr, 0}), "dflt");
  EXPECT_EQ(call("getValue0", {kCurrentUser, key(), "named", 0}), "n");
}

TEST_F(RegistryNatives, TypeCode2CreatesTheMissingKeyPath) {
  ASSERT_FALSE(rawExists(HKEY_CURRENT_USER, key_));
  EXPECT_EQ(call("setValue0", {kCurrentUser, key("a\\b"), "n", {{"Integer", 7}}, 2, 0}), true);
  RawValue raw = rawGet(HKEY_CURRENT_USER, wkey(L"a\\b"), L"n");
  ASSERT_EQ(raw.status, ERROR_SUCCESS);
  EXPECT_EQ(raw.type, DWORD(REG_DWORD));
  EXPECT_EQ(raw.data, (Bytes{7, 0, 0, 0}));
}

// Data as another program may have stored it, read through getValue0.
struct StoredValue {
  const char* name;
  DWORD type;
  Bytes data;
  json expected;
};

void PrintTo(const StoredValue& c, std::ostream* os) {
  *os << c.name;
}

class RegistryStoredValues : public RegistryNatives, public ::testing::WithParamInterface<StoredValue> {};

TEST_P(RegistryStoredValues, ReadAsTheTypeSays) {
  const StoredValue& c = GetParam();
  ASSERT_EQ(rawSet(HKEY_CURRENT_USER, key_, L"v", c.type, c.data), ERROR_SUCCESS);
  ASSERT_EQ(rawGet(HKEY_CURRENT_USER, key_, L"v").data, c.data) << "stored as given";
  EXPECT_TRUE(matches(call("getValue0", {kCurrentUser, key(), "v", 0}), c.expected));
}

Bytes withOddByte(Bytes b) {
  b.push_back('z');
  return b;
}

INSTANTIATE_TEST_SUITE_P(
    Data, RegistryStoredValues,
    ::testing::Values(
        // Exactly one trailing zero unit is dropped; a second one stays in the string.
        StoredValue{"SzTwoTrailingZeros", REG_SZ, bytesOf(std::u16string(u"ab\0\0", 4)),
                    std::string("ab\0", 3)},
        StoredValue{"SzWithoutTerminator", REG_SZ, bytesOf(u"ab"), "ab"},
        StoredValue{"SzOddByteCount", REG_SZ, withOddByte(bytesOf(u"ab")), "ab"},
        StoredValue{"SzNoData", REG_SZ, Bytes{}, ""},
        StoredValue{"SzOnlyTerminator", REG_SZ, Bytes{0, 0}, ""},
        StoredValue{"ExpandSzTwoTrailingZeros", REG_EXPAND_SZ, bytesOf(std::u16string(u"x\0\0", 3)),
                    expandString(std::string("x\0", 2))},
        StoredValue{"MultiSzEmptyMiddle", REG_MULTI_SZ, bytesOf(std::u16string(u"a\0\0b\0\0", 6)),
                    json{"a", "", "b"}},
        // The walk stops two bytes before the end, so an unterminated last string is lost...
        StoredValue{"MultiSzLastUnterminated", REG_MULTI_SZ, bytesOf(std::u16string(u"a\0b", 3)), json{"a"}},
        // ...and a string without any zero is taken up to the end of the data.
        StoredValue{"MultiSzNoZeroAtAll", REG_MULTI_SZ, bytesOf(u"ab"), json{"ab"}},
        StoredValue{"MultiSzWithoutFinalZero", REG_MULTI_SZ, bytesOf(std::u16string(u"a\0b\0", 4)),
                    json{"a", "b"}},
        StoredValue{"MultiSzOddByteCount", REG_MULTI_SZ, withOddByte(bytesOf(std::u16string(u"a\0\0", 3))),
                    json{"a", ""}},
        StoredValue{"MultiSzSingleZero", REG_MULTI_SZ, Bytes{0, 0}, json::array()},
        StoredValue{"MultiSzTwoZeros", REG_MULTI_SZ, Bytes{0, 0, 0, 0}, json{""}},
        StoredValue{"MultiSzNoData", REG_MULTI_SZ, Bytes{}, json::array()},
        StoredValue{"DwordHighBit", REG_DWORD, Bytes{0, 0, 0, 0x80}, integer(-2147483647 - 1)},
        StoredValue{"DwordShort", REG_DWORD, Bytes{0x34, 0x12}, integer(0x1234)},
        StoredValue{"BinaryNoData", REG_BINARY, Bytes{}, json{{"byte[]", json::array()}}},
        StoredValue{"Qword", REG_QWORD, Bytes{1, 0, 0, 0, 0, 0, 0, 0}, nullptr},
        StoredValue{"None", REG_NONE, Bytes{1, 2}, nullptr},
        StoredValue{"DwordBigEndian", REG_DWORD_BIG_ENDIAN, Bytes{0, 0, 0, 1}, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RegistryNatives, GetValueOfMissingKeyOrValueIsNull) {
  EXPECT_EQ(call("getValue0", {kCurrentUser, key(), "v", 0}), nullptr);
  ASSERT_EQ(rawCreate(HKEY_CURRENT_USER, key_), ERROR_SUCCESS);
  EXPECT_EQ(call("getValue0", {kCurrentUser, key(), "v", 0}), nullptr);
  EXPECT_EQ(call("getValue0", {kCurrentUser, key(), nullptr, 0}), nullptr);
}

// A Java side without the ExpandString class: such a value reads as null, nothing is thrown.
class RegistryNativesWithoutExpandString : public RegistryNatives {
 protected:
  RegistryNativesWithoutExpandString()
      : RegistryNatives(json{{"missingClasses", {"com/shipkit/api/windows/WinRegistry$ExpandString"}}}) {}
};

TEST_F(RegistryNativesWithoutExpandString, ExpandStringValueReadsAsNull) {
  ASSERT_EQ(rawSet(HKEY_CURRENT_USER, key_, L"e", REG_EXPAND_SZ, bytesOf(std::u16string(u"%x%\0", 4))),
            ERROR_SUCCESS);
  ASSERT_EQ(rawSet(HKEY_CURRENT_USER, key_, L"s", REG_SZ, bytesOf(std::u16string(u"s\0", 2))), ERROR_SUCCESS);
  EXPECT_EQ(call("getValue0", {kCurrentUser, key(), "e", 0}), nullptr);
  EXPECT_EQ(call("getValue0", {kCurrentUser, key(), "s", 0}), "s");
}

// The one 100000-byte buffer bounds what can be read and written.
TEST_F(RegistryNatives, ValuesAreBoundedByTheHundredThousandByteBuffer) {
  ASSERT_EQ(rawSet(HKEY_CURRENT_USER, key_, L"fits", REG_BINARY, Bytes(100000, 0x11)), ERROR_SUCCESS);
  ASSERT_EQ(rawSet(HKEY_CURRENT_USER, key_, L"larger", REG_BINARY, Bytes(100001, 0x22)), ERROR_SUCCESS);
  json fits = call("getValue0", {kCurrentUser, key(), "fits", 0});
  ASSERT_TRUE(fits.is_object());
  EXPECT_EQ(fits["byte[]"].size(), 100000u);
  EXPECT_EQ(call("getValue0", {kCurrentUser, key(), "larger", 0}), nullptr);

  json bytes = json::array();
  for (int i = 0; i < 100001; ++i) bytes.push_back(i == 100000 ? 9 : 1);
  EXPECT_EQ(call("setValue0", {kCurrentUser, key(), "cut", {{"byte[]", bytes}}, 4, 0}), true);
  EXPECT_EQ(rawGet(HKEY_CURRENT_USER, key_, L"cut").data, Bytes(100000, 1));
}

struct StringLimit {
  const char* name;
  std::size_t units;
  std::size_t storedUnits;  // without the terminator
};

void PrintTo(const StringLimit& c, std::ostream* os) {
  *os << c.name;
}

class RegistryStringLimit : public RegistryNatives, public ::testing::WithParamInterface<StringLimit> {};

TEST_P(RegistryStringLimit, StringsAreCutAt49999Units) {
  const StringLimit& c = GetParam();
  EXPECT_EQ(call("setValue0", {kCurrentUser, key(), "s", std::string(c.units, 'x'), 1, 0}), true);
  RawValue raw = rawGet(HKEY_CURRENT_USER, key_, L"s");
  ASSERT_EQ(raw.data.size(), c.storedUnits * 2 + 2);
  EXPECT_EQ(raw.data[raw.data.size() - 2], 0);
  EXPECT_EQ(raw.data[raw.data.size() - 1], 0);
  EXPECT_EQ(raw.data[raw.data.size() - 4], 'x');
  EXPECT_EQ(call("getValue0", {kCurrentUser, key(), "s", 0}), std::string(c.storedUnits, 'x'));
}

INSTANTIATE_TEST_SUITE_P(Lengths, RegistryStringLimit,
                         ::testing::Values(StringLimit{"Below", 49998, 49998},
                                           StringLimit{"AtLimit", 49999, 49999},
                                           StringLimit{"OneOver", 50000, 49999},
                                           StringLimit{"FarOver", 60000, 49999}),
                         [](const auto& info) { return std::string(info.param.name); });

struct MultiLimit {
  const char* name;
  std::vector<std::size_t> elementUnits;
  bool stored;
};

void PrintTo(const MultiLimit& c, std::ostream* os) {
  *os << c.name;
}

class RegistryMultiLimit : public RegistryNatives, public ::testing::WithParamInterface<MultiLimit> {};

// An element fits while the units used, its length and two zeros stay within 50000.
TEST_P(RegistryMultiLimit, ElementsMustFitTheBuffer) {
  const MultiLimit& c = GetParam();
  json elements = json::array();
  std::size_t units = 0;
  for (std::size_t n : c.elementUnits) {
    elements.push_back(std::string(n, 'm'));
    units += n + 1;
  }
  EXPECT_EQ(call("setValue0", {kCurrentUser, key(), "m", {{"String[]", elements}}, 3, 0}), c.stored);
  RawValue raw = rawGet(HKEY_CURRENT_USER, key_, L"m");
  if (c.stored) {
    EXPECT_EQ(raw.data.size(), (units + 1) * 2);
    EXPECT_EQ(call("getValue0", {kCurrentUser, key(), "m", 0}), elements);
  } else {
    EXPECT_EQ(raw.status, ERROR_FILE_NOT_FOUND) << "nothing is written";
  }
}

INSTANTIATE_TEST_SUITE_P(Lengths, RegistryMultiLimit,
                         ::testing::Values(MultiLimit{"OneElementFits", {49998}, true},
                                           MultiLimit{"OneElementTooLong", {49999}, false},
                                           MultiLimit{"SecondElementFits", {1, 49996}, true},
                                           MultiLimit{"SecondElementTooLong", {1, 49997}, false}),
                         [](const auto& info) { return std::string(info.param.name); });

struct Refusal {
  const char* name;
  int root;
  int typeCode;
  json value;
};

void PrintTo(const Refusal& c, std::ostream* os) {
  *os << c.name;
}

class RegistryRefusals : public RegistryNatives, public ::testing::WithParamInterface<Refusal> {};

TEST_P(RegistryRefusals, ReturnFalseAndLeaveTheOldValue) {
  const Refusal& c = GetParam();
  const Bytes old = bytesOf(std::u16string(u"old\0", 4));
  ASSERT_EQ(rawSet(HKEY_CURRENT_USER, key_, L"v", REG_SZ, old), ERROR_SUCCESS);
  EXPECT_EQ(call("setValue0", {c.root, key(), "v", c.value, c.typeCode, 0}), false);
  RawValue raw = rawGet(HKEY_CURRENT_USER, key_, L"v");
  EXPECT_EQ(raw.type, DWORD(REG_SZ));
  EXPECT_EQ(raw.data, old);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RegistryRefusals,
    ::testing::Values(Refusal{"MultiSzEmptyMiddleElement", kCurrentUser, 3, {{"String[]", {"a", "", "c"}}}},
                      Refusal{"MultiSzEmptyFirstElement", kCurrentUser, 3, {{"String[]", {"", "b"}}}},
                      Refusal{"MultiSzNullElement", kCurrentUser, 3, {{"String[]", {"a", nullptr}}}},
                      Refusal{"TypeCode0", kCurrentUser, 0, "x"}, Refusal{"TypeCode6", kCurrentUser, 6, "x"},
                      Refusal{"TypeCodeNegative", kCurrentUser, -1, "x"},
                      Refusal{"StringCodeWithInteger", kCurrentUser, 1, {{"Integer", 1}}},
                      Refusal{"DwordCodeWithString", kCurrentUser, 2, "5"},
                      Refusal{"DwordCodeWithNull", kCurrentUser, 2, nullptr},
                      Refusal{"MultiSzCodeWithBytes", kCurrentUser, 3, {{"byte[]", {1}}}},
                      Refusal{"BinaryCodeWithString", kCurrentUser, 4, "x"},
                      Refusal{"StringCodeWithNull", kCurrentUser, 1, nullptr},
                      Refusal{"RootCode0", 0, 1, "new"}, Refusal{"RootCode6", 6, 1, "new"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------
// The write retry, through the call table: a real RegSetValueExW cannot be made to fail.

struct SetValueScript {
  std::vector<LSTATUS> results;
  struct Call {
    HKEY key;
    std::wstring name;
    DWORD type;
    const BYTE* data;
    DWORD length;
  };
  std::vector<Call> calls;
};
SetValueScript* setValueScript = nullptr;

LSTATUS WINAPI scriptedSetValue(HKEY key, LPCWSTR name, DWORD, DWORD type, const BYTE* data, DWORD length) {
  SetValueScript& s = *setValueScript;
  s.calls.push_back({key, name ? name : L"<null>", type, data, length});
  return s.results.at(s.calls.size() - 1);
}

// Puts the registry natives' call table back at the end of a test.
struct RegistryCallsGuard {
  shipkit::natives::RegistryCalls saved = shipkit::natives::registryCalls();
  ~RegistryCallsGuard() { shipkit::natives::registryCalls() = saved; }
};

struct Retry {
  const char* name;
  std::vector<LSTATUS> results;
  bool expected;
  std::string output;
};

void PrintTo(const Retry& c, std::ostream* os) {
  *os << c.name;
}

class RegistrySetValueRetry : public RegistryNatives, public ::testing::WithParamInterface<Retry> {};

TEST_P(RegistrySetValueRetry, AFailedWriteIsTriedOnceMoreAndReported) {
  const Retry& c = GetParam();
  RegistryCallsGuard guard;
  SetValueScript script{c.results, {}};
  setValueScript = &script;
  shipkit::natives::registryCalls().setValue = scriptedSetValue;
  ::testing::internal::CaptureStdout();
  json result = call("setValue0", {kCurrentUser, key(), "v", "abc", 1, 0});
  const std::string output = ::testing::internal::GetCapturedStdout();
  setValueScript = nullptr;
  EXPECT_EQ(result, c.expected);
  EXPECT_EQ(output, c.output);
  ASSERT_EQ(script.calls.size(), c.results.size());
  for (const auto& call : script.calls) {
    EXPECT_EQ(call.key, script.calls[0].key) << "the same key both times";
    EXPECT_EQ(call.name, L"v");
    EXPECT_EQ(call.type, DWORD(REG_SZ));
    EXPECT_EQ(call.length, 8u);
    EXPECT_EQ(call.data, script.calls[0].data);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Results, RegistrySetValueRetry,
    ::testing::Values(Retry{"FirstSucceeds", {ERROR_SUCCESS}, true, ""},
                      Retry{"BothFail", {ERROR_ACCESS_DENIED, ERROR_INVALID_HANDLE}, false, "no success 6\n"},
                      Retry{"SecondSucceedsButTheCallFails",
                            {ERROR_ACCESS_DENIED, ERROR_SUCCESS},
                            false,
                            "no success 0\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------
// keyExists0 and createKey0: the root codes

struct Root {
  const char* name;
  int code;
  HKEY root;
  const wchar_t* parent;  // where the test may create a key below that root
};

void PrintTo(const Root& c, std::ostream* os) {
  *os << c.name;
}

class RegistryRoots : public RegistryNatives, public ::testing::WithParamInterface<Root> {
 protected:
  void SetUp() override {
    RegistryNatives::SetUp();
    path_ = std::wstring(GetParam().parent) + L"shipkit-tests-root-" + runToken();
    RegDeleteTreeW(GetParam().root, path_.c_str());
    RegDeleteKeyW(GetParam().root, path_.c_str());
  }
  void TearDown() override {
    RegDeleteTreeW(GetParam().root, path_.c_str());
    RegDeleteKeyW(GetParam().root, path_.c_str());
    RegistryNatives::TearDown();
  }
  std::wstring path_;
};

// The key exists below exactly one root, so only that root's code may find it.
TEST_P(RegistryRoots, KeyExistsOnlyUnderItsOwnCode) {
  const Root& c = GetParam();
  ASSERT_EQ(rawCreate(c.root, path_), ERROR_SUCCESS);
  for (int code : {-1, 0, 1, 2, 3, 4, 5, 6, 7, int(0x80000001)}) {
    EXPECT_EQ(call("keyExists0", {code, utf8(path_), 0}), code == c.code) << "code " << code;
  }
}

TEST_P(RegistryRoots, CreateKeyCreatesBelowItsOwnCode) {
  const Root& c = GetParam();
  EXPECT_EQ(call("createKey0", {c.code, utf8(path_), 0}), true);
  EXPECT_TRUE(rawExists(c.root, path_));
  // Opening an existing key in create mode succeeds too.
  EXPECT_EQ(call("createKey0", {c.code, utf8(path_), 0}), true);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, RegistryRoots,
    ::testing::Values(Root{"ClassesRoot", kClassesRoot, HKEY_CLASSES_ROOT, L""},
                      Root{"CurrentUser", kCurrentUser, HKEY_CURRENT_USER, L"Software\\"},
                      Root{"LocalMachine", kLocalMachine, HKEY_LOCAL_MACHINE, L"Software\\"},
                      Root{"Users", kUsers, HKEY_USERS, L".DEFAULT\\Software\\"},
                      Root{"CurrentConfig", kCurrentConfig, HKEY_CURRENT_CONFIG, L"Software\\"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RegistryNatives, CreateKeyWithAnUnknownRootCodeFails) {
  for (int code : {0, 6, -1}) {
    EXPECT_EQ(call("createKey0", {code, key(), 0}), false) << code;
  }
  EXPECT_FALSE(rawExists(HKEY_CURRENT_USER, key_));
  EXPECT_EQ(call("keyExists0", {kCurrentUser, key(), 0}), false);
}

// Only createKey0, setValue0 and restoreKey0 open in create mode; every other method opens an
// existing key and must leave a missing one missing.
struct MissingKeyCase {
  const char* name;
  const char* method;
  json argsAfterPath;  // the arguments that follow root and path
  json expected;       // the result (null for void methods)
  bool created;
};

void PrintTo(const MissingKeyCase& c, std::ostream* os) {
  *os << c.name;
}

class RegistryMissingKey : public RegistryNatives, public ::testing::WithParamInterface<MissingKeyCase> {};

TEST_P(RegistryMissingKey, OnlyTheCreatingMethodsCreateIt) {
  const MissingKeyCase& c = GetParam();
  json args{kCurrentUser, key("missing")};
  for (const json& a : c.argsAfterPath) args.push_back(a);
  EXPECT_EQ(call(c.method, args), c.expected);
  EXPECT_EQ(rawExists(HKEY_CURRENT_USER, wkey(L"missing")), c.created);
  EXPECT_EQ(rawGet(HKEY_CURRENT_USER, wkey(L"missing"), L"v").status, ERROR_FILE_NOT_FOUND)
      << "nothing written";
}

INSTANTIATE_TEST_SUITE_P(
    Methods, RegistryMissingKey,
    ::testing::Values(
        MissingKeyCase{"KeyExists", "keyExists0", {0}, false, false},
        MissingKeyCase{"GetValue", "getValue0", {"v", 0}, nullptr, false},
        MissingKeyCase{"DeleteValue", "deleteValue0", {"v", 0}, nullptr, false},
        MissingKeyCase{"DeleteKeyOnlyIfEmpty", "deleteKey0", {true, 0}, nullptr, false},
        MissingKeyCase{"DeleteKey", "deleteKey0", {false, 0}, nullptr, false},
        MissingKeyCase{"SaveKey", "saveKey0", {"C:\\shipkit-no-such-dir\\hive.dat", 0}, false, false},
        MissingKeyCase{"EnumSubKeys", "enumSubKeys0", {0}, nullptr, false},
        MissingKeyCase{"EnumValues", "enumValues0", {0}, nullptr, false},
        MissingKeyCase{"CreateKey", "createKey0", {0}, true, true},
        // The key is opened in create mode before the value is converted.
        MissingKeyCase{"SetValueWithUnknownTypeCode", "setValue0", {"v", "x", 9, 0}, false, true}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------
// deleteValue0

TEST_F(RegistryNatives, DeleteValueRemovesOnlyTheNamedValue) {
  const Bytes one = bytesOf(std::u16string(u"1\0", 2));
  ASSERT_EQ(rawSet(HKEY_CURRENT_USER, key_, L"a", REG_SZ, one), ERROR_SUCCESS);
  ASSERT_EQ(rawSet(HKEY_CURRENT_USER, key_, L"b", REG_SZ, one), ERROR_SUCCESS);
  ASSERT_EQ(rawSet(HKEY_CURRENT_USER, key_, nullptr, REG_SZ, one), ERROR_SUCCESS);

  call("deleteValue0", {kCurrentUser, key(), "a", 0});
  EXPECT_EQ(rawGet(HKEY_CURRENT_USER, key_, L"a").status, ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(rawGet(HKEY_CURRENT_USER, key_, L"b").status, ERROR_SUCCESS);

  call("deleteValue0", {kCurrentUser, key(), nullptr, 0});  // the default value
  EXPECT_EQ(rawGet(HKEY_CURRENT_USER, key_, nullptr).status, ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(rawGet(HKEY_CURRENT_USER, key_, L"b").status, ERROR_SUCCESS);

  call("deleteValue0", {kCurrentUser, key(), "missing", 0});  // silent
  call("deleteValue0", {0, key(), "b", 0});
  call("deleteValue0", {kCurrentUser, key("missing"), "b", 0});
  EXPECT_EQ(rawGet(HKEY_CURRENT_USER, key_, L"b").status, ERROR_SUCCESS);
}

// ---------------------------------------------------------------------------------------
// deleteKey0

struct DeleteCase {
  const char* name;
  int root;
  bool onlyIfEmpty;
  bool withValue;
  bool withSubKey;
  bool deleted;
};

void PrintTo(const DeleteCase& c, std::ostream* os) {
  *os << c.name;
}

class RegistryDeleteKey : public RegistryNatives, public ::testing::WithParamInterface<DeleteCase> {};

TEST_P(RegistryDeleteKey, DeletesTheTreeUnlessAskedToKeepAFullKey) {
  const DeleteCase& c = GetParam();
  ASSERT_EQ(rawCreate(HKEY_CURRENT_USER, key_), ERROR_SUCCESS);
  if (c.withValue) {
    ASSERT_EQ(rawSet(HKEY_CURRENT_USER, key_, L"v", REG_DWORD, Bytes{1, 0, 0, 0}), ERROR_SUCCESS);
  }
  if (c.withSubKey) {
    ASSERT_EQ(rawCreate(HKEY_CURRENT_USER, wkey(L"sub")), ERROR_SUCCESS);
  }
  call("deleteKey0", {c.root, key(), c.onlyIfEmpty, 0});
  EXPECT_EQ(rawExists(HKEY_CURRENT_USER, key_), !c.deleted);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RegistryDeleteKey,
    ::testing::Values(DeleteCase{"OnlyIfEmptyKeepsAKeyWithAValue", 2, true, true, false, false},
                      DeleteCase{"OnlyIfEmptyKeepsAKeyWithASubKey", 2, true, false, true, false},
                      DeleteCase{"OnlyIfEmptyDeletesAnEmptyKey", 2, true, false, false, true},
                      DeleteCase{"DeletesAKeyWithValueAndSubKey", 2, false, true, true, true},
                      DeleteCase{"RootCode0DeletesNothing", 0, false, true, true, false},
                      DeleteCase{"RootCode6DeletesNothing", 6, false, true, true, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RegistryNatives, DeleteKeyRemovesAThreeLevelTreeAndKeepsItsParent) {
  for (const wchar_t* sub : {L"a\\b\\c", L"a\\b2", L"d"})
    ASSERT_EQ(rawCreate(HKEY_CURRENT_USER, wkey(sub)), ERROR_SUCCESS);
  for (const wchar_t* sub : {L"a", L"a\\b", L"a\\b\\c"})
    ASSERT_EQ(rawSet(HKEY_CURRENT_USER, wkey(sub), L"v", REG_DWORD, Bytes{1, 0, 0, 0}), ERROR_SUCCESS);
  call("deleteKey0", {kCurrentUser, key("a"), false, 0});
  EXPECT_FALSE(rawExists(HKEY_CURRENT_USER, wkey(L"a")));
  EXPECT_TRUE(rawExists(HKEY_CURRENT_USER, wkey(L"d")));
  call("deleteKey0", {kCurrentUser, key(), false, 0});
  EXPECT_FALSE(rawExists(HKEY_CURRENT_USER, key_));
  EXPECT_TRUE(rawExists(HKEY_CURRENT_USER, L"Software\\shipkit-tests"));
  call("deleteKey0", {kCurrentUser, key(), true, 0});  // missing: nothing happens
}

// The deletions, recorded through the call table and passed on to the real functions.
struct DeleteLog {
  std::vector<std::pair<std::wstring, REGSAM>> ex;
  std::vector<std::wstring> plain;
  bool exAvailable = true;
};
DeleteLog* deleteLog = nullptr;

LSTATUS WINAPI recordDeleteKeyEx(HKEY parent, LPCWSTR name, REGSAM view, DWORD reserved) {
  deleteLog->ex.emplace_back(name ? name : L"<null>", view);
  return RegDeleteKeyExW(parent, name, view, reserved);
}
shipkit::natives::RegDeleteKeyExWFn findRecordingDeleteKeyEx() {
  return deleteLog->exAvailable ? recordDeleteKeyEx : nullptr;
}
LSTATUS WINAPI recordDeleteKey(HKEY parent, LPCWSTR name) {
  deleteLog->plain.emplace_back(name ? name : L"<null>");
  return RegDeleteKeyW(parent, name);
}

struct ViewCase {
  const char* name;
  int view;
  bool exAvailable;
  bool expectEx;
};

void PrintTo(const ViewCase& c, std::ostream* os) {
  *os << c.name;
}

class RegistryDeleteKeyView : public RegistryNatives, public ::testing::WithParamInterface<ViewCase> {};

// Subkeys go from the last enumerated to the first, each tree before its parent.
TEST_P(RegistryDeleteKeyView, EveryLevelIsDeletedTheSameWay) {
  const ViewCase& c = GetParam();
  for (const wchar_t* sub : {L"a\\b", L"c"})
    ASSERT_EQ(rawCreate(HKEY_CURRENT_USER, wkey(sub)), ERROR_SUCCESS);
  RegistryCallsGuard guard;
  DeleteLog log;
  log.exAvailable = c.exAvailable;
  deleteLog = &log;
  shipkit::natives::registryCalls().deleteKey = recordDeleteKey;
  shipkit::natives::registryCalls().findDeleteKeyEx = findRecordingDeleteKeyEx;
  call("deleteKey0", {kCurrentUser, key(), false, c.view});
  deleteLog = nullptr;
  const std::vector<std::wstring> order{L"c", L"b", L"a", key_};
  if (c.expectEx) {
    EXPECT_TRUE(log.plain.empty());
    ASSERT_EQ(log.ex.size(), order.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
      EXPECT_EQ(log.ex[i].first, order[i]);
      EXPECT_EQ(log.ex[i].second, REGSAM(c.view));
    }
  } else {
    EXPECT_TRUE(log.ex.empty());
    EXPECT_EQ(log.plain, order);
  }
  EXPECT_FALSE(rawExists(HKEY_CURRENT_USER, key_));
}

INSTANTIATE_TEST_SUITE_P(Views, RegistryDeleteKeyView,
                         ::testing::Values(ViewCase{"View64UsesDeleteKeyEx", kView64, true, true},
                                           ViewCase{"View32UsesDeleteKeyEx", kView32, true, true},
                                           ViewCase{"View0UsesDeleteKey", 0, true, false},
                                           ViewCase{"WithoutDeleteKeyExFallsBack", kView64, false, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// A path that Windows reads as the root itself must not start a walk that empties the root.
// The deletions are only recorded here, so a mistake cannot damage the test prefix.
TEST_F(RegistryNatives, DeleteKeyOfTheRootItselfDeletesNothing) {
  RegistryCallsGuard guard;
  DeleteLog log;
  deleteLog = &log;
  shipkit::natives::registryCalls().deleteKey = [](HKEY, LPCWSTR name) -> LSTATUS {
    deleteLog->plain.emplace_back(name ? name : L"<null>");
    return ERROR_ACCESS_DENIED;
  };
  shipkit::natives::registryCalls().findDeleteKeyEx = []() -> shipkit::natives::RegDeleteKeyExWFn {
    return [](HKEY, LPCWSTR name, REGSAM view, DWORD) -> LSTATUS {
      deleteLog->ex.emplace_back(name ? name : L"<null>", view);
      return ERROR_ACCESS_DENIED;
    };
  };
  for (const json& path : {json(nullptr), json(""), json("\\"), json{{"utf16", {0, 65}}}}) {
    call("deleteKey0", {kCurrentUser, path, false, 0});
    call("deleteKey0", {kCurrentUser, path, false, kView64});
  }
  deleteLog = nullptr;
  EXPECT_TRUE(log.plain.empty()) << utf8(log.plain.empty() ? L"" : log.plain[0]);
  EXPECT_TRUE(log.ex.empty());
}

// ---------------------------------------------------------------------------------------
// enumSubKeys0 and enumValues0

TEST_F(RegistryNatives, EnumSubKeysListsTheSubKeysInEnumerationOrder) {
  for (const wchar_t* sub : {L"b", L"a", L"\u00e9t\u00e9", L"a\\deeper"})
    ASSERT_EQ(rawCreate(HKEY_CURRENT_USER, wkey(sub)), ERROR_SUCCESS);
  ASSERT_EQ(rawSet(HKEY_CURRENT_USER, key_, L"value", REG_DWORD, Bytes{1, 0, 0, 0}), ERROR_SUCCESS);
  json names = call("enumSubKeys0", {kCurrentUser, key(), 0});
  EXPECT_EQ(names, json(rawNames(HKEY_CURRENT_USER, key_, false)));
  ASSERT_TRUE(names.is_array());
  EXPECT_EQ(names.size(), 3u);
  for (const char* n : {"a", "b", "\u00e9t\u00e9"})
    EXPECT_NE(std::find(names.begin(), names.end(), json(n)), names.end()) << n;

  EXPECT_EQ(call("enumSubKeys0", {kCurrentUser, key("b"), 0}), json::array());
  EXPECT_EQ(call("enumSubKeys0", {kCurrentUser, key("missing"), 0}), nullptr);
  EXPECT_EQ(call("enumSubKeys0", {0, key(), 0}), nullptr);
}

TEST_F(RegistryNatives, EnumValuesListsTheDefaultValueAsAnEmptyName) {
  const Bytes one{1, 0, 0, 0};
  ASSERT_EQ(rawSet(HKEY_CURRENT_USER, wkey(L"only-default"), nullptr, REG_DWORD, one), ERROR_SUCCESS);
  EXPECT_EQ(call("enumValues0", {kCurrentUser, key("only-default"), 0}), json{""});

  ASSERT_EQ(rawCreate(HKEY_CURRENT_USER, wkey(L"none")), ERROR_SUCCESS);
  EXPECT_EQ(call("enumValues0", {kCurrentUser, key("none"), 0}), json::array());
  EXPECT_EQ(call("enumValues0", {kCurrentUser, key("missing"), 0}), nullptr);

  for (const wchar_t* name : {L"b", L"a", L""})
    ASSERT_EQ(rawSet(HKEY_CURRENT_USER, key_, name, REG_DWORD, one), ERROR_SUCCESS);
  json names = call("enumValues0", {kCurrentUser, key(), 0});
  // Wine's RegEnumValueW returns the names sorted, not in insertion order; the native keeps
  // whatever order the registry enumerates.
  EXPECT_EQ(names, json(rawNames(HKEY_CURRENT_USER, key_, true)));
  EXPECT_EQ(names.size(), 3u);
}

TEST_F(RegistryNatives, EnumValuesLeavesOutANameLongerThanItsBuffer) {
  const Bytes one{1, 0, 0, 0};
  const std::wstring longName(5000, L'n');
  ASSERT_EQ(rawSet(HKEY_CURRENT_USER, key_, longName.c_str(), REG_DWORD, one), ERROR_SUCCESS);
  ASSERT_EQ(rawSet(HKEY_CURRENT_USER, key_, L"short", REG_DWORD, one), ERROR_SUCCESS);
  ASSERT_EQ(rawSet(HKEY_CURRENT_USER, key_, L"z", REG_DWORD, one), ERROR_SUCCESS);
  EXPECT_EQ(call("enumValues0", {kCurrentUser, key(), 0}), (json{"short", "z"}));
}

// ---------------------------------------------------------------------------------------
// Both registry views (HKLM\Software is split on a 64-bit system)

class RegistryViews : public RegistryNatives {
 protected:
  void SetUp() override {
    RegistryNatives::SetUp();
    path_ = L"Software\\shipkit-tests-view-" + runToken();
    deleteTreeBothViews(HKEY_LOCAL_MACHINE, path_);
  }
  void TearDown() override {
    deleteTreeBothViews(HKEY_LOCAL_MACHINE, path_);
    RegistryNatives::TearDown();
  }
  std::wstring path_;
};

TEST_F(RegistryViews, TheViewArgumentSelectsTheView) {
  struct {
    int view;
    REGSAM sam;
    int other;
    REGSAM otherSam;
  } cases[] = {{kView32, KEY_WOW64_32KEY, kView64, KEY_WOW64_64KEY},
               {kView64, KEY_WOW64_64KEY, kView32, KEY_WOW64_32KEY}};
  const std::string path = utf8(path_);
  const std::string name = utf8(path_.substr(path_.find(L'\\') + 1));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.view);
    EXPECT_EQ(call("createKey0", {kLocalMachine, path + "\\sub", c.view}), true);
    EXPECT_TRUE(rawExists(HKEY_LOCAL_MACHINE, path_ + L"\\sub", c.sam));
    EXPECT_FALSE(rawExists(HKEY_LOCAL_MACHINE, path_, c.otherSam));
    EXPECT_EQ(call("keyExists0", {kLocalMachine, path, c.view}), true);
    EXPECT_EQ(call("keyExists0", {kLocalMachine, path, c.other}), false);

    EXPECT_EQ(call("setValue0", {kLocalMachine, path, "v", {{"Integer", c.view}}, 2, c.view}), true);
    EXPECT_EQ(rawGet(HKEY_LOCAL_MACHINE, path_, L"v", c.sam).data,
              (Bytes{std::uint8_t(c.view & 0xFF), std::uint8_t(c.view >> 8), 0, 0}));
    EXPECT_TRUE(matches(call("getValue0", {kLocalMachine, path, "v", c.view}), integer(c.view)));
    EXPECT_EQ(call("getValue0", {kLocalMachine, path, "v", c.other}), nullptr);
    EXPECT_EQ(call("enumValues0", {kLocalMachine, path, c.view}), json{"v"});
    EXPECT_EQ(call("enumSubKeys0", {kLocalMachine, path, c.view}), json{"sub"});
    json software = call("enumSubKeys0", {kLocalMachine, "Software", c.other});
    EXPECT_EQ(std::find(software.begin(), software.end(), json(name)), software.end());

    call("deleteValue0", {kLocalMachine, path, "v", c.other});
    EXPECT_EQ(rawGet(HKEY_LOCAL_MACHINE, path_, L"v", c.sam).status, ERROR_SUCCESS) << "other view untouched";
    call("deleteKey0", {kLocalMachine, path, false, c.other});
    EXPECT_TRUE(rawExists(HKEY_LOCAL_MACHINE, path_, c.sam));
    call("deleteKey0", {kLocalMachine, path, false, c.view});
    EXPECT_FALSE(rawExists(HKEY_LOCAL_MACHINE, path_, c.sam));
  }
}

// ---------------------------------------------------------------------------------------
// saveKey0 and restoreKey0. Wine cannot show the privilege rule (its administrator token
// holds every privilege, and AdjustTokenPrivileges always succeeds for backup and restore),
// its RegRestoreKeyW is a stub that restores nothing, and its RegSaveKeyW writes Wine's own
// text format over an existing file: the rule and the call sequence are checked through the
// call table.

struct HiveLog {
  BOOL openResult = TRUE;
  std::vector<std::pair<BOOL, DWORD>> adjustResults;  // per call: result and last error
  LSTATUS hiveResult = ERROR_SUCCESS;
  std::vector<LUID> privileges;
  std::vector<DWORD> attributes;
  int opens = 0;
  struct HiveCall {
    std::wstring file;
    DWORD flags;
    bool sawMarker;
    bool nullSecurity;
  };
  std::vector<HiveCall> saves, restores;
};
HiveLog* hiveLog = nullptr;

BOOL WINAPI scriptedOpenProcessToken(HANDLE process, DWORD access, PHANDLE token) {
  ++hiveLog->opens;
  EXPECT_EQ(access, DWORD(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY));
  if (!hiveLog->openResult) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  return OpenProcessToken(process, access, token);
}

BOOL WINAPI scriptedAdjust(HANDLE, BOOL disableAll, PTOKEN_PRIVILEGES state, DWORD, PTOKEN_PRIVILEGES,
                           PDWORD) {
  EXPECT_FALSE(disableAll);
  EXPECT_EQ(state->PrivilegeCount, 1u);
  hiveLog->privileges.push_back(state->Privileges[0].Luid);
  hiveLog->attributes.push_back(state->Privileges[0].Attributes);
  const auto [result, error] = hiveLog->adjustResults.at(hiveLog->privileges.size() - 1);
  SetLastError(error);
  return result;
}

bool hasMarker(HKEY key) {
  DWORD type = 0, data = 0, size = sizeof data;
  return RegQueryValueExW(key, L"marker", nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) ==
             ERROR_SUCCESS &&
         data == 0x5EED;
}

LSTATUS WINAPI scriptedSave(HKEY key, LPCWSTR file, LPSECURITY_ATTRIBUTES security) {
  hiveLog->saves.push_back({file ? file : L"<null>", 0, hasMarker(key), security == nullptr});
  return hiveLog->hiveResult;
}

LSTATUS WINAPI scriptedRestore(HKEY key, LPCWSTR file, DWORD flags) {
  hiveLog->restores.push_back({file ? file : L"<null>", flags, hasMarker(key), true});
  return hiveLog->hiveResult;
}

LUID privilegeLuid(const wchar_t* name) {
  LUID luid{};
  EXPECT_TRUE(LookupPrivilegeValueW(nullptr, name, &luid)) << utf8(name);
  return luid;
}

struct HiveCase {
  const char* name;
  bool restore;
  BOOL openResult;
  std::vector<std::pair<BOOL, DWORD>> adjustResults;
  LSTATUS hiveResult;
  bool keyExists;
  std::vector<const wchar_t*> privilegesAsked;
  bool hiveCalled;
  bool expected;
};

void PrintTo(const HiveCase& c, std::ostream* os) {
  *os << c.name;
}

class RegistryHive : public RegistryNatives, public ::testing::WithParamInterface<HiveCase> {};

TEST_P(RegistryHive, PrivilegesMustBeFullyGrantedBeforeTheHiveCall) {
  const HiveCase& c = GetParam();
  if (c.keyExists) {
    ASSERT_EQ(rawSet(HKEY_CURRENT_USER, key_, L"marker", REG_DWORD, Bytes{0xED, 0x5E, 0, 0}), ERROR_SUCCESS);
  }
  RegistryCallsGuard guard;
  HiveLog log;
  log.openResult = c.openResult;
  log.adjustResults = c.adjustResults;
  log.hiveResult = c.hiveResult;
  hiveLog = &log;
  auto& calls = shipkit::natives::registryCalls();
  calls.openProcessToken = scriptedOpenProcessToken;
  calls.adjustTokenPrivileges = scriptedAdjust;
  calls.saveKey = scriptedSave;
  calls.restoreKey = scriptedRestore;
  json result = call(c.restore ? "restoreKey0" : "saveKey0", {kCurrentUser, key(), "C:\\hive.dat", 0});
  hiveLog = nullptr;

  EXPECT_EQ(result, c.expected);
  ASSERT_EQ(log.privileges.size(), c.privilegesAsked.size());
  for (std::size_t i = 0; i < log.privileges.size(); ++i) {
    const LUID want = privilegeLuid(c.privilegesAsked[i]);
    EXPECT_EQ(log.privileges[i].LowPart, want.LowPart) << utf8(c.privilegesAsked[i]);
    EXPECT_EQ(log.privileges[i].HighPart, want.HighPart);
    EXPECT_EQ(log.attributes[i], DWORD(SE_PRIVILEGE_ENABLED));
  }
  const auto& hiveCalls = c.restore ? log.restores : log.saves;
  const auto& otherCalls = c.restore ? log.saves : log.restores;
  EXPECT_TRUE(otherCalls.empty());
  ASSERT_EQ(hiveCalls.size(), c.hiveCalled ? 1u : 0u);
  if (c.hiveCalled) {
    EXPECT_EQ(hiveCalls[0].file, L"C:\\hive.dat");
    EXPECT_EQ(hiveCalls[0].flags, 0u);
    EXPECT_TRUE(hiveCalls[0].sawMarker) << "the hive call gets the addressed key";
    EXPECT_TRUE(hiveCalls[0].nullSecurity);
  }
}

const std::pair<BOOL, DWORD> kGranted{TRUE, ERROR_SUCCESS};
const std::pair<BOOL, DWORD> kNotAllAssigned{TRUE, ERROR_NOT_ALL_ASSIGNED};
const std::pair<BOOL, DWORD> kAdjustFailed{FALSE, ERROR_INVALID_HANDLE};

INSTANTIATE_TEST_SUITE_P(
    Cases, RegistryHive,
    ::testing::Values(
        HiveCase{
            "SaveWithBackupPrivilege", false, TRUE, {kGranted}, 0, true, {L"SeBackupPrivilege"}, true, true},
        HiveCase{"SaveWithoutBackupPrivilege",
                 false,
                 TRUE,
                 {kNotAllAssigned},
                 0,
                 true,
                 {L"SeBackupPrivilege"},
                 false,
                 false},
        HiveCase{"SaveWhenAdjustingFails",
                 false,
                 TRUE,
                 {kAdjustFailed},
                 0,
                 true,
                 {L"SeBackupPrivilege"},
                 false,
                 false},
        HiveCase{"SaveWithoutToken", false, FALSE, {}, 0, true, {}, false, false},
        HiveCase{"SaveFailing",
                 false,
                 TRUE,
                 {kGranted},
                 ERROR_ALREADY_EXISTS,
                 true,
                 {L"SeBackupPrivilege"},
                 true,
                 false},
        HiveCase{
            "SaveOfAMissingKey", false, TRUE, {kGranted}, 0, false, {L"SeBackupPrivilege"}, false, false},
        HiveCase{"RestoreWithBothPrivileges",
                 true,
                 TRUE,
                 {kGranted, kGranted},
                 0,
                 true,
                 {L"SeBackupPrivilege", L"SeRestorePrivilege"},
                 true,
                 true},
        HiveCase{"RestoreWithoutRestorePrivilege",
                 true,
                 TRUE,
                 {kGranted, kNotAllAssigned},
                 0,
                 true,
                 {L"SeBackupPrivilege", L"SeRestorePrivilege"},
                 false,
                 false},
        HiveCase{"RestoreWithoutBackupPrivilege",
                 true,
                 TRUE,
                 {kNotAllAssigned},
                 0,
                 true,
                 {L"SeBackupPrivilege"},
                 false,
                 false},
        HiveCase{"RestoreFailing",
                 true,
                 TRUE,
                 {kGranted, kGranted},
                 ERROR_REGISTRY_CORRUPT,
                 true,
                 {L"SeBackupPrivilege", L"SeRestorePrivilege"},
                 true,
                 false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RegistryNatives, RestoreKeyCreatesAMissingKey) {
  RegistryCallsGuard guard;
  HiveLog log;
  log.adjustResults = {kGranted, kGranted};
  hiveLog = &log;
  shipkit::natives::registryCalls().adjustTokenPrivileges = scriptedAdjust;
  shipkit::natives::registryCalls().restoreKey = scriptedRestore;
  EXPECT_EQ(call("restoreKey0", {kCurrentUser, key("new"), "C:\\hive.dat", 0}), true);
  hiveLog = nullptr;
  EXPECT_EQ(log.restores.size(), 1u);
  EXPECT_TRUE(rawExists(HKEY_CURRENT_USER, wkey(L"new")));
}

// With Wine's real functions: its token grants the backup privilege and RegSaveKeyW writes a
// file (in Wine's own format, so only its existence is checked).
TEST_F(RegistryNatives, SaveKeyWritesAHiveFile) {
  ASSERT_EQ(rawSet(HKEY_CURRENT_USER, key_, L"v", REG_DWORD, Bytes{1, 2, 3, 4}), ERROR_SUCCESS);
  wchar_t temp[MAX_PATH];
  ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
  const std::wstring file = std::wstring(temp) + L"shipkit-hive-" + wintest::uniqueName() + L".dat";
  DeleteFileW(file.c_str());
  EXPECT_EQ(call("saveKey0", {kCurrentUser, key(), utf8(file), 0}), true);
  WIN32_FILE_ATTRIBUTE_DATA info{};
  EXPECT_TRUE(GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &info));
  EXPECT_GT(info.nFileSizeLow, 0u);
  DeleteFileW(file.c_str());
  EXPECT_EQ(call("saveKey0", {kCurrentUser, key("missing"), utf8(file), 0}), false);
  EXPECT_EQ(GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES);
}

// ---------------------------------------------------------------------------------------
// changeNotifyAssociations0

struct NotifyLog {
  std::vector<std::vector<std::uintptr_t>> calls;
};
NotifyLog* notifyLog = nullptr;

void WINAPI recordChangeNotify(LONG event, UINT flags, LPCVOID a, LPCVOID b) {
  notifyLog->calls.push_back({std::uintptr_t(event), flags, std::uintptr_t(a), std::uintptr_t(b)});
}

TEST_F(RegistryNatives, ChangeNotifyAssociationsTellsTheShell) {
  auto& shell = shipkit::natives::shellFunctions();
  ASSERT_NE(shell.changeNotify, nullptr) << "Wine's shell32 has SHChangeNotify";
  ASSERT_NE(shell.shellExecute, nullptr);
  const shipkit::natives::ShellFunctions saved = shell;
  NotifyLog log;
  notifyLog = &log;
  shell.changeNotify = recordChangeNotify;
  call("changeNotifyAssociations0", json::array());
  // shell32 unavailable: nothing happens.
  shell.changeNotify = nullptr;
  call("changeNotifyAssociations0", json::array());
  shell = saved;
  notifyLog = nullptr;
  ASSERT_EQ(log.calls.size(), 1u);
  EXPECT_EQ(log.calls[0], (std::vector<std::uintptr_t>{0x08000000, 0, 0, 0}));
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Failed conversions and local references

// A Java string whose characters cannot be had fails the call: it never stands for the
// default value, the root key or an empty name.
TEST_F(RegistryNatives, FailedStringConversionFailsTheCallAndChangesNothing) {
  struct Row {
    const char* method;
    json args;
    int failAfter;  // GetStringChars calls that succeed before the failing one
    json failure;
  } rows[] = {
      {"setValue0", {kCurrentUser, key(), "v", "new", 1, 0}, 1, false},  // the name: would write the default
      {"setValue0", {kCurrentUser, key(), "v", "new", 1, 0}, 0, false},  // the path: would write below HKCU
      {"setValue0", {kCurrentUser, key(), "v", "new", 1, 0}, 2, false},  // the value itself
      {"deleteValue0", {kCurrentUser, key(), "v", 0}, 1, nullptr},       // would delete the default
      {"deleteValue0", {kCurrentUser, key(), "v", 0}, 0, nullptr},
      {"getValue0", {kCurrentUser, key(), "v", 0}, 1, nullptr},
      {"deleteKey0", {kCurrentUser, key(), false, 0}, 0, nullptr},  // would name the root
      {"keyExists0", {kCurrentUser, key(), 0}, 0, false},
      {"createKey0", {kCurrentUser, key("sub"), 0}, 0, false},
      {"enumValues0", {kCurrentUser, key(), 0}, 0, nullptr},
      {"saveKey0", {kCurrentUser, key(), "C:\\skt-hive.dat", 0}, 1, false},
  };
  ASSERT_EQ(call("setValue0", {kCurrentUser, key(), nullptr, "dflt", 1, 0}), true);
  ASSERT_EQ(call("setValue0", {kCurrentUser, key(), "v", "x", 1, 0}), true);
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.method) + " failing call " + std::to_string(row.failAfter));
    vm_.failCall("GetStringChars", row.failAfter);
    EXPECT_EQ(call(row.method, row.args), row.failure);
    vm_.failCall("GetStringChars", 1000000);  // no failure left over for the checks below
    EXPECT_EQ(call("getValue0", {kCurrentUser, key(), nullptr, 0}), "dflt");
    EXPECT_EQ(call("getValue0", {kCurrentUser, key(), "v", 0}), "x");
    EXPECT_EQ(call("enumValues0", {kCurrentUser, key(), 0}), (json{"", "v"}));
    EXPECT_EQ(call("keyExists0", {kCurrentUser, key("sub"), 0}), false);
  }
}

// Enumerations hold a few local references at a time, whatever their size; an element that
// cannot be made fails the whole call rather than leaving a gap.
TEST_F(RegistryNatives, EnumerationsHoldFewLocalReferences) {
  constexpr int kCount = 300;
  ASSERT_EQ(call("createKey0", {kCurrentUser, key(), 0}), true);
  json many = json::array();
  for (int i = 0; i < kCount; ++i) {
    many.push_back("s" + std::to_string(i));
    ASSERT_EQ(
        RegSetKeyValueW(HKEY_CURRENT_USER, key_.c_str(), (L"v" + std::to_wstring(i)).c_str(), REG_SZ, L"", 2),
        ERROR_SUCCESS);
  }
  ASSERT_EQ(call("setValue0", {kCurrentUser, key("m"), "multi", {{"String[]", many}}, 3, 0}), true);
  struct Row {
    const char* method;
    json args;
    std::size_t size;
  } rows[] = {
      {"enumValues0", {kCurrentUser, key(), 0}, kCount},
      {"getValue0", {kCurrentUser, key("m"), "multi", 0}, kCount},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.method);
    json record = vm_.callNative({{"call", std::string("Registry.") + row.method}, {"args", row.args}});
    EXPECT_EQ(record["result"].size(), row.size);
    EXPECT_LE(record["peakLocalRefs"].get<int>(), 4);
    EXPECT_EQ(record["localRefsLeft"], 0);
    vm_.failCall("NewString", 100);
    EXPECT_EQ(call(row.method, row.args), nullptr);
  }
}
