#include "platform/KeyHolders.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>

namespace kestrova::platform {

namespace {

struct TKeyHolder {
  const char* Process;  // as /proc/PID/comm gives it (at most 15 characters)
  const char* Name;     // as the user knows it
};

// Programs that take global keys on the common Linux desktops.
constexpr std::array kKeyHolders{
    TKeyHolder{"gsd-media-keys", "GNOME's settings daemon (gsd-media-keys)"},
    TKeyHolder{"gnome-shell", "GNOME Shell"},
    TKeyHolder{"kglobalaccel5", "KDE's global shortcuts (kglobalaccel)"},
    TKeyHolder{"kglobalacceld", "KDE's global shortcuts (kglobalaccel)"},
    TKeyHolder{"kwin_x11", "KWin"},
    TKeyHolder{"xfsettingsd", "Xfce's settings daemon (xfsettingsd)"},
    TKeyHolder{"xfce4-panel", "the Xfce panel"},
    TKeyHolder{"cinnamon", "Cinnamon"},
    TKeyHolder{"csd-media-keys", "Cinnamon's settings daemon (csd-media-keys)"},
    TKeyHolder{"mate-settings-d", "MATE's settings daemon"},
    TKeyHolder{"lxqt-globalkeys", "LXQt's global keys (lxqt-globalkeysd)"},
    TKeyHolder{"openbox", "Openbox (its key bindings in rc.xml)"},
    TKeyHolder{"fluxbox", "Fluxbox"},
    TKeyHolder{"i3", "i3"},
    TKeyHolder{"awesome", "awesome"},
    TKeyHolder{"xbindkeys", "xbindkeys"},
    TKeyHolder{"sxhkd", "sxhkd"},
    TKeyHolder{"Xfwm4", "xfwm4"},
    TKeyHolder{"xfwm4", "xfwm4"},
};

bool AllDigits(const std::string& s) {
  return !s.empty() &&
         std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

}  // namespace

std::vector<std::string> KeyHoldingPrograms(const std::string& procRoot) {
  std::set<std::string> running;
  try {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(procRoot, error)) {
      if (!AllDigits(entry.path().filename().string())) continue;
      std::ifstream comm(entry.path() / "comm");
      std::string name;
      // A process gone meanwhile, or one we may not look at, is passed over.
      if (comm && std::getline(comm, name)) running.insert(name);
    }
  } catch (const std::filesystem::filesystem_error&) {
    // What was seen before the listing failed still counts: this is a hint for the user.
  }
  std::vector<std::string> out;
  for (const TKeyHolder& h : kKeyHolders) {
    if (running.count(h.Process) != 0 && std::find(out.begin(), out.end(), h.Name) == out.end()) {
      out.push_back(h.Name);
    }
  }
  return out;
}

}  // namespace kestrova::platform
