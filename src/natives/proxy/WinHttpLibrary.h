#pragma once
// Where the proxy natives load WinHTTP from: a system library, once per process, on first
// use. A test that needs WinHTTP missing names another library before that first use.

namespace shipkit::natives {

const wchar_t*& winHttpLibraryName();

}  // namespace shipkit::natives
