#include <gtest/gtest.h>

#include "swfobjects/SWFObjects.h"
#include "tests/swfobjects/TagFamilyTest.h"

namespace kestrova {
namespace {

using test::Bytes;
using test::GoldenRow;

template <class T>
std::unique_ptr<T> Jpeg(std::uint16_t id, Bytes data) {
  auto tag = std::make_unique<T>();
  tag->CharacterId = id;
  tag->Data = std::move(data);
  return tag;
}

std::unique_ptr<TSWFObject> Lossless(std::unique_ptr<TSWFDefineBitsLossless> tag,
                                     std::uint8_t format, Bytes data) {
  tag->CharacterId = 3;
  tag->BitmapFormat = format;
  tag->BitmapWidth = 100;
  tag->BitmapHeight = 50;
  tag->BitmapColorTableSize = 15;
  tag->Data = std::move(data);
  return tag;
}

const std::vector<GoldenRow>& BitmapRows() {
  static const std::vector<GoldenRow> rows = {
      {"DefineBitsJPEG2",
       21,
       [] {
         return Jpeg<TSWFDefineBitsJPEG2>(7, {1, 2, 3});
       },
       {0x07, 0x00, 0xFF, 0xD8 /* start marker */, 1, 2, 3, 0xFF, 0xD9 /* end marker */},
       2 /* the id: image data of any kind follows */},
      {"DefineBits",
       6,
       [] { return Jpeg<TSWFDefineBits>(1, {0xAA}); },
       {0x01, 0x00, 0xFF, 0xD8, 0xAA, 0xFF, 0xD9},
       2},
      {"JPEGTables",
       8,
       [] {
         auto t = std::make_unique<TSWFJPEGTables>();
         t->Data = {0xDB, 0x00};
         return t;
       },
       {0xFF, 0xD8, 0xDB, 0x00, 0xFF, 0xD9},
       1},
      {"DefineBitsJPEG3",
       35,
       [] {
         auto t = Jpeg<TSWFDefineBitsJPEG3>(9, {1, 2});
         t->AlphaData = {0x78, 0x9C};
         return t;
       },
       {0x09, 0x00, 0x06, 0x00, 0x00, 0x00 /* alpha offset n + 4 = 6 */, 0xFF, 0xD8, 1, 2, 0xFF,
        0xD9, 0x78, 0x9C /* alpha block */},
       12 /* the JPEG part must fit; the alpha block may be cut */},
      {"DefineBitsLossless format 5",
       20,
       [] {
         return Lossless(std::make_unique<TSWFDefineBitsLossless>(), 5, {0x78, 0x01});
       },
       {0x03, 0x00, 0x05 /* 32-bit */, 0x64, 0x00, 0x32, 0x00 /* 100 x 50 */, 0x78, 0x01},
       7},
      {"DefineBitsLossless format 3 has the colour table size",
       20,
       [] { return Lossless(std::make_unique<TSWFDefineBitsLossless>(), 3, {0x78}); },
       {0x03, 0x00, 0x03, 0x64, 0x00, 0x32, 0x00, 0x0F /* 16 colours */, 0x78},
       8},
      {"DefineBitsLossless2",
       36,
       [] { return Lossless(std::make_unique<TSWFDefineBitsLossless2>(), 5, {0x00}); },
       {0x03, 0x00, 0x05, 0x64, 0x00, 0x32, 0x00, 0x00},
       7},
  };
  return rows;
}

TEST(BitmapTags, GoldenBytesReadAndRoundTrip) {
  for (const auto& row : BitmapRows()) test::CheckGoldenRow(row);
}

TEST(BitmapTags, TruncatedBodiesBecomeErrorTags) {
  for (const auto& row : BitmapRows()) test::SweepTruncatedPrefixes(row);
}

TEST(BitmapTags, LosslessTakesTheLongHeaderEvenWhenSmall) {
  auto tag = Lossless(std::make_unique<TSWFDefineBitsLossless>(), 5, {0x78, 0x01});
  const Bytes bytes = test::WriteTag(*tag);
  ASSERT_GE(bytes.size(), 6u);
  EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 6),
            (Bytes{0x3F, 0x05 /* DefineBitsLossless, long form */, 9, 0, 0, 0}));
}

TEST(BitmapTags, JpegMarkersAreTakenOffOnlyWhereTheyAre) {
  using Lead = TSWFDataObject::TJPEGLead;
  struct Case {
    const char* what;
    std::uint16_t code;
    Bytes body;
    Bytes data;
    Lead lead;
    bool endMarker;
  };
  const Case cases[] = {
      {"both markers",
       21,
       {0x07, 0x00, 0xFF, 0xD8, 0x11, 0x22, 0xFF, 0xD9},
       {0x11, 0x22},
       Lead::StartMarker,
       true},
      {"erroneous header",
       21,
       {0x07, 0x00, 0xFF, 0xD9, 0xFF, 0xD8, 0x11, 0x22, 0xFF, 0xD9},
       {0x11, 0x22},
       Lead::ErroneousHeader,
       true},
      {"no end marker",
       6,
       {0x07, 0x00, 0xFF, 0xD8, 0x11, 0x22, 0x33},
       {0x11, 0x22, 0x33},
       Lead::StartMarker,
       false},
      {"PNG data",
       21,
       {0x07, 0x00, 0x89, 'P', 'N', 'G', 0x0D, 0x0A},
       {0x89, 'P', 'N', 'G', 0x0D, 0x0A},
       Lead::None,
       false},
      {"data before a marker at an even offset",
       21,
       {0x07, 0x00, 0x00, 0x00, 0xFF, 0xD8, 0xFF, 0xD9},
       {0x00, 0x00, 0xFF, 0xD8},
       Lead::None,
       true},
      {"a marker at an odd offset",
       21,
       {0x07, 0x00, 0x00, 0xFF, 0xD8, 0x11, 0xFF, 0xD9},
       {0x00, 0xFF, 0xD8, 0x11},
       Lead::None,
       true},
      {"tables without markers",
       8,
       {0x11, 0x22, 0x33, 0x44},
       {0x11, 0x22, 0x33, 0x44},
       Lead::None,
       false},
      {"only a start marker", 6, {0x07, 0x00, 0xFF, 0xD8}, {}, Lead::StartMarker, false},
      {"empty", 8, {0x01}, {0x01}, Lead::None, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto tag = test::ReadBody(c.code, c.body);
    auto& data = static_cast<TSWFDataObject&>(*tag);
    EXPECT_EQ(data.Data, c.data);
    EXPECT_EQ(data.JPEGLead, c.lead);
    EXPECT_EQ(data.JPEGEndMarker, c.endMarker);
    EXPECT_EQ(test::WriteBody(*tag), c.body);  // byte for byte
    EXPECT_EQ(test::WriteBody(*CloneTag(*tag)), c.body);
  }
}

TEST(BitmapTags, Jpeg3AlphaOffsetMustFitTheBody) {
  const Bytes tooFar = {0x09, 0x00, 0x07, 0x00, 0x00, 0x00, 0xFF, 0xD8, 0xFF, 0xD9, 0x00};
  EXPECT_THROW(test::ReadBody(35, tooFar), std::runtime_error);
  const Bytes huge = {0x09, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xD8, 0xFF, 0xD9};
  EXPECT_THROW(test::ReadBody(35, huge), std::runtime_error);
  // Exactly fitting: no alpha block.
  auto tag = test::ReadBody(35, {0x09, 0x00, 0x04, 0x00, 0x00, 0x00, 0xFF, 0xD8, 0xFF, 0xD9});
  EXPECT_EQ(static_cast<TSWFDefineBitsJPEG3&>(*tag).AlphaDataSize(), 0);
  // A JPEG part too short for both markers, and PNG data with an alpha block, keep every byte.
  for (const Bytes& body :
       {Bytes{0x09, 0x00, 0x02, 0x00, 0x00, 0x00, 0xFF, 0xD8, 0xFF, 0xD9},
        Bytes{0x09, 0x00, 0x03, 0x00, 0x00, 0x00, 0x89, 'P', 'N', 0x78, 0x9C}}) {
    auto back = test::ReadBody(35, body);
    EXPECT_EQ(test::WriteBody(*back), body) << test::Hex(body);
  }
}

TEST(BitmapTags, CallbacksWriteTheDataAndAreCopied) {
  TSWFDefineBitsJPEG3 tag;
  tag.CharacterId = 4;
  tag.Data = {0xEE, 0xEE, 0xEE};  // ignored while a callback is set
  tag.AlphaData = {0xEE};
  tag.OnDataWrite = [](const TSWFDataObject& self, TBitsEngine& be) {
    be.WriteByte(static_cast<std::uint8_t>(static_cast<const TSWFImageTag&>(self).CharacterId));
  };
  tag.OnAlphaDataWrite = [](const TSWFDataObject&, TBitsEngine& be) { be.WriteWord(0x9C78); };
  const Bytes expected = {0x04, 0x00, 0x05, 0x00, 0x00, 0x00, 0xFF,
                          0xD8, 0x04, 0xFF, 0xD9, 0x78, 0x9C};
  EXPECT_EQ(test::WriteBody(tag), expected);
  auto copy = CloneTag(tag);
  static_cast<TSWFImageTag&>(*copy).CharacterId = 4;
  EXPECT_EQ(test::WriteBody(*copy), expected);
}

TEST(BitmapTags, DefinesItsCharacterAndDescribes) {
  auto tag = Lossless(std::make_unique<TSWFDefineBitsLossless2>(), 3, {1, 2, 3});
  std::vector<std::uint16_t*> ids;
  tag->DefinedCharacterIDs(ids);
  ASSERT_EQ(ids.size(), 1u);
  EXPECT_EQ(*ids[0], 3);
  TSWFDescription d;
  tag->Describe(d);
  EXPECT_EQ(d.Fields, "id=3 format=8-bit width=100 height=50 colors=16 data=3");
  TSWFDescription j;
  Jpeg<TSWFDefineBitsJPEG3>(5, {1, 2})->Describe(j);
  EXPECT_EQ(j.Fields, "id=5 format=JPEG data=2 alpha=0");
  TSWFJPEGTables tables;
  ids.clear();
  tables.DefinedCharacterIDs(ids);
  EXPECT_TRUE(ids.empty());
}

TEST(BitmapTags, ChangeCharacterIDsRenumbersEveryKind) {
  Bytes records;
  const std::uint16_t codes[] = {6, 21, 35, 20, 36};
  std::uint16_t oldID = 50;
  for (std::uint16_t code : codes) {
    auto tag = CreateTagByID(code);
    static_cast<TSWFImageTag&>(*tag).CharacterId = oldID--;
    records = test::Concat({records, test::WriteTag(*tag)});
  }
  auto reader = test::ParseRecords(records);
  EXPECT_EQ(reader->ChangeCharacterIDs(200), 205);
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(static_cast<TSWFImageTag&>(*reader->TagList[i]->SWFObject).CharacterId, 200 + i);
  }
}

}  // namespace
}  // namespace kestrova
