#include "media/ImageReader.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestrova {

namespace {

[[noreturn]] void Fail(const std::string& what) {
  throw EMediaError("BMP: " + what);
}

std::uint16_t Get16(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

std::uint32_t Get32(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
         static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

// The span of a mask from its lowest to its highest set bit.
std::uint8_t MaskWidth(std::uint32_t mask) {
  if (mask == 0) return 0;
  return static_cast<std::uint8_t>(32 - std::countl_zero(mask) - std::countr_zero(mask));
}

std::uint32_t LowBits(unsigned n) {
  return n >= 32 ? 0xFFFFFFFFu : (std::uint32_t{1} << n) - 1;
}

bool IsPaletted(std::uint16_t bitCount) {
  return bitCount == 1 || bitCount == 4 || bitCount == 8;
}

void CheckCompression(std::uint32_t compression, std::uint16_t bitCount) {
  const bool ok = compression == kBI_RGB || (compression == kBI_RLE8 && bitCount == 8) ||
                  (compression == kBI_RLE4 && bitCount == 4) ||
                  (compression == kBI_BITFIELDS && (bitCount == 16 || bitCount == 32));
  if (!ok) {
    Fail("compression " + std::to_string(compression) + " is not supported at " +
         std::to_string(bitCount) + " bits per pixel");
  }
}

// Pixel index access for the palette depths; col is within the row.
std::uint8_t GetIndex(const std::uint8_t* row, std::int32_t col, std::uint16_t bitCount) {
  switch (bitCount) {
    case 1:
      return (row[col >> 3] >> (7 - (col & 7))) & 1;
    case 4:
      return (col & 1) ? row[col >> 1] & 0x0F : row[col >> 1] >> 4;
    default:
      return row[col];
  }
}

void SetIndex(std::uint8_t* row, std::int32_t col, std::uint16_t bitCount, std::uint8_t v) {
  switch (bitCount) {
    case 1: {
      const std::uint8_t bit = static_cast<std::uint8_t>(0x80 >> (col & 7));
      row[col >> 3] = static_cast<std::uint8_t>(v ? row[col >> 3] | bit : row[col >> 3] & ~bit);
      break;
    }
    case 4: {
      std::uint8_t& b = row[col >> 1];
      b = (col & 1) ? static_cast<std::uint8_t>((b & 0xF0) | (v & 0x0F))
                    : static_cast<std::uint8_t>((b & 0x0F) | (v << 4));
      break;
    }
    default:
      row[col] = v;
  }
}

// One bit per possible colour value, for counting distinct values in one pass.
class TColorSet {
 public:
  explicit TColorSet(std::size_t values) : FWords((values + 63) / 64, 0) {}
  void Add(std::uint32_t v) {
    std::uint64_t& w = FWords[v >> 6];
    const std::uint64_t bit = std::uint64_t{1} << (v & 63);
    FCount += (w & bit) == 0;
    w |= bit;
  }
  std::uint32_t Count() const { return FCount; }

 private:
  std::vector<std::uint64_t> FWords;
  std::uint32_t FCount = 0;
};

}  // namespace

void TBMPReader::Clear() {
  FImage = TDIBitmap{};
  FRowPadding = 0;
  FSourceCompression = 0;
  FShortfall.clear();
  FClaim.Reset();
  FBBits = FGBits = FRBits = 0;
}

std::uint64_t TBMPReader::PixelBytes(std::int32_t width, std::int32_t height,
                                     std::uint16_t bitCount) {
  const std::uint64_t rows =
      static_cast<std::uint64_t>(std::abs(static_cast<std::int64_t>(height)));
  // Row counts out of range are left to Allocate, whose message says so.
  if (rows == 0 || rows > TDIBitmap::kMaxDimension) return 0;
  return static_cast<std::uint64_t>(TDIBitmap::StrideFor(width, bitCount)) * rows;
}

TBudgetClaim TBMPReader::ClaimPixels(std::int32_t width, std::int32_t height,
                                     std::uint16_t bitCount) const {
  return TBudgetClaim(*Budget, PixelBytes(width, height, bitCount),
                      "BMP: a picture of " + std::to_string(width) + "x" +
                          std::to_string(std::abs(static_cast<std::int64_t>(height))) + " at " +
                          std::to_string(bitCount) + " bits per pixel");
}

void TBMPReader::CheckFormat(std::int32_t width, std::uint8_t& bBits, std::uint8_t& gBits,
                             std::uint8_t& rBits, std::uint16_t bitCount, std::int32_t height) {
  const bool bitFields = bBits != 0 || gBits != 0 || rBits != 0;
  if (bitFields && bitCount != 16 && bitCount != 32) {
    Fail("channel widths are only for 16 and 32 bits per pixel, not " + std::to_string(bitCount));
  }
  if (!bitFields && bitCount == 16) bBits = gBits = rBits = 5;
  if (!bitFields && bitCount == 32) bBits = gBits = rBits = 8;
  if (bBits + gBits + rBits > bitCount) {
    Fail("channel widths " + std::to_string(bBits) + "+" + std::to_string(gBits) + "+" +
         std::to_string(rBits) + " do not fit " + std::to_string(bitCount) + " bits per pixel");
  }
  try {
    TDIBitmap::StrideFor(width, bitCount);
  } catch (const std::invalid_argument& e) {
    Fail(e.what());
  }
  const std::int64_t rows = std::abs(static_cast<std::int64_t>(height));
  if (rows == 0 || rows > TDIBitmap::kMaxDimension) {
    Fail("bitmap height out of range: " + std::to_string(height));
  }
}

void TBMPReader::SetFormat(std::span<const std::uint8_t> data, std::int32_t width,
                           std::uint8_t bBits, std::uint8_t gBits, std::uint8_t rBits,
                           std::uint16_t bitCount, std::int32_t height) {
  const bool bitFields = bBits != 0 || gBits != 0 || rBits != 0;
  try {
    CheckFormat(width, bBits, gBits, rBits, bitCount, height);
  } catch (...) {
    Clear();
    throw;
  }
  const bool same = data.empty() && !FImage.Bits.empty() && width == FImage.Width &&
                    height == FImage.Height && bitCount == FImage.BitCount && bBits == FBBits &&
                    gBits == FGBits && rBits == FRBits;
  if (!same) {
    FClaim.Reset();
    try {
      FClaim = ClaimPixels(width, height, bitCount);
      FImage.Allocate(width, height, bitCount);
    } catch (const std::invalid_argument& e) {
      Clear();
      Fail(e.what());
    } catch (...) {
      Clear();
      throw;
    }
  }
  FImage.Compression = bitFields ? kBI_BITFIELDS : kBI_RGB;
  FBBits = bBits;
  FGBits = gBits;
  FRBits = rBits;
  const bool masked = bitCount == 16 || bitCount == 32;
  FImage.BlueMask = masked ? LowBits(bBits) : 0;
  FImage.GreenMask = masked ? LowBits(gBits + bBits) & ~FImage.BlueMask : 0;
  FImage.RedMask = masked ? LowBits(rBits + gBits + bBits) & ~LowBits(gBits + bBits) : 0;
  const std::int64_t used = (static_cast<std::int64_t>(width) * bitCount + 7) / 8;
  FRowPadding = FImage.BytesPerLine - static_cast<std::int32_t>(used);
  if (IsPaletted(bitCount)) {
    FImage.Palette.resize(std::size_t{1} << bitCount);
  } else {
    FImage.Palette.clear();
  }
  if (!data.empty()) {
    if (data.size() < FImage.Bits.size()) {
      const std::size_t need = FImage.Bits.size();
      Clear();
      Fail("pixel data of " + std::to_string(data.size()) + " bytes is shorter than the " +
           std::to_string(need) + " bytes of the picture");
    }
    std::copy_n(data.begin(), FImage.Bits.size(), FImage.Bits.begin());
  }
}

void TBMPReader::SetSize(std::int32_t width, std::int32_t height, std::uint16_t bitCount) {
  if (bitCount == 0) {
    SetFormat({}, width, 8, 8, 8, kScreenBitCount, height);
  } else {
    SetFormat({}, width, 0, 0, 0, bitCount, height);
  }
}

void TBMPReader::HeaderChannels(const TBitmapInfo& info, std::uint8_t& b, std::uint8_t& g,
                                std::uint8_t& r) {
  CheckCompression(info.Compression, info.BitCount);
  b = g = r = 0;
  if (info.Compression == kBI_BITFIELDS) {
    const std::uint32_t all = info.RedMask | info.GreenMask | info.BlueMask;
    const int sum =
        std::popcount(info.RedMask) + std::popcount(info.GreenMask) + std::popcount(info.BlueMask);
    if (sum != std::popcount(all) || (info.BitCount == 16 && all > 0xFFFF)) {
      Fail("bit-field masks overlap or exceed the pixel");
    }
    b = MaskWidth(info.BlueMask);
    g = MaskWidth(info.GreenMask);
    r = MaskWidth(info.RedMask);
  }
}

void TBMPReader::SetFormatFromHeader(const TBitmapInfo& info, std::span<const TRGBQuad> colours) {
  Clear();
  std::uint8_t b = 0, g = 0, r = 0;
  HeaderChannels(info, b, g, r);
  SetFormat({}, info.Width, b, g, r, info.BitCount, info.Height);
  if (IsPaletted(info.BitCount)) {
    const std::size_t n = std::min(colours.size(), FImage.Palette.size());
    std::copy_n(colours.begin(), n, FImage.Palette.begin());
    for (TRGBQuad& q : FImage.Palette) q.Reserved = 255;
  }
}

std::uint8_t* TBMPReader::Scanlines(std::int32_t row) {
  if (row < 0 || row >= FImage.Rows()) throw std::out_of_range("row out of range");
  return FImage.Scanline(row);
}

const std::uint8_t* TBMPReader::Scanlines(std::int32_t row) const {
  if (row < 0 || row >= FImage.Rows()) throw std::out_of_range("row out of range");
  return FImage.Scanline(row);
}

void TBMPReader::RepackBitFields(const TBitmapInfo& info) {
  // Masks that are all zero leave the pixels plain.
  if (FImage.Compression != kBI_BITFIELDS) return;
  if (info.RedMask == FImage.RedMask && info.GreenMask == FImage.GreenMask &&
      info.BlueMask == FImage.BlueMask) {
    return;
  }
  struct TChannel {
    std::uint32_t Mask;
    int Low;
    std::uint32_t Keep;
    int To;
  };
  auto channel = [](std::uint32_t mask, std::uint8_t width, int to) {
    return TChannel{mask, mask ? std::countr_zero(mask) : 0, LowBits(width), to};
  };
  const std::array<TChannel, 3> ch{channel(info.BlueMask, FBBits, 0),
                                   channel(info.GreenMask, FGBits, FBBits),
                                   channel(info.RedMask, FRBits, FBBits + FGBits)};
  const int bytes = FImage.BitCount / 8;
  for (std::int32_t y = 0; y < FImage.Rows(); ++y) {
    std::uint8_t* p = FImage.Scanline(y);
    for (std::int32_t x = 0; x < FImage.Width; ++x, p += bytes) {
      std::uint32_t v = 0;
      for (int i = bytes - 1; i >= 0; --i) v = v << 8 | p[i];
      // 64 bits: a channel may start at bit 32 when the channels before fill the pixel.
      std::uint64_t out = 0;
      for (const TChannel& c : ch) {
        out |= static_cast<std::uint64_t>((v & c.Mask) >> c.Low & c.Keep) << c.To;
      }
      for (int i = 0; i < bytes; ++i) p[i] = static_cast<std::uint8_t>(out >> (8 * i));
    }
  }
}

// Run-length data that ends early or points past the last row stops the decoding; runs and
// literals are clipped at the right edge so nothing is written outside its row.
void TBMPReader::DecodeRLE(std::span<const std::uint8_t> d, bool fourBits) {
  const std::uint16_t bits = fourBits ? 4 : 8;
  const std::int32_t rows = FImage.Rows(), width = FImage.Width;
  std::int32_t row = 0, col = 0;
  std::size_t i = 0;
  const std::size_t n = d.size();
  while (i + 1 < n && row < rows) {
    const std::uint8_t a = d[i], b = d[i + 1];
    i += 2;
    std::uint8_t* line = FImage.Scanline(row);
    if (a > 0 && !fourBits) {
      const std::int32_t count = std::min<std::int32_t>(a, width - col);
      std::fill_n(line + col, count, b);
      col += count;
    } else if (a > 0) {
      for (int k = 0; k < a && col < width; ++k, ++col) {
        SetIndex(line, col, bits, fourBits ? ((k & 1) ? b & 0x0F : b >> 4) : b);
      }
    } else if (b == 0) {
      ++row;
      col = 0;
    } else if (b == 1) {
      break;
    } else if (b == 2) {
      if (i + 1 >= n) break;
      col = std::min(col + d[i], width);
      row += d[i + 1];
      i += 2;
    } else {
      const std::size_t bytes = fourBits ? (b + 1u) / 2 : b;
      const std::size_t have = std::min(bytes, n - i);
      if (!fourBits) {
        const std::int32_t count =
            std::min<std::int32_t>(static_cast<std::int32_t>(have), width - col);
        std::copy_n(d.begin() + static_cast<std::ptrdiff_t>(i), count, line + col);
        col += count;
        i += bytes + (bytes & 1);
        continue;
      }
      for (int k = 0; k < b && col < width; ++k, ++col) {
        const std::size_t at = fourBits ? static_cast<std::size_t>(k) / 2 : k;
        if (at >= have) break;
        const std::uint8_t v = d[i + at];
        SetIndex(line, col, bits, fourBits ? ((k & 1) ? v & 0x0F : v >> 4) : v);
      }
      i += bytes + (bytes & 1);
    }
  }
}

namespace {

// What run-length data lacks to describe a whole picture: it must reach an end-of-picture
// marker, or an end of line on the last row, before its bytes run out. Empty when complete.
std::string RunLengthShortfall(std::span<const std::uint8_t> d, std::int64_t rows, bool fourBits) {
  const std::size_t n = d.size();
  std::size_t i = 0;
  std::int64_t row = 0;
  auto cut = [&](const std::string& where) {
    return "run-length data stops " + (where.empty() ? "" : where + " ") + "at row " +
           std::to_string(row) + " of " + std::to_string(rows) + " (byte " + std::to_string(i) +
           " of " + std::to_string(n) + ") without an end-of-picture marker";
  };
  while (row < rows) {
    if (i + 2 > n) return cut("");
    const std::uint8_t a = d[i], b = d[i + 1];
    i += 2;
    if (a > 0) continue;
    if (b == 0) {
      ++row;
    } else if (b == 1) {
      return "";
    } else if (b == 2) {
      if (i + 2 > n) return cut("inside a move");
      row += d[i + 1];
      i += 2;
    } else {
      const std::size_t bytes = fourBits ? (b + 1u) / 2 : b;
      if (i + bytes > n) return cut("inside " + std::to_string(b) + " literal pixels");
      i += std::min(bytes + (bytes & 1), n - i);
    }
  }
  return "";
}

}  // namespace

void TBMPReader::LoadHeaderAndPixels(TStream& stream, bool pixels) {
  const std::uint64_t start = stream.Position();
  const std::uint64_t fileSize = stream.Size() > start ? stream.Size() - start : 0;
  std::array<std::uint8_t, 14 + 124 + 1024> area{};
  const std::size_t got = stream.Read(
      area.data(), static_cast<std::size_t>(std::min<std::uint64_t>(area.size(), fileSize)));
  const std::span<const std::uint8_t> h(area);
  if (got < 2 || area[0] != 'B' || area[1] != 'M') Fail("not a BMP file (no \"BM\" at offset 0)");
  if (got < 26) Fail("file of " + std::to_string(got) + " bytes is too short for a BMP header");
  const std::uint32_t headerSize = Get32(h, 14);
  TBitmapInfo info;
  std::size_t tableAt = 14 + headerSize, entrySize = 4, entries = 0;
  if (headerSize == 12) {
    info.Width = Get16(h, 18);
    info.Height = Get16(h, 20);
    info.BitCount = Get16(h, 24);
    entrySize = 3;
    if (IsPaletted(info.BitCount)) entries = std::size_t{1} << info.BitCount;
  } else if (headerSize == 40 || headerSize == 52 || headerSize == 56 || headerSize == 108 ||
             headerSize == 124) {
    if (got < 14 + headerSize)
      Fail("file is too short for its " + std::to_string(headerSize) + "-byte info header");
    info.Width = static_cast<std::int32_t>(Get32(h, 18));
    info.Height = static_cast<std::int32_t>(Get32(h, 22));
    info.BitCount = Get16(h, 28);
    info.Compression = Get32(h, 30);
    if (info.Compression == kBI_BITFIELDS) {
      // The masks follow a 40-byte header and are part of the longer ones.
      if (headerSize == 40) tableAt += 12;
      if (got < 14 + 40 + 12) Fail("file is too short for its bit-field masks");
      info.RedMask = Get32(h, 54);
      info.GreenMask = Get32(h, 58);
      info.BlueMask = Get32(h, 62);
    }
    const std::uint32_t used = Get32(h, 46);
    if (IsPaletted(info.BitCount)) {
      entries = std::size_t{1} << info.BitCount;
      if (used != 0 && used < entries) entries = used;
    }
  } else {
    Fail("info header size " + std::to_string(headerSize) + " at offset 14 is not supported");
  }
  std::vector<TRGBQuad> colours;
  const std::size_t avail = got > tableAt ? (got - tableAt) / entrySize : 0;
  for (std::size_t k = 0; k < std::min(entries, avail); ++k) {
    const std::size_t at = tableAt + k * entrySize;
    colours.push_back(TRGBQuad{area[at], area[at + 1], area[at + 2], 0});
  }
  const std::uint32_t offset = Get32(h, 10);
  std::string shortfall;
  const std::string table = "the colour table of " + std::to_string(entries) + " entries needs " +
                            std::to_string(entries * entrySize) + " bytes from offset " +
                            std::to_string(tableAt);
  if (avail < entries) {
    shortfall = table + ", the file has " + std::to_string(got > tableAt ? got - tableAt : 0);
  } else if (entries > 0 && offset < tableAt + entries * entrySize) {
    shortfall = table + ", the pixel data starts at offset " + std::to_string(offset);
  }
  if (offset < 14 + headerSize) {
    Fail("pixel data offset " + std::to_string(offset) + " (offset 10) lies inside the header");
  }
  if (offset > fileSize) {
    Fail("pixel data offset " + std::to_string(offset) + " (offset 10) is past the end of the " +
         std::to_string(fileSize) + "-byte file");
  }
  const bool runLength = info.Compression == kBI_RLE8 || info.Compression == kBI_RLE4;
  std::uint64_t length = fileSize - offset;
  std::vector<std::uint8_t> runs;
  TBudgetClaim runsClaim;
  if (runLength) {
    // The file size field bounds the run-length data when it is believable.
    const std::uint32_t claimed = Get32(h, 2);
    if (claimed > offset && claimed < fileSize) length = claimed - offset;
    runsClaim = TBudgetClaim(*Budget, length, "BMP: run-length data");
    stream.SetPosition(start + offset);
    runs = stream.ReadBytes(static_cast<std::size_t>(length));
    const std::string cut = RunLengthShortfall(
        runs, std::abs(static_cast<std::int64_t>(info.Height)), info.Compression == kBI_RLE4);
    if (shortfall.empty()) shortfall = cut;
  } else if (info.Width > 0 && info.Width <= TDIBitmap::kMaxDimension &&
             (IsPaletted(info.BitCount) || info.BitCount == 16 || info.BitCount == 24 ||
              info.BitCount == 32)) {
    const std::uint64_t need =
        static_cast<std::uint64_t>(TDIBitmap::StrideFor(info.Width, info.BitCount)) *
        static_cast<std::uint64_t>(std::abs(static_cast<std::int64_t>(info.Height)));
    if (length < need && shortfall.empty()) {
      shortfall = "the pixel rows need " + std::to_string(need) + " bytes from offset " +
                  std::to_string(offset) + ", the file has " + std::to_string(length);
    }
  }
  if (RequireComplete && !shortfall.empty()) Fail("cut short: " + shortfall);

  if (!pixels) {
    // The checks a load makes before it allocates, without the allocation.
    std::uint8_t b = 0, g = 0, r = 0;
    HeaderChannels(info, b, g, r);
    CheckFormat(info.Width, b, g, r, info.BitCount, info.Height);
    const TBudgetClaim claim = ClaimPixels(info.Width, info.Height, info.BitCount);
    if (claim.Bytes() > TDIBitmap::kMaxBytes) {
      Fail("bitmap of " + std::to_string(claim.Bytes()) + " bytes is too large");
    }
    FShortfall = shortfall;
    return;
  }
  SetFormatFromHeader(info, colours);
  FSourceCompression = info.Compression;
  FShortfall = shortfall;
  if (runLength) {
    DecodeRLE(runs, info.Compression == kBI_RLE4);
  } else {
    stream.SetPosition(start + offset);
    length = std::min<std::uint64_t>(length, FImage.Bits.size());
    stream.ReadBuffer(FImage.Bits.data(), static_cast<std::size_t>(length));
    if (info.Compression == kBI_BITFIELDS) RepackBitFields(info);
  }
}

void TBMPReader::LoadFromStream(TStream& stream) {
  try {
    LoadHeaderAndPixels(stream, true);
  } catch (...) {
    Clear();
    throw;
  }
}

void TBMPReader::CheckStream(TStream& stream) {
  Clear();
  try {
    LoadHeaderAndPixels(stream, false);
  } catch (...) {
    Clear();
    throw;
  }
}

namespace {

// Runs a load on the named file; errors name it.
template <class F>
void WithFile(const std::string& fileName, F load) {
  TFileStream file(fileName, TFileStream::Mode::Read);
  try {
    load(file);
  } catch (const EMediaError& e) {
    throw EMediaError(fileName + ": " + e.what());
  } catch (const EStreamError& e) {
    throw EStreamError(fileName + ": " + e.what());
  }
}

}  // namespace

void TBMPReader::LoadFromFile(const std::string& fileName) {
  WithFile(fileName, [this](TStream& s) { LoadFromStream(s); });
}

void TBMPReader::CheckFile(const std::string& fileName) {
  WithFile(fileName, [this](TStream& s) { CheckStream(s); });
}

void TBMPReader::LoadFromHandle(const TDIBitmap& source) {
  Clear();
  try {
    TBitmapInfo info{source.Width,   source.Height,    source.BitCount, source.Compression,
                     source.RedMask, source.GreenMask, source.BlueMask};
    SetFormatFromHeader(info, {});
    FSourceCompression = source.Compression;
    // A copy keeps the colour table as it is, fourth bytes included.
    const std::size_t n = std::min(source.Palette.size(), FImage.Palette.size());
    std::copy_n(source.Palette.begin(), n, FImage.Palette.begin());
    if (source.Compression == kBI_RLE8 || source.Compression == kBI_RLE4) {
      DecodeRLE(source.Bits, source.Compression == kBI_RLE4);
      return;
    }
    if (source.BytesPerLine != FImage.BytesPerLine) {
      Fail("row stride " + std::to_string(source.BytesPerLine) + " does not match width " +
           std::to_string(source.Width) + " at " + std::to_string(source.BitCount) +
           " bits per pixel (" + std::to_string(FImage.BytesPerLine) + " expected)");
    }
    if (source.Bits.size() < FImage.Bits.size()) {
      Fail("pixel buffer of " + std::to_string(source.Bits.size()) + " bytes is shorter than " +
           std::to_string(FImage.Bits.size()) + " bytes of rows");
    }
    std::copy_n(source.Bits.begin(), FImage.Bits.size(), FImage.Bits.begin());
    if (source.Compression == kBI_BITFIELDS) RepackBitFields(info);
  } catch (...) {
    Clear();
    throw;
  }
}

std::uint32_t TBMPReader::GetColorCount() {
  const std::int32_t rows = FImage.Rows(), width = FImage.Width;
  const std::uint16_t bits = FImage.BitCount;
  if (FImage.Bits.empty()) return 0;
  if (IsPaletted(bits)) {
    const std::uint32_t all = 1u << bits;
    std::array<bool, 256> used{};
    std::uint32_t count = 0;
    for (std::int32_t y = 0; y < rows && count < all; ++y) {
      const std::uint8_t* line = FImage.Scanline(y);
      for (std::int32_t x = 0; x < width; ++x) {
        const std::uint8_t v = GetIndex(line, x, bits);
        count += !used[v];
        used[v] = true;
      }
    }
    if (count == all) return count;
    std::array<std::uint8_t, 256> map{};
    std::uint8_t next = 0;
    for (std::uint32_t v = 0; v < all; ++v) {
      if (!used[v]) continue;
      map[v] = next;
      FImage.Palette[next++] = FImage.Palette[v];
    }
    for (std::int32_t y = 0; y < rows; ++y) {
      std::uint8_t* line = FImage.Scanline(y);
      for (std::int32_t x = 0; x < width; ++x)
        SetIndex(line, x, bits, map[GetIndex(line, x, bits)]);
    }
    return count;
  }
  const int bytes = bits / 8;
  TColorSet set(bits == 16 ? std::size_t{1} << 16 : std::size_t{1} << 24);
  for (std::int32_t y = 0; y < rows; ++y) {
    const std::uint8_t* p = FImage.Scanline(y);
    for (std::int32_t x = 0; x < width; ++x, p += bytes) {
      // The first three bytes of a 32-bit pixel: its fourth byte is not part of the colour.
      set.Add(bytes == 2 ? static_cast<std::uint32_t>(p[0] | p[1] << 8)
                         : static_cast<std::uint32_t>(p[0] | p[1] << 8 | p[2] << 16));
    }
  }
  return set.Count();
}

bool GetJPEGSize(TStream& stream, std::int32_t& width, std::int32_t& height) {
  try {
    std::uint8_t b[2];
    if (stream.Read(b, 2) != 2 || b[0] != 0xFF || b[1] != 0xD8) return false;
    std::uint8_t c = 0;
    if (stream.Read(&c, 1) != 1 || c != 0xFF) return false;
    for (;;) {
      // c is 0xFF here: the marker code follows, after any fill bytes.
      do {
        if (stream.Read(&c, 1) != 1) return false;
      } while (c == 0xFF);
      if (c == 0x01 || (c >= 0xD0 && c <= 0xD7)) {
        if (stream.Read(&c, 1) != 1 || c != 0xFF) return false;
        continue;
      }
      std::uint8_t len[2];
      if (stream.Read(len, 2) != 2) return false;
      const std::uint32_t length = static_cast<std::uint32_t>(len[0] << 8 | len[1]);
      if (c == 0xC0 || c == 0xC1) {
        std::uint8_t f[5];
        if (length < 8 || stream.Read(f, 5) != 5) return false;
        height = f[1] << 8 | f[2];
        width = f[3] << 8 | f[4];
        return true;
      }
      if (length < 2) return false;
      const std::uint64_t next = stream.Position() + (length - 2);
      if (next >= stream.Size()) return false;
      stream.SetPosition(next);
      if (stream.Read(&c, 1) != 1 || c != 0xFF) return false;
    }
  } catch (const EStreamError&) {
    return false;
  }
}

bool GetJPEGSize(std::span<const std::uint8_t> bytes, std::int32_t& width, std::int32_t& height) {
  TMemoryStream m(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
  return GetJPEGSize(m, width, height);
}

bool GetJPEGSize(const std::string& fileName, std::int32_t& width, std::int32_t& height) {
  TFileStream file(fileName, TFileStream::Mode::Read);
  return GetJPEGSize(file, width, height);
}

}  // namespace kestrova

namespace kestrova {

namespace {

// Bytes of a stream read forward through a buffer of fixed size.
class TForwardReader {
 public:
  explicit TForwardReader(TStream& stream)
      : FStream(stream), FBuffer(std::size_t{1} << 16), FBase(stream.Position()) {}
  // The next byte; false at the end of the stream.
  bool Next(std::uint8_t& b) {
    if (FAt == FHave) {
      FBase += FHave;
      FHave = FStream.Read(FBuffer.data(), FBuffer.size());
      FAt = 0;
      if (FHave == 0) return false;
    }
    b = FBuffer[FAt++];
    return true;
  }
  // Skips count bytes; false when the stream ends first.
  bool Skip(std::uint64_t count) {
    const std::uint64_t target = Offset() + count;
    if (target > FStream.Size()) return false;
    FStream.SetPosition(target);
    FBase = target;
    FAt = FHave = 0;
    return true;
  }
  std::uint64_t Offset() const { return FBase + FAt; }

 private:
  TStream& FStream;
  std::vector<std::uint8_t> FBuffer;
  std::uint64_t FBase;
  std::size_t FAt = 0, FHave = 0;
};

[[noreturn]] void FailJPEG(const std::string& what) {
  throw EMediaError("JPEG: " + what);
}

// A marker segment's length field; false at the end of the stream.
bool SegmentLength(TForwardReader& in, std::uint32_t& length) {
  std::uint8_t hi = 0, lo = 0;
  if (!in.Next(hi) || !in.Next(lo)) return false;
  length = static_cast<std::uint32_t>(hi << 8 | lo);
  return true;
}

}  // namespace

void CheckJPEGComplete(TStream& stream) {
  const std::uint64_t start = stream.Position();
  TForwardReader in(stream);
  std::uint8_t b = 0, c = 0;
  if (!in.Next(b) || !in.Next(c) || b != 0xFF || c != 0xD8) FailJPEG("no start-of-image marker");
  bool frame = false, scan = false;
  for (;;) {
    // Outside a scan the next byte starts a marker; inside one, markers are found among the
    // entropy-coded bytes, where 0xFF 0x00 is a data byte and 0xFF 0xD0 to 0xD7 restart markers.
    if (!in.Next(b)) break;
    if (b != 0xFF) {
      if (scan) continue;
      FailJPEG("a byte that starts no marker at offset " + std::to_string(in.Offset() - 1 - start));
    }
    bool ended = false;
    do {
      ended = !in.Next(c);
    } while (!ended && c == 0xFF);
    if (ended) break;
    if (c == 0x00 || (c >= 0xD0 && c <= 0xD7) || c == 0x01) continue;
    if (c == 0xD9) {
      if (!frame) FailJPEG("ends before its frame header");
      if (!scan) FailJPEG("ends after its frame header without scan data");
      return;
    }
    const std::uint64_t at = in.Offset() - 2 - start;
    std::uint32_t length = 0;
    if (!SegmentLength(in, length) || length < 2 || !in.Skip(length - 2)) {
      static constexpr char kHex[] = "0123456789ABCDEF";
      FailJPEG("cut short inside the segment of marker 0xFF" +
               std::string{kHex[c >> 4], kHex[c & 15]} + " at offset " + std::to_string(at));
    }
    if (c >= 0xC0 && c <= 0xCF && c != 0xC4 && c != 0xC8 && c != 0xCC) frame = true;
    if (c == 0xDA) {
      if (!frame) FailJPEG("scan data before any frame header at offset " + std::to_string(at));
      scan = true;
    }
  }
  if (!frame) FailJPEG("cut short before its frame header");
  if (!scan) FailJPEG("cut short after its frame header: no scan data and no end-of-image marker");
  FailJPEG("cut short in its scan data: no end-of-image marker");
}

void CheckJPEGComplete(const std::string& fileName) {
  TFileStream file(fileName, TFileStream::Mode::Read);
  try {
    CheckJPEGComplete(file);
  } catch (const EMediaError& e) {
    throw EMediaError(fileName + ": " + e.what());
  }
}

}  // namespace kestrova
