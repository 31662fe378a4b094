#pragma once
// Rescaling a splash image with the Windows Imaging Component into a PNG image.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace shipkit::jvm {

// Decodes the image (its first frame), scales it by `factor` (width and height truncated)
// and encodes the result as PNG in the source's pixel format. None when any step fails.
// Runs inside its own COM initialisation (multithreaded), undone before it returns.
std::optional<std::vector<std::uint8_t>> rescaleImage(std::span<const std::uint8_t> image, float factor);

}  // namespace shipkit::jvm
