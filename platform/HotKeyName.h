// A hot key as users write it ("Ctrl+Alt+S"), and the modifiers and virtual key the hot key
// interface registers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/Platform.h"

namespace kestrova::platform {

struct THotKeyChoice {
  std::uint32_t Modifiers = kModControl | kModAlt;
  std::uint32_t Key = kVirtualKeyS;
  std::string Name = "Ctrl+Alt+S";  // as the user is told it
};

// "Ctrl+Alt+S", "shift+super+9": one or more of Ctrl (Control), Alt, Shift and Super (Win), in
// any order and case, then one letter or digit. The name is given back in the form above.
// Nothing when the text is not such a key (no modifier, two keys, an unknown word).
std::optional<THotKeyChoice> ParseHotKey(const std::string& text);

}  // namespace kestrova::platform
