// Decodes the pictures of DefineBits (with the movie's JPEGTables), DefineBitsJPEG2 and
// DefineBitsJPEG3 (with its alpha plane) into texels the renderer samples.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "player/LosslessBitmap.h"

namespace kestrova {

// Whether this build decodes JPEG pictures (it does where libjpeg was found).
bool JpegDecodingAvailable();

// One JPEG stream from what a tag holds: the tables of JPEGTables (may be empty) and the tag's
// data, each with the markers the tag had. The end-and-start marker pairs movies put between
// tables and image, and the erroneous header older tools wrote, are taken out so that a standard
// decoder reads one stream.
std::vector<std::uint8_t> JoinJpegStream(const std::vector<std::uint8_t>& tables,
                                         const std::vector<std::uint8_t>& image);

// Decodes a JPEG stream and, when alpha is given (DefineBitsJPEG3), its zlib-compressed plane of
// one alpha byte per pixel; an empty alpha leaves the picture opaque. The decoded pixels are
// counted against the media budget while they are unpacked. Throws EPlayerError saying what is
// wrong for data that is not a JPEG picture (PNG and GIF data included), a damaged stream, a
// picture above kMaxTexels or one that does not fit the budget, and alpha data that is damaged
// or shorter than the picture.
TTexture DecodeJpeg(const std::vector<std::uint8_t>& jpeg, const std::uint8_t* alpha,
                    std::size_t alphaSize);

}  // namespace kestrova
