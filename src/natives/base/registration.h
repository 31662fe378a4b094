#pragma once
// Binding of the launcher's native methods to the installer runtime's Java classes. The
// virtual machine runs inside the launcher, so the natives are found among the launcher's
// own exports and registered class by class with JNI RegisterNatives.

#include <jni.h>

namespace shipkit::natives {

// printf-style, UTF-16 format; the launcher passes its log's error-line function.
using ReportFn = void (*)(const wchar_t* format, ...);
// The address of an export of `module`, or null.
using ExportLookup = void* (*)(void* module, const char* exportName);

// Registers the fifteen native classes in order, looking every native up through `lookup`.
// Stops at the first class that fails (reported through `report`); classes registered
// before it stay registered. True when all were registered.
bool registerAllNatives(JNIEnv* env, void* module, ExportLookup lookup, ReportFn report) noexcept;

}  // namespace shipkit::natives

// The export that the handshake looks up by name: registers with the exports of `module`
// (the launcher's own module handle). 1 when all classes were registered, else 0.
extern "C" __declspec(dllexport) jboolean
    registerNatives(JNIEnv* env, void* module, shipkit::natives::ReportFn report) noexcept;
