#pragma once
// The object picker's selection list turned into ObjectPicker$Result objects, apart from the
// dialog so that it can be checked where the picker cannot be shown.

#include <jni.h>
#include <objbase.h>
#include <windows.h>

// After windows.h, which it builds on.
#include <objsel.h>

#include <optional>
#include <string>
#include <vector>

namespace shipkit::natives {

using SidToStringFn = BOOL(WINAPI*)(PSID, LPWSTR*);

struct PickedObject {
  std::optional<std::wstring> name, adsPath, objectClass, upn, sid;
};

// Every selection in order; the SID from the first fetched attribute (a byte safe array).
std::vector<PickedObject> pickedObjects(const DS_SELECTION_LIST& list, SidToStringFn toString);

// A Result[] in the same order, or null when the class, its constructor or the array cannot
// be had.
jobjectArray pickerResults(JNIEnv* env, const std::vector<PickedObject>& objects);

}  // namespace shipkit::natives
