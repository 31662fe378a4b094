// Prints the RT_RCDATA resources of an executable as Windows finds them, for the
// end-to-end tests of the packer's splash images:
//   resourceprobe.exe FILE ID...
// prints one line per id: "ID HEX" with the resource's bytes in lower-case hex, or
// "ID absent". The file is loaded as an image resource, as the launcher finds its own.
// Exit code 1 when the file cannot be loaded.
#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
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
