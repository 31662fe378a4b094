#include "Vm.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "DeclaredNatives.h"
#include "JniTable.h"
#include "Text.h"
#include "core/JavaNames.h"

namespace fakejvm {

using nlohmann::json;
namespace jn = shipkit::java;

namespace {

std::string str(std::string_view v) {
  return std::string(v);
}

std::string dotted(std::string name) {
  for (char& c : name) {
    if (c == '/') c = '.';
  }
  return name;
}

void writeStd(DWORD which, const std::string& text) {
  HANDLE h = GetStdHandle(which);
  DWORD written = 0;
  if (h && h != INVALID_HANDLE_VALUE)
    WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

std::string utf8FromWide(const std::wstring& w) {
  return utf8FromUtf16(std::u16string_view(reinterpret_cast<const char16_t*>(w.data()), w.size()));
}

std::string ansiToUtf8(const char* s) {
  if (!s) return {};
  int n = MultiByteToWideChar(CP_ACP, 0, s, -1, nullptr, 0);
  std::wstring w(n > 0 ? n - 1 : 0, L'\0');
  if (n > 1) MultiByteToWideChar(CP_ACP, 0, s, -1, w.data(), n);
  return utf8FromWide(w);
}

const char* primitiveName(char type) {
  switch (type) {
    case 'Z':
      return "boolean";
    case 'B':
      return "byte";
    case 'C':
      return "char";
    case 'S':
      return "short";
    case 'I':
      return "int";
    case 'J':
      return "long";
    case 'F':
      return "float";
    case 'D':
      return "double";
  }
  return "?";
}

// Win64 passes the first four integer or pointer arguments in RCX, RDX, R8 and R9 and the
// rest in 8-byte stack slots, and the caller owns (and cleans up) that stack space. So a
// native whose parameters are all integers, booleans or references can be called through
// one pointer type taking JNIEnv*, the class or object reference and kMaxSlots 64-bit
// slots: the callee reads only the low bits of each slot that its own parameter type
// covers and never looks at the surplus slots. The result comes back in RAX and is narrowed
// by the signature's return type. Floating-point parameters and results travel in XMM
// registers instead and are refused (no native of the installer runtime has one).
constexpr size_t kMaxSlots = 20;
using SlotNative = uint64_t(JNICALL*)(JNIEnv*, jobject, uint64_t, uint64_t, uint64_t, uint64_t, uint64_t,
                                      uint64_t, uint64_t, uint64_t, uint64_t, uint64_t, uint64_t, uint64_t,
                                      uint64_t, uint64_t, uint64_t, uint64_t, uint64_t, uint64_t, uint64_t,
                                      uint64_t);

}  // namespace

bool parseSignature(std::string_view sig, std::vector<std::string>& parameters, std::string& returnType) {
  parameters.clear();
  auto readType = [&](size_t& i, std::string& out) {
    size_t start = i;
    while (i < sig.size() && sig[i] == '[') ++i;
    if (i >= sig.size()) return false;
    char c = sig[i];
    if (c == 'L') {
      size_t end = sig.find(';', i);
      if (end == std::string_view::npos || end == i + 1) return false;
      i = end + 1;
    } else if (std::strchr("ZBCSIJFD", c) || (c == 'V' && start == i)) {
      ++i;
    } else {
      return false;
    }
    out = str(sig.substr(start, i - start));
    return true;
  };
  if (sig.empty() || sig[0] != '(') return false;
  size_t i = 1;
  while (i < sig.size() && sig[i] != ')') {
    std::string t;
    if (!readType(i, t) || t == "V") return false;
    parameters.push_back(t);
  }
  if (i >= sig.size()) return false;
  ++i;
  if (!readType(i, returnType)) return false;
  return i == sig.size();
}

size_t primitiveSize(char type) {
  switch (type) {
    case 'Z':
    case 'B':
      return 1;
    case 'C':
    case 'S':
      return 2;
    case 'I':
    case 'F':
      return 4;
    case 'J':
    case 'D':
      return 8;
  }
  return 0;
}

size_t Object::arrayLength() const {
  if (kind == ObjectKind::ObjectArray) return elements.size();
  if (kind == ObjectKind::PrimitiveArray) return bytes.size() / primitiveSize(elementType);
  return 0;
}

MethodInfo* ClassInfo::findOwnMethod(std::string_view n, std::string_view s) {
  for (auto& m : methods) {
    if (!m.hidden && m.name == n && m.signature == s) return &m;
  }
  return nullptr;
}

FieldInfo* ClassInfo::findOwnField(std::string_view n, std::string_view s) {
  for (auto& f : fields) {
    if (!f.hidden && f.name == n && f.signature == s) return &f;
  }
  return nullptr;
}

// ---------------------------------------------------------------------------------------
// Construction and classes

Vm::Vm(const json& scenario, std::wstring reportPath) : reportPath_(std::move(reportPath)) {
  env_.functions = jniFunctionTable();
  env_.vm = this;
  javaVm_.functions = jniInvokeTable();
  javaVm_.vm = this;
  frames_.emplace_back();
  report_ = json{{"version", nullptr},
                 {"ignoreUnrecognized", nullptr},
                 {"options", json::array()},
                 {"path", nullptr},
                 {"currentDirectory", nullptr},
                 {"createResult", nullptr},
                 {"mainClass", nullptr},
                 {"mainArgs", nullptr},
                 {"initFromLauncher", json::array()},
                 {"systemProperties", json::object()},
                 {"splashConfig", nullptr},
                 {"registered", json::array()},
                 {"staticFields", json::object()},
                 {"javaCalls", json::array()},
                 {"calls", json::array()},
                 {"unimplemented", json::array()},
                 {"misuse", json::array()},
                 {"warnings", json::array()},
                 {"callsWithPendingException", json::array()},
                 {"destroyed", false},
                 {"exitCode", nullptr},
                 {"events", json::array()},
                 {"liveLocalRefs", 0},
                 {"globalRefs", 0},
                 {"outstandingPins", 0}};
  scenario_ = scenario.is_object() ? scenario : json::object();
  defineDefaultClasses();
  defineNativeClasses();
  applyScenario(scenario_);
}

Vm::~Vm() {
  for (auto& [buffer, pin] : pins_) std::free(buffer);
}

Vm& Vm::of(JNIEnv* env) {
  return *static_cast<EnvImpl*>(env)->vm;
}
Vm& Vm::of(JavaVM* vm) {
  return *static_cast<JavaVMImpl*>(vm)->vm;
}

void Vm::makeMirror(ClassInfo& cls) {
  auto it = classes_.find("java/lang/Class");
  if (it == classes_.end() || cls.mirror) return;
  auto obj = std::make_unique<Object>();
  obj->kind = ObjectKind::Class;
  obj->cls = it->second.get();
  obj->id = nextId_++;
  obj->classValue = &cls;
  cls.mirror = obj.get();
  objects_.push_back(std::move(obj));
}

ClassInfo& Vm::defineClass(std::string_view name, std::string_view super) {
  if (auto it = classes_.find(name); it != classes_.end()) return *it->second;
  auto cls = std::make_unique<ClassInfo>();
  cls->name = str(name);
  if (!super.empty()) {
    auto sit = classes_.find(super);
    if (sit == classes_.end())
      fail("misuse", "class " + str(name) + ": unknown superclass " + str(super),
           "class " + str(name) + " has an unknown superclass " + str(super));
    cls->super = sit->second.get();
  }
  ClassInfo& ref = *cls;
  classes_.emplace(str(name), std::move(cls));
  makeMirror(ref);
  return ref;
}

void Vm::removeClass(std::string_view name) {
  if (auto it = classes_.find(name); it != classes_.end()) it->second->hidden = true;
}

ClassInfo* Vm::findClass(std::string_view name) {
  if (auto it = classes_.find(name); it != classes_.end())
    return it->second->hidden ? nullptr : it->second.get();
  if (name.size() < 2 || name[0] != '[') return nullptr;
  // Array classes exist when their element class does.
  std::string_view component = name.substr(1);
  if (component.size() == 1) {
    if (!std::strchr("ZBCSIJFD", component[0])) return nullptr;
  } else if (component[0] == 'L') {
    if (component.back() != ';' || !findClass(component.substr(1, component.size() - 2))) return nullptr;
  } else if (component[0] != '[' || !findClass(component)) {
    return nullptr;
  }
  ClassInfo& cls = defineClass(name);
  cls.componentType = str(component);
  return &cls;
}

MethodInfo& Vm::addMethod(ClassInfo& cls, std::string_view name, std::string_view signature, bool isStatic,
                          MethodImpl impl, bool record) {
  MethodInfo& m = cls.methods.emplace_back();
  m.owner = &cls;
  m.name = str(name);
  m.signature = str(signature);
  if (!parseSignature(signature, m.parameters, m.returnType)) {
    fail("misuse", "bad signature " + m.signature,
         "method " + cls.name + "." + m.name + " has a bad signature " + m.signature);
  }
  m.isStatic = isStatic;
  m.impl = std::move(impl);
  m.record = record;
  methodIds_.insert(&m);
  return m;
}

FieldInfo& Vm::addField(ClassInfo& cls, std::string_view name, std::string_view signature, bool isStatic,
                        Value initial) {
  FieldInfo& f = cls.fields.emplace_back();
  f.owner = &cls;
  f.name = str(name);
  f.signature = str(signature);
  f.isStatic = isStatic;
  f.value = initial.type == 'V' ? defaultValue(signature) : initial;
  fieldIds_.insert(&f);
  return f;
}

MethodInfo* Vm::findMethod(ClassInfo* cls, std::string_view name, std::string_view signature, bool isStatic) {
  // Constructors belong to their class alone; other methods are inherited.
  for (ClassInfo* c = cls; c; c = name == "<init>" ? nullptr : c->super) {
    if (MethodInfo* m = c->findOwnMethod(name, signature)) return m->isStatic == isStatic ? m : nullptr;
  }
  return nullptr;
}

FieldInfo* Vm::findField(ClassInfo* cls, std::string_view name, std::string_view signature, bool isStatic) {
  for (ClassInfo* c = cls; c; c = c->super) {
    if (FieldInfo* f = c->findOwnField(name, signature)) return f->isStatic == isStatic ? f : nullptr;
  }
  return nullptr;
}

bool Vm::isSubclass(const ClassInfo* sub, const ClassInfo* super) const {
  if (!sub || !super) return false;
  if (super->name == "java/lang/Object") return true;
  if (sub->isArray() && super->isArray()) {
    const std::string& a = sub->componentType;
    const std::string& b = super->componentType;
    if (a.size() == 1 || b.size() == 1) return a == b;
    // Reference arrays are covariant.
    auto* self = const_cast<Vm*>(this);
    ClassInfo* ca =
        self->findClass(a[0] == 'L' ? std::string_view(a).substr(1, a.size() - 2) : std::string_view(a));
    ClassInfo* cb =
        self->findClass(b[0] == 'L' ? std::string_view(b).substr(1, b.size() - 2) : std::string_view(b));
    return isSubclass(ca, cb);
  }
  for (const ClassInfo* c = sub; c; c = c->super) {
    if (c == super) return true;
  }
  return false;
}

bool Vm::isInstance(const Object* obj, const ClassInfo* cls) const {
  return !obj || isSubclass(obj->cls, cls);
}

Value Vm::defaultValue(std::string_view descriptor) {
  if (descriptor.empty() || descriptor[0] == 'V') return Value::none();
  switch (descriptor[0]) {
    case 'L':
    case '[':
      return Value::ofObject(nullptr);
    case 'F':
    case 'D':
      return Value::ofDouble(descriptor[0], 0);
    case 'Z':
      return Value::ofBoolean(false);
  }
  return Value::ofInt(descriptor[0], 0);
}

// ---------------------------------------------------------------------------------------
// Objects

Object* Vm::newObject(ClassInfo* cls) {
  auto obj = std::make_unique<Object>();
  obj->cls = cls;
  obj->id = nextId_++;
  Object* raw = obj.get();
  objects_.push_back(std::move(obj));
  return raw;
}

Object* Vm::newString(std::u16string text) {
  Object* obj = newObject(findClass("java/lang/String"));
  obj->kind = ObjectKind::String;
  obj->text = std::move(text);
  return obj;
}

Object* Vm::newObjectArray(ClassInfo* elementClass, size_t length) {
  std::string name = elementClass->isArray() ? "[" + elementClass->name : "[L" + elementClass->name + ";";
  Object* obj = newObject(findClass(name));
  obj->kind = ObjectKind::ObjectArray;
  obj->elements.assign(length, nullptr);
  return obj;
}

Object* Vm::newPrimitiveArray(char type, size_t length) {
  Object* obj = newObject(findClass(std::string("[") + type));
  obj->kind = ObjectKind::PrimitiveArray;
  obj->elementType = type;
  obj->bytes.assign(length * primitiveSize(type), 0);
  return obj;
}

Object* Vm::newThrowable(std::string_view className, std::string_view message) {
  ClassInfo* cls = findClass(className);
  if (!cls) cls = findClass("java/lang/Throwable");
  Object* obj = newObject(cls);
  bool ok = true;
  obj->fields["detailMessage"] =
      Value::ofObject(message.data() ? newString(utf16FromModifiedUtf8(message, &ok)) : nullptr);
  return obj;
}

Object* Vm::construct(MethodInfo* constructor, std::vector<Value> args) {
  Object* obj = newObject(constructor->owner);
  obj->constructor = constructor->signature;
  obj->constructorArgs = args;
  invoke(constructor, obj, std::move(args), true);
  return obj;
}

std::u16string Vm::stringOf(Object* obj) {
  return obj && obj->kind == ObjectKind::String ? obj->text : std::u16string();
}

void Vm::throwNew(std::string_view className, std::string_view message) {
  pending_ = newThrowable(className, message);
}

std::string Vm::describe(Object* obj) {
  if (!obj) return "null";
  Object* saved = pending_;
  pending_ = nullptr;
  MethodInfo* toString = findMethod(findClass("java/lang/Object"), "toString", "()Ljava/lang/String;", false);
  Value v = toString ? invoke(toString, obj, {}) : Value::none();
  pending_ = saved;
  return utf8FromUtf16(stringOf(v.obj));
}

// ---------------------------------------------------------------------------------------
// Invocation

Value Vm::invoke(MethodInfo* method, Object* self, std::vector<Value> args, bool nonvirtual) {
  if (!method->isStatic && !nonvirtual && self && method->name != "<init>") {
    for (ClassInfo* c = self->cls; c; c = c->super) {
      if (MethodInfo* m = c->findOwnMethod(method->name, method->signature); m && !m->isStatic) {
        method = m;
        break;
      }
    }
  }
  if (method->record) {
    json a = json::array();
    for (const Value& v : args) a.push_back(toJson(v));
    report_["javaCalls"].push_back({{"method", method->owner->name + "." + method->name},
                                    {"signature", method->signature},
                                    {"args", a}});
    save();
  }
  if (method->isNative) return callNativeFunction(method, self, args);
  pushFrame();
  Value result = defaultValue(method->returnType);
  if (method->impl) {
    result = method->impl(*this, *method, self, args);
  } else {
    runBody(*method);
  }
  popFrame(nullptr);
  return result;
}

Value Vm::callNativeFunction(MethodInfo* method, Object* self, const std::vector<Value>& args) {
  const std::string where = method->owner->name + "." + method->name + method->signature;
  if (!method->nativeFunction) {
    throwNew("java/lang/UnsatisfiedLinkError", "'" + where + "' is not registered");
    return defaultValue(method->returnType);
  }
  for (const auto& p : method->parameters) {
    if (p == "F" || p == "D") misuse("native call", where + ": floating-point parameters are not supported");
  }
  if (method->returnType == "F" || method->returnType == "D") {
    misuse("native call", where + ": floating-point results are not supported");
  }
  if (args.size() > kMaxSlots) misuse("native call", where + ": more than 20 parameters");

  pushFrame();
  const size_t frame = frames_.size() - 1;
  const size_t pinsBefore = pins_.size();
  std::unordered_set<Ref*> argumentRefs;
  jobject receiver = newLocal(method->isStatic ? method->owner->mirror : self);
  argumentRefs.insert(reinterpret_cast<Ref*>(receiver));
  uint64_t slots[kMaxSlots] = {};
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i].type == 'L') {
      jobject r = newLocal(args[i].obj);
      if (r) argumentRefs.insert(reinterpret_cast<Ref*>(r));
      slots[i] = reinterpret_cast<uint64_t>(r);
    } else {
      slots[i] = static_cast<uint64_t>(args[i].i);
    }
  }
  const size_t savedPeak = peakTopFrame_;
  const size_t frameBase = frames_[frame].size();
  peakTopFrame_ = frameBase;
  auto fn = reinterpret_cast<SlotNative>(method->nativeFunction);
  uint64_t raw = fn(env(), receiver, slots[0], slots[1], slots[2], slots[3], slots[4], slots[5], slots[6],
                    slots[7], slots[8], slots[9], slots[10], slots[11], slots[12], slots[13], slots[14],
                    slots[15], slots[16], slots[17], slots[18], slots[19]);
  Value result;
  jobject resultRef = nullptr;
  switch (method->returnType[0]) {
    case 'V':
      break;
    case 'Z':
      result = Value::ofBoolean((raw & 0xFF) != 0);
      break;
    case 'B':
      result = Value::ofInt('B', static_cast<int8_t>(raw));
      break;
    case 'C':
      result = Value::ofInt('C', static_cast<uint16_t>(raw));
      break;
    case 'S':
      result = Value::ofInt('S', static_cast<int16_t>(raw));
      break;
    case 'I':
      result = Value::ofInt('I', static_cast<int32_t>(raw));
      break;
    case 'J':
      result = Value::ofInt('J', static_cast<int64_t>(raw));
      break;
    default:
      resultRef = reinterpret_cast<jobject>(raw);
      result = Value::ofObject(resultRef ? resolve(resultRef, "native method result") : nullptr);
  }
  lastNativeCall_ = {};
  lastNativeCall_.peakLocalRefs = peakTopFrame_ - frameBase;
  peakTopFrame_ = savedPeak;
  if (frames_.size() - 1 != frame) {
    misuse("native call", where + " returned with " + std::to_string(frames_.size() - 1 - frame) +
                              " local frame(s) still pushed");
  }
  for (Ref* r : frames_[frame]) {
    if (!argumentRefs.count(r) && reinterpret_cast<jobject>(r) != resultRef) ++lastNativeCall_.localRefsLeft;
  }
  lastNativeCall_.unreleased = pins_.size() > pinsBefore ? pins_.size() - pinsBefore : 0;
  popFrame(nullptr);
  return result;
}

void Vm::runBody(const MethodInfo& method, const json* fallback) {
  const json& bodies = scenario_.contains("methodBodies") ? scenario_["methodBodies"] : json::object();
  std::string key = method.owner->name + "." + method.name;
  if (bodies.is_object() && bodies.contains(key)) {
    runSteps(bodies[key]);
  } else if (fallback) {
    runSteps(*fallback);
  }
}

// ---------------------------------------------------------------------------------------
// References

jobject Vm::newLocal(Object* obj) {
  if (!obj) return nullptr;
  Ref& r = refPool_.emplace_back();
  r.kind = Ref::Kind::Local;
  r.obj = obj;
  r.frame = frames_.size() - 1;
  allRefs_.insert(&r);
  frames_.back().push_back(&r);
  if (frames_.back().size() > peakTopFrame_) peakTopFrame_ = frames_.back().size();
  return reinterpret_cast<jobject>(&r);
}

bool Vm::injectedFailure(const char* function) {
  auto it = failAfter_.find(std::string_view(function));
  if (it == failAfter_.end()) return false;
  if (it->second-- > 0) return false;
  failAfter_.erase(it);
  throwNew("java/lang/OutOfMemoryError", std::string("injected failure of ") + function);
  return true;
}

jobject Vm::newGlobal(Object* obj) {
  if (!obj) return nullptr;
  Ref& r = refPool_.emplace_back();
  r.kind = Ref::Kind::Global;
  r.obj = obj;
  allRefs_.insert(&r);
  globals_.insert(&r);
  return reinterpret_cast<jobject>(&r);
}

Ref* Vm::refOf(jobject ref, const char* function) {
  auto* r = reinterpret_cast<Ref*>(ref);
  if (!allRefs_.count(r)) misuse(function, "not a reference handle");
  if (r->kind == Ref::Kind::Deleted) misuse(function, "use of a deleted reference");
  return r;
}

Object* Vm::resolve(jobject ref, const char* function) {
  return ref ? refOf(ref, function)->obj : nullptr;
}

void Vm::deleteLocal(jobject ref, const char* function) {
  if (!ref) return;
  Ref* r = refOf(ref, function);
  if (r->kind != Ref::Kind::Local) misuse(function, "not a local reference");
  auto& frame = frames_[r->frame];
  std::erase(frame, r);
  r->kind = Ref::Kind::Deleted;
}

void Vm::deleteGlobal(jobject ref, const char* function) {
  if (!ref) return;
  Ref* r = refOf(ref, function);
  if (r->kind != Ref::Kind::Global) misuse(function, "not a global reference");
  globals_.erase(r);
  r->kind = Ref::Kind::Deleted;
}

void Vm::pushFrame() {
  frames_.emplace_back();
}

Object* Vm::popFrame(Object* result) {
  if (frames_.size() <= 1) misuse("PopLocalFrame", "no local frame to pop");
  for (Ref* r : frames_.back()) r->kind = Ref::Kind::Deleted;
  frames_.pop_back();
  return result;
}

size_t Vm::liveLocalRefs() const {
  size_t n = 0;
  for (const auto& f : frames_) n += f.size();
  return n;
}

Pin Vm::takePin(void* buffer, const char* function) {
  auto it = pins_.find(buffer);
  if (it == pins_.end())
    misuse(function, "buffer was not handed out by the matching Get function, or was released before");
  Pin p = it->second;
  pins_.erase(it);
  return p;
}

// ---------------------------------------------------------------------------------------
// Report

void Vm::event(json e) {
  e["liveLocalRefs"] = liveLocalRefs();
  report_["events"].push_back(std::move(e));
  save();
}

void Vm::warn(std::string kind, json detail) {
  report_["warnings"].push_back({{"kind", std::move(kind)}, {"detail", std::move(detail)}});
  save();
}

void Vm::notePendingCall(const char* function) {
  auto& list = report_["callsWithPendingException"];
  if (list.size() < 100) list.push_back({{"function", function}, {"exception", describe(pending_)}});
  save();
}

void Vm::save() {
  report_["liveLocalRefs"] = liveLocalRefs();
  report_["globalRefs"] = globals_.size();
  report_["outstandingPins"] = pins_.size();
  if (reportPath_.empty()) return;
  std::string text = report_.dump(2, ' ', false, json::error_handler_t::replace);
  text += '\n';
  // Whole file each time, through a temporary and a rename: the Java side may end the
  // process at any moment, and a reader must never see half a report.
  std::wstring temp = reportPath_ + L".tmp";
  HANDLE h =
      CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  BOOL ok = WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(h);
  if (ok && written == text.size()) MoveFileExW(temp.c_str(), reportPath_.c_str(), MOVEFILE_REPLACE_EXISTING);
}

void Vm::fail(const char* reportKey, const json& entry, const std::string& message) {
  if (!failing_) {
    failing_ = true;
    report_[reportKey].push_back(entry);
    report_["exitCode"] = 3;
    save();
  }
  writeStd(STD_ERROR_HANDLE, "fakejvm: " + message + "\n");
  std::fflush(nullptr);
  TerminateProcess(GetCurrentProcess(), 3);
  std::_Exit(3);
}

void Vm::misuse(const char* function, const std::string& what) {
  std::string text = std::string(function) + ": " + what;
  fail("misuse", text, "JNI misuse in " + text);
}

void Vm::noteStaticFieldWrite(FieldInfo* field) {
  std::string key = field->owner->name + "." + field->name;
  json v = toJson(field->value);
  report_["staticFields"][key] = v;
  event({{"type", "setStaticField"}, {"field", key}, {"value", v}});
}

json Vm::toJson(const Value& v, int depth) {
  switch (v.type) {
    case 'V':
      return nullptr;
    case 'Z':
      return v.i != 0;
    case 'F':
    case 'D':
      return v.d;
    case 'L':
      return toJson(v.obj, depth);
  }
  return v.i;
}

json Vm::toJson(Object* obj, int depth) {
  if (!obj) return nullptr;
  if (depth > 8) return "...";
  switch (obj->kind) {
    case ObjectKind::String:
      if (hasUnpairedSurrogate(obj->text)) {
        json units = json::array();
        for (char16_t u : obj->text) units.push_back(static_cast<int>(u));
        return {{"utf16", units}};
      }
      return utf8FromUtf16(obj->text);
    case ObjectKind::Class:
      return {{"class", "java/lang/Class"}, {"name", obj->classValue->name}};
    case ObjectKind::ObjectArray: {
      json a = json::array();
      for (Object* e : obj->elements) a.push_back(toJson(e, depth + 1));
      return a;
    }
    case ObjectKind::PrimitiveArray: {
      json a = json::array();
      size_t n = obj->arrayLength();
      const unsigned char* p = obj->bytes.data();
      for (size_t i = 0; i < n; ++i) {
        switch (obj->elementType) {
          case 'Z':
            a.push_back(p[i] != 0);
            break;
          case 'B':
            a.push_back(static_cast<int8_t>(p[i]));
            break;
          case 'C':
            a.push_back(reinterpret_cast<const uint16_t*>(p)[i]);
            break;
          case 'S':
            a.push_back(reinterpret_cast<const int16_t*>(p)[i]);
            break;
          case 'I':
            a.push_back(reinterpret_cast<const int32_t*>(p)[i]);
            break;
          case 'J':
            a.push_back(reinterpret_cast<const int64_t*>(p)[i]);
            break;
          case 'F':
            a.push_back(reinterpret_cast<const float*>(p)[i]);
            break;
          case 'D':
            a.push_back(reinterpret_cast<const double*>(p)[i]);
            break;
        }
      }
      return {{std::string(primitiveName(obj->elementType)) + "[]", a}};
    }
    case ObjectKind::Plain:
      break;
  }
  json j = {{"class", obj->cls->name}};
  if (!obj->constructor.empty()) {
    json a = json::array();
    for (const Value& v : obj->constructorArgs) a.push_back(toJson(v, depth + 1));
    j["constructor"] = obj->constructor;
    j["args"] = a;
  }
  if (!obj->fields.empty()) {
    json f = json::object();
    for (const auto& [name, v] : obj->fields) f[name] = toJson(v, depth + 1);
    j["fields"] = f;
  }
  return j;
}

void Vm::recordCreation(const JavaVMInitArgs* args, jint result) {
  report_["version"] = args->version;
  report_["ignoreUnrecognized"] = args->ignoreUnrecognized != JNI_FALSE;
  json options = json::array();
  for (jint i = 0; i < args->nOptions; ++i) {
    std::string text = ansiToUtf8(args->options[i].optionString);
    options.push_back(text);
    if (text.starts_with("-D")) {
      size_t eq = text.find('=');
      std::u16string key =
          utf16FromUtf8(text.substr(2, eq == std::string::npos ? std::string::npos : eq - 2));
      properties_[key] = eq == std::string::npos ? u"" : utf16FromUtf8(text.substr(eq + 1));
    }
  }
  report_["options"] = options;
  DWORD n = GetEnvironmentVariableW(L"PATH", nullptr, 0);
  if (n > 0) {
    std::wstring path(n, L'\0');
    n = GetEnvironmentVariableW(L"PATH", path.data(), n);
    path.resize(n);
    report_["path"] = utf8FromWide(path);
  }
  n = GetCurrentDirectoryW(0, nullptr);
  std::wstring dir(n, L'\0');
  n = GetCurrentDirectoryW(n, dir.data());
  dir.resize(n);
  report_["currentDirectory"] = utf8FromWide(dir);
  report_["pid"] = GetCurrentProcessId();
  report_["createResult"] = result;
  event({{"type", "create"}, {"result", result}});
}

void Vm::markDestroyed() {
  destroyed_ = true;
  report_["destroyed"] = true;
  event({{"type", "destroy"}});
}

// ---------------------------------------------------------------------------------------
// The classes every run starts with

void Vm::defineDefaultClasses() {
  ClassInfo& object = defineClass("java/lang/Object", "");
  defineClass("java/lang/Class");
  makeMirror(object);
  makeMirror(*classes_["java/lang/Class"]);

  addMethod(object, "<init>", "()V", false);
  addMethod(object, "toString", "()Ljava/lang/String;", false, [](Vm& vm, MethodInfo&, Object* self, auto&) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "@%x", self->id);
    return Value::ofObject(vm.newString(utf16FromUtf8(dotted(self->cls->name) + hex)));
  });
  addMethod(object, "hashCode", "()I", false,
            [](Vm&, MethodInfo&, Object* self, auto&) { return Value::ofInt('I', self->id); });
  addMethod(object, "equals", "(Ljava/lang/Object;)Z", false,
            [](Vm&, MethodInfo&, Object* self, auto& a) { return Value::ofBoolean(self == a[0].obj); });
  addMethod(object, "getClass", "()Ljava/lang/Class;", false,
            [](Vm&, MethodInfo&, Object* self, auto&) { return Value::ofObject(self->cls->mirror); });

  ClassInfo& klass = *findClass("java/lang/Class");
  addMethod(klass, "getName", "()Ljava/lang/String;", false, [](Vm& vm, MethodInfo&, Object* self, auto&) {
    return Value::ofObject(vm.newString(utf16FromUtf8(dotted(self->classValue->name))));
  });

  ClassInfo& string = defineClass("java/lang/String");
  addMethod(string, "<init>", "()V", false, [](Vm&, MethodInfo&, Object* self, auto&) {
    self->kind = ObjectKind::String;
    return Value::none();
  });
  addMethod(string, "length", "()I", false, [](Vm&, MethodInfo&, Object* self, auto&) {
    return Value::ofInt('I', static_cast<int64_t>(self->text.size()));
  });
  addMethod(string, "toString", "()Ljava/lang/String;", false,
            [](Vm&, MethodInfo&, Object* self, auto&) { return Value::ofObject(self); });
  addMethod(string, "equals", "(Ljava/lang/Object;)Z", false, [](Vm&, MethodInfo&, Object* self, auto& a) {
    return Value::ofBoolean(a[0].obj && a[0].obj->kind == ObjectKind::String && a[0].obj->text == self->text);
  });
  addMethod(string, "hashCode", "()I", false, [](Vm&, MethodInfo&, Object* self, auto&) {
    int32_t h = 0;
    for (char16_t u : self->text) h = static_cast<int32_t>(31u * static_cast<uint32_t>(h) + u);
    return Value::ofInt('I', h);
  });

  // Boxed values keep their content in the field "value", as the Java classes do.
  defineClass("java/lang/Number");
  struct Box {
    const char* name;
    const char* type;
    const char* getter;
  };
  for (Box b : {Box{"java/lang/Integer", "I", "intValue"}, Box{"java/lang/Long", "J", "longValue"},
                Box{"java/lang/Boolean", "Z", "booleanValue"}}) {
    ClassInfo& cls = defineClass(b.name, b.type[0] == 'Z' ? "java/lang/Object" : "java/lang/Number");
    addField(cls, "value", b.type, false);
    addMethod(cls, "<init>", std::string("(") + b.type + ")V", false,
              [](Vm&, MethodInfo&, Object* self, auto& a) {
                self->fields["value"] = a[0];
                return Value::none();
              });
    addMethod(cls, b.getter, std::string("()") + b.type, false,
              [](Vm&, MethodInfo&, Object* self, auto&) { return self->fields["value"]; });
    addMethod(cls, "toString", "()Ljava/lang/String;", false, [](Vm& vm, MethodInfo&, Object* self, auto&) {
      const Value& v = self->fields["value"];
      std::string text = v.type == 'Z' ? (v.i ? "true" : "false") : std::to_string(v.i);
      return Value::ofObject(vm.newString(utf16FromUtf8(text)));
    });
    addMethod(cls, "valueOf", std::string("(") + b.type + ")L" + b.name + ";", true,
              [owner = &cls](Vm& vm, MethodInfo&, Object*, auto& a) {
                MethodInfo* init = owner->findOwnMethod("<init>", "(" + std::string(1, a[0].type) + ")V");
                return Value::ofObject(vm.construct(init, {a[0]}));
              });
  }
  addMethod(*findClass("java/lang/Integer"), "longValue", "()J", false,
            [](Vm&, MethodInfo&, Object* self, auto&) { return Value::ofInt('J', self->fields["value"].i); });
  addMethod(*findClass("java/lang/Long"), "intValue", "()I", false,
            [](Vm&, MethodInfo&, Object* self, auto&) {
              return Value::ofInt('I', static_cast<int32_t>(self->fields["value"].i));
            });

  // Throwables: the message lives in "detailMessage"; toString gives "class.name: message".
  ClassInfo& throwable = defineClass("java/lang/Throwable");
  addField(throwable, "detailMessage", "Ljava/lang/String;", false);
  addMethod(throwable, "<init>", "()V", false);
  addMethod(throwable, "<init>", "(Ljava/lang/String;)V", false, [](Vm&, MethodInfo&, Object* self, auto& a) {
    self->fields["detailMessage"] = a[0];
    return Value::none();
  });
  addMethod(throwable, "getMessage", "()Ljava/lang/String;", false,
            [](Vm&, MethodInfo&, Object* self, auto&) {
              return Value::ofObject(self->fields["detailMessage"].obj);
            });
  addMethod(throwable, "toString", "()Ljava/lang/String;", false,
            [](Vm& vm, MethodInfo&, Object* self, auto&) {
              std::u16string text = utf16FromUtf8(dotted(self->cls->name));
              if (Object* m = self->fields["detailMessage"].obj) text += u": " + m->text;
              return Value::ofObject(vm.newString(text));
            });
  addMethod(throwable, "printStackTrace", "()V", false, [](Vm& vm, MethodInfo&, Object* self, auto&) {
    writeStd(STD_ERROR_HANDLE, vm.describe(self) + "\n\tat fakejvm\n");
    return Value::none();
  });
  const char* hierarchy[][2] = {
      {"java/lang/Exception", "java/lang/Throwable"},
      {"java/lang/Error", "java/lang/Throwable"},
      {"java/lang/RuntimeException", "java/lang/Exception"},
      {"java/lang/IllegalArgumentException", "java/lang/RuntimeException"},
      {"java/lang/IllegalStateException", "java/lang/RuntimeException"},
      {"java/lang/NullPointerException", "java/lang/RuntimeException"},
      {"java/lang/ClassCastException", "java/lang/RuntimeException"},
      {"java/lang/ArrayStoreException", "java/lang/RuntimeException"},
      {"java/lang/NegativeArraySizeException", "java/lang/RuntimeException"},
      {"java/lang/IndexOutOfBoundsException", "java/lang/RuntimeException"},
      {"java/lang/ArrayIndexOutOfBoundsException", "java/lang/IndexOutOfBoundsException"},
      {"java/lang/StringIndexOutOfBoundsException", "java/lang/IndexOutOfBoundsException"},
      {"java/lang/LinkageError", "java/lang/Error"},
      {"java/lang/NoClassDefFoundError", "java/lang/LinkageError"},
      {"java/lang/UnsatisfiedLinkError", "java/lang/LinkageError"},
      {"java/lang/IncompatibleClassChangeError", "java/lang/LinkageError"},
      {"java/lang/NoSuchMethodError", "java/lang/IncompatibleClassChangeError"},
      {"java/lang/NoSuchFieldError", "java/lang/IncompatibleClassChangeError"},
      {"java/lang/VirtualMachineError", "java/lang/Error"},
      {"java/lang/OutOfMemoryError", "java/lang/VirtualMachineError"},
  };
  for (auto& [name, super] : hierarchy) {
    ClassInfo& cls = defineClass(name, super);
    addMethod(cls, "<init>", "()V", false);
    addMethod(cls, "<init>", "(Ljava/lang/String;)V", false, [](Vm&, MethodInfo&, Object* self, auto& a) {
      self->fields["detailMessage"] = a[0];
      return Value::none();
    });
  }

  // System properties: the -D options of JNI_CreateJavaVM, then setProperty.
  ClassInfo& system = defineClass(jn::kSystemClass);
  addMethod(
      system, jn::kSetPropertyMethod, jn::kSetPropertySignature, true,
      [](Vm& vm, MethodInfo& m, Object*, auto& a) {
        std::u16string key = vm.stringOf(a[0].obj);
        auto it = vm.properties_.find(key);
        Object* previous = it == vm.properties_.end() ? nullptr : vm.newString(it->second);
        vm.properties_[key] = vm.stringOf(a[1].obj);
        vm.report_["systemProperties"][utf8FromUtf16(key)] = vm.toJson(a[1]);
        vm.event({{"type", "setProperty"}, {"key", vm.toJson(a[0])}, {"value", vm.toJson(a[1])}});
        vm.runBody(m);
        return Value::ofObject(previous);
      },
      true);
  addMethod(system, "getProperty", "(Ljava/lang/String;)Ljava/lang/String;", true,
            [](Vm& vm, MethodInfo&, Object*, auto& a) {
              auto it = vm.properties_.find(vm.stringOf(a[0].obj));
              return Value::ofObject(it == vm.properties_.end() ? nullptr : vm.newString(it->second));
            });

  // The installer runtime's launcher classes.
  for (std::string_view name : {jn::kShipkitLauncherClass, jn::kJarwrapLauncherClass}) {
    ClassInfo& launcher = defineClass(name);
    addMethod(
        launcher, jn::kMainMethod, jn::kMainSignature, true,
        [](Vm& vm, MethodInfo& m, Object*, auto& a) {
          vm.report_["mainClass"] = m.owner->name;
          vm.report_["mainArgs"] = vm.toJson(a[0]);
          vm.event({{"type", "main"}, {"class", m.owner->name}});
          const json* steps = vm.scenario_.contains("main") ? &vm.scenario_["main"] : nullptr;
          vm.runBody(m, steps);
          json e = {{"type", "mainReturned"}};
          if (vm.pending_) e["exception"] = vm.describe(vm.pending_);
          vm.event(e);
          return Value::none();
        },
        true);
  }
  addMethod(
      *findClass(jn::kSplashConfigClass), jn::kInitAwtSplashConfigMethod, jn::kInitAwtSplashConfigSignature,
      true,
      [](Vm& vm, MethodInfo& m, Object*, auto& a) {
        json args = json::array();
        for (const Value& v : a) args.push_back(vm.toJson(v));
        vm.report_["splashConfig"] = args;
        vm.event({{"type", "initAwtSplashConfig"}});
        vm.runBody(m);
        return Value::none();
      },
      true);
  addMethod(
      defineClass(jn::kCommonClass), jn::kInitFromLauncherMethod, jn::kInitFromLauncherSignature, true,
      [](Vm& vm, MethodInfo& m, Object*, auto& a) {
        vm.report_["initFromLauncher"].push_back(a[0].i != 0);
        vm.event({{"type", "initFromLauncher"}, {"value", a[0].i != 0}});
        vm.runBody(m);
        return Value::none();
      },
      true);
  addField(defineClass(jn::kWinDelClass), jn::kExternalExecutableField, jn::kStringFieldSignature, true);

  // Objects that natives construct: the constructor's arguments are kept for the report.
  addMethod(defineClass(jn::kWindowInfoClass), jn::kConstructorName, jn::kWindowInfoConstructorSignature,
            false);
  addMethod(defineClass(jn::kObjectPickerResultClass), jn::kConstructorName,
            jn::kObjectPickerResultConstructorSignature, false);
  ClassInfo& expand = defineClass(jn::kExpandStringClass);
  addMethod(expand, jn::kConstructorName, jn::kExpandStringConstructorSignature, false);
  addMethod(expand, "toString", "()Ljava/lang/String;", false, [](Vm&, MethodInfo&, Object* self, auto&) {
    return self->constructorArgs.empty() ? Value::ofObject(nullptr) : self->constructorArgs[0];
  });
}

void Vm::defineNativeClasses() {
  for (const auto& c : jn::kNativeClasses) defineClass(c.path);
  for (const DeclaredNative& n : declaredNatives()) {
    ClassInfo& cls = defineClass(std::string(jn::kNativePackage) + std::string(n.className));
    addMethod(cls, n.name, n.signature, true).isNative = true;
  }
}

}  // namespace fakejvm
