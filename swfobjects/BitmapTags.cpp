#include "swfobjects/BitmapTags.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "swfobjects/ShapeTags.h"

namespace kestrova {

namespace {

std::int64_t Remaining(const TBitsEngine& be, std::uint64_t end) {
  return static_cast<std::int64_t>(end) - static_cast<std::int64_t>(be.Stream.Position());
}

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
}

void TSWFDataObject::WriteData(TBitsEngine& be) {
  if (OnDataWrite) {
    OnDataWrite(*this, be);
  } else {
    be.WriteBytes(Data.data(), static_cast<std::int64_t>(Data.size()));
  }
}

void TSWFDataObject::ReadRestAsData(TStream& body) {
  Data = body.ReadBytes(static_cast<std::size_t>(body.Size() - std::min(body.Position(), body.Size())));
}

void TSWFDataObject::WriteJPEGData(TBitsEngine& be) {
  be.WriteByte(0xFF);
  be.WriteByte(0xD8);
  WriteData(be);
  be.WriteByte(0xFF);
  be.WriteByte(0xD9);
}

void TSWFDataObject::ReadJPEGData(TBitsEngine& be, std::uint64_t end) {
  for (;;) {
    if (Remaining(be, end) < 2) throw std::runtime_error("JPEG data without a start marker");
    if (be.ReadWord() == 0xD8FF) break;  // the bytes 0xFF 0xD8
  }
  const std::int64_t size = Remaining(be, end) - 2;
  if (size < 0) throw std::runtime_error("JPEG data without an end marker");
  Data = be.Stream.ReadBytes(static_cast<std::size_t>(size));
  be.ReadWord();  // the end marker
}

// ---- JPEG tags ----

void TSWFJPEGTables::ReadFromStream(TBitsEngine& be) {
  ReadJPEGData(be, BodyEnd(*this, be));
}

void TSWFJPEGTables::Describe(TSWFDescription& d) const {
  d.Field("data", DataSize());
}

void TSWFImageTag::Assign(const TBasedSWFObject& source) {
  TSWFDataObject::Assign(source);
  CharacterId = static_cast<const TSWFImageTag&>(source).CharacterId;
}

void TSWFDefineBits::ReadFromStream(TBitsEngine& be) {
  const std::uint64_t end = BodyEnd(*this, be);
  CharacterId = be.ReadWord();
  ReadJPEGData(be, end);
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
  const std::uint64_t end = BodyEnd(*this, be);
  CharacterId = be.ReadWord();
  const std::uint32_t alphaOffset = be.ReadDWord();
  // The JPEG part holds at least its two markers and must end inside the body.
  if (alphaOffset < 4 || std::int64_t(alphaOffset) > Remaining(be, end)) {
    throw std::runtime_error("JPEG alpha offset " + std::to_string(alphaOffset) +
                             " does not fit the tag");
  }
  be.ReadWord();  // start marker
  Data = be.Stream.ReadBytes(alphaOffset - 4);
  be.ReadWord();  // end marker
  AlphaData = be.Stream.ReadBytes(static_cast<std::size_t>(Remaining(be, end)));
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
  const std::uint64_t end = BodyEnd(*this, be);
  CharacterId = be.ReadWord();
  BitmapFormat = be.ReadByte();
  BitmapWidth = be.ReadWord();
  BitmapHeight = be.ReadWord();
  if (BitmapFormat == kFormat8Bit) BitmapColorTableSize = be.ReadByte();
  const std::int64_t rest = Remaining(be, end);
  if (rest < 0) throw std::runtime_error("Lossless bitmap header runs past the end of the tag");
  Data = be.Stream.ReadBytes(static_cast<std::size_t>(rest));
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
