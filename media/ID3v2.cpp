#include "media/ID3v2.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <span>
#include <vector>

#include "media/ID3Text.h"
#include "media/ReadFile.h"

namespace kestrova {

namespace {

std::uint32_t SyncSafe(const std::uint8_t* b) {
  return static_cast<std::uint32_t>((b[0] & 0x7F) << 21 | (b[1] & 0x7F) << 14 | (b[2] & 0x7F) << 7 |
                                    (b[3] & 0x7F));
}

std::uint32_t BigEndian32(const std::uint8_t* b) {
  return static_cast<std::uint32_t>(b[0]) << 24 | static_cast<std::uint32_t>(b[1]) << 16 |
         static_cast<std::uint32_t>(b[2]) << 8 | b[3];
}

// The text of a frame whose content starts with its encoding byte, up to its terminator.
std::string DecodeText(std::uint8_t encoding, std::span<const std::uint8_t> bytes) {
  if (encoding == 1 || encoding == 2) {
    // Without a byte order mark (encoding 2) UTF-16 is big-endian.
    return id3::UTF16ToUTF8(bytes);
  }
  const auto end = std::find(bytes.begin(), bytes.end(), 0);
  const std::span<const std::uint8_t> text(bytes.begin(), end);
  if (encoding == 3) return std::string(text.begin(), text.end());
  return id3::Latin1ToUTF8(text);
}

// A comment: encoding, 3-letter language, a short description ended by a terminator, the text.
std::string CommentText(std::span<const std::uint8_t> content) {
  if (content.size() < 4) return "";
  const std::uint8_t encoding = content[0];
  std::size_t at = 4;
  if (encoding == 1 || encoding == 2) {
    while (at + 1 < content.size() && (content[at] != 0 || content[at + 1] != 0)) at += 2;
    at += 2;
  } else {
    while (at < content.size() && content[at] != 0) ++at;
    at += 1;
  }
  // Without a terminator there is no description: the text starts after the language.
  if (at > content.size()) at = 4;
  return DecodeText(encoding, content.subspan(at));
}

std::int32_t TrackNumber(const std::string& text) {
  const std::string number = text.substr(0, text.find('/'));
  if (number.empty() || number.size() > 9) return 0;
  for (char c : number) {
    if (c < '0' || c > '9') return 0;
  }
  return std::stoi(number);
}

}  // namespace

void TID3v2::TakeFrame(const char* id, const std::string& text) {
  if (std::strcmp(id, "TIT2") == 0) Title = text;
  if (std::strcmp(id, "TPE1") == 0) Artist = text;
  if (std::strcmp(id, "TALB") == 0) Album = text;
  if (std::strcmp(id, "TRCK") == 0) Track = TrackNumber(text);
  if (std::strcmp(id, "TYER") == 0 || std::strcmp(id, "TDRC") == 0) Year = text;
  if (std::strcmp(id, "TCON") == 0) {
    const std::size_t close = text.rfind(')');
    Genre = id3::Trim(close == std::string::npos ? text : text.substr(close + 1));
  }
  if (std::strcmp(id, "COMM") == 0) Comment = text;
}

void TID3v2::ReadFrames(TStream& stream, std::uint64_t fileSize, std::uint64_t start) {
  const std::uint64_t tagEnd = std::min<std::uint64_t>(static_cast<std::uint64_t>(Size), fileSize);
  std::uint64_t pos = start;
  while (pos + 10 <= tagEnd) {
    std::uint8_t h[10];
    stream.SetPosition(pos);
    stream.ReadBuffer(h, sizeof h);
    if (h[0] == 0) break;  // padding
    const std::uint32_t size = VersionID == 4 ? SyncSafe(h + 4) : BigEndian32(h + 4) & 0xFFFFFF;
    const std::uint64_t contentEnd = std::min(pos + 10 + size, tagEnd);
    const std::size_t take =
        static_cast<std::size_t>(std::min<std::uint64_t>(contentEnd - (pos + 10), kMaxFrameText));
    std::vector<std::uint8_t> content(take);
    stream.ReadBuffer(content.data(), take);
    const char id[5] = {static_cast<char>(h[0]), static_cast<char>(h[1]), static_cast<char>(h[2]),
                        static_cast<char>(h[3]), 0};
    if (!content.empty()) {
      const std::string text =
          std::strcmp(id, "COMM") == 0
              ? CommentText(content)
              : DecodeText(content[0], std::span<const std::uint8_t>(content).subspan(1));
      TakeFrame(id, id3::Trim(text));
    }
    pos += 10 + static_cast<std::uint64_t>(size);
  }
}

bool TID3v2::ReadFromStream(TStream& stream) {
  ResetData();
  try {
    const std::uint64_t fileSize = stream.Size();
    std::uint8_t h[10];
    if (fileSize < sizeof h) return false;
    stream.SetPosition(0);
    stream.ReadBuffer(h, sizeof h);
    if (h[0] != 'I' || h[1] != 'D' || h[2] != '3') return true;
    Exists = true;
    VersionID = h[3];
    const std::uint64_t size = std::uint64_t{SyncSafe(h + 6)} + 10;
    Size = size > fileSize ? 0 : static_cast<std::int32_t>(size);
    if ((VersionID == 3 || VersionID == 4) && Size > 0) {
      std::uint64_t start = 10;
      if (h[5] & 0x40) {
        // An extended header: its size counts itself in 2.4, not in 2.3.
        std::uint8_t e[4];
        stream.ReadBuffer(e, sizeof e);
        start += VersionID == 4 ? SyncSafe(e) : BigEndian32(e) + 4ull;
      }
      ReadFrames(stream, fileSize, start);
    }
    return true;
  } catch (const std::exception&) {
    ResetData();
    return false;
  }
}

bool TID3v2::ReadFromFile(const std::string& fileName) {
  return ReadFromFileWith(*this, fileName);
}

}  // namespace kestrova
