// MPEG audio (MP3) files: the first frame's header, the Xing/Info or VBRI header, and the bit
// rate, frame count and duration worked out from them.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "media/ID3v1.h"
#include "media/ID3v2.h"
#include "swftools/Stream.h"

namespace kestrova {

// MPEG audio version and layer codes as the frame header stores them.
inline constexpr std::uint8_t kMPEGVersion25 = 0, kMPEGVersion2 = 2, kMPEGVersion1 = 3;
inline constexpr std::uint8_t kMPEGLayerIII = 1, kMPEGLayerII = 2, kMPEGLayerI = 3;
inline constexpr std::uint8_t kMPEGModeMono = 3;

// A variable-bit-rate header in the first frame.
struct TVBRData {
  bool Found = false;
  std::string ID;  // "Xing", "Info" (the same header written for constant bit rates) or "VBRI"
  std::uint32_t Frames = 0;  // audio frames, not counting the one that holds this header
  std::uint32_t Bytes = 0;
  std::uint8_t Scale = 0;
  std::string VendorID;  // Xing and Info only: the encoder, up to 8 characters
  // From an encoder tag after a Xing or Info header: samples the encoder added at the start and
  // at the end (a player skips them). 0 when absent.
  std::uint16_t EncoderDelay = 0, EncoderPadding = 0;
};

struct TFrameData {
  bool Found = false;
  std::int32_t Position = 0;  // offset of the first frame in the block searched
  std::int64_t Offset = 0;    // offset of the first frame in the file
  std::uint16_t Size = 0;     // bytes of the first frame
  bool EmptyFrame = false;    // the 6 bytes after the frame header are all zero
  std::uint8_t Data[4] = {0, 0, 0, 0};
  std::uint8_t VersionID = 1, LayerID = 0, ProtectionBit = 0, BitRateID = 0, SampleRateID = 3,
               PaddingBit = 0, PrivateBit = 0, ModeID = 4, ModeExtensionID = 4, CopyFlagBit = 0,
               HomeBit = 0, EmphasisID = 2;
};

// True when the 4 bytes are an acceptable frame header (sync, version, layer, bit rate and
// sample rate indexes, emphasis).
bool IsFrameHeader(const std::uint8_t* b);
// Length in bytes of the frame the header starts; 0 when it is not an acceptable header.
std::uint32_t FrameLength(const std::uint8_t* b);

class TMPEGaudio {
 public:
  // Bytes of each block searched for the first frame.
  static constexpr std::size_t kBlockSize = 3458;

  std::int64_t FileLength = 0;
  TVBRData VBR;
  TFrameData Frame;
  TID3v1 ID3v1;
  TID3v2 ID3v2;
  // When a VBR header claims more frames than the audio could hold, the frames really there
  // (counted by walking their headers, without the frame that holds the VBR header) and their
  // bytes, which a caller that cannot believe the claim uses instead. 0 otherwise.
  std::uint32_t CountedFrames = 0;
  std::uint64_t CountedBytes = 0;

  void ResetData();
  // Reads the ID3 tags and finds the first frame: from the end of the ID3v2 tag and, failing
  // that, from the middle of the file. True when the file could be read (the fields then
  // describe the first frame found, or are reset when none was); false and the reset state when
  // it could not. Never throws.
  bool ReadFromFile(const std::string& fileName);
  bool ReadFromStream(TStream& stream);

  // kbit/s: the average from a VBR header that counts frames, else the first frame's.
  std::uint16_t BitRate() const;
  std::uint32_t SampleRate() const;  // Hz; 0 without a frame
  std::uint16_t SamplesPerFrame() const;
  std::uint32_t FrameCount() const;
  // Bytes of the smallest frame of the first frame's version, layer and sample rate; 0 without
  // a frame.
  std::uint32_t MinFrameSize() const;
  double Duration() const;  // seconds; 0 without a frame
  // True when a VBR header with a frame count was found and that count fits the audio (the
  // derived values above take the count as the header gives it, believable or not).
  bool VBRFramesBelievable() const;
  // The duration and average bit rate of the counted frames; 0 without them.
  double CountedDuration() const;
  std::uint16_t CountedBitRate() const;
  // Where the audio frames lie: from the first frame to the ID3v1 tag or the end of the file.
  std::int64_t AudioOffset() const { return Frame.Found ? Frame.Offset : 0; }
  std::int64_t AudioSize() const;

 private:
  bool SearchBlock(std::span<const std::uint8_t> block, std::int64_t blockOffset);
  void ReadVBR(std::span<const std::uint8_t> frame);
  // Walks the frames from the first one and sets CountedFrames and CountedBytes.
  void CountFrames(TStream& stream);
  // The first frame's padding bytes, when its padding bit is set.
  std::uint32_t PaddingBytes() const;
};

}  // namespace kestrova
