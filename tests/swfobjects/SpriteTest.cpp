#include <gtest/gtest.h>

#include <functional>

#include "swfobjects/SWFObjects.h"
#include "swfstreams/SWFStreams.h"
#include "tests/TestUtil.h"
#include "tests/swfobjects/TagFamilyTest.h"

namespace kestrova {
namespace {

using test::Bytes;

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// A record with the short header when it fits, or the long one when asked or needed.
Bytes Record(std::uint16_t code, const Bytes& body, bool longForm = false) {
  const auto n = static_cast<std::uint32_t>(body.size());
  if (!longForm && n < 63) {
    const auto word = static_cast<std::uint16_t>((code << 6) | n);
    return Cat({{std::uint8_t(word), std::uint8_t(word >> 8)}, body});
  }
  const auto word = static_cast<std::uint16_t>((code << 6) | 0x3F);
  return Cat({{std::uint8_t(word), std::uint8_t(word >> 8), std::uint8_t(n), std::uint8_t(n >> 8),
               std::uint8_t(n >> 16), std::uint8_t(n >> 24)},
              body});
}

std::unique_ptr<TSWFStreamReader> Parse(const Bytes& tags) {
  auto reader = std::make_unique<TSWFStreamReader>();
  reader->Body().Write(tags.data(), tags.size());
  reader->ParseTags(true, true);
  return reader;
}

std::unique_ptr<TSWFObject> StartSound(std::uint16_t id) {
  auto s = std::make_unique<TSWFStartSound>();
  s->SoundId = id;
  return s;
}

std::unique_ptr<TSWFDefineSprite> Sprite(std::uint16_t id, std::uint16_t frames,
                                         std::vector<std::unique_ptr<TSWFObject>> tags) {
  auto sprite = std::make_unique<TSWFDefineSprite>();
  sprite->SpriteId = id;
  sprite->FrameCount = frames;
  sprite->ControlTags = std::move(tags);
  return sprite;
}

template <class... T>
std::vector<std::unique_ptr<TSWFObject>> Tags(std::unique_ptr<T>... tags) {
  std::vector<std::unique_ptr<TSWFObject>> list;
  (list.push_back(std::move(tags)), ...);
  return list;
}

using test::GoldenRow;

std::vector<std::uint16_t> Codes(const TSWFDefineSprite& sprite) {
  std::vector<std::uint16_t> codes;
  for (const auto& t : sprite.ControlTags) codes.push_back(t->TagID);
  return codes;
}

// A check that the sprite read back holds inner tags of these codes (End included).
std::function<void(const TSWFObject&)> InnerCodes(std::vector<std::uint16_t> codes) {
  return [codes](const TSWFObject& read) {
    EXPECT_EQ(Codes(static_cast<const TSWFDefineSprite&>(read)), codes);
  };
}

const std::vector<GoldenRow>& Rows() {
  static const std::vector<GoldenRow> rows = {
      {"ending with ShowFrame: an End is appended",
       39,
       [] {
         return Sprite(3, 2,
                       Tags(std::make_unique<TSWFShowFrame>(), StartSound(5),
                            std::make_unique<TSWFShowFrame>()));
       },
       {0x03, 0x00 /* SpriteId */, 0x02, 0x00 /* FrameCount */, 0x40, 0x00 /* ShowFrame */, 0xC3,
        0x03 /* StartSound, 3 bytes */, 0x05, 0x00, 0x00, 0x40, 0x00 /* ShowFrame */, 0x00,
        0x00 /* End */},
       0,
       3,
       10,
       {},
       false,
       InnerCodes({1, 15, 1, 0})},
      {"ending with End: no second End",
       39,
       [] {
         return Sprite(1, 1, Tags(std::make_unique<TSWFShowFrame>(), std::make_unique<TSWFEnd>()));
       },
       {0x01, 0x00, 0x01, 0x00, 0x40, 0x00, 0x00, 0x00},
       0,
       3,
       10,
       {},
       false,
       InnerCodes({1, 0})},
      {"empty timeline",
       39,
       [] { return Sprite(7, 0, {}); },
       {0x07, 0x00, 0x00, 0x00, 0x00, 0x00},
       0,
       3,
       10,
       {},
       false,
       InnerCodes({0})},
      {"long inner record and a nested sprite",
       39,
       [] {
         auto video = std::make_unique<TSWFDefineVideoStream>();
         video->CharacterId = 9;
         video->CodecID = 2;
         return Sprite(2, 1,
                       Tags(std::move(video), Sprite(4, 1, Tags(std::make_unique<TSWFShowFrame>())),
                            std::make_unique<TSWFShowFrame>()));
       },
       {0x02, 0x00,
        0x01, 0x00,
        0x3F, 0x0F,
        0x0A, 0x00,
        0x00, 0x00 /* DefineVideoStream, always long */,
        0x09, 0x00,
        0x00, 0x00,
        0x00, 0x00,
        0x00, 0x00,
        0x00, 0x02,
        0xC8, 0x09 /* DefineSprite (39), 8 bytes */,
        0x04, 0x00,
        0x01, 0x00,
        0x40, 0x00,
        0x00, 0x00,
        0x40, 0x00,
        0x00, 0x00},
       0,
       3,
       10,
       {},
       false,
       InnerCodes({60, 39, 1, 0})},
  };
  return rows;
}

TEST(DefineSprite, GoldenWriteReadAndRoundTrip) {
  for (const auto& row : Rows()) test::CheckGoldenRow(row);
}

TEST(DefineSprite, CopyIsDeep) {
  auto sprite = Sprite(1, 1, Tags(StartSound(5)));
  auto copy = CloneTag(*sprite);
  static_cast<TSWFStartSound&>(*sprite->ControlTags[0]).SoundId = 6;
  auto& inner =
      static_cast<TSWFStartSound&>(*static_cast<TSWFDefineSprite&>(*copy).ControlTags.at(0));
  EXPECT_EQ(inner.SoundId, 5);
}

TEST(DefineSprite, EachInnerTagIsReadWithinItsOwnLength) {
  const Bytes body = Cat({{0x01, 0x00, 0x01, 0x00},
                          // SetBackgroundColor reads 3 of the 5 bytes its header gives it.
                          Record(9, {0x11, 0x22, 0x33, 0xEE, 0xEE}),
                          Record(1, {}, true),  // a ShowFrame with the long header
                          {0x02, 0x00, 0xAA, 0xBB} /* End claiming 2 bytes: still the end */,
                          {0x40, 0x00} /* after the End: not part of the timeline */});
  auto back = test::ReadBody(39, body);
  auto& sprite = static_cast<TSWFDefineSprite&>(*back);
  EXPECT_EQ(Codes(sprite), (std::vector<std::uint16_t>{9, 1, 0}));
  EXPECT_EQ(static_cast<TSWFSetBackgroundColor&>(*sprite.ControlTags[0]).BackgroundColor().B, 0x33);
}

TEST(DefineSprite, ReadContextReachesTheInnerTags) {
  // A nested sprite takes the file's version and action choice from the pass, not its defaults.
  const Bytes inner = {0x04, 0x00, 0x00, 0x00, 0x00, 0x00};
  const Bytes doAction = {0x07 /* Stop */, 0x00 /* end of actions */};
  auto back = test::ReadBody(
      39, Cat({{0x01, 0x00, 0x00, 0x00}, Record(39, inner), Record(12, doAction), {0x00, 0x00}}), 7,
      false);
  auto& outer = static_cast<TSWFDefineSprite&>(*back);
  EXPECT_EQ(outer.SWFVersion, 7);
  EXPECT_FALSE(outer.ParseActions);
  auto& nested = static_cast<TSWFDefineSprite&>(*outer.ControlTags.at(0));
  EXPECT_EQ(nested.SWFVersion, 7);
  EXPECT_FALSE(nested.ParseActions);
  auto& actions = static_cast<TSWFDoAction&>(*outer.ControlTags.at(1));
  EXPECT_FALSE(actions.ParseActions);
  EXPECT_EQ(test::WriteBody(actions), doAction);
}

TEST(DefineSprite, UnknownAndDamagedInnerTagsAreKeptAsStoredBytes) {
  const Bytes unknown = {0xC1, 0x00 /* code 3, 1 byte */, 0x77};
  const Bytes damaged = Record(15, {0x05, 0x00, 0x01 /* HasInPoint, no InPoint */});
  const Bytes body =
      Cat({{0x01, 0x00, 0x02, 0x00}, unknown, {0x40, 0x00}, damaged, {0x40, 0x00}, {0x00, 0x00}});
  auto reader = Parse(Cat({Record(39, body), {0x40, 0x00}}));
  ASSERT_EQ(reader->TagList.size(), 2u);
  const TSWFTagInfo& info = *reader->TagList[0];
  ASSERT_EQ(info.Error(), nullptr);
  const auto& sprite = static_cast<const TSWFDefineSprite&>(*info.SWFObject);
  ASSERT_EQ(sprite.ControlTags.size(), 5u);
  ASSERT_EQ(info.SubTags.size(), 5u);
  EXPECT_EQ(info.SubTags[0]->TagID, 3);
  EXPECT_EQ(info.SubTags[0]->Error(), nullptr);  // unknown, not damaged
  EXPECT_EQ(info.SubTags[2]->TagID, 15);
  ASSERT_NE(info.SubTags[2]->Error(), nullptr);
  EXPECT_NE(info.SubTags[2]->Error()->ErrorMessage.find("StartSound"), std::string::npos);
  reader->MakeStream();
  EXPECT_EQ(reader->Body().Bytes(), Cat({Record(39, body), {0x40, 0x00}}));
}

TEST(DefineSprite, BadTimelinesFailTheWholeSpriteOnly) {
  struct Case {
    const char* what;
    Bytes body;
    const char* message;
  };
  const Case cases[] = {
      {"inner tag longer than the sprite",
       Cat({{0x01, 0x00, 0x01, 0x00}, {0x45, 0x02, 0x11, 0x22}}), "runs past the sprite's end"},
      {"inner long length beyond anything",
       {0x01, 0x00, 0x01, 0x00, 0x7F, 0x02, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00},
       "runs past the sprite's end"},
      {"no End", {0x01, 0x00, 0x01, 0x00, 0x40, 0x00}, "without an End tag"},
      {"no room for the frame count", {0x01, 0x00, 0x01}, "Stream read error"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto reader = Parse(Cat({Record(39, c.body), {0x40, 0x00}}));
    ASSERT_EQ(reader->TagList.size(), 2u);
    ASSERT_TRUE(reader->TagList[0]->Error() != nullptr);
    const auto& error = static_cast<const TSWFErrorTag&>(*reader->TagList[0]->SWFObject);
    EXPECT_EQ(error.FailedTagID, 39);
    EXPECT_NE(error.ErrorMessage.find(c.message), std::string::npos) << error.ErrorMessage;
    EXPECT_TRUE(reader->TagList[0]->SubTags.empty());
    EXPECT_EQ(reader->TagList[1]->TagID, 1);
  }
}

// depth sprites, each holding the next, the innermost empty: built as bytes, since writing a very
// deep sprite through the objects would itself recurse that deep. canonical: short headers where
// the body fits, as the writer makes them; else long headers throughout.
Bytes NestedSprites(std::size_t depth, bool canonical) {
  std::vector<std::uint32_t> lengths(depth);
  auto headerSize = [&](std::size_t i) { return canonical && lengths[i] < 63 ? 2u : 6u; };
  lengths[depth - 1] = 6;  // id, frames, End
  for (std::size_t i = depth - 1; i-- > 0;) {
    lengths[i] = 4 + headerSize(i + 1) + lengths[i + 1] + 2;
  }
  Bytes out;
  for (std::size_t i = 0; i < depth; ++i) {
    const std::uint32_t n = lengths[i];
    const Bytes record = Record(39, {0x01, 0x00, 0x00, 0x00}, headerSize(i) == 6);
    out.insert(out.end(), record.begin(), record.end());
    // The record's length is the whole nested body, not the four bytes given to Record.
    if (headerSize(i) == 6) {
      for (int b = 0; b < 4; ++b) out[out.size() - 8 + b] = std::uint8_t(n >> (8 * b));
    } else {
      out[out.size() - 6] = std::uint8_t((39 << 6) | n);
    }
  }
  out.insert(out.end(), 2 * depth, 0x00);
  return out;
}

TEST(DefineSprite, NestingIsBounded) {
  const std::size_t allowed = TSWFDefineSprite::kMaxNesting + 1;
  auto ok = Parse(NestedSprites(allowed, true));
  ASSERT_EQ(ok->TagList.size(), 1u);
  EXPECT_EQ(ok->TagList[0]->TagID, 39);
  ok->MakeStream();
  EXPECT_EQ(ok->Body().Bytes(), NestedSprites(allowed, true));

  // Deeper, the sprite that passes the bound is kept as stored bytes inside its parent.
  for (const std::size_t depth : {allowed + 1, std::size_t(20000)}) {
    const Bytes file = NestedSprites(depth, false);
    auto deep = Parse(file);
    ASSERT_EQ(deep->TagList.size(), 1u);
    const TSWFTagInfo* info = deep->TagList[0].get();
    for (std::size_t level = 0; level < allowed; ++level) {
      ASSERT_EQ(info->Error(), nullptr) << depth << " level " << level;
      ASSERT_FALSE(info->SubTags.empty());
      info = info->SubTags[0].get();
    }
    ASSERT_NE(info->Error(), nullptr) << depth;
    EXPECT_NE(info->Error()->ErrorMessage.find("nested too deeply"), std::string::npos);
    // Rebuilt, short bodies take the short header; the rest, the stored sprite included, stays.
    deep->MakeStream();
    const Bytes once = deep->Body().Bytes();
    auto again = Parse(once);
    again->MakeStream();
    EXPECT_EQ(again->Body().Bytes(), once);
    EXPECT_LE(once.size(), file.size());
  }
}

TEST(DefineSprite, TruncatedBodiesThroughTheFileReader) {
  for (const auto& row : Rows()) test::SweepTruncatedPrefixes(row);
}

TEST(DefineSprite, ChangeCharacterIDs) {
  TSWFDefineSound sound;
  sound.SoundId = 3;
  auto innerSound = std::make_unique<TSWFDefineSound>();  // not a placing tag: left alone
  innerSound->SoundId = 3;
  auto frame = std::make_unique<TSWFVideoFrame>();
  frame->StreamId = 8;
  auto place2 = std::make_unique<TSWFPlaceObject2>();
  place2->Depth = 1;
  place2->SetCharacterId(8);
  auto move = std::make_unique<TSWFPlaceObject2>();  // moves depth 1, places no character
  move->Depth = 1;
  move->PlaceFlagMove = true;
  auto place = std::make_unique<TSWFPlaceObject>();
  place->Depth = 2;
  place->SetCharacterId(3);
  auto remove = std::make_unique<TSWFRemoveObject>();
  remove->Depth = 2;
  remove->CharacterId = 3;
  auto sprite = Sprite(1, 1,
                       Tags(StartSound(3), StartSound(77), std::move(frame), std::move(innerSound),
                            std::move(place2), std::move(move), std::move(place),
                            std::make_unique<TSWFShowFrame>(), std::move(remove)));
  TSWFDefineVideoStream video;
  video.CharacterId = 8;
  auto reader = Parse(Cat({test::WriteTag(sound), test::WriteTag(*sprite), test::WriteTag(video)}));
  EXPECT_EQ(reader->ChangeCharacterIDs(200), 203);
  reader->MakeStream();
  auto again = Parse(reader->Body().Bytes());
  ASSERT_EQ(again->TagList.size(), 3u);
  EXPECT_EQ(static_cast<TSWFDefineSound&>(*again->TagList[0]->SWFObject).SoundId, 200);
  auto& s = static_cast<TSWFDefineSprite&>(*again->TagList[1]->SWFObject);
  EXPECT_EQ(s.SpriteId, 201);
  EXPECT_EQ(static_cast<TSWFDefineVideoStream&>(*again->TagList[2]->SWFObject).CharacterId, 202);
  ASSERT_EQ(Codes(s), (std::vector<std::uint16_t>{15, 15, 61, 14, 26, 26, 4, 1, 5, 0}));
  EXPECT_EQ(static_cast<TSWFStartSound&>(*s.ControlTags[0]).SoundId, 200);
  EXPECT_EQ(static_cast<TSWFStartSound&>(*s.ControlTags[1]).SoundId, 77);
  EXPECT_EQ(static_cast<TSWFVideoFrame&>(*s.ControlTags[2]).StreamId, 202);
  EXPECT_EQ(static_cast<TSWFDefineSound&>(*s.ControlTags[3]).SoundId, 3);
  auto& placed2 = static_cast<TSWFPlaceObject2&>(*s.ControlTags[4]);
  EXPECT_TRUE(placed2.PlaceFlagHasCharacter);
  EXPECT_EQ(placed2.CharacterId(), 202);
  EXPECT_FALSE(static_cast<TSWFPlaceObject2&>(*s.ControlTags[5]).PlaceFlagHasCharacter);
  EXPECT_EQ(static_cast<TSWFPlaceObject&>(*s.ControlTags[6]).CharacterId(), 200);
  EXPECT_EQ(static_cast<TSWFRemoveObject&>(*s.ControlTags[8]).CharacterId, 200);
}

// A movie whose sprite holds sound, video and a nested sprite.
Bytes MovieTags() {
  TSWFSetBackgroundColor background;
  background.BackgroundColor().SetRGB(SWFRGB(0xFF, 0xFF, 0xFF));
  TSWFDefineSound sound;
  sound.SoundId = 1;
  sound.SoundFormat = 2;
  sound.Data = {0xFF, 0xFB, 0x10, 0x00};
  auto head = std::make_unique<TSWFSoundStreamHead2>();
  head->StreamSoundCompression = 1;
  auto block = std::make_unique<TSWFSoundStreamBlock>();
  block->Data.assign(70, 0x5A);                            // a long record inside the sprite
  auto video = std::make_unique<TSWFDefineVideoStream>();  // long header for a short body
  video->CharacterId = 3;
  auto frame = std::make_unique<TSWFVideoFrame>();
  frame->StreamId = 3;
  frame->Data = {0x01};
  auto actions = std::make_unique<TSWFDoAction>();
  actions->Actions().push_back(CreateActionByCode(0x07));  // Stop
  auto sprite = Sprite(2, 2,
                       Tags(std::move(actions), std::move(head), std::move(block), StartSound(1),
                            std::move(video), std::make_unique<TSWFShowFrame>(), std::move(frame),
                            Sprite(4, 1, Tags(std::make_unique<TSWFShowFrame>())),
                            std::make_unique<TSWFShowFrame>()));
  TSWFShowFrame show;
  TSWFEnd end;
  return Cat({test::WriteTag(background), test::WriteTag(sound), test::WriteTag(*sprite),
              test::WriteTag(show), test::WriteTag(end)});
}

// Every sub-entry's position is the record header of its tag in the body.
void ExpectSubTagPositions(const TSWFTagInfo& info, const Bytes& body) {
  for (const auto& sub : info.SubTags) {
    ASSERT_LT(std::size_t(sub->Position) + 1, body.size());
    const std::uint16_t word = body[sub->Position] | (body[sub->Position + 1] << 8);
    EXPECT_EQ(word >> 6, sub->TagID) << "sub-tag at " << sub->Position;
    EXPECT_EQ((word & 0x3F) == 0x3F, sub->LongHeader) << "sub-tag at " << sub->Position;
    ExpectSubTagPositions(*sub, body);
  }
}

TEST(DefineSprite, MovieRoundTripsByteForByte) {
  for (const bool compressed : {false, true}) {
    SCOPED_TRACE(compressed ? "compressed" : "plain");
    TSWFStreamReader movie;
    const Bytes tags = MovieTags();
    movie.Body().Write(tags.data(), tags.size());
    movie.FrameCount = 1;
    movie.SetCompressed(compressed);
    TMemoryStream saved;
    movie.SaveToStream(saved);

    TSWFStreamReader loaded;
    saved.SetPosition(0);
    loaded.LoadFromStream(saved);
    ASSERT_TRUE(loaded.IsValid);
    loaded.ParseTags(true, true);
    ASSERT_EQ(loaded.TagList.size(), 5u);
    for (const auto& info : loaded.TagList) EXPECT_FALSE(info->Error() != nullptr);
    const TSWFTagInfo& sprite = *loaded.TagList[2];
    ASSERT_EQ(sprite.TagID, 39);
    ASSERT_EQ(sprite.SubTags.size(), 10u);
    ASSERT_EQ(sprite.SubTags[7]->SubTags.size(), 2u);
    ExpectSubTagPositions(sprite, loaded.Body().Bytes());

    loaded.MakeStream();
    EXPECT_EQ(loaded.Body().Bytes(), tags);
    TMemoryStream again;
    loaded.SaveToStream(again);
    EXPECT_EQ(again.Bytes(), saved.Bytes());
  }
}

}  // namespace
}  // namespace kestrova
