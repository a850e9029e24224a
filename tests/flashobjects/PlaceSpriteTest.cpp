// Placements and sprites, byte for byte.
#include <gtest/gtest.h>

#include "tests/flashobjects/FlashTestUtil.h"

namespace kestrova {
namespace {

using test::Bytes;

Bytes Written(TBasedSWFObject& object) {
  TMemoryStream m;
  TBitsEngine be(m);
  object.WriteToStream(be);
  return m.Bytes();
}

struct TPlaceCase {
  const char* What;
  bool InPixels;
  std::int32_t X, Y;
  Bytes Expected;
};

const TPlaceCase kPlaceCases[] = {
    {"no translation: character only", true, 0, 0,
     Bytes{0x85, 0x06, /* PlaceObject2, 5 bytes */ 0x02, /* HasCharacter */ 0x01, 0x00,
           /* depth 1 */ 0x03, 0x00 /* id 3 */}},
    {"(0, 1) pixels: a matrix translating by 20 twips", true, 0, 1,
     Bytes{0x88, 0x06, 0x06, /* HasMatrix, HasCharacter */ 0x01, 0x00, 0x03, 0x00, 0x0C, 0x02,
           0x80 /* no scale, no skew, 6-bit translation 0, 20 */}},
    {"(5, 7) twips", false, 5, 7,
     Bytes{0x87, 0x06, 0x06, 0x01, 0x00, 0x03, 0x00, 0x08, 0xAE /* 4-bit translation 5, 7 */}},
};

class Placements : public ::testing::TestWithParam<TPlaceCase> {};

TEST_P(Placements, WriteOnePlaceObject2) {
  const TPlaceCase& c = GetParam();
  TFlashMovie movie(0, 0, 100, 100, 12, c.InPixels);
  movie.AddImage();
  movie.AddShape();
  TFlashShape& shape = movie.AddShape();
  ASSERT_EQ(shape.GetCharacterId(), 3);
  TFlashPlaceObject& place = movie.PlaceObject(shape, 1);
  place.SetTranslate(c.X, c.Y);
  EXPECT_EQ(place.GetCharacterId(), 3);
  EXPECT_EQ(place.Depth(), 1);
  EXPECT_EQ(place.PlacedObject(), &shape);
  EXPECT_EQ(place.MinVersion(), 3);
  EXPECT_EQ(test::Hex(Written(place)), test::Hex(c.Expected));
}

INSTANTIATE_TEST_SUITE_P(Table, Placements, ::testing::ValuesIn(kPlaceCases));

TEST(Placement, ZeroTranslationStillMovesAnExistingMatrix) {
  TFlashMovie movie(0, 0, 100, 100, 12, true);
  TFlashPlaceObject& place = movie.PlaceObject(movie.AddShape(), 1);
  place.SetTranslate(2, 3);
  place.SetTranslate(0, 0);
  ASSERT_NE(place.PlaceTag().MatrixIfAny(), nullptr);
  EXPECT_EQ(place.PlaceTag().MatrixIfAny()->TranslateY, 0);
  TFlashPlaceObject& moving = movie.PlaceObject(movie.AddShape(), 2);
  moving.PlaceTag().PlaceFlagMove = true;
  moving.SetTranslate(0, 0);
  EXPECT_TRUE(moving.PlaceTag().PlaceFlagHasMatrix());
  moving.PlaceTag().ClipActions();
  EXPECT_EQ(moving.MinVersion(), 5);
}

TEST(Sprite, WithoutFramesIsWrittenWithOne) {
  TFlashSprite sprite;
  sprite.SetCharacterId(4);
  EXPECT_EQ(test::Hex(Written(sprite)),
            test::Hex(Bytes{0xC8, 0x09, /* DefineSprite, 8 bytes */ 0x04, 0x00, 0x01, 0x00, 0x40,
                            0x00, /* ShowFrame */ 0x00, 0x00 /* End */}));
  EXPECT_EQ(sprite.FrameCount(), 1);
}

TEST(Sprite, EndingWithEndGetsNoSecondOne) {
  TFlashSprite sprite;
  sprite.ShowFrame(2);
  EXPECT_EQ(sprite.CurrentFrameNum, 1);
  sprite.ControlTags().push_back(std::make_unique<TSWFEnd>());
  const Bytes bytes = Written(sprite);
  EXPECT_EQ(test::Hex(Bytes(bytes.begin() + 2, bytes.end())),
            test::Hex(Bytes{0x00, 0x00, 0x02, 0x00, 0x40, 0x00, 0x40, 0x00, 0x00, 0x00}));
}

TEST(Sprite, LongTimelineTakesTheLongHeaderAndItsPlacementsTheMovieVersion) {
  TFlashMovie movie(0, 0, 100, 100, 12, true);
  movie.SetCompressed(true);
  TFlashShape& shape = movie.AddShape();
  TFlashSprite sprite(&movie);
  auto place = std::make_unique<TFlashPlaceObject>(&movie, &shape, 1);
  TFlashPlaceObject& inner = *place;
  sprite.ControlTags().push_back(std::move(place));
  sprite.ShowFrame(40);
  const Bytes bytes = Written(sprite);
  EXPECT_EQ(bytes[0] & 0x3F, 0x3F);
  EXPECT_EQ(inner.PlaceTag().SWFVersion, 6);
  auto read = test::ReadBody(39, Bytes(bytes.begin() + 6, bytes.end()));
  const auto& tag = dynamic_cast<const TSWFDefineSprite&>(*read);
  EXPECT_EQ(tag.FrameCount, 40);
  EXPECT_EQ(tag.ControlTags.size(), 42u);
  EXPECT_EQ(sprite.MinVersion(), 3);
}

TEST(Sprite, CopiesItsTagTimeline) {
  TFlashSprite sprite;
  sprite.SetCharacterId(9);
  sprite.ShowFrame(2);
  TFlashSprite copy;
  copy.Assign(sprite);
  EXPECT_EQ(Written(copy), Written(sprite));
  TFlashShape shape;
  sprite.ControlTags().push_back(std::make_unique<TFlashPlaceObject>(nullptr, &shape, 1));
  EXPECT_THROW(copy.Assign(sprite), std::invalid_argument);
  EXPECT_THROW(copy.Assign(shape), std::invalid_argument);
}

}  // namespace
}  // namespace kestrova
