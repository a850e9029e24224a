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

// ---- TSWFDataObject ----

void TSWFDataObject::Assign(const TBasedSWFObject& source) {
  TSWFObject::Assign(source);
  const auto& s = static_cast<const TSWFDataObject&>(source);
  OnDataWrite = s.OnDataWrite;
  Data = s.Data;
  JPEGLead = s.JPEGLead;
  JPEGEndMarker = s.JPEGEndMarker;
}

void TSWFDataObject::WriteData(TBitsEngine& be) {
  if (OnDataWrite) {
    OnDataWrite(*this, be);
  } else {
    be.WriteBytes(Data.data(), static_cast<std::int64_t>(Data.size()));
  }
}

void TSWFDataObject::ReadRestAsData(TBodyReader& body) {
  Data = body.Be.Stream.ReadBytes(static_cast<std::size_t>(body.Remaining()));
}

void TSWFDataObject::WriteJPEGData(TBitsEngine& be) {
  if (JPEGLead == TJPEGLead::ErroneousHeader) {
    be.WriteWord(0xD9FF);  // the bytes 0xFF 0xD9
  }
  if (JPEGLead != TJPEGLead::None) be.WriteWord(0xD8FF);
  WriteData(be);
  if (JPEGEndMarker) be.WriteWord(0xD9FF);
}

void TSWFDataObject::ReadJPEGPart(TBodyReader& body, std::uint64_t size) {
  body.Need(size, "JPEG data runs past the end of the body");
  std::vector<std::uint8_t> part = body.Be.Stream.ReadBytes(static_cast<std::size_t>(size));
  auto at = [&part](std::size_t i, std::uint8_t a, std::uint8_t b) {
    return part.size() >= i + 2 && part[i] == a && part[i + 1] == b;
  };
  std::size_t lead = 0;
  JPEGLead = TJPEGLead::None;
  if (at(0, 0xFF, 0xD9) && at(2, 0xFF, 0xD8)) {
    JPEGLead = TJPEGLead::ErroneousHeader;
    lead = 4;
  } else if (at(0, 0xFF, 0xD8)) {
    JPEGLead = TJPEGLead::StartMarker;
    lead = 2;
  }
  JPEGEndMarker = part.size() >= lead + 2 && at(part.size() - 2, 0xFF, 0xD9);
  const std::size_t end = part.size() - (JPEGEndMarker ? 2 : 0);
  if (lead == 0 && !JPEGEndMarker) {
    Data = std::move(part);
  } else {
    Data.assign(part.begin() + static_cast<std::ptrdiff_t>(lead),
                part.begin() + static_cast<std::ptrdiff_t>(end));
  }
}

// ---- JPEG tags ----

void TSWFJPEGTables::ReadFromStream(TBitsEngine& be) {
  TBodyReader body(be, *this);
  ReadJPEGData(body);
}

void TSWFJPEGTables::Describe(TSWFDescription& d) const {
  d.Field("data", DataSize());
}

void TSWFImageTag::Assign(const TBasedSWFObject& source) {
  TSWFDataObject::Assign(source);
  CharacterId = static_cast<const TSWFImageTag&>(source).CharacterId;
}

void TSWFDefineBits::ReadFromStream(TBitsEngine& be) {
  TBodyReader body(be, *this);
  CharacterId = body.Word();
  ReadJPEGData(body);
}

void TSWFDefineBits::WriteTagBody(TBitsEngine& be) {
  be.WriteWord(CharacterId);
  WriteJPEGData(be);
}

void TSWFDefineBits::Describe(TSWFDescription& d) const {
  d.Field("id", CharacterId);
  d.Field("format", "JPEG");
  d.Field("data", DataSize());
}

void TSWFDefineBitsJPEG3::Assign(const TBasedSWFObject& source) {
  TSWFDefineBitsJPEG2::Assign(source);
  const auto& s = static_cast<const TSWFDefineBitsJPEG3&>(source);
  OnAlphaDataWrite = s.OnAlphaDataWrite;
  AlphaData = s.AlphaData;
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

void TSWFDefineBitsJPEG3::WriteTagBody(TBitsEngine& be) {
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

void TSWFDefineBitsLossless::Assign(const TBasedSWFObject& source) {
  TSWFImageTag::Assign(source);
  const auto& s = static_cast<const TSWFDefineBitsLossless&>(source);
  BitmapColorTableSize = s.BitmapColorTableSize;
  BitmapFormat = s.BitmapFormat;
  BitmapHeight = s.BitmapHeight;
  BitmapWidth = s.BitmapWidth;
}

void TSWFDefineBitsLossless::ReadFromStream(TBitsEngine& be) {
  TBodyReader body(be, *this);
  CharacterId = body.Word();
  BitmapFormat = body.Byte();
  BitmapWidth = body.Word();
  BitmapHeight = body.Word();
  if (BitmapFormat == kFormat8Bit) BitmapColorTableSize = body.Byte();
  Data = be.Stream.ReadBytes(static_cast<std::size_t>(body.Remaining()));
}

void TSWFDefineBitsLossless::WriteTagBody(TBitsEngine& be) {
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
