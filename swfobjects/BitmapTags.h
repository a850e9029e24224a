// Bitmap tags: JPEG images (DefineBits with the shared JPEGTables, DefineBitsJPEG2,
// DefineBitsJPEG3 with a zlib alpha channel) and lossless images (DefineBitsLossless,
// DefineBitsLossless2). The tags code no images: the data comes ready-made, held by the tag or
// written into the body at write time by a callback.
#pragma once

#include <cstdint>
#include <vector>

#include "swfobjects/DataObject.h"

namespace kestrova {

class TSWFJPEGTables : public TSWFDataObject {
 public:
  TSWFJPEGTables() : TSWFDataObject(8) {}
  void ReadFromStream(TBitsEngine& be) override;
  void WriteTagBody(TBitsEngine& be) const override { WriteJPEGData(be); }
  void Describe(TSWFDescription& d) const override;
};

class TSWFImageTag : public TSWFDataObject {
 public:
  std::uint16_t CharacterId = 0;
  bool operator==(const TSWFImageTag&) const = default;
  void DefinedCharacterIDs(std::vector<std::uint16_t*>& ids) override {
    ids.push_back(&CharacterId);
  }

 protected:
  explicit TSWFImageTag(std::uint16_t code) : TSWFDataObject(code) {}
};

class TSWFDefineBits : public TSWFImageTag {
 public:
  TSWFDefineBits() : TSWFImageTag(6) {}
  // Throws when the body holds no JPEG start marker.
  void ReadFromStream(TBitsEngine& be) override;
  void WriteTagBody(TBitsEngine& be) const override;
  void Describe(TSWFDescription& d) const override;

 protected:
  explicit TSWFDefineBits(std::uint16_t code) : TSWFImageTag(code) {}
};

class TSWFDefineBitsJPEG2 : public TSWFDefineBits {
 public:
  TSWFDefineBitsJPEG2() : TSWFDefineBits(21) {}
  std::uint16_t MinVersion() const override { return 2; }

 protected:
  explicit TSWFDefineBitsJPEG2(std::uint16_t code) : TSWFDefineBits(code) {}
};

// The JPEG block plus a zlib stream of alpha values; AlphaData is owned like Data.
class TSWFDefineBitsJPEG3 : public TSWFDefineBitsJPEG2 {
 public:
  TSWFDefineBitsJPEG3() : TSWFDefineBitsJPEG2(35) {}
  std::vector<std::uint8_t> AlphaData;
  TSWFDataWriteEvent OnAlphaDataWrite;

  std::int32_t AlphaDataSize() const { return static_cast<std::int32_t>(AlphaData.size()); }
  std::uint16_t MinVersion() const override { return 3; }
  bool operator==(const TSWFDefineBitsJPEG3&) const = default;
  // Throws when the alpha offset does not fit the body.
  void ReadFromStream(TBitsEngine& be) override;
  void WriteTagBody(TBitsEngine& be) const override;
  void Describe(TSWFDescription& d) const override;
};

class TSWFDefineBitsLossless : public TSWFImageTag {
 public:
  enum : std::uint8_t { kFormat8Bit = 3, kFormat15Bit = 4, kFormat32Bit = 5 };
  TSWFDefineBitsLossless() : TSWFImageTag(20) {}
  std::uint8_t BitmapColorTableSize = 0;  // palette colours minus 1, format 3 only
  std::uint8_t BitmapFormat = 0;
  std::uint16_t BitmapHeight = 0, BitmapWidth = 0;  // pixels

  std::uint16_t MinVersion() const override { return 2; }
  bool operator==(const TSWFDefineBitsLossless&) const = default;
  void ReadFromStream(TBitsEngine& be) override;
  void WriteTagBody(TBitsEngine& be) const override;
  void Describe(TSWFDescription& d) const override;

 protected:
  explicit TSWFDefineBitsLossless(std::uint16_t code) : TSWFImageTag(code) {}
};

class TSWFDefineBitsLossless2 : public TSWFDefineBitsLossless {
 public:
  TSWFDefineBitsLossless2() : TSWFDefineBitsLossless(36) {}
  std::uint16_t MinVersion() const override { return 3; }
};

}  // namespace kestrova
