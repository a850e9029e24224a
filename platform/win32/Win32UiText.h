// The parts of the Win32 user interface that are plain text and arithmetic (no window is needed):
// the save dialog's filter, the settings file, hot key names and the region picker's drag. Kept
// apart so they are checked without a desktop.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "platform/Platform.h"

namespace kestrova::platform::win32 {

// UTF-8 to UTF-16 and back; malformed sequences become U+FFFD rather than an error, since these
// carry captions and file names the user must still see.
std::u16string Utf8ToUtf16(const std::string& text);
std::string Utf16ToUtf8(const std::u16string& text);

// "Flash File|*.swf" as the common file dialog wants it: description and pattern separated by
// NULs, the list ended by two. An odd last piece (a description without pattern) is left out;
// an empty or unusable filter gives an empty result (the dialog then shows every file).
std::u16string DialogFilter(const std::string& filter);

// The settings file: one key=value a line. Lines without '=' and lines starting with '#' are
// skipped; a key is kept as written, so two that differ in case are two keys. Backslash escapes
// (\\, \n, \r) let a value hold any character; the last value given for a key wins.
std::map<std::string, std::string> ParseSettings(const std::string& text);
// The text ParseSettings reads back as the same map. Keys holding '=', a line break or starting
// with '#' cannot be written that way and are left out.
std::string FormatSettings(const std::map<std::string, std::string>& values);

// The hot key of a modifier set and a virtual key (a letter or digit): "Ctrl+Alt+S". Nothing
// when there is no modifier or the key is neither a letter nor a digit.
std::optional<THotKeyChoice> HotKeyOf(std::uint32_t modifiers, std::uint32_t key);

// The rectangle between the point a drag began at and the point it is at now, both included,
// in whichever direction it was dragged; nothing while it is smaller than minimum pixels in
// either direction (a slip of the hand, not a choice).
std::optional<TScreenRect> DraggedRect(std::int32_t x0, std::int32_t y0, std::int32_t x1,
                                       std::int32_t y1, std::int32_t minimum);

}  // namespace kestrova::platform::win32
