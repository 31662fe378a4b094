#include "natives/base/JniConvert.h"

#include <new>
#include <string>

#include "core/JavaNames.h"

namespace shipkit::natives {

namespace {

// JNI takes zero-terminated names; the views name whole literals or come from std::string.
std::string terminated(std::string_view text) {
  return std::string(text);
}

jclass findClass(JNIEnv* env, std::string_view name) {
  jclass cls = env->FindClass(terminated(name).c_str());
  if (!cls) clearJavaException(env);
  return cls;
}

}  // namespace

void clearJavaException(JNIEnv* env) {
  if (env->ExceptionCheck()) env->ExceptionClear();
}

WideString WideString::from(JNIEnv* env, jstring text) {
  WideString out;
  if (!text) return out;
  const jsize length = env->GetStringLength(text);
  const jchar* chars = env->GetStringChars(text, nullptr);
  if (!chars) {
    clearJavaException(env);
    out.failed_ = true;
    return out;
  }
  // JNI does not terminate the characters: copy exactly `length` units and add the zero.
  out.data_.reset(new (std::nothrow) wchar_t[std::size_t(length) + 1]);
  if (out.data_) {
    for (jsize i = 0; i < length; ++i) out.data_[i] = wchar_t(chars[i]);
    out.data_[length] = L'\0';
    out.length_ = std::size_t(length);
  } else {
    out.failed_ = true;
  }
  env->ReleaseStringChars(text, chars);
  return out;
}

std::vector<WideString> stringArrayIn(JNIEnv* env, jobjectArray array) {
  std::vector<WideString> out;
  if (!array) return out;
  const jsize count = env->GetArrayLength(array);
  out.reserve(std::size_t(count));
  for (jsize i = 0; i < count; ++i) {
    auto element = static_cast<jstring>(env->GetObjectArrayElement(array, i));
    out.push_back(WideString::from(env, element));
    if (element) env->DeleteLocalRef(element);
  }
  return out;
}

jstring newJavaString(JNIEnv* env, const wchar_t* text, std::size_t length) {
  jstring s = env->NewString(reinterpret_cast<const jchar*>(text), jsize(length));
  if (!s) clearJavaException(env);
  return s;
}

jstring newJavaString(JNIEnv* env, const wchar_t* zeroTerminated) {
  std::size_t length = 0;
  while (zeroTerminated[length] != L'\0') ++length;
  return newJavaString(env, zeroTerminated, length);
}

jobjectArray newStringArray(JNIEnv* env, std::span<const jstring> elements) {
  jobjectArray array = nullptr;
  if (jclass stringClass = findClass(env, java::kStringClass)) {
    array = env->NewObjectArray(jsize(elements.size()), stringClass, nullptr);
    if (!array) clearJavaException(env);
    env->DeleteLocalRef(stringClass);
  }
  for (std::size_t i = 0; i < elements.size(); ++i) {
    if (array) env->SetObjectArrayElement(array, jsize(i), elements[i]);
    if (elements[i]) env->DeleteLocalRef(elements[i]);
  }
  return array;
}

jobjectArray newStringArray(JNIEnv* env, std::size_t count,
                            const std::function<jstring(std::size_t)>& element) {
  if (count > std::size_t(INT32_MAX)) return nullptr;
  jclass stringClass = findClass(env, java::kStringClass);
  if (!stringClass) return nullptr;
  jobjectArray array = env->NewObjectArray(jsize(count), stringClass, nullptr);
  env->DeleteLocalRef(stringClass);
  if (!array) {
    clearJavaException(env);
    return nullptr;
  }
  for (std::size_t i = 0; i < count; ++i) {
    jstring text = element(i);
    if (!text) {
      clearJavaException(env);
      env->DeleteLocalRef(array);
      return nullptr;
    }
    env->SetObjectArrayElement(array, jsize(i), text);
    env->DeleteLocalRef(text);
  }
  return array;
}

jobject newJavaObject(JNIEnv* env, std::string_view className, std::string_view constructorSignature,
                      const jvalue* args) {
  jclass cls = findClass(env, className);
  if (!cls) return nullptr;
  jobject object = nullptr;
  jmethodID constructor = env->GetMethodID(cls, terminated(java::kConstructorName).c_str(),
                                           terminated(constructorSignature).c_str());
  if (constructor) object = env->NewObjectA(cls, constructor, args);
  clearJavaException(env);
  env->DeleteLocalRef(cls);
  return object;
}

bool isInstanceOf(JNIEnv* env, jobject value, std::string_view className) {
  if (!value) return false;
  jclass cls = findClass(env, className);
  if (!cls) return false;
  const bool result = env->IsInstanceOf(value, cls) == JNI_TRUE;
  env->DeleteLocalRef(cls);
  return result;
}

std::optional<jint> javaIntegerValue(JNIEnv* env, jobject value) {
  // A null or foreign object would make CallIntMethod undefined; it counts as a failed lookup.
  if (!value) return std::nullopt;
  jclass integer = findClass(env, java::kIntegerClass);
  if (!integer) return std::nullopt;
  std::optional<jint> result;
  if (env->IsInstanceOf(value, integer) == JNI_TRUE) {
    jmethodID intValue = env->GetMethodID(integer, terminated(java::kIntValueMethod).c_str(),
                                          terminated(java::kIntValueSignature).c_str());
    if (intValue) {
      const jint v = env->CallIntMethod(value, intValue);
      if (!env->ExceptionCheck()) result = v;
    }
  }
  clearJavaException(env);
  env->DeleteLocalRef(integer);
  return result;
}

}  // namespace shipkit::natives
