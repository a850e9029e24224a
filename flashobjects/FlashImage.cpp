#include "flashobjects/FlashImage.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

#include "flashobjects/FlashMovie.h"
#include "media/ImageReader.h"
#include "swfobjects/BitmapTags.h"
#include "swftools/Deflate.h"

namespace kestrova {

namespace {

bool KnownDepth(std::uint16_t bitCount) {
  return bitCount == 1 || bitCount == 4 || bitCount == 8 || bitCount == 16 || bitCount == 24 ||
         bitCount == 32;
}

// The bytes a row of the bitmap really needs.
std::uint64_t RowBytes(const TDIBitmap& b) {
  return (static_cast<std::uint64_t>(b.Width) * b.BitCount + 7) / 8;
}

// A bitmap passed in is a claim like any other: its rows must lie inside its buffer, and its
// size must fit the 16-bit fields of the tag.
void CheckBitmap(const TDIBitmap& b) {
  if (b.Width < 0) throw std::invalid_argument("bitmap width is negative");
  if (b.Width > 65535 || b.Rows() > 65535) {
    throw std::invalid_argument("bitmap of " + std::to_string(b.Width) + " x " +
                                std::to_string(b.Rows()) + " pixels is larger than 65535");
  }
  if (b.Width == 0 || b.Rows() == 0 || !KnownDepth(b.BitCount)) return;
  if (b.BytesPerLine < 0 || static_cast<std::uint64_t>(b.BytesPerLine) < RowBytes(b) ||
      static_cast<std::uint64_t>(b.BytesPerLine) * static_cast<std::uint64_t>(b.Rows()) >
          b.Bits.size()) {
    throw std::invalid_argument("bitmap rows do not fit its pixel buffer");
  }
}

// The palette index of pixel x of a row of 1, 4 or 8 bits per pixel.
inline std::uint8_t IndexAt(const std::uint8_t* row, std::int32_t x, std::uint16_t bitCount) {
  switch (bitCount) {
    case 1:
      return (row[x >> 3] >> (7 - (x & 7))) & 1;
    case 4:
      return (x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4);
    default:
      return row[x];
  }
}

// 5-6-5 pixels (16-bit bit fields) become the 5-5-5 layout the SWF format holds.
inline std::uint16_t To555(std::uint16_t v) {
  return static_cast<std::uint16_t>(((v >> 1) & 0x7FE0) | (v & 0x1F));
}

}  // namespace

TFlashImage::TFlashImage(TFlashMovie* owner, const std::string& fileName) : TFlashIDObject(owner) {
  if (!fileName.empty()) LoadFromFile(fileName);
}

TFlashImage::~TFlashImage() = default;

void TFlashImage::LoadFromHandle(const TDIBitmap& bitmap) {
  if (bitmap.Compression == kBI_RLE8 || bitmap.Compression == kBI_RLE4) {
    // Run-length pixels are decoded by the BMP reader first.
    TBMPReader reader;
    try {
      reader.LoadFromHandle(bitmap);
    } catch (const EMediaError& e) {
      throw std::invalid_argument(e.what());
    }
    LoadFromHandle(std::move(reader.Image()));
    return;
  }
  CheckBitmap(bitmap);
  FJPEG.clear();
  FBitmap = std::make_unique<TDIBitmap>(bitmap);
  Describe();
}

void TFlashImage::LoadFromHandle(TDIBitmap&& bitmap) {
  CheckBitmap(bitmap);
  FJPEG.clear();
  FBitmap = std::make_unique<TDIBitmap>(std::move(bitmap));
  Describe();
}

void TFlashImage::LoadFromFile(const std::string& fileName) {
  std::uint8_t lead[2] = {0, 0};
  {
    TFileStream file(fileName, TFileStream::Mode::Read);
    file.Read(lead, 2);
  }
  if (lead[0] != 0xFF || lead[1] != 0xD8) {
    TBMPReader reader;
    reader.LoadFromFile(fileName);
    try {
      LoadFromHandle(std::move(reader.Image()));
    } catch (const std::invalid_argument& e) {
      throw EMediaError("\"" + fileName + "\": " + e.what());
    }
    return;
  }
  std::vector<std::uint8_t> bytes = ReadFileBytes(fileName);
  std::int32_t width = 0, height = 0;
  if (!GetJPEGSize(bytes, width, height) || width <= 0 || height <= 0 || width > 65535 ||
      height > 65535) {
    throw EMediaError("\"" + fileName + "\": not a baseline JPEG picture (no frame size found)");
  }
  // The tag writes the start and end markers itself.
  const bool ended = bytes.size() >= 4 && bytes[bytes.size() - 2] == 0xFF && bytes.back() == 0xD9;
  FJPEG.assign(bytes.begin() + 2, ended ? bytes.end() - 2 : bytes.end());
  FBitmap.reset();
  Width = static_cast<std::uint16_t>(width);
  Height = static_cast<std::uint16_t>(height);
  PaddedWidth = Width;
  BitmapFormat = 0;
  ColorCount = 0;
  HasAlpha = false;
  FDataState = kDataReady;
}

void TFlashImage::Describe() {
  const TDIBitmap& b = *FBitmap;
  Width = static_cast<std::uint16_t>(b.Width);
  Height = static_cast<std::uint16_t>(b.Rows());
  ColorCount = 0;
  switch (b.BitCount) {
    case 1:
    case 4:
    case 8:
      BitmapFormat = kFormatIndexed;
      PaddedWidth = static_cast<std::uint16_t>((Width + 3u) & ~3u);
      HasAlpha = false;
      CountColors();
      break;
    case 16:
      BitmapFormat = kFormat16;
      PaddedWidth = static_cast<std::uint16_t>((Width + 1u) & ~1u);
      HasAlpha = false;
      break;
    case 24:
      BitmapFormat = kFormat24;
      PaddedWidth = Width;
      HasAlpha = false;
      break;
    case 32: {
      BitmapFormat = kFormat32Alpha;
      PaddedWidth = Width;
      // Plain 32-bit bitmaps leave the fourth byte 0; taken as alpha that would hide the whole
      // picture, so a bitmap without any alpha is written opaque.
      HasAlpha = false;
      for (std::int32_t y = 0; y < b.Rows() && !HasAlpha; ++y) {
        const std::uint8_t* row = b.Scanline(y);
        for (std::int32_t x = 0; x < b.Width; ++x) {
          if (row[4 * x + 3] != 0) {
            HasAlpha = true;
            break;
          }
        }
      }
      break;
    }
    default:
      break;  // an unknown depth keeps the format it had
  }
  FDataState = kDataReady;
}

void TFlashImage::CountColors() {
  const TDIBitmap& b = *FBitmap;
  bool used[256] = {};
  for (std::int32_t y = 0; y < b.Rows(); ++y) {
    const std::uint8_t* row = b.Scanline(y);
    if (b.BitCount == 8) {
      for (std::int32_t x = 0; x < b.Width; ++x) used[row[x]] = true;
    } else {
      for (std::int32_t x = 0; x < b.Width; ++x) used[IndexAt(row, x, b.BitCount)] = true;
    }
  }
  ColorCount = 0;
  for (int i = 0; i < 256; ++i) {
    if (!used[i]) continue;
    FIndexMap[i] = static_cast<std::uint8_t>(ColorCount);
    FUsedIndex[ColorCount++] = static_cast<std::uint8_t>(i);
  }
}

// Repacks the bitmap's rows, top row first, into the pixel layout of the lossless bitmap tag.
void TFlashImage::Pack(std::vector<std::uint8_t>& raw) const {
  if (!FBitmap || FBitmap->Width == 0 || FBitmap->Rows() == 0 || !KnownDepth(FBitmap->BitCount))
    return;
  const TDIBitmap& b = *FBitmap;
  const std::int32_t rows = b.Rows();
  const std::size_t pad = PaddedWidth - Width;
  auto sourceRow = [&](std::int32_t y) { return b.Scanline(b.Height > 0 ? rows - 1 - y : y); };
  std::size_t size = 0;
  switch (BitmapFormat) {
    case kFormatIndexed:
      size = std::size_t(ColorCount) * (HasAlpha ? 4 : 3) + std::size_t(rows) * PaddedWidth;
      break;
    case kFormat16:
      size = std::size_t(rows) * PaddedWidth * 2;
      break;
    default:
      size = std::size_t(rows) * PaddedWidth * 4;
  }
  raw.assign(size, 0);
  std::uint8_t* out = raw.data();
  if (BitmapFormat == kFormatIndexed) {
    for (std::int32_t i = 0; i < ColorCount; ++i) {
      const std::size_t old = FUsedIndex[i];
      const TRGBQuad c = old < b.Palette.size() ? b.Palette[old] : TRGBQuad{};
      *out++ = c.Red;
      *out++ = c.Green;
      *out++ = c.Blue;
      if (HasAlpha) *out++ = c.Reserved;
    }
    const bool identity = ColorCount == 0 || FUsedIndex[ColorCount - 1] == ColorCount - 1;
    for (std::int32_t y = 0; y < rows; ++y, out += PaddedWidth) {
      const std::uint8_t* row = sourceRow(y);
      if (b.BitCount == 8 && identity) {
        std::memcpy(out, row, Width);
      } else if (b.BitCount == 8) {
        for (std::int32_t x = 0; x < Width; ++x) out[x] = FIndexMap[row[x]];
      } else {
        for (std::int32_t x = 0; x < Width; ++x) out[x] = FIndexMap[IndexAt(row, x, b.BitCount)];
      }
    }
    return;
  }
  const bool is565 = b.Compression == 3 && b.GreenMask == 0x07E0;
  for (std::int32_t y = 0; y < rows; ++y) {
    const std::uint8_t* row = sourceRow(y);
    switch (BitmapFormat) {
      case kFormat16:
        for (std::int32_t x = 0; x < Width; ++x, out += 2) {
          std::uint16_t v = static_cast<std::uint16_t>(row[2 * x] | (row[2 * x + 1] << 8));
          if (is565) v = To555(v);
          out[0] = static_cast<std::uint8_t>(v >> 8);
          out[1] = static_cast<std::uint8_t>(v);
        }
        out += 2 * pad;
        break;
      case kFormat24:
        for (std::int32_t x = 0; x < Width; ++x, out += 4, row += 3) {
          out[0] = 0xFF;
          out[1] = row[2];
          out[2] = row[1];
          out[3] = row[0];
        }
        break;
      case kFormat32Alpha:
        for (std::int32_t x = 0; x < Width; ++x, out += 4, row += 4) {
          const std::uint8_t a = HasAlpha ? row[3] : 0xFF;
          if (a == 0) continue;  // already four zero bytes
          out[0] = a;
          out[1] = row[2];
          out[2] = row[1];
          out[3] = row[0];
        }
        break;
    }
  }
}

void TFlashImage::MakeData() {
  if (!FData.empty() || IsJPEG()) return;
  std::vector<std::uint8_t> raw;
  Pack(raw);
  const TFlashMovie* movie = Owner();
  ZlibCompress(raw.data(), raw.size(), FData, movie ? movie->DeflateLevel : -1,
               movie ? movie->DeflateWriter : DefaultDeflateWriter());
  // The writer sized the buffer for the worst case; a movie holds many images, so each keeps
  // only what its data needs.
  FData.shrink_to_fit();
  FDataState = kDataReady;
  // The pixels now live in the data; the bitmap is not needed again.
  FBitmap.reset();
}

const std::vector<std::uint8_t>& TFlashImage::Data() {
  MakeData();
  return FData;
}

void TFlashImage::Assign(const TBasedSWFObject& source) {
  TFlashIDObject::Assign(source);
  const auto& s = static_cast<const TFlashImage&>(source);
  Width = s.Width;
  Height = s.Height;
  PaddedWidth = s.PaddedWidth;
  BitmapFormat = s.BitmapFormat;
  ColorCount = s.ColorCount;
  HasAlpha = s.HasAlpha;
  FBitmap = s.FBitmap ? std::make_unique<TDIBitmap>(*s.FBitmap) : nullptr;
  FJPEG = s.FJPEG;
  FIndexMap = s.FIndexMap;
  FUsedIndex = s.FUsedIndex;
  FData = s.FData;
  FDataState = s.FDataState;
}

void TFlashImage::WriteToStream(TBitsEngine& be) {
  if (IsJPEG()) {
    TSWFDefineBitsJPEG2 jpeg;
    jpeg.CharacterId = GetCharacterId();
    jpeg.OnDataWrite = [this](const TSWFDataObject&, TBitsEngine& out) {
      out.WriteBytes(FJPEG.data(), static_cast<std::int64_t>(FJPEG.size()));
    };
    jpeg.WriteToStream(be);
    return;
  }
  std::unique_ptr<TSWFDefineBitsLossless> tag;
  if (HasAlpha) {
    tag = std::make_unique<TSWFDefineBitsLossless2>();
  } else {
    tag = std::make_unique<TSWFDefineBitsLossless>();
  }
  tag->CharacterId = GetCharacterId();
  tag->BitmapFormat = BitmapFormat == kFormat32Alpha ? std::uint8_t{kFormat24} : BitmapFormat;
  tag->BitmapWidth = Width;
  tag->BitmapHeight = Height;
  if (BitmapFormat == kFormatIndexed) {
    tag->BitmapColorTableSize = static_cast<std::uint8_t>(ColorCount - 1);
  }
  tag->OnDataWrite = [this](const TSWFDataObject&, TBitsEngine& out) {
    MakeData();
    out.WriteBytes(FData.data(), static_cast<std::int64_t>(FData.size()));
  };
  tag->WriteToStream(be);
}

}  // namespace kestrova
