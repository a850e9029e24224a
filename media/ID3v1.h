// The ID3v1 tag at the end of an MP3 file, and the names of its genre numbers.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "swftools/Stream.h"

namespace kestrova {

// The genre names of the ID3v1 numbering, indexed by genre number.
extern const std::array<const char*, 148> kID3Genres;
// The genre's name, or an empty string for a number outside the table (255: none).
std::string GenreName(std::uint8_t genreID);

class TID3v1 {
 public:
  bool Exists = false;
  std::uint8_t VersionID = 1;                       // 1: ID3v1.0; 2: ID3v1.1 (with a track number)
  std::string Title, Artist, Album, Year, Comment;  // UTF-8, from the tag's ISO-8859-1
  std::uint8_t Track = 0;
  std::uint8_t GenreID = 255;

  void ResetData() { *this = TID3v1{}; }
  // Reads the tag from the last 128 bytes of the file. True when the file could be read,
  // whether or not it has a tag; false (and the reset state) when it could not, which includes a
  // file shorter than 128 bytes. Never throws.
  bool ReadFromFile(const std::string& fileName);
  // The same over the whole of a stream.
  bool ReadFromStream(TStream& stream);
};

}  // namespace kestrova
