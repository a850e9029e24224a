#include <gtest/gtest.h>

#include <functional>

#include "swfobjects/SWFObjects.h"
#include "swfstreams/SWFStreams.h"
#include "tests/TestUtil.h"
#include "tests/swfobjects/TagFamilyTest.h"

namespace kestrova {
namespace {

using test::Bytes;

Bytes WriteList(TSWFActionList& list) {
  TMemoryStream m;
  TBitsEngine be(m);
  WriteActionList(be, list);
  return m.Bytes();
}

TSWFActionList ReadList(const Bytes& bytes) {
  TMemoryStream m(bytes);
  TBitsEngine be(m);
  TSWFActionList list;
  ReadActionList(be, list, static_cast<std::int64_t>(bytes.size()));
  return list;
}

template <class T>
std::unique_ptr<TSWFAction> Make(const std::function<void(T&)>& fill) {
  auto a = std::make_unique<T>();
  fill(*a);
  return a;
}

struct ActionCase {
  const char* what;
  std::function<std::unique_ptr<TSWFAction>()> build;
  Bytes bytes;
  std::uint16_t minVersion;
};

const std::vector<ActionCase>& ActionCases() {
  static const std::vector<ActionCase> cases = {
      {"Stop", [] { return std::make_unique<TSWFActionStop>(); }, {0x07}, 3},
      {"GotoFrame 3",
       [] { return Make<TSWFActionGotoFrame>([](auto& a) { a.Frame = 3; }); },
       {0x81, 0x02, 0x00 /* length */, 0x03, 0x00},
       3},
      {"GetUrl, URL converted to UTF-8, target as held",
       [] {
         return Make<TSWFActionGetUrl>([](auto& a) {
           a.URL = "caf\xE9";
           a.Target = "_b";
         });
       },
       {0x83, 0x09, 0x00, 'c', 'a', 'f', 0xC3, 0xA9 /* e-acute */, 0x00, '_', 'b', 0x00},
       3},
      {"WaitForFrame",
       [] {
         return Make<TSWFActionWaitForFrame>([](auto& a) {
           a.Frame = 3;
           a.SkipCount = 2;
         });
       },
       {0x8A, 0x03, 0x00, 0x03, 0x00 /* frame */, 0x02 /* skip */},
       3},
      {"SetTarget",
       [] { return Make<TSWFActionSetTarget>([](auto& a) { a.TargetName = "t"; }); },
       {0x8B, 0x02, 0x00, 't', 0x00},
       3},
      {"GoToLabel",
       [] { return Make<TSWFActionGoToLabel>([](auto& a) { a.Label = "x"; }); },
       {0x8C, 0x02, 0x00, 'x', 0x00},
       3},
      {"StoreRegister",
       [] { return Make<TSWFActionStoreRegister>([](auto& a) { a.RegisterNumber = 1; }); },
       {0x87, 0x01, 0x00, 0x01},
       5},
      {"ConstantPool",
       [] { return Make<TSWFActionConstantPool>([](auto& a) {
              a.ConstantPool = {"a", "bc"};
            }); },
       {0x88, 0x07, 0x00, 0x02, 0x00 /* count */, 'a', 0x00, 'b', 'c', 0x00},
       5},
      {"With, explicit size",
       [] { return Make<TSWFActionWith>([](auto& a) { a.SetSize(4); }); },
       {0x94, 0x02, 0x00, 0x04, 0x00},
       5},
      {"Jump without offset or marker writes 0",
       [] { return std::make_unique<TSWFActionJump>(); },
       {0x99, 0x02, 0x00, 0x00, 0x00},
       4},
      {"If, explicit offset",
       [] { return Make<TSWFActionIf>([](auto& a) { a.SetBranchOffset(-300); }); },
       {0x9D, 0x02, 0x00, 0xD4, 0xFE /* -300 */},
       4},
      {"GetURL2: POST, target sprite, load variables",
       [] {
         return Make<TSWFActionGetURL2>([](auto& a) {
           a.SendVarsMethod = 2;
           a.LoadTargetFlag = true;
           a.LoadVariablesFlag = true;
         });
       },
       {0x9A, 0x01, 0x00, 0x83 /* 10 0000 1 1 */},
       4},
      {"GotoFrame2 with scene bias",
       [] {
         return Make<TSWFActionGotoFrame2>([](auto& a) {
           a.PlayFlag = true;
           a.SceneBiasFlag = true;
           a.SceneBias = 7;
         });
       },
       {0x9F, 0x03, 0x00, 0x03 /* bias, play */, 0x07, 0x00},
       4},
      {"GotoFrame2 without scene bias",
       [] { return std::make_unique<TSWFActionGotoFrame2>(); },
       {0x9F, 0x01, 0x00, 0x00},
       4},
      {"DefineFunction",
       [] {
         return Make<TSWFActionDefineFunction>([](auto& a) {
           a.FunctionName = "f";
           a.Params = {"a", "b"};
           a.SetCodeSize(0);
         });
       },
       {0x9B, 0x0A, 0x00, 'f', 0x00, 0x02, 0x00 /* params */, 'a', 0x00, 'b', 0x00, 0x00,
        0x00 /* code size */},
       5},
      {"DefineFunction2",
       [] {
         return Make<TSWFActionDefineFunction2>([](auto& a) {
           a.FunctionName = "g";
           a.RegisterCount = 2;
           a.SuppressArgumentsFlag = true;
           a.PreloadThisFlag = true;
           a.PreloadGlobalFlag = true;
           a.Parameters = {{1, "x"}};
         });
       },
       {0x8E, 0x0C, 0x00, 'g', 0x00, 0x01, 0x00 /* params */, 0x02 /* registers */,
        0x09 /* suppress arguments, preload this */, 0x01 /* preload global */, 0x01, 'x', 0x00,
        0x00, 0x00 /* code size */},
       7},
      {"Try, catch in register, catch and finally",
       [] {
         return Make<TSWFActionTry>([](auto& a) {
           a.CatchInRegisterFlag = a.CatchBlockFlag = a.FinallyBlockFlag = true;
           a.CatchRegister = 3;
         });
       },
       {0x8F, 0x08, 0x00, 0x07, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03},
       7},
      {"Try, catch by name",
       [] {
         return Make<TSWFActionTry>([](auto& a) {
           a.CatchBlockFlag = true;
           a.CatchName = "e";
         });
       },
       {0x8F, 0x09, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 'e', 0x00},
       7},
      {"Push of every type",
       [] {
         return Make<TSWFActionPush>([](auto& a) {
           a.AddValue(std::string("hi"));
           a.AddValue(1.5f);
           a.AddValue(TPushNull{});
           a.AddValue(TPushUndefined{});
           a.SetValueType(a.AddValue(std::int64_t(2)), 4);
           a.AddValue(true);
           a.AddValue(1.5);
           a.AddValue(std::int64_t(-1));
           a.SetValueType(a.AddValue(std::int64_t(3)), 8);
           a.SetValueType(a.AddValue(std::int64_t(300)), 9);
         });
       },
       {0x96, 0x22, 0x00,                                      // Push, 34 bytes
        0x00, 'h',  'i',  0x00,                                // string
        0x01, 0x00, 0x00, 0xC0, 0x3F,                          // float 1.5
        0x02,                                                  // null
        0x03,                                                  // undefined
        0x04, 0x02,                                            // register 2
        0x05, 0x01,                                            // true
        0x06, 0x00, 0x00, 0xF8, 0x3F, 0x00, 0x00, 0x00, 0x00,  // double 1.5, high half first
        0x07, 0xFF, 0xFF, 0xFF, 0xFF,                          // integer -1
        0x08, 0x03,                                            // constant 3
        0x09, 0x2C, 0x01},                                     // constant 300
       5},
      {"Push without values",
       [] { return std::make_unique<TSWFActionPush>(); },
       {0x96, 0x00, 0x00},
       4},
      {"Call keeps an empty body",
       [] { return std::make_unique<TSWFActionCall>(); },
       {0x9E, 0x00, 0x00},
       4},
      {"ByteCode writes its bytes verbatim",
       [] { return Make<TSWFActionByteCode>([](auto& a) {
              a.Data = {0x06, 0x07};
            }); },
       {0x06, 0x07},
       4},
  };
  return cases;
}

TEST(ActionGolden, WriteReadWrite) {
  for (const auto& c : ActionCases()) {
    auto action = c.build();
    TMemoryStream m;
    TBitsEngine be(m);
    action->WriteToStream(be);
    EXPECT_EQ(m.Bytes(), c.bytes) << c.what << ": " << test::Hex(m.Bytes());
    EXPECT_EQ(action->MinVersion(), c.minVersion) << c.what;
    if (c.bytes.size() >= 3 && action->ActionCode >= 0x80 && action->ActionCode < 0xFE) {
      EXPECT_EQ(action->ActionLength, c.bytes.size() - 3) << c.what;
    }

    TSWFActionList back = ReadList(c.bytes);
    ASSERT_FALSE(back.empty()) << c.what;
    if (action->ActionCode != TSWFActionByteCode::kCode) {
      EXPECT_EQ(back[0]->ActionCode, action->ActionCode) << c.what;
      // typeid of references, not of *ptr: clang warns that the operand is evaluated.
      const TSWFAction &got = *back[0], &want = *action;
      EXPECT_EQ(typeid(got), typeid(want)) << c.what;
      EXPECT_EQ(back[0]->MinVersion(), c.minVersion) << c.what;
    }
    EXPECT_EQ(WriteList(back), c.bytes) << c.what << " (read back)";

    TSWFActionList copy;
    CopyActionList(back, copy);
    back.clear();
    EXPECT_EQ(WriteList(copy), c.bytes) << c.what << " (copy)";
  }
}

// WaitForFrame2 carries a one-byte skip count; an action whose file body is longer than the
// fields its class reads keeps the extra bytes, so branch offsets read from the file stay right.
TEST(ActionList, BodiesAreKeptWholeSoBranchesStayInPlace) {
  const Bytes waitForFrame2 = {0x99,
                               0x02,
                               0x00,
                               0x04,
                               0x00 /* Jump +4 */,
                               0x8D,
                               0x01,
                               0x00,
                               0x01 /* WaitForFrame2, skip 1 */,
                               0x07};
  TSWFActionList list = ReadList(waitForFrame2);
  EXPECT_EQ(WriteList(list), waitForFrame2) << test::Hex(WriteList(list));
  const TSWFActionWaitForFrame2* wait = nullptr;
  for (const auto& a : list) {
    if (!wait) wait = dynamic_cast<const TSWFActionWaitForFrame2*>(a.get());
  }
  ASSERT_NE(wait, nullptr);
  EXPECT_EQ(wait->SkipCount, 1);
  TSWFDescription d;
  wait->Describe(d);
  EXPECT_EQ(d.Fields, "skip=1");

  const Bytes longCall = {0x99, 0x02, 0x00, 0x05, 0x00 /* Jump +5 */,
                          0x9E, 0x02, 0x00, 0xAA, 0xBB /* Call with 2 extra bytes */,
                          0x07};
  TSWFActionList calls = ReadList(longCall);
  EXPECT_EQ(WriteList(calls), longCall) << test::Hex(WriteList(calls));
  TSWFActionList copy;
  CopyActionList(calls, copy);
  calls.clear();
  EXPECT_EQ(WriteList(copy), longCall) << "copy";

  TSWFActionList one;
  one.push_back(std::make_unique<TSWFActionWaitForFrame2>());
  static_cast<TSWFActionWaitForFrame2&>(*one[0]).SkipCount = 3;
  EXPECT_EQ(WriteList(one), (Bytes{0x8D, 0x01, 0x00, 0x03}));
}

TEST(ActionGolden, ReadValuesOfEveryPushType) {
  TSWFActionList list = ReadList(ActionCases()[18].bytes);
  ASSERT_EQ(list.size(), 1u);
  const auto& push = static_cast<const TSWFActionPush&>(*list[0]);
  const std::vector<std::pair<std::uint8_t, TPushVariant>> expected = {{0, std::string("hi")},
                                                                       {1, 1.5f},
                                                                       {2, TPushNull{}},
                                                                       {3, TPushUndefined{}},
                                                                       {4, std::int64_t(2)},
                                                                       {5, true},
                                                                       {6, 1.5},
                                                                       {7, std::int64_t(-1)},
                                                                       {8, std::int64_t(3)},
                                                                       {9, std::int64_t(300)}};
  ASSERT_EQ(push.Values().size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(push.Values()[i].ValueType, expected[i].first) << i;
    EXPECT_EQ(push.Values()[i].Value, expected[i].second) << i;
  }
}

TEST(ActionCatalogue, BodylessActionsFromTheTable) {
  std::size_t plain = 0;
  for (std::size_t i = 0; i < kActionCatalogueSize; ++i) {
    const auto& row = kActionCatalogue[i];
    auto action = CreateActionByCode(row.Code);
    ASSERT_NE(action, nullptr) << row.Name;
    EXPECT_EQ(action->ActionCode, row.Code) << row.Name;
    EXPECT_STREQ(ActionName(row.Code), row.Name);
    EXPECT_EQ(action->MinVersion(), row.MinVersion) << row.Name;
    if (row.HasBody) continue;
    ++plain;
    Bytes expected = {row.Code};
    if (row.Code >= 0x80) expected.insert(expected.end(), {0x00, 0x00});
    TSWFActionList list;
    list.push_back(std::move(action));
    EXPECT_EQ(WriteList(list), expected) << row.Name;
    TSWFActionList back = ReadList(expected);
    ASSERT_EQ(back.size(), 1u) << row.Name;
    const TSWFAction &got = *back[0], &want = *list[0];
    EXPECT_EQ(typeid(got), typeid(want)) << row.Name;
  }
  EXPECT_EQ(plain, 82u);
  // Spot checks against the published catalogue, independent of the table.
  const std::tuple<std::uint8_t, const char*, std::uint16_t> known[] = {
      {0x07, "Stop", 3},          {0x0A, "Add", 4},   {0x3A, "Delete", 5},
      {0x66, "StrictEquals", 6},  {0x2A, "Throw", 7}, {0x9E, "Call", 4},
      {0x8D, "WaitForFrame2", 4}, {0x8F, "Try", 7},   {0x9D, "If", 4}};
  for (const auto& [code, name, version] : known) {
    EXPECT_STREQ(ActionName(code), name);
    EXPECT_EQ(CreateActionByCode(code)->MinVersion(), version) << name;
  }
  for (std::uint8_t code : {0x00, 0x01, 0x16, 0x2D, 0x80, 0x82, 0xA0}) {
    EXPECT_EQ(CreateActionByCode(code), nullptr) << int(code);
    EXPECT_STREQ(ActionName(code), "Unknown");
  }
  EXPECT_NE(dynamic_cast<TSWFActionJump*>(CreateActionByCode(0x9D).get()), nullptr);
}

TEST(ActionPush, ValueKindsAndTypeChanges) {
  TSWFActionPush push;
  const std::pair<TPushVariant, std::uint8_t> kinds[] = {{TPushUndefined{}, 3},
                                                         {TPushNull{}, 2},
                                                         {std::int64_t(5), 7},
                                                         {2.5f, 1},
                                                         {2.5, 6},
                                                         {false, 5},
                                                         {std::string("abc"), 0},
                                                         {std::string("FlashVar_undefined"), 3},
                                                         {std::string("FlashVar_null"), 2}};
  for (const auto& [value, type] : kinds) {
    const std::size_t i = push.AddValue(value);
    EXPECT_EQ(push.Values()[i].ValueType, type) << i;
  }
  EXPECT_EQ(push.Values()[7].Value, TPushVariant(TPushUndefined{}));
  EXPECT_TRUE(push.SetValueType(2, 4));    // integer -> register
  EXPECT_FALSE(push.SetValueType(2, 10));  // no such type
  EXPECT_FALSE(push.SetValueType(6, 4));   // a string is no register
  EXPECT_FALSE(push.SetValueType(99, 0));
  EXPECT_EQ(push.Values()[2].ValueType, 4);

  TSWFActionPush light;
  light.AddValue(std::string("s"));
  light.AddValue(1.0f);
  EXPECT_EQ(light.MinVersion(), 4);
  light.AddValue(true);
  EXPECT_EQ(light.MinVersion(), 5);
}

// ---- markers ----

TEST(ActionMarkers, ReadBackwardJumpToItself) {
  const Bytes bytes = {0x99, 0x02, 0x00, 0xFB, 0xFF /* -5 */};
  TSWFActionList list = ReadList(bytes);
  ASSERT_EQ(list.size(), 2u);
  auto* marker = dynamic_cast<TSWFOffsetMarker*>(list[0].get());
  ASSERT_NE(marker, nullptr);
  EXPECT_EQ(marker->Label, "label 1");
  EXPECT_TRUE(marker->InList);
  EXPECT_TRUE(marker->JumpBack);
  EXPECT_FALSE(marker->Active);
  auto& jump = static_cast<TSWFActionJump&>(*list[1]);
  EXPECT_EQ(jump.TargetRef().Get(), marker);
  EXPECT_EQ(WriteList(list), bytes);
}

TEST(ActionMarkers, ReadForwardJumpsAndOffsetsThatMissABoundary) {
  // Jump +5 over a GotoFrame, then a Jump +3 into the middle of the next GotoFrame.
  const Bytes bytes = {0x99, 0x02, 0x00, 0x05, 0x00, 0x81, 0x02, 0x00, 0x01, 0x00, 0x99,
                       0x02, 0x00, 0x03, 0x00, 0x81, 0x02, 0x00, 0x02, 0x00, 0x07};
  TSWFActionList list = ReadList(bytes);
  ASSERT_EQ(list.size(), 6u);  // Jump, GotoFrame, marker, Jump, GotoFrame, Stop
  auto* marker = dynamic_cast<TSWFOffsetMarker*>(list[2].get());
  ASSERT_NE(marker, nullptr);
  EXPECT_EQ(marker->Label, "label 1");
  EXPECT_FALSE(marker->JumpBack);
  auto& missing = static_cast<TSWFActionJump&>(*list[3]);
  ASSERT_NE(missing.TargetRef().Get(), nullptr);
  EXPECT_EQ(missing.TargetRef().Get()->Label, "Error Size offset: 3");
  EXPECT_FALSE(missing.TargetRef().Get()->InList);
  EXPECT_TRUE(missing.TargetRef().Owned());
  EXPECT_EQ(WriteList(list), bytes);

  // A copy keeps the error label on its own marker and re-links the placed one.
  TSWFActionList copy;
  CopyActionList(list, copy);
  list.clear();
  auto& copiedJump = static_cast<TSWFActionJump&>(*copy[0]);
  EXPECT_EQ(copiedJump.TargetRef().Get(), copy[2].get());
  EXPECT_EQ(static_cast<TSWFActionJump&>(*copy[3]).TargetRef().Get()->Label,
            "Error Size offset: 3");
  EXPECT_EQ(WriteList(copy), bytes);
}

// A list built by hand: offsets come from where the markers stand.
TEST(ActionMarkers, WriteForwardAndBackwardJumpsThroughMarkers) {
  TSWFActionList list;
  auto jump = std::make_unique<TSWFActionJump>();
  TSWFActionJump& forward = *jump;
  list.push_back(std::move(jump));
  auto push = std::make_unique<TSWFActionPush>();
  push->AddValue(std::string("x"));
  list.push_back(std::move(push));
  InsertMarker(list, 2, forward.TargetRef());  // after the Push
  list.push_back(std::make_unique<TSWFActionPlay>());
  auto back = std::make_unique<TSWFActionIf>();
  TSWFActionIf& backward = *back;
  list.push_back(std::move(back));
  InsertMarker(list, 3, backward.TargetRef());  // before the Play

  const Bytes expected = {0x99, 0x02, 0x00, 0x06, 0x00,        // Jump +6
                          0x96, 0x03, 0x00, 0x00, 'x',  0x00,  // Push "x"
                          0x06,                                // Play (the If's target)
                          0x9D, 0x02, 0x00, 0xFA, 0xFF};       // If -6
  EXPECT_EQ(WriteList(list), expected) << test::Hex(WriteList(list));
  EXPECT_EQ(WriteList(list), expected) << "second write";
  EXPECT_FALSE(forward.OffsetExplicit());

  // The copy's actions refer to the copy's markers: the source can go first.
  TSWFActionList copy;
  CopyActionList(list, copy);
  list.clear();
  EXPECT_EQ(WriteList(copy), expected);
  EXPECT_EQ(static_cast<TSWFActionJump&>(*copy[0]).TargetRef().Get(), copy[2].get());

  // Read back: the same places get inert markers, labelled in order of the referring actions.
  TSWFActionList read = ReadList(expected);
  ASSERT_EQ(read.size(), 6u);
  EXPECT_EQ(static_cast<TSWFOffsetMarker&>(*read[2]).Label, "label 1");
  EXPECT_EQ(static_cast<TSWFOffsetMarker&>(*read[3]).Label, "label 2");
  EXPECT_EQ(WriteList(read), expected);
}

TEST(ActionMarkers, FunctionWithAndTrySizesThroughMarkers) {
  TSWFActionList list;
  auto fn = std::make_unique<TSWFActionDefineFunction>();
  fn->FunctionName = "f";
  TSWFMarkerRef& fnEnd = fn->EndRef();
  list.push_back(std::move(fn));
  auto with = std::make_unique<TSWFActionWith>();
  TSWFMarkerRef& withEnd = with->EndRef();
  list.push_back(std::move(with));
  list.push_back(std::make_unique<TSWFActionPlay>());
  InsertMarker(list, 3, withEnd);
  auto t = std::make_unique<TSWFActionTry>();
  TSWFActionTry& tr = *t;
  tr.CatchBlockFlag = tr.FinallyBlockFlag = true;
  tr.CatchName = "e";
  list.push_back(std::move(t));
  list.push_back(std::make_unique<TSWFActionStop>());  // try block: 1 byte
  InsertMarker(list, list.size(), *tr.MarkerRefs()[0]);
  list.push_back(std::make_unique<TSWFActionNextFrame>());  // catch block: 2 bytes
  list.push_back(std::make_unique<TSWFActionStop>());
  InsertMarker(list, list.size(), *tr.MarkerRefs()[1]);
  list.push_back(std::make_unique<TSWFActionPlay>());  // finally block: 1 byte
  InsertMarker(list, list.size(), *tr.MarkerRefs()[2]);
  InsertMarker(list, list.size(), fnEnd);

  const Bytes expected = {0x9B, 0x06, 0x00, 'f',  0x00, 0x00, 0x00, 0x16, 0x00,  // code size 22
                          0x94, 0x02, 0x00, 0x01, 0x00,                          // With size 1
                          0x06,                                                  // Play
                          0x8F, 0x09, 0x00, 0x03, 0x01, 0x00, 0x02, 0x00, 0x01,
                          0x00, 'e',  0x00,  // Try: sizes 1, 2, 1
                          0x07, 0x04, 0x07, 0x06};
  EXPECT_EQ(WriteList(list), expected) << test::Hex(WriteList(list));

  TSWFActionList read = ReadList(expected);
  EXPECT_EQ(WriteList(read), expected);
  // The function's end, the with's end, and the three Try blocks are all labelled in place.
  std::vector<std::string> labels;
  for (const auto& a : read) {
    if (auto* m = dynamic_cast<TSWFOffsetMarker*>(a.get())) labels.push_back(m->Label);
  }
  EXPECT_EQ(labels.size(), 5u);
  EXPECT_EQ(dynamic_cast<TSWFOffsetMarker*>(read.back().get())->Label, "label 1");
}

TEST(ActionList, UnknownCodesAreKeptWholeAndInStep) {
  // Jump +7 over an unknown long action (0xA0, 3-byte body) and an unknown short one (0x2D).
  const Bytes bytes = {0x99, 0x02, 0x00, 0x07, 0x00, 0xA0, 0x03,
                       0x00, 0xAA, 0x00, 0xBB, 0x2D, 0x07};
  TSWFActionList list = ReadList(bytes);
  ASSERT_EQ(list.size(), 5u);  // Jump, raw, raw, marker, Stop
  EXPECT_EQ(list[1]->ActionCode, TSWFActionByteCode::kCode);
  EXPECT_EQ(list[3]->ActionCode, TSWFOffsetMarker::kCode);
  EXPECT_EQ(list[4]->ActionCode, 0x07);
  EXPECT_EQ(WriteList(list), bytes);
}

TEST(ActionList, StopsAtTheEndCodeOrTheByteCount) {
  const Bytes bytes = {0x06, 0x00, 0x07};
  EXPECT_EQ(ReadList(bytes).size(), 1u);
  TMemoryStream m(Bytes{0x06, 0x07, 0x04});
  TBitsEngine be(m);
  TSWFActionList list;
  ReadActionList(be, list, 2);
  EXPECT_EQ(list.size(), 2u);
  EXPECT_EQ(m.Position(), 2u);
}

TEST(ActionList, DamagedRecordsAreErrors) {
  const std::pair<const char*, Bytes> cases[] = {
      {"length past the list", {0x81, 0x05, 0x00, 0x01, 0x00}},
      {"length cut off", {0x81, 0x02}},
      {"push of unknown type", {0x96, 0x02, 0x00, 0x0B, 0x00}},
      {"push string over its length", {0x96, 0x02, 0x00, 0x00, 'a', 'b', 0x00}},
      {"constant past its record", {0x88, 0x04, 0x00, 0x02, 0x00, 'a', 0x00, 'b', 0x00}},
      {"huge constant count", {0x88, 0x02, 0x00, 0xFF, 0xFF}},
      {"huge parameter count", {0x9B, 0x04, 0x00, 0x00, 0xFF, 0xFF, 0x00}},
  };
  for (const auto& [what, bytes] : cases) {
    EXPECT_THROW(ReadList(bytes), std::exception) << what;
  }
  // A body shorter than its length is skipped to the length, keeping the next record in step.
  TSWFActionList list = ReadList({0x87, 0x02, 0x00, 0x01, 0xEE, 0x07});
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[1]->ActionCode, 0x07);
}

TEST(ActionList, FindEndActions) {
  // Push "" (its data holds zero bytes), Stop, end, then more.
  TMemoryStream m(Bytes{0x96, 0x02, 0x00, 0x00, 0x00, 0x07, 0x00, 0x99});
  TBitsEngine be(m);
  EXPECT_EQ(FindEndActions(be), 7u);
  EXPECT_EQ(m.Position(), 0u);
  EXPECT_EQ(FindEndActions(be, 6), 0u);  // the end code lies past the limit
  m.SetPosition(7);
  EXPECT_EQ(FindEndActions(be), 7u);  // none found: the starting position
  TMemoryStream cut(Bytes{0x96, 0xFF, 0xFF, 0x00});
  TBitsEngine cutEngine(cut);
  EXPECT_EQ(FindEndActions(cutEngine), 0u);
}

// ---- DoAction and DoInitAction ----

using test::GoldenRow;

std::vector<GoldenRow> DoActionCases() {
  return {
      {"DoAction Play Stop",
       12 /* DoAction */,
       [] {
         auto t = std::make_unique<TSWFDoAction>();
         t->Actions().push_back(std::make_unique<TSWFActionPlay>());
         t->Actions().push_back(std::make_unique<TSWFActionStop>());
         return t;
       },
       {0x06, 0x07, 0x00 /* end */},
       1,
       0,
       10,
       {},
       true},
      {"DoAction with Push, GetUrl and a backward jump",
       12 /* DoAction */,
       [] {
         auto t = std::make_unique<TSWFDoAction>();
         auto& l = t->Actions();
         auto push = std::make_unique<TSWFActionPush>();
         push->AddValue(std::string("a"));
         push->AddValue(1.5);
         l.push_back(std::move(push));
         auto url = std::make_unique<TSWFActionGetUrl>();
         url->URL = "u";
         l.push_back(std::move(url));
         auto jump = std::make_unique<TSWFActionJump>();
         TSWFMarkerRef& ref = jump->TargetRef();
         l.push_back(std::move(jump));
         InsertMarker(l, 1, ref);
         return t;
       },
       {0x96, 0x0C, 0x00, 0x00, 'a',  0x00, 0x06, 0x00, 0x00, 0xF8, 0x3F,
        0x00, 0x00, 0x00, 0x00, 0x83, 0x03, 0x00, 'u',  0x00, 0x00,  // GetUrl "u", ""
        0x99, 0x02, 0x00, 0xF5, 0xFF,                                // Jump -11, back to the GetUrl
        0x00},
       1,
       0,
       10,
       {},
       true},
      {"DoInitAction",
       59 /* DoInitAction */,
       [] {
         auto t = std::make_unique<TSWFDoInitAction>();
         t->SpriteId = 5;
         t->Actions().push_back(std::make_unique<TSWFActionStop>());
         return t;
       },
       {0x05, 0x00 /* sprite */, 0x07, 0x00},
       2,
       0,
       10,
       {},
       true},
  };
}

TEST(DoAction, GoldenWriteReadWriteWithAndWithoutParsing) {
  for (const auto& row : DoActionCases()) {
    test::CheckGoldenRow(row);
    // Unparsed, the actions are one block of byte code.
    auto raw = test::ReadBody(row.code, row.body, 10, false);
    const auto& actions = static_cast<TSWFDoAction&>(*raw).Actions();
    ASSERT_EQ(actions.size(), 1u) << row.what;
    EXPECT_EQ(actions[0]->ActionCode, TSWFActionByteCode::kCode) << row.what;
  }
}

TEST(DoAction, MinVersionAndExternalList) {
  TSWFActionList mine;
  TSWFDoAction tag(mine);
  EXPECT_FALSE(tag.OwnsActions());
  EXPECT_EQ(tag.MinVersion(), 3);
  mine.push_back(std::make_unique<TSWFActionThrow>());
  EXPECT_EQ(tag.MinVersion(), 7);
  EXPECT_TRUE(TSWFDoAction().OwnsActions());
  EXPECT_EQ(TSWFDoInitAction().MinVersion(), 6);
}

// Each golden body cut short, framed as a tag of the cut length with a ShowFrame after it: the
// action reader itself sees the short body; cut between actions it reads the actions there are
// (writing adds the end code), cut inside one it fails; the ShowFrame is always still read.
TEST(DoAction, TruncatedPrefixSweep) {
  for (const auto& row : DoActionCases()) test::SweepTruncatedPrefixes(row);
}

TEST(DoAction, EveryTruncatedBodyReadsOrBecomesAnErrorTag) {
  for (const auto& c : DoActionCases()) {
    auto tag = c.build();
    const Bytes body = test::WriteBody(*tag);
    for (bool parse : {true, false}) {
      // An empty body is not handed to the tag's reader: start at one byte.
      for (std::size_t cut = 1; cut < body.size(); ++cut) {
        TSWFStreamReader reader;
        reader.SetVersion(10);
        WriteRecordHeader(reader.Body(), tag->TagID, static_cast<std::uint32_t>(cut));
        reader.Body().Write(body.data(), cut);
        WriteRecordHeader(reader.Body(), 1, 0);
        reader.ParseTags(true, parse);
        ASSERT_EQ(reader.TagList.size(), 2u) << c.what << " cut " << cut;
        EXPECT_EQ(reader.TagList[1]->TagID, 1) << c.what << " cut " << cut;
        // Unparsed, whatever follows the sprite id is kept as raw bytes: a cut body reads and
        // loses nothing (an end code is added when the cut took it).
        const std::size_t fixed = tag->TagID == 59 ? 2 : 0;
        if (cut < fixed) {
          EXPECT_TRUE(reader.TagList[0]->Error() != nullptr) << c.what << " cut " << cut;
          continue;
        }
        if (parse && reader.TagList[0]->Error()) continue;  // cut inside an action
        ASSERT_EQ(reader.TagList[0]->TagID, tag->TagID) << c.what << " cut " << cut;
        Bytes expected(body.begin(), body.begin() + cut);
        // Parsed, the cut never holds the final end code; unparsed, a last zero byte is taken
        // for it.
        if (parse || cut == fixed || expected.back() != 0) expected.push_back(0);
        EXPECT_EQ(test::WriteBody(*reader.TagList[0]->SWFObject), expected)
            << c.what << " cut " << cut;
      }
    }
  }
}

// A header that claims less than the actions need: the actions must not read the next tag.
TEST(DoAction, ShortHeaderDoesNotReadIntoTheNextTag) {
  const Bytes file = {0x03, 0x03, 0x81, 0x02, 0x00 /* GotoFrame cut by the tag's length */,
                      0x00, 0x00 /* the frame: an End tag */};
  TSWFStreamReader reader;
  reader.Body().Write(file.data(), file.size());
  reader.ParseTags(true, true);
  ASSERT_EQ(reader.TagList.size(), 2u);
  EXPECT_TRUE(reader.TagList[0]->Error() != nullptr);
  EXPECT_EQ(reader.TagList[1]->TagID, 0);
}

TEST(DoAction, ListsWithoutTheirEndCodeRead) {
  auto stop = test::ReadBody(12, {0x07});
  ASSERT_EQ(static_cast<TSWFDoAction&>(*stop).Actions().size(), 1u);
  EXPECT_EQ(static_cast<TSWFDoAction&>(*stop).Actions()[0]->ActionCode, 0x07);
  EXPECT_EQ(test::WriteBody(*stop), (Bytes{0x07, 0x00}));
  auto empty = test::ReadBody(59, {0x01, 0x00});
  EXPECT_TRUE(static_cast<TSWFDoInitAction&>(*empty).Actions().empty());
  EXPECT_EQ(static_cast<TSWFDoInitAction&>(*empty).SpriteId, 1);
}

TEST(DoAction, DescribeListsEachAction) {
  auto back = test::ReadBody(12, DoActionCases()[1].body);
  TSWFDescription d;
  back->Describe(d);
  EXPECT_EQ(d.Fields, "actions=4");
  ASSERT_EQ(d.Lines.size(), 4u);
  EXPECT_EQ(d.Lines[0].second, "    0: 0x96 Push values=[string \"a\", double 1.5]");
  EXPECT_EQ(d.Lines[1].second, "   15: 0xFF OffsetMarker label=\"label 1\"");
  EXPECT_EQ(d.Lines[2].second, "   15: 0x83 GetUrl url=\"u\" target=\"\"");
  EXPECT_EQ(d.Lines[3].second, "   21: 0x99 Jump offset=-11 target=\"label 1\"");
  EXPECT_EQ(d.Lines[0].first, 0);
}

// A defining tag stand-in, so the renumbering has something to map from.
class TDefinesCharacter : public TSWFObject {
 public:
  explicit TDefinesCharacter(std::uint16_t id) : TSWFObject(39), Id(id) {}
  std::uint16_t Id;
  void Assign(const TBasedSWFObject& source) override { TSWFObject::Assign(source); }
  void DefinedCharacterIDs(std::vector<std::uint16_t*>& ids) override { ids.push_back(&Id); }
};

TEST(DoInitAction, SpriteIdIsRenumbered) {
  TSWFStreamReader reader;
  auto add = [&](std::unique_ptr<TSWFObject> obj) {
    auto info = std::make_unique<TSWFTagInfo>(obj->TagID, false);
    info->SWFObject = std::move(obj);
    reader.TagList.push_back(std::move(info));
  };
  add(std::make_unique<TDefinesCharacter>(7));
  auto known = std::make_unique<TSWFDoInitAction>();
  known->SpriteId = 7;
  TSWFDoInitAction* knownPtr = known.get();
  add(std::move(known));
  auto stranger = std::make_unique<TSWFDoInitAction>();
  stranger->SpriteId = 9;
  TSWFDoInitAction* strangerPtr = stranger.get();
  add(std::move(stranger));
  EXPECT_EQ(reader.ChangeCharacterIDs(100), 101);
  EXPECT_EQ(knownPtr->SpriteId, 100);
  EXPECT_EQ(strangerPtr->SpriteId, 9);
}

}  // namespace
}  // namespace kestrova
