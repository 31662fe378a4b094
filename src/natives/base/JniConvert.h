#pragma once
// Conversions between Java values and Windows data shared by all natives. Every helper
// reports failure by its result and leaves no Java exception pending: natives answer with
// their own failure values and never throw into the Java side.

#include <jni.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace shipkit::natives {

// Clears an exception that a failed JNI call left pending.
void clearJavaException(JNIEnv* env);

// A Java string copied into a zero-terminated UTF-16 buffer that the native owns. A null
// Java string stays a null pointer (not an empty string); so does a string whose characters
// could not be obtained, which failed() then tells apart.
class WideString {
 public:
  WideString() = default;
  static WideString from(JNIEnv* env, jstring text);

  const wchar_t* get() const { return data_.get(); }
  std::size_t length() const { return length_; }
  bool isNull() const { return !data_; }
  bool failed() const { return failed_; }

 private:
  std::unique_ptr<wchar_t[]> data_;
  std::size_t length_ = 0;
  bool failed_ = false;
};

// Owned copies of every element of a Java String[] (null elements stay null); an empty
// list for a null array.
std::vector<WideString> stringArrayIn(JNIEnv* env, jobjectArray array);

// A new Java string of exactly `length` units, or null.
jstring newJavaString(JNIEnv* env, const wchar_t* text, std::size_t length);
// A new Java string of the units up to the first zero, or null.
jstring newJavaString(JNIEnv* env, const wchar_t* zeroTerminated);

// A String[] holding the given local references in order; the references are deleted.
// Null when java/lang/String or the array cannot be had.
jobjectArray newStringArray(JNIEnv* env, std::span<const jstring> elements);

// A String[] of `count` elements made one at a time by `element(i)` (a new local reference,
// or null for a failure): the array exists first and each element's reference is deleted as
// soon as it is stored, so that a long enumeration holds only a few local references. Null
// when the array or any element cannot be made.
jobjectArray newStringArray(JNIEnv* env, std::size_t count,
                            const std::function<jstring(std::size_t)>& element);

// A new object of a class through its constructor with the given arguments, or null when
// the class, the constructor or the construction fails.
jobject newJavaObject(JNIEnv* env, std::string_view className, std::string_view constructorSignature,
                      const jvalue* args);

// intValue() of a java.lang.Integer; none for null, another class or a failed call.
std::optional<jint> javaIntegerValue(JNIEnv* env, jobject value);

// Whether a non-null object is an instance of the named class (array classes by descriptor).
bool isInstanceOf(JNIEnv* env, jobject value, std::string_view className);

// The elements of a primitive array for the length of one native call, released when the
// owner goes: byte arrays without copy-back (JNI_ABORT), boolean arrays with it (mode 0) so
// that values the native wrote reach the Java array.
template <typename Array, typename Element, Element* (JNIEnv::*Get)(Array, jboolean*),
          void (JNIEnv::*Release)(Array, Element*, jint), jint kReleaseMode>
class ArrayElements {
 public:
  ArrayElements(JNIEnv* env, Array array) : env_(env), array_(array) {
    if (array_) {
      data_ = (env_->*Get)(array_, nullptr);
      if (data_) {
        size_ = env_->GetArrayLength(array_);
      } else {
        clearJavaException(env_);
      }
    }
  }
  ~ArrayElements() {
    if (data_) (env_->*Release)(array_, data_, kReleaseMode);
  }
  ArrayElements(const ArrayElements&) = delete;
  ArrayElements& operator=(const ArrayElements&) = delete;

  explicit operator bool() const { return data_ != nullptr; }
  Element* data() const { return data_; }
  jsize size() const { return size_; }

 private:
  JNIEnv* env_;
  Array array_;
  Element* data_ = nullptr;
  jsize size_ = 0;
};

using ByteArrayElements = ArrayElements<jbyteArray, jbyte, &JNIEnv::GetByteArrayElements,
                                        &JNIEnv::ReleaseByteArrayElements, JNI_ABORT>;
using BooleanArrayElements = ArrayElements<jbooleanArray, jboolean, &JNIEnv::GetBooleanArrayElements,
                                           &JNIEnv::ReleaseBooleanArrayElements, 0>;

}  // namespace shipkit::natives
