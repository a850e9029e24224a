// Hot keys as users write them on the command line.
#include <gtest/gtest.h>

#include "platform/HotKeyName.h"

namespace kestrova::platform {
namespace {

TEST(HotKeyName, UnderstoodFormsAndRefusals) {
  struct TCase {
    const char* Text;
    bool Understood;
    std::uint32_t Modifiers, Key;
    const char* Name;
  };
  const TCase cases[] = {
      {"Ctrl+Alt+S", true, kModControl | kModAlt, 'S', "Ctrl+Alt+S"},
      {"alt+ctrl+s", true, kModControl | kModAlt, 'S', "Ctrl+Alt+S"},
      {"Control+Shift+R", true, kModControl | 0x4, 'R', "Ctrl+Shift+R"},
      {"Super+9", true, 0x8, '9', "Super+9"},
      {"Win+Alt+q", true, kModAlt | 0x8, 'Q', "Alt+Super+Q"},
      {"S", false, 0, 0, ""},            // no modifier: every S typed would stop it
      {"Ctrl+Alt", false, 0, 0, ""},     // no key
      {"Ctrl+S+Alt", false, 0, 0, ""},   // the key comes last
      {"Ctrl+Ctrl+S", false, 0, 0, ""},  // said twice
      {"Ctrl+F1", false, 0, 0, ""},      // letters and digits only
      {"Ctrl+Alt+S+", false, 0, 0, ""},
      {"Hyper+S", false, 0, 0, ""},
      {"", false, 0, 0, ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Text);
    const std::optional<THotKeyChoice> key = ParseHotKey(c.Text);
    ASSERT_EQ(key.has_value(), c.Understood);
    if (!key) continue;
    EXPECT_EQ(key->Modifiers, c.Modifiers);
    EXPECT_EQ(key->Key, c.Key);
    EXPECT_EQ(key->Name, c.Name);
  }
  // The default is the recorder's own key.
  EXPECT_EQ(THotKeyChoice{}.Name, "Ctrl+Alt+S");
  EXPECT_EQ(THotKeyChoice{}.Key, kVirtualKeyS);
}

}  // namespace
}  // namespace kestrova::platform
