#pragma once
// Diagnostic lines that the process and handle natives print on standard output, formatted
// as the Microsoft C runtime does: "%p" as 16 upper-case hex digits, "%S" a wide text shown
// in the ANSI code page (passed here already converted).

#include <cstdint>
#include <string>
#include <string_view>

namespace shipkit::natives {

// "%p" of a pointer-sized value.
std::string pointerText(std::uint64_t value);

// getPhysicalMemory0 when GlobalMemoryStatusEx fails.
std::string memoryErrorText(std::uint32_t lastError);

// getRunningModules0 when a Toolhelp function is missing: four function addresses, the
// library handle and the last error.
std::string couldNotLoadFunctionsText(const std::uint64_t (&addresses)[5], std::uint32_t lastError);

// getDeviceName0's failures; the status is the 32-bit NTSTATUS.
std::string couldNotOpenLinkText(std::string_view linkName, std::uint32_t status);
std::string couldNotQueryLinkLengthText(std::string_view linkName);
std::string couldNotQueryLinkText(std::string_view linkName);

}  // namespace shipkit::natives
