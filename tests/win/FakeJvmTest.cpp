// The fake JVM used by the launcher's tests, exercised through its JNI function table (the
// fakejni library) and, for the invocation entry points, through the built jvm.dll.
#include <gtest/gtest.h>
#include <jni.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "DeclaredNatives.h"
#include "FakeJvmPaths.h"
#include "JniTable.h"
#include "Vm.h"
#include "core/JavaNames.h"

namespace {

using nlohmann::json;
namespace jn = shipkit::java;

std::string cstr(std::string_view v) {
  return std::string(v);
}

class FakeJvm : public ::testing::Test {
 protected:
  explicit FakeJvm(json scenario = json::object()) : vm_(scenario), env_(vm_.env()) {}

  jclass cls(std::string_view name) {
    jclass c = env_->FindClass(cstr(name).c_str());
    EXPECT_NE(c, nullptr) << name;
    return c;
  }
  jstring str(std::u16string_view text) {
    return env_->NewString(reinterpret_cast<const jchar*>(text.data()), static_cast<jsize>(text.size()));
  }
  std::u16string text(jstring s) {
    std::u16string out(env_->GetStringLength(s), u'\0');
    env_->GetStringRegion(s, 0, static_cast<jsize>(out.size()), reinterpret_cast<jchar*>(out.data()));
    return out;
  }
  // Object.toString, so that the object's own override runs.
  std::string toString(jobject obj) {
    jclass object = cls(jn::kObjectClass);
    jmethodID m = env_->GetMethodID(object, "toString", "()Ljava/lang/String;");
    auto s = static_cast<jstring>(env_->CallObjectMethod(obj, m));
    const char* utf = env_->GetStringUTFChars(s, nullptr);
    std::string out = utf;
    env_->ReleaseStringUTFChars(s, utf);
    return out;
  }
  // Text of the pending exception (cleared), or "" when none is pending.
  std::string takeException() {
    jthrowable t = env_->ExceptionOccurred();
    if (!t) return "";
    env_->ExceptionClear();
    return toString(t);
  }
  jint registerNative(std::string_view className, const char* name, const char* sig, void* fn) {
    JNINativeMethod m{const_cast<char*>(name), const_cast<char*>(sig), fn};
    return env_->RegisterNatives(cls(className), &m, 1);
  }

  fakejvm::Vm vm_;
  JNIEnv* env_;
};

// ---------------------------------------------------------------------------------------
// Strings

struct StringCase {
  const char* name;
  std::u16string utf16;
  std::string modifiedUtf8;
};

// Test names in ctest show the case name, not the bytes of the case.
void PrintTo(const StringCase& c, std::ostream* os) {
  *os << c.name;
}

class FakeJvmStrings : public FakeJvm, public ::testing::WithParamInterface<StringCase> {};

TEST_P(FakeJvmStrings, RoundTripsThroughUtf16AndModifiedUtf8) {
  const StringCase& c = GetParam();
  jstring s = str(c.utf16);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(env_->GetStringLength(s), static_cast<jsize>(c.utf16.size()));

  jboolean isCopy = JNI_FALSE;
  const jchar* chars = env_->GetStringChars(s, &isCopy);
  EXPECT_EQ(isCopy, JNI_TRUE);
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(chars), c.utf16.size()), c.utf16);
  // JNI promises no terminator; the unit after the text is deliberately not zero.
  EXPECT_NE(chars[c.utf16.size()], 0);
  env_->ReleaseStringChars(s, chars);

  EXPECT_EQ(env_->GetStringUTFLength(s), static_cast<jsize>(c.modifiedUtf8.size()));
  const char* utf = env_->GetStringUTFChars(s, nullptr);
  EXPECT_EQ(std::string(utf, c.modifiedUtf8.size()), c.modifiedUtf8);
  EXPECT_EQ(utf[c.modifiedUtf8.size()], '\0');
  env_->ReleaseStringUTFChars(s, utf);

  jstring back = env_->NewStringUTF(c.modifiedUtf8.c_str());
  EXPECT_EQ(text(back), c.utf16);
  EXPECT_EQ(vm_.report()["warnings"].size(), 0u) << vm_.report()["warnings"].dump();

  // The UTF region of all units gives the same bytes, terminated.
  std::string region(c.modifiedUtf8.size() + 4, '\x7f');
  env_->GetStringUTFRegion(s, 0, static_cast<jsize>(c.utf16.size()), region.data());
  EXPECT_EQ(region.substr(0, c.modifiedUtf8.size()), c.modifiedUtf8);
  EXPECT_EQ(region[c.modifiedUtf8.size()], '\0');

  EXPECT_FALSE(env_->ExceptionCheck());
  EXPECT_EQ(vm_.outstandingPins(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FakeJvmStrings,
    ::testing::Values(StringCase{"Empty", u"", ""}, StringCase{"Ascii", u"C:\\Temp\\a b", "C:\\Temp\\a b"},
                      StringCase{"EmbeddedNul", std::u16string(u"a\0b", 3),
                                 std::string("a\xC0\x80"
                                             "b")},
                      StringCase{"Latin1", u"\u00e9t\u00e9", "\xC3\xA9t\xC3\xA9"},
                      StringCase{"ThreeByte", u"\u20ac", "\xE2\x82\xAC"},
                      // A supplementary character is two surrogates of three bytes each.
                      StringCase{"Supplementary", u"x\U0001F600y", "x\xED\xA0\xBD\xED\xB8\x80y"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FakeJvm, StringRegionsOutsideTheStringThrow) {
  jstring s = str(u"abc");
  struct {
    jsize start, len;
    bool throws;
  } cases[] = {{0, 3, false}, {1, 2, false}, {3, 0, false}, {2, 2, true},
               {-1, 1, true}, {0, -1, true}, {4, 0, true}};
  for (const auto& c : cases) {
    jchar buf[8] = {};
    env_->GetStringRegion(s, c.start, c.len, buf);
    std::string ex = takeException();
    EXPECT_EQ(!ex.empty(), c.throws) << c.start << "+" << c.len;
    if (c.throws) {
      EXPECT_EQ(ex.rfind("java.lang.StringIndexOutOfBoundsException", 0), 0u) << ex;
    }
  }
}

TEST_F(FakeJvm, MalformedModifiedUtf8IsReadAsLatin1AndReported) {
  jstring s = env_->NewStringUTF("caf\xE9");  // ANSI bytes, not modified UTF-8
  EXPECT_EQ(text(s), u"caf\u00e9");
  ASSERT_EQ(vm_.report()["warnings"].size(), 1u);
  EXPECT_EQ(vm_.report()["warnings"][0]["detail"], "636166e9");
}

// ---------------------------------------------------------------------------------------
// Arrays

struct ReleaseCase {
  const char* name;
  jint mode;
  bool written;      // the Java array sees the change
  bool stillPinned;  // the buffer stays valid (and must be released again)
};

void PrintTo(const ReleaseCase& c, std::ostream* os) {
  *os << c.name;
}

class FakeJvmReleaseModes : public FakeJvm, public ::testing::WithParamInterface<ReleaseCase> {};

TEST_P(FakeJvmReleaseModes, ByteArrayElements) {
  const ReleaseCase& c = GetParam();
  jbyteArray a = env_->NewByteArray(3);
  const jbyte init[] = {1, 2, 3};
  env_->SetByteArrayRegion(a, 0, 3, init);
  jboolean isCopy = JNI_FALSE;
  jbyte* e = env_->GetByteArrayElements(a, &isCopy);
  EXPECT_EQ(isCopy, JNI_TRUE);
  e[1] = 42;
  env_->ReleaseByteArrayElements(a, e, c.mode);
  jbyte out[3] = {};
  env_->GetByteArrayRegion(a, 0, 3, out);
  EXPECT_EQ(out[1], c.written ? 42 : 2);
  EXPECT_EQ(vm_.outstandingPins(), c.stillPinned ? 1u : 0u);
  if (c.stillPinned) {
    e[2] = 9;  // after JNI_COMMIT the buffer is still ours; abort discards this change
    env_->ReleaseByteArrayElements(a, e, JNI_ABORT);
    env_->GetByteArrayRegion(a, 0, 3, out);
    EXPECT_EQ(out[2], 3);
  }
  EXPECT_EQ(vm_.outstandingPins(), 0u);
}

TEST_P(FakeJvmReleaseModes, BooleanIntAndCharArrayElements) {
  const ReleaseCase& c = GetParam();
  jbooleanArray z = env_->NewBooleanArray(2);
  jintArray i = env_->NewIntArray(2);
  jcharArray ch = env_->NewCharArray(2);
  jboolean* ze = env_->GetBooleanArrayElements(z, nullptr);
  jint* ie = env_->GetIntArrayElements(i, nullptr);
  jchar* ce = env_->GetCharArrayElements(ch, nullptr);
  ze[0] = JNI_TRUE;
  ie[1] = -123456789;
  ce[0] = 0xD83D;
  env_->ReleaseBooleanArrayElements(z, ze, c.mode);
  env_->ReleaseIntArrayElements(i, ie, c.mode);
  env_->ReleaseCharArrayElements(ch, ce, c.mode);
  if (c.stillPinned) {
    env_->ReleaseBooleanArrayElements(z, ze, JNI_ABORT);
    env_->ReleaseIntArrayElements(i, ie, JNI_ABORT);
    env_->ReleaseCharArrayElements(ch, ce, JNI_ABORT);
  }
  jboolean zo[2];
  jint io[2];
  jchar co[2];
  env_->GetBooleanArrayRegion(z, 0, 2, zo);
  env_->GetIntArrayRegion(i, 0, 2, io);
  env_->GetCharArrayRegion(ch, 0, 2, co);
  EXPECT_EQ(zo[0], c.written ? JNI_TRUE : JNI_FALSE);
  EXPECT_EQ(io[1], c.written ? -123456789 : 0);
  EXPECT_EQ(co[0], c.written ? 0xD83D : 0);
  EXPECT_EQ(vm_.outstandingPins(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Modes, FakeJvmReleaseModes,
                         ::testing::Values(ReleaseCase{"CopyBackAndFree", 0, true, false},
                                           ReleaseCase{"Commit", JNI_COMMIT, true, true},
                                           ReleaseCase{"Abort", JNI_ABORT, false, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FakeJvm, ArrayRegionsAndElementsCheckBoundsAndTypes) {
  jintArray a = env_->NewIntArray(4);
  EXPECT_EQ(env_->GetArrayLength(a), 4);
  const jint in[] = {7, 8};
  struct {
    jsize start, len;
    bool throws;
  } cases[] = {{0, 2, false}, {2, 2, false}, {3, 2, true}, {-1, 1, true}, {4, 0, false}, {0, -2, true}};
  for (const auto& c : cases) {
    env_->SetIntArrayRegion(a, c.start, c.len, in);
    std::string ex = takeException();
    EXPECT_EQ(!ex.empty(), c.throws) << c.start << "+" << c.len;
    if (c.throws) {
      EXPECT_EQ(ex.rfind("java.lang.ArrayIndexOutOfBoundsException", 0), 0u) << ex;
    }
  }
  jint out[4];
  env_->GetIntArrayRegion(a, 0, 4, out);
  EXPECT_EQ(std::vector<jint>(out, out + 4), (std::vector<jint>{7, 8, 7, 8}));

  env_->NewByteArray(-1);
  EXPECT_EQ(takeException(), "java.lang.NegativeArraySizeException: -1");
}

TEST_F(FakeJvm, ObjectArraysHoldElementsOfTheirType) {
  jclass stringClass = cls(jn::kStringClass);
  jstring fill = str(u"x");
  jobjectArray a = env_->NewObjectArray(3, stringClass, fill);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(env_->GetArrayLength(a), 3);
  EXPECT_TRUE(env_->IsSameObject(env_->GetObjectArrayElement(a, 2), fill));
  env_->SetObjectArrayElement(a, 1, nullptr);
  EXPECT_EQ(env_->GetObjectArrayElement(a, 1), nullptr);
  EXPECT_TRUE(env_->IsInstanceOf(a, cls("[Ljava/lang/String;")));
  EXPECT_TRUE(env_->IsInstanceOf(a, cls("[Ljava/lang/Object;")));
  EXPECT_FALSE(env_->IsInstanceOf(a, cls("[I")));

  jclass integer = cls(jn::kIntegerClass);
  jobject boxed = env_->NewObject(integer, env_->GetMethodID(integer, "<init>", "(I)V"), 5);
  env_->SetObjectArrayElement(a, 0, boxed);
  EXPECT_EQ(takeException(), "java.lang.ArrayStoreException: java/lang/Integer");
  env_->GetObjectArrayElement(a, 3);
  EXPECT_EQ(takeException(), "java.lang.ArrayIndexOutOfBoundsException: Index 3 out of bounds for length 3");
  EXPECT_TRUE(env_->IsSameObject(env_->GetObjectArrayElement(a, 0), fill));
}

// ---------------------------------------------------------------------------------------
// Objects, exceptions and lookups

TEST_F(FakeJvm, IntegerBoxesAndUnboxes) {
  jclass integer = cls(jn::kIntegerClass);
  jmethodID init = env_->GetMethodID(integer, cstr(jn::kConstructorName).c_str(),
                                     cstr(jn::kIntegerConstructorSignature).c_str());
  jmethodID intValue =
      env_->GetMethodID(integer, cstr(jn::kIntValueMethod).c_str(), cstr(jn::kIntValueSignature).c_str());
  ASSERT_NE(init, nullptr);
  ASSERT_NE(intValue, nullptr);
  for (jint v : std::initializer_list<jint>{0, 1, -1, 0x7fffffff, -0x7fffffff - 1}) {
    jobject boxed = env_->NewObject(integer, init, v);
    EXPECT_EQ(env_->CallIntMethod(boxed, intValue), v);
    jvalue arg{};
    arg.i = v;
    jobject viaA = env_->NewObjectA(integer, init, &arg);
    EXPECT_EQ(env_->CallIntMethodA(viaA, intValue, nullptr), v);
    EXPECT_EQ(toString(boxed), std::to_string(v));
  }
  jclass boolean = cls("java/lang/Boolean");
  jobject t = env_->NewObject(boolean, env_->GetMethodID(boolean, "<init>", "(Z)V"), JNI_TRUE);
  EXPECT_EQ(env_->CallBooleanMethod(t, env_->GetMethodID(boolean, "booleanValue", "()Z")), JNI_TRUE);
  EXPECT_TRUE(env_->IsInstanceOf(t, boolean));
  EXPECT_FALSE(env_->IsInstanceOf(t, integer));
  EXPECT_TRUE(env_->IsSameObject(env_->GetObjectClass(t), boolean));
}

struct ThrowCase {
  const char* className;
  const char* message;
  const char* expected;
};

TEST_F(FakeJvm, ExceptionsArePendingUntilClearedAndDescribeThemselves) {
  const ThrowCase cases[] = {
      {"java/lang/RuntimeException", "boom", "java.lang.RuntimeException: boom"},
      {"java/lang/IllegalStateException", "", "java.lang.IllegalStateException: "},
      {"java/lang/NoSuchMethodError", nullptr, "java.lang.NoSuchMethodError"},
      {"java/lang/Error", "\xC3\xA9t\xC3\xA9", "java.lang.Error: \xC3\xA9t\xC3\xA9"},
  };
  jclass throwable = cls("java/lang/Throwable");
  for (const auto& c : cases) {
    jclass thrown = cls(c.className);
    EXPECT_FALSE(env_->ExceptionCheck());
    EXPECT_EQ(env_->ExceptionOccurred(), nullptr);
    EXPECT_EQ(env_->ThrowNew(thrown, c.message), JNI_OK);
    EXPECT_TRUE(env_->ExceptionCheck());
    jthrowable t = env_->ExceptionOccurred();
    ASSERT_NE(t, nullptr);
    env_->ExceptionClear();
    EXPECT_FALSE(env_->ExceptionCheck());
    EXPECT_TRUE(env_->IsInstanceOf(t, throwable));
    EXPECT_TRUE(env_->IsInstanceOf(t, thrown));
    EXPECT_EQ(toString(t), c.expected);
    // Throw makes the same object pending again.
    EXPECT_EQ(env_->Throw(t), JNI_OK);
    jthrowable again = env_->ExceptionOccurred();
    env_->ExceptionClear();
    EXPECT_TRUE(env_->IsSameObject(again, t));
  }
  EXPECT_EQ(vm_.report()["callsWithPendingException"].size(), 0u);
}

TEST_F(FakeJvm, CallsWithAPendingExceptionAreReported) {
  jclass system = cls(jn::kSystemClass);
  env_->ThrowNew(cls("java/lang/RuntimeException"), "pending");
  // Release, delete and exception functions are allowed; a lookup is not.
  env_->DeleteLocalRef(system);
  EXPECT_TRUE(env_->ExceptionCheck());
  EXPECT_EQ(vm_.report()["callsWithPendingException"].size(), 0u);
  env_->FindClass("java/lang/String");
  const json& calls = vm_.report()["callsWithPendingException"];
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0]["function"], "FindClass");
  EXPECT_EQ(calls[0]["exception"], "java.lang.RuntimeException: pending");
  env_->ExceptionClear();
}

TEST_F(FakeJvm, ExceptionDescribeClearsThePendingException) {
  env_->ThrowNew(cls("java/lang/RuntimeException"), "described");
  env_->ExceptionDescribe();
  EXPECT_FALSE(env_->ExceptionCheck());
  const json& events = vm_.report()["events"];
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back()["type"], "exceptionDescribed");
  EXPECT_EQ(events.back()["exception"], "java.lang.RuntimeException: described");
}

class FakeJvmMissing : public FakeJvm {
 protected:
  FakeJvmMissing()
      : FakeJvm(json{{"missingClasses", {jn::kWinDelClass}},
                     {"missingMethods", {{jn::kSystemClass, {"setProperty"}}}},
                     {"missingFields", {{"java/lang/Integer", {"value"}}}}}) {}
};

TEST_F(FakeJvmMissing, LookupsYieldNullAndAPendingError) {
  struct Case {
    const char* what;
    std::function<void*()> lookup;
    const char* error;
  };
  auto find = [this](std::string_view name) {
    return [this, name = std::string(name)] { return (void*)env_->FindClass(name.c_str()); };
  };
  const Case cases[] = {
      {"unknown class", find("com/example/Nope"), "java.lang.NoClassDefFoundError: com/example/Nope"},
      {"dotted name", find("java.lang.String"), "java.lang.NoClassDefFoundError: java.lang.String"},
      {"scenario-removed class", find(jn::kWinDelClass),
       "java.lang.NoClassDefFoundError: com/jarwrap/runtime/util/WinDel"},
      {"array of unknown class", find("[Lcom/example/Nope;"),
       "java.lang.NoClassDefFoundError: [Lcom/example/Nope;"},
      {"scenario-removed method",
       [this] {
         return (void*)env_->GetStaticMethodID(cls(jn::kSystemClass), "setProperty",
                                               cstr(jn::kSetPropertySignature).c_str());
       },
       "java.lang.NoSuchMethodError: setProperty"},
      {"wrong signature",
       [this] { return (void*)env_->GetStaticMethodID(cls(jn::kCommonClass), "initFromLauncher", "(I)V"); },
       "java.lang.NoSuchMethodError: initFromLauncher"},
      {"static method through GetMethodID",
       [this] { return (void*)env_->GetMethodID(cls(jn::kCommonClass), "initFromLauncher", "(Z)V"); },
       "java.lang.NoSuchMethodError: initFromLauncher"},
      {"constructor of a superclass",
       [this] { return (void*)env_->GetMethodID(cls(jn::kIntegerClass), "<init>", "()V"); },
       "java.lang.NoSuchMethodError: <init>"},
      {"scenario-removed field",
       [this] { return (void*)env_->GetFieldID(cls(jn::kIntegerClass), "value", "I"); },
       "java.lang.NoSuchFieldError: value"},
      {"field of another class",
       [this] { return (void*)env_->GetStaticFieldID(cls(jn::kCommonClass), "externalExecutable", "I"); },
       "java.lang.NoSuchFieldError: externalExecutable"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.lookup(), nullptr) << c.what;
    EXPECT_EQ(takeException(), c.error) << c.what;
  }
  // What stays is found.
  EXPECT_NE(env_->FindClass(cstr(jn::kShipkitLauncherClass).c_str()), nullptr);
  EXPECT_NE(
      env_->GetStaticMethodID(cls(jn::kSystemClass), "getProperty", "(Ljava/lang/String;)Ljava/lang/String;"),
      nullptr);
  EXPECT_FALSE(env_->ExceptionCheck());
}

TEST_F(FakeJvm, TheInstallerRuntimeClassesExistWithTheirMembers) {
  for (std::string_view main : {jn::kShipkitLauncherClass, jn::kJarwrapLauncherClass}) {
    EXPECT_NE(env_->GetStaticMethodID(cls(main), "main", cstr(jn::kMainSignature).c_str()), nullptr) << main;
  }
  EXPECT_NE(env_->GetStaticMethodID(cls(jn::kCommonClass), cstr(jn::kInitFromLauncherMethod).c_str(),
                                    cstr(jn::kInitFromLauncherSignature).c_str()),
            nullptr);
  EXPECT_NE(env_->GetStaticFieldID(cls(jn::kWinDelClass), cstr(jn::kExternalExecutableField).c_str(),
                                   cstr(jn::kStringFieldSignature).c_str()),
            nullptr);
  EXPECT_NE(env_->GetStaticMethodID(cls(jn::kSplashConfigClass), cstr(jn::kInitAwtSplashConfigMethod).c_str(),
                                    cstr(jn::kInitAwtSplashConfigSignature).c_str()),
            nullptr);
  for (auto [name, sig] :
       {std::pair{jn::kWindowInfoClass, jn::kWindowInfoConstructorSignature},
        std::pair{jn::kObjectPickerResultClass, jn::kObjectPickerResultConstructorSignature},
        std::pair{jn::kExpandStringClass, jn::kExpandStringConstructorSignature}}) {
    EXPECT_NE(env_->GetMethodID(cls(name), "<init>", cstr(sig).c_str()), nullptr) << name;
  }
  EXPECT_FALSE(env_->ExceptionCheck());
}

TEST_F(FakeJvm, NativeClassesDeclareTheirNativesInRegistrationOrder) {
  // Method counts of the fifteen classes, in registration order: 79 in all.
  const std::vector<size_t> expected = {1, 1, 7, 13, 1, 4, 2, 1, 10, 4, 10, 11, 1, 3, 10};
  std::vector<size_t> counts;
  for (const auto& c : jn::kNativeClasses) {
    EXPECT_NE(env_->FindClass(cstr(c.path).c_str()), nullptr) << c.path;
    size_t n = 0;
    for (const auto& d : fakejvm::declaredNatives()) n += d.className == c.name;
    counts.push_back(n);
  }
  EXPECT_EQ(counts, expected);
}

// ---------------------------------------------------------------------------------------
// Static fields and the report's record of the launcher contract

TEST_F(FakeJvm, StaticFieldWritesAndContractCallsAreReported) {
  jclass winDel = cls(jn::kWinDelClass);
  jfieldID f = env_->GetStaticFieldID(winDel, "externalExecutable", "Ljava/lang/String;");
  EXPECT_EQ(env_->GetStaticObjectField(winDel, f), nullptr);
  env_->SetStaticObjectField(winDel, f, str(u"C:\\setup \u00e9.exe"));
  EXPECT_EQ(text(static_cast<jstring>(env_->GetStaticObjectField(winDel, f))), u"C:\\setup \u00e9.exe");

  jclass common = cls(jn::kCommonClass);
  jmethodID init = env_->GetStaticMethodID(common, "initFromLauncher", "(Z)V");
  env_->CallStaticVoidMethod(common, init, JNI_TRUE);
  env_->CallStaticVoidMethod(common, init, JNI_FALSE);

  jclass system = cls(jn::kSystemClass);
  jmethodID set = env_->GetStaticMethodID(system, "setProperty", cstr(jn::kSetPropertySignature).c_str());
  jobject previous = env_->CallStaticObjectMethod(system, set, str(u"jarwrap.moduleName"), str(u"C:\\a.exe"));
  EXPECT_EQ(previous, nullptr);
  previous = env_->CallStaticObjectMethod(system, set, str(u"jarwrap.moduleName"), str(u"C:\\b.exe"));
  EXPECT_EQ(text(static_cast<jstring>(previous)), u"C:\\a.exe");

  const json& r = vm_.report();
  EXPECT_EQ(r["staticFields"]["com/jarwrap/runtime/util/WinDel.externalExecutable"],
            "C:\\setup \xC3\xA9.exe");
  EXPECT_EQ(r["initFromLauncher"], json::parse("[true, false]"));
  EXPECT_EQ(r["systemProperties"]["jarwrap.moduleName"], "C:\\b.exe");
  ASSERT_EQ(r["javaCalls"].size(), 4u);
  EXPECT_EQ(r["javaCalls"][0]["method"],
            "com/shipkit/runtime/installer/platform/win32/Common.initFromLauncher");
  EXPECT_EQ(r["javaCalls"][2]["args"], json::parse(R"(["jarwrap.moduleName", "C:\\a.exe"])"));
}

TEST_F(FakeJvm, MainRecordsItsClassAndArguments) {
  jclass launcher = cls(jn::kShipkitLauncherClass);
  jmethodID main = env_->GetStaticMethodID(launcher, "main", "([Ljava/lang/String;)V");
  jobjectArray args = env_->NewObjectArray(3, cls(jn::kStringClass), nullptr);
  env_->SetObjectArrayElement(args, 0, str(u"true"));
  env_->SetObjectArrayElement(args, 2, str(u"q"));
  env_->CallStaticVoidMethod(launcher, main, args);
  EXPECT_FALSE(env_->ExceptionCheck());
  EXPECT_EQ(vm_.report()["mainClass"], jn::kShipkitLauncherClass);
  EXPECT_EQ(vm_.report()["mainArgs"], json::parse(R"(["true", null, "q"])"));
}

class FakeJvmScenarioClasses : public FakeJvm {
 protected:
  FakeJvmScenarioClasses()
      : FakeJvm(json::parse(R"({
          "classes": {"com/example/Extra": {
            "methods": [{"name": "go", "signature": "(ILjava/lang/String;)Z"}],
            "fields": [{"name": "NAME", "signature": "Ljava/lang/String;", "value": "v"},
                       {"name": "COUNT", "signature": "I", "value": 3}]}},
          "methodBodies": {
            "Common.initFromLauncher": [{"throw": "init failed", "class": "java/lang/IllegalStateException"}],
            "com/example/Extra.go": [{"print": ""}]}})")) {}
};

TEST_F(FakeJvmScenarioClasses, DeclaredMembersAndMethodBodiesTakeEffect) {
  jclass extra = cls("com/example/Extra");
  jmethodID go = env_->GetStaticMethodID(extra, "go", "(ILjava/lang/String;)Z");
  ASSERT_NE(go, nullptr);
  EXPECT_EQ(env_->CallStaticBooleanMethod(extra, go, 12, str(u"arg")), JNI_FALSE);
  EXPECT_EQ(vm_.report()["javaCalls"].back(), json({{"method", "com/example/Extra.go"},
                                                    {"signature", "(ILjava/lang/String;)Z"},
                                                    {"args", {12, "arg"}}}));
  EXPECT_EQ(vm_.report()["events"].back()["type"], "print");
  auto name = static_cast<jstring>(
      env_->GetStaticObjectField(extra, env_->GetStaticFieldID(extra, "NAME", "Ljava/lang/String;")));
  EXPECT_EQ(text(name), u"v");
  EXPECT_EQ(env_->GetStaticIntField(extra, env_->GetStaticFieldID(extra, "COUNT", "I")), 3);

  jclass common = cls(jn::kCommonClass);
  env_->CallStaticVoidMethod(common, env_->GetStaticMethodID(common, "initFromLauncher", "(Z)V"), JNI_TRUE);
  EXPECT_EQ(takeException(), "java.lang.IllegalStateException: init failed");
  EXPECT_EQ(vm_.report()["initFromLauncher"], json::parse("[true]"));
}

// ---------------------------------------------------------------------------------------
// References

TEST_F(FakeJvm, LocalFramesAndReferencesAreCounted) {
  const size_t base = vm_.liveLocalRefs();
  jstring a = str(u"a");
  EXPECT_EQ(vm_.liveLocalRefs(), base + 1);
  EXPECT_EQ(env_->GetObjectRefType(a), JNILocalRefType);
  ASSERT_EQ(env_->PushLocalFrame(4), JNI_OK);
  str(u"b");
  jstring kept = str(u"c");
  EXPECT_EQ(vm_.liveLocalRefs(), base + 3);
  jobject survivor = env_->PopLocalFrame(kept);
  EXPECT_EQ(vm_.liveLocalRefs(), base + 2);  // a and the survivor
  EXPECT_EQ(text(static_cast<jstring>(survivor)), u"c");

  jobject global = env_->NewGlobalRef(a);
  EXPECT_EQ(env_->GetObjectRefType(global), JNIGlobalRefType);
  EXPECT_TRUE(env_->IsSameObject(global, a));
  EXPECT_EQ(vm_.liveGlobalRefs(), 1u);
  env_->DeleteLocalRef(a);
  env_->DeleteLocalRef(survivor);
  EXPECT_EQ(vm_.liveLocalRefs(), base);
  EXPECT_EQ(text(static_cast<jstring>(global)), u"a");
  env_->DeleteGlobalRef(global);
  EXPECT_EQ(vm_.liveGlobalRefs(), 0u);
  EXPECT_EQ(env_->EnsureLocalCapacity(100), JNI_OK);
  EXPECT_TRUE(env_->IsSameObject(nullptr, nullptr));
  EXPECT_EQ(env_->NewLocalRef(nullptr), nullptr);
}

TEST_F(FakeJvm, GetVersionAndGetJavaVMAndGetEnv) {
  EXPECT_EQ(env_->GetVersion(), JNI_VERSION_10);
  JavaVM* vm = nullptr;
  ASSERT_EQ(env_->GetJavaVM(&vm), JNI_OK);
  EXPECT_EQ(vm, vm_.javaVm());
  void* env = nullptr;
  EXPECT_EQ(vm->GetEnv(&env, JNI_VERSION_1_2), JNI_OK);
  EXPECT_EQ(env, env_);
  EXPECT_EQ(vm->GetEnv(&env, 0x00990000), JNI_EVERSION);
  EXPECT_EQ(env, nullptr);
  EXPECT_EQ(vm->AttachCurrentThread(&env, nullptr), JNI_OK);
  EXPECT_EQ(env, env_);
  EXPECT_EQ(vm->DetachCurrentThread(), JNI_OK);
  EXPECT_EQ(vm->DestroyJavaVM(), JNI_OK);
  EXPECT_TRUE(vm_.report()["destroyed"].get<bool>());
  EXPECT_EQ(vm->GetEnv(&env, JNI_VERSION_1_2), JNI_EDETACHED);
}

// ---------------------------------------------------------------------------------------
// RegisterNatives and calls of natives from scenario steps

jint JNICALL startService(JNIEnv* env, jclass, jstring name, jobjectArray args) {
  jint total = env->GetStringLength(name);
  for (jsize i = 0; i < env->GetArrayLength(args); ++i) {
    auto s = static_cast<jstring>(env->GetObjectArrayElement(args, i));
    total += s ? env->GetStringLength(s) : 1000;
    env->DeleteLocalRef(s);
  }
  return total;
}

jboolean JNICALL changeNotify(JNIEnv* env, jclass, jbyteArray a, jbyteArray b) {
  auto sum = [env](jbyteArray arr) {
    jbyte* e = env->GetByteArrayElements(arr, nullptr);
    int s = 0;
    for (jsize i = 0; i < env->GetArrayLength(arr); ++i) s += e[i];
    env->ReleaseByteArrayElements(arr, e, JNI_ABORT);
    return s;
  };
  return sum(a) == sum(b) ? JNI_TRUE : JNI_FALSE;
}

jlong JNICALL freeDiskSpace(JNIEnv* env, jclass, jstring path) {
  return 0x123456789ABLL + env->GetStringLength(path);
}

jboolean JNICALL isProcessAlive(JNIEnv*, jclass, jint pid) {
  return pid == -7 ? JNI_TRUE : JNI_FALSE;
}

jint JNICALL compareVersions(JNIEnv* env, jclass, jstring a, jstring b) {
  return env->GetStringLength(a) - env->GetStringLength(b);
}

jobject JNICALL getValue(JNIEnv* env, jclass, jint root, jstring, jstring, jint view) {
  jclass integer = env->FindClass("java/lang/Integer");
  jobject boxed = env->NewObject(integer, env->GetMethodID(integer, "<init>", "(I)V"), root * 1000 + view);
  env->DeleteLocalRef(integer);
  return boxed;
}

// Sixteen parameters: most of them travel in stack slots.
jobjectArray JNICALL displayDialog(JNIEnv* env, jclass, jlong hwnd, jstring title, jstring, jstring, jstring,
                                   jint x, jint y, jboolean flag, jstring folder, jobjectArray filters,
                                   jobjectArray, jint index, jobjectArray extensions, jbooleanArray result) {
  jboolean* r = env->GetBooleanArrayElements(result, nullptr);
  r[0] = JNI_TRUE;
  env->ReleaseBooleanArrayElements(result, r, 0);
  auto number = [env](long long v) { return env->NewStringUTF(std::to_string(v).c_str()); };
  jobject items[] = {title,
                     folder,
                     number(hwnd),
                     number(x),
                     number(y),
                     env->NewStringUTF(flag ? "true" : "false"),
                     number(index),
                     env->GetObjectArrayElement(filters, 0),
                     number(env->GetArrayLength(extensions))};
  jobjectArray out = env->NewObjectArray(9, env->FindClass("java/lang/String"), nullptr);
  for (jsize i = 0; i < 9; ++i) env->SetObjectArrayElement(out, i, items[i]);
  return out;
}

// Forgets to release the characters and to delete a local reference.
jstring JNICALL leakyDeviceName(JNIEnv* env, jclass, jstring name) {
  const jchar* chars = env->GetStringChars(name, nullptr);
  env->NewStringUTF("forgotten");
  return env->NewString(chars, env->GetStringLength(name));
}

struct NativeEntry {
  const char* className;
  const char* name;
  const char* signature;
  void* fn;
};

const NativeEntry kTestNatives[] = {
    {"Win32Services", "startService0", "(Ljava/lang/String;[Ljava/lang/String;)I", (void*)startService},
    {"ShellLink", "changeNotify0", "([B[B)Z", (void*)changeNotify},
    {"Misc", "getFreeDiskSpace0", "(Ljava/lang/String;)J", (void*)freeDiskSpace},
    {"Win32CommunicationBackend", "isProcessAlive0", "(I)Z", (void*)isProcessAlive},
    {"Registry", "getValue0", "(ILjava/lang/String;Ljava/lang/String;I)Ljava/lang/Object;", (void*)getValue},
    {"VistaFileChooser", "displayDialog0",
     "(JLjava/lang/String;Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;IIZLjava/lang/String;[Ljava/"
     "lang/"
     "String;[Ljava/lang/String;I[Ljava/lang/String;[Z)[Ljava/lang/String;",
     (void*)displayDialog},
    {"Win32Handle", "getDeviceName0", "(Ljava/lang/String;)Ljava/lang/String;", (void*)leakyDeviceName},
    {"FileVersion", "compare0", "(Ljava/lang/String;Ljava/lang/String;)I", (void*)compareVersions},
};

std::string nativePath(const char* shortName) {
  return cstr(jn::kNativePackage) + shortName;
}

TEST_F(FakeJvm, RegisterNativesRecordsDeclaredNativesAndRejectsOthers) {
  for (const auto& n : kTestNatives) {
    EXPECT_EQ(registerNative(nativePath(n.className), n.name, n.signature, n.fn), JNI_OK) << n.name;
  }
  const json& registered = vm_.report()["registered"];
  ASSERT_EQ(registered.size(), std::size(kTestNatives));
  EXPECT_EQ(registered[4],
            json({{"class", nativePath("Registry")},
                  {"name", "getValue0"},
                  {"signature", "(ILjava/lang/String;Ljava/lang/String;I)Ljava/lang/Object;"}}));

  struct Reject {
    const char* className;
    const char* name;
    const char* signature;
  } rejects[] = {
      {"Registry", "getValue0",
       "(ILjava/lang/String;Ljava/lang/String;)Ljava/lang/Object;"},  // wrong signature
      {"Registry", "noSuchMethod0", "()V"},                           // not declared
      {"ShellLink", "create0", "(Ljava/lang/String;)Z"},              // exported but not registered
      {"Misc", "getValue0", "(ILjava/lang/String;Ljava/lang/String;I)Ljava/lang/Object;"},  // other class's
  };
  for (const auto& r : rejects) {
    EXPECT_EQ(registerNative(nativePath(r.className), r.name, r.signature, (void*)isProcessAlive), JNI_ERR)
        << r.name;
    std::string ex = takeException();
    EXPECT_EQ(ex.rfind("java.lang.NoSuchMethodError: Method '" + nativePath(r.className) + "." + r.name, 0),
              0u)
        << ex;
  }
  EXPECT_EQ(vm_.report()["registered"].size(), std::size(kTestNatives));

  // A batch binds its entries in order up to the first bad one.
  JNINativeMethod batch[] = {
      {const_cast<char*>("keyExists0"), const_cast<char*>("(ILjava/lang/String;I)Z"), (void*)isProcessAlive},
      {const_cast<char*>("bogus0"), const_cast<char*>("()V"), (void*)isProcessAlive},
      {const_cast<char*>("createKey0"), const_cast<char*>("(ILjava/lang/String;I)Z"), (void*)isProcessAlive},
  };
  EXPECT_EQ(env_->RegisterNatives(cls(nativePath("Registry")), batch, 3), JNI_ERR);
  takeException();
  EXPECT_EQ(vm_.report()["registered"].back()["name"], "keyExists0");

  EXPECT_EQ(env_->UnregisterNatives(cls(nativePath("Registry"))), JNI_OK);
  for (const auto& r : vm_.report()["registered"]) EXPECT_NE(r["class"], nativePath("Registry"));
}

class FakeJvmNoEnumValues : public FakeJvm {
 protected:
  FakeJvmNoEnumValues() : FakeJvm(json{{"missingNatives", {{"Registry", {"enumValues0"}}}}}) {}
};

TEST_F(FakeJvmNoEnumValues, ScenarioCanUndeclareANative) {
  EXPECT_EQ(registerNative(nativePath("Registry"), "enumSubKeys0",
                           "(ILjava/lang/String;I)[Ljava/lang/String;", (void*)isProcessAlive),
            JNI_OK);
  EXPECT_EQ(registerNative(nativePath("Registry"), "enumValues0", "(ILjava/lang/String;I)[Ljava/lang/String;",
                           (void*)isProcessAlive),
            JNI_ERR);
  EXPECT_NE(takeException(), "");
}

TEST_F(FakeJvm, ScenarioStepsCallRegisteredNativesWithDataArguments) {
  for (const auto& n : kTestNatives) {
    ASSERT_EQ(registerNative(nativePath(n.className), n.name, n.signature, n.fn), JNI_OK);
  }
  const size_t localsBefore = vm_.liveLocalRefs();
  vm_.runSteps(json::parse(R"([
    {"call": "Win32Services.startService0", "args": ["svc", ["ab", null, "cde"]]},
    {"call": "ShellLink.changeNotify0", "args": [[1, 2, -3], {"byte[]": [0, 0]}]},
    {"call": "ShellLink.changeNotify0", "args": [[1], [2]]},
    {"call": "Misc.getFreeDiskSpace0", "args": ["C:\\"]},
    {"call": "Win32CommunicationBackend.isProcessAlive0", "args": [-7]},
    {"call": "Win32CommunicationBackend.isProcessAlive0", "args": [7]},
    {"call": "com/shipkit/runtime/installer/platform/win32/Registry.getValue0", "args": [2, "SOFTWARE\\X", null, 256]},
    {"call": "VistaFileChooser.displayDialog0",
     "args": [4294967298, "Title", null, "", "x", -5, 6, true, "C:\\dir", ["*.txt"], [], 9, ["a", "b"], [false, false]]},
    {"call": "FileVersion.compare0", "args": ["1.0", "1.0.0.1"]}
  ])"));
  const json& calls = vm_.report()["calls"];
  ASSERT_EQ(calls.size(), 9u);
  EXPECT_EQ(calls[0]["result"], 2 + 3 + 1000 + 3);
  EXPECT_EQ(calls[1]["result"], true);
  EXPECT_EQ(calls[2]["result"], false);
  EXPECT_EQ(calls[3]["result"], 0x123456789ABLL + 3);
  EXPECT_EQ(calls[4]["result"], true);
  EXPECT_EQ(calls[5]["result"], false);
  EXPECT_EQ(calls[6]["result"]["class"], "java/lang/Integer");
  EXPECT_EQ(calls[6]["result"]["fields"]["value"], 2256);
  EXPECT_EQ(calls[7]["result"],
            json::parse(R"(["Title", "C:\\dir", "4294967298", "-5", "6", "true", "9", "*.txt", "2"])"));
  EXPECT_EQ(calls[8]["result"], -4);  // a negative int comes back sign-extended from the 64-bit slot
  // Arguments are recorded as the native left them: the boolean array was written back.
  EXPECT_EQ(calls[7]["args"][13], json::parse(R"({"boolean[]": [true, false]})"));
  for (const auto& c : calls) {
    EXPECT_EQ(c["exception"], nullptr) << c.dump();
    EXPECT_EQ(c["unreleased"], 0) << c.dump();
  }
  EXPECT_EQ(calls[6]["localRefsLeft"], 0);       // deleted what it made, besides the result
  EXPECT_EQ(calls[7]["localRefsLeft"], 8);       // eight local references made and never deleted
  EXPECT_EQ(vm_.liveLocalRefs(), localsBefore);  // the native frames are gone
}

TEST_F(FakeJvm, CallRecordsShowLeaksAndUnregisteredNatives) {
  ASSERT_EQ(registerNative(nativePath("Win32Handle"), "getDeviceName0",
                           "(Ljava/lang/String;)Ljava/lang/String;", (void*)leakyDeviceName),
            JNI_OK);
  vm_.runSteps(json::parse(R"([
    {"call": "Win32Handle.getDeviceName0", "args": ["\\??\\C:"]},
    {"call": "Win32Handle.close0", "args": [4], "catch": true},
    {"call": "Win32Handle.close0", "args": [5]},
    {"call": "Win32Handle.getDeviceName0", "args": ["not reached"]}
  ])"));
  const json& calls = vm_.report()["calls"];
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0]["result"], "\\??\\C:");
  EXPECT_EQ(calls[0]["unreleased"], 1);
  EXPECT_EQ(calls[0]["localRefsLeft"], 1);
  EXPECT_EQ(calls[1]["error"], "not registered");
  EXPECT_EQ(calls[1]["exception"].get<std::string>().rfind("java.lang.UnsatisfiedLinkError", 0), 0u);
  // Without "catch" the exception ends the steps, as it would end Java's main.
  EXPECT_TRUE(env_->ExceptionCheck());
  env_->ExceptionClear();
}

TEST_F(FakeJvm, InvalidScenarioArgumentsEndTheProcessLoudly) {
  EXPECT_EXIT(vm_.runSteps(json::parse(R"([{"call": "Misc.getFreeDiskSpace0", "args": [5]}])")),
              ::testing::ExitedWithCode(3), "fakejvm: scenario: not a value for a reference parameter: 5");
  EXPECT_EXIT(vm_.runSteps(json::parse(R"([{"fly": 1}])")), ::testing::ExitedWithCode(3),
              "fakejvm: scenario: unknown step");
}

// ---------------------------------------------------------------------------------------
// Loud failures

TEST_F(FakeJvm, UnimplementedSlotsEndTheProcessNamingThemselves) {
  jstring s = str(u"x");
  const std::vector<std::string> implemented = fakejvm::implementedJniFunctions();
  struct Case {
    const char* name;
    std::function<void()> call;
  } cases[] = {
      {"MonitorEnter", [&] { env_->MonitorEnter(s); }},
      {"AllocObject", [&] { env_->AllocObject(cls(jn::kStringClass)); }},
      {"DefineClass", [&] { env_->DefineClass("X", nullptr, nullptr, 0); }},
      {"NewDirectByteBuffer", [&] { env_->NewDirectByteBuffer(nullptr, 0); }},
      {"GetModule", [&] { env_->GetModule(cls(jn::kStringClass)); }},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(std::count(implemented.begin(), implemented.end(), c.name), 0) << c.name;
    EXPECT_EXIT(c.call(), ::testing::ExitedWithCode(3),
                std::string("fakejvm: unimplemented JNI function ") + c.name);
  }
  for (const char* needed :
       {"FindClass", "RegisterNatives", "CallStaticVoidMethodA", "GetStringUTFRegion",
        "ReleaseBooleanArrayElements", "PopLocalFrame", "ExceptionDescribe", "GetJavaVM"}) {
    EXPECT_EQ(std::count(implemented.begin(), implemented.end(), needed), 1) << needed;
  }
}

TEST(FakeJvmTable, LeavesOnlyReflectionMonitorsWeakRefsBuffersAndModulesUnimplemented) {
  const std::vector<std::string> implemented = fakejvm::implementedJniFunctions();
  const std::set<std::string> unimplemented = {"DefineClass",
                                               "FromReflectedMethod",
                                               "FromReflectedField",
                                               "ToReflectedMethod",
                                               "ToReflectedField",
                                               "AllocObject",
                                               "MonitorEnter",
                                               "MonitorExit",
                                               "NewWeakGlobalRef",
                                               "DeleteWeakGlobalRef",
                                               "NewDirectByteBuffer",
                                               "GetDirectBufferAddress",
                                               "GetDirectBufferCapacity",
                                               "GetModule"};
  // 230 function slots in all.
  EXPECT_EQ(implemented.size() + unimplemented.size(), 230u);
  for (const auto& name : implemented) EXPECT_EQ(unimplemented.count(name), 0u) << name;
}

TEST_F(FakeJvm, MisuseEndsTheProcessNamingTheFunction) {
  struct Case {
    const char* what;
    std::function<void()> call;
    const char* message;
  } cases[] = {
      {"deleted reference",
       [&] {
         jstring s = str(u"x");
         env_->DeleteLocalRef(s);
         env_->GetStringLength(s);
       },
       "JNI misuse in GetStringLength: use of a deleted reference"},
      {"foreign buffer",
       [&] {
         jchar buf[2] = {};
         env_->ReleaseStringChars(str(u"x"), buf);
       },
       "JNI misuse in ReleaseStringChars"},
      {"wrong return type",
       [&] {
         jclass c = cls(jn::kCommonClass);
         env_->CallStaticIntMethod(c, env_->GetStaticMethodID(c, "initFromLauncher", "(Z)V"), JNI_TRUE);
       },
       "JNI misuse in CallStaticIntMethodV: .*initFromLauncher.Z.V does not return int"},
      {"string where an array is expected",
       [&] {
         jclass c = cls(jn::kShipkitLauncherClass);
         env_->CallStaticVoidMethod(c, env_->GetStaticMethodID(c, "main", "([Ljava/lang/String;)V"),
                                    str(u"x"));
       },
       "JNI misuse in CallStaticVoidMethodV: argument 1 of .*main"},
      {"null function pointer", [&] { registerNative(nativePath("Misc"), "toFront0", "()V", nullptr); },
       "JNI misuse in RegisterNatives: .*null function pointer"},
  };
  for (const auto& c : cases) {
    EXPECT_EXIT(c.call(), ::testing::ExitedWithCode(3), c.message) << c.what;
  }
}

// ---------------------------------------------------------------------------------------
// jvm.dll: the invocation entry points, each run in a child process because a JVM is
// created once per process.

std::wstring tempFile(const wchar_t* name) {
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  return std::wstring(dir) + name;
}

json readJson(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  std::stringstream buf;
  buf << in.rdbuf();
  return json::parse(buf.str(), nullptr, false);
}

void writeFile(const std::wstring& path, const std::string& text) {
  std::ofstream out(path.c_str(), std::ios::binary);
  out << text;
}

using CreateJavaVM = jint(JNICALL*)(JavaVM**, void**, void*);

// Runs in the child: creates the VM with fixed options, calls main with {"a", "b c"}
// unless creation fails, destroys the VM and exits with 0 (or the creation result + 100).
[[noreturn]] void launchLikeTheLauncher(const std::wstring& scenario, const std::wstring& report) {
  SetEnvironmentVariableW(L"FAKEJVM_SCENARIO", scenario.empty() ? nullptr : scenario.c_str());
  SetEnvironmentVariableW(L"FAKEJVM_REPORT", report.c_str());
  SetEnvironmentVariableW(L"PATH", L"C:\\jre\\bin;C:\\windows\\system32");
  HMODULE dll = LoadLibraryW(fakejvm::kBuiltJvmDll);
  if (!dll) ExitProcess(90);
  auto create =
      reinterpret_cast<CreateJavaVM>(reinterpret_cast<void*>(GetProcAddress(dll, "JNI_CreateJavaVM")));
  if (!create || !GetProcAddress(dll, "JNI_GetDefaultJavaVMInitArgs") ||
      !GetProcAddress(dll, "JNI_GetCreatedJavaVMs")) {
    ExitProcess(91);
  }
  std::string options[] = {"-Djarwrap.tempDir=C:\\t\xE9mp", "-Xmx64m", "-Djava.library.path=C:\\jre\\bin;x"};
  JavaVMOption vmOptions[3];
  for (int i = 0; i < 3; ++i) vmOptions[i] = {options[i].data(), nullptr};
  JavaVMInitArgs args{JNI_VERSION_1_2, 3, vmOptions, JNI_TRUE};
  JavaVM* vm = nullptr;
  JNIEnv* env = nullptr;
  jint result = create(&vm, reinterpret_cast<void**>(&env), &args);
  if (result != JNI_OK) ExitProcess(100 + result);
  if (create(&vm, reinterpret_cast<void**>(&env), &args) != JNI_EEXIST) ExitProcess(92);
  jclass launcher = env->FindClass("com/jarwrap/runtime/WinLauncher");
  jmethodID main = env->GetStaticMethodID(launcher, "main", "([Ljava/lang/String;)V");
  jobjectArray argv = env->NewObjectArray(2, env->FindClass("java/lang/String"), nullptr);
  env->SetObjectArrayElement(argv, 0, env->NewStringUTF("a"));
  env->SetObjectArrayElement(argv, 1, env->NewStringUTF("b c"));
  env->CallStaticVoidMethod(launcher, main, argv);
  if (jthrowable t = env->ExceptionOccurred()) {
    env->ExceptionClear();
    jmethodID toString =
        env->GetMethodID(env->FindClass("java/lang/Object"), "toString", "()Ljava/lang/String;");
    const char* text =
        env->GetStringUTFChars(static_cast<jstring>(env->CallObjectMethod(t, toString)), nullptr);
    std::fprintf(stderr, "main threw %s\n", text);
    std::fflush(stderr);
  }
  vm->DestroyJavaVM();
  ExitProcess(0);
}

struct DllCase {
  const char* name;
  const char* scenario;  // nullptr: no FAKEJVM_SCENARIO
  int exitCode;
  const char* stderrPattern;
};

void PrintTo(const DllCase& c, std::ostream* os) {
  *os << c.name;
}

class FakeJvmDll : public ::testing::TestWithParam<DllCase> {};

TEST_P(FakeJvmDll, ReportsWhatTheLauncherDid) {
  const DllCase& c = GetParam();
  const std::wstring report = tempFile(L"fakejvm-dll-report.json");
  const std::wstring scenario = c.scenario ? tempFile(L"fakejvm-dll-scenario.json") : std::wstring();
  DeleteFileW(report.c_str());
  if (c.scenario) writeFile(scenario, c.scenario);

  EXPECT_EXIT(launchLikeTheLauncher(scenario, report), ::testing::ExitedWithCode(c.exitCode),
              c.stderrPattern);

  json r = readJson(report);
  ASSERT_TRUE(r.is_object()) << "no report";
  EXPECT_EQ(r["version"], 0x00010002);
  EXPECT_EQ(r["ignoreUnrecognized"], true);
  EXPECT_EQ(
      r["options"],
      json::parse(R"(["-Djarwrap.tempDir=C:\\t\u00e9mp", "-Xmx64m", "-Djava.library.path=C:\\jre\\bin;x"])"));
  EXPECT_EQ(r["path"], "C:\\jre\\bin;C:\\windows\\system32");
  EXPECT_TRUE(r["currentDirectory"].is_string() && !r["currentDirectory"].get<std::string>().empty());
  EXPECT_EQ(r["unimplemented"], json::array());
  EXPECT_EQ(r["misuse"], json::array());
  if (r["createResult"] != 0) {
    EXPECT_EQ(r["mainClass"], nullptr);
    EXPECT_EQ(r["destroyed"], false);
    return;
  }
  EXPECT_EQ(r["mainClass"], "com/jarwrap/runtime/WinLauncher");
  EXPECT_EQ(r["mainArgs"], json::parse(R"(["a", "b c"])"));
  EXPECT_EQ(r["destroyed"], c.exitCode == 0);
  EXPECT_EQ(r["exitCode"], c.exitCode == 0 ? json(nullptr) : json(c.exitCode));
  DeleteFileW(report.c_str());
  if (c.scenario) DeleteFileW(scenario.c_str());
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, FakeJvmDll,
    ::testing::Values(DllCase{"Defaults", nullptr, 0, ""},
                      DllCase{"CreateFails", R"({"createResult": -4})", 96, ""},
                      DllCase{"MainPrintsAndExits",
                              R"({"main": [{"stderr": "hello from main\n"}, {"exit": 7}, {"exit": 8}]})", 7,
                              "hello from main"},
                      DllCase{"MainThrows", R"({"main": [{"throw": "no way"}, {"exit": 9}]})", 0,
                              "main threw java.lang.RuntimeException: no way"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FakeJvmDllReport, IsRewrittenAfterEachEvent) {
  // The report is complete up to the last event even when the Java side ends the process:
  // the exit step leaves main's record in it.
  const std::wstring report = tempFile(L"fakejvm-dll-exit-report.json");
  const std::wstring scenario = tempFile(L"fakejvm-dll-exit-scenario.json");
  DeleteFileW(report.c_str());
  writeFile(scenario,
            R"({"main": [{"registry": {"key": "SOFTWARE\\shipkit-fakejvm-test", "name": "Marker_{pid}",
                                                 "dword": 2}},
                                   {"window": "Fake installer"}, {"sleep_ms": 1}, {"exit": 4}]})");
  EXPECT_EXIT(launchLikeTheLauncher(scenario, report), ::testing::ExitedWithCode(4), "");
  json r = readJson(report);
  ASSERT_TRUE(r.is_object());
  std::vector<std::string> types;
  for (const auto& e : r["events"]) types.push_back(e["type"]);
  EXPECT_EQ(types, (std::vector<std::string>{"create", "main", "registry", "window", "sleep", "exit"}));
  const json& marker = r["events"][2];
  EXPECT_EQ(marker["status"], 0);
  EXPECT_EQ(r["events"][3]["created"], true);  // Wine's null display driver still makes windows
  // The value was really written, under the child's process id.
  std::wstring key = L"SOFTWARE\\shipkit-fakejvm-test";
  std::string name = marker["name"];
  DWORD value = 0, size = sizeof value;
  EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, key.c_str(), std::wstring(name.begin(), name.end()).c_str(),
                         RRF_RT_REG_DWORD, nullptr, &value, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(value, 2u);
  RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
  DeleteFileW(report.c_str());
  DeleteFileW(scenario.c_str());
}

}  // namespace
