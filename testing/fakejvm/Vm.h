// The fake Java virtual machine: a small object model (classes with methods and fields,
// strings, arrays, boxed values, exceptions), JNI references and local frames, and the
// report of what the launcher did with it. The JNI function table (JniTable.cpp) and the
// scenario player (Scenario.cpp) work on this model; jvm.dll wraps one instance of it and
// unit tests create their own through the fakejni library.
//
// Single-threaded by design: every JNI call is expected on the thread that uses the Vm.
#pragma once

#include <jni.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace fakejvm {

class Vm;
struct ClassInfo;
struct Object;

// A Java value tagged with its JNI type letter: Z B C S I J F D, L for every reference
// (objects and arrays), V for none.
struct Value {
  char type = 'V';
  int64_t i = 0;
  double d = 0;
  Object* obj = nullptr;

  static Value none() { return {}; }
  static Value ofBoolean(bool b) { return {'Z', b ? 1 : 0, 0, nullptr}; }
  static Value ofInt(char type, int64_t v) { return {type, v, 0, nullptr}; }
  static Value ofDouble(char type, double v) { return {type, 0, v, nullptr}; }
  static Value ofObject(Object* o) { return {'L', 0, 0, o}; }
};

// A method body written in C++: receives the object (null for static methods) and the
// arguments, already converted from JNI form.
struct MethodInfo;
using MethodImpl =
    std::function<Value(Vm&, MethodInfo& method, Object* self, const std::vector<Value>& args)>;

struct MethodInfo {
  ClassInfo* owner = nullptr;
  std::string name;
  std::string signature;
  std::vector<std::string> parameters;  // type descriptors
  std::string returnType;               // type descriptor, "V" for void
  bool isStatic = false;
  bool isNative = false;
  bool record = false;  // calls go into the report's "javaCalls"
  bool hidden = false;  // removed by the scenario: lookups do not find it
  MethodImpl impl;      // null: runs the scenario's body for it, if any, and returns the default value
  void* nativeFunction = nullptr;  // set by RegisterNatives
};

struct FieldInfo {
  ClassInfo* owner = nullptr;
  std::string name;
  std::string signature;
  bool isStatic = false;
  bool hidden = false;
  Value value;  // static fields only
};

struct ClassInfo {
  std::string name;  // slash form; arrays as descriptors ("[Ljava/lang/String;", "[B")
  ClassInfo* super = nullptr;
  Object* mirror = nullptr;  // the java/lang/Class object
  std::deque<MethodInfo> methods;
  std::deque<FieldInfo> fields;
  std::string componentType;  // arrays only: the element's descriptor
  bool hidden = false;        // removed by the scenario: FindClass does not find it

  bool isArray() const { return !componentType.empty(); }
  MethodInfo* findOwnMethod(std::string_view name, std::string_view signature);
  FieldInfo* findOwnField(std::string_view name, std::string_view signature);
};

enum class ObjectKind { Plain, Class, String, ObjectArray, PrimitiveArray };

struct Object {
  ObjectKind kind = ObjectKind::Plain;
  ClassInfo* cls = nullptr;
  uint32_t id = 0;                      // identity, shown by Object.toString and hashCode
  std::u16string text;                  // String
  std::vector<Object*> elements;        // object arrays
  char elementType = 0;                 // primitive arrays: Z B C S I J F D
  std::vector<unsigned char> bytes;     // primitive arrays: length * element size
  ClassInfo* classValue = nullptr;      // Class objects
  std::map<std::string, Value> fields;  // instance fields by name
  std::string constructor;              // signature of the constructor that ran
  std::vector<Value> constructorArgs;

  size_t arrayLength() const;
};

size_t primitiveSize(char type);

// One JNI reference; jobject handles point at these. They are never freed, so that a stale
// handle is recognised as deleted instead of reading freed memory.
struct Ref {
  enum class Kind { Local, Global, Deleted } kind = Kind::Local;
  Object* obj = nullptr;
  size_t frame = 0;  // local references: index of the frame that owns it
};

// A buffer handed out by Get*ArrayElements, Get*Critical or GetString(UTF)Chars and not
// yet released.
struct Pin {
  Object* obj = nullptr;
  enum class Kind { ArrayElements, ArrayCritical, StringChars, StringUtfChars, StringCritical } kind{};
  char elementType = 0;
};

class Vm {
 public:
  // scenario: the JSON described in Scenario.cpp (null or {} for the defaults);
  // reportPath: where the report is rewritten after each significant event (empty: nowhere).
  explicit Vm(const nlohmann::json& scenario = nullptr, std::wstring reportPath = {});
  ~Vm();
  Vm(const Vm&) = delete;
  Vm& operator=(const Vm&) = delete;

  static Vm& of(JNIEnv* env);
  static Vm& of(JavaVM* vm);

  JNIEnv* env() { return &env_; }
  JavaVM* javaVm() { return &javaVm_; }
  const nlohmann::json& report() const { return report_; }
  nlohmann::json& reportData() { return report_; }

  // ---- Object model ----
  ClassInfo* findClass(std::string_view name);  // null if unknown; creates array classes on demand
  ClassInfo& defineClass(std::string_view name, std::string_view super = "java/lang/Object");
  void removeClass(std::string_view name);
  MethodInfo& addMethod(ClassInfo& cls, std::string_view name, std::string_view signature, bool isStatic,
                        MethodImpl impl = {}, bool record = false);
  FieldInfo& addField(ClassInfo& cls, std::string_view name, std::string_view signature, bool isStatic,
                      Value initial = {});
  MethodInfo* findMethod(ClassInfo* cls, std::string_view name, std::string_view signature, bool isStatic);
  FieldInfo* findField(ClassInfo* cls, std::string_view name, std::string_view signature, bool isStatic);
  bool isSubclass(const ClassInfo* sub, const ClassInfo* super) const;
  bool isInstance(const Object* obj, const ClassInfo* cls) const;

  Object* newObject(ClassInfo* cls);
  Object* newString(std::u16string text);
  Object* newObjectArray(ClassInfo* elementClass, size_t length);
  Object* newPrimitiveArray(char type, size_t length);
  Object* newThrowable(std::string_view className, std::string_view message);
  // Allocates an object and runs the constructor, keeping its signature and arguments for
  // the report.
  Object* construct(MethodInfo* constructor, std::vector<Value> args);
  std::u16string stringOf(Object* obj);  // the text of a String object
  bool isMethodId(const void* p) const { return methodIds_.count(static_cast<const MethodInfo*>(p)) != 0; }
  bool isFieldId(const void* p) const { return fieldIds_.count(static_cast<const FieldInfo*>(p)) != 0; }
  // Runs the scenario's body for a method ("methodBodies" by "class.name"), or the fallback.
  void runBody(const MethodInfo& method, const nlohmann::json* fallback = nullptr);
  // Figures about the last native call made through invoke(), for the call records.
  struct NativeCallStats {
    size_t localRefsLeft = 0;  // local references still live at return, besides arguments and result
    size_t unreleased = 0;     // buffers pinned during the call and not released
    size_t peakLocalRefs = 0;  // most local references live at once during the call, besides arguments
  };
  const NativeCallStats& lastNativeCall() const { return lastNativeCall_; }

  // Runs a method as the JVM would: virtual dispatch for instance methods (unless
  // nonvirtual), the registered function for natives, the C++ body otherwise. Throws
  // UnsatisfiedLinkError for a native without a registered function.
  Value invoke(MethodInfo* method, Object* self, std::vector<Value> args, bool nonvirtual = false);

  // ---- Exceptions ----
  void throwNew(std::string_view className, std::string_view message);
  void setPending(Object* throwable) { pending_ = throwable; }
  Object* pending() const { return pending_; }
  void clearPending() { pending_ = nullptr; }
  std::string describe(Object* obj);  // toString of an object, as UTF-8

  // ---- References ----
  jobject newLocal(Object* obj);  // null for a null object
  jobject newGlobal(Object* obj);
  Object* resolve(jobject ref, const char* function);  // fails loudly on a deleted or foreign handle
  Ref* refOf(jobject ref, const char* function);
  void deleteLocal(jobject ref, const char* function);
  void deleteGlobal(jobject ref, const char* function);
  void pushFrame();
  Object* popFrame(Object* result);
  size_t liveLocalRefs() const;
  size_t liveGlobalRefs() const { return globals_.size(); }

  // ---- Injected failures ----
  // The call of `function` after `callsBefore` successful ones fails as a JVM out of memory
  // does (null with OutOfMemoryError pending); later calls succeed again. Supported:
  // GetStringChars, NewString, Get<Type>ArrayElements.
  void failCall(const std::string& function, int callsBefore) { failAfter_[function] = callsBefore; }
  bool injectedFailure(const char* function);

  // ---- Pinned buffers ----
  void addPin(void* buffer, Pin pin) { pins_[buffer] = pin; }
  Pin takePin(void* buffer, const char* function);  // fails loudly on an unknown buffer
  size_t outstandingPins() const { return pins_.size(); }

  // ---- Report ----
  void event(nlohmann::json e);  // appends to "events" and saves
  // A JNI function other than the exception and release functions was called while an
  // exception was pending, which JNI does not allow.
  void notePendingCall(const char* function);
  void warn(std::string kind, nlohmann::json detail);
  void save();
  // Records the failure under reportKey, prints "fakejvm: <message>" to stderr and ends the
  // process with exit code 3.
  [[noreturn]] void fail(const char* reportKey, const nlohmann::json& entry, const std::string& message);
  [[noreturn]] void misuse(const char* function, const std::string& what);
  [[noreturn]] void scenarioError(const std::string& what) {
    fail("scenarioErrors", what, "scenario: " + what);
  }
  void noteStaticFieldWrite(FieldInfo* field);
  nlohmann::json toJson(const Value& v, int depth = 0);
  nlohmann::json toJson(Object* obj, int depth = 0);

  // ---- Scenario (Scenario.cpp) ----
  void applyScenario(const nlohmann::json& scenario);
  // Plays steps as the Java side would; returns when they end (or a "throw" step leaves an
  // exception pending). Exits the process for an "exit" step.
  void runSteps(const nlohmann::json& steps);
  // A step's text with "{prop:NAME}", "{env:NAME}" and "{cwd}" replaced.
  std::string expand(const std::string& text);
  // Calls a registered native from data, as a "call" step does; returns its record, which
  // is also appended to the report's "calls".
  nlohmann::json callNative(const nlohmann::json& step);
  Value valueFromJson(const nlohmann::json& j, std::string_view descriptor);
  ClassInfo* scenarioClass(const std::string& name);  // full slash name or a native class's short name
  const nlohmann::json& scenario() const { return scenario_; }

  // The JNI_CreateJavaVM arguments, for the report.
  void recordCreation(const JavaVMInitArgs* args, jint result);
  bool destroyed() const { return destroyed_; }
  void markDestroyed();

 private:
  nlohmann::json saved_ = nlohmann::json::object();  // call results kept by "save"
  struct EnvImpl : JNIEnv_ {
    Vm* vm;
  };
  struct JavaVMImpl : JavaVM_ {
    Vm* vm;
  };

  void defineDefaultClasses();
  void defineNativeClasses();
  void makeMirror(ClassInfo& cls);
  Value callNativeFunction(MethodInfo* method, Object* self, const std::vector<Value>& args);
  static Value defaultValue(std::string_view descriptor);

  EnvImpl env_{};
  JavaVMImpl javaVm_{};
  std::wstring reportPath_;
  nlohmann::json report_;
  nlohmann::json scenario_;
  std::map<std::string, std::unique_ptr<ClassInfo>, std::less<>> classes_;
  std::deque<std::unique_ptr<Object>> objects_;
  std::deque<Ref> refPool_;
  std::unordered_set<const Ref*> allRefs_;
  std::vector<std::vector<Ref*>> frames_;
  std::set<Ref*> globals_;
  std::unordered_map<void*, Pin> pins_;
  std::unordered_set<const MethodInfo*> methodIds_;
  std::unordered_set<const FieldInfo*> fieldIds_;
  std::map<std::u16string, std::u16string> properties_;  // System properties: -D options and setProperty
  NativeCallStats lastNativeCall_;
  std::map<std::string, int, std::less<>> failAfter_;
  size_t peakTopFrame_ = 0;  // largest size of the innermost local frame since the native call began
  Object* pending_ = nullptr;
  uint32_t nextId_ = 1;
  bool destroyed_ = false;
  bool failing_ = false;
};

// Splits a method signature "(IZ[Ljava/lang/String;)V" into parameter and return descriptors.
bool parseSignature(std::string_view signature, std::vector<std::string>& parameters,
                    std::string& returnType);

}  // namespace fakejvm
