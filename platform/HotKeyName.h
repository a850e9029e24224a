// A hot key as users write it ("Ctrl+Alt+S"), and the modifiers and virtual key the hot key
// interface registers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/Platform.h"

namespace kestrova::platform {

// THotKeyChoice is declared with the interfaces (platform/Platform.h), which the hot key dialog
// returns it through.

// "Ctrl+Alt+S", "shift+super+9": one or more of Ctrl (Control), Alt, Shift and Super (Win), in
// any order and case, then one letter or digit. The name is given back in the form above.
// Nothing when the text is not such a key (no modifier, two keys, an unknown word).
std::optional<THotKeyChoice> ParseHotKey(const std::string& text);

}  // namespace kestrova::platform
