// Natives of the Java class Win32CommunicationBackend: the server and client ends of a local
// named pipe, length-prefixed data blocks over it, and whether a process is still alive.
// Handles travel to Java as longs; -1 (INVALID_HANDLE_VALUE) stands for no handle and is
// never handed to Windows.
#include <jni.h>
#include <windows.h>

#include <cstdio>
#include <optional>

#include "natives/base/JniConvert.h"
#include "natives/base/NativeGuard.h"
#include "natives/pipes/DataBlock.h"
#include "natives/pipes/RetryPolicy.h"
#include "win/Text.h"
#include "win/Unique.h"

namespace shipkit::natives {

namespace {

constexpr jlong kNoHandle = -1;
constexpr DWORD kPipeBufferSize = 65536;

HANDLE handleOf(jlong value) {
  return reinterpret_cast<HANDLE>(static_cast<intptr_t>(value));
}

jlong valueOf(HANDLE handle) {
  return static_cast<jlong>(reinterpret_cast<intptr_t>(handle));
}

// Reads exactly `size` bytes, in as many reads as the pipe hands them out.
bool readAll(HANDLE pipe, void* buffer, std::size_t size) {
  auto* bytes = static_cast<char*>(buffer);
  return transferAll(size, [&](std::size_t offset, std::size_t remaining) -> std::optional<std::size_t> {
    DWORD got = 0;
    if (!::ReadFile(pipe, bytes + offset, DWORD(remaining), &got, nullptr)) return std::nullopt;
    return got;
  });
}

bool writeAll(HANDLE pipe, const void* buffer, std::size_t size) {
  const auto* bytes = static_cast<const char*>(buffer);
  return transferAll(size, [&](std::size_t offset, std::size_t remaining) -> std::optional<std::size_t> {
    DWORD put = 0;
    if (!::WriteFile(pipe, bytes + offset, DWORD(remaining), &put, nullptr)) return std::nullopt;
    return put;
  });
}

jbyteArray readDataBlock(JNIEnv* env, HANDLE pipe) {
  BlockHeader header{};
  if (!readAll(pipe, header.data(), header.size())) return nullptr;
  const std::optional<std::int32_t> length = decodeBlockLength(header);
  if (!length) return nullptr;
  jbyteArray array = env->NewByteArray(*length);
  if (!array) {
    clearJavaException(env);  // OutOfMemoryError: the block is not received
    return nullptr;
  }
  if (*length == 0) return array;
  jbyte* elements = env->GetByteArrayElements(array, nullptr);
  if (!elements) {
    clearJavaException(env);
    env->DeleteLocalRef(array);
    return nullptr;
  }
  const bool complete = readAll(pipe, elements, std::size_t(*length));
  env->ReleaseByteArrayElements(array, elements, complete ? 0 : JNI_ABORT);
  if (!complete) {
    env->DeleteLocalRef(array);
    return nullptr;
  }
  return array;
}

bool writeDataBlock(JNIEnv* env, HANDLE pipe, jbyteArray data) {
  const jsize length = env->GetArrayLength(data);
  // The payload is in hand before the header goes out: a header without its payload would
  // leave the reader's stream out of step for good.
  std::optional<ByteArrayElements> elements;
  if (length > 0) {
    elements.emplace(env, data);
    if (!*elements) return false;
  }
  const BlockHeader header = encodeBlockLength(std::uint32_t(length));
  if (!writeAll(pipe, header.data(), header.size())) return false;
  if (elements && !writeAll(pipe, elements->data(), std::size_t(length))) return false;
  // On a pipe this waits until the reader has taken the data.
  ::FlushFileBuffers(pipe);
  return true;
}

jlong connectClient(const wchar_t* name) {
  const PipeTimings& timings = pipeTimings();
  ::WaitNamedPipeW(name, timings.firstClientWaitMs);  // a failed wait shows in the open below
  for (int failures = 0;;) {
    HANDLE pipe = ::CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (pipe != INVALID_HANDLE_VALUE) return valueOf(pipe);
    const DWORD error = ::GetLastError();
    if (!timings.clientOpen.retryAfter(++failures)) {
      std::printf("could not open file %d %s\n", int(error), win::narrow(name).c_str());
      std::fflush(stdout);
      return 0;
    }
    ::Sleep(timings.clientOpen.sleepMs);
    ::WaitNamedPipeW(name, timings.laterClientWaitMs);
  }
}

bool connectNamedPipe(HANDLE pipe) {
  const RetryPolicy& policy = pipeTimings().serverConnect;
  for (int failures = 0;;) {
    if (::ConnectNamedPipe(pipe, nullptr)) return true;
    const DWORD error = ::GetLastError();
    if (error == ERROR_PIPE_CONNECTED) return true;  // the client came before the call
    if (!policy.retryAfter(++failures)) {
      std::printf("could not connect named pipe %d\n", int(error));
      std::fflush(stdout);
      return false;
    }
    ::Sleep(policy.sleepMs);
  }
}

bool isProcessAlive(DWORD processId) {
  win::UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  if (!process) return ::GetLastError() == ERROR_ACCESS_DENIED;  // exists, belongs to someone else
  DWORD exitCode = 0;
  return ::GetExitCodeProcess(process.get(), &exitCode) && exitCode == STILL_ACTIVE;
}

}  // namespace

}  // namespace shipkit::natives

using namespace shipkit::natives;

extern "C" JNIEXPORT jlong JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32CommunicationBackend_getInvalidHandle0(
    JNIEnv*, jclass) noexcept {
  return -1;  // INVALID_HANDLE_VALUE
}

extern "C" JNIEXPORT jlong JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32CommunicationBackend_createListener0(
    JNIEnv* env, jclass, jstring pipeName) noexcept {
  return guarded(kNoHandle, [&] {
    const WideString name = WideString::from(env, pipeName);
    if (name.isNull()) return kNoHandle;  // also a failed conversion
    HANDLE pipe =
        ::CreateNamedPipeW(name.get(), PIPE_ACCESS_DUPLEX,
                           PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
                           kPipeBufferSize, kPipeBufferSize, 0, nullptr);
    return pipe == INVALID_HANDLE_VALUE ? kNoHandle : valueOf(pipe);
  });
}

extern "C" JNIEXPORT jbyteArray JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32CommunicationBackend_readDataBlock0(
    JNIEnv* env, jclass, jlong handle) noexcept {
  if (handle == kNoHandle) return nullptr;
  return guarded(jbyteArray(nullptr), [&] { return readDataBlock(env, handleOf(handle)); });
}

extern "C" JNIEXPORT jboolean JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32CommunicationBackend_writeDataBlock0(
    JNIEnv* env, jclass, jlong handle, jbyteArray data) noexcept {
  if (handle == kNoHandle || !data) return JNI_FALSE;
  return guarded(jboolean(JNI_FALSE),
                 [&] { return writeDataBlock(env, handleOf(handle), data) ? JNI_TRUE : JNI_FALSE; });
}

// 0, not -1, is this method's "gave up".
extern "C" JNIEXPORT jlong JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32CommunicationBackend_connectClient0(
    JNIEnv* env, jclass, jstring pipeName) noexcept {
  return guarded(jlong(0), [&] {
    const WideString name = WideString::from(env, pipeName);
    // No name (or one that could not be read) names no pipe: minutes of retries would not
    // change that.
    if (name.isNull()) return jlong(0);
    return connectClient(name.get());
  });
}

extern "C" JNIEXPORT jboolean JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32CommunicationBackend_connectNamedPipe0(
    JNIEnv*, jclass, jlong handle) noexcept {
  if (handle == kNoHandle) return JNI_FALSE;
  return connectNamedPipe(handleOf(handle)) ? JNI_TRUE : JNI_FALSE;
}

extern "C" JNIEXPORT void JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32CommunicationBackend_disconnectNamedPipe0(
    JNIEnv*, jclass, jlong handle) noexcept {
  if (handle != kNoHandle) ::DisconnectNamedPipe(handleOf(handle));
}

extern "C" JNIEXPORT void JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32CommunicationBackend_closeHandle0(
    JNIEnv*, jclass, jlong handle) noexcept {
  if (handle != kNoHandle) ::CloseHandle(handleOf(handle));
}

extern "C" JNIEXPORT jboolean JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32CommunicationBackend_isProcessAlive0(
    JNIEnv*, jclass, jint processId) noexcept {
  return isProcessAlive(DWORD(processId)) ? JNI_TRUE : JNI_FALSE;
}

extern "C" JNIEXPORT jint JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32CommunicationBackend_getCurrentProcessId0(
    JNIEnv*, jclass) noexcept {
  return jint(::GetCurrentProcessId());
}
