// The ID3v2 tag at the start of an MP3 file.
#pragma once

#include <cstdint>
#include <string>

#include "swftools/Stream.h"

namespace kestrova {

class TID3v2 {
 public:
  // Bytes of a frame's content that are taken as its text.
  static constexpr std::size_t kMaxFrameText = 250;

  bool Exists = false;
  std::uint8_t VersionID = 0;  // 3 for ID3v2.3
  // The whole tag including its 10-byte header: where the audio starts. 0 without a tag or when
  // the tag claims more bytes than the file has.
  std::int32_t Size = 0;
  std::string Title, Artist, Album;  // UTF-8
  std::int32_t Track = 0;
  std::string Year, Genre, Comment;

  void ResetData() { *this = TID3v2{}; }
  // Reads the tag at the start of the file: the frames TIT2, TPE1, TALB, TRCK, TYER, TCON and
  // COMM of an ID3v2.3 (or 2.4) tag; a later frame with the same name wins. True when the file
  // could be read, whether or not it has a tag; false (and the reset state) when it could not or
  // has fewer than 10 bytes. Frames are read only within the tag and the file. Never throws.
  bool ReadFromFile(const std::string& fileName);
  // The same over the whole of a stream.
  bool ReadFromStream(TStream& stream);

 private:
  void ReadFrames(TStream& stream, std::uint64_t fileSize, std::uint64_t start);
  void TakeFrame(const char* id, const std::string& text);
};

}  // namespace kestrova
