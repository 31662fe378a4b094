#include "natives/processes/PrintedTexts.h"

#include <cstdio>

namespace shipkit::natives {

std::string pointerText(std::uint64_t value) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llX", static_cast<unsigned long long>(value));
  return text;
}

std::string memoryErrorText(std::uint32_t lastError) {
  return "error " + std::to_string(std::int32_t(lastError)) + "\n";
}

std::string couldNotLoadFunctionsText(const std::uint64_t (&addresses)[5], std::uint32_t lastError) {
  std::string text = "could not load functions";
  for (std::uint64_t a : addresses) text += " " + pointerText(a);
  return text + " " + std::to_string(std::int32_t(lastError)) + "\n";
}

std::string couldNotOpenLinkText(std::string_view linkName, std::uint32_t status) {
  return "could not open link " + std::string(linkName) + " " + pointerText(status) + "\n";
}

std::string couldNotQueryLinkLengthText(std::string_view linkName) {
  return "could not query link length " + std::string(linkName) + "\n";
}

std::string couldNotQueryLinkText(std::string_view linkName) {
  return "could not query link " + std::string(linkName) + "\n";
}

}  // namespace shipkit::natives
