// The BMP reader (a device-independent bitmap in memory that loads BMP files and copies other
// bitmaps) and the size of a JPEG file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "media/DIBitmap.h"
#include "media/MediaBudget.h"
#include "media/MediaError.h"
#include "swftools/Stream.h"

namespace kestrova {

// BMP compression codes.
inline constexpr std::uint32_t kBI_RGB = 0;
inline constexpr std::uint32_t kBI_RLE8 = 1;
inline constexpr std::uint32_t kBI_RLE4 = 2;
inline constexpr std::uint32_t kBI_BITFIELDS = 3;

// What a BMP info header says about a picture, with the bit-field masks that follow it.
struct TBitmapInfo {
  std::int32_t Width = 0;
  std::int32_t Height = 0;  // negative: top-down rows
  std::uint16_t BitCount = 0;
  std::uint32_t Compression = kBI_RGB;
  std::uint32_t RedMask = 0, GreenMask = 0, BlueMask = 0;  // bit fields only
};

// One picture held in memory as a TDIBitmap, rows in the order a BMP file stores them (with a
// positive Height row 0 is the bottom row). Run-length files are held decoded, and bit-field
// pictures are held with contiguous channels: blue in the low bits, then green, then red (a file
// whose masks are laid out otherwise has its pixels repacked on load), so that every consumer
// reads one layout. Pixels always belong to the reader.
class TBMPReader {
 public:
  // Bits per pixel that SetSize takes for a BitCount of 0. There is no screen to ask in memory;
  // 32 bits with 8-bit channels loses nothing of any screen's colours.
  static constexpr std::uint16_t kScreenBitCount = 32;
  // BMP files are read only up to this many bytes of header and colour table.
  static constexpr std::size_t kHeaderArea = 14 + 40 + 1024;

  TBMPReader() = default;

  // The budget the pixels are counted against, for as long as the reader holds them (pixels
  // moved out of Image() leave it), and run-length data while it is decoded: a picture that
  // does not fit is refused before anything is allocated (a few header bytes can claim a
  // gigabyte). Not owned; it must outlive the reader's pixels.
  TMediaBudget* Budget = &TMediaBudget::Default();
  // A file cut short (see Shortfall) is refused with EMediaError instead of loaded with its
  // missing pixels zero.
  bool RequireComplete = false;

  // Prepares a picture of the given format. data, when not empty, is copied into the pixels
  // (it must hold at least ImageSize() bytes); when empty, the pixels are kept if the format is
  // the current one and otherwise allocated zeroed. Non-zero channel widths (16 and 32 bits)
  // make the compression bit fields, with masks built from the widths; all widths 0 mean plain
  // pixels (5-5-5 for 16 bits, 8-8-8 for 32). Throws EMediaError for a size or bit count out of
  // range or widths that do not fit the pixel; the reader is then empty.
  void SetFormat(std::span<const std::uint8_t> data, std::int32_t width, std::uint8_t bBits,
                 std::uint8_t gBits, std::uint8_t rBits, std::uint16_t bitCount,
                 std::int32_t height);
  // SetFormat without data and channel widths; a bitCount of 0 means kScreenBitCount with
  // 8-bit channels (bit fields). Throws as SetFormat.
  void SetSize(std::int32_t width, std::int32_t height, std::uint16_t bitCount);

  // Takes the format a BMP header gives: run-length compression means pixels held decoded
  // (compression plain); for bit fields the channel widths are the spans of the masks; for 8
  // bits or fewer the colours (at most 2^BitCount are taken, missing ones are black) become the
  // colour table with the fourth byte of each entry 255. Pixels are allocated zeroed. Throws as
  // SetFormat, and EMediaError for a compression the bit count cannot have or overlapping masks.
  void SetFormatFromHeader(const TBitmapInfo& info, std::span<const TRGBQuad> colours);

  // Reads a BMP file: uncompressed 1, 4, 8, 16, 24 and 32 bits, RLE8, RLE4, bit fields, the
  // 12-byte core header and the 40-byte header with its later extensions (52, 56, 108 and 124
  // bytes, whose extra fields are ignored but whose masks are used), bottom-up and top-down.
  // Pixels that a short file or run-length data leaves uncovered are zero. Throws EMediaError
  // for anything else or a damaged header (naming the field and offset), EStreamError when the
  // stream cannot be read; the reader is then empty.
  void LoadFromStream(TStream& stream);
  // Opens the file and calls LoadFromStream. Throws as LoadFromStream; messages name the file.
  void LoadFromFile(const std::string& fileName);
  // What the file last loaded or checked lacks: a colour table, pixel rows or run-length data
  // cut short (the file and the bytes it has are named). Empty when it was complete.
  const std::string& Shortfall() const { return FShortfall; }
  // Reads and checks the header, colour table and run-length data as LoadFromStream does,
  // without allocating the pixels (the budget is still asked). The reader is left empty but
  // for Shortfall. Throws as LoadFromStream.
  void CheckStream(TStream& stream);
  // Opens the file and calls CheckStream. Throws as CheckStream; messages name the file.
  void CheckFile(const std::string& fileName);
  // Copies a bitmap, decoding its Bits as run-length data when its Compression is RLE8 or RLE4
  // (then Bits is the encoded data and BytesPerLine is ignored). Throws EMediaError when the
  // bitmap contradicts itself (stride, buffer size, palette size, masks); the reader is then
  // empty.
  void LoadFromHandle(const TDIBitmap& source);

  // The number of distinct colours of the pixels. For 8 bits or fewer, when fewer than all
  // entries are used, the used colour-table entries move to the front in index order and the
  // pixels are renumbered to match (row padding untouched). 0 when empty.
  std::uint32_t GetColorCount();

  // Frees the pixels; the reader is empty as after construction.
  void Clear();

  // The picture. The reader owns it; the reference lives as long as the reader.
  const TDIBitmap& Image() const { return FImage; }
  TDIBitmap& Image() { return FImage; }

  std::int32_t Width() const { return FImage.Width; }
  std::int32_t Height() const { return FImage.Height; }
  std::int32_t Rows() const { return FImage.Rows(); }
  std::uint16_t BitCount() const { return FImage.BitCount; }
  std::uint32_t Compression() const { return FImage.Compression; }
  // The compression of the file or bitmap last loaded (Compression() is what the reader holds:
  // run-length data is held decoded).
  std::uint32_t SourceCompression() const { return FSourceCompression; }
  std::int32_t BytesPerLine() const { return FImage.BytesPerLine; }
  // Stride minus the bytes the pixels of a row use.
  std::int32_t RowPadding() const { return FRowPadding; }
  // Rows() * BytesPerLine().
  std::uint32_t ImageSize() const { return static_cast<std::uint32_t>(FImage.Bits.size()); }
  std::uint8_t* Bits() { return FImage.Bits.data(); }
  const std::uint8_t* Bits() const { return FImage.Bits.data(); }
  // Row i of the pixels, in stored order. Throws std::out_of_range for a row outside the picture.
  std::uint8_t* Scanlines(std::int32_t row);
  const std::uint8_t* Scanlines(std::int32_t row) const;
  // The colour table: 2^BitCount entries for 8 bits or fewer, empty above.
  std::vector<TRGBQuad>& Palette() { return FImage.Palette; }
  const std::vector<TRGBQuad>& Palette() const { return FImage.Palette; }
  // Channel widths of 16 and 32-bit pixels, and 8 minus each (0 for widths above 7).
  std::uint8_t BBits() const { return FBBits; }
  std::uint8_t GBits() const { return FGBits; }
  std::uint8_t RBits() const { return FRBits; }
  std::uint8_t BShift() const { return Shift(FBBits); }
  std::uint8_t GShift() const { return Shift(FGBits); }
  std::uint8_t RShift() const { return Shift(FRBits); }

 private:
  static std::uint8_t Shift(std::uint8_t bits) {
    return bits > 7 ? 0 : static_cast<std::uint8_t>(8 - bits);
  }
  // Throws EMediaError for channel widths that do not fit the pixel or a size or bit count out
  // of range; widths all 0 become those of plain 16 and 32-bit pixels.
  static void CheckFormat(std::int32_t width, std::uint8_t& bBits, std::uint8_t& gBits,
                          std::uint8_t& rBits, std::uint16_t bitCount, std::int32_t height);
  // The channel widths a header's masks give. Throws EMediaError for a compression the bit count
  // cannot have or masks that overlap.
  static void HeaderChannels(const TBitmapInfo& info, std::uint8_t& b, std::uint8_t& g,
                             std::uint8_t& r);
  // Bytes of the rows of a picture; 0 for a row count out of range (Allocate refuses it).
  // Throws std::invalid_argument for a width or bit count out of range.
  static std::uint64_t PixelBytes(std::int32_t width, std::int32_t height, std::uint16_t bitCount);
  // Claims the pixels of a picture from Budget. Throws EMediaError when they do not fit,
  // std::invalid_argument as PixelBytes.
  TBudgetClaim ClaimPixels(std::int32_t width, std::int32_t height, std::uint16_t bitCount) const;
  // pixels false: everything but the allocation and the pixels (CheckStream).
  void LoadHeaderAndPixels(TStream& stream, bool pixels);
  void DecodeRLE(std::span<const std::uint8_t> data, bool fourBits);
  // Moves bit-field pixels stored with the given masks into the reader's contiguous layout.
  void RepackBitFields(const TBitmapInfo& info);

  TDIBitmap FImage;
  std::int32_t FRowPadding = 0;
  std::uint32_t FSourceCompression = 0;
  std::uint8_t FBBits = 0, FGBits = 0, FRBits = 0;
  std::string FShortfall;
  TBudgetClaim FClaim;
};

// The size of a baseline JPEG file, from its start-of-frame marker (0xC0 or 0xC1). Returns true
// and sets width and height when one is found; otherwise (not a JPEG, a progressive JPEG, a
// segment length running past the end) returns false and leaves them unchanged. Throws
// EStreamError when the file cannot be opened.
bool GetJPEGSize(const std::string& fileName, std::int32_t& width, std::int32_t& height);
// The same over a stream from its current position, and over bytes in memory. Never throws for
// the stream's content.
bool GetJPEGSize(TStream& stream, std::int32_t& width, std::int32_t& height);
bool GetJPEGSize(std::span<const std::uint8_t> bytes, std::int32_t& width, std::int32_t& height);

// Checks that a JPEG file is whole: a frame header, scan data after it and the end-of-image
// marker, each marker segment within the file. The stream is read forward from its current
// position through a small buffer, whatever the file's size. Throws EMediaError saying what is
// missing (the file form names the file), EStreamError when the file cannot be opened or read.
void CheckJPEGComplete(TStream& stream);
void CheckJPEGComplete(const std::string& fileName);

}  // namespace kestrova
