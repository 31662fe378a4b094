/* Machine-dependent JNI definitions for Windows x64, used with the OpenJDK jni.h.
   The types follow the Windows ABI of a real jvm.dll: jint is a 32-bit long and jlong a
   64-bit long long; JNICALL is __stdcall (which x64 compilers treat as the one native
   calling convention). */
#ifndef _JAVASOFT_JNI_MD_H_
#define _JAVASOFT_JNI_MD_H_

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef long jint;
typedef long long jlong;
typedef signed char jbyte;

#endif /* !_JAVASOFT_JNI_MD_H_ */
