// Prints the RT_RCDATA resources of an executable as Windows finds them, for the
// end-to-end tests of the packer's splash images:
//   resourceprobe.exe FILE ID...
// prints one line per id: "ID HEX" with the resource's bytes in lower-case hex, or
// "ID absent". The file is loaded as an image resource, as the launcher finds its own.
// Exit code 1 when the file cannot be loaded.
//   resourceprobe.exe --version FILE NAME...
// prints the version information as GetFileVersionInfoW and VerQueryValueW read it:
// "file A.B.C.D", "product A.B.C.D", "translation LLLLCCCC", then "NAME HEX" per string with
// its UTF-8 bytes in lower-case hex, or "NAME absent". Exit code 1 without version information.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

int version(const wchar_t* file, int count, wchar_t** names) {
  DWORD ignored = 0, size = GetFileVersionInfoSizeW(file, &ignored);
  std::vector<unsigned char> block(size ? size : 1);
  if (!size || !GetFileVersionInfoW(file, 0, size, block.data())) {
    std::printf("no version information: error %lu\n", GetLastError());
    return 1;
  }
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || !fixed) return 1;
  std::printf("signature %08lx\n", fixed->dwSignature);
  std::printf("file %lu.%lu.%lu.%lu\n", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
              HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
  std::printf("product %lu.%lu.%lu.%lu\n", HIWORD(fixed->dwProductVersionMS), LOWORD(fixed->dwProductVersionMS),
              HIWORD(fixed->dwProductVersionLS), LOWORD(fixed->dwProductVersionLS));
  std::printf("type %lu os %08lx\n", fixed->dwFileType, fixed->dwFileOS);
  WORD* translation = nullptr;
  if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                      &length) ||
      length < 4)
    return 1;
  std::printf("translation %04x%04x\n", translation[0], translation[1]);
  for (int i = 0; i < count; ++i) {
    wchar_t path[256];
    std::swprintf(path, 256, L"\\StringFileInfo\\%04x%04x\\%ls", translation[0], translation[1], names[i]);
    wchar_t* text = nullptr;
    char name[128] = {};
    WideCharToMultiByte(CP_UTF8, 0, names[i], -1, name, sizeof name, nullptr, nullptr);
    if (!VerQueryValueW(block.data(), path, reinterpret_cast<void**>(&text), &length) || !text) {
      std::printf("%s absent\n", name);
      continue;
    }
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(bytes > 0 ? bytes : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), bytes, nullptr, nullptr);
    std::printf("%s ", name);
    for (std::size_t k = 0; k + 1 < utf8.size(); ++k) std::printf("%02x", static_cast<unsigned char>(utf8[k]));
    std::printf("\n");
  }
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc >= 3 && std::wcscmp(argv[1], L"--version") == 0) return version(argv[2], argc - 3, argv + 3);
  if (argc < 2) return 2;
  HMODULE module =
      LoadLibraryExW(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (!module) {
    std::printf("cannot load: error %lu\n", GetLastError());
    return 1;
  }
  for (int i = 2; i < argc; ++i) {
    unsigned id = static_cast<unsigned>(std::wcstoul(argv[i], nullptr, 10));
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10));
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const unsigned char* bytes = loaded ? static_cast<const unsigned char*>(LockResource(loaded)) : nullptr;
    if (!bytes) {
      std::printf("%u absent\n", id);
      continue;
    }
    std::printf("%u ", id);
    for (DWORD k = 0, n = SizeofResource(module, found); k < n; ++k) std::printf("%02x", bytes[k]);
    std::printf("\n");
  }
  FreeLibrary(module);
  return 0;
}
