// System-wide hot keys: XGrabKey on the root window. The grab is taken once for every
// combination of NumLock and CapsLock, because X matches the modifier state exactly and the key
// must work whichever lock is on. Presses wait in the connection until TakePressed reads them.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/x11/X11Display.h"

namespace kestrova::platform::x11 {

class TX11HotKeys : public THotKeys {
 public:
  explicit TX11HotKeys(TX11Display& display);
  ~TX11HotKeys() override;

  // Identifiers from 0xC000 up, one per name, as global atoms are.
  std::uint16_t AddAtom(const std::string& name) override;
  void DeleteAtom(std::uint16_t id) override;
  // modifiers: kModControl, kModAlt (and 0x4 Shift, 0x8 the logo key); key: a virtual key code
  // of a letter or a digit. False when the key has no key code here or another client holds
  // the combination (nothing is left grabbed then).
  bool Register(std::uint16_t id, std::uint32_t modifiers, std::uint32_t key) override;
  void Unregister(std::uint16_t id) override;

  // The identifiers of the hot keys pressed since the last call, in order; reads what the
  // connection holds and never blocks. Other events of the connection are dropped.
  std::vector<std::uint16_t> TakePressed();

 private:
  struct TGrab {
    int KeyCode = 0;
    unsigned Modifiers = 0;  // X modifier mask without the locks
  };
  std::vector<unsigned> LockVariants() const;
  void Ungrab(const TGrab& grab);

  TX11Display& FDisplay;
  std::map<std::string, std::uint16_t> FAtoms;
  std::uint16_t FNextAtom = 0xC000;
  std::map<std::uint16_t, TGrab> FGrabs;
};

}  // namespace kestrova::platform::x11
