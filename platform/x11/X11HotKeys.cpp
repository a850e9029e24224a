#include "platform/x11/X11HotKeys.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <memory>

namespace kestrova::platform::x11 {

namespace {

KeySym KeySymOf(std::uint32_t key) {
  if (key >= 'A' && key <= 'Z') return XK_a + (key - 'A');
  if (key >= '0' && key <= '9') return XK_0 + (key - '0');
  return NoSymbol;
}

unsigned ModifierMask(std::uint32_t modifiers) {
  unsigned mask = 0;
  if (modifiers & kModAlt) mask |= Mod1Mask;
  if (modifiers & kModControl) mask |= ControlMask;
  if (modifiers & 0x4) mask |= ShiftMask;
  if (modifiers & 0x8) mask |= Mod4Mask;
  return mask;
}

}  // namespace

TX11HotKeys::TX11HotKeys(TX11Display& display) : FDisplay(display) {}

TX11HotKeys::~TX11HotKeys() {
  for (const auto& [id, grab] : FGrabs) Ungrab(grab);
  XFlush(FDisplay.Get());
}

std::uint16_t TX11HotKeys::AddAtom(const std::string& name) {
  auto [it, added] = FAtoms.emplace(name, FNextAtom);
  if (added) ++FNextAtom;
  return it->second;
}

void TX11HotKeys::DeleteAtom(std::uint16_t id) {
  for (auto it = FAtoms.begin(); it != FAtoms.end(); ++it) {
    if (it->second == id) {
      FAtoms.erase(it);
      return;
    }
  }
}

std::vector<unsigned> TX11HotKeys::LockVariants() const {
  // NumLock is whichever modifier carries the Num_Lock key on this keyboard (usually Mod2).
  unsigned numLock = 0;
  Display* d = FDisplay.Get();
  const KeyCode numCode = XKeysymToKeycode(d, XK_Num_Lock);
  std::unique_ptr<XModifierKeymap, int (*)(XModifierKeymap*)> map(XGetModifierMapping(d),
                                                                  XFreeModifiermap);
  for (int m = 0; map && numCode != 0 && m < 8; ++m) {
    for (int k = 0; k < map->max_keypermod; ++k) {
      if (map->modifiermap[m * map->max_keypermod + k] == numCode) numLock = 1u << m;
    }
  }
  std::vector<unsigned> variants{0, LockMask};
  if (numLock != 0) {
    variants.push_back(numLock);
    variants.push_back(numLock | LockMask);
  }
  return variants;
}

void TX11HotKeys::Ungrab(const TGrab& grab) {
  for (unsigned lock : LockVariants()) {
    XUngrabKey(FDisplay.Get(), grab.KeyCode, grab.Modifiers | lock, FDisplay.Root());
  }
}

bool TX11HotKeys::Register(std::uint16_t id, std::uint32_t modifiers, std::uint32_t key) {
  Unregister(id);
  const KeySym sym = KeySymOf(key);
  const int code = sym == NoSymbol ? 0 : XKeysymToKeycode(FDisplay.Get(), sym);
  if (code == 0) return false;
  const TGrab grab{code, ModifierMask(modifiers)};
  const int error = FDisplay.Trap([&] {
    for (unsigned lock : LockVariants()) {
      XGrabKey(FDisplay.Get(), grab.KeyCode, grab.Modifiers | lock, FDisplay.Root(), False,
               GrabModeAsync, GrabModeAsync);
    }
  });
  if (error != 0) {
    // BadAccess: another client holds one of the combinations. Give back the ones taken.
    FDisplay.Trap([&] { Ungrab(grab); });
    return false;
  }
  FGrabs[id] = grab;
  return true;
}

void TX11HotKeys::Unregister(std::uint16_t id) {
  const auto it = FGrabs.find(id);
  if (it == FGrabs.end()) return;
  FDisplay.Trap([&] { Ungrab(it->second); });
  FGrabs.erase(it);
}

std::vector<std::uint16_t> TX11HotKeys::TakePressed() {
  std::vector<std::uint16_t> pressed;
  Display* d = FDisplay.Get();
  const unsigned relevant = ControlMask | Mod1Mask | ShiftMask | Mod4Mask;
  while (XPending(d) > 0) {
    XEvent event;
    XNextEvent(d, &event);
    if (event.type != KeyPress) continue;
    for (const auto& [id, grab] : FGrabs) {
      if (static_cast<int>(event.xkey.keycode) == grab.KeyCode &&
          (event.xkey.state & relevant) == grab.Modifiers) {
        pressed.push_back(id);
      }
    }
  }
  return pressed;
}

}  // namespace kestrova::platform::x11
