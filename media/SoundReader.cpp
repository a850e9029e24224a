#include "media/SoundReader.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <exception>
#include <string>

namespace kestrova {

namespace {

std::uint32_t Little32(const std::uint8_t* b) {
  return static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
         static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}

std::uint16_t Little16(const std::uint8_t* b) {
  return static_cast<std::uint16_t>(b[0] | b[1] << 8);
}

}  // namespace

TSoundKind SoundKindOf(const std::string& fileName) {
  const std::size_t dot = fileName.rfind('.');
  if (dot == std::string::npos || fileName.find('/', dot) != std::string::npos) {
    return TSoundKind::None;
  }
  std::string ext = fileName.substr(dot);
  for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (ext == ".WAV") return TSoundKind::Wave;
  if (ext == ".MP3") return TSoundKind::MP3;
  return TSoundKind::None;
}

namespace {

[[noreturn]] void FailWave(const std::string& what) {
  throw EMediaError("WAV: " + what);
}

}  // namespace

TWaveReader::TWaveReader(const std::string& fileName) {
  const TSoundKind kind = SoundKindOf(fileName);
  if (kind == TSoundKind::None) return;
  TFileStream file(fileName, TFileStream::Mode::Read);
  try {
    ReadFromStream(file, kind);
  } catch (const EMediaError& e) {
    throw EMediaError(fileName + ": " + e.what());
  } catch (const EStreamError& e) {
    throw EStreamError(fileName + ": " + e.what());
  }
}

void TWaveReader::ReadFromStream(TStream& stream, TSoundKind kind) {
  TMediaBudget* const budget = Budget;
  *this = TWaveReader{};
  Budget = budget;
  if (kind == TSoundKind::Wave) {
    ReadWave(stream);
  } else if (kind == TSoundKind::MP3) {
    FormatTag = kWaveFormatMP3File;
    TakeMPEG(stream, 0, static_cast<std::int64_t>(stream.Size()));
    DataOffset = static_cast<std::uint32_t>(std::min<std::int64_t>(MPEG.AudioOffset(), UINT32_MAX));
    DataSize = static_cast<std::uint32_t>(std::min<std::int64_t>(MPEG.AudioSize(), UINT32_MAX));
  } else {
    return;
  }
  if (Duration == 0 && SamplesPerSec > 0)
    Duration = static_cast<double>(SampleCount) / SamplesPerSec;
}

std::vector<std::uint8_t> TWaveReader::ReadData(TStream& stream, TBudgetClaim& claim) const {
  if (std::uint64_t{DataOffset} + DataSize > stream.Size()) {
    throw EMediaError("the sound data at offset " + std::to_string(DataOffset) + " (" +
                      std::to_string(DataSize) + " bytes) runs past the end of the file");
  }
  claim = TBudgetClaim(*Budget, DataSize, "the sound data");
  stream.SetPosition(DataOffset);
  return stream.ReadBytes(DataSize);
}

// Walks the chunks of the RIFF form; each chunk must lie within its parent, and a chunk of odd
// size is followed by a pad byte.
void TWaveReader::ReadWave(TStream& stream) {
  const std::uint64_t fileSize = stream.Size();
  std::uint8_t h[12];
  stream.SetPosition(0);
  if (fileSize < sizeof h || stream.Read(h, sizeof h) != sizeof h ||
      std::string(h, h + 4) != "RIFF" || std::string(h + 8, h + 12) != "WAVE") {
    FailWave("not a RIFF WAVE file");
  }
  // A form longer than the file is common in recordings that were never closed: the file wins.
  const std::uint64_t parentEnd = std::min<std::uint64_t>(8ull + Little32(h + 4), fileSize);
  bool haveFmt = false, haveData = false;
  for (std::uint64_t pos = 12; pos + 8 <= parentEnd && !(haveFmt && haveData);) {
    std::uint8_t c[8];
    stream.SetPosition(pos);
    stream.ReadBuffer(c, sizeof c);
    const std::string id(c, c + 4);
    std::uint64_t size = Little32(c + 4);
    const std::uint64_t data = pos + 8;
    if (data + size > parentEnd) {
      if (id != "data") {
        FailWave("chunk \"" + id + "\" at offset " + std::to_string(pos) + " claims " +
                 std::to_string(size) + " bytes, past the end of the RIFF form at " +
                 std::to_string(parentEnd));
      }
      // Audio cut short: what is there is described, and the loss is said.
      Shortfall = "the \"data\" chunk at offset " + std::to_string(pos) + " claims " +
                  std::to_string(size) + " bytes, the file has " + std::to_string(parentEnd - data);
      size = parentEnd - data;
    }
    if (id == "fmt " && !haveFmt) {
      haveFmt = true;
      FmtOffset = static_cast<std::uint32_t>(data);
      FmtSize = static_cast<std::uint32_t>(size);
    } else if (id == "data" && !haveData) {
      haveData = true;
      DataOffset = static_cast<std::uint32_t>(data);
      DataSize = static_cast<std::uint32_t>(size);
    }
    pos = data + size + (size & 1);
  }
  if (!haveFmt) FailWave("no \"fmt \" chunk");
  ReadFormat(stream);
  if (!haveData) FailWave("no \"data\" chunk");
}

void TWaveReader::ReadFormat(TStream& stream) {
  std::uint8_t f[kMaxFmtBytes];
  const std::uint32_t n = std::min(FmtSize, kMaxFmtBytes);
  stream.SetPosition(FmtOffset);
  stream.ReadBuffer(f, n);
  if (n < 16) {
    FailWave("\"fmt \" chunk at offset " + std::to_string(FmtOffset) + " has " + std::to_string(n) +
             " bytes, fewer than the 16 of a format");
  }
  FormatTag = static_cast<std::int16_t>(Little16(f));
  if (FormatTag == kWaveFormatMPEG || FormatTag == kWaveFormatMPEGLayer3) {
    if (DataSize > 0) TakeMPEG(stream, DataOffset, DataSize);
    return;
  }
  Channels = Little16(f + 2);
  SamplesPerSec = Little32(f + 4);
  BitsPerSample = Little16(f + 14);
  // No sample count exists for a format that claims 0 bits or 0 channels.
  const std::uint64_t bitsPerFrame = std::uint64_t{BitsPerSample} * Channels;
  SampleCount = bitsPerFrame == 0 ? 0 : static_cast<std::int64_t>(DataSize * 8ull / bitsPerFrame);
}

void TWaveReader::TakeMPEG(TStream& stream, std::int64_t offset, std::int64_t size) {
  TStreamWindow window(stream, static_cast<std::uint64_t>(offset),
                       static_cast<std::uint64_t>(size));
  if (!MPEG.ReadFromStream(window) || !MPEG.Frame.Found) {
    throw EMediaError(std::string(FormatTag == kWaveFormatMP3File ? "MP3" : "WAV") +
                      ": no MPEG audio frame found");
  }
  Channels = MPEG.Frame.ModeID == kMPEGModeMono ? 1 : 2;
  SamplesPerSec = MPEG.SampleRate();
  BitsPerSample = 16;
  FrameSize = MPEG.Frame.Size;
  if (MPEG.VBR.Found && MPEG.VBR.Frames > 0 && !MPEG.VBRFramesBelievable()) {
    // A VBR header that claims more frames than the file could hold: the frames present count.
    Duration = MPEG.CountedDuration();
    FrameCount = MPEG.CountedFrames;
    BitRate = MPEG.CountedBitRate();
  } else {
    Duration = MPEG.Duration();
    FrameCount = MPEG.FrameCount();
    BitRate = MPEG.BitRate();
  }
  SampleCount = std::llround(SamplesPerSec * Duration);
  // A count cannot exceed the frames the file could hold. The bound is the smallest frame
  // possible: the first frame of a VBR file may be smaller than the rest.
  const std::uint32_t smallest = MPEG.MinFrameSize();
  if (smallest > 0 && MPEG.FileLength < static_cast<std::int64_t>(smallest) * FrameCount) {
    FrameCount = static_cast<std::uint32_t>(MPEG.FileLength / smallest);
  }
  SamplesPerFrame = MPEG.SamplesPerFrame();
}

}  // namespace kestrova
