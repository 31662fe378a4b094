#include "jvm/splash/SplashConfig.h"

#include <string>

#include "core/Config.h"
#include "core/JavaNames.h"
#include "core/Log.h"

namespace shipkit::jvm {

namespace {

// The string entries are read into 2000-byte buffers.
constexpr std::size_t kSplashTextCapacity = 2000;

jstring entryString(JNIEnv* env, int id) {
  std::string text = core::configString(id, kSplashTextCapacity);
  return env->NewStringUTF(text.c_str());
}

}  // namespace

void passSplashTextSettings(JNIEnv* env) {
  jclass cls = env->FindClass(std::string(java::kSplashConfigClass).c_str());
  if (!cls) {
    env->ExceptionClear();
    core::logError(L"could not find main class for splash properties");
    return;
  }
  jmethodID method = env->GetStaticMethodID(cls, std::string(java::kInitAwtSplashConfigMethod).c_str(),
                                            std::string(java::kInitAwtSplashConfigSignature).c_str());
  if (!method) {
    env->ExceptionClear();
    core::logError(L"could not find method for splash properties");
    env->DeleteLocalRef(cls);
    return;
  }
  jstring line1 = entryString(env, 10111);
  jstring colour1 = entryString(env, 10114);
  jstring line2 = entryString(env, 10118);
  jstring colour2 = entryString(env, 10121);
  using core::configInt;
  env->CallStaticVoidMethod(cls, method, jboolean(JNI_TRUE), jboolean(configInt(163) != 0), line1,
                            jint(configInt(10109)), jint(configInt(10110)), colour1, jint(configInt(10113)),
                            jint(configInt(10115)), line2, jint(configInt(10116)), jint(configInt(10117)),
                            colour2, jint(configInt(10120)), jint(configInt(10122)));
  // The Java side's failure here is not the launcher's: the launch goes on.
  if (env->ExceptionCheck()) env->ExceptionClear();
  for (jstring s : {line1, colour1, line2, colour2})
    if (s) env->DeleteLocalRef(s);
  env->DeleteLocalRef(cls);
}

}  // namespace shipkit::jvm
