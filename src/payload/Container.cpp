#include "payload/Container.h"

#include "core/Config.h"
#include "core/ErrorDisplay.h"
#include "core/Log.h"
#include "core/Paths.h"
#include "core/RunState.h"
#include "payload/LanguageKey.h"
#include "win/LateBound.h"
#include "win/Text.h"

namespace shipkit::payload {

// The shared services (log, configuration, paths, run state, error display).
using namespace core;

using core::logError;
using core::logLine;

FileSource::FileSource(HANDLE file) : file_(file) {
  LARGE_INTEGER size{};
  if (::GetFileSizeEx(file, &size)) size_ = uint64_t(size.QuadPart);
  LARGE_INTEGER zero{}, now{};
  if (::SetFilePointerEx(file, zero, &now, FILE_CURRENT)) pos_ = uint64_t(now.QuadPart);
}

std::size_t FileSource::read(void* dst, std::size_t n) {
  DWORD got = 0;
  DWORD want = n > 0x40000000 ? 0x40000000 : DWORD(n);
  if (!::ReadFile(file_, dst, want, &got, nullptr)) {
    lastError_ = ::GetLastError();
    return 0;
  }
  lastError_ = ::GetLastError();
  pos_ += got;
  return got;
}

bool FileSource::seek(uint64_t position) {
  LARGE_INTEGER to;
  to.QuadPart = LONGLONG(position);
  if (!::SetFilePointerEx(file_, to, nullptr, FILE_BEGIN)) {
    lastError_ = ::GetLastError();
    return false;
  }
  pos_ = position;
  return true;
}

win::UniqueFile openOwnExecutable() {
  const std::wstring& path = core::launcherLongPath();
  win::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    DWORD error = ::GetLastError();
    logError(L"Could not open %p %d %s", file.get(), int(error), path.c_str());
    core::fatalText(L"Error opening media file.");
  }
  return file;
}

void failRead(const ContainerReader& reader) {
  const ReadError& e = reader.error();
  switch (e.what) {
    case ReadFailure::ReadLong:
    case ReadFailure::ReadShort:
      logLine(L"error %d\n", int(e.lastError));
      break;
    case ReadFailure::ReadInt:
      logLine(L"error %d %d\n", int(e.lastError), int(e.bytesRead));
      break;
    default:
      break;
  }
  core::fatalText(win::widenBytes(fatalTextFor(e.what)));
}

uint64_t seekToContainer(ContainerReader& reader) {
  PeLayout pe;
  if (!payload::seekToContainer(reader, pe)) failRead(reader);
  logLine(L"number of sections: %d", int(pe.sectionCount));
  logLine(L"size of optional headers: %d", int(pe.optionalHeaderSize));
  logLine(L"resSectionTableStart: %d", int(pe.lastSectionHeader));
  logLine(L"rawDataSize: %d, rawDataOffset: %d", int(pe.rawDataSize), int(pe.rawDataOffset));
  return pe.containerStart();
}

namespace {

std::string deriveLanguageKey(const std::vector<std::wstring>& arguments) {
  std::string key = "en";
  uint16_t languageId = uint16_t(::GetUserDefaultLCID() & 0xFFFF);
  bool formatLocale = formatLocaleRequested(arguments);
  logLine(L"sun.locale.formatasdefault is %S", formatLocale ? "true" : "false");
  if (!formatLocale) {
    using Fn = LANGID(WINAPI*)();
    static win::LateBound<Fn> uiLanguage(L"Kernel32.DLL", "GetUserDefaultUILanguage");
    if (uiLanguage.get()) languageId = uiLanguage.get()();
  }
  std::string_view found = languageKeyFor(languageId);
  if (!found.empty()) key = std::string(found);
  logLine(L"language/country is %S", key.c_str());
  return key;
}

}  // namespace

void readContainer(const std::vector<std::wstring>& arguments) {
  win::UniqueFile file = openOwnExecutable();
  FileSource source(file.get());
  ContainerReader reader(source);
  seekToContainer(reader);
  ContainerHeader header;
  if (!readHeader(reader, header)) failRead(reader);
  Tables& t = tables();
  if (!readConfigTable(reader, t.config) || !readMessageTable(reader, t.messages)) failRead(reader);
  t.languageKey = deriveLanguageKey(arguments);
  LanguageCodes codes = splitLanguageKey(t.languageKey);
  t.languageCode = codes.language;
  t.countryCode = codes.country;
  if (!readLocalizedSets(reader, t.languageKey, t.messages)) failRead(reader);
  t.fileDataPosition = source.position();
  file.reset();
  int32_t mode = configInt(107);
  if (mode != 1 && mode != 5) core::runState().messageBoxMode = false;
}

}  // namespace shipkit::payload
