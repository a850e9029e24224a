// Bitmap characters of the movie builder: a picture taken from an in-memory bitmap, written as
// one lossless bitmap tag whose pixel data is repacked into the SWF layout and deflated.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "flashobjects/FlashObject.h"
#include "media/DIBitmap.h"

namespace kestrova {

class TFlashImage : public TFlashIDObject {
 public:
  // Lossless bitmap formats of the image: the tag writes 5 for format 1.
  enum : std::uint8_t { kFormat32Alpha = 1, kFormatIndexed = 3, kFormat16 = 4, kFormat24 = 5 };
  // Data states.
  enum : std::uint8_t { kDataNone = 0, kDataEmpty = 1, kDataReady = 2 };

  // An empty image; a non-empty file name loads a picture file (LoadFromFile).
  explicit TFlashImage(TFlashMovie* owner = nullptr, const std::string& fileName = "");
  ~TFlashImage() override;

  // Takes a copy of the bitmap (or the bitmap itself, when moved in) and describes it. The pixel
  // data is built from it at the first write, or at once by MakeData. Throws
  // std::invalid_argument for a bitmap whose pixel buffer is smaller than its rows need, or one
  // wider or taller than 65535 pixels. Run-length bitmaps (RLE8, RLE4) are decoded first.
  void LoadFromHandle(const TDIBitmap& bitmap);
  void LoadFromHandle(TDIBitmap&& bitmap);
  // Loads a BMP file, or takes a JPEG file as it is (written as DefineBitsJPEG2). Throws
  // EStreamError when the file cannot be read and EMediaError when it is neither a BMP file the
  // reader takes nor a baseline JPEG; both messages name the file.
  void LoadFromFile(const std::string& fileName);
  // The picture is a JPEG file's data rather than pixels.
  bool IsJPEG() const { return !FJPEG.empty(); }

  // Described by the last load.
  std::uint16_t Width = 0, Height = 0;  // pixels
  std::uint16_t PaddedWidth = 0;        // pixels per row with the padding the format needs
  std::uint8_t BitmapFormat = 0;        // 0 until a bitmap of a known depth is loaded
  std::int32_t ColorCount = 0;          // colour table entries written (format 3)
  bool HasAlpha = false;
  std::uint8_t DataState() const { return FDataState; }

  // Builds the deflated pixel data now if it is not built yet, then frees the bitmap: a caller
  // that builds each image as soon as it is loaded holds only compressed pixels. Data built once
  // is kept and reused by every later write. Throws EZlibError when deflate fails.
  void MakeData();
  // The deflated pixel data (built by MakeData when needed).
  const std::vector<std::uint8_t>& Data();

  std::uint16_t MinVersion() const override { return HasAlpha ? 3 : 2; }  // JPEG2 needs 2
  // Copies the description, the bitmap and the data.
  void Assign(const TBasedSWFObject& source) override;
  // Writes DefineBitsLossless2 when HasAlpha, otherwise DefineBitsLossless.
  void WriteToStream(TBitsEngine& be) override;

 private:
  void Describe();
  void CountColors();
  void Pack(std::vector<std::uint8_t>& raw) const;
  std::unique_ptr<TDIBitmap> FBitmap;
  // Palette images write only the colours their pixels use, in index order: old index -> new.
  std::array<std::uint8_t, 256> FIndexMap{};
  std::array<std::uint8_t, 256> FUsedIndex{};  // new index -> old
  std::vector<std::uint8_t> FData;
  // A JPEG file's bytes between its start and end markers.
  std::vector<std::uint8_t> FJPEG;
  std::uint8_t FDataState = kDataNone;
};

}  // namespace kestrova
