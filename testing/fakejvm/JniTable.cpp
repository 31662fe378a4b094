#include "JniTable.h"

#include <windows.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "JniSlots.h"
#include "Text.h"
#include "Vm.h"

namespace fakejvm {
namespace {

using nlohmann::json;

// ---------------------------------------------------------------------------------------
// Checks shared by the functions. Misuse that a real JVM would punish with a crash or
// undefined behaviour ends the process loudly instead, naming the function.

Vm& enter(JNIEnv* env, const char* fn) {
  Vm& vm = Vm::of(env);
  if (vm.destroyed()) vm.misuse(fn, "called after DestroyJavaVM");
  if (vm.pending()) vm.notePendingCall(fn);
  return vm;
}

// For the functions that JNI allows while an exception is pending.
Vm& enterExempt(JNIEnv* env, const char* fn) {
  Vm& vm = Vm::of(env);
  if (vm.destroyed()) vm.misuse(fn, "called after DestroyJavaVM");
  return vm;
}

char kindOf(std::string_view descriptor) {
  return descriptor[0] == '[' ? 'L' : descriptor[0];
}

const char* typeName(char letter) {
  switch (letter) {
    case 'L':
      return "an object";
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
    case 'V':
      return "void";
  }
  return "?";
}

ClassInfo* classArg(Vm& vm, jobject c, const char* fn) {
  Object* o = vm.resolve(c, fn);
  if (!o) vm.misuse(fn, "null class");
  if (o->kind != ObjectKind::Class) vm.misuse(fn, "not a class reference");
  return o->classValue;
}

Object* stringArg(Vm& vm, jstring s, const char* fn) {
  Object* o = vm.resolve(s, fn);
  if (!o) vm.misuse(fn, "null string");
  if (o->kind != ObjectKind::String) vm.misuse(fn, "not a java/lang/String but a " + o->cls->name);
  return o;
}

// type: 0 for any array, 'L' for an object array, else the primitive element type.
Object* arrayArg(Vm& vm, jobject a, const char* fn, char type) {
  Object* o = vm.resolve(a, fn);
  if (!o) vm.misuse(fn, "null array");
  bool ok = type == 0     ? (o->kind == ObjectKind::ObjectArray || o->kind == ObjectKind::PrimitiveArray)
            : type == 'L' ? o->kind == ObjectKind::ObjectArray
                          : (o->kind == ObjectKind::PrimitiveArray && o->elementType == type);
  if (!ok) vm.misuse(fn, "not the right kind of array but a " + o->cls->name);
  return o;
}

MethodInfo* methodArg(Vm& vm, jmethodID m, const char* fn) {
  if (!vm.isMethodId(m)) vm.misuse(fn, "not a method ID");
  return reinterpret_cast<MethodInfo*>(m);
}

FieldInfo* fieldArg(Vm& vm, jfieldID f, const char* fn) {
  if (!vm.isFieldId(f)) vm.misuse(fn, "not a field ID");
  return reinterpret_cast<FieldInfo*>(f);
}

ClassInfo* classOfDescriptor(Vm& vm, std::string_view d) {
  if (d[0] == 'L') return vm.findClass(d.substr(1, d.size() - 2));
  if (d[0] == '[') return vm.findClass(d);
  return nullptr;
}

void checkAssignable(Vm& vm, Object* obj, std::string_view descriptor, const char* fn,
                     const std::string& what) {
  ClassInfo* cls = classOfDescriptor(vm, descriptor);
  if (obj && cls && !vm.isInstance(obj, cls)) {
    vm.misuse(fn, what + ": a " + obj->cls->name + " where " + std::string(descriptor) + " is expected");
  }
}

std::string describeMethod(const MethodInfo* m) {
  return m->owner->name + "." + m->name + m->signature;
}

struct VaEnd {
  va_list& ap;
  ~VaEnd() { va_end(ap); }
};

// Arguments arrive either as a va_list or as a jvalue array.
struct ArgSource {
  va_list* ap = nullptr;
  const jvalue* values = nullptr;
};

std::vector<Value> readArgs(Vm& vm, const MethodInfo* m, ArgSource src, const char* fn) {
  std::vector<Value> out;
  for (size_t i = 0; i < m->parameters.size(); ++i) {
    const std::string& p = m->parameters[i];
    Value v;
    if (src.values) {
      const jvalue& a = src.values[i];
      switch (p[0]) {
        case 'Z':
          v = Value::ofBoolean(a.z != 0);
          break;
        case 'B':
          v = Value::ofInt('B', a.b);
          break;
        case 'C':
          v = Value::ofInt('C', a.c);
          break;
        case 'S':
          v = Value::ofInt('S', a.s);
          break;
        case 'I':
          v = Value::ofInt('I', a.i);
          break;
        case 'J':
          v = Value::ofInt('J', a.j);
          break;
        case 'F':
          v = Value::ofDouble('F', a.f);
          break;
        case 'D':
          v = Value::ofDouble('D', a.d);
          break;
        default:
          v = Value::ofObject(vm.resolve(a.l, fn));
      }
    } else {
      // Variadic arguments are promoted: small integers to int, float to double.
      va_list& ap = *src.ap;
      switch (p[0]) {
        case 'Z':
          v = Value::ofBoolean((va_arg(ap, int) & 0xFF) != 0);
          break;
        case 'B':
          v = Value::ofInt('B', static_cast<jbyte>(va_arg(ap, int)));
          break;
        case 'C':
          v = Value::ofInt('C', static_cast<jchar>(va_arg(ap, int)));
          break;
        case 'S':
          v = Value::ofInt('S', static_cast<jshort>(va_arg(ap, int)));
          break;
        case 'I':
          v = Value::ofInt('I', va_arg(ap, jint));
          break;
        case 'J':
          v = Value::ofInt('J', va_arg(ap, jlong));
          break;
        case 'F':
          v = Value::ofDouble('F', va_arg(ap, double));
          break;
        case 'D':
          v = Value::ofDouble('D', va_arg(ap, double));
          break;
        default:
          v = Value::ofObject(vm.resolve(va_arg(ap, jobject), fn));
      }
    }
    if (v.type == 'L')
      checkAssignable(vm, v.obj, p, fn, "argument " + std::to_string(i + 1) + " of " + describeMethod(m));
    out.push_back(v);
  }
  return out;
}

template <typename T>
T unbox(Vm& vm, const Value& v) {
  if constexpr (std::is_void_v<T>) {
    return;
  } else if constexpr (std::is_same_v<T, jobject>) {
    return vm.newLocal(v.obj);
  } else if constexpr (std::is_same_v<T, jboolean>) {
    return v.i ? JNI_TRUE : JNI_FALSE;
  } else if constexpr (std::is_floating_point_v<T>) {
    return static_cast<T>(v.d);
  } else {
    return static_cast<T>(v.i);
  }
}

template <typename T>
Value box(Vm& vm, char letter, T value, const char* fn) {
  if constexpr (std::is_same_v<T, jobject>) {
    return Value::ofObject(vm.resolve(value, fn));
  } else if constexpr (std::is_same_v<T, jboolean>) {
    return Value::ofBoolean(value != 0);
  } else if constexpr (std::is_floating_point_v<T>) {
    return Value::ofDouble(letter, value);
  } else {
    return Value::ofInt(letter, value);
  }
}

// ---------------------------------------------------------------------------------------
// Method calls: Call<Type>Method, CallNonvirtual<Type>Method, CallStatic<Type>Method in
// their ..., V and A forms.

enum class Mode { Virtual, Nonvirtual, Static };

template <typename T>
T call(JNIEnv* env, const char* fn, char letter, Mode mode, jobject target, jclass nvClass, jmethodID mid,
       ArgSource src) {
  Vm& vm = enter(env, fn);
  MethodInfo* m = methodArg(vm, mid, fn);
  if (m->name == "<init>") vm.misuse(fn, "a constructor is called through NewObject");
  if (kindOf(m->returnType) != letter) {
    vm.misuse(fn, describeMethod(m) + " does not return " + typeName(letter));
  }
  Object* self = nullptr;
  if (mode == Mode::Static) {
    if (!m->isStatic) vm.misuse(fn, describeMethod(m) + " is not static");
    classArg(vm, target, fn);
  } else {
    if (m->isStatic) vm.misuse(fn, describeMethod(m) + " is static");
    self = vm.resolve(target, fn);
    if (!self) vm.misuse(fn, "null object");
    if (!vm.isInstance(self, m->owner))
      vm.misuse(fn, "a " + self->cls->name + " has no method " + describeMethod(m));
    if (mode == Mode::Nonvirtual) classArg(vm, nvClass, fn);
  }
  std::vector<Value> args = readArgs(vm, m, src, fn);
  Value r = vm.invoke(m, self, std::move(args), mode == Mode::Nonvirtual);
  if constexpr (std::is_void_v<T>) {
    return;
  } else {
    if (vm.pending()) return T{};
    return unbox<T>(vm, r);
  }
}

#define FAKEJVM_CALLS(Name, T, L)                                                                            \
  T JNICALL Call##Name##MethodV(JNIEnv* e, jobject o, jmethodID m, va_list ap) {                             \
    return call<T>(e, "Call" #Name "MethodV", L, Mode::Virtual, o, nullptr, m, ArgSource{&ap, nullptr});     \
  }                                                                                                          \
  T JNICALL Call##Name##MethodA(JNIEnv* e, jobject o, jmethodID m, const jvalue* a) {                        \
    return call<T>(e, "Call" #Name "MethodA", L, Mode::Virtual, o, nullptr, m, ArgSource{nullptr, a});       \
  }                                                                                                          \
  T JNICALL Call##Name##Method(JNIEnv* e, jobject o, jmethodID m, ...) {                                     \
    va_list ap;                                                                                              \
    va_start(ap, m);                                                                                         \
    VaEnd end{ap};                                                                                           \
    return call<T>(e, "Call" #Name "Method", L, Mode::Virtual, o, nullptr, m, ArgSource{&ap, nullptr});      \
  }                                                                                                          \
  T JNICALL CallNonvirtual##Name##MethodV(JNIEnv* e, jobject o, jclass c, jmethodID m, va_list ap) {         \
    return call<T>(e, "CallNonvirtual" #Name "MethodV", L, Mode::Nonvirtual, o, c, m,                        \
                   ArgSource{&ap, nullptr});                                                                 \
  }                                                                                                          \
  T JNICALL CallNonvirtual##Name##MethodA(JNIEnv* e, jobject o, jclass c, jmethodID m, const jvalue* a) {    \
    return call<T>(e, "CallNonvirtual" #Name "MethodA", L, Mode::Nonvirtual, o, c, m,                        \
                   ArgSource{nullptr, a});                                                                   \
  }                                                                                                          \
  T JNICALL CallNonvirtual##Name##Method(JNIEnv* e, jobject o, jclass c, jmethodID m, ...) {                 \
    va_list ap;                                                                                              \
    va_start(ap, m);                                                                                         \
    VaEnd end{ap};                                                                                           \
    return call<T>(e, "CallNonvirtual" #Name "Method", L, Mode::Nonvirtual, o, c, m,                         \
                   ArgSource{&ap, nullptr});                                                                 \
  }                                                                                                          \
  T JNICALL CallStatic##Name##MethodV(JNIEnv* e, jclass c, jmethodID m, va_list ap) {                        \
    return call<T>(e, "CallStatic" #Name "MethodV", L, Mode::Static, c, nullptr, m,                          \
                   ArgSource{&ap, nullptr});                                                                 \
  }                                                                                                          \
  T JNICALL CallStatic##Name##MethodA(JNIEnv* e, jclass c, jmethodID m, const jvalue* a) {                   \
    return call<T>(e, "CallStatic" #Name "MethodA", L, Mode::Static, c, nullptr, m, ArgSource{nullptr, a});  \
  }                                                                                                          \
  T JNICALL CallStatic##Name##Method(JNIEnv* e, jclass c, jmethodID m, ...) {                                \
    va_list ap;                                                                                              \
    va_start(ap, m);                                                                                         \
    VaEnd end{ap};                                                                                           \
    return call<T>(e, "CallStatic" #Name "Method", L, Mode::Static, c, nullptr, m, ArgSource{&ap, nullptr}); \
  }

// The value types of JNI: name in function names, C type, type letter.
#define FAKEJVM_VALUE_TYPES(X) \
  X(Object, jobject, 'L')      \
  X(Boolean, jboolean, 'Z')    \
  X(Byte, jbyte, 'B')          \
  X(Char, jchar, 'C')          \
  X(Short, jshort, 'S')        \
  X(Int, jint, 'I')            \
  X(Long, jlong, 'J')          \
  X(Float, jfloat, 'F')        \
  X(Double, jdouble, 'D')

FAKEJVM_VALUE_TYPES(FAKEJVM_CALLS)
FAKEJVM_CALLS(Void, void, 'V')

// ---------------------------------------------------------------------------------------
// Fields

template <typename T>
T getField(JNIEnv* env, const char* fn, char letter, jobject target, jfieldID fid, bool isStatic) {
  Vm& vm = enter(env, fn);
  FieldInfo* f = fieldArg(vm, fid, fn);
  if (f->isStatic != isStatic)
    vm.misuse(fn, f->owner->name + "." + f->name + (f->isStatic ? " is" : " is not") + " static");
  if (kindOf(f->signature) != letter)
    vm.misuse(fn, f->owner->name + "." + f->name + " is not " + typeName(letter));
  if (isStatic) {
    classArg(vm, target, fn);
    return unbox<T>(vm, f->value);
  }
  Object* o = vm.resolve(target, fn);
  if (!o) vm.misuse(fn, "null object");
  if (!vm.isInstance(o, f->owner)) vm.misuse(fn, "a " + o->cls->name + " has no field " + f->name);
  auto it = o->fields.find(f->name);
  if (it == o->fields.end()) {
    Value v = f->signature[0] == 'L' || f->signature[0] == '[' ? Value::ofObject(nullptr)
              : letter == 'Z'                                  ? Value::ofBoolean(false)
              : letter == 'F' || letter == 'D'                 ? Value::ofDouble(letter, 0)
                                                               : Value::ofInt(letter, 0);
    return unbox<T>(vm, v);
  }
  return unbox<T>(vm, it->second);
}

template <typename T>
void setField(JNIEnv* env, const char* fn, char letter, jobject target, jfieldID fid, bool isStatic,
              T value) {
  Vm& vm = enter(env, fn);
  FieldInfo* f = fieldArg(vm, fid, fn);
  if (f->isStatic != isStatic)
    vm.misuse(fn, f->owner->name + "." + f->name + (f->isStatic ? " is" : " is not") + " static");
  if (kindOf(f->signature) != letter)
    vm.misuse(fn, f->owner->name + "." + f->name + " is not " + typeName(letter));
  Value v = box<T>(vm, letter, value, fn);
  if (v.type == 'L')
    checkAssignable(vm, v.obj, f->signature, fn, "value of " + f->owner->name + "." + f->name);
  if (isStatic) {
    classArg(vm, target, fn);
    f->value = v;
    vm.noteStaticFieldWrite(f);
    return;
  }
  Object* o = vm.resolve(target, fn);
  if (!o) vm.misuse(fn, "null object");
  if (!vm.isInstance(o, f->owner)) vm.misuse(fn, "a " + o->cls->name + " has no field " + f->name);
  o->fields[f->name] = v;
}

#define FAKEJVM_FIELDS(Name, T, L)                                            \
  T JNICALL Get##Name##Field(JNIEnv* e, jobject o, jfieldID f) {              \
    return getField<T>(e, "Get" #Name "Field", L, o, f, false);               \
  }                                                                           \
  void JNICALL Set##Name##Field(JNIEnv* e, jobject o, jfieldID f, T v) {      \
    setField<T>(e, "Set" #Name "Field", L, o, f, false, v);                   \
  }                                                                           \
  T JNICALL GetStatic##Name##Field(JNIEnv* e, jclass c, jfieldID f) {         \
    return getField<T>(e, "GetStatic" #Name "Field", L, c, f, true);          \
  }                                                                           \
  void JNICALL SetStatic##Name##Field(JNIEnv* e, jclass c, jfieldID f, T v) { \
    setField<T>(e, "SetStatic" #Name "Field", L, c, f, true, v);              \
  }

FAKEJVM_VALUE_TYPES(FAKEJVM_FIELDS)

// ---------------------------------------------------------------------------------------
// Primitive arrays. Element buffers are always copies (isCopy is set), so that a missing
// or wrong release mode shows in the Java array.

void* copyOut(const Object* a) {
  void* buf = std::malloc(a->bytes.empty() ? 1 : a->bytes.size());
  if (!a->bytes.empty()) std::memcpy(buf, a->bytes.data(), a->bytes.size());
  return buf;
}

void releaseArrayBuffer(Vm& vm, const char* fn, Object* a, void* elems, jint mode, Pin::Kind kind) {
  Pin p = vm.takePin(elems, fn);
  if (p.obj != a || p.kind != kind) vm.misuse(fn, "buffer belongs to another array or Get function");
  if (mode != 0 && mode != JNI_COMMIT && mode != JNI_ABORT)
    vm.misuse(fn, "unknown mode " + std::to_string(mode));
  if (mode != JNI_ABORT && !a->bytes.empty()) std::memcpy(a->bytes.data(), elems, a->bytes.size());
  if (mode == JNI_COMMIT) {
    vm.addPin(elems, p);
  } else {
    std::free(elems);
  }
}

bool checkRegion(Vm& vm, size_t length, jsize start, jsize len, const char* exceptionClass) {
  if (start < 0 || len < 0 || static_cast<size_t>(start) + static_cast<size_t>(len) > length) {
    vm.throwNew(exceptionClass, "Array region " + std::to_string(start) + ".." +
                                    std::to_string(static_cast<long long>(start) + len) +
                                    " out of bounds for length " + std::to_string(length));
    return false;
  }
  return true;
}

// The fake's heap: a larger primitive array fails as a real virtual machine's would with
// its default maximum heap, instead of taking the machine's memory.
constexpr size_t kHeapBytes = size_t(1) << 30;

#define FAKEJVM_ARRAYS(Name, T, L)                                                                          \
  T##Array JNICALL New##Name##Array(JNIEnv* e, jsize n) {                                                   \
    Vm& vm = enter(e, "New" #Name "Array");                                                                 \
    if (n < 0) {                                                                                            \
      vm.throwNew("java/lang/NegativeArraySizeException", std::to_string(n));                               \
      return nullptr;                                                                                       \
    }                                                                                                       \
    if (static_cast<size_t>(n) * sizeof(T) > kHeapBytes) {                                                  \
      vm.throwNew("java/lang/OutOfMemoryError", "Java heap space");                                         \
      return nullptr;                                                                                       \
    }                                                                                                       \
    return static_cast<T##Array>(vm.newLocal(vm.newPrimitiveArray(L, static_cast<size_t>(n))));             \
  }                                                                                                         \
  T* JNICALL Get##Name##ArrayElements(JNIEnv* e, T##Array arr, jboolean* isCopy) {                          \
    const char* fn = "Get" #Name "ArrayElements";                                                           \
    Vm& vm = enter(e, fn);                                                                                  \
    Object* a = arrayArg(vm, arr, fn, L);                                                                   \
    if (vm.injectedFailure(fn)) return nullptr;                                                             \
    void* buf = copyOut(a);                                                                                 \
    vm.addPin(buf, Pin{a, Pin::Kind::ArrayElements, L});                                                    \
    if (isCopy) *isCopy = JNI_TRUE;                                                                         \
    return static_cast<T*>(buf);                                                                            \
  }                                                                                                         \
  void JNICALL Release##Name##ArrayElements(JNIEnv* e, T##Array arr, T* elems, jint mode) {                 \
    const char* fn = "Release" #Name "ArrayElements";                                                       \
    Vm& vm = enterExempt(e, fn);                                                                            \
    releaseArrayBuffer(vm, fn, arrayArg(vm, arr, fn, L), elems, mode, Pin::Kind::ArrayElements);            \
  }                                                                                                         \
  void JNICALL Get##Name##ArrayRegion(JNIEnv* e, T##Array arr, jsize start, jsize len, T* buf) {            \
    const char* fn = "Get" #Name "ArrayRegion";                                                             \
    Vm& vm = enter(e, fn);                                                                                  \
    Object* a = arrayArg(vm, arr, fn, L);                                                                   \
    if (!checkRegion(vm, a->arrayLength(), start, len, "java/lang/ArrayIndexOutOfBoundsException")) return; \
    if (len > 0) std::memcpy(buf, a->bytes.data() + start * sizeof(T), len * sizeof(T));                    \
  }                                                                                                         \
  void JNICALL Set##Name##ArrayRegion(JNIEnv* e, T##Array arr, jsize start, jsize len, const T* buf) {      \
    const char* fn = "Set" #Name "ArrayRegion";                                                             \
    Vm& vm = enter(e, fn);                                                                                  \
    Object* a = arrayArg(vm, arr, fn, L);                                                                   \
    if (!checkRegion(vm, a->arrayLength(), start, len, "java/lang/ArrayIndexOutOfBoundsException")) return; \
    if (len > 0) std::memcpy(a->bytes.data() + start * sizeof(T), buf, len * sizeof(T));                    \
  }

#define FAKEJVM_PRIMITIVE_TYPES(X) \
  X(Boolean, jboolean, 'Z')        \
  X(Byte, jbyte, 'B')              \
  X(Char, jchar, 'C')              \
  X(Short, jshort, 'S')            \
  X(Int, jint, 'I')                \
  X(Long, jlong, 'J')              \
  X(Float, jfloat, 'F')            \
  X(Double, jdouble, 'D')

FAKEJVM_PRIMITIVE_TYPES(FAKEJVM_ARRAYS)

void* JNICALL GetPrimitiveArrayCritical(JNIEnv* e, jarray arr, jboolean* isCopy) {
  const char* fn = "GetPrimitiveArrayCritical";
  Vm& vm = enter(e, fn);
  Object* a = arrayArg(vm, arr, fn, 0);
  if (a->kind != ObjectKind::PrimitiveArray) vm.misuse(fn, "not a primitive array");
  void* buf = copyOut(a);
  vm.addPin(buf, Pin{a, Pin::Kind::ArrayCritical, a->elementType});
  if (isCopy) *isCopy = JNI_TRUE;
  return buf;
}

void JNICALL ReleasePrimitiveArrayCritical(JNIEnv* e, jarray arr, void* elems, jint mode) {
  const char* fn = "ReleasePrimitiveArrayCritical";
  Vm& vm = enterExempt(e, fn);
  releaseArrayBuffer(vm, fn, arrayArg(vm, arr, fn, 0), elems, mode, Pin::Kind::ArrayCritical);
}

// ---------------------------------------------------------------------------------------
// Object arrays

jsize JNICALL GetArrayLength(JNIEnv* e, jarray arr) {
  Vm& vm = enter(e, "GetArrayLength");
  return static_cast<jsize>(arrayArg(vm, arr, "GetArrayLength", 0)->arrayLength());
}

jobjectArray JNICALL NewObjectArray(JNIEnv* e, jsize n, jclass elementClass, jobject init) {
  const char* fn = "NewObjectArray";
  Vm& vm = enter(e, fn);
  ClassInfo* cls = classArg(vm, elementClass, fn);
  Object* initial = vm.resolve(init, fn);
  if (initial && !vm.isInstance(initial, cls)) vm.misuse(fn, "initial element is not a " + cls->name);
  if (n < 0) {
    vm.throwNew("java/lang/NegativeArraySizeException", std::to_string(n));
    return nullptr;
  }
  Object* a = vm.newObjectArray(cls, static_cast<size_t>(n));
  for (Object*& el : a->elements) el = initial;
  return static_cast<jobjectArray>(vm.newLocal(a));
}

jobject JNICALL GetObjectArrayElement(JNIEnv* e, jobjectArray arr, jsize index) {
  const char* fn = "GetObjectArrayElement";
  Vm& vm = enter(e, fn);
  Object* a = arrayArg(vm, arr, fn, 'L');
  if (index < 0 || static_cast<size_t>(index) >= a->elements.size()) {
    vm.throwNew(
        "java/lang/ArrayIndexOutOfBoundsException",
        "Index " + std::to_string(index) + " out of bounds for length " + std::to_string(a->elements.size()));
    return nullptr;
  }
  return vm.newLocal(a->elements[index]);
}

void JNICALL SetObjectArrayElement(JNIEnv* e, jobjectArray arr, jsize index, jobject value) {
  const char* fn = "SetObjectArrayElement";
  Vm& vm = enter(e, fn);
  Object* a = arrayArg(vm, arr, fn, 'L');
  Object* v = vm.resolve(value, fn);
  if (index < 0 || static_cast<size_t>(index) >= a->elements.size()) {
    vm.throwNew(
        "java/lang/ArrayIndexOutOfBoundsException",
        "Index " + std::to_string(index) + " out of bounds for length " + std::to_string(a->elements.size()));
    return;
  }
  ClassInfo* component = classOfDescriptor(vm, a->cls->componentType);
  if (v && component && !vm.isInstance(v, component)) {
    vm.throwNew("java/lang/ArrayStoreException", v->cls->name);
    return;
  }
  a->elements[index] = v;
}

// ---------------------------------------------------------------------------------------
// Strings. GetStringChars hands out the units without a terminating zero, as JNI promises
// none: the unit after the last one is a non-zero canary, so code that treats the buffer
// as zero-terminated reads garbage in the tests rather than by luck on a real JVM.

constexpr jchar kCanary = 0xFDFD;

jstring JNICALL NewString(JNIEnv* e, const jchar* units, jsize len) {
  Vm& vm = enter(e, "NewString");
  if (len < 0) vm.misuse("NewString", "negative length");
  if (!units && len > 0) vm.misuse("NewString", "null characters");
  if (vm.injectedFailure("NewString")) return nullptr;
  std::u16string text(reinterpret_cast<const char16_t*>(units), static_cast<size_t>(len));
  return static_cast<jstring>(vm.newLocal(vm.newString(std::move(text))));
}

jsize JNICALL GetStringLength(JNIEnv* e, jstring s) {
  Vm& vm = enter(e, "GetStringLength");
  return static_cast<jsize>(stringArg(vm, s, "GetStringLength")->text.size());
}

const jchar* pinChars(Vm& vm, Object* str, jboolean* isCopy, Pin::Kind kind) {
  auto* buf = static_cast<jchar*>(std::malloc((str->text.size() + 1) * sizeof(jchar)));
  if (!str->text.empty()) std::memcpy(buf, str->text.data(), str->text.size() * sizeof(jchar));
  buf[str->text.size()] = kCanary;
  vm.addPin(buf, Pin{str, kind, 'C'});
  if (isCopy) *isCopy = JNI_TRUE;
  return buf;
}

void unpinChars(Vm& vm, const char* fn, Object* str, const void* chars, Pin::Kind kind) {
  Pin p = vm.takePin(const_cast<void*>(chars), fn);
  if (p.obj != str || p.kind != kind) vm.misuse(fn, "buffer belongs to another string or Get function");
  std::free(const_cast<void*>(chars));
}

const jchar* JNICALL GetStringChars(JNIEnv* e, jstring s, jboolean* isCopy) {
  Vm& vm = enter(e, "GetStringChars");
  stringArg(vm, s, "GetStringChars");
  if (vm.injectedFailure("GetStringChars")) return nullptr;
  return pinChars(vm, stringArg(vm, s, "GetStringChars"), isCopy, Pin::Kind::StringChars);
}

void JNICALL ReleaseStringChars(JNIEnv* e, jstring s, const jchar* chars) {
  Vm& vm = enterExempt(e, "ReleaseStringChars");
  unpinChars(vm, "ReleaseStringChars", stringArg(vm, s, "ReleaseStringChars"), chars, Pin::Kind::StringChars);
}

const jchar* JNICALL GetStringCritical(JNIEnv* e, jstring s, jboolean* isCopy) {
  Vm& vm = enter(e, "GetStringCritical");
  return pinChars(vm, stringArg(vm, s, "GetStringCritical"), isCopy, Pin::Kind::StringCritical);
}

void JNICALL ReleaseStringCritical(JNIEnv* e, jstring s, const jchar* chars) {
  Vm& vm = enterExempt(e, "ReleaseStringCritical");
  unpinChars(vm, "ReleaseStringCritical", stringArg(vm, s, "ReleaseStringCritical"), chars,
             Pin::Kind::StringCritical);
}

jstring JNICALL NewStringUTF(JNIEnv* e, const char* bytes) {
  Vm& vm = enter(e, "NewStringUTF");
  if (!bytes) return nullptr;
  bool wellFormed = true;
  std::u16string text = utf16FromModifiedUtf8(bytes, &wellFormed);
  if (!wellFormed) {
    std::string hex;
    for (const char* p = bytes; *p && hex.size() < 200; ++p) {
      char b[4];
      std::snprintf(b, sizeof b, "%02x", static_cast<unsigned char>(*p));
      hex += b;
    }
    vm.warn("NewStringUTF: not modified UTF-8", hex);
  }
  return static_cast<jstring>(vm.newLocal(vm.newString(std::move(text))));
}

jsize JNICALL GetStringUTFLength(JNIEnv* e, jstring s) {
  Vm& vm = enter(e, "GetStringUTFLength");
  return static_cast<jsize>(modifiedUtf8FromUtf16(stringArg(vm, s, "GetStringUTFLength")->text).size());
}

const char* JNICALL GetStringUTFChars(JNIEnv* e, jstring s, jboolean* isCopy) {
  Vm& vm = enter(e, "GetStringUTFChars");
  Object* str = stringArg(vm, s, "GetStringUTFChars");
  std::string bytes = modifiedUtf8FromUtf16(str->text);
  auto* buf = static_cast<char*>(std::malloc(bytes.size() + 1));
  std::memcpy(buf, bytes.c_str(), bytes.size() + 1);
  vm.addPin(buf, Pin{str, Pin::Kind::StringUtfChars, 0});
  if (isCopy) *isCopy = JNI_TRUE;
  return buf;
}

void JNICALL ReleaseStringUTFChars(JNIEnv* e, jstring s, const char* chars) {
  Vm& vm = enterExempt(e, "ReleaseStringUTFChars");
  unpinChars(vm, "ReleaseStringUTFChars", stringArg(vm, s, "ReleaseStringUTFChars"), chars,
             Pin::Kind::StringUtfChars);
}

void JNICALL GetStringRegion(JNIEnv* e, jstring s, jsize start, jsize len, jchar* buf) {
  Vm& vm = enter(e, "GetStringRegion");
  Object* str = stringArg(vm, s, "GetStringRegion");
  if (!checkRegion(vm, str->text.size(), start, len, "java/lang/StringIndexOutOfBoundsException")) return;
  if (len > 0) std::memcpy(buf, str->text.data() + start, len * sizeof(jchar));
}

void JNICALL GetStringUTFRegion(JNIEnv* e, jstring s, jsize start, jsize len, char* buf) {
  Vm& vm = enter(e, "GetStringUTFRegion");
  Object* str = stringArg(vm, s, "GetStringUTFRegion");
  if (!checkRegion(vm, str->text.size(), start, len, "java/lang/StringIndexOutOfBoundsException")) return;
  std::string bytes = modifiedUtf8FromUtf16(std::u16string_view(str->text).substr(start, len));
  std::memcpy(buf, bytes.c_str(), bytes.size() + 1);
}

// ---------------------------------------------------------------------------------------
// References and frames

jobject JNICALL NewGlobalRef(JNIEnv* e, jobject o) {
  Vm& vm = enter(e, "NewGlobalRef");
  return vm.newGlobal(vm.resolve(o, "NewGlobalRef"));
}

void JNICALL DeleteGlobalRef(JNIEnv* e, jobject o) {
  enterExempt(e, "DeleteGlobalRef").deleteGlobal(o, "DeleteGlobalRef");
}

void JNICALL DeleteLocalRef(JNIEnv* e, jobject o) {
  enterExempt(e, "DeleteLocalRef").deleteLocal(o, "DeleteLocalRef");
}

jobject JNICALL NewLocalRef(JNIEnv* e, jobject o) {
  Vm& vm = enter(e, "NewLocalRef");
  return vm.newLocal(vm.resolve(o, "NewLocalRef"));
}

jboolean JNICALL IsSameObject(JNIEnv* e, jobject a, jobject b) {
  Vm& vm = enter(e, "IsSameObject");
  return vm.resolve(a, "IsSameObject") == vm.resolve(b, "IsSameObject") ? JNI_TRUE : JNI_FALSE;
}

jint JNICALL PushLocalFrame(JNIEnv* e, jint capacity) {
  Vm& vm = enterExempt(e, "PushLocalFrame");
  if (capacity < 0) vm.misuse("PushLocalFrame", "negative capacity");
  vm.pushFrame();
  return JNI_OK;
}

jobject JNICALL PopLocalFrame(JNIEnv* e, jobject result) {
  Vm& vm = enterExempt(e, "PopLocalFrame");
  Object* r = vm.resolve(result, "PopLocalFrame");
  vm.popFrame(r);
  return vm.newLocal(r);
}

jint JNICALL EnsureLocalCapacity(JNIEnv* e, jint capacity) {
  Vm& vm = enter(e, "EnsureLocalCapacity");
  if (capacity < 0) vm.misuse("EnsureLocalCapacity", "negative capacity");
  return JNI_OK;
}

jobjectRefType JNICALL GetObjectRefType(JNIEnv* e, jobject o) {
  Vm& vm = enter(e, "GetObjectRefType");
  if (!o) return JNIInvalidRefType;
  Ref* r = vm.refOf(o, "GetObjectRefType");
  return r->kind == Ref::Kind::Global ? JNIGlobalRefType : JNILocalRefType;
}

// ---------------------------------------------------------------------------------------
// Exceptions

jint JNICALL Throw(JNIEnv* e, jthrowable t) {
  Vm& vm = enter(e, "Throw");
  Object* o = vm.resolve(t, "Throw");
  if (!o || !vm.isInstance(o, vm.findClass("java/lang/Throwable"))) vm.misuse("Throw", "not a Throwable");
  vm.setPending(o);
  return JNI_OK;
}

jint JNICALL ThrowNew(JNIEnv* e, jclass c, const char* message) {
  Vm& vm = enter(e, "ThrowNew");
  ClassInfo* cls = classArg(vm, c, "ThrowNew");
  if (!vm.isSubclass(cls, vm.findClass("java/lang/Throwable")))
    vm.misuse("ThrowNew", cls->name + " is not a Throwable");
  vm.throwNew(cls->name, message ? std::string_view(message) : std::string_view());
  return JNI_OK;
}

jthrowable JNICALL ExceptionOccurred(JNIEnv* e) {
  Vm& vm = enterExempt(e, "ExceptionOccurred");
  return static_cast<jthrowable>(vm.newLocal(vm.pending()));
}

void JNICALL ExceptionDescribe(JNIEnv* e) {
  Vm& vm = enterExempt(e, "ExceptionDescribe");
  if (!vm.pending()) return;
  std::string text = vm.describe(vm.pending());
  std::string out = "Exception in thread \"main\" " + text + "\n\tat fakejvm\n";
  DWORD written = 0;
  HANDLE h = GetStdHandle(STD_ERROR_HANDLE);
  if (h && h != INVALID_HANDLE_VALUE)
    WriteFile(h, out.data(), static_cast<DWORD>(out.size()), &written, nullptr);
  // Describing clears the exception, as in a real JVM.
  vm.clearPending();
  vm.event({{"type", "exceptionDescribed"}, {"exception", text}});
}

void JNICALL ExceptionClear(JNIEnv* e) {
  enterExempt(e, "ExceptionClear").clearPending();
}

jboolean JNICALL ExceptionCheck(JNIEnv* e) {
  return enterExempt(e, "ExceptionCheck").pending() ? JNI_TRUE : JNI_FALSE;
}

void JNICALL FatalError(JNIEnv* e, const char* message) {
  Vm& vm = Vm::of(e);
  std::string text = message ? message : "";
  vm.fail("fatalErrors", text, "FatalError: " + text);
}

// ---------------------------------------------------------------------------------------
// Classes, members and objects

jint JNICALL GetVersion(JNIEnv* e) {
  enter(e, "GetVersion");
  return JNI_VERSION_10;
}

jclass JNICALL FindClass(JNIEnv* e, const char* name) {
  Vm& vm = enter(e, "FindClass");
  if (!name) vm.misuse("FindClass", "null name");
  // Class names use slashes; a dotted name is not found, as in a real JVM.
  ClassInfo* cls = std::strchr(name, '.') ? nullptr : vm.findClass(name);
  if (!cls) {
    vm.throwNew("java/lang/NoClassDefFoundError", name);
    vm.event({{"type", "classNotFound"}, {"name", name}});
    return nullptr;
  }
  return static_cast<jclass>(vm.newLocal(cls->mirror));
}

jclass JNICALL GetSuperclass(JNIEnv* e, jclass c) {
  Vm& vm = enter(e, "GetSuperclass");
  ClassInfo* cls = classArg(vm, c, "GetSuperclass");
  return static_cast<jclass>(vm.newLocal(cls->super ? cls->super->mirror : nullptr));
}

jboolean JNICALL IsAssignableFrom(JNIEnv* e, jclass sub, jclass sup) {
  Vm& vm = enter(e, "IsAssignableFrom");
  return vm.isSubclass(classArg(vm, sub, "IsAssignableFrom"), classArg(vm, sup, "IsAssignableFrom"))
             ? JNI_TRUE
             : JNI_FALSE;
}

jclass JNICALL GetObjectClass(JNIEnv* e, jobject o) {
  Vm& vm = enter(e, "GetObjectClass");
  Object* obj = vm.resolve(o, "GetObjectClass");
  if (!obj) vm.misuse("GetObjectClass", "null object");
  return static_cast<jclass>(vm.newLocal(obj->cls->mirror));
}

jboolean JNICALL IsInstanceOf(JNIEnv* e, jobject o, jclass c) {
  Vm& vm = enter(e, "IsInstanceOf");
  return vm.isInstance(vm.resolve(o, "IsInstanceOf"), classArg(vm, c, "IsInstanceOf")) ? JNI_TRUE : JNI_FALSE;
}

jmethodID lookupMethod(JNIEnv* e, const char* fn, jclass c, const char* name, const char* sig,
                       bool isStatic) {
  Vm& vm = enter(e, fn);
  ClassInfo* cls = classArg(vm, c, fn);
  if (!name || !sig) vm.misuse(fn, "null name or signature");
  MethodInfo* m = vm.findMethod(cls, name, sig, isStatic);
  if (!m) {
    vm.throwNew("java/lang/NoSuchMethodError", name);
    vm.event({{"type", "methodNotFound"},
              {"class", cls->name},
              {"name", name},
              {"signature", sig},
              {"static", isStatic}});
    return nullptr;
  }
  return reinterpret_cast<jmethodID>(m);
}

jmethodID JNICALL GetMethodID(JNIEnv* e, jclass c, const char* name, const char* sig) {
  return lookupMethod(e, "GetMethodID", c, name, sig, false);
}

jmethodID JNICALL GetStaticMethodID(JNIEnv* e, jclass c, const char* name, const char* sig) {
  return lookupMethod(e, "GetStaticMethodID", c, name, sig, true);
}

jfieldID lookupField(JNIEnv* e, const char* fn, jclass c, const char* name, const char* sig, bool isStatic) {
  Vm& vm = enter(e, fn);
  ClassInfo* cls = classArg(vm, c, fn);
  if (!name || !sig) vm.misuse(fn, "null name or signature");
  FieldInfo* f = vm.findField(cls, name, sig, isStatic);
  if (!f) {
    vm.throwNew("java/lang/NoSuchFieldError", name);
    vm.event({{"type", "fieldNotFound"},
              {"class", cls->name},
              {"name", name},
              {"signature", sig},
              {"static", isStatic}});
    return nullptr;
  }
  return reinterpret_cast<jfieldID>(f);
}

jfieldID JNICALL GetFieldID(JNIEnv* e, jclass c, const char* name, const char* sig) {
  return lookupField(e, "GetFieldID", c, name, sig, false);
}

jfieldID JNICALL GetStaticFieldID(JNIEnv* e, jclass c, const char* name, const char* sig) {
  return lookupField(e, "GetStaticFieldID", c, name, sig, true);
}

jobject newObject(JNIEnv* e, const char* fn, jclass c, jmethodID mid, ArgSource src) {
  Vm& vm = enter(e, fn);
  ClassInfo* cls = classArg(vm, c, fn);
  MethodInfo* m = methodArg(vm, mid, fn);
  if (m->name != "<init>" || m->owner != cls)
    vm.misuse(fn, describeMethod(m) + " is not a constructor of " + cls->name);
  std::vector<Value> args = readArgs(vm, m, src, fn);
  Object* obj = vm.construct(m, std::move(args));
  return vm.pending() ? nullptr : vm.newLocal(obj);
}

jobject JNICALL NewObjectV(JNIEnv* e, jclass c, jmethodID m, va_list ap) {
  return newObject(e, "NewObjectV", c, m, ArgSource{&ap, nullptr});
}

jobject JNICALL NewObjectA(JNIEnv* e, jclass c, jmethodID m, const jvalue* a) {
  return newObject(e, "NewObjectA", c, m, ArgSource{nullptr, a});
}

jobject JNICALL NewObject(JNIEnv* e, jclass c, jmethodID m, ...) {
  va_list ap;
  va_start(ap, m);
  VaEnd end{ap};
  return newObject(e, "NewObject", c, m, ArgSource{&ap, nullptr});
}

// ---------------------------------------------------------------------------------------
// Natives

jint JNICALL RegisterNatives(JNIEnv* e, jclass c, const JNINativeMethod* methods, jint count) {
  const char* fn = "RegisterNatives";
  Vm& vm = enter(e, fn);
  ClassInfo* cls = classArg(vm, c, fn);
  if (count < 0 || (!methods && count > 0)) vm.misuse(fn, "bad method array");
  // Entries are bound in order; the first one that the class does not declare as native
  // fails the call and leaves the ones before it bound, as a real JVM does.
  for (jint i = 0; i < count; ++i) {
    const JNINativeMethod& n = methods[i];
    if (!n.name || !n.signature)
      vm.misuse(fn, "entry " + std::to_string(i) + " has a null name or signature");
    if (!n.fnPtr) vm.misuse(fn, cls->name + "." + n.name + n.signature + " has a null function pointer");
    MethodInfo* m = cls->findOwnMethod(n.name, n.signature);
    if (!m || !m->isNative) {
      std::string what = cls->name + "." + n.name + n.signature;
      vm.throwNew("java/lang/NoSuchMethodError", "Method '" + what + "' is not declared native");
      vm.event({{"type", "registerNatives"},
                {"class", cls->name},
                {"count", count},
                {"result", JNI_ERR},
                {"rejected", {{"name", n.name}, {"signature", n.signature}}}});
      return JNI_ERR;
    }
    m->nativeFunction = n.fnPtr;
    vm.reportData()["registered"].push_back(
        {{"class", cls->name}, {"name", n.name}, {"signature", n.signature}});
  }
  vm.event({{"type", "registerNatives"}, {"class", cls->name}, {"count", count}, {"result", JNI_OK}});
  return JNI_OK;
}

jint JNICALL UnregisterNatives(JNIEnv* e, jclass c) {
  Vm& vm = enter(e, "UnregisterNatives");
  ClassInfo* cls = classArg(vm, c, "UnregisterNatives");
  for (auto& m : cls->methods) m.nativeFunction = nullptr;
  auto& registered = vm.reportData()["registered"];
  json kept = json::array();
  for (auto& r : registered) {
    if (r["class"] != cls->name) kept.push_back(r);
  }
  registered = kept;
  vm.event({{"type", "unregisterNatives"}, {"class", cls->name}});
  return JNI_OK;
}

jint JNICALL GetJavaVM(JNIEnv* e, JavaVM** vm) {
  Vm& fake = enter(e, "GetJavaVM");
  if (!vm) fake.misuse("GetJavaVM", "null result pointer");
  *vm = fake.javaVm();
  return JNI_OK;
}

// ---------------------------------------------------------------------------------------
// Slots without an implementation: each names itself and ends the process.

// On Windows x64 va_list carries a calling-convention attribute that a template argument
// cannot keep; the stubs never read their arguments, so dropping it is harmless.
#pragma GCC diagnostic ignored "-Wignored-attributes"

template <typename F, typename Name>
struct Stub;

template <typename R, typename... A, typename Name>
struct Stub<R(JNICALL*)(JNIEnv*, A...), Name> {
  static R JNICALL call(JNIEnv* env, A...) {
    Vm::of(env).fail("unimplemented", Name::value, std::string("unimplemented JNI function ") + Name::value);
  }
};

template <typename R, typename... A, typename Name>
struct Stub<R(JNICALL*)(JNIEnv*, A..., ...), Name> {
  static R JNICALL call(JNIEnv* env, A..., ...) {
    Vm::of(env).fail("unimplemented", Name::value, std::string("unimplemented JNI function ") + Name::value);
  }
};

#define FAKEJVM_SLOT_NAME(N)                 \
  struct SlotName_##N {                      \
    static constexpr const char* value = #N; \
  };
FAKEJVM_JNI_SLOTS(FAKEJVM_SLOT_NAME)

#define FAKEJVM_COUNT(N) +1
constexpr size_t kSlotCount = 0 FAKEJVM_JNI_SLOTS(FAKEJVM_COUNT);
static_assert(sizeof(JNINativeInterface_) == (4 + kSlotCount) * sizeof(void*),
              "the slot list covers the whole function table");

JNINativeInterface_ makeTable() {
  JNINativeInterface_ t{};
#define FAKEJVM_STUB(N) t.N = &Stub<decltype(t.N), SlotName_##N>::call;
  FAKEJVM_JNI_SLOTS(FAKEJVM_STUB)

#define FAKEJVM_SET(N) t.N = N;
#define FAKEJVM_SET_CALLS(Name, T, L)                                                   \
  FAKEJVM_SET(Call##Name##Method)                                                       \
  FAKEJVM_SET(Call##Name##MethodV)                                                      \
  FAKEJVM_SET(Call##Name##MethodA)                                                      \
  FAKEJVM_SET(CallNonvirtual##Name##Method)                                             \
  FAKEJVM_SET(CallNonvirtual##Name##MethodV) FAKEJVM_SET(CallNonvirtual##Name##MethodA) \
      FAKEJVM_SET(CallStatic##Name##Method) FAKEJVM_SET(CallStatic##Name##MethodV)      \
          FAKEJVM_SET(CallStatic##Name##MethodA)
#define FAKEJVM_SET_FIELDS(Name, T, L) \
  FAKEJVM_SET(Get##Name##Field)        \
  FAKEJVM_SET(Set##Name##Field) FAKEJVM_SET(GetStatic##Name##Field) FAKEJVM_SET(SetStatic##Name##Field)
#define FAKEJVM_SET_ARRAYS(Name, T, L)      \
  FAKEJVM_SET(New##Name##Array)             \
  FAKEJVM_SET(Get##Name##ArrayElements)     \
  FAKEJVM_SET(Release##Name##ArrayElements) \
  FAKEJVM_SET(Get##Name##ArrayRegion) FAKEJVM_SET(Set##Name##ArrayRegion)

  FAKEJVM_VALUE_TYPES(FAKEJVM_SET_CALLS)
  FAKEJVM_SET_CALLS(Void, void, 'V')
  FAKEJVM_VALUE_TYPES(FAKEJVM_SET_FIELDS)
  FAKEJVM_PRIMITIVE_TYPES(FAKEJVM_SET_ARRAYS)

  FAKEJVM_SET(GetVersion)
  FAKEJVM_SET(FindClass)
  FAKEJVM_SET(GetSuperclass)
  FAKEJVM_SET(IsAssignableFrom)
  FAKEJVM_SET(Throw)
  FAKEJVM_SET(ThrowNew)
  FAKEJVM_SET(ExceptionOccurred)
  FAKEJVM_SET(ExceptionDescribe)
  FAKEJVM_SET(ExceptionClear)
  FAKEJVM_SET(ExceptionCheck)
  FAKEJVM_SET(FatalError)
  FAKEJVM_SET(PushLocalFrame)
  FAKEJVM_SET(PopLocalFrame)
  FAKEJVM_SET(NewGlobalRef)
  FAKEJVM_SET(DeleteGlobalRef)
  FAKEJVM_SET(DeleteLocalRef)
  FAKEJVM_SET(IsSameObject)
  FAKEJVM_SET(NewLocalRef)
  FAKEJVM_SET(EnsureLocalCapacity)
  FAKEJVM_SET(GetObjectRefType)
  FAKEJVM_SET(NewObject)
  FAKEJVM_SET(NewObjectV)
  FAKEJVM_SET(NewObjectA)
  FAKEJVM_SET(GetObjectClass)
  FAKEJVM_SET(IsInstanceOf)
  FAKEJVM_SET(GetMethodID)
  FAKEJVM_SET(GetStaticMethodID)
  FAKEJVM_SET(GetFieldID)
  FAKEJVM_SET(GetStaticFieldID)
  FAKEJVM_SET(NewString)
  FAKEJVM_SET(GetStringLength)
  FAKEJVM_SET(GetStringChars)
  FAKEJVM_SET(ReleaseStringChars)
  FAKEJVM_SET(NewStringUTF)
  FAKEJVM_SET(GetStringUTFLength)
  FAKEJVM_SET(GetStringUTFChars)
  FAKEJVM_SET(ReleaseStringUTFChars)
  FAKEJVM_SET(GetStringRegion)
  FAKEJVM_SET(GetStringUTFRegion)
  FAKEJVM_SET(GetStringCritical)
  FAKEJVM_SET(ReleaseStringCritical)
  FAKEJVM_SET(GetArrayLength)
  FAKEJVM_SET(NewObjectArray)
  FAKEJVM_SET(GetObjectArrayElement)
  FAKEJVM_SET(SetObjectArrayElement)
  FAKEJVM_SET(GetPrimitiveArrayCritical)
  FAKEJVM_SET(ReleasePrimitiveArrayCritical)
  FAKEJVM_SET(RegisterNatives)
  FAKEJVM_SET(UnregisterNatives)
  FAKEJVM_SET(GetJavaVM)
  return t;
}

// ---------------------------------------------------------------------------------------
// Invocation interface

}  // namespace

bool isSupportedJniVersion(jint version) {
  switch (version) {
    case JNI_VERSION_1_1:
    case JNI_VERSION_1_2:
    case JNI_VERSION_1_4:
    case JNI_VERSION_1_6:
    case JNI_VERSION_1_8:
    case JNI_VERSION_9:
    case JNI_VERSION_10:
      return true;
  }
  return false;
}

namespace {

jint JNICALL DestroyJavaVM(JavaVM* vm) {
  Vm& fake = Vm::of(vm);
  if (fake.destroyed()) fake.misuse("DestroyJavaVM", "called twice");
  fake.markDestroyed();
  return JNI_OK;
}

jint JNICALL AttachCurrentThread(JavaVM* vm, void** penv, void*) {
  Vm& fake = Vm::of(vm);
  if (fake.destroyed()) return JNI_ERR;
  *penv = fake.env();
  return JNI_OK;
}

jint JNICALL DetachCurrentThread(JavaVM* vm) {
  return Vm::of(vm).destroyed() ? JNI_ERR : JNI_OK;
}

jint JNICALL GetEnv(JavaVM* vm, void** penv, jint version) {
  Vm& fake = Vm::of(vm);
  if (fake.destroyed()) {
    *penv = nullptr;
    return JNI_EDETACHED;
  }
  if (!isSupportedJniVersion(version) || version == JNI_VERSION_1_1) {
    *penv = nullptr;
    return JNI_EVERSION;
  }
  *penv = fake.env();
  return JNI_OK;
}

}  // namespace

const JNINativeInterface_* jniFunctionTable() {
  static const JNINativeInterface_ table = makeTable();
  return &table;
}

const JNIInvokeInterface_* jniInvokeTable() {
  static const JNIInvokeInterface_ table = {nullptr,
                                            nullptr,
                                            nullptr,
                                            DestroyJavaVM,
                                            AttachCurrentThread,
                                            DetachCurrentThread,
                                            GetEnv,
                                            AttachCurrentThread};
  return &table;
}

std::vector<std::string> implementedJniFunctions() {
  std::vector<std::string> out;
  const JNINativeInterface_& t = *jniFunctionTable();
#define FAKEJVM_IMPLEMENTED(N)                                                                             \
  if (reinterpret_cast<void*>(t.N) != reinterpret_cast<void*>(&Stub<decltype(t.N), SlotName_##N>::call)) { \
    out.push_back(#N);                                                                                     \
  }
  FAKEJVM_JNI_SLOTS(FAKEJVM_IMPLEMENTED)
  return out;
}

}  // namespace fakejvm
