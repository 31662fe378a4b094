#pragma once
// Builds an installer: the launcher stub, cut where its container must start, followed by
// the container. The output appears only when complete; a failed build leaves nothing at
// the output path.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pack/ContainerWriter.h"

namespace shipkit::pack {

struct BuildOptions {
  std::filesystem::path manifest;
  std::optional<std::filesystem::path> stub;  // wins over the manifest's "stub"
  std::filesystem::path out;
  bool allowSectionCut = false;  // see analyzeStub
};

struct BuildSummary {
  uint64_t containerStart = 0;
  uint64_t size = 0;  // of the whole installer
  // The manifest's warnings.
  std::vector<std::string> warnings;
  bool defaultMessages = false;  // whether defaults were filled in (the counts below)
  int filledMessages = 0;        // English defaults added to the message table
  int filledGerman = 0;          // texts of the German set added for "de"
};

bool buildInstaller(const BuildOptions& options, BuildSummary& summary, std::string& error);

// The same from a stub already in memory and a parsed content.
bool writeInstaller(std::string_view stub, const ContainerContent& content, const std::filesystem::path& out,
                    BuildSummary& summary, std::string& error, bool allowSectionCut = false);

}  // namespace shipkit::pack
