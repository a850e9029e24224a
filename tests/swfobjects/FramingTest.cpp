#include <gtest/gtest.h>

#include "swfobjects/SWFObjects.h"
#include "tests/swfobjects/TagFamilyTest.h"

namespace kestrova {
namespace {

using test::Bytes;

// A tag whose body is n bytes of 0xAB: enough to exercise the header forms of any code.
class TFixedBodyTag : public TSWFObject {
 public:
  TFixedBodyTag(std::uint16_t code, std::size_t n) : TSWFObject(code), Size(n) {}
  std::size_t Size;
  void WriteTagBody(TBitsEngine& be) const override {
    for (std::size_t i = 0; i < Size; ++i) be.WriteByte(0xAB);
  }
};

struct HeaderCase {
  const char* what;
  std::uint16_t code;
  std::size_t bodySize;
  Bytes header;
};

TEST(RecordHeader, ShortAndLongForms) {
  const HeaderCase cases[] = {
      {"ShowFrame", 1, 0, {0x40, 0x00}},
      {"End", 0, 0, {0x00, 0x00}},
      {"62 bytes: short", 9, 62, {0x7E, 0x02 /* 9<<6 | 62 */}},
      {"63 bytes: long", 9, 63, {0x7F, 0x02, 63, 0, 0, 0}},
      {"DefineBitsLossless always long", 20, 10, {0x3F, 0x05, 10, 0, 0, 0}},
      {"DefineBitsLossless2 always long", 36, 0, {0x3F, 0x09, 0, 0, 0, 0}},
      {"DefineVideoStream always long", 60, 1, {0x3F, 0x0F, 1, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    TFixedBodyTag tag(c.code, c.bodySize);
    const Bytes once = test::WriteTag(tag);
    Bytes expected = c.header;
    expected.insert(expected.end(), c.bodySize, 0xAB);
    EXPECT_EQ(once, expected) << c.what << ": " << test::Hex(once);
    EXPECT_EQ(tag.BodySize, static_cast<std::int32_t>(c.bodySize)) << c.what;
    EXPECT_EQ(test::WriteTag(tag), once) << c.what << ": writing twice differs";

    // The same header from a body stream.
    TMemoryStream body, out;
    for (std::size_t i = 0; i < c.bodySize; ++i) body.WriteByte(0xAB);
    body.SetPosition(0);
    WriteTagFromStream(out, c.code, body, 0);
    EXPECT_EQ(out.Bytes(), expected) << c.what << " (WriteTagFromStream)";
  }
}

TEST(RecordHeader, TotalTagSize) {
  TFixedBodyTag tag(9, 0);
  tag.BodySize = 62;
  EXPECT_EQ(TotalTagSize(tag), 64);
  tag.BodySize = 63;
  EXPECT_EQ(TotalTagSize(tag), 69);
}

TEST(Catalogue, EveryCodeMakesItsClassOrNothing) {
  std::size_t pending = 0;
  for (unsigned code = 0; code < 1024; ++code) {
    const TTagCatalogueRow* row = nullptr;
    for (std::size_t i = 0; i < kTagCatalogueSize; ++i) {
      if (kTagCatalogue[i].Code == code) row = &kTagCatalogue[i];
    }
    auto tag = CreateTagByID(static_cast<std::uint16_t>(code));
    if (!row || !row->Built) {
      EXPECT_EQ(tag, nullptr) << "code " << code;
      if (row) {
        ++pending;
        std::printf("  catalogue row not built yet: %u %s (%s)\n", code, row->Name, row->ClassName);
      }
      continue;
    }
    ASSERT_NE(tag, nullptr) << row->Name;
    EXPECT_EQ(tag->TagID, code) << row->Name;
    EXPECT_GE(tag->MinVersion(), row->MinVersion) << row->Name;
    EXPECT_STREQ(TagName(static_cast<std::uint16_t>(code)), row->Name);
    EXPECT_EQ(tag->LibraryLevel(), 0);
    // A default object survives a write and a read of what it wrote.
    const Bytes body = test::WriteBody(*tag);
    auto back = test::ReadBody(static_cast<std::uint16_t>(code), body);
    if (!body.empty()) {
      EXPECT_EQ(test::WriteBody(*back), body) << row->Name;
    }
    auto copy = CloneTag(*tag);
    EXPECT_EQ(test::WriteTag(*copy), test::WriteTag(*tag)) << row->Name;
  }
  EXPECT_EQ(kTagCatalogueSize, 46u);
  EXPECT_EQ(pending, 0u) << "every catalogued tag has its class";
  EXPECT_EQ(CreateTagByID(240), nullptr);
  EXPECT_EQ(CreateTagByID(3), nullptr);
  EXPECT_EQ(CreateTagByID(67), nullptr);
}

TEST(ErrorTag, WritesTheStoredRecordBack) {
  TSWFErrorTag tag;
  tag.FailedTagID = 2;
  tag.ErrorMessage = "bad";
  tag.StoredBody = {0xAA, 0xBB};
  tag.BodySize = 100;
  EXPECT_EQ(test::WriteTag(tag), (Bytes{0x82, 0x00 /* DefineShape, 2 bytes */, 0xAA, 0xBB}));
  EXPECT_EQ(tag.BodySize, 2);
  EXPECT_EQ(tag.TagID, TSWFErrorTag::kTagID);  // never mistaken for a parsed DefineShape
  // A short body the file framed with the long header keeps that form.
  tag.StoredLongHeader = true;
  EXPECT_EQ(test::WriteTag(tag), (Bytes{0xBF, 0x00, 2, 0, 0, 0, 0xAA, 0xBB}));
  auto copy = CloneTag(tag);
  EXPECT_EQ(static_cast<TSWFErrorTag&>(*copy).ErrorMessage, "bad");
  EXPECT_EQ(test::WriteTag(*copy), test::WriteTag(tag));
}

TEST(ControlTags, SetBackgroundColorGoldenAndRoundTrip) {
  TSWFSetBackgroundColor tag;
  tag.BackgroundColor().SetRGB(SWFRGB(0x11, 0x22, 0x33));
  const Bytes bytes = test::WriteTag(tag);
  EXPECT_EQ(bytes, (Bytes{0x43, 0x02 /* 9<<6 | 3 */, 0x11, 0x22, 0x33}));
  auto back = test::ReadBody(9, Bytes(bytes.begin() + 2, bytes.end()));
  EXPECT_EQ(test::WriteTag(*back), bytes);
  EXPECT_THROW(test::ReadBody(9, Bytes{0x11, 0x22}), EStreamError);
}

// Every short body fails with the one parse error, naming the tag and where reading stopped.
TEST(ParseError, NamesTheTagAndTheOffset) {
  struct Case {
    std::uint16_t code;
    Bytes body;
    std::uint64_t offset;
  };
  const Case cases[] = {
      {9, {0x11, 0x22}, 0},         // SetBackgroundColor: three bytes needed, none read
      {43, {'a', 'b'}, 2},          // FrameLabel: the string runs to the end unterminated
      {14, {0x01, 0x00}, 2},        // DefineSound: the id, then no flags byte
      {26, {0x04, 0x01, 0x00}, 3},  // PlaceObject2 with a character flag and no id
  };
  for (const Case& c : cases) {
    try {
      test::ReadBody(c.code, c.body);
      ADD_FAILURE() << "tag " << c.code << " read a short body";
    } catch (const ESWFParseError& e) {
      EXPECT_EQ(e.TagID, c.code);
      EXPECT_EQ(e.Offset, c.offset) << "tag " << c.code << ": " << e.what();
    }
  }
}

TEST(Assign, RefusesAnotherClass) {
  TSWFShowFrame show;
  TSWFEnd end;
  EXPECT_THROW(show.Assign(end), std::invalid_argument);
}

}  // namespace
}  // namespace kestrova

namespace kestrova {
namespace {

// Bytes after the fields a class reads are kept and written back, for every class: padding and
// fields of later versions survive a rewrite.
TEST(Framing, BytesAfterTheParsedFieldsSurviveARewrite) {
  const test::Bytes extra = {0xAA, 0xBB, 0xCC};
  for (std::size_t i = 0; i < kTagCatalogueSize; ++i) {
    const TTagCatalogueRow& row = kTagCatalogue[i];
    SCOPED_TRACE(row.Name);
    auto tag = CreateTagByID(row.Code);
    test::Bytes body = test::WriteBody(*tag);
    body.insert(body.end(), extra.begin(), extra.end());
    const test::Bytes records = test::Concat({test::Record(row.Code, body), {0x40, 0x00}});
    auto reader = test::ParseRecords(records, 10);
    ASSERT_EQ(reader->TagList.size(), 2u);
    const TSWFTagInfo& info = *reader->TagList[0];
    ASSERT_NE(info.SWFObject, nullptr);
    // After PlaceObject's fields, any bytes are its optional colour transform: these are no valid
    // one, and the tag keeps them as stored.
    if (row.Code != 4) {
      EXPECT_EQ(info.Error(), nullptr) << info.Error()->ErrorMessage;
    }
    reader->MakeStream();
    EXPECT_EQ(reader->Body().Bytes(), records);
  }
}

TEST(Framing, DoActionKeepsWhatFollowsItsEndCode) {
  const test::Bytes body = {0x07 /* Stop */, 0x00 /* end */, 0xAA, 0xBB, 0xCC};
  auto tag = test::ReadBody(12, body);
  EXPECT_EQ(static_cast<TSWFDoAction&>(*tag).Actions().size(), 1u);
  EXPECT_EQ(test::WriteTag(*tag), test::Record(12, body));
}

}  // namespace
}  // namespace kestrova

namespace kestrova {
namespace {

// The catalogue's "defines a character" column agrees with what each class reports (ImportAssets
// defines one id per imported asset, none while it has none).
TEST(Catalogue, DefinesColumnAgreesWithTheClasses) {
  for (std::size_t i = 0; i < kTagCatalogueSize; ++i) {
    const TTagCatalogueRow& row = kTagCatalogue[i];
    SCOPED_TRACE(row.Name);
    auto tag = CreateTagByID(row.Code);
    std::vector<std::uint16_t*> ids;
    tag->DefinedCharacterIDs(ids);
    if (row.Code == 57) {
      EXPECT_TRUE(row.Has(kDefines));
      continue;
    }
    EXPECT_EQ(!ids.empty(), row.Has(kDefines));
  }
  EXPECT_EQ(FindTagRow(240), nullptr);
  EXPECT_TRUE(IsAlwaysLongHeader(20) && IsAlwaysLongHeader(36) && IsAlwaysLongHeader(60));
  EXPECT_FALSE(IsAlwaysLongHeader(21));
}

}  // namespace
}  // namespace kestrova
