// A real Windows service for the service control tests: it runs under the service control
// manager, writes the arguments it was started with to a file, and stops on request in one
// of three ways chosen by its command line:
//   testservice.exe <record file> stop     stops at once
//   testservice.exe <record file> slow     stops in steps, advancing its check point
//   testservice.exe <record file> ignore   reports "stop pending" and never stops
// Started as a plain program with "mark" it only writes its further arguments to the file:
//   testservice.exe <record file> mark [arguments...]
#include <windows.h>

#include <string>

namespace {

std::wstring recordPath;
std::wstring mode = L"stop";
SERVICE_STATUS_HANDLE statusHandle = nullptr;
HANDLE stopRequested = nullptr;

// The slow stop: this many steps of this length, each advancing the check point; together
// they last longer than the wait hint, so only the progress keeps a waiting caller waiting.
constexpr DWORD kSlowSteps = 8;
constexpr DWORD kSlowStepMillis = 200;
constexpr DWORD kSlowWaitHint = 300;
constexpr DWORD kIgnoreWaitHint = 100;

void report(DWORD state, DWORD checkPoint = 0, DWORD waitHint = 0) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
  status.dwCheckPoint = checkPoint;
  status.dwWaitHint = waitHint;
  SetServiceStatus(statusHandle, &status);
}

std::string utf8(const wchar_t* text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? std::size_t(n - 1) : 0, '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
  return out;
}

// One line per start argument (the service's name, argv[0], left out), written to a
// temporary file and renamed so that a reader never sees half of it.
void recordArguments(DWORD argc, LPWSTR* argv, const char* first = "started") {
  std::string text = std::string(first) + "\n";
  for (DWORD i = 1; i < argc; ++i) text += utf8(argv[i]) + "\n";
  const std::wstring temp = recordPath + L".tmp";
  HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, text.data(), DWORD(text.size()), &written, nullptr);
  CloseHandle(file);
  MoveFileExW(temp.c_str(), recordPath.c_str(), MOVEFILE_REPLACE_EXISTING);
}

DWORD WINAPI control(DWORD code, DWORD, void*, void*) {
  if (code == SERVICE_CONTROL_STOP) {
    if (mode == L"ignore") {
      report(SERVICE_STOP_PENDING, 1, kIgnoreWaitHint);
    } else {
      SetEvent(stopRequested);
    }
  }
  return NO_ERROR;
}

void WINAPI serviceMain(DWORD argc, LPWSTR* argv) {
  statusHandle = RegisterServiceCtrlHandlerExW(L"", control, nullptr);
  if (!statusHandle) return;
  stopRequested = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  report(SERVICE_RUNNING);
  recordArguments(argc, argv);
  WaitForSingleObject(stopRequested, INFINITE);
  if (mode == L"slow") {
    for (DWORD step = 1; step <= kSlowSteps; ++step) {
      report(SERVICE_STOP_PENDING, step, kSlowWaitHint);
      Sleep(kSlowStepMillis);
    }
  }
  report(SERVICE_STOPPED);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  recordPath = argv[1];
  if (argc > 2) mode = argv[2];
  if (mode == L"mark") {
    recordArguments(DWORD(argc - 2), argv + 2, "ran");
    return 0;
  }
  wchar_t name[] = L"";
  SERVICE_TABLE_ENTRYW table[] = {{name, serviceMain}, {nullptr, nullptr}};
  return StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
