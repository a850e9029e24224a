// Writing never changes a tag: each object here holds a setting that the enclosing tag overrides
// while writing (alpha, index widths, a glyph's fill, an empty envelope, branch distances), and
// must be the same object after writing as before.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "swfobjects/SWFObjects.h"
#include "tests/TestUtil.h"

namespace kestrova {
namespace {

using test::Bytes;

struct WriteCase {
  const char* what;
  std::function<std::unique_ptr<TSWFObject>()> build;
};

const std::vector<WriteCase>& WriteCases() {
  static const std::vector<WriteCase> cases = {
      {"fill styles without alpha in a DefineShape3 (written as RGBA)",
       [] {
         auto shape = std::make_unique<TSWFDefineShape3>();
         auto fill = std::make_unique<TSWFColorFill>();
         fill->HasAlpha = false;
         fill->Color.SetRGB({1, 2, 3});
         shape->FillStyles.push_back(std::move(fill));
         return std::unique_ptr<TSWFObject>(std::move(shape));
       }},
      {"a style change with other widths and flags the widths cannot hold",
       [] {
         auto shape = std::make_unique<TSWFDefineShape>();
         auto change = std::make_unique<TSWFStyleChangeRecord>();
         change->NumFillBits = 5;
         change->NumLineBits = 5;
         change->HasAlpha = true;
         change->SetFillStyle0(3);
         change->SetLineStyle(2);
         change->SetMoveTo(1, 1);
         shape->Edges.push_back(std::move(change));
         return std::unique_ptr<TSWFObject>(std::move(shape));
       }},
      {"morph end edges whose style flags are cleared while writing",
       [] {
         auto morph = std::make_unique<TSWFDefineMorphShape>();
         auto change = std::make_unique<TSWFStyleChangeRecord>();
         change->SetFillStyle1(1);
         change->SetMoveTo(2, 2);
         morph->EndEdges.push_back(std::move(change));
         return std::unique_ptr<TSWFObject>(std::move(morph));
       }},
      {"a DefineFont2 glyph that selects no fill",
       [] {
         auto font = std::make_unique<TSWFDefineFont2>();
         TSWFShapeRecordList glyph;
         auto change = std::make_unique<TSWFStyleChangeRecord>();
         change->SetMoveTo(0, 0);
         glyph.push_back(std::move(change));
         font->GlyphShapeTable.push_back(std::move(glyph));
         return std::unique_ptr<TSWFObject>(std::move(font));
       }},
      {"a StartSound flagged for an empty envelope",
       [] {
         auto sound = std::make_unique<TSWFStartSound>();
         sound->SoundId = 1;
         sound->HasEnvelope = true;
         return std::unique_ptr<TSWFObject>(std::move(sound));
       }},
      {"actions whose branch distances come from markers",
       [] {
         auto tag = std::make_unique<TSWFDoAction>();
         auto& list = tag->Actions();
         auto jump = std::make_unique<TSWFActionJump>();
         TSWFActionJump& forward = *jump;
         list.push_back(std::move(jump));
         list.push_back(std::make_unique<TSWFActionPlay>());
         auto back = std::make_unique<TSWFActionIf>();
         TSWFActionIf& backward = *back;
         list.push_back(std::move(back));
         InsertMarker(list, 2, forward.TargetRef());
         InsertMarker(list, 1, backward.TargetRef());
         auto t = std::make_unique<TSWFActionTry>();
         TSWFActionTry& tr = *t;
         tr.CatchBlockFlag = true;
         list.push_back(std::move(t));
         list.push_back(std::make_unique<TSWFActionStop>());
         InsertMarker(list, list.size(), *tr.MarkerRefs()[0]);
         list.push_back(std::make_unique<TSWFActionStop>());
         InsertMarker(list, list.size(), *tr.MarkerRefs()[1]);
         return std::unique_ptr<TSWFObject>(std::move(tag));
       }},
  };
  return cases;
}

TEST(WriteConst, WritingLeavesTheObjectAsItWas) {
  for (const auto& c : WriteCases()) {
    SCOPED_TRACE(c.what);
    auto tag = c.build();
    const auto before = CloneTag(*tag);
    const Bytes first = test::WriteBody(*tag);
    EXPECT_TRUE(tag->Equals(*before)) << "writing changed the object";
    EXPECT_EQ(test::WriteBody(*tag), first) << "a second write differs";
    EXPECT_EQ(test::WriteBody(*before), first) << "the untouched copy writes differently";
  }
}

// The distances the markers give, checked byte by byte: Jump over the Play (+1), If back to
// the Play (-6), Try blocks of one Stop each (1, 1).
TEST(WriteConst, MarkerDistancesAreLaidOutBeforeWriting) {
  auto tag = WriteCases().back().build();
  const Bytes expected = {0x99, 0x02, 0x00, 0x01, 0x00,  // Jump +1
                          0x06,                          // Play (the If's target)
                          0x9D, 0x02, 0x00, 0xFA, 0xFF,  // If -6
                          0x8F, 0x08, 0x00, 0x01, 0x01, 0x00,
                          0x01, 0x00, 0x00, 0x00, 0x00,  // Try: sizes 1, 1, 0, catch name ""
                          0x07, 0x07, 0x00};
  EXPECT_EQ(test::WriteBody(*tag), expected) << test::Hex(test::WriteBody(*tag));
}

}  // namespace
}  // namespace kestrova
