#include "platform/HotKeyName.h"

#include <array>
#include <cctype>
#include <sstream>

namespace kestrova::platform {

namespace {

struct TModifierName {
  const char* Name;
  const char* Alias;
  std::uint32_t Bit;
};

// In the order names are written back.
constexpr std::array kModifiers{
    TModifierName{"Ctrl", "control", kModControl}, TModifierName{"Alt", "alt", kModAlt},
    TModifierName{"Shift", "shift", 0x4}, TModifierName{"Super", "win", 0x8}};

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

std::optional<THotKeyChoice> ParseHotKey(const std::string& text) {
  THotKeyChoice choice{0, 0, ""};
  std::stringstream parts(text);
  std::string part;
  bool haveKey = false;
  while (std::getline(parts, part, '+')) {
    if (haveKey) return std::nullopt;  // the key comes last
    const std::string word = Lower(part);
    bool modifier = false;
    for (const TModifierName& m : kModifiers) {
      if (word != Lower(m.Name) && word != m.Alias) continue;
      if (choice.Modifiers & m.Bit) return std::nullopt;
      choice.Modifiers |= m.Bit;
      modifier = true;
    }
    if (modifier) continue;
    if (word.size() != 1 || !std::isalnum(static_cast<unsigned char>(word[0]))) {
      return std::nullopt;
    }
    choice.Key = static_cast<std::uint32_t>(std::toupper(static_cast<unsigned char>(word[0])));
    haveKey = true;
  }
  if (!haveKey || choice.Modifiers == 0 || text.empty() || text.back() == '+') return std::nullopt;
  for (const TModifierName& m : kModifiers) {
    if (choice.Modifiers & m.Bit) choice.Name += std::string(m.Name) + "+";
  }
  choice.Name += static_cast<char>(choice.Key);
  return choice;
}

}  // namespace kestrova::platform
