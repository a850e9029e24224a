#include <gtest/gtest.h>

#include <functional>

#include "swfobjects/SWFObjects.h"
#include "swfstreams/SWFStreams.h"
#include "tests/swfobjects/TagFamilyTest.h"

namespace kestrova {
namespace {

using test::Bytes;

using test::GoldenRow;

std::unique_ptr<TSWFButtonRecord> Record(std::uint8_t states, std::uint16_t character,
                                         std::uint16_t depth) {
  auto r = std::make_unique<TSWFButtonRecord>(character);
  r->ButtonState = states;
  r->PlaceDepth = depth;
  return r;
}

std::vector<GoldenRow> ButtonCases() {
  return {
      {"DefineButton: record Up and HitTest, Play Stop",
       7 /* DefineButton */,
       [] {
         auto t = std::make_unique<TSWFDefineButton>();
         t->ButtonId = 1;
         t->ButtonRecords.push_back(
             Record(TSWFButtonRecord::kUp | TSWFButtonRecord::kHitTest, 2, 1));
         t->Actions.push_back(std::make_unique<TSWFActionPlay>());
         t->Actions.push_back(std::make_unique<TSWFActionStop>());
         return t;
       },
       {0x01, 0x00 /* button */, 0x09 /* hitTest, up */, 0x02, 0x00 /* char */, 0x01,
        0x00 /* depth */, 0x00 /* matrix */, 0x00 /* end of records */, 0x06, 0x07,
        0x00 /* end of actions */},
       1,
       0,
       10,
       {},
       true},
      {"DefineButton2: one record, no actions",
       34 /* DefineButton2 */,
       [] {
         auto t = std::make_unique<TSWFDefineButton2>();
         t->ButtonId = 3;
         auto r = Record(TSWFButtonRecord::kDown, 5, 2);
         r->PlaceMatrix().SetTranslate(20, 40);
         t->ButtonRecords.push_back(std::move(r));
         return t;
       },
       {0x03, 0x00, 0x00 /* track as menu */, 0x00, 0x00 /* no actions */, 0x04 /* down */, 0x05,
        0x00, 0x02, 0x00, 0x0E, 0x51, 0x40 /* translate 20, 40 in 7 bits */, 0x00 /* no cxform */,
        0x00 /* end of records */},
       1,
       0,
       10,
       {},
       true},
      {"DefineButton2: two condition actions",
       34 /* DefineButton2 */,
       [] {
         auto t = std::make_unique<TSWFDefineButton2>();
         t->ButtonId = 4;
         t->TrackAsMenu = true;
         auto r = Record(TSWFButtonRecord::kUp, 1, 1);
         r->ColorTransform().SetAddR(1);
         r->ColorTransform().SetAddG(2);
         r->ColorTransform().SetAddB(3);
         t->ButtonRecords.push_back(std::move(r));
         auto c1 = std::make_unique<TSWFButtonCondAction>();
         c1->Conditions =
             TSWFButtonCondAction::kIdleToOverUp | TSWFButtonCondAction::kOverDownToIdle;
         c1->Actions.push_back(std::make_unique<TSWFActionPlay>());
         t->Actions.push_back(std::move(c1));
         auto c2 = std::make_unique<TSWFButtonCondAction>();
         c2->Conditions = TSWFButtonCondAction::kOutDownToOverDown;
         c2->CondKeyPress = 13;
         c2->Actions.push_back(std::make_unique<TSWFActionStop>());
         t->Actions.push_back(std::move(c2));
         return t;
       },
       {0x04,
        0x00,
        0x01 /* track as menu */,
        0x0C,
        0x00 /* action offset: 12 */,
        0x01 /* up */,
        0x01,
        0x00,
        0x01,
        0x00,
        0x00,
        0x8C,
        0xA6,
        0x00 /* add 1, 2, 3, 0 in 3 bits */,
        0x00 /* end of records */,
        0x06,
        0x00 /* size 6 */,
        0x01 /* idleToOverUp */,
        0x01 /* overDownToIdle */,
        0x06,
        0x00,
        0x00,
        0x00 /* last: size 0 */,
        0x20 /* outDownToOverDown */,
        0x1A /* key 13 */,
        0x07,
        0x00},
       1,
       0,
       10,
       {},
       true},
      {"DefineButtonCxform",
       23 /* DefineButtonCxform */,
       [] {
         auto t = std::make_unique<TSWFDefineButtonCxform>();
         t->ButtonId = 4;
         t->ButtonColorTransform.SetMultR(256);
         t->ButtonColorTransform.SetMultG(128);
         t->ButtonColorTransform.SetMultB(0);
         return t;
       },
       {0x04, 0x00, 0x69, 0x00, 0x20, 0x00, 0x00 /* mult 256, 128, 0 in 10 bits */},
       1,
       0,
       10,
       {},
       true},
  };
}

TEST(Buttons, GoldenWriteReadWriteWithAndWithoutParsing) {
  for (const auto& row : ButtonCases()) test::CheckGoldenRow(row);
}

TEST(Buttons, ConditionActionsReadBack) {
  auto back = test::ReadBody(34, ButtonCases()[2].body);
  auto& b = static_cast<TSWFDefineButton2&>(*back);
  EXPECT_EQ(b.ButtonId, 4);
  EXPECT_TRUE(b.TrackAsMenu);
  ASSERT_EQ(b.ButtonRecords.size(), 1u);
  EXPECT_EQ(b.ButtonRecords[0]->ButtonState, TSWFButtonRecord::kUp);
  EXPECT_EQ(b.ButtonRecords[0]->ColorTransform().AddB(), 3);
  ASSERT_EQ(b.Actions.size(), 2u);
  EXPECT_EQ(b.Actions[0]->Conditions,
            TSWFButtonCondAction::kIdleToOverUp | TSWFButtonCondAction::kOverDownToIdle);
  EXPECT_EQ(b.Actions[1]->Conditions, TSWFButtonCondAction::kOutDownToOverDown);
  EXPECT_EQ(b.Actions[1]->CondKeyPress, 13);
  ASSERT_EQ(b.Actions[1]->Actions.size(), 1u);
  EXPECT_EQ(b.Actions[1]->Actions[0]->ActionCode, 0x07);

  TSWFDescription d;
  b.Describe(d);
  EXPECT_EQ(d.Fields, "id=4 records=1 trackAsMenu=yes conditions=2");
  ASSERT_EQ(d.Lines.size(), 5u);
  EXPECT_EQ(d.Lines[0].second, "record char=1 depth=1 states=up at=(0,0) cxform=[add=(1,2,3,0)]");
  EXPECT_EQ(d.Lines[1].second, "condition idleToOverUp,overDownToIdle actions=1");
  EXPECT_EQ(d.Lines[2], (std::pair<int, std::string>(1, "    0: 0x06 Play")));
  EXPECT_EQ(d.Lines[3].second, "condition outDownToOverDown key=13 actions=1");
}

TEST(Buttons, StateBitsAndMinVersions) {
  // Each state alone, to the bit the file gives it.
  const std::pair<std::uint8_t, std::uint8_t> states[] = {{TSWFButtonRecord::kUp, 0x01},
                                                          {TSWFButtonRecord::kOver, 0x02},
                                                          {TSWFButtonRecord::kDown, 0x04},
                                                          {TSWFButtonRecord::kHitTest, 0x08}};
  for (const auto& [state, byte] : states) {
    TSWFDefineButton b;
    b.ButtonRecords.push_back(Record(state, 1, 1));
    EXPECT_EQ(test::WriteBody(b)[2], byte) << int(state);
  }
  TSWFDefineButton b;
  EXPECT_EQ(b.MinVersion(), 3);
  b.Actions.push_back(std::make_unique<TSWFActionThrow>());
  EXPECT_EQ(b.MinVersion(), 7);
  TSWFDefineButton2 b2;
  EXPECT_EQ(b2.MinVersion(), 3);
  b2.Actions.push_back(std::make_unique<TSWFButtonCondAction>());
  b2.Actions[0]->Actions.push_back(std::make_unique<TSWFActionGetMember>());
  EXPECT_EQ(b2.MinVersion(), 5);
  EXPECT_EQ(TSWFDefineButtonCxform().MinVersion(), 2);
}

TEST(Buttons, DefineButtonNeverWritesAColourTransform) {
  TSWFDefineButton b;
  auto r = Record(TSWFButtonRecord::kUp, 1, 1);
  r->ColorTransform().SetAddR(5);
  b.ButtonRecords.push_back(std::move(r));
  const Bytes body = test::WriteBody(b);
  EXPECT_EQ(body, (Bytes{0x00, 0x00, 0x01, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00}));
}

// Each golden body cut short, framed as a tag of the cut length with a ShowFrame after it: the
// button reader itself sees the short body, fails, and the ShowFrame is still read.
TEST(Buttons, EveryTruncatedBodyReadsOrBecomesAnErrorTag) {
  for (const auto& row : ButtonCases()) test::SweepTruncatedPrefixes(row);
}

// A state byte of 0 ends the record list in the file: a record without states is left out, so
// the records after it and the actions keep their meaning.
TEST(Buttons, RecordsWithoutStatesAreNotWritten) {
  TSWFDefineButton b;
  b.ButtonId = 1;
  b.ButtonRecords.push_back(Record(0, 7, 1));
  b.ButtonRecords.push_back(Record(TSWFButtonRecord::kUp, 2, 3));
  b.Actions.push_back(std::make_unique<TSWFActionStop>());
  const Bytes body = test::WriteBody(b);
  EXPECT_EQ(body, (Bytes{0x01, 0x00, 0x01 /* up */, 0x02, 0x00, 0x03, 0x00, 0x00 /* matrix */,
                         0x00 /* end of records */, 0x07, 0x00}))
      << test::Hex(body);

  TSWFDefineButton2 b2;
  b2.ButtonId = 1;
  b2.ButtonRecords.push_back(Record(0, 7, 1));
  b2.ButtonRecords.push_back(Record(TSWFButtonRecord::kOver, 2, 3));
  b2.Actions.push_back(std::make_unique<TSWFButtonCondAction>());
  b2.Actions[0]->Actions.push_back(std::make_unique<TSWFActionStop>());
  auto back = test::ReadBody(34, test::WriteBody(b2));
  const auto& r = static_cast<const TSWFDefineButton2&>(*back);
  ASSERT_EQ(r.ButtonRecords.size(), 1u);
  EXPECT_EQ(r.ButtonRecords[0]->CharacterId, 2);
  EXPECT_EQ(r.ButtonRecords[0]->ButtonState, TSWFButtonRecord::kOver);
  ASSERT_EQ(r.Actions.size(), 1u);
  ASSERT_EQ(r.Actions[0]->Actions.size(), 1u);
  EXPECT_EQ(r.Actions[0]->Actions[0]->ActionCode, TSWFActionStop::kCode);
}

TEST(Buttons, DamagedBodiesAreErrors) {
  const std::tuple<const char*, std::uint16_t, Bytes> cases[] = {
      {"record list without end", 7, {0x01, 0x00, 0x01, 0x02, 0x00, 0x01, 0x00, 0x00}},
      {"record with a filter list running past the tag",
       34,
       {0x01, 0x00, 0x00, 0x00, 0x00, 0x11, 0x02, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x01}},
      {"condition size past the tag",
       34,
       {0x01, 0x00, 0x00, 0x05, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00, 0x06, 0x00}},
  };
  for (const auto& [what, code, body] : cases) {
    EXPECT_THROW(test::ReadBody(code, body), std::exception) << what;
  }
}

// Reads the format allows, once refused for no safety reason.
TEST(Buttons, LenientReadsKeepTheButton) {
  struct Case {
    const char* what;
    std::uint16_t code;
    Bytes body;
    Bytes written;  // empty: the body itself
  };
  const Case cases[] = {
      // An action offset with no condition after the records: a button without conditions.
      {"offset without conditions",
       34,
       {0x01, 0x00, 0x00, 0x03, 0x00, 0x00},
       {0x01, 0x00, 0x00, 0x00, 0x00, 0x00}},
      // SWF 8 filter list (one blur filter) and blend mode after the colour transform.
      {"record with filters and blend mode",
       34,
       {0x01,
        0x00,
        0x00,
        0x00,
        0x00,
        0x31 /* up, filters, blend */,
        0x02,
        0x00,
        0x01,
        0x00,
        0x00 /* matrix */,
        0x00 /* cxform */,
        0x01 /* one filter */,
        0x01 /* blur */,
        1,
        2,
        3,
        4,
        5,
        6,
        7,
        8,
        9,
        0x05 /* blend mode */,
        0x00},
       {}},
      {"actions without their end code",
       7,
       {0x01, 0x00, 0x00, 0x06, 0x07},
       {0x01, 0x00, 0x00, 0x06, 0x07, 0x00}},
  };
  for (const auto& c : cases) {
    for (const bool parse : {true, false}) {
      SCOPED_TRACE(std::string(c.what) + (parse ? " parsed" : " unparsed"));
      auto tag = test::ReadBody(c.code, c.body, 10, parse);
      EXPECT_EQ(test::WriteBody(*tag), c.written.empty() ? c.body : c.written);
    }
  }
}

// A defining tag stand-in, so the renumbering has something to map from.
class TDefinesCharacter : public TSWFObject {
 public:
  explicit TDefinesCharacter(std::uint16_t id) : TSWFObject(39), Id(id) {}
  std::uint16_t Id;
  void Assign(const TBasedSWFObject& source) override { TSWFObject::Assign(source); }
  void DefinedCharacterIDs(std::vector<std::uint16_t*>& ids) override { ids.push_back(&Id); }
};

TEST(Buttons, ChangeCharacterIDs) {
  TSWFStreamReader reader;
  auto add = [&](auto obj) {
    auto* raw = obj.get();
    auto info = std::make_unique<TSWFTagInfo>(obj->TagID, false);
    info->SWFObject = std::move(obj);
    reader.TagList.push_back(std::move(info));
    return raw;
  };
  add(std::make_unique<TDefinesCharacter>(2));
  auto* button = add(std::make_unique<TSWFDefineButton>());
  button->ButtonId = 1;
  button->ButtonRecords.push_back(Record(TSWFButtonRecord::kUp, 2, 1));
  auto* button2 = add(std::make_unique<TSWFDefineButton2>());
  button2->ButtonId = 5;
  button2->ButtonRecords.push_back(Record(TSWFButtonRecord::kUp, 9, 1));
  auto* cxform = add(std::make_unique<TSWFDefineButtonCxform>());
  cxform->ButtonId = 1;

  EXPECT_EQ(reader.ChangeCharacterIDs(100), 103);
  EXPECT_EQ(button->ButtonId, 101);
  EXPECT_EQ(button->ButtonRecords[0]->CharacterId, 100);
  EXPECT_EQ(button2->ButtonId, 102);
  EXPECT_EQ(button2->ButtonRecords[0]->CharacterId, 9);  // not defined here: left alone
  EXPECT_EQ(cxform->ButtonId, 101);
}

}  // namespace
}  // namespace kestrova
