#include "swfobjects/FontTags.h"

#include <algorithm>
#include <stdexcept>

namespace kestrova {

namespace {

// Names are held in Windows-1252 and written in UTF-8 from SWF 6 on; a name already in UTF-8 is
// written as it is.
void WriteName(TBitsEngine& be, const std::string& name, bool utf8, bool isUtf8) {
  std::string bytes = ((utf8 || be.Cp1252StringsToUtf8) && !isUtf8) ? Cp1252ToUtf8(name) : name;
  if (bytes.size() > 0xFF) bytes.resize(0xFF);  // the length is one byte
  be.WriteByte(static_cast<std::uint8_t>(bytes.size()));
  be.WriteBytes(bytes.data(), static_cast<std::int64_t>(bytes.size()));
}

// Reads a length-prefixed name. A UTF-8 name comes back in Windows-1252 when that loses nothing,
// else as it is with isUtf8 set, so that writing it again gives the same bytes.
void ReadName(TBodyReader& body, std::string& name, bool utf8, bool& isUtf8) {
  const std::uint8_t length = body.Byte();
  body.Need(length, "font name runs past the end of the body");
  const std::vector<std::uint8_t> raw = body.Be.Stream.ReadBytes(length);
  name.assign(raw.begin(), raw.end());
  isUtf8 = false;
  if (!utf8) return;
  std::string converted = Utf8ToCp1252(name);
  if (Cp1252ToUtf8(converted) == name) {
    name = std::move(converted);
  } else {
    isUtf8 = true;
  }
}

void WriteGlyph(TBitsEngine& be, const TSWFShapeRecordList& glyph) {
  be.WriteByte(0x10);  // NumFillBits 1, NumLineBits 0
  WriteShapeRecords(be, glyph, 1, 0, true, TEdgeStyleRule::Keep);
}

void ReadGlyph(TBodyReader& body, TSWFShapeRecordList& glyph) {
  const std::uint8_t widths = body.Byte();
  ReadShapeRecords(body, glyph, widths >> 4, widths & 0x0F, true);
}

// A glyph of DefineFont2 must fill with style 1: its first style change is written selecting it
// when it selects no fill or fill 0.
bool SelectsNoGlyphFill(const TSWFStyleChangeRecord& sc) {
  const bool none = !sc.StateFillStyle0 && !sc.StateFillStyle1;
  return none || (sc.StateFillStyle1 && sc.FillStyle1() == 0);
}

void WriteFont2Glyph(TBitsEngine& be, const TSWFShapeRecordList& glyph) {
  const auto first = std::find_if(glyph.begin(), glyph.end(), [](const auto& record) {
    return record->ShapeRecType == TSWFShapeRecord::kStyleChange;
  });
  if (first == glyph.end() ||
      !SelectsNoGlyphFill(static_cast<const TSWFStyleChangeRecord&>(**first))) {
    WriteGlyph(be, glyph);
    return;
  }
  be.WriteByte(0x10);  // NumFillBits 1, NumLineBits 0
  TShapeWriteState state;
  state.FillBits = 1;
  state.HasAlpha = true;
  for (auto it = glyph.begin(); it != glyph.end(); ++it) {
    if ((*it)->ShapeRecType == TSWFShapeRecord::kEnd) continue;
    if (it != first) {
      (*it)->Write(be, state);
      continue;
    }
    TSWFStyleChangeRecord selected;
    selected.Assign(**it);
    selected.StateFillStyle0 = false;
    selected.SetFillStyle1(1);
    selected.StateLineStyle = true;  // no bits at a line width of 0
    selected.Write(be, state);
  }
  be.WriteBits(0, 6);  // the end record
  be.FlushLastByte(true);
}

std::string FlagList(std::initializer_list<std::pair<bool, const char*>> flags) {
  std::string out;
  for (const auto& [set, name] : flags) {
    if (!set) continue;
    if (!out.empty()) out += ',';
    out += name;
  }
  return out.empty() ? "none" : out;
}

}  // namespace

// ---- DefineFont ----

void TSWFDefineFont::ReadFromStream(TBitsEngine& be) {
  TBodyReader body(be, *this);
  GlyphShapeTable.clear();
  FontId = body.Word();
  const std::uint16_t first = body.Word();
  const std::size_t count = first / 2;
  if (first > body.Remaining() + 2) body.Fail("font offset table runs past the end of the body");
  for (std::size_t i = 1; i < count; ++i) body.Word();  // glyphs are read in sequence
  GlyphShapeTable.resize(count);
  for (auto& glyph : GlyphShapeTable) ReadGlyph(body, glyph);
}

void TSWFDefineFont::ReadFromStream(TBitsEngine& be, TSWFReadContext& context) {
  ReadFromStream(be);
  context.FontGlyphCount[FontId] = static_cast<std::uint16_t>(GlyphShapeTable.size());
}

void TSWFDefineFont::WriteTagBody(TBitsEngine& be) const {
  be.WriteWord(FontId);
  if (GlyphShapeTable.empty()) {
    be.WriteWord(0);
    return;
  }
  const std::uint64_t table = be.Stream.Position();
  for (std::size_t i = 0; i < GlyphShapeTable.size(); ++i) be.WriteWord(0);
  std::vector<std::uint64_t> offsets;
  for (auto& glyph : GlyphShapeTable) {
    offsets.push_back(be.Stream.Position() - table);
    WriteGlyph(be, glyph);
  }
  const std::uint64_t end = be.Stream.Position();
  be.Stream.SetPosition(table);
  for (const std::uint64_t offset : offsets) be.WriteWord(static_cast<std::uint16_t>(offset));
  be.Stream.SetPosition(end);
}

void TSWFDefineFont::Describe(TSWFDescription& d) const {
  d.Field("id", FontId);
  d.Field("glyphs", static_cast<std::int64_t>(GlyphShapeTable.size()));
}

// ---- DefineFontInfo ----

std::size_t TSWFDefineFontInfo::CodeCount(const TBodyReader& body, std::size_t codeSize,
                                          const TSWFReadContext& context) const {
  const std::size_t fit = static_cast<std::size_t>(body.Remaining()) / codeSize;
  const auto found = context.FontGlyphCount.find(FontId);
  if (found == context.FontGlyphCount.end()) return fit;
  if (found->second > fit) body.Fail("font info holds fewer codes than its font has glyphs");
  return found->second;
}

void TSWFDefineFontInfo::ReadCodes(TBodyReader& body, bool wide, const TSWFReadContext& context) {
  const std::size_t count = CodeCount(body, wide ? 2 : 1, context);
  CodeTable.clear();
  for (std::size_t i = 0; i < count; ++i) CodeTable.push_back(wide ? body.Word() : body.Byte());
}

void TSWFDefineFontInfo::ReadHead(TBodyReader& body, bool utf8) {
  FontId = body.Word();
  ReadName(body, FontName, utf8, FontNameIsUTF8);
  const std::uint8_t flags = body.Byte();
  FontFlagsSmallText = flags & 0x20;
  FontFlagsShiftJIS = flags & 0x10;
  FontFlagsANSI = flags & 0x08;
  FontFlagsItalic = flags & 0x04;
  FontFlagsBold = flags & 0x02;
  FontFlagsWideCodes = flags & 0x01;
}

void TSWFDefineFontInfo::ReadFromStream(TBitsEngine& be, TSWFReadContext& context) {
  SWFVersion = context.SWFVersion;
  TBodyReader body(be, *this);
  ReadHead(body, SWFVersion >= 6);
  ReadCodes(body, FontFlagsWideCodes, context);
}

void TSWFDefineFontInfo::ReadFromStream(TBitsEngine& be) {
  TSWFReadContext own;
  own.SWFVersion = SWFVersion;
  ReadFromStream(be, own);
}

void TSWFDefineFontInfo::WriteTagBody(TBitsEngine& be) const {
  be.WriteWord(FontId);
  WriteName(be, FontName, SWFVersion >= 6, FontNameIsUTF8);
  be.WriteBits(0, 2);
  for (const bool flag : {FontFlagsSmallText, FontFlagsShiftJIS, FontFlagsANSI, FontFlagsItalic,
                          FontFlagsBold, FontFlagsWideCodes}) {
    be.WriteBit(flag);
  }
  for (const std::uint16_t code : CodeTable) {
    if (FontFlagsWideCodes) {
      be.WriteWord(code);
    } else {
      be.WriteByte(static_cast<std::uint8_t>(code));
    }
  }
}

// Descriptions show names in UTF-8, whatever form the tag holds them in.
void TSWFDefineFontInfo::Describe(TSWFDescription& d) const {
  d.Field("font", FontId);
  d.Field("name", QuoteText(FontNameIsUTF8 ? FontName : Cp1252ToUtf8(FontName)));
  d.Field("codes", static_cast<std::int64_t>(CodeTable.size()));
  d.Field("flags", FlagList({{FontFlagsSmallText, "small"},
                             {FontFlagsShiftJIS, "shift-jis"},
                             {FontFlagsANSI, "ansi"},
                             {FontFlagsItalic, "italic"},
                             {FontFlagsBold, "bold"},
                             {FontFlagsWideCodes, "wide-codes"}}));
}

void TSWFDefineFontInfo2::ReadFromStream(TBitsEngine& be, TSWFReadContext& context) {
  SWFVersion = context.SWFVersion;
  TBodyReader body(be, *this);
  ReadHead(body, true);
  LanguageCode = body.Byte();
  ReadCodes(body, true, context);
}

void TSWFDefineFontInfo2::WriteTagBody(TBitsEngine& be) const {
  be.WriteWord(FontId);
  WriteName(be, FontName, true, FontNameIsUTF8);
  be.WriteBits(0, 2);
  for (const bool flag :
       {FontFlagsSmallText, FontFlagsShiftJIS, FontFlagsANSI, FontFlagsItalic, FontFlagsBold}) {
    be.WriteBit(flag);
  }
  be.WriteBit(true);  // codes are always wide
  be.WriteByte(LanguageCode);
  for (const std::uint16_t code : CodeTable) be.WriteWord(code);
}

// ---- DefineFont2 ----

std::vector<TSWFKerningRecord>& TSWFDefineFont2::KerningTable() {
  if (!FKerningTable) FKerningTable.emplace();
  return *FKerningTable;
}

void TSWFDefineFont2::WriteTagBody(TBitsEngine& be) const {
  const std::size_t count = GlyphShapeTable.size();
  // The glyphs go first to a stream of their own, so the offset width is known before the flags.
  TMemoryStream glyphs;
  TBitsEngine glyphEngine(glyphs);
  std::vector<std::uint64_t> starts;
  for (const auto& glyph : GlyphShapeTable) {
    starts.push_back(glyphs.Size());
    WriteFont2Glyph(glyphEngine, glyph);
  }
  const bool wideOffsets = FontFlagsWideOffsets || 2 * (count + 1) + glyphs.Size() > 0xFFFF;
  const bool hasLayout = FontFlagsHasLayout && !CodeTable.empty();
  be.WriteWord(FontId);
  for (const bool flag :
       {hasLayout, FontFlagsShiftJIS, FontFlagsSmallText, FontFlagsANSI || CodeTable.empty(),
        wideOffsets, FontFlagsWideCodes, FontFlagsItalic, FontFlagsBold}) {
    be.WriteBit(flag);
  }
  be.WriteByte(LanguageCode);
  WriteName(be, FontName, SWFVersion >= 6, FontNameIsUTF8);
  be.WriteWord(static_cast<std::uint16_t>(count));
  const std::uint64_t tableSize = (count + 1) * (wideOffsets ? 4 : 2);
  starts.push_back(glyphs.Size());  // the code table follows the last glyph
  for (const std::uint64_t start : starts) {
    if (wideOffsets) {
      be.WriteDWord(static_cast<std::uint32_t>(tableSize + start));
    } else {
      be.WriteWord(static_cast<std::uint16_t>(tableSize + start));
    }
  }
  be.WriteBytes(glyphs.Data(), static_cast<std::int64_t>(glyphs.Size()));
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint16_t code = i < CodeTable.size() ? CodeTable[i] : 0;
    if (FontFlagsWideCodes) {
      be.WriteWord(code);
    } else {
      be.WriteByte(static_cast<std::uint8_t>(code));
    }
  }
  if (hasLayout) WriteLayout(be, count);
}

void TSWFDefineFont2::WriteLayout(TBitsEngine& be, std::size_t glyphCount) const {
  be.WriteWord(FontAscent);
  be.WriteWord(FontDescent);
  be.WriteWord(FontLeading);
  for (std::size_t i = 0; i < glyphCount; ++i) {
    be.WriteWord(static_cast<std::uint16_t>(i < FontAdvanceTable.size() ? FontAdvanceTable[i] : 0));
  }
  for (std::size_t i = 0; i < glyphCount; ++i) {
    be.WriteRect(i < FontBoundsTable.size() ? FontBoundsTable[i].GetRec() : TSWFRectRec{});
  }
  const std::size_t kernings = FKerningTable ? FKerningTable->size() : 0;
  be.WriteWord(static_cast<std::uint16_t>(kernings));
  for (std::size_t i = 0; i < kernings && i < 0xFFFF; ++i) {
    const TSWFKerningRecord& k = (*FKerningTable)[i];
    if (FontFlagsWideCodes) {
      be.WriteWord(k.FontKerningCode1);
      be.WriteWord(k.FontKerningCode2);
    } else {
      be.WriteByte(static_cast<std::uint8_t>(k.FontKerningCode1));
      be.WriteByte(static_cast<std::uint8_t>(k.FontKerningCode2));
    }
    be.WriteWord(static_cast<std::uint16_t>(k.FontKerningAdjustment));
  }
}

void TSWFDefineFont2::ReadFromStream(TBitsEngine& be, TSWFReadContext& context) {
  SWFVersion = context.SWFVersion;
  ReadFromStream(be);
}

void TSWFDefineFont2::ReadFromStream(TBitsEngine& be) {
  TBodyReader body(be, *this);
  GlyphShapeTable.clear();
  CodeTable.clear();
  FontAdvanceTable.clear();
  FontBoundsTable.clear();
  FKerningTable.reset();
  FontId = body.Word();
  const std::uint8_t flags = body.Byte();
  FontFlagsHasLayout = flags & 0x80;
  FontFlagsShiftJIS = flags & 0x40;
  FontFlagsSmallText = flags & 0x20;
  FontFlagsANSI = flags & 0x10;
  FontFlagsWideOffsets = flags & 0x08;
  FontFlagsWideCodes = flags & 0x04;
  FontFlagsItalic = flags & 0x02;
  FontFlagsBold = flags & 0x01;
  LanguageCode = body.Byte();
  ReadName(body, FontName, SWFVersion >= 6, FontNameIsUTF8);
  const std::size_t count = body.Word();
  const std::uint64_t table = be.Stream.Position();
  const std::size_t offsetSize = FontFlagsWideOffsets ? 4 : 2;
  body.Need((count + 1) * offsetSize, "font offset table runs past the end of the body");
  std::vector<std::uint64_t> offsets;
  for (std::size_t i = 0; i <= count; ++i) {
    offsets.push_back(table + (FontFlagsWideOffsets ? body.DWord() : body.Word()));
  }
  // Each glyph is read inside its own range, so offsets that repeat or overlap cannot make the
  // reader go over the same bytes again and again.
  GlyphShapeTable.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    if (offsets[i] > offsets[i + 1] || offsets[i + 1] > body.End) {
      body.Fail("font glyph offsets out of order or past the end of the body");
    }
    be.Stream.SetPosition(offsets[i]);
    TBodyReader glyph(be, offsets[i + 1], TagID);
    ReadGlyph(glyph, GlyphShapeTable[i]);
  }
  if (offsets[count] > body.End) body.Fail("font code table past the end of the body");
  be.Stream.SetPosition(offsets[count]);
  body.Need(count * (FontFlagsWideCodes ? 2 : 1), "font code table runs past the end of the body");
  for (std::size_t i = 0; i < count; ++i) {
    CodeTable.push_back(FontFlagsWideCodes ? body.Word() : body.Byte());
  }
  if (FontFlagsHasLayout) ReadLayout(body, count);
}

void TSWFDefineFont2::ReadLayout(TBodyReader& body, std::size_t glyphCount) {
  FontAscent = body.Word();
  FontDescent = body.Word();
  FontLeading = body.Word();
  body.Need(glyphCount * 2, "font advance table runs past the end of the body");
  for (std::size_t i = 0; i < glyphCount; ++i) {
    FontAdvanceTable.push_back(static_cast<std::int16_t>(body.Word()));
  }
  for (std::size_t i = 0; i < glyphCount; ++i) {
    FontBoundsTable.emplace_back().SetRect(body.Be.ReadRect());
    body.Check("font bounds table");
  }
  const std::size_t kernings = body.Word();
  const std::size_t recordSize = FontFlagsWideCodes ? 6 : 4;
  body.Need(kernings * recordSize, "font kerning table runs past the end of the body");
  auto& table = KerningTable();
  for (std::size_t i = 0; i < kernings; ++i) {
    TSWFKerningRecord& k = table.emplace_back();
    k.FontKerningCode1 = FontFlagsWideCodes ? body.Word() : body.Byte();
    k.FontKerningCode2 = FontFlagsWideCodes ? body.Word() : body.Byte();
    k.FontKerningAdjustment = static_cast<std::int16_t>(body.Word());
  }
}

void TSWFDefineFont2::Describe(TSWFDescription& d) const {
  d.Field("id", FontId);
  d.Field("name", QuoteText(FontNameIsUTF8 ? FontName : Cp1252ToUtf8(FontName)));
  d.Field("glyphs", static_cast<std::int64_t>(GlyphShapeTable.size()));
  d.Field("flags", FlagList({{FontFlagsHasLayout, "layout"},
                             {FontFlagsShiftJIS, "shift-jis"},
                             {FontFlagsSmallText, "small"},
                             {FontFlagsANSI, "ansi"},
                             {FontFlagsWideOffsets, "wide-offsets"},
                             {FontFlagsWideCodes, "wide-codes"},
                             {FontFlagsItalic, "italic"},
                             {FontFlagsBold, "bold"}}));
  if (FKerningTable) d.Field("kernings", static_cast<std::int64_t>(FKerningTable->size()));
}

// ---- text records ----

void TSWFTextRecord::SetFontId(std::uint16_t v) {
  FFontId = v;
  StyleFlagsHasFont = true;
}

void TSWFTextRecord::SetTextHeight(std::uint16_t v) {
  FTextHeight = v;
  StyleFlagsHasFont = true;
}

void TSWFTextRecord::SetXOffset(std::int32_t v) {
  FXOffset = v;
  StyleFlagsHasXOffset = true;
}

void TSWFTextRecord::SetYOffset(std::int32_t v) {
  FYOffset = v;
  StyleFlagsHasYOffset = true;
}

TSWFRGBA& TSWFTextRecord::TextColor() {
  if (!FTextColor) FTextColor.emplace();
  StyleFlagsHasColor = true;
  return *FTextColor;
}

void TSWFTextRecord::Write(TBitsEngine& be, std::uint8_t glyphBits,
                           std::uint8_t advanceBits) const {
  be.WriteBits(0x8, 4);  // TextRecordType 1, three reserved bits
  be.WriteBit(StyleFlagsHasFont);
  be.WriteBit(StyleFlagsHasColor);
  be.WriteBit(StyleFlagsHasYOffset);
  be.WriteBit(StyleFlagsHasXOffset);
  if (StyleFlagsHasFont) be.WriteWord(FFontId);
  if (StyleFlagsHasColor) {
    const TSWFRGBA color = FTextColor ? *FTextColor : TSWFRGBA();
    if (HasAlpha) {
      be.WriteRGBA(color.GetRGBARec());
    } else {
      be.WriteRGB(color.GetRec());
    }
  }
  if (StyleFlagsHasXOffset) be.WriteWord(static_cast<std::uint16_t>(FXOffset));
  if (StyleFlagsHasYOffset) be.WriteWord(static_cast<std::uint16_t>(FYOffset));
  if (StyleFlagsHasFont) be.WriteWord(FTextHeight);
  const std::size_t count = std::min<std::size_t>(GlyphEntries.size(), 0xFF);
  be.WriteByte(static_cast<std::uint8_t>(count));
  for (std::size_t i = 0; i < count; ++i) {
    be.WriteBits(GlyphEntries[i].GlyphIndex, glyphBits);
    be.WriteBits(static_cast<std::uint32_t>(GlyphEntries[i].GlyphAdvance), advanceBits);
  }
  be.FlushLastByte(true);
}

void TSWFTextRecord::Read(TBitsEngine& be, std::uint8_t flags, std::uint8_t glyphBits,
                          std::uint8_t advanceBits) {
  StyleFlagsHasFont = flags & 0x08;
  StyleFlagsHasColor = flags & 0x04;
  StyleFlagsHasYOffset = flags & 0x02;
  StyleFlagsHasXOffset = flags & 0x01;
  if (StyleFlagsHasFont) FFontId = be.ReadWord();
  if (StyleFlagsHasColor) {
    FTextColor.emplace(HasAlpha);
    if (HasAlpha) {
      FTextColor->SetRGBA(be.ReadRGBA().Value());
    } else {
      FTextColor->SetRGB(be.ReadRGB());
    }
  }
  if (StyleFlagsHasXOffset) FXOffset = static_cast<std::int16_t>(be.ReadWord());
  if (StyleFlagsHasYOffset) FYOffset = static_cast<std::int16_t>(be.ReadWord());
  if (StyleFlagsHasFont) FTextHeight = be.ReadWord();
  const std::uint8_t count = be.ReadByte();
  GlyphEntries.clear();
  for (std::uint8_t i = 0; i < count; ++i) {
    TSWFGlyphEntry& entry = GlyphEntries.emplace_back();
    entry.GlyphIndex = static_cast<std::uint16_t>(be.ReadBits(glyphBits));
    entry.GlyphAdvance = be.ReadSBits(advanceBits);
  }
  be.FlushLastByte(false);
}

void TSWFTextRecord::ReferencedFontID(std::vector<std::uint16_t*>& ids) {
  if (StyleFlagsHasFont) ids.push_back(&FFontId);
}

// ---- DefineText ----

void TSWFDefineText::ReadFromStream(TBitsEngine& be) {
  TBodyReader body(be, *this);
  // Entries of 0 bits take no room: counting each as one bit bounds what a small body can claim.
  const std::uint64_t maxEntries = 8 * body.Remaining();
  std::uint64_t entries = 0;
  TextRecords.clear();
  CharacterId = body.Word();
  TextBounds.SetRect(be.ReadRect());
  TextMatrix.SetRec(be.ReadMatrix());
  body.Check("text bounds and matrix");
  GlyphBits = body.Byte();
  AdvanceBits = body.Byte();
  for (std::uint8_t flags = body.Byte(); flags != 0; flags = body.Byte()) {
    auto record = std::make_unique<TSWFTextRecord>();
    record->HasAlpha = HasAlpha;
    record->Read(be, flags, GlyphBits, AdvanceBits);
    body.Check("text records");
    entries += record->GlyphEntries.size();
    if (entries > maxEntries) body.Fail("more glyph entries than the body has bits");
    TextRecords.push_back(std::move(record));
  }
  body.Check("text records");
}

void TSWFDefineText::WriteTagBody(TBitsEngine& be) const {
  be.WriteWord(CharacterId);
  be.WriteRect(TextBounds.GetRec());
  be.WriteMatrix(TextMatrix.GetRec());
  be.WriteByte(GlyphBits);
  be.WriteByte(AdvanceBits);
  for (auto& record : TextRecords) {
    record->HasAlpha = HasAlpha;
    record->Write(be, GlyphBits, AdvanceBits);
  }
  be.WriteByte(0);
}

void TSWFDefineText::ReferencedCharacterIDs(std::vector<std::uint16_t*>& ids) {
  for (auto& record : TextRecords) record->ReferencedFontID(ids);
}

void TSWFDefineText::Describe(TSWFDescription& d) const {
  d.Field("id", CharacterId);
  d.Field("bounds", DescribeBoundsInPixels(TextBounds));
  d.Field("records", static_cast<std::int64_t>(TextRecords.size()));
  for (const auto& record : TextRecords) {
    std::string line;
    if (record->StyleFlagsHasFont) {
      line += "font=" + std::to_string(record->FontId()) +
              " height=" + std::to_string(record->TextHeight()) + " ";
    }
    d.Line(line + "glyphs=" + std::to_string(record->GlyphEntries.size()));
  }
}

// ---- DefineEditText ----

TSWFRGBA& TSWFDefineEditText::TextColor() {
  if (!FTextColor) FTextColor.emplace(true);
  HasTextColor = true;
  return *FTextColor;
}

void TSWFDefineEditText::ReadFromStream(TBitsEngine& be) {
  TBodyReader body(be, *this);
  CharacterId = body.Word();
  Bounds.SetRect(be.ReadRect());
  body.Check("edit text bounds");
  const std::uint8_t first = body.Byte();
  const std::uint8_t second = body.Byte();
  HasText = first & 0x80;
  WordWrap = first & 0x40;
  Multiline = first & 0x20;
  Password = first & 0x10;
  ReadOnly = first & 0x08;
  HasTextColor = first & 0x04;
  HasMaxLength = first & 0x02;
  HasFont = first & 0x01;
  AutoSize = second & 0x40;
  HasLayout = second & 0x20;
  NoSelect = second & 0x10;
  Border = second & 0x08;
  HTML = second & 0x02;
  UseOutlines = second & 0x01;
  if (HasFont) {
    FontId = be.ReadWord();
    FontHeight = be.ReadWord();
  }
  if (HasTextColor) TextColor().SetRGBA(be.ReadRGBA().Value());
  if (HasMaxLength) MaxLength = be.ReadWord();
  if (HasLayout) {
    Align = be.ReadByte();
    LeftMargin = be.ReadWord();
    RightMargin = be.ReadWord();
    Indent = be.ReadWord();
    Leading = be.ReadWord();
  }
  VariableName = body.String();
  if (HasText) InitialText = body.String();
}

void TSWFDefineEditText::WriteTagBody(TBitsEngine& be) const {
  be.WriteWord(CharacterId);
  be.WriteRect(Bounds.GetRec());
  for (const bool flag :
       {HasText, WordWrap, Multiline, Password, ReadOnly, HasTextColor, HasMaxLength, HasFont,
        false, AutoSize, HasLayout, NoSelect, Border, false, HTML, UseOutlines}) {
    be.WriteBit(flag);
  }
  if (HasFont) {
    be.WriteWord(FontId);
    be.WriteWord(FontHeight);
  }
  if (HasTextColor) be.WriteRGBA(FTextColor ? FTextColor->GetRGBARec() : TSWFRGBARec{0, 0, 0, 255});
  if (HasMaxLength) be.WriteWord(MaxLength);
  if (HasLayout) {
    be.WriteByte(Align);
    be.WriteWord(LeftMargin);
    be.WriteWord(RightMargin);
    be.WriteWord(Indent);
    be.WriteWord(Leading);
  }
  be.WriteString(VariableName, true, SWFVersion >= 6);
  if (!HasText) return;
  if (WideInitialText.empty()) {
    be.WriteString(InitialText, true, !HTML && SWFVersion >= 6);
  } else {
    const std::string utf8 = Utf16ToUtf8(WideInitialText);  // already UTF-8: never converted
    be.WriteBytes(utf8.data(), static_cast<std::int64_t>(utf8.size()), true);
  }
}

void TSWFDefineEditText::Describe(TSWFDescription& d) const {
  d.Field("id", CharacterId);
  d.Field("bounds", DescribeBoundsInPixels(Bounds));
  if (HasFont) {
    d.Field("font", FontId);
    d.Field("height", FontHeight);
  }
  d.Field("variable", QuoteText(VariableName));
  if (HasText) {
    d.Field("text",
            QuoteText(WideInitialText.empty() ? InitialText : Utf16ToUtf8(WideInitialText)));
  }
}

}  // namespace kestrova
