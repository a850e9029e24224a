#include "swfobjects/BitmapTags.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace kestrova {

namespace {

void DescribeFormat(TSWFDescription& d, std::uint8_t format) {
  switch (format) {
    case TSWFDefineBitsLossless::kFormat8Bit:
      d.Field("format", "8-bit");
      break;
    case TSWFDefineBitsLossless::kFormat15Bit:
      d.Field("format", "15-bit");
      break;
    case TSWFDefineBitsLossless::kFormat32Bit:
      d.Field("format", "32-bit");
      break;
    default:
      d.Field("format", format);
  }
}

}  // namespace

// ---- JPEG tags ----

void TSWFJPEGTables::ReadFromStream(TBitsEngine& be) {
  TBodyReader body(be, *this);
  ReadJPEGData(body);
}

void TSWFJPEGTables::Describe(TSWFDescription& d) const {
  d.Field("data", DataSize());
}

void TSWFDefineBits::ReadFromStream(TBitsEngine& be) {
  TBodyReader body(be, *this);
  CharacterId = body.Word();
  ReadJPEGData(body);
}

void TSWFDefineBits::WriteTagBody(TBitsEngine& be) const {
  be.WriteWord(CharacterId);
  WriteJPEGData(be);
}

void TSWFDefineBits::Describe(TSWFDescription& d) const {
  d.Field("id", CharacterId);
  d.Field("format", "JPEG");
  d.Field("data", DataSize());
}

void TSWFDefineBitsJPEG3::ReadFromStream(TBitsEngine& be) {
  TBodyReader body(be, *this);
  CharacterId = body.Word();
  const std::uint32_t alphaOffset = body.DWord();
  // The JPEG part must end inside the body.
  if (alphaOffset > body.Remaining()) {
    body.Fail("JPEG alpha offset " + std::to_string(alphaOffset) + " does not fit the tag");
  }
  ReadJPEGPart(body, alphaOffset);
  AlphaData = be.Stream.ReadBytes(static_cast<std::size_t>(body.Remaining()));
}

void TSWFDefineBitsJPEG3::WriteTagBody(TBitsEngine& be) const {
  be.WriteWord(CharacterId);
  be.WriteDWord(0);  // alpha offset, filled in below
  const std::uint64_t jpegStart = be.Stream.Position();
  WriteJPEGData(be);
  be.FlushLastByte(true);
  const std::uint64_t jpegEnd = be.Stream.Position();
  be.Stream.SetPosition(jpegStart - 4);
  be.WriteDWord(static_cast<std::uint32_t>(jpegEnd - jpegStart));
  be.Stream.SetPosition(jpegEnd);
  if (OnAlphaDataWrite) {
    OnAlphaDataWrite(*this, be);
  } else {
    be.WriteBytes(AlphaData.data(), static_cast<std::int64_t>(AlphaData.size()));
  }
}

void TSWFDefineBitsJPEG3::Describe(TSWFDescription& d) const {
  TSWFDefineBits::Describe(d);
  d.Field("alpha", AlphaDataSize());
}

// ---- lossless ----

void TSWFDefineBitsLossless::ReadFromStream(TBitsEngine& be) {
  TBodyReader body(be, *this);
  CharacterId = body.Word();
  BitmapFormat = body.Byte();
  BitmapWidth = body.Word();
  BitmapHeight = body.Word();
  if (BitmapFormat == kFormat8Bit) BitmapColorTableSize = body.Byte();
  Data = be.Stream.ReadBytes(static_cast<std::size_t>(body.Remaining()));
}

void TSWFDefineBitsLossless::WriteTagBody(TBitsEngine& be) const {
  be.WriteWord(CharacterId);
  be.WriteByte(BitmapFormat);
  be.WriteWord(BitmapWidth);
  be.WriteWord(BitmapHeight);
  if (BitmapFormat == kFormat8Bit) be.WriteByte(BitmapColorTableSize);
  WriteData(be);
}

void TSWFDefineBitsLossless::Describe(TSWFDescription& d) const {
  d.Field("id", CharacterId);
  DescribeFormat(d, BitmapFormat);
  d.Field("width", BitmapWidth);
  d.Field("height", BitmapHeight);
  if (BitmapFormat == kFormat8Bit) d.Field("colors", BitmapColorTableSize + 1);
  d.Field("data", DataSize());
}

}  // namespace kestrova
