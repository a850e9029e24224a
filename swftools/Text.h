// The one place text changes encoding: Windows-1252 (the strings of movies before SWF 6), UTF-16
// (wide text of edit fields, ID3 frames) and UTF-8 (everything this program holds and shows).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrova {

// Appends the UTF-8 form of a code point (at most U+10FFFF) to out.
void AppendUtf8(std::string& out, std::uint32_t codePoint);

// UTF-16 to UTF-8; an unpaired surrogate becomes unpaired (U+FFFD unless the caller names
// another character).
std::string Utf16ToUtf8(std::u16string_view text, std::uint32_t unpaired = 0xFFFD);

// Text before SWF 6 is held in Windows-1252; these convert between it and UTF-8. Bytes that
// Windows-1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 control of the same
// value, so every byte round-trips.
std::string Cp1252ToUtf8(std::string_view text);
// Characters without a Windows-1252 form (and malformed UTF-8) become '?'.
std::string Utf8ToCp1252(std::string_view text);

}  // namespace kestrova
