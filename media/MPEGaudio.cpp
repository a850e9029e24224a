#include "media/MPEGaudio.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <exception>
#include <vector>

#include "media/ReadFile.h"

namespace kestrova {

namespace {

// kbit/s by table row and bit-rate index 1 to 14.
constexpr std::array<std::array<std::uint16_t, 15>, 5> kBitRates{{
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},  // MPEG 1 Layer I
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},     // MPEG 1 Layer II
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},      // MPEG 1 Layer III
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},     // MPEG 2/2.5 Layer I
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},          // MPEG 2/2.5 II, III
}};

std::uint16_t BitRateOf(std::uint8_t version, std::uint8_t layer, std::uint8_t index) {
  if (index == 0 || index > 14 || layer == 0 || layer > 3 || version == 1 || version > 3) return 0;
  const int row = version == kMPEGVersion1 ? 3 - layer : (layer == kMPEGLayerI ? 3 : 4);
  return kBitRates[row][index];
}

std::uint32_t SampleRateOf(std::uint8_t version, std::uint8_t index) {
  static constexpr std::array<std::uint32_t, 3> kMPEG1{44100, 48000, 32000};
  if (index > 2 || version == 1 || version > 3) return 0;
  const std::uint32_t base = kMPEG1[index];
  return version == kMPEGVersion1 ? base : (version == kMPEGVersion2 ? base / 2 : base / 4);
}

std::uint16_t SamplesPerFrameOf(std::uint8_t version, std::uint8_t layer) {
  if (layer == kMPEGLayerI) return 384;
  if (layer == kMPEGLayerII) return 1152;
  if (layer == kMPEGLayerIII) return version == kMPEGVersion1 ? 1152 : 576;
  return 0;
}

std::uint32_t BigEndian32(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) << 24 | static_cast<std::uint32_t>(b[at + 1]) << 16 |
         static_cast<std::uint32_t>(b[at + 2]) << 8 | b[at + 3];
}

}  // namespace

bool IsFrameHeader(const std::uint8_t* b) {
  return b[0] == 0xFF && b[1] >= 0xE0 && ((b[1] >> 3) & 3) != 1 && ((b[1] >> 1) & 3) != 0 &&
         b[2] > 0x0F && b[2] < 0xF0 && ((b[2] >> 2) & 3) != 3 && (b[3] & 3) != 2;
}

std::uint32_t FrameLength(const std::uint8_t* b) {
  if (!IsFrameHeader(b)) return 0;
  const std::uint8_t version = (b[1] >> 3) & 3, layer = (b[1] >> 1) & 3;
  const std::uint32_t rate = BitRateOf(version, layer, b[2] >> 4) * 1000u;
  const std::uint32_t sampleRate = SampleRateOf(version, (b[2] >> 2) & 3);
  const std::uint32_t padding = (b[2] >> 1) & 1;
  // Layer I counts in 4-byte slots; the others in bytes, an eighth of the samples per frame.
  if (layer == kMPEGLayerI) return (12 * rate / sampleRate + padding) * 4;
  return SamplesPerFrameOf(version, layer) / 8 * rate / sampleRate + padding;
}

void TMPEGaudio::ResetData() {
  FileLength = 0;
  CountedFrames = 0;
  CountedBytes = 0;
  VBR = TVBRData{};
  Frame = TFrameData{};
  ID3v1.ResetData();
  ID3v2.ResetData();
}

void TMPEGaudio::ReadVBR(std::span<const std::uint8_t> f) {
  const bool mono = Frame.ModeID == kMPEGModeMono;
  const std::size_t at = Frame.VersionID == kMPEGVersion1 ? (mono ? 21 : 36) : (mono ? 13 : 21);
  if (at + 4 > f.size()) return;
  const std::string id(f.begin() + static_cast<std::ptrdiff_t>(at),
                       f.begin() + static_cast<std::ptrdiff_t>(at + 4));
  if (id == "VBRI") {
    if (at + 18 > f.size()) return;
    VBR.Found = true;
    VBR.ID = id;
    VBR.Scale = f[at + 9];
    VBR.Bytes = BigEndian32(f, at + 10);
    VBR.Frames = BigEndian32(f, at + 14);
    return;
  }
  if (id != "Xing" && id != "Info") return;
  if (at + 8 > f.size()) return;
  VBR.Found = true;
  VBR.ID = id;
  // Each field is there only when its flag says so.
  const std::uint32_t flags = BigEndian32(f, at + 4);
  std::size_t o = at + 8;
  auto next32 = [&](std::uint32_t& v) {
    if (o + 4 <= f.size()) v = BigEndian32(f, o);
    o += 4;
  };
  if (flags & 1) next32(VBR.Frames);
  if (flags & 2) next32(VBR.Bytes);
  if (flags & 4) o += 100;
  if (flags & 8) {
    if (o + 4 <= f.size()) VBR.Scale = f[o + 3];
    o += 4;
  }
  if (o + 8 > f.size()) return;
  std::string vendor(f.begin() + static_cast<std::ptrdiff_t>(o),
                     f.begin() + static_cast<std::ptrdiff_t>(o + 8));
  VBR.VendorID = vendor.substr(0, vendor.find('\0'));
  // An encoder tag keeps the delay and padding 21 bytes after the vendor's name.
  if (o + 24 <= f.size() &&
      (vendor.starts_with("LAME") || vendor.starts_with("Lavc") || vendor.starts_with("Lavf"))) {
    VBR.EncoderDelay = static_cast<std::uint16_t>(f[o + 21] << 4 | f[o + 22] >> 4);
    VBR.EncoderPadding = static_cast<std::uint16_t>((f[o + 22] & 0x0F) << 8 | f[o + 23]);
  }
}

bool TMPEGaudio::SearchBlock(std::span<const std::uint8_t> block, std::int64_t blockOffset) {
  const std::size_t limit = std::min(block.size(), kBlockSize - 1);
  for (std::size_t p = 0; p + 4 <= limit; ++p) {
    const std::uint32_t length = FrameLength(&block[p]);
    if (length == 0 || p + length + 4 > block.size() || !IsFrameHeader(&block[p + length])) {
      continue;
    }
    const std::uint8_t* b = &block[p];
    Frame.Found = true;
    Frame.Position = static_cast<std::int32_t>(p);
    Frame.Offset = blockOffset + static_cast<std::int64_t>(p);
    Frame.Size = static_cast<std::uint16_t>(length);
    Frame.EmptyFrame =
        std::all_of(b + 4, b + std::min<std::size_t>(10, length), [](auto c) { return c == 0; });
    std::copy_n(b, 4, Frame.Data);
    Frame.VersionID = (b[1] >> 3) & 3;
    Frame.LayerID = (b[1] >> 1) & 3;
    Frame.ProtectionBit = 1 - (b[1] & 1);
    Frame.BitRateID = b[2] >> 4;
    Frame.SampleRateID = (b[2] >> 2) & 3;
    Frame.PaddingBit = (b[2] >> 1) & 1;
    Frame.PrivateBit = b[2] & 1;
    Frame.ModeID = b[3] >> 6;
    Frame.ModeExtensionID = (b[3] >> 4) & 3;
    Frame.CopyFlagBit = (b[3] >> 3) & 1;
    Frame.HomeBit = (b[3] >> 2) & 1;
    Frame.EmphasisID = b[3] & 3;
    ReadVBR(block.subspan(p, std::min<std::size_t>(length, block.size() - p)));
    return true;
  }
  return false;
}

bool TMPEGaudio::ReadFromStream(TStream& stream) {
  ResetData();
  try {
    if (!ID3v1.ReadFromStream(stream) || !ID3v2.ReadFromStream(stream)) {
      ResetData();
      return false;
    }
    FileLength = static_cast<std::int64_t>(stream.Size());
    std::vector<std::uint8_t> block(kBlockSize);
    auto readBlock = [&](std::int64_t offset) {
      stream.SetPosition(static_cast<std::uint64_t>(offset));
      block.resize(kBlockSize);
      block.resize(stream.Read(block.data(), block.size()));
    };
    const std::int64_t start = ID3v2.Size;
    readBlock(start);
    if (!SearchBlock(block, start) && block.size() == kBlockSize) {
      // The middle of the audio, past whatever damage the start may have.
      const std::int64_t middle = start + (FileLength - start) / 2;
      readBlock(middle);
      SearchBlock(block, middle);
    }
    if (!Frame.Found) {
      ResetData();
    } else if (VBR.Found && VBR.Frames > 0 && !VBRFramesBelievable()) {
      CountFrames(stream);
    }
    return true;
  } catch (const std::exception&) {
    ResetData();
    return false;
  }
}

bool TMPEGaudio::VBRFramesBelievable() const {
  if (!VBR.Found || VBR.Frames == 0) return false;
  // No more frames than the audio could hold at the smallest frame size of its format.
  const std::uint32_t smallest = MinFrameSize();
  return smallest > 0 && static_cast<std::uint64_t>(VBR.Frames) <=
                             static_cast<std::uint64_t>(AudioSize()) / smallest;
}

void TMPEGaudio::CountFrames(TStream& stream) {
  const std::int64_t end = Frame.Offset + AudioSize();
  std::int64_t pos = Frame.Offset;
  std::uint32_t frames = 0;
  std::uint64_t bytes = 0;
  std::uint8_t h[4];
  while (pos + 4 <= end) {
    stream.SetPosition(static_cast<std::uint64_t>(pos));
    if (stream.Read(h, sizeof h) != sizeof h) break;
    const std::uint32_t length = FrameLength(h);
    // A frame of another version, layer or rate is not part of this audio.
    if (length == 0 || pos + length > end || h[1] != Frame.Data[1] ||
        (h[2] & 0x0C) != (Frame.Data[2] & 0x0C)) {
      break;
    }
    ++frames;
    bytes += length;
    pos += length;
  }
  // The first frame holds the VBR header, not audio.
  CountedFrames = frames > 0 ? frames - 1 : 0;
  CountedBytes = frames > 0 ? bytes - Frame.Size : 0;
}

bool TMPEGaudio::ReadFromFile(const std::string& fileName) {
  return ReadFromFileWith(*this, fileName);
}

std::uint32_t TMPEGaudio::PaddingBytes() const {
  if (!Frame.PaddingBit) return 0;
  return Frame.LayerID == kMPEGLayerI ? 4 : 1;
}

std::uint32_t TMPEGaudio::SampleRate() const {
  return Frame.Found ? SampleRateOf(Frame.VersionID, Frame.SampleRateID) : 0;
}

std::uint16_t TMPEGaudio::SamplesPerFrame() const {
  return Frame.Found ? SamplesPerFrameOf(Frame.VersionID, Frame.LayerID) : 0;
}

std::uint16_t TMPEGaudio::BitRate() const {
  if (!Frame.Found) return 0;
  if (VBR.Found && VBR.Frames > 0) {
    // A Xing or Info header's byte count includes its own frame, which its frame count leaves
    // out (and which encoders may write at another bit rate than the audio's).
    const bool xing = VBR.ID != "VBRI";
    const double bytes = xing && VBR.Bytes > Frame.Size ? VBR.Bytes - Frame.Size : VBR.Bytes;
    const double perFrame = bytes / VBR.Frames - (xing ? 0 : PaddingBytes());
    const double kbps = std::round(perFrame * SampleRate() / (SamplesPerFrame() / 8.0) / 1000.0);
    return static_cast<std::uint16_t>(std::clamp(kbps, 0.0, 65535.0));
  }
  return BitRateOf(Frame.VersionID, Frame.LayerID, Frame.BitRateID);
}

std::int64_t TMPEGaudio::AudioSize() const {
  if (!Frame.Found) return 0;
  const std::int64_t end = FileLength - (ID3v1.Exists ? 128 : 0);
  return std::max<std::int64_t>(0, end - Frame.Offset);
}

std::uint32_t TMPEGaudio::FrameCount() const {
  if (!Frame.Found) return 0;
  if (VBR.Found && VBR.Frames > 0) return VBR.Frames;
  return Frame.Size == 0 ? 0 : static_cast<std::uint32_t>(AudioSize() / Frame.Size);
}

std::uint32_t TMPEGaudio::MinFrameSize() const {
  if (!Frame.Found) return 0;
  const std::uint8_t smallest[4] = {Frame.Data[0], Frame.Data[1],
                                    static_cast<std::uint8_t>(0x10 | Frame.SampleRateID << 2),
                                    Frame.Data[3]};
  return FrameLength(smallest);
}

double TMPEGaudio::Duration() const {
  if (!Frame.Found || SampleRate() == 0) return 0;
  if (VBR.Found && VBR.Frames > 0) {
    return static_cast<double>(SamplesPerFrame()) * VBR.Frames / SampleRate();
  }
  const std::uint16_t rate = BitRateOf(Frame.VersionID, Frame.LayerID, Frame.BitRateID);
  return rate == 0 ? 0 : static_cast<double>(AudioSize()) * 8 / rate / 1000;
}

}  // namespace kestrova

namespace kestrova {

double TMPEGaudio::CountedDuration() const {
  if (!Frame.Found || SampleRate() == 0) return 0;
  return static_cast<double>(SamplesPerFrame()) * CountedFrames / SampleRate();
}

std::uint16_t TMPEGaudio::CountedBitRate() const {
  if (!Frame.Found || CountedFrames == 0) return 0;
  const double perFrame = static_cast<double>(CountedBytes) / CountedFrames;
  const double kbps = std::round(perFrame * SampleRate() / (SamplesPerFrame() / 8.0) / 1000.0);
  return static_cast<std::uint16_t>(std::clamp(kbps, 0.0, 65535.0));
}

}  // namespace kestrova
