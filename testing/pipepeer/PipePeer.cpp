// The other process of the named-pipe tests. It opens the client or the server end of a
// pipe and runs the steps given on its command line, each a word:
//
//   pipepeer client <pipe> <step>...   opens the client end (waiting for a server)
//   pipepeer server <pipe> <step>...   creates the server end and waits for one client
//   pipepeer touch <file>              creates the file with the text "ran" (for process launch)
//
//   signal:<event>           sets the named event (e.g. "connected" for the test to go on)
//   send:<size>:<piece>      writes a block of the test pattern, header included, as a
//                            stream of writes of at most <piece> bytes
//   expect:<size>            reads one block and checks its length and pattern
//   header:<value>[:<bytes>] writes only a length header (decimal), or its first <bytes> bytes
//   partial:<size>:<count>   writes a header announcing <size> bytes and only <count> of them
//   drain                    reads until the other end closes
//   touch:<file>             creates the file with the text "ran" (all steps before passed)
//
// Exit codes: 0 all steps done, 2 bad arguments, 3 the pipe could not be opened, 4 a read
// or write failed, 5 a block differed from the pattern. The pipe closes when the process ends.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "BlockPattern.h"

namespace {

bool writeInPieces(HANDLE pipe, const std::vector<std::uint8_t>& bytes, std::size_t piece) {
  for (std::size_t done = 0; done < bytes.size();) {
    DWORD put = 0;
    DWORD ask = DWORD(std::min(piece, bytes.size() - done));
    if (!WriteFile(pipe, bytes.data() + done, ask, &put, nullptr) || put == 0) return false;
    done += put;
  }
  return true;
}

bool readExactly(HANDLE pipe, std::uint8_t* out, std::size_t size) {
  for (std::size_t done = 0; done < size;) {
    DWORD got = 0;
    if (!ReadFile(pipe, out + done, DWORD(size - done), &got, nullptr) || got == 0) return false;
    done += got;
  }
  return true;
}

std::vector<std::uint8_t> header(std::uint32_t length) {
  return {std::uint8_t(length), std::uint8_t(length >> 8), std::uint8_t(length >> 16),
          std::uint8_t(length >> 24)};
}

std::vector<std::uint8_t> framed(std::size_t length, std::size_t payloadBytes) {
  std::vector<std::uint8_t> bytes = header(std::uint32_t(length));
  std::vector<std::uint8_t> payload = pipepeer::patternBlock(length);
  bytes.insert(bytes.end(), payload.begin(), payload.begin() + std::ptrdiff_t(payloadBytes));
  return bytes;
}

// The numbers after the step name, separated by ':'.
std::vector<unsigned long long> numbers(const std::wstring& step) {
  std::vector<unsigned long long> out;
  for (std::size_t colon = step.find(L':'); colon != std::wstring::npos; colon = step.find(L':', colon + 1)) {
    out.push_back(std::wcstoull(step.c_str() + colon + 1, nullptr, 10));
  }
  return out;
}

int touch(const wchar_t* path) {
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 3;
  DWORD put = 0;
  WriteFile(file, "ran", 3, &put, nullptr);
  CloseHandle(file);
  return 0;
}

int runStep(HANDLE pipe, const std::wstring& step) {
  const std::wstring name = step.substr(0, step.find(L':'));
  const auto n = numbers(step);
  if (name == L"signal") {
    HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, step.substr(step.find(L':') + 1).c_str());
    if (!event || !SetEvent(event)) return 2;
    CloseHandle(event);
    return 0;
  }
  if (name == L"send" && n.size() == 2) return writeInPieces(pipe, framed(n[0], n[0]), n[1]) ? 0 : 4;
  if (name == L"partial" && n.size() == 2) return writeInPieces(pipe, framed(n[0], n[1]), 4096) ? 0 : 4;
  if (name == L"header" && (n.size() == 1 || n.size() == 2)) {
    std::vector<std::uint8_t> bytes = header(std::uint32_t(n[0]));
    bytes.resize(n.size() == 2 ? std::min<std::size_t>(n[1], 4) : 4);
    return writeInPieces(pipe, bytes, 4) ? 0 : 4;
  }
  if (name == L"expect" && n.size() == 1) {
    std::uint8_t length[4];
    if (!readExactly(pipe, length, 4)) return 4;
    if (std::vector<std::uint8_t>(length, length + 4) != header(std::uint32_t(n[0]))) return 5;
    std::vector<std::uint8_t> payload(n[0]);
    if (!readExactly(pipe, payload.data(), payload.size())) return 4;
    return payload == pipepeer::patternBlock(n[0]) ? 0 : 5;
  }
  if (name == L"touch") return touch(step.substr(step.find(L':') + 1).c_str());
  if (name == L"drain") {
    std::uint8_t sink[4096];
    DWORD got = 0;
    while (ReadFile(pipe, sink, sizeof sink, &got, nullptr)) {
    }
    return 0;
  }
  return 2;
}

HANDLE openClient(const wchar_t* name) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    HANDLE pipe = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (pipe != INVALID_HANDLE_VALUE) return pipe;
    WaitNamedPipeW(name, 100);
    Sleep(20);
  }
  return INVALID_HANDLE_VALUE;
}

HANDLE openServer(const wchar_t* name) {
  HANDLE pipe = CreateNamedPipeW(name, PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1,
                                 65536, 65536, 0, nullptr);
  if (pipe == INVALID_HANDLE_VALUE) return pipe;
  if (!ConnectNamedPipe(pipe, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) {
    CloseHandle(pipe);
    return INVALID_HANDLE_VALUE;
  }
  return pipe;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  const std::wstring mode = argv[1];
  if (mode == L"touch") return touch(argv[2]);
  if (mode != L"client" && mode != L"server") return 2;
  HANDLE pipe = mode == L"client" ? openClient(argv[2]) : openServer(argv[2]);
  if (pipe == INVALID_HANDLE_VALUE) return 3;
  for (int i = 3; i < argc; ++i) {
    if (int code = runStep(pipe, argv[i])) {
      std::fprintf(stderr, "pipepeer: step %ls failed with %d\n", argv[i], code);
      return code;
    }
  }
  FlushFileBuffers(pipe);
  CloseHandle(pipe);
  return 0;
}
