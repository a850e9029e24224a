#include <gtest/gtest.h>

#include <map>
#include <string>

#include "platform/win32/Win32UiText.h"

namespace kestrova::platform::win32 {
namespace {

TEST(Win32UiText, DialogFilterIsPairsEndedByTwoNuls) {
  struct TCase {
    const char* Filter;
    std::u16string Expected;
  };
  using namespace std::string_literals;
  const TCase cases[] = {
      {"Flash File|*.swf", u"Flash File\0*.swf\0\0"s},
      {"Flash File|*.swf|All files|*.*", u"Flash File\0*.swf\0All files\0*.*\0\0"s},
      // A description without a pattern, or an empty piece, would end the list early.
      {"Flash File|*.swf|Odd", u"Flash File\0*.swf\0\0"s},
      {"|*.swf|Movies|*.swf", u"Movies\0*.swf\0\0"s},
      {"", u""s},
      {"no pattern", u""s},
      {"Film \xC3\xA9t\xC3\xA9|*.swf", u"Film \u00E9t\u00E9\0*.swf\0\0"s},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(DialogFilter(c.Filter), c.Expected) << c.Filter;
  }
}

TEST(Win32UiText, Utf8AndUtf16RoundTripAndMalformedBytesBecomeReplacements) {
  const std::string text = "Kestrova \xE5\xBD\xB1\xE7\x89\x87 \xF0\x9F\x8E\xA5 \xC3\xBC";
  const std::u16string wide = Utf8ToUtf16(text);
  EXPECT_EQ(wide, u"Kestrova \u5F71\u7247 \U0001F3A5 \u00FC");
  EXPECT_EQ(Utf16ToUtf8(wide), text);
  struct TCase {
    std::string Bytes;
    std::u16string Expected;
  };
  const TCase bad[] = {
      {"a\xC3", u"a\uFFFD"},                    // cut short at the end
      {"\xE5\xBD", u"\uFFFD\uFFFD"},            // cut short, each byte replaced
      {"\xC0\xAF", u"\uFFFD\uFFFD"},            // overlong
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},  // an encoded surrogate
      {"\xFF", u"\uFFFD"},
  };
  for (const TCase& c : bad) EXPECT_EQ(Utf8ToUtf16(c.Bytes), c.Expected);
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

TEST(Win32UiText, SettingsRoundTripAnyValueAndSkipWhatIsNotASetting) {
  const std::map<std::string, std::string> values = {
      {"Capture", "Region"},
      {"Region", "10,20,300,200"},
      {"Odd", "a=b\\c\nd\re"},
      {"Empty", ""},
  };
  EXPECT_EQ(ParseSettings(FormatSettings(values)), values);
  // Keys that cannot be written as a line are left out rather than breaking the file.
  EXPECT_EQ(ParseSettings(FormatSettings({{"a=b", "1"}, {"#c", "2"}, {"d\ne", "3"}, {"", "4"}})),
            (std::map<std::string, std::string>{}));
  const std::map<std::string, std::string> read = ParseSettings(
      "# note\r\nHotKey=Ctrl+Alt+S\r\nno equals\r\n=nokey\nHotKey=Ctrl+Alt+Q\nTail=x");
  EXPECT_EQ(read, (std::map<std::string, std::string>{{"HotKey", "Ctrl+Alt+Q"}, {"Tail", "x"}}));
}

TEST(Win32UiText, HotKeyOfNamesModifiersAndKeyOrRefuses) {
  struct TCase {
    std::uint32_t Modifiers, Key;
    const char* Name;  // nullptr: no hot key
  };
  const TCase cases[] = {
      {kModControl | kModAlt, 'S', "Ctrl+Alt+S"},
      {0x4 | kModAlt, '7', "Alt+Shift+7"},
      {0x8 | kModControl, 'Q', "Ctrl+Win+Q"},
      {0, 'S', nullptr},                      // no modifier
      {kModControl, 0x70, nullptr},           // F1
      {kModControl, 'a', nullptr},            // not a virtual key
      {0x4000 | kModControl, 'S', "Ctrl+S"},  // MOD_NOREPEAT is no modifier of the name
  };
  for (const TCase& c : cases) {
    const std::optional<THotKeyChoice> choice = HotKeyOf(c.Modifiers, c.Key);
    if (c.Name == nullptr) {
      EXPECT_FALSE(choice) << c.Key;
      continue;
    }
    ASSERT_TRUE(choice) << c.Name;
    EXPECT_EQ(choice->Name, c.Name);
    EXPECT_EQ(choice->Key, c.Key);
    EXPECT_EQ(choice->Modifiers, c.Modifiers & 0xF);
  }
}

TEST(Win32UiText, DraggedRectInEveryDirectionAndTooSmallIsASlip) {
  struct TCase {
    int X0, Y0, X1, Y1;
    std::optional<TScreenRect> Expected;
  };
  const TCase cases[] = {
      {10, 20, 109, 69, TScreenRect{10, 20, 110, 70}},
      {109, 69, 10, 20, TScreenRect{10, 20, 110, 70}},
      {109, 20, 10, 69, TScreenRect{10, 20, 110, 70}},
      {-50, -10, -46, -6, TScreenRect{-50, -10, -45, -5}},  // a monitor left of the first
      {10, 20, 13, 200, std::nullopt},                      // 4 pixels wide
      {10, 20, 10, 20, std::nullopt},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(DraggedRect(c.X0, c.Y0, c.X1, c.Y1, 5), c.Expected) << c.X0 << "," << c.Y0;
  }
}

}  // namespace
}  // namespace kestrova::platform::win32
