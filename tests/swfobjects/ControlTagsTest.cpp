#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "swfobjects/SWFObjects.h"
#include "swfstreams/SWFStreams.h"
#include "swftools/SWFmd5.h"
#include "tests/swfobjects/TagFamilyTest.h"

namespace kestrova {
namespace {

using test::Bytes;

std::uint32_t Events(std::initializer_list<TSWFClipEvent> events) {
  std::uint32_t flags = 0;
  for (auto e : events) flags |= ClipEventBit(e);
  return flags;
}

using test::GoldenRow;

template <class T>
std::unique_ptr<TSWFObject> Make(std::function<void(T&)> fill) {
  auto tag = std::make_unique<T>();
  fill(*tag);
  return tag;
}

// 20 and -20 twips: no scale, no skew, 6-bit translation (0 0 00110 010100 101100).
const Bytes kMatrixTranslate20 = {0x0C, 0xA5, 0x80};

std::vector<GoldenRow> GoldenCases() {
  std::vector<GoldenRow> c;
  c.push_back({"FrameLabel, named anchor",
               43 /* FrameLabel */,
               [] {
                 return Make<TSWFFrameLabel>([](auto& t) {
                   t.Name = "intro";
                   t.NamedAnchor = 1;
                 });
               },
               {'i', 'n', 't', 'r', 'o', 0, 0x01 /* anchor */},
               0,
               6,
               10,
               [](std::size_t n) { return n == 6; }});
  c.push_back({"FrameLabel",
               43 /* FrameLabel */,
               [] { return std::make_unique<TSWFFrameLabel>("intro"); },
               {'i', 'n', 't', 'r', 'o', 0},
               0,
               3,
               10});
  c.push_back({"Protect without password",
               24 /* Protect */,
               [] { return std::make_unique<TSWFProtect>(); },
               {},
               0,
               2,
               10});
  c.push_back({"Protect with a hash",
               24 /* Protect */,
               [] { return Make<TSWFProtect>([](auto& t) { t.PasswordHash = "$1$ab$x"; }); },
               {0x00, 0x00 /* reserved */, '$', '1', '$', 'a', 'b', '$', 'x', 0},
               0,
               5,
               10,
               [](std::size_t n) { return n >= 2; }});
  c.push_back({"EnableDebugger",
               58 /* EnableDebugger */,
               [] { return Make<TSWFEnableDebugger>([](auto& t) { t.PasswordHash = "h"; }); },
               {0x00, 0x00, 'h', 0},
               0,
               5,
               10,
               [](std::size_t n) { return n >= 2; }});
  c.push_back({"EnableDebugger2 without password",
               64 /* EnableDebugger2 */,
               [] { return std::make_unique<TSWFEnableDebugger2>(); },
               {},
               0,
               6,
               10});
  c.push_back(
      {"ExportAssets",
       56 /* ExportAssets */,
       [] {
         return Make<TSWFExportAssets>([](auto& t) { t.Assets = {{"a", 1}, {"bc", 0x0102}}; });
       },
       {0x02, 0x00 /* count */, 0x01, 0x00, 'a', 0, 0x02, 0x01, 'b', 'c', 0},
       0,
       5,
       10});
  c.push_back({"ImportAssets",
               57 /* ImportAssets */,
               [] {
                 return Make<TSWFImportAssets>([](auto& t) {
                   t.URL = "u.swf";
                   t.Assets = {{"x", 3}};
                 });
               },
               {'u', '.', 's', 'w', 'f', 0, 0x01, 0x00 /* count */, 0x03, 0x00, 'x', 0},
               0,
               5,
               10});
  c.push_back({"ScriptLimits",
               65 /* ScriptLimits */,
               [] {
                 return Make<TSWFScriptLimits>([](auto& t) {
                   t.MaxRecursionDepth = 256;
                   t.ScriptTimeoutSeconds = 15;
                 });
               },
               {0x00, 0x01, 0x0F, 0x00},
               0,
               7,
               10});
  c.push_back({"SetTabIndex",
               66 /* SetTabIndex */,
               [] {
                 return Make<TSWFSetTabIndex>([](auto& t) {
                   t.Depth = 2;
                   t.TabIndex = 7;
                 });
               },
               {0x02, 0x00, 0x07, 0x00},
               0,
               7,
               10});
  c.push_back({"RemoveObject",
               5 /* RemoveObject */,
               [] {
                 return Make<TSWFRemoveObject>([](auto& t) {
                   t.CharacterId = 3;
                   t.Depth = 1;
                 });
               },
               {0x03, 0x00, 0x01, 0x00},
               0,
               1,
               10});
  c.push_back({"RemoveObject2",
               28 /* RemoveObject2 */,
               [] { return Make<TSWFRemoveObject2>([](auto& t) { t.Depth = 5; }); },
               {0x05, 0x00},
               0,
               3,
               10});
  c.push_back({"PlaceObject without colour transform",
               4 /* PlaceObject */,
               [] {
                 return Make<TSWFPlaceObject>([](auto& t) {
                   t.SetCharacterId(1);
                   t.Depth = 2;
                   t.Matrix().SetTranslate(20, -20);
                 });
               },
               {0x01, 0x00, 0x02, 0x00, 0x0C, 0xA5, 0x80},
               0,
               1,
               10});
  c.push_back({"PlaceObject with colour transform",
               4 /* PlaceObject */,
               [] {
                 return Make<TSWFPlaceObject>([](auto& t) {
                   t.SetCharacterId(1);
                   t.Depth = 1;
                   t.ColorTransform().SetAddR(10);
                   t.ColorTransform().SetAddG(0);
                   t.ColorTransform().SetAddB(-10);
                 });
               },  // identity MATRIX; CXFORM: add, no mult, 5 bits: 10, 0, -10
               {0x01, 0x00, 0x01, 0x00, 0x00, 0x95, 0x40, 0xB0},
               0,
               1,
               10,
               [](std::size_t n) { return n == 5; }});
  c.push_back({"PlaceObject2 moving depth 5 with a new matrix",
               26 /* PlaceObject2 */,
               [] {
                 return Make<TSWFPlaceObject2>([](auto& t) {
                   t.PlaceFlagMove = true;
                   t.Depth = 5;
                   t.Matrix().SetTranslate(20, -20);
                 });
               },
               {0x05 /* HasMatrix, Move */, 0x05, 0x00, 0x0C, 0xA5, 0x80},
               0,
               3,
               10});
  c.push_back({"PlaceObject2 placing character 3 at depth 1",
               26 /* PlaceObject2 */,
               [] {
                 return Make<TSWFPlaceObject2>([](auto& t) {
                   t.SetCharacterId(3);
                   t.Depth = 1;
                 });
               },
               {0x02 /* HasCharacter */, 0x01, 0x00, 0x03, 0x00},
               0,
               3,
               10});
  c.push_back({"PlaceObject2 with an empty name and clip actions without records",
               26 /* PlaceObject2 */,
               [] {
                 return Make<TSWFPlaceObject2>([](auto& t) {
                   t.SetCharacterId(3);
                   t.Depth = 1;
                   t.SetName("");
                   t.ClipActions();
                 });
               },
               {0x02, 0x01, 0x00, 0x03, 0x00},
               0,
               3,
               10});
  c.push_back({"PlaceObject2 with every field but clip actions",
               26 /* PlaceObject2 */,
               [] {
                 return Make<TSWFPlaceObject2>([](auto& t) {
                   t.Depth = 1;
                   t.SetCharacterId(2);
                   t.Matrix().SetScale(1.5f, 0.5f);
                   t.ColorTransform().SetAddR(1);
                   t.ColorTransform().SetAddA(-1);
                   t.SetRatio(0x1234);
                   t.SetName("clip");
                   t.SetClipDepth(9);
                 });
               },
               {0x7E /* ClipDepth Name Ratio Cxform Matrix Character */,
                0x01,
                0x00,
                0x02,
                0x00,
                0xC9,
                0x80,
                0x00,
                0x20,
                0x00,
                0x00 /* scale 18 bits: 1.5, 0.5 */,
                0x89,
                0x0C /* add with alpha, 2 bits: 1 0 0 -1 */,
                0x34,
                0x12 /* ratio */,
                'c',
                'l',
                'i',
                'p',
                0,
                0x09,
                0x00 /* clip depth */},
               0,
               3,
               10});
  c.push_back(
      {"PlaceObject2 clip actions at SWF 3 are written for SWF 5",
       26 /* PlaceObject2 */,
       [] {
         return Make<TSWFPlaceObject2>([](auto& t) {
           t.SetCharacterId(4);
           t.Depth = 1;
           t.ClipActions().AddActions(Events({ceLoad, ceEnterFrame}));
         });
       },
       {0x82 /* ClipActions, Character */, 0x01, 0x00, 0x04, 0x00, 0x00, 0x00 /* reserved */, 0x03,
        0x00 /* all events: EnterFrame Load */, 0x03, 0x00 /* record events */, 0x01, 0x00, 0x00,
        0x00 /* record size */, 0x00 /* action end */, 0x00, 0x00 /* end of clip actions */},
       0,
       5,
       5});
  const auto keyPressClip = [](std::uint8_t version) {
    return [version] {
      return Make<TSWFPlaceObject2>([version](auto& t) {
        t.SWFVersion = version;
        t.PlaceFlagMove = true;
        t.Depth = 2;
        t.ClipActions().AddActions(Events({ceEnterFrame}));
        t.ClipActions().AddActions(0, 'A');
      });
    };
  };
  const Bytes keyPressBody = {0x81 /* ClipActions, Move */,
                              0x02,
                              0x00,
                              0x00,
                              0x00 /* reserved */,
                              0x02,
                              0x00,
                              0x02,
                              0x00 /* all events: EnterFrame, KeyPress */,
                              0x02,
                              0x00,
                              0x00,
                              0x00 /* EnterFrame */,
                              0x01,
                              0x00,
                              0x00,
                              0x00 /* size */,
                              0x00 /* action end */,
                              0x00,
                              0x00,
                              0x02,
                              0x00 /* KeyPress */,
                              0x02,
                              0x00,
                              0x00,
                              0x00 /* size */,
                              'A' /* key code */,
                              0x00 /* action end */,
                              0x00,
                              0x00,
                              0x00,
                              0x00 /* end of clip actions */};
  c.push_back({"PlaceObject2 clip actions at SWF 6", 26 /* PlaceObject2 */, keyPressClip(6),
               keyPressBody, 0, 6, 6});
  c.push_back({"PlaceObject2 KeyPress raises SWF 5 to 6", 26 /* PlaceObject2 */, keyPressClip(5),
               keyPressBody, 0, 6, 6});
  return c;
}

TEST(ControlTagsGolden, WriteReadWriteAndMinVersion) {
  for (const auto& row : GoldenCases()) test::CheckGoldenRow(row);
}

// Each golden body, cut short, read by the file reader with a ShowFrame after it: the cut tag
// becomes an error tag without taking the ShowFrame's bytes, and the ShowFrame is still read.
TEST(ControlTagsGolden, TruncatedBodiesBecomeErrorTags) {
  for (const auto& row : GoldenCases()) test::SweepTruncatedPrefixes(row);
}

// ---- PlaceObject2 ----

TEST(PlaceObject2, EveryFlagCombinationRoundTrips) {
  for (unsigned mask = 0; mask < 256; ++mask) {
    for (std::uint8_t version : {5, 6}) {
      TSWFPlaceObject2 tag;
      tag.SWFVersion = version;
      tag.Depth = static_cast<std::uint16_t>(1000 + mask);
      tag.PlaceFlagMove = mask & 0x01;
      if (mask & 0x02) tag.SetCharacterId(static_cast<std::uint16_t>(7 + mask));
      if (mask & 0x04) {
        tag.Matrix().SetScale(2.0f, -0.25f);
        tag.Matrix().SetSkew(0.5f, 0.0f);
        tag.Matrix().SetTranslate(-1000 - int(mask), 333);
      }
      if (mask & 0x08) {
        tag.ColorTransform().SetMultR(256);
        tag.ColorTransform().SetMultG(128);
        tag.ColorTransform().SetMultB(0);
        tag.ColorTransform().SetMultA(200);
        tag.ColorTransform().SetAddB(-255);
      }
      if (mask & 0x10) tag.SetRatio(static_cast<std::uint16_t>(mask * 3));
      if (mask & 0x20) tag.SetName("instance" + std::to_string(mask));
      if (mask & 0x40) tag.SetClipDepth(static_cast<std::uint16_t>(mask + 1));
      if (mask & 0x80) {
        tag.ClipActions().AddActions(Events({ceMouseDown, cePress, ceData}));
        tag.ClipActions().AddActions(Events({ceRollOver}), version >= 6 ? 32 : 0);
      }
      const Bytes body = test::WriteBody(tag);
      ASSERT_EQ(body[0], mask) << "flag byte of " << mask;
      auto back = test::ReadBody(26, body, tag.SWFVersion);
      auto& p = static_cast<TSWFPlaceObject2&>(*back);
      EXPECT_EQ(test::WriteBody(p), body) << "mask " << mask << " version " << int(version);
      EXPECT_EQ(p.Depth, tag.Depth);
      EXPECT_EQ(p.PlaceFlagHasCharacter, (mask & 0x02) != 0);
      if (mask & 0x02) {
        EXPECT_EQ(p.CharacterId(), tag.CharacterId());
      }
      if (mask & 0x04) {
        EXPECT_EQ(p.Matrix().GetRec(), tag.Matrix().GetRec());
      }
      if (mask & 0x08) {
        EXPECT_EQ(p.ColorTransform().GetRec(), tag.ColorTransform().GetRec());
      }
      if (mask & 0x10) {
        EXPECT_EQ(p.Ratio(), tag.Ratio());
      }
      if (mask & 0x20) {
        EXPECT_EQ(p.Name(), tag.Name());
      }
      if (mask & 0x40) {
        EXPECT_EQ(p.ClipDepth(), tag.ClipDepth());
      }
      if (mask & 0x80) {
        ASSERT_EQ(p.ClipActions().ClipActionRecords.size(), 2u);
        EXPECT_EQ(p.ClipActions().AllEventFlags, tag.ClipActions().AllEventFlags);
        EXPECT_EQ(p.ClipActions().ActionRecord(1).EventFlags,
                  tag.ClipActions().ActionRecord(1).EventFlags);
        EXPECT_EQ(p.ClipActions().ActionRecord(1).KeyCode(), version >= 6 ? 32 : 0);
      }
    }
  }
}

TEST(PlaceObject2, AccessorsRaiseFlagsAndNameFollowsTheString) {
  TSWFPlaceObject2 tag;
  EXPECT_EQ(tag.SWFVersion, 3);
  EXPECT_EQ(tag.MatrixIfAny(), nullptr);
  tag.Matrix();
  EXPECT_TRUE(tag.PlaceFlagHasMatrix);
  EXPECT_NE(tag.MatrixIfAny(), nullptr);
  tag.ColorTransform();
  EXPECT_TRUE(tag.PlaceFlagHasColorTransform);
  EXPECT_TRUE(tag.ColorTransformIfAny()->HasAlpha);
  tag.SetName("a");
  EXPECT_TRUE(tag.PlaceFlagHasName);
  tag.SetName("");
  EXPECT_FALSE(tag.PlaceFlagHasName);
  tag.ClipActions();
  EXPECT_TRUE(tag.PlaceFlagHasClipActions);
  EXPECT_EQ(tag.MinVersion(), 3) << "clip actions without records are not written";
  // A base place object only stores the id.
  TSWFPlaceObject plain;
  plain.SetCharacterId(9);
  EXPECT_EQ(plain.CharacterId(), 9);
}

TEST(PlaceObject2, AssignCopiesExactlyWhatIsFlagged) {
  TSWFPlaceObject2 source;
  source.Depth = 4;
  source.SetCharacterId(8);
  source.SetName("n");
  source.ClipActions().AddActions(Events({ceLoad}));
  source.SWFVersion = 6;
  TSWFPlaceObject2 target;
  target.Matrix().SetTranslate(5, 5);
  target.SetRatio(3);
  target.Assign(source);
  EXPECT_FALSE(target.PlaceFlagHasMatrix);
  EXPECT_FALSE(target.PlaceFlagHasRatio);
  EXPECT_EQ(target.SWFVersion, 6);
  EXPECT_EQ(test::WriteBody(target), test::WriteBody(source));
  // The copy owns its records.
  source.ClipActions().ClipActionRecords.clear();
  EXPECT_EQ(target.ClipActions().ClipActionRecords.size(), 1u);
}

// A source flagged for a matrix or transform it never made writes the identity and an empty
// transform: the copy must write the same, not an old matrix or transform of its own.
TEST(PlaceObject2, AssignOfFlagsWithoutObjectsWritesWhatTheSourceWrites) {
  TSWFPlaceObject2 source;
  source.Depth = 2;
  source.PlaceFlagHasMatrix = true;
  source.PlaceFlagHasColorTransform = true;
  TSWFPlaceObject2 target;
  target.Matrix().SetTranslate(40, 40);
  target.ColorTransform().SetAddR(9);
  target.Assign(source);
  EXPECT_EQ(test::WriteBody(target), test::WriteBody(source)) << test::Hex(test::WriteBody(target));
}

// A transform made by the accessor leaves the alpha as it is until the alpha is set.
TEST(PlaceObject2, TransformSetWithoutAlphaKeepsTheAlpha) {
  TSWFPlaceObject2 tag;
  tag.Depth = 1;
  tag.ColorTransform().SetMultR(128);
  const Bytes body = test::WriteBody(tag);
  auto back = test::ReadBody(26, body);
  const TSWFColorTransform* c = static_cast<TSWFPlaceObject2&>(*back).ColorTransformIfAny();
  ASSERT_NE(c, nullptr) << test::Hex(body);
  EXPECT_TRUE(c->HasMult);
  EXPECT_EQ(c->MultR(), 128);
  EXPECT_EQ(c->MultA(), 256);
  EXPECT_FALSE(c->HasAdd);
}

// The name flag is kept as read, even for an empty name, so the body reads back as it was.
TEST(PlaceObject2, EmptyNameRoundTrips) {
  const Bytes body = {0x20 /* has name */, 0x01, 0x00, 0x00 /* "" */};
  auto back = test::ReadBody(26, body);
  EXPECT_EQ(test::WriteBody(*back), body);
}

TEST(PlaceObject2, RecordsWithoutEventsAreNotWritten) {
  // Zero event flags in the file would end the list and hide the records after it.
  TSWFPlaceObject2 tag;
  tag.Depth = 1;
  tag.ClipActions().AddActions(0);
  EXPECT_EQ(test::WriteBody(tag), (Bytes{0x00, 0x01, 0x00})) << "no record left: no clip actions";
  tag.ClipActions().AddActions(Events({ceUnload}));
  auto back = test::ReadBody(26, test::WriteBody(tag), 5);
  auto& p = static_cast<TSWFPlaceObject2&>(*back);
  ASSERT_EQ(p.ClipActions().ClipActionRecords.size(), 1u);
  EXPECT_EQ(p.ClipActions().ActionRecord(0).EventFlags, Events({ceUnload}));
}

TEST(PlaceObject2, KeyCodeDrivesTheKeyPressEvent) {
  TSWFClipActions actions;
  auto& withKey = actions.AddActions(Events({ceLoad}), 13);
  EXPECT_EQ(withKey.EventFlags, Events({ceLoad, ceKeyPress}));
  EXPECT_EQ(actions.AllEventFlags, Events({ceLoad, ceKeyPress}));
  EXPECT_EQ(actions.MinVersion(), 6);
  withKey.SetKeyCode(0);
  EXPECT_EQ(withKey.EventFlags, Events({ceLoad}));
  EXPECT_EQ(actions.AddActions(Events({ceKeyPress}), 0).EventFlags, 0u);

  // A key code set on a record later still reaches the list's events and the version.
  TSWFPlaceObject2 tag;
  tag.SWFVersion = 5;
  tag.ClipActions().AddActions(Events({ceLoad}));
  EXPECT_EQ(tag.MinVersion(), 5);
  tag.ClipActions().ActionRecord(0).SetKeyCode(9);
  EXPECT_EQ(tag.MinVersion(), 6);
  auto back = test::ReadBody(26, test::WriteBody(tag), 6);
  EXPECT_EQ(tag.SWFVersion, 5);  // writing changes nothing
  auto& clip = static_cast<TSWFPlaceObject2&>(*back).ClipActions();
  EXPECT_EQ(clip.AllEventFlags, Events({ceLoad, ceKeyPress}));
  EXPECT_EQ(clip.ActionRecord(0).KeyCode(), 9);
}

struct BadBody {
  const char* what;
  std::uint8_t version;
  Bytes body;
};

TEST(PlaceObject2, DamagedClipActionsAreErrors) {
  const BadBody cases[] = {
      {"record size past the body",
       5,
       {0x80, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00,
        0x00}},
      {"KeyPress record without room for its key", 6, {0x80, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
                                                       0x02, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00,
                                                       0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
      {"no end flag",
       5,
       {0x80, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00}},
  };
  for (const auto& c : cases) {
    EXPECT_THROW(test::ReadBody(26, c.body, c.version), EStreamError) << c.what;
  }
  // Reserved bits alone still make a record (only all-zero flags end the list).
  const Bytes reservedOnly = {
      0x80, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01 /* reserved */,
      0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  auto back = test::ReadBody(26, reservedOnly, 6);
  EXPECT_EQ(static_cast<TSWFPlaceObject2&>(*back).ClipActions().ClipActionRecords.size(), 1u);
}

// ---- other tags ----

TEST(Protect, PasswordIsHashedWithTheObjectsSaltAndReadBackAsHash) {
  TSWFProtect tag;
  tag.Password = "open sesame";
  EXPECT_EQ(tag.MinVersion(), 5);
  const Bytes body = test::WriteBody(tag);
  ASSERT_EQ(body.size(), 2u + 28u + 1u);
  EXPECT_EQ(body[0], 0);
  EXPECT_EQ(body[1], 0);
  EXPECT_EQ(body.back(), 0);
  const std::string hash(body.begin() + 2, body.end() - 1);
  EXPECT_EQ(hash.substr(3, 2), tag.Salt());
  EXPECT_EQ(MD5Crypt("open sesame", tag.Salt()), hash) << "the hash verifies";
  // Writing changes nothing: the same object writes the same bytes again, and so does a copy.
  EXPECT_TRUE(tag.PasswordHash.empty());
  EXPECT_EQ(test::WriteBody(tag), body);
  EXPECT_EQ(test::WriteBody(*CloneTag(tag)), body);
  auto back = test::ReadBody(24, body);
  EXPECT_EQ(static_cast<TSWFProtect&>(*back).PasswordHash, hash);
  EXPECT_TRUE(static_cast<TSWFProtect&>(*back).Password.empty());
  EXPECT_EQ(test::WriteBody(*back), body);
}

TEST(Protect, SaltSourceCanBeSeeded) {
  auto saltsOf = [](std::uint32_t seed) {
    SetSaltSource(SeededSaltSource(seed));
    std::vector<std::string> salts;
    for (int i = 0; i < 4; ++i) salts.push_back(TSWFProtect().Salt());
    SetSaltSource(nullptr);
    return salts;
  };
  EXPECT_EQ(saltsOf(7), saltsOf(7));
  EXPECT_NE(saltsOf(7), saltsOf(8));
  SetSaltSource([] { return std::string("zz"); });
  TSWFProtect fixed;
  SetSaltSource(nullptr);
  fixed.Password = "pw";
  const Bytes body = test::WriteBody(fixed);
  EXPECT_EQ(std::string(body.begin() + 2, body.end() - 1), MD5Crypt("pw", "zz"));
}

TEST(Protect, OddBodiesAndTheReservedWordReadBackAsTheyWere) {
  const Bytes cases[] = {
      {0x75, 0x19, '$', '1', '$', 0x00},  // EnableDebugger2's reserved word as found in a file
      {0x00, 0x00},                       // the word alone
      {0x00, 0x00, 0x00},                 // an empty hash
      {0x00, 0x00, 'a', 'b'},             // a hash without its terminating zero
      {0x00, 0x00, 'h', 0x00, 0xEE},      // bytes after the hash
  };
  for (const std::uint16_t code : {24, 58, 64}) {
    for (const Bytes& body : cases) {
      SCOPED_TRACE(test::Hex(body));
      auto back = test::ReadBody(code, body);
      EXPECT_EQ(test::WriteTag(*back), test::Record(code, body));
    }
  }
  auto debugger = test::ReadBody(64, cases[0]);
  EXPECT_EQ(static_cast<TSWFEnableDebugger2&>(*debugger).Reserved, 0x1975);
}

TEST(Protect, LongHashIsReadWhole) {
  // A hash field of more than 255 bytes is read in full, not by a count cut to 8 bits.
  TSWFProtect tag;
  tag.PasswordHash = std::string(300, 'h');
  const Bytes body = test::WriteBody(tag);
  auto back = test::ReadBody(24, body);
  EXPECT_EQ(static_cast<TSWFProtect&>(*back).PasswordHash, tag.PasswordHash);
}

TEST(FrameLabel, AnchorByteOnlyWhenExactlyOneByteRemains) {
  auto two = test::ReadBody(43, Bytes{'a', 0, 1, 1});
  EXPECT_EQ(static_cast<TSWFFrameLabel&>(*two).NamedAnchor, 0);
  auto one = test::ReadBody(43, Bytes{'a', 0, 7});
  EXPECT_EQ(static_cast<TSWFFrameLabel&>(*one).NamedAnchor, 7);
  EXPECT_EQ(test::WriteBody(*one), (Bytes{'a', 0, 1}));
}

TEST(ExportAssets, ClaimedCountIsBoundedByTheBody) {
  EXPECT_THROW(test::ReadBody(56, Bytes{0xFF, 0xFF, 0x01, 0x00, 'a', 0}), EStreamError);
}

TEST(PlaceObject, BodyEndingAfterTheMatrixHasNoColorTransform) {
  auto tag = test::ReadBody(4, Bytes{0x01, 0x00, 0x02, 0x00, 0x0C, 0xA5, 0x80});
  auto& p = static_cast<TSWFPlaceObject&>(*tag);
  EXPECT_FALSE(p.HasColorTransform);
  EXPECT_EQ(p.Matrix().TranslateX, 20);
  EXPECT_EQ(p.Matrix().TranslateY, -20);
  EXPECT_EQ(test::WriteBody(p).size(), 7u);
  // An identity transform present in the file is kept.
  auto withIdentity = test::ReadBody(4, Bytes{0x01, 0x00, 0x02, 0x00, 0x00, 0x00});
  EXPECT_TRUE(static_cast<TSWFPlaceObject&>(*withIdentity).HasColorTransform);
  EXPECT_EQ(test::WriteBody(*withIdentity), (Bytes{0x01, 0x00, 0x02, 0x00, 0x00, 0x00}));
}

// ---- renumbering ----

TEST(ControlTags, ChangeCharacterIDsCoversPlaceRemoveExportImport) {
  TSWFStreamReader reader;
  reader.SetVersion(6);
  {
    TBitsEngine be(reader.Body());
    TSWFImportAssets import;
    import.URL = "lib.swf";
    import.Assets = {{"seven", 7}, { "three", 3 }};
    import.WriteToStream(be);
    TSWFPlaceObject place;
    place.SetCharacterId(3);
    place.WriteToStream(be);
    TSWFPlaceObject2 place2;
    place2.SetCharacterId(7);
    place2.WriteToStream(be);
    TSWFPlaceObject2 move;  // moves depth 1: its hidden id must not change
    move.PlaceFlagMove = true;
    move.Depth = 1;
    move.WriteToStream(be);
    TSWFRemoveObject remove;
    remove.CharacterId = 3;
    remove.WriteToStream(be);
    TSWFExportAssets exportTag;
    exportTag.Assets = {{"seven", 7}, {"other", 99}};
    exportTag.WriteToStream(be);
  }
  reader.ParseTags();
  ASSERT_EQ(reader.TagList.size(), 6u);
  // The move's id field holds a value that matches a defined id, to show it is left alone.
  static_cast<TSWFPlaceObject2&>(*reader.GetTagInfo(3).SWFObject).SetCharacterId(3);
  static_cast<TSWFPlaceObject2&>(*reader.GetTagInfo(3).SWFObject).PlaceFlagHasCharacter = false;

  EXPECT_EQ(reader.ChangeCharacterIDs(100), 102);
  EXPECT_EQ(static_cast<TSWFPlaceObject2&>(*reader.GetTagInfo(3).SWFObject).CharacterId(), 3);
  reader.MakeStream();
  reader.ParseTags();
  const auto object = [&](std::size_t i) -> TSWFObject& { return *reader.GetTagInfo(i).SWFObject; };
  const auto& import = static_cast<TSWFImportAssets&>(object(0));
  EXPECT_EQ(import.Assets, (std::vector<TSWFAsset>{{"seven", 100}, {"three", 101}}));
  EXPECT_EQ(static_cast<TSWFPlaceObject&>(object(1)).CharacterId(), 101);
  EXPECT_EQ(static_cast<TSWFPlaceObject2&>(object(2)).CharacterId(), 100);
  EXPECT_FALSE(static_cast<TSWFPlaceObject2&>(object(3)).PlaceFlagHasCharacter);
  EXPECT_EQ(static_cast<TSWFRemoveObject&>(object(4)).CharacterId, 101);
  EXPECT_EQ(static_cast<TSWFExportAssets&>(object(5)).Assets,
            (std::vector<TSWFAsset>{{"seven", 100}, {"other", 99}}));
}

TEST(ControlTags, Describe) {
  TSWFPlaceObject2 place;
  place.Depth = 3;
  place.SetCharacterId(12);
  place.Matrix().SetTranslate(40, 60);
  place.SetName("pic");
  place.SetClipDepth(8);
  place.ClipActions().AddActions(Events({ceLoad, cePress}), 65);
  TSWFDescription d;
  place.Describe(d);
  EXPECT_EQ(d.Fields,
            "depth=3 character=12 matrix=translate(40,60) name=\"pic\" clipdepth=8 "
            "events=Load|Press|KeyPress");
  ASSERT_EQ(d.Lines.size(), 1u);
  EXPECT_EQ(d.Lines[0].second, "on Load|Press|KeyPress key=65");

  TSWFImportAssets import;
  import.URL = "lib.swf";
  import.Assets = {{ "seven", 7 }};
  TSWFDescription di;
  import.Describe(di);
  EXPECT_EQ(di.Fields, "url=\"lib.swf\" assets=1");
  ASSERT_EQ(di.Lines.size(), 1u);
  EXPECT_EQ(di.Lines[0].second, "id=7 name=\"seven\"");
}

}  // namespace
}  // namespace kestrova

// ---- clip actions with real actions ----

namespace kestrova {
namespace {

template <class T>
T& AddAction(TSWFClipActionRecord& record) {
  record.Actions.push_back(std::make_unique<T>());
  return static_cast<T&>(*record.Actions.back());
}

TEST(ClipActions, StopRecordSizeIsTwoOrThreeWithAKey) {
  TSWFPlaceObject2 tag;
  tag.SWFVersion = 5;
  tag.Depth = 1;
  AddAction<TSWFActionStop>(tag.ClipActions().AddActions(Events({ceLoad})));
  EXPECT_EQ(test::WriteBody(tag),
            (Bytes{0x80, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00 /* all: Load */, 0x01, 0x00, 0x02, 0x00,
                   0x00, 0x00 /* size */, 0x07 /* Stop */, 0x00 /* action end */, 0x00, 0x00}));
  tag.ClipActions().ActionRecord(0).SetKeyCode(0x20);
  EXPECT_EQ(test::WriteBody(tag), (Bytes{0x80,
                                         0x01,
                                         0x00,
                                         0x00,
                                         0x00,
                                         0x01,
                                         0x00,
                                         0x02,
                                         0x00 /* Load KeyPress */,
                                         0x01,
                                         0x00,
                                         0x02,
                                         0x00,
                                         0x03,
                                         0x00,
                                         0x00,
                                         0x00 /* size */,
                                         0x20 /* key */,
                                         0x07,
                                         0x00,
                                         0x00,
                                         0x00,
                                         0x00,
                                         0x00}));
  EXPECT_EQ(tag.SWFVersion, 5);  // writing changes nothing
}

TEST(ClipActions, WrittenInTheLayoutOfTheMovieTheyAreWrittenInto) {
  for (const std::uint8_t movieVersion : {5, 6, 7, 8}) {
    SCOPED_TRACE(int(movieVersion));
    TSWFStreamReader movie;
    movie.SetVersion(movieVersion);
    auto info = std::make_unique<TSWFTagInfo>(26, false);
    auto place = std::make_unique<TSWFPlaceObject2>();  // default SWFVersion
    place->Depth = 1;
    AddAction<TSWFActionStop>(place->ClipActions().AddActions(Events({ceLoad})));
    info->SWFObject = std::move(place);
    movie.TagList.push_back(std::move(info));
    movie.MakeStream();
    movie.ParseTags();
    ASSERT_EQ(movie.TagList.size(), 1u);
    ASSERT_EQ(movie.TagList[0]->Error(), nullptr) << movie.TagList[0]->Error()->ErrorMessage;
    auto& back = static_cast<TSWFPlaceObject2&>(*movie.TagList[0]->SWFObject);
    ASSERT_NE(back.ClipActionsIfAny(), nullptr);
    EXPECT_EQ(back.ClipActionsIfAny()->ClipActionRecords.size(), 1u);
    EXPECT_TRUE(back.UnparsedBytes.empty());
  }
}

// GotoFrame 5, Play, Push "a", Stop; then the end byte: 14 bytes.
const Bytes kActionsBytes = {
    0x81, 0x02, 0x00, 0x05, 0x00 /* GotoFrame 5 */, 0x06 /* Play */, 0x96,
    0x03, 0x00, 0x00, 'a',  0x00 /* Push "a" */,    0x07 /* Stop */, 0x00 /* action end */};

TSWFPlaceObject2 PlaceWithActions() {
  TSWFPlaceObject2 tag;
  tag.SWFVersion = 6;
  tag.Depth = 3;
  tag.SetCharacterId(2);
  auto& record = tag.ClipActions().AddActions(Events({ceEnterFrame, ceMouseUp}));
  AddAction<TSWFActionGotoFrame>(record).Frame = 5;
  AddAction<TSWFActionPlay>(record);
  AddAction<TSWFActionPush>(record).AddValue(std::string("a"));
  AddAction<TSWFActionStop>(record);
  return tag;
}

Bytes PlaceWithActionsBody() {
  Bytes body = {0x82,
                0x03,
                0x00,
                0x02,
                0x00,
                0x00,
                0x00,
                0x22,
                0x00,
                0x00,
                0x00 /* all events */,
                0x22,
                0x00,
                0x00,
                0x00 /* record events */,
                0x0E,
                0x00,
                0x00,
                0x00 /* size 14 */};
  body.insert(body.end(), kActionsBytes.begin(), kActionsBytes.end());
  body.insert(body.end(), {0x00, 0x00, 0x00, 0x00});
  return body;
}

TEST(ClipActions, RealActionsWriteParseAndRewrite) {
  TSWFPlaceObject2 tag = PlaceWithActions();
  const Bytes body = test::WriteBody(tag);
  ASSERT_EQ(body, PlaceWithActionsBody()) << test::Hex(body);

  auto parsed = test::ReadBody(26, body, 6, true);
  auto& p = static_cast<TSWFPlaceObject2&>(*parsed);
  const auto& actions = p.ClipActions().ActionRecord(0).Actions;
  ASSERT_GE(actions.size(), 4u);
  ASSERT_NE(dynamic_cast<TSWFActionGotoFrame*>(actions[0].get()), nullptr);
  EXPECT_EQ(static_cast<TSWFActionGotoFrame&>(*actions[0]).Frame, 5);
  EXPECT_NE(dynamic_cast<TSWFActionPlay*>(actions[1].get()), nullptr);
  ASSERT_NE(dynamic_cast<TSWFActionPush*>(actions[2].get()), nullptr);
  EXPECT_EQ(static_cast<TSWFActionPush&>(*actions[2]).Values().at(0).Value,
            TPushVariant(std::string("a")));
  EXPECT_NE(dynamic_cast<TSWFActionStop*>(actions[3].get()), nullptr);
  EXPECT_EQ(test::WriteBody(p), body);

  // Without parsing, the record is one raw block that already holds its end byte.
  auto raw = test::ReadBody(26, body, 6, false);
  auto& r = static_cast<TSWFPlaceObject2&>(*raw);
  const auto& rawActions = r.ClipActions().ActionRecord(0).Actions;
  ASSERT_EQ(rawActions.size(), 1u);
  const auto* block = dynamic_cast<const TSWFActionByteCode*>(rawActions[0].get());
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(block->Data, kActionsBytes);
  EXPECT_EQ(test::WriteBody(r), body);

  // A copy owns copies of the actions.
  TSWFPlaceObject2 copy;
  copy.Assign(tag);
  tag.ClipActions().ActionRecord(0).Actions.clear();
  EXPECT_EQ(test::WriteBody(copy), body);
}

TEST(ClipActions, EndByteRules) {
  struct Case {
    const char* what;
    std::function<void(TSWFActionList&)> fill;
    Bytes actionBytes;  // what the record holds after its size (no key code here)
  };
  const Case cases[] = {
      {"no actions", [](TSWFActionList&) {}, {0x00}},
      {"Play",
       [](TSWFActionList& l) { l.push_back(std::make_unique<TSWFActionPlay>()); },
       {0x06, 0x00}},
      {"raw block ending in zero",
       [](TSWFActionList& l) {
         auto raw = std::make_unique<TSWFActionByteCode>();
         raw->Data = {0x06, 0x00};
         l.push_back(std::move(raw));
       },
       {0x06, 0x00}},
      {"raw block not ending in zero",
       [](TSWFActionList& l) {
         auto raw = std::make_unique<TSWFActionByteCode>();
         raw->Data = {0x07};
         l.push_back(std::move(raw));
       },
       {0x07, 0x00}},
      {"empty raw block",
       [](TSWFActionList& l) { l.push_back(std::make_unique<TSWFActionByteCode>()); },
       {0x00}},
      {"jump to a marker at the end: the marker writes nothing, the end byte still comes",
       [](TSWFActionList& l) {
         auto jump = std::make_unique<TSWFActionJump>();
         TSWFActionJump& j = *jump;
         l.push_back(std::move(jump));
         l.push_back(std::make_unique<TSWFActionPlay>());
         InsertMarker(l, 2, j.TargetRef());
       },
       {0x99, 0x02, 0x00, 0x01, 0x00 /* over Play */, 0x06, 0x00}},
  };
  for (const auto& c : cases) {
    TSWFPlaceObject2 tag;
    tag.SWFVersion = 6;
    auto& record = tag.ClipActions().AddActions(Events({ceData}));
    c.fill(record.Actions);
    const Bytes body = test::WriteBody(tag);
    // flags, depth, reserved, all events, record events, size
    constexpr std::size_t kHead = 1 + 2 + 2 + 4 + 4;
    ASSERT_GE(body.size(), kHead + 4 + 4) << c.what;
    const std::uint32_t size = body[kHead] | (body[kHead + 1] << 8);
    EXPECT_EQ(size, c.actionBytes.size()) << c.what;
    EXPECT_EQ(Bytes(body.begin() + kHead + 4, body.end() - 4), c.actionBytes)
        << c.what << ": " << test::Hex(body);
    auto back = test::ReadBody(26, body, 6, true);
    EXPECT_EQ(test::WriteBody(*back), body) << c.what << " read back";
  }
}

TEST(ClipActions, DescribeListsTheActions) {
  TSWFPlaceObject2 tag = PlaceWithActions();
  TSWFDescription d;
  tag.Describe(d);
  ASSERT_EQ(d.Lines.size(), 5u);
  EXPECT_EQ(d.Lines[0], std::make_pair(0, std::string("on MouseUp|EnterFrame")));
  EXPECT_EQ(d.Lines[1].first, 1);
  EXPECT_NE(d.Lines[1].second.find("GotoFrame"), std::string::npos) << d.Lines[1].second;
  EXPECT_NE(d.Lines[3].second.find("Push"), std::string::npos) << d.Lines[3].second;
  EXPECT_NE(d.Lines[4].second.find("Stop"), std::string::npos) << d.Lines[4].second;
}

TEST(ClipActions, ActionsRaiseTheVersion) {
  TSWFPlaceObject2 tag;
  tag.SWFVersion = 5;
  auto& record = tag.ClipActions().AddActions(Events({ceLoad}));
  record.Actions.push_back(std::make_unique<TSWFActionPlay>());
  EXPECT_EQ(tag.MinVersion(), 5);
  // An action of a later version lifts the tag with it.
  TSWFActionList probe;
  for (unsigned code = 1; code < 0xFE && probe.empty(); ++code) {
    auto a = CreateActionByCode(static_cast<std::uint8_t>(code));
    if (a && a->MinVersion() >= 7) probe.push_back(std::move(a));
  }
  ASSERT_FALSE(probe.empty());
  const std::uint16_t v = probe[0]->MinVersion();
  record.Actions.push_back(std::move(probe[0]));
  EXPECT_EQ(tag.MinVersion(), v);
}

}  // namespace
}  // namespace kestrova
