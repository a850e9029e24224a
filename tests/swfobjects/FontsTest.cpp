#include <gtest/gtest.h>

#include "swfobjects/SWFObjects.h"
#include "tests/swfobjects/TagFamilyTest.h"

namespace kestrova {
namespace {

using test::Bytes;
using test::GoldenRow;

std::unique_ptr<TSWFShapeRecord> Move(std::int32_t x, std::int32_t y, bool fill1) {
  auto sc = std::make_unique<TSWFStyleChangeRecord>();
  sc->SetMoveTo(x, y);
  if (fill1) sc->SetFillStyle1(1);
  return sc;
}

std::unique_ptr<TSWFShapeRecord> Edge(std::int32_t dx, std::int32_t dy) {
  auto e = std::make_unique<TSWFStraightEdgeRecord>();
  e->DeltaX = dx;
  e->DeltaY = dy;
  return e;
}

TSWFShapeRecordList Glyph(std::unique_ptr<TSWFShapeRecord> a, std::unique_ptr<TSWFShapeRecord> b) {
  TSWFShapeRecordList glyph;
  glyph.push_back(std::move(a));
  glyph.push_back(std::move(b));
  return glyph;
}

std::unique_ptr<TSWFObject> TwoGlyphFont() {
  auto font = std::make_unique<TSWFDefineFont>();
  font->FontId = 2;
  font->GlyphShapeTable.push_back(Glyph(Move(20, 0, true), Edge(0, 20)));
  font->GlyphShapeTable.emplace_back();  // an empty glyph: just the end record
  return font;
}

std::unique_ptr<TSWFObject> FontInfo(bool version2) {
  std::unique_ptr<TSWFDefineFontInfo> info;
  if (version2) {
    auto info2 = std::make_unique<TSWFDefineFontInfo2>();
    info2->LanguageCode = 1;
    info = std::move(info2);
    info->FontName = "Arial";
    info->CodeTable = {0x41};
  } else {
    info = std::make_unique<TSWFDefineFontInfo>();
    info->FontName = "Caf\xE9";  // Windows-1252
    info->SWFVersion = 6;
    info->FontFlagsWideCodes = true;
    info->CodeTable = {0x41, 0xE9};
  }
  info->FontId = 2;
  info->FontFlagsBold = true;
  return info;
}

std::unique_ptr<TSWFDefineFont2> LayoutFont() {
  auto font = std::make_unique<TSWFDefineFont2>();
  font->FontId = 4;
  font->FontFlagsHasLayout = true;
  font->FontFlagsWideCodes = true;
  font->FontFlagsBold = true;
  // The first style change selects no fill: it is made to select fill style 1.
  font->GlyphShapeTable.push_back(Glyph(Move(0, 0, false), Edge(0, -20)));
  font->CodeTable = {0x41};
  font->FontAscent = 800;
  font->FontDescent = 200;
  font->FontAdvanceTable = {600};
  font->FontBoundsTable.emplace_back();
  font->KerningTable().push_back({0x41, 0x42, -10});
  return font;
}

std::unique_ptr<TSWFObject> Text() {
  auto text = std::make_unique<TSWFDefineText>();
  text->CharacterId = 5;
  text->TextBounds.SetRec({0, 400, 0, 200});
  text->GlyphBits = 4;
  text->AdvanceBits = 8;
  auto first = std::make_unique<TSWFTextRecord>();
  first->SetFontId(1);
  first->SetTextHeight(240);
  first->GlyphEntries = {{0, 100}, {1, -20}};
  text->TextRecords.push_back(std::move(first));
  auto second = std::make_unique<TSWFTextRecord>();
  second->TextColor().SetRGB(SWFRGB(0xFF, 0, 0));
  second->SetXOffset(100);
  text->TextRecords.push_back(std::move(second));
  return text;
}

std::unique_ptr<TSWFObject> Text2() {
  auto text = std::make_unique<TSWFDefineText2>();
  text->CharacterId = 6;
  text->GlyphBits = 1;
  text->AdvanceBits = 1;
  auto record = std::make_unique<TSWFTextRecord>();
  record->TextColor().SetRGBA(0x800000FF);
  record->GlyphEntries = {{1, 0}};
  text->TextRecords.push_back(std::move(record));
  return text;
}

std::unique_ptr<TSWFDefineEditText> EditText() {
  auto edit = std::make_unique<TSWFDefineEditText>();
  edit->CharacterId = 7;
  edit->HasText = true;
  edit->ReadOnly = true;
  edit->HasFont = true;
  edit->FontId = 1;
  edit->FontHeight = 240;
  edit->TextColor().SetRGBA(0xFF332211);
  edit->HasMaxLength = true;
  edit->MaxLength = 20;
  edit->HasLayout = true;
  edit->Align = 1;
  edit->LeftMargin = 2;
  edit->RightMargin = 3;
  edit->Indent = 4;
  edit->Leading = 5;
  edit->AutoSize = true;
  edit->Border = true;
  edit->VariableName = "v";
  edit->InitialText = "Caf\xE9";
  edit->SWFVersion = 6;
  return edit;
}

const std::vector<GoldenRow>& FontRows() {
  static const std::vector<GoldenRow> rows = {
      {"DefineFont without glyphs",
       10,
       [] {
         auto f = std::make_unique<TSWFDefineFont>();
         f->FontId = 1;
         return f;
       },
       {0x01, 0x00, 0x00, 0x00}},
      {"DefineFont with two glyphs",
       10,
       TwoGlyphFont,
       {0x02, 0x00, 0x04, 0x00 /* first glyph after the 4-byte table */, 0x0B, 0x00, 0x10, 0x14,
        0xCA, 0x01, 0xD1, 0x50, 0x00 /* move 20 0, fill 1, edge 0 20, end */, 0x10,
        0x00 /* empty glyph */}},
      {"DefineFontInfo SWF 6: UTF-8 length",
       13,
       [] { return FontInfo(false); },
       {0x02, 0x00, 0x05 /* 4 letters, 5 bytes */, 'C', 'a', 'f', 0xC3, 0xA9,
        0x03 /* bold, wide codes */, 0x41, 0x00, 0xE9, 0x00},
       9 /* codes fill the rest of the body when the font is unknown */},
      {"DefineFontInfo2",
       62,
       [] { return FontInfo(true); },
       {0x02, 0x00, 0x05, 'A', 'r', 'i', 'a', 'l', 0x03 /* bold, always wide */,
        0x01 /* language */, 0x41, 0x00},
       10},
      {"DefineFont2 with no codes: no layout, ANSI",
       48,
       [] {
         auto f = std::make_unique<TSWFDefineFont2>();
         f->FontId = 3;
         f->FontFlagsHasLayout = true;
         f->FontName = "F";
         return f;
       },
       {0x03, 0x00, 0x10 /* ANSI only */, 0x00, 0x01, 'F', 0x00, 0x00 /* no glyphs */, 0x02,
        0x00 /* code table offset */}},
      {"DefineFont2 with layout and kerning",
       48,
       [] { return LayoutFont(); },
       {0x04,
        0x00,
        0x85 /* layout, wide codes, bold */,
        0x00,
        0x00 /* no name */,
        0x01,
        0x00,
        0x04,
        0x00,
        0x09,
        0x00 /* glyph and code table offsets */,
        0x10,
        0x34,
        0x1D,
        0x1B,
        0x00 /* move, fill 1 and line selected, edge 0 -20, end */,
        0x41,
        0x00 /* code */,
        0x20,
        0x03,
        0xC8,
        0x00,
        0x00,
        0x00 /* ascent descent leading */,
        0x58,
        0x02 /* advance 600 */,
        0x00 /* bounds */,
        0x01,
        0x00,
        0x41,
        0x00,
        0x42,
        0x00,
        0xF6,
        0xFF /* one kerning pair, -10 */}},
      {"DefineText",
       11,
       Text,
       {0x05,
        0x00,
        0x50,
        0x00,
        0xC8,
        0x00,
        0x06,
        0x40 /* RECT 0 400 0 200 */,
        0x00 /* MATRIX */,
        0x04,
        0x08 /* GlyphBits, AdvanceBits */,
        0x88,
        0x01,
        0x00,
        0xF0,
        0x00 /* font 1, height 240 */,
        0x02,
        0x06,
        0x41,
        0xEC /* 2 glyphs */,
        0x85,
        0xFF,
        0x00,
        0x00,
        0x64,
        0x00 /* RGB colour, x offset 100 */,
        0x00 /* no glyphs */,
        0x00 /* end of records */}},
      {"DefineText2 has RGBA colours",
       33,
       Text2,
       {0x06, 0x00, 0x00, 0x00, 0x01, 0x01, 0x84, 0xFF, 0x00, 0x00, 0x80, 0x01, 0x80 /* 1, 0 */,
        0x00}},
      {"DefineEditText",
       37,
       [] { return EditText(); },
       {0x07,
        0x00,
        0x00,
        0x8F /* text, read only, colour, max length, font */,
        0x68 /* auto size, layout, border */,
        0x01,
        0x00,
        0xF0,
        0x00,
        0x11,
        0x22,
        0x33,
        0xFF,
        0x14,
        0x00,
        0x01,
        0x02,
        0x00,
        0x03,
        0x00,
        0x04,
        0x00,
        0x05,
        0x00,
        'v',
        0x00,
        'C',
        'a',
        'f',
        0xC3,
        0xA9,
        0x00 /* UTF-8 from SWF 6 */}},
      {"DefineEditText wide initial text",
       37,
       [] {
         auto e = std::make_unique<TSWFDefineEditText>();
         e->CharacterId = 8;
         e->HasText = true;
         e->WideInitialText = u"\u20AC1";
         return e;
       },
       {0x08, 0x00, 0x00, 0x80, 0x00, 0x00 /* empty name */, 0xE2, 0x82, 0xAC, '1', 0x00}},
  };
  return rows;
}

TEST(FontTags, GoldenBytesReadAndRoundTrip) {
  for (const auto& row : FontRows()) test::CheckGoldenRow(row);
}

TEST(FontTags, TruncatedBodiesBecomeErrorTags) {
  for (const auto& row : FontRows()) test::SweepTruncatedPrefixes(row);
}

TEST(FontTags, MinVersions) {
  auto edit = EditText();
  EXPECT_EQ(edit->MinVersion(), 6);
  edit->AutoSize = false;
  EXPECT_EQ(edit->MinVersion(), 4);
  EXPECT_EQ(TSWFDefineFontInfo2().MinVersion(), 6);
  EXPECT_EQ(TSWFDefineFont2().MinVersion(), 3);
  EXPECT_EQ(TSWFDefineText2().MinVersion(), 3);
}

TEST(FontTags, ReadsTheFieldsBack) {
  auto font = test::ReadBody(48, test::WriteBody(*LayoutFont()));
  const auto& f = static_cast<const TSWFDefineFont2&>(*font);
  EXPECT_EQ(f.GlyphShapeTable.size(), 1u);
  EXPECT_EQ(f.CodeTable, std::vector<std::uint16_t>{0x41});
  EXPECT_EQ(f.FontAdvanceTable, std::vector<std::int16_t>{600});
  ASSERT_NE(f.KerningTableIfAny(), nullptr);
  EXPECT_EQ((*f.KerningTableIfAny())[0].FontKerningAdjustment, -10);

  auto text = test::ReadBody(11, test::WriteBody(*Text()));
  const auto& t = static_cast<const TSWFDefineText&>(*text);
  ASSERT_EQ(t.TextRecords.size(), 2u);
  EXPECT_EQ(t.TextRecords[0]->FontId(), 1);
  EXPECT_EQ(t.TextRecords[0]->GlyphEntries[1].GlyphAdvance, -20);
  EXPECT_EQ(t.TextRecords[1]->XOffset(), 100);
  EXPECT_FALSE(t.TextRecords[1]->StyleFlagsHasFont);

  // A name that Windows-1252 cannot hold stays UTF-8 and is written back unchanged.
  const Bytes greek = {0x01, 0x00, 0x02, 0xCE, 0xA9 /* U+03A9 */, 0x00};
  auto info = test::ReadBody(13, greek, 6);
  EXPECT_TRUE(static_cast<const TSWFDefineFontInfo&>(*info).FontNameIsUTF8);
  EXPECT_EQ(test::WriteBody(*info), greek);
}

// The glyph count a font info needs comes from its own font in the same reading pass, whatever
// fonts come between them.
TEST(FontTags, FontInfoTakesTheGlyphCountOfItsFont) {
  TSWFDefineFont second;
  second.FontId = 9;
  second.GlyphShapeTable.emplace_back();
  const Bytes info = {0x02, 0x00, 0x00, 0x00 /* narrow codes */, 0x41, 0x42, 0x43 /* spare */};
  const Bytes unknown = {0x07, 0x00, 0x00, 0x00, 0x41, 0x42, 0x43};
  const Bytes tooShort = {0x02, 0x00, 0x00, 0x00, 0x41};
  auto reader = test::ParseRecords(
      test::Concat({test::WriteTag(*TwoGlyphFont()), test::WriteTag(second), test::Record(13, info),
                    test::Record(13, unknown), test::Record(13, tooShort)}));
  ASSERT_EQ(reader->TagList.size(), 5u);
  const auto& known = static_cast<const TSWFDefineFontInfo&>(*reader->TagList[2]->SWFObject);
  EXPECT_EQ(known.CodeTable, (std::vector<std::uint16_t>{0x41, 0x42}));
  const auto& other = static_cast<const TSWFDefineFontInfo&>(*reader->TagList[3]->SWFObject);
  EXPECT_EQ(other.CodeTable.size(), 3u);
  EXPECT_TRUE(reader->TagList[4]->Error() != nullptr);
}

// Glyphs too large for 16-bit offsets switch the offsets to 32 bits instead of wrapping them.
TEST(FontTags, LargeFont2TakesWideOffsets) {
  TSWFDefineFont2 font;
  font.FontId = 1;
  for (int g = 0; g < 30; ++g) {
    TSWFShapeRecordList& glyph = font.GlyphShapeTable.emplace_back();
    for (int i = 0; i < 1000; ++i) glyph.push_back(Edge(30000, i % 2 ? 1 : -1));
  }
  const Bytes body = test::WriteBody(font);
  ASSERT_GT(body.size(), 0x10000u);
  EXPECT_EQ(body[2] & 0x08, 0x08) << "WideOffsets";
  auto back = test::ReadBody(48, body);
  const auto& b = static_cast<const TSWFDefineFont2&>(*back);
  ASSERT_EQ(b.GlyphShapeTable.size(), 30u);
  EXPECT_EQ(b.GlyphShapeTable[29].size(), 1001u);  // the edges and the end record
  EXPECT_EQ(test::WriteBody(*back), body);
}

TEST(FontTags, DamagedFont2Offsets) {
  Bytes body = test::WriteBody(*LayoutFont());
  Bytes backwards = body;
  backwards[7] = 0x0A;  // glyph offset past the code table offset
  EXPECT_THROW(test::ReadBody(48, backwards), std::runtime_error);
  Bytes huge = body;
  huge[5] = 0xFF;  // 65535 glyphs claimed
  huge[6] = 0xFF;
  EXPECT_THROW(test::ReadBody(48, huge), std::runtime_error);
}

// A glyph must end where the next one starts: one that runs on is an error, even when the rest
// of the body would still read.
TEST(FontTags, Font2GlyphRunningPastItsRangeFails) {
  TSWFDefineFont2 font;
  font.FontId = 1;
  font.GlyphShapeTable.push_back(Glyph(Move(0, 0, true), Edge(0, -20)));
  font.CodeTable = {0x41};
  Bytes body = test::WriteBody(font);
  // id, flags, language, name length, glyph count, then offsets 4 and 4 + glyph size.
  ASSERT_EQ(body[7], 4);
  ASSERT_NO_THROW(test::ReadBody(48, body));
  body[9] = static_cast<std::uint8_t>(body[9] - 1);  // the code table offset one byte early
  EXPECT_THROW(test::ReadBody(48, body), std::runtime_error);
}

// Glyph entries of 0 bits cost no bits: their number is bounded by the body's bits, so a small
// body cannot claim millions of entries; a text of a few such records still round-trips.
TEST(FontTags, ZeroBitGlyphEntriesAreBounded) {
  TSWFDefineText text;
  text.CharacterId = 1;
  text.GlyphBits = 0;
  text.AdvanceBits = 0;
  for (int i = 0; i < 3; ++i) {
    auto record = std::make_unique<TSWFTextRecord>();
    record->GlyphEntries.resize(4);
    text.TextRecords.push_back(std::move(record));
  }
  const Bytes body = test::WriteBody(text);
  auto back = test::ReadBody(11, body);
  EXPECT_EQ(test::WriteBody(*back), body);

  Bytes flood = {0x01, 0x00, 0x00 /* bounds */, 0x00 /* matrix */, 0x00, 0x00 /* bits */};
  for (int i = 0; i < 100; ++i) flood.insert(flood.end(), {0x80 /* record */, 0xFF /* 255 */});
  flood.push_back(0x00);
  for (std::uint16_t code : {11, 33}) {
    try {
      test::ReadBody(code, flood);
      ADD_FAILURE() << "25500 glyph entries from a " << flood.size() << "-byte body";
    } catch (const std::exception& e) {
      EXPECT_NE(std::string(e.what()).find("glyph entries"), std::string::npos) << e.what();
    }
  }
}

TEST(FontTags, Describe) {
  TSWFDescription font;
  LayoutFont()->Describe(font);
  EXPECT_EQ(font.Fields, "id=4 name=\"\" glyphs=1 flags=layout,wide-codes,bold kernings=1");
  TSWFDescription info;
  FontInfo(false)->Describe(info);
  EXPECT_EQ(info.Fields, "font=2 name=\"Caf\xC3\xA9\" codes=2 flags=bold,wide-codes");
  TSWFDescription text;
  Text()->Describe(text);
  EXPECT_EQ(text.Fields, "id=5 bounds=0,0-20,10 records=2");
  ASSERT_EQ(text.Lines.size(), 2u);
  EXPECT_EQ(text.Lines[0].second, "font=1 height=240 glyphs=2");
  TSWFDescription edit;
  EditText()->Describe(edit);
  EXPECT_EQ(edit.Fields, "id=7 bounds=0,0-0,0 font=1 height=240 variable=\"v\" text=\"Caf\xE9\"");
}

TEST(FontTags, ChangeCharacterIDs) {
  TSWFDefineFont2 font2;
  font2.FontId = 1;
  TSWFDefineFont font;
  font.FontId = 2;
  auto info = FontInfo(false);
  auto info2 = FontInfo(true);
  TSWFDefineText text;
  text.CharacterId = 3;
  for (int fontId : {1, -1, 9}) {
    auto record = std::make_unique<TSWFTextRecord>();
    if (fontId >= 0) record->SetFontId(static_cast<std::uint16_t>(fontId));
    text.TextRecords.push_back(std::move(record));
  }
  auto edit = EditText();
  edit->CharacterId = 4;
  TSWFDefineEditText noFont;
  noFont.CharacterId = 5;
  noFont.FontId = 1;  // not written: HasFont is off

  auto reader = test::ParseRecords(test::Concat(
      {test::WriteTag(font2), test::WriteTag(font), test::WriteTag(*info), test::WriteTag(*info2),
       test::WriteTag(text), test::WriteTag(*edit), test::WriteTag(noFont)}));
  ASSERT_EQ(reader->TagList.size(), 7u);
  EXPECT_EQ(reader->ChangeCharacterIDs(100), 105);
  auto object = [&](std::size_t i) { return reader->TagList[i]->SWFObject.get(); };
  EXPECT_EQ(static_cast<TSWFDefineFont2*>(object(0))->FontId, 100);
  EXPECT_EQ(static_cast<TSWFDefineFont*>(object(1))->FontId, 101);
  EXPECT_EQ(static_cast<TSWFDefineFontInfo*>(object(2))->FontId, 101);
  EXPECT_EQ(static_cast<TSWFDefineFontInfo2*>(object(3))->FontId, 101);
  const auto* t = static_cast<TSWFDefineText*>(object(4));
  EXPECT_EQ(t->CharacterId, 102);
  EXPECT_EQ(t->TextRecords[0]->FontId(), 100);
  EXPECT_EQ(t->TextRecords[2]->FontId(), 9);
  const auto* e = static_cast<TSWFDefineEditText*>(object(5));
  EXPECT_EQ(e->CharacterId, 103);
  EXPECT_EQ(e->FontId, 100);
  EXPECT_EQ(static_cast<TSWFDefineEditText*>(object(6))->CharacterId, 104);
}

// A movie of a font, a text and an edit field is saved, loaded, parsed and rebuilt: the file must
// come out byte for byte the same, plain and compressed.
TEST(FontTags, MovieOfFontsAndTextsRebuildsByteEqual) {
  for (const bool compressed : {false, true}) {
    TSWFStreamReader movie;
    movie.SetVersion(6);
    movie.SetCompressed(compressed);
    movie.FrameSize = {0, 0, 11000, 8000};
    movie.SetFPS(12);
    movie.FrameCount = 1;
    auto font = LayoutFont();
    font->FontId = 1;
    font->FontName = "Caf\xE9";
    font->SWFVersion = 6;
    auto text = Text();
    auto edit = EditText();
    TBitsEngine be(movie.Body());
    for (TSWFObject* tag : std::initializer_list<TSWFObject*>{font.get(), text.get(), edit.get()}) {
      tag->WriteToStream(be);
    }
    const Bytes frameAndEnd = {0x40, 0x00, 0x00, 0x00};
    movie.Body().Write(frameAndEnd.data(), frameAndEnd.size());
    TMemoryStream saved;
    movie.SaveToStream(saved);

    TSWFStreamReader reader;
    saved.SetPosition(0);
    reader.LoadFromStream(saved);
    ASSERT_TRUE(reader.IsValid);
    reader.ParseTags();
    ASSERT_EQ(reader.TagList.size(), 5u);
    for (const auto& info : reader.TagList) ASSERT_FALSE(info->Error() != nullptr);
    EXPECT_EQ(static_cast<TSWFDefineFont2&>(*reader.TagList[0]->SWFObject).FontName, "Caf\xE9");
    reader.MakeStream();
    TMemoryStream rebuilt;
    reader.SaveToStream(rebuilt);
    EXPECT_EQ(rebuilt.Bytes(), saved.Bytes()) << (compressed ? "compressed" : "plain");
  }
}

}  // namespace
}  // namespace kestrova
