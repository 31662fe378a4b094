#include "natives/processes/ProcessList.h"

// clang-format off
#include <windows.h>
#include <tlhelp32.h>  // needs windows.h first
// clang-format on

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "natives/processes/PrintedTexts.h"
#include "natives/processes/ProcessEntries.h"
#include "win/LateBound.h"
#include "win/Unique.h"

namespace shipkit::natives {

namespace {

using EnumProcessesFn = BOOL(WINAPI*)(DWORD*, DWORD, DWORD*);
using QueryFullProcessImageNameWFn = BOOL(WINAPI*)(HANDLE, DWORD, LPWSTR, PDWORD);
using GetModuleFileNameExWFn = DWORD(WINAPI*)(HANDLE, HMODULE, LPWSTR, DWORD);
using CreateToolhelp32SnapshotFn = HANDLE(WINAPI*)(DWORD, DWORD);
using Process32FirstFn = BOOL(WINAPI*)(HANDLE, tagPROCESSENTRY32*);
using Module32FirstWFn = BOOL(WINAPI*)(HANDLE, tagMODULEENTRY32W*);

// 32784 bytes of process ids.
constexpr DWORD kMaxProcessIds = 8196;

struct PrimaryFunctions {
  EnumProcessesFn enumProcesses;
  QueryFullProcessImageNameWFn queryFullImageName;  // preferred
  GetModuleFileNameExWFn moduleFileName;
};

PrimaryFunctions primaryFunctions() {
  static win::LateBound<EnumProcessesFn> enumProcesses{L"Psapi.DLL", "EnumProcesses"};
  static win::LateBound<GetModuleFileNameExWFn> moduleFileName{L"Psapi.DLL", "GetModuleFileNameExW"};
  static win::LateBound<QueryFullProcessImageNameWFn> queryFull{L"Kernel32.DLL",
                                                                "QueryFullProcessImageNameW"};
  return {enumProcesses.get(), queryFull.get(), moduleFileName.get()};
}

// The entry of one process, or none when it cannot be opened or queried.
bool processEntry(const PrimaryFunctions& f, DWORD processId, std::wstring& entry) {
  const bool fullImageName = f.queryFullImageName != nullptr;
  const DWORD access = PROCESS_QUERY_INFORMATION | (fullImageName ? 0 : PROCESS_VM_READ);
  win::UniqueHandle process(::OpenProcess(access, FALSE, processId));
  if (!process) return false;
  const std::wstring prefix = processEntryPrefix(processId);
  const DWORD room = DWORD(pathRoom(prefix.size()));
  std::wstring buffer(kEntryBufferUnits, L'\0');
  buffer.replace(0, prefix.size(), prefix);
  wchar_t* path = buffer.data() + prefix.size();
  DWORD length = 0;
  if (fullImageName) {
    length = room;
    if (!f.queryFullImageName(process.get(), 0, path, &length)) return false;
  } else {
    length = f.moduleFileName(process.get(), nullptr, path, room);
    if (length == 0) return false;
  }
  entry.assign(buffer.data(), prefix.size() + length);
  if (needsModuleRequery(entry, fullImageName) && f.moduleFileName) {
    win::UniqueHandle again(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
    const DWORD n = again ? f.moduleFileName(again.get(), nullptr, path, room) : 0;
    // A failed second query keeps the first answer rather than an empty path.
    if (n != 0) entry.assign(buffer.data(), prefix.size() + n);
  }
  return true;
}

}  // namespace

std::vector<std::wstring> runningModulesByIds() {
  std::vector<std::wstring> entries;
  const PrimaryFunctions f = primaryFunctions();
  if (!f.enumProcesses || (!f.queryFullImageName && !f.moduleFileName)) return entries;
  std::vector<DWORD> ids(kMaxProcessIds);
  DWORD needed = 0;
  if (!f.enumProcesses(ids.data(), DWORD(ids.size() * sizeof(DWORD)), &needed)) return entries;
  const std::size_t count = std::min<std::size_t>(needed / sizeof(DWORD), ids.size());
  std::wstring entry;
  for (std::size_t i = 0; i < count; ++i) {
    if (ids[i] != 0 && processEntry(f, ids[i], entry)) entries.push_back(entry);
  }
  return entries;
}

namespace {

template <typename Fn>
Fn kernelFunction(HMODULE kernel, const char* name) {
  return shipkit::win::procAddress<Fn>(kernel, name);
}

}  // namespace

std::vector<std::wstring> runningModulesBySnapshot() {
  std::vector<std::wstring> entries;
  HMODULE kernel = win::systemLibrary(L"Kernel32.DLL");
  auto snapshot = kernelFunction<CreateToolhelp32SnapshotFn>(kernel, "CreateToolhelp32Snapshot");
  auto first = kernelFunction<Process32FirstFn>(kernel, "Process32First");
  auto next = kernelFunction<Process32FirstFn>(kernel, "Process32Next");
  auto firstModule = kernelFunction<Module32FirstWFn>(kernel, "Module32FirstW");
  if (!snapshot || !first || !next) {
    const DWORD error = ::GetLastError();
    const std::uint64_t addresses[5] = {
        std::uint64_t(reinterpret_cast<std::uintptr_t>(reinterpret_cast<void*>(snapshot))),
        std::uint64_t(reinterpret_cast<std::uintptr_t>(reinterpret_cast<void*>(first))),
        std::uint64_t(reinterpret_cast<std::uintptr_t>(reinterpret_cast<void*>(next))),
        std::uint64_t(reinterpret_cast<std::uintptr_t>(reinterpret_cast<void*>(firstModule))),
        std::uint64_t(reinterpret_cast<std::uintptr_t>(kernel))};
    std::fputs(couldNotLoadFunctionsText(addresses, error).c_str(), stdout);
    std::fflush(stdout);
    return entries;
  }
  win::UniqueFile processes(snapshot(TH32CS_SNAPPROCESS, 0));
  if (!processes) return entries;
  tagPROCESSENTRY32 process{};
  process.dwSize = sizeof process;
  for (BOOL more = first(processes.get(), &process); more; more = next(processes.get(), &process)) {
    if (process.th32ProcessID == 0 || !firstModule) continue;
    win::UniqueFile modules(snapshot(TH32CS_SNAPMODULE, process.th32ProcessID));
    if (!modules) continue;
    tagMODULEENTRY32W module{};
    module.dwSize = sizeof module;
    if (firstModule(modules.get(), &module)) {
      module.szExePath[MAX_PATH - 1] = L'\0';
      entries.push_back(processEntryPrefix(process.th32ProcessID) + module.szExePath);
    }
  }
  return entries;
}

std::vector<std::wstring> runningModules() {
  std::vector<std::wstring> entries = runningModulesByIds();
  return entries.empty() ? runningModulesBySnapshot() : entries;
}

}  // namespace shipkit::natives
