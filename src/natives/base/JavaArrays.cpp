#include "natives/base/JavaArrays.h"

#include "natives/base/JniConvert.h"

namespace shipkit::natives {

namespace {

template <typename Text>
jobjectArray stringArray(JNIEnv* env, const std::vector<Text>& texts) {
  jclass stringClass = env->FindClass("java/lang/String");
  if (!stringClass) {
    clearJavaException(env);
    return nullptr;
  }
  jobjectArray array = env->NewObjectArray(jsize(texts.size()), stringClass, nullptr);
  env->DeleteLocalRef(stringClass);
  if (!array) {
    clearJavaException(env);
    return nullptr;
  }
  for (std::size_t i = 0; i < texts.size(); ++i) {
    jstring text = newJavaString(env, texts[i].data(), texts[i].size());
    if (!text) {
      env->DeleteLocalRef(array);
      return nullptr;
    }
    env->SetObjectArrayElement(array, jsize(i), text);
    env->DeleteLocalRef(text);
  }
  return array;
}

}  // namespace

jobjectArray newStringArrayOf(JNIEnv* env, const std::vector<std::wstring_view>& texts) {
  return stringArray(env, texts);
}

jobjectArray newStringArrayOf(JNIEnv* env, const std::vector<std::wstring>& texts) {
  return stringArray(env, texts);
}

}  // namespace shipkit::natives
