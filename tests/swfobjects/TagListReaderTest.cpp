#include <gtest/gtest.h>

#include "swfobjects/SWFObjects.h"
#include "swfobjects/TagListReader.h"
#include "tests/swfobjects/TagFamilyTest.h"

namespace kestrova {
namespace {

using test::Bytes;
using test::Concat;
using test::Record;

struct Read {
  std::vector<std::uint16_t> codes;  // TagID of each object (240 for raw tags), 0xFFFF for none
  std::vector<std::uint64_t> positions;
  std::uint64_t trailing = 0;
  std::string error;  // what the list threw, if anything
};

Read ReadList(const Bytes& bytes, const TTagListPolicy& policy, int enclosing = 0) {
  TMemoryStream list(bytes);
  TSWFReadContext context;
  context.SpriteDepth = enclosing;
  Read out;
  try {
    TTagListReader reader(list, context, policy);
    TTagRecord record;
    while (reader.Next(record)) {
      out.codes.push_back(record.Object ? record.Object->TagID : 0xFFFF);
      out.positions.push_back(record.Position);
    }
    out.trailing = reader.TrailingBytes();
  } catch (const std::runtime_error& e) {
    out.error = e.what();
  }
  EXPECT_EQ(context.SpriteDepth, enclosing) << "the nesting count must be restored";
  return out;
}

const Bytes kShow = {0x40, 0x00};
const Bytes kEnd = {0x00, 0x00};

TEST(TagListReader, TopLevelLeavesDamageToTheCaller) {
  const TTagListPolicy top = TTagListPolicy::TopLevel();
  // An End tag does not end a movie's body; the records after it are still read.
  Read r = ReadList(Concat({kShow, kEnd, kShow}), top);
  EXPECT_EQ(r.codes, (std::vector<std::uint16_t>{1, 0, 1}));
  EXPECT_EQ(r.positions, (std::vector<std::uint64_t>{0, 2, 4}));
  // A header cut by the end: trailing bytes, not a tag.
  r = ReadList(Concat({kShow, {0x7F}}), top);
  EXPECT_EQ(r.codes, (std::vector<std::uint16_t>{1}));
  EXPECT_EQ(r.trailing, 1u);
  r = ReadList(Concat({kShow, {0x7F, 0x00, 0x01, 0x00}}), top);  // long header cut
  EXPECT_EQ(r.trailing, 4u);
  // A body cut by the end, and a code without a class: records without objects.
  r = ReadList(Concat({Record(9, {0x11, 0x22, 0x33}), {0xC3, 0x02, 0x01}}), top);
  EXPECT_EQ(r.codes, (std::vector<std::uint16_t>{9, 0xFFFF}));
  EXPECT_TRUE(r.error.empty());
  r = ReadList(Concat({Record(200, {0x01}), kShow}), top);
  EXPECT_EQ(r.codes, (std::vector<std::uint16_t>{0xFFFF, 1}));
}

TEST(TagListReader, SpritePolicyEndsAtEndAndRefusesBrokenFraming) {
  const TTagListPolicy sprite = TTagListPolicy::Sprite();
  Read r = ReadList(Concat({kShow, Record(200, {0x01}), kEnd, kShow}), sprite);
  EXPECT_EQ(r.codes, (std::vector<std::uint16_t>{1, TSWFErrorTag::kTagID, 0}));
  EXPECT_TRUE(r.error.empty());
  // An End that claims a body still ends the list.
  r = ReadList(Concat({{0x02, 0x00, 0xAA, 0xBB}}), sprite);
  EXPECT_EQ(r.codes, (std::vector<std::uint16_t>{0}));

  struct Case {
    const char* what;
    Bytes list;
    const char* message;
  } cases[] = {
      {"empty", {}, "ends without an End tag"},
      {"no End", kShow, "ends without an End tag"},
      {"header cut", Concat({kShow, {0x40}}), "ends without an End tag"},
      {"body past the end", Concat({{0x43, 0x02, 0x11}}), "runs past the sprite's end"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    r = ReadList(c.list, sprite);
    EXPECT_NE(r.error.find(c.message), std::string::npos) << r.error;
    EXPECT_EQ(r.error.rfind("DefineSprite: ", 0), 0u) << r.error;
  }
}

TEST(TagListReader, NestingIsCountedAndBounded) {
  TTagListPolicy sprite = TTagListPolicy::Sprite();
  sprite.MaxNesting = 2;
  EXPECT_TRUE(ReadList(kEnd, sprite, 2).error.empty());
  EXPECT_NE(ReadList(kEnd, sprite, 3).error.find("nested too deeply"), std::string::npos);
  // The top level is not a nested list, however deep the count already is.
  EXPECT_TRUE(ReadList(kShow, TTagListPolicy::TopLevel(), 50).error.empty());
}

TEST(TagListReader, DisallowedCodesAreKeptAsRawTagsWhenRefused) {
  TSWFSetBackgroundColor background;  // not a timeline tag
  background.BackgroundColor().SetRGB(SWFRGB(1, 2, 3));
  const Bytes list = Concat({test::WriteTag(background), kShow, kEnd});
  // Lenient by default: read like any other tag.
  EXPECT_EQ(ReadList(list, TTagListPolicy::Sprite()).codes, (std::vector<std::uint16_t>{9, 1, 0}));

  TTagListPolicy strict = TTagListPolicy::Sprite();
  strict.RefuseDisallowed = true;
  TMemoryStream stream(list);
  TSWFReadContext context;
  TSWFObjectList tags;
  ReadTagList(stream, context, strict, tags);
  ASSERT_EQ(tags.size(), 3u);
  ASSERT_EQ(tags[0]->TagID, TSWFErrorTag::kTagID);
  const auto& raw = static_cast<const TSWFErrorTag&>(*tags[0]);
  EXPECT_EQ(raw.FailedTagID, 9);
  EXPECT_NE(raw.ErrorMessage.find("SetBackgroundColor (code 9) is not allowed"), std::string::npos);
  // Its stored record comes back unchanged.
  EXPECT_EQ(test::WriteTag(*tags[0]), test::WriteTag(background));
  EXPECT_EQ(tags[1]->TagID, 1);
}

TEST(TagListReader, TheCallerMayMoveTheStreamBetweenRecords) {
  const Bytes list = Concat({Record(9, {0x11, 0x22, 0x33}), kShow, kShow});
  TMemoryStream stream(list);
  TSWFReadContext context;
  TTagListReader reader(stream, context, TTagListPolicy::TopLevel());
  TTagRecord record;
  std::vector<std::uint64_t> positions;
  while (reader.Next(record)) {
    positions.push_back(record.Position);
    stream.SetPosition(1);  // as an index of the record's contents would
  }
  EXPECT_EQ(positions, (std::vector<std::uint64_t>{0, 5, 7}));
}

TEST(TagListReader, HeadersAloneIndexWithoutReading) {
  const Bytes list = Concat({Record(9, {0x11, 0x22, 0x33}), Record(200, {0x01}), kShow});
  TMemoryStream stream(list);
  TSWFReadContext context;
  TTagListPolicy policy = TTagListPolicy::TopLevel();
  policy.EntryCost = 1000;
  context.MemoryLimit = 2500;  // two entries fit, the third passes the budget
  TTagListReader reader(stream, context, policy);
  TTagRecord record;
  ASSERT_TRUE(reader.NextHeader(record));
  EXPECT_EQ(record.Header.TagID, 9);
  EXPECT_EQ(record.Header.Length, 3u);
  reader.ReadBody(record, false);
  EXPECT_EQ(record.Object, nullptr);
  ASSERT_TRUE(reader.NextHeader(record));
  EXPECT_EQ(record.Position, 5u);
  reader.ReadBody(record, false);
  EXPECT_THROW(reader.NextHeader(record), EMemoryBudgetExceeded);
}

}  // namespace
}  // namespace kestrova
