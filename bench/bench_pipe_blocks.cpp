// Data blocks through a named pipe: readDataBlock0 (through the fake JNI environment)
// against a plain ReadFile loop over the same stream, both fed by pipepeer in another
// process. Prints MiB/s for 1 MiB blocks and blocks/s for 16-byte blocks.
#include <jni.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "Vm.h"

extern "C" jbyteArray JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Win32CommunicationBackend_readDataBlock0(JNIEnv*, jclass,
                                                                                           jlong) noexcept;

namespace {

std::wstring peerPath() {
  std::string unixPath = PIPEPEER_EXE;
  for (char& c : unixPath)
    if (c == '/') c = '\\';
  return L"Z:" + std::wstring(unixPath.begin(), unixPath.end());
}

// Starts pipepeer as the client of a fresh pipe, sending `count` blocks of `size` bytes, and
// returns the connected server end.
HANDLE startFeed(int run, std::size_t size, int count, HANDLE* process) {
  const std::wstring name =
      L"\\\\.\\pipe\\shipkit-bench-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(run);
  HANDLE pipe =
      CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1,
                       65536, 65536, 0, nullptr);
  std::wstring line = L"\"" + peerPath() + L"\" client " + name;
  for (int i = 0; i < count; ++i) line += L" send:" + std::to_wstring(size) + L":65536";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started);
  CloseHandle(started.hThread);
  *process = started.hProcess;
  if (!ConnectNamedPipe(pipe, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) return INVALID_HANDLE_VALUE;
  return pipe;
}

bool readExactly(HANDLE pipe, void* out, std::size_t size) {
  for (std::size_t done = 0; done < size;) {
    DWORD got = 0;
    if (!ReadFile(pipe, static_cast<char*>(out) + done, DWORD(size - done), &got, nullptr) || got == 0)
      return false;
    done += got;
  }
  return true;
}

// Seconds to receive all blocks; negative on a failure.
double receive(bool throughNative, int run, std::size_t size, int count, fakejvm::Vm& vm) {
  HANDLE process = nullptr;
  HANDLE pipe = startFeed(run, size, count, &process);
  if (pipe == INVALID_HANDLE_VALUE) return -1;
  std::vector<char> buffer(size);
  const auto start = std::chrono::steady_clock::now();
  bool ok = true;
  for (int i = 0; i < count && ok; ++i) {
    if (throughNative) {
      jbyteArray block =
          Java_com_shipkit_runtime_installer_platform_win32_Win32CommunicationBackend_readDataBlock0(
              vm.env(), nullptr, jlong(reinterpret_cast<intptr_t>(pipe)));
      ok = block != nullptr;
      if (block) vm.env()->DeleteLocalRef(block);
    } else {
      unsigned char header[4];
      ok = readExactly(pipe, header, 4) && readExactly(pipe, buffer.data(), size);
    }
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  WaitForSingleObject(process, 10000);
  CloseHandle(process);
  CloseHandle(pipe);
  return ok ? seconds : -1;
}

}  // namespace

int main() {
  fakejvm::Vm vm;
  struct Case {
    const char* name;
    std::size_t size;
    int count;
  } cases[] = {{"1 MiB blocks", std::size_t(1) << 20, 64}, {"16-byte blocks", 16, 1500}};
  int run = 0;
  for (const Case& c : cases) {
    double best[2] = {1e9, 1e9};
    for (int repeat = 0; repeat < 3; ++repeat) {
      for (int native = 0; native < 2; ++native) {
        double s = receive(native == 1, ++run, c.size, c.count, vm);
        if (s < 0) {
          std::printf("%s: the transfer failed\n", c.name);
          return 1;
        }
        if (s < best[native]) best[native] = s;
      }
    }
    const double mib = double(c.size) * c.count / (1 << 20);
    std::printf(
        "%s: readDataBlock0 %.1f MiB/s %.0f blocks/s; ReadFile reference %.1f MiB/s %.0f blocks/s; "
        "ratio %.2f\n",
        c.name, mib / best[1], c.count / best[1], mib / best[0], c.count / best[0], best[1] / best[0]);
  }
  return 0;
}
