#pragma once
// Java arrays of many elements built without holding a local reference per element: the
// array is created first, then every element is made, stored and its reference deleted at
// once, so that no list, however long, exhausts the local reference table.

#include <jni.h>

#include <string>
#include <string_view>
#include <vector>

namespace shipkit::natives {

// A String[] of the texts in order; null (no exception pending) when java/lang/String, the
// array or one of its strings cannot be made.
jobjectArray newStringArrayOf(JNIEnv* env, const std::vector<std::wstring_view>& texts);
jobjectArray newStringArrayOf(JNIEnv* env, const std::vector<std::wstring>& texts);

}  // namespace shipkit::natives
