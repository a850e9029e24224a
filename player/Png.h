// The player's frames as PNG pictures: 8-bit RGB, written with the zlib the project links, so
// every system that plays a movie can save its frames.
#pragma once

#include <cstdint>
#include <string>

#include "swftools/Stream.h"

namespace kestrova {

// Writes width x height opaque RGBA pixels (rows top first, 4 bytes a pixel; alpha is not kept)
// to out as one PNG file. Memory stays at a few rows whatever the picture's size. Throws
// std::invalid_argument for a size PNG cannot hold (not 1 to 2^31 - 1 each way) and EStreamError
// when out fails.
void WritePng(TStream& out, const std::uint8_t* rgba, int width, int height);

// Saves the picture as fileName safely (swftools/SafeFile.h): a failed save leaves no partial
// file. Throws as WritePng does; EStreamError messages name the file.
void SavePng(const std::string& fileName, const std::uint8_t* rgba, int width, int height);

}  // namespace kestrova
