#include "platform/win32/Win32UiText.h"

#include <algorithm>
#include <vector>

namespace kestrova::platform::win32 {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// One code point from text at i (advanced past it); malformed or overlong sequences and encoded
// surrogates give the replacement character and consume one byte.
char32_t NextCodePoint(const std::string& text, std::size_t& i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) {
    ++i;
    return lead;
  }
  int extra = 0;
  char32_t cp = 0;
  char32_t least = 0;
  if ((lead & 0xE0) == 0xC0) {
    extra = 1, cp = lead & 0x1F, least = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2, cp = lead & 0x0F, least = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3, cp = lead & 0x07, least = 0x10000;
  } else {
    ++i;
    return kReplacement;
  }
  if (i + extra >= text.size()) {  // cut short
    ++i;
    return kReplacement;
  }
  for (int k = 1; k <= extra; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) {
      ++i;
      return kReplacement;
    }
    cp = (cp << 6) | (byte(i + k) & 0x3F);
  }
  if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return kReplacement;
  }
  i += extra + 1;
  return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else {
      out += c;
    }
  }
  return out;
}

std::string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char next = text[++i];
    out += next == 'n' ? '\n' : next == 'r' ? '\r' : next;
  }
  return out;
}

}  // namespace

std::u16string Utf8ToUtf16(const std::string& text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const char32_t cp = NextCodePoint(text, i);
    if (cp >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::string Utf16ToUtf8(const std::u16string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = kReplacement;  // a half of a pair alone
    }
    AppendUtf8(out, cp);
  }
  return out;
}

std::u16string DialogFilter(const std::string& filter) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t bar = filter.find('|', start);
    parts.push_back(filter.substr(start, bar == std::string::npos ? bar : bar - start));
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  std::u16string out;
  for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
    // An empty piece would end the list early: the dialog reads up to the first double NUL.
    if (parts[i].empty() || parts[i + 1].empty()) continue;
    out += Utf8ToUtf16(parts[i]) + u'\0' + Utf8ToUtf16(parts[i + 1]) + u'\0';
  }
  if (!out.empty()) out += u'\0';
  return out;
}

std::map<std::string, std::string> ParseSettings(const std::string& text) {
  std::map<std::string, std::string> values;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t eq = line.find('=');
    if (line.empty() || line[0] == '#' || eq == std::string::npos || eq == 0) continue;
    values[line.substr(0, eq)] = Unescape(line.substr(eq + 1));
  }
  return values;
}

std::string FormatSettings(const std::map<std::string, std::string>& values) {
  std::string out;
  for (const auto& [key, value] : values) {
    if (key.empty() || key[0] == '#' || key.find_first_of("=\r\n") != std::string::npos) {
      continue;
    }
    out += key + "=" + Escape(value) + "\r\n";
  }
  return out;
}

std::optional<THotKeyChoice> HotKeyOf(std::uint32_t modifiers, std::uint32_t key) {
  const bool letter = key >= 'A' && key <= 'Z';
  const bool digit = key >= '0' && key <= '9';
  // Control, Alt, Shift and the Windows key, in the order users write them.
  static constexpr struct {
    std::uint32_t Flag;
    const char* Name;
  } kModifiers[] = {{kModControl, "Ctrl"}, {kModAlt, "Alt"}, {0x4, "Shift"}, {0x8, "Win"}};
  std::string name;
  std::uint32_t known = 0;
  for (const auto& m : kModifiers) {
    if ((modifiers & m.Flag) == 0) continue;
    name += std::string(m.Name) + "+";
    known |= m.Flag;
  }
  if (known == 0 || (!letter && !digit)) return std::nullopt;
  return THotKeyChoice{known, key, name + static_cast<char>(key)};
}

std::optional<TScreenRect> DraggedRect(std::int32_t x0, std::int32_t y0, std::int32_t x1,
                                       std::int32_t y1, std::int32_t minimum) {
  const TScreenRect r{std::min(x0, x1), std::min(y0, y1), std::max(x0, x1) + 1,
                      std::max(y0, y1) + 1};
  if (r.Width() < minimum || r.Height() < minimum) return std::nullopt;
  return r;
}

}  // namespace kestrova::platform::win32
