// Copies, assignment and equality of tags that own children: a copy is deep (changing it leaves
// the original as it was), assigning a tag to itself keeps everything, and equality sees every
// field.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "swfobjects/SWFObjects.h"
#include "tests/TestUtil.h"

namespace kestrova {
namespace {

using test::Bytes;

std::unique_ptr<TSWFObject> ShapeWithNewStyles() {
  auto shape = std::make_unique<TSWFDefineShape3>();
  shape->ShapeId = 4;
  shape->ShapeBounds.SetRect(TRect{0, 0, 400, 400});
  auto fill = std::make_unique<TSWFColorFill>();
  fill->Color.SetRGBA(0x80112233);
  shape->FillStyles.push_back(std::move(fill));
  auto change = std::make_unique<TSWFStyleChangeRecord>();
  change->SetMoveTo(20, 20);
  change->SetFillStyle1(1);
  auto image = std::make_unique<TSWFImageFill>();
  image->BitmapId = 9;
  change->NewFillStyles().push_back(std::move(image));
  shape->Edges.push_back(std::move(change));
  auto edge = std::make_unique<TSWFStraightEdgeRecord>();
  edge->DeltaX = 100;
  shape->Edges.push_back(std::move(edge));
  return shape;
}

std::unique_ptr<TSWFObject> ButtonWithConditions() {
  auto button = std::make_unique<TSWFDefineButton2>();
  button->ButtonId = 3;
  auto record = std::make_unique<TSWFButtonRecord>(5);
  record->ButtonState = TSWFButtonRecord::kUp;
  record->PlaceMatrix().SetTranslate(10, 10);
  record->ColorTransform().SetAddR(20);
  button->ButtonRecords.push_back(std::move(record));
  auto cond = std::make_unique<TSWFButtonCondAction>();
  cond->Conditions = TSWFButtonCondAction::kOverDownToOverUp;
  cond->Actions.push_back(std::make_unique<TSWFActionPlay>());
  button->Actions.push_back(std::move(cond));
  return button;
}

std::unique_ptr<TSWFObject> PlaceWithClipActions() {
  auto place = std::make_unique<TSWFPlaceObject2>();
  place->Depth = 2;
  place->SetCharacterId(7);
  place->Matrix().SetTranslate(40, 60);
  place->SWFVersion = 6;
  place->ClipActions()
      .AddActions(ClipEventBit(ceLoad))
      .Actions.push_back(std::make_unique<TSWFActionStop>());
  return place;
}

std::unique_ptr<TSWFObject> SpriteWithInnerTags() {
  auto sprite = std::make_unique<TSWFDefineSprite>();
  sprite->SpriteId = 8;
  sprite->FrameCount = 1;
  auto place = std::make_unique<TSWFPlaceObject2>();
  place->Depth = 1;
  place->SetCharacterId(4);
  sprite->ControlTags.push_back(std::move(place));
  sprite->ControlTags.push_back(std::make_unique<TSWFShowFrame>());
  return sprite;
}

// A jump over a Play to a marker of the list: the copy's jump must aim at the copy's marker.
std::unique_ptr<TSWFObject> ActionsWithMarker() {
  auto tag = std::make_unique<TSWFDoAction>();
  auto jump = std::make_unique<TSWFActionJump>();
  TSWFActionJump& j = *jump;
  tag->Actions().push_back(std::move(jump));
  tag->Actions().push_back(std::make_unique<TSWFActionPlay>());
  InsertMarker(tag->Actions(), 2, j.TargetRef());
  return tag;
}

struct CopyCase {
  const char* what;
  std::function<std::unique_ptr<TSWFObject>()> build;
  // Changes something the tag owns (a child, not a plain field of the tag).
  std::function<void(TSWFObject&)> changeChild;
};

const std::vector<CopyCase>& CopyCases() {
  static const std::vector<CopyCase> cases = {
      {"DefineShape3: a new fill style of a style change", ShapeWithNewStyles,
       [](TSWFObject& t) {
         auto& change =
             static_cast<TSWFStyleChangeRecord&>(*static_cast<TSWFDefineShape&>(t).Edges[0]);
         static_cast<TSWFImageFill&>(*change.NewFillStyles()[0]).BitmapId = 10;
       }},
      {"DefineShape3: the colour of a fill", ShapeWithNewStyles,
       [](TSWFObject& t) {
         static_cast<TSWFColorFill&>(*static_cast<TSWFDefineShape&>(t).FillStyles[0])
             .Color.SetRGBA(0xFF000000);
       }},
      {"DefineButton2: a record's matrix", ButtonWithConditions,
       [](TSWFObject& t) {
         static_cast<TSWFDefineButton2&>(t).ButtonRecords[0]->PlaceMatrix().SetTranslate(1, 1);
       }},
      {"DefineButton2: a condition's actions", ButtonWithConditions,
       [](TSWFObject& t) {
         static_cast<TSWFDefineButton2&>(t).Actions[0]->Actions.push_back(
             std::make_unique<TSWFActionStop>());
       }},
      {"PlaceObject2: the clip actions", PlaceWithClipActions,
       [](TSWFObject& t) {
         static_cast<TSWFPlaceObject2&>(t).ClipActions().ActionRecord(0).Actions.clear();
       }},
      {"PlaceObject2: the matrix", PlaceWithClipActions,
       [](TSWFObject& t) { static_cast<TSWFPlaceObject2&>(t).Matrix().SetTranslate(0, 0); }},
      {"DefineSprite: an inner tag", SpriteWithInnerTags,
       [](TSWFObject& t) {
         static_cast<TSWFPlaceObject2&>(*static_cast<TSWFDefineSprite&>(t).ControlTags[0]).Depth =
             9;
       }},
      {"DoAction: the marker a jump aims at", ActionsWithMarker,
       [](TSWFObject& t) {
         // Moving the marker in front of the Play shortens the jump: only the copy's, if the
         // copy's jump refers to the copy's marker.
         auto& list = static_cast<TSWFDoAction&>(t).Actions();
         std::swap(list[1], list[2]);
       }},
  };
  return cases;
}

TEST(TagCopies, AreDeepEqualAndIndependent) {
  for (const auto& c : CopyCases()) {
    SCOPED_TRACE(c.what);
    auto original = c.build();
    const Bytes before = test::WriteTag(*original);
    auto copy = CloneTag(*original);
    EXPECT_TRUE(copy->Equals(*original));
    EXPECT_EQ(test::WriteTag(*copy), before);
    c.changeChild(*copy);
    EXPECT_FALSE(copy->Equals(*original)) << "equality misses the change";
    EXPECT_NE(test::WriteTag(*copy), before) << "the change shows in the bytes";
    EXPECT_EQ(test::WriteTag(*original), before) << "changing the copy changed the original";
    EXPECT_TRUE(original->Equals(*c.build()));
  }
}

TEST(TagCopies, AssignReplacesEverythingAndSelfAssignmentKeepsIt) {
  for (const auto& c : CopyCases()) {
    SCOPED_TRACE(c.what);
    auto source = c.build();
    const Bytes bytes = test::WriteTag(*source);
    // A target that owned other children first.
    auto target = c.build();
    c.changeChild(*target);
    target->Assign(*source);
    EXPECT_TRUE(target->Equals(*source));
    EXPECT_EQ(test::WriteTag(*target), bytes);
    c.changeChild(*target);
    EXPECT_EQ(test::WriteTag(*source), bytes) << "the assigned target shares children";

    auto self = c.build();
    self->Assign(*self);
    EXPECT_TRUE(self->Equals(*source));
    EXPECT_EQ(test::WriteTag(*self), bytes);
  }
}

TEST(TagCopies, AssignAndEqualityRefuseOtherClasses) {
  TSWFShowFrame show;
  TSWFEnd end;
  EXPECT_THROW(show.Assign(end), std::invalid_argument);
  EXPECT_FALSE(show.Equals(end));
  TSWFDefineShape shape;
  TSWFDefineShape2 shape2;
  EXPECT_THROW(shape.Assign(shape2), std::invalid_argument);
  EXPECT_FALSE(shape.Equals(shape2));
}

TEST(TagCopies, EqualityLooksAtPlainFieldsAndUnparsedBytes) {
  TSWFRemoveObject a, b;
  a.Depth = b.Depth = 3;
  EXPECT_TRUE(a.Equals(b));
  b.CharacterId = 1;
  EXPECT_FALSE(a.Equals(b));
  b.CharacterId = 0;
  b.UnparsedBytes = {0x00};
  EXPECT_FALSE(a.Equals(b));
  b.UnparsedBytes.clear();
  // What a write or a read leaves behind is not a field.
  b.BodySize = 4;
  EXPECT_TRUE(a.Equals(b));
}

TEST(ActionCopies, ListsCopyDeepAndKeepTheirMarkers) {
  auto tag = ActionsWithMarker();
  const TSWFActionList& list = static_cast<TSWFDoAction&>(*tag).Actions();
  TSWFActionList copy = list;
  EXPECT_EQ(copy, list);
  EXPECT_EQ(static_cast<TSWFActionJump&>(*copy[0]).TargetRef().Get(), copy[2].get());
  TSWFActionList assigned;
  assigned.push_back(std::make_unique<TSWFActionStop>());
  assigned = list;
  EXPECT_EQ(assigned, list);
  const TSWFActionList& alias = assigned;
  assigned = alias;  // self-assignment keeps the list and its links
  ASSERT_EQ(assigned.size(), 3u);
  EXPECT_EQ(static_cast<TSWFActionJump&>(*assigned[0]).TargetRef().Get(), assigned[2].get());
  static_cast<TSWFActionJump&>(*assigned[0]).SetBranchOffset(5);
  EXPECT_FALSE(assigned == list);
}

}  // namespace
}  // namespace kestrova
