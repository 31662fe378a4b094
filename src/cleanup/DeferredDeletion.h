#pragma once
#include <string>

namespace shipkit::cleanup {

// Removes the extraction tree and files still in use named by the list file; returns the
// exit code.
int deferredDeletion(const std::wstring& listFile);

}  // namespace shipkit::cleanup
