// Font and text tags: DefineFont with DefineFontInfo and DefineFontInfo2, DefineFont2 with its
// layout and kerning, DefineText and DefineText2 with their text records, and DefineEditText.
// Glyph outlines are shape-record lists written and read by the shape-record code.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "swfobjects/SWFObject.h"
#include "swfobjects/ShapeTags.h"

namespace kestrova {

// One outline per glyph, in glyph order.
using TSWFGlyphShapeTable = std::vector<TSWFShapeRecordList>;

class TSWFDefineFont : public TSWFObject {
 public:
  TSWFDefineFont() : TSWFObject(10) {}
  std::uint16_t FontId = 0;
  TSWFGlyphShapeTable GlyphShapeTable;

  bool operator==(const TSWFDefineFont&) const = default;
  // Throws when the offset table or a glyph does not fit the body.
  void ReadFromStream(TBitsEngine& be) override;
  // Also records the glyph count for the font info tags of the same reading pass.
  void ReadFromStream(TBitsEngine& be, TSWFReadContext& context) override;
  void WriteTagBody(TBitsEngine& be) const override;
  void DefinedCharacterIDs(std::vector<std::uint16_t*>& ids) override { ids.push_back(&FontId); }
  void Describe(TSWFDescription& d) const override;

 protected:
  explicit TSWFDefineFont(std::uint16_t code) : TSWFObject(code) {}
};

class TSWFDefineFontInfo : public TSWFObject {
 public:
  TSWFDefineFontInfo() : TSWFObject(13) {}
  std::uint16_t FontId = 0;
  // Windows-1252 text, converted to UTF-8 when written for SWF 6 and later...
  std::string FontName;
  // ...unless this is set: the name was read from a file in UTF-8 with characters that
  // Windows-1252 cannot hold, and is written back as it is.
  bool FontNameIsUTF8 = false;
  bool FontFlagsSmallText = false, FontFlagsShiftJIS = false, FontFlagsANSI = false;
  bool FontFlagsItalic = false, FontFlagsBold = false, FontFlagsWideCodes = false;
  std::vector<std::uint16_t> CodeTable;
  std::uint8_t SWFVersion = 0;

  bool operator==(const TSWFDefineFontInfo&) const = default;
  // Reads as many codes as the font of FontId has glyphs in this reading pass; without that
  // count (no such font read before) the codes fill the rest of the body. Throws when the body
  // holds fewer codes than the font's glyph count.
  void ReadFromStream(TBitsEngine& be, TSWFReadContext& context) override;
  // Reads with a pass of its own (SWFVersion, no fonts).
  void ReadFromStream(TBitsEngine& be) override;
  void WriteTagBody(TBitsEngine& be) const override;
  void ReferencedCharacterIDs(std::vector<std::uint16_t*>& ids) override { ids.push_back(&FontId); }
  void Describe(TSWFDescription& d) const override;

 protected:
  explicit TSWFDefineFontInfo(std::uint16_t code) : TSWFObject(code) {}
  // The number of codes to read; codeSize is 1 or 2.
  // Throws EStreamError when the body holds fewer codes than the font read earlier has glyphs.
  std::size_t CodeCount(const TBodyReader& body, std::size_t codeSize,
                        const TSWFReadContext& context) const;
  void ReadCodes(TBodyReader& body, bool wide, const TSWFReadContext& context);
  // The font id, the name (in UTF-8 when utf8) and the flag byte shared by both versions.
  void ReadHead(TBodyReader& body, bool utf8);
};

class TSWFDefineFontInfo2 : public TSWFDefineFontInfo {
 public:
  TSWFDefineFontInfo2() : TSWFDefineFontInfo(62) {}
  std::uint8_t LanguageCode = 0;
  std::uint16_t MinVersion() const override { return 6; }
  bool operator==(const TSWFDefineFontInfo2&) const = default;
  void ReadFromStream(TBitsEngine& be, TSWFReadContext& context) override;
  using TSWFDefineFontInfo::ReadFromStream;
  void WriteTagBody(TBitsEngine& be) const override;
};

struct TSWFKerningRecord {
  std::uint16_t FontKerningCode1 = 0, FontKerningCode2 = 0;
  std::int16_t FontKerningAdjustment = 0;
  bool operator==(const TSWFKerningRecord&) const = default;
};

class TSWFDefineFont2 : public TSWFDefineFont {
 public:
  TSWFDefineFont2() : TSWFDefineFont(48) {}
  std::vector<std::uint16_t> CodeTable;
  std::vector<std::int16_t> FontAdvanceTable;
  std::vector<TSWFRect> FontBoundsTable;
  std::uint16_t FontAscent = 0, FontDescent = 0, FontLeading = 0;
  std::string FontName;         // as for TSWFDefineFontInfo
  bool FontNameIsUTF8 = false;  // as for TSWFDefineFontInfo
  std::uint8_t LanguageCode = 0;
  std::uint8_t SWFVersion = 0;
  bool FontFlagsHasLayout = false, FontFlagsShiftJIS = false, FontFlagsSmallText = false;
  bool FontFlagsANSI = false, FontFlagsWideOffsets = false, FontFlagsWideCodes = false;
  bool FontFlagsItalic = false, FontFlagsBold = false;

  // Made on first access.
  std::vector<TSWFKerningRecord>& KerningTable();
  const std::vector<TSWFKerningRecord>* KerningTableIfAny() const {
    return FKerningTable ? &*FKerningTable : nullptr;
  }

  std::uint16_t MinVersion() const override { return 3; }
  bool operator==(const TSWFDefineFont2&) const = default;
  void ReadFromStream(TBitsEngine& be, TSWFReadContext& context) override;
  using TSWFObject::ReadFromStream;
  // Throws when an offset, a glyph, the code table or the layout does not fit the body.
  void ReadFromStream(TBitsEngine& be) override;
  // The glyph count written is the number of glyph outlines; the code, advance and bounds tables
  // are written with exactly that many entries (missing ones as zero), and offsets go wide by
  // themselves when the glyphs do not fit 16-bit offsets.
  void WriteTagBody(TBitsEngine& be) const override;
  void Describe(TSWFDescription& d) const override;

 private:
  void WriteLayout(TBitsEngine& be, std::size_t glyphCount) const;
  void ReadLayout(TBodyReader& body, std::size_t glyphCount);
  std::optional<std::vector<TSWFKerningRecord>> FKerningTable;
};

struct TSWFGlyphEntry {
  std::uint16_t GlyphIndex = 0;
  std::int32_t GlyphAdvance = 0;
  bool operator==(const TSWFGlyphEntry&) const = default;
};

class TSWFTextRecord {
 public:
  bool StyleFlagsHasFont = false, StyleFlagsHasColor = false;
  bool StyleFlagsHasXOffset = false, StyleFlagsHasYOffset = false;
  bool HasAlpha = false;
  // At most 255 entries are written (the count is one byte).
  std::vector<TSWFGlyphEntry> GlyphEntries;

  bool operator==(const TSWFTextRecord&) const = default;

  std::uint16_t FontId() const { return FFontId; }
  std::uint16_t TextHeight() const { return FTextHeight; }
  std::int32_t XOffset() const { return FXOffset; }
  std::int32_t YOffset() const { return FYOffset; }
  // FontId and TextHeight raise StyleFlagsHasFont; the offsets raise their own flags.
  void SetFontId(std::uint16_t v);
  void SetTextHeight(std::uint16_t v);
  void SetXOffset(std::int32_t v);
  void SetYOffset(std::int32_t v);
  // Made on first access, which raises StyleFlagsHasColor.
  TSWFRGBA& TextColor();
  const TSWFRGBA* TextColorIfAny() const { return FTextColor ? &*FTextColor : nullptr; }

  void Write(TBitsEngine& be, std::uint8_t glyphBits, std::uint8_t advanceBits) const;
  // Reads the rest of a record whose flag byte is given.
  void Read(TBitsEngine& be, std::uint8_t flags, std::uint8_t glyphBits, std::uint8_t advanceBits);
  // The font field, when the record sets one.
  void ReferencedFontID(std::vector<std::uint16_t*>& ids);

 private:
  std::uint16_t FFontId = 0, FTextHeight = 0;
  std::int32_t FXOffset = 0, FYOffset = 0;
  std::optional<TSWFRGBA> FTextColor;
};

class TSWFDefineText : public TSWFObject {
 public:
  TSWFDefineText() : TSWFDefineText(11, false) {}
  std::uint16_t CharacterId = 0;
  TSWFRect TextBounds;
  TSWFMatrix TextMatrix;
  std::uint8_t GlyphBits = 0, AdvanceBits = 0;  // set by the caller
  std::vector<TCopyPtr<TSWFTextRecord>> TextRecords;
  bool HasAlpha = false;

  bool operator==(const TSWFDefineText&) const = default;
  // Throws when the records run past the body.
  void ReadFromStream(TBitsEngine& be) override;
  void WriteTagBody(TBitsEngine& be) const override;
  void DefinedCharacterIDs(std::vector<std::uint16_t*>& ids) override {
    ids.push_back(&CharacterId);
  }
  void ReferencedCharacterIDs(std::vector<std::uint16_t*>& ids) override;
  void Describe(TSWFDescription& d) const override;

 protected:
  TSWFDefineText(std::uint16_t code, bool hasAlpha) : TSWFObject(code), HasAlpha(hasAlpha) {}
};

class TSWFDefineText2 : public TSWFDefineText {
 public:
  TSWFDefineText2() : TSWFDefineText(33, true) {}
  std::uint16_t MinVersion() const override { return 3; }
};

class TSWFDefineEditText : public TSWFObject {
 public:
  TSWFDefineEditText() : TSWFObject(37) {}
  std::uint16_t CharacterId = 0;
  TSWFRect Bounds;
  bool HasText = false, WordWrap = false, Multiline = false, Password = false;
  bool ReadOnly = false, HasTextColor = false, HasMaxLength = false, HasFont = false;
  bool AutoSize = false, HasLayout = false, NoSelect = false, Border = false;
  bool HTML = false, UseOutlines = false;
  std::uint16_t FontId = 0, FontHeight = 0;
  std::uint16_t MaxLength = 0;
  std::uint8_t Align = 0;
  std::uint16_t LeftMargin = 0, RightMargin = 0, Indent = 0, Leading = 0;
  // Windows-1252 text converted to UTF-8 for SWF 6 and later; read back as the raw bytes.
  std::string VariableName;
  std::string InitialText;
  // When not empty, written in UTF-8 in place of InitialText.
  std::u16string WideInitialText;
  std::int32_t SWFVersion = 0;

  // Made on first access, which raises HasTextColor.
  TSWFRGBA& TextColor();
  const TSWFRGBA* TextColorIfAny() const { return FTextColor ? &*FTextColor : nullptr; }

  std::uint16_t MinVersion() const override { return AutoSize ? 6 : 4; }
  bool operator==(const TSWFDefineEditText&) const = default;
  // Throws when a string has no terminator inside the body.
  void ReadFromStream(TBitsEngine& be) override;
  void WriteTagBody(TBitsEngine& be) const override;
  void DefinedCharacterIDs(std::vector<std::uint16_t*>& ids) override {
    ids.push_back(&CharacterId);
  }
  void ReferencedCharacterIDs(std::vector<std::uint16_t*>& ids) override {
    if (HasFont) ids.push_back(&FontId);
  }
  void Describe(TSWFDescription& d) const override;

 private:
  std::optional<TSWFRGBA> FTextColor;
};

}  // namespace kestrova
