// Feeds arbitrary bytes to the parsers of command lines and option texts: the command-line
// splitter, the .vmoptions line syntax, word lists, class-path entries, version conditions
// and patterns. None may crash, hang or read past its input.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/CommandLine.h"
#include "core/ConfigValue.h"
#include "jvm/launch/OptionSources.h"
#include "jvm/launch/VersionLines.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::wstring wide(bytes.begin(), bytes.end());

  std::vector<std::wstring> words;
  shipkit::core::splitCommandLine(wide, words);
  std::size_t total = 0;
  for (const auto& w : words) total += w.size();
  if (total > wide.size()) __builtin_trap();  // splitting never invents text
  shipkit::core::takeLogSwitch(words);
  shipkit::core::takeTempSwitch(words, [](const std::wstring& d) { return d.size() % 2 == 0; });
  shipkit::core::parseRunSwitches(words);

  for (const auto& line : shipkit::jvm::splitOptionLines(bytes)) (void)line;
  shipkit::jvm::optionLineContent(bytes);
  shipkit::jvm::optionWords(wide);
  shipkit::jvm::parsePathEntries(bytes);
  shipkit::jvm::splitPathList(bytes);
  std::vector<std::string> options;
  for (std::string_view part : shipkit::jvm::splitPathList(bytes)) options.emplace_back(part);
  shipkit::jvm::joinSplitModuleOptions(options);

  std::size_t half = size / 2;
  std::string_view condition = bytes.substr(0, half), version = bytes.substr(half);
  int feature = shipkit::jvm::featureNumber(version);
  shipkit::jvm::checkVersionCondition(condition, version, feature);
  shipkit::jvm::matchesVersionPattern(condition, version);
  shipkit::core::parseConfigInt(bytes);
  return 0;
}
