// The table of backends this build holds. A backend adds its row here (under the option that
// builds it) and nothing else changes: the recorder sees only platform/Platform.h.
#include <array>

#include "platform/Registry.h"
#include "platform/sim/SimBackend.h"
#ifdef KESTROVA_HAVE_X11
#include "platform/x11/X11Backend.h"
#endif
#ifdef KESTROVA_HAVE_WIN32
#include "platform/win32/Win32Backend.h"
#endif

namespace kestrova::platform {

namespace {

bool SimAvailable(std::string&) {
  return true;
}

std::unique_ptr<TPlatformBackend> CreateSim() {
  return std::make_unique<sim::TSimBackend>();
}

#ifdef KESTROVA_HAVE_X11
bool X11Available(std::string& whyNot) {
  whyNot = x11::WhyNoDisplay();
  return whyNot.empty();
}

std::unique_ptr<TPlatformBackend> CreateX11() {
  return std::make_unique<x11::TX11Backend>();
}
#endif

#ifdef KESTROVA_HAVE_WIN32
bool Win32Available(std::string&) {
  return true;
}

std::unique_ptr<TPlatformBackend> CreateWin32() {
  return std::make_unique<win32::TWin32Backend>();
}
#endif

const std::array kBackends{
    TBackendInfo{"sim", "a simulated desktop with lively windows (no display needed)", 0,
                 SimAvailable, CreateSim},
#ifdef KESTROVA_HAVE_X11
    TBackendInfo{"x11", "the X11 desktop ($DISPLAY) with a Qt 6 tool window", 10, X11Available,
                 CreateX11},
#endif
#ifdef KESTROVA_HAVE_WIN32
    TBackendInfo{"win32", "the Windows desktop (desktop duplication or GDI) with Win32 windows", 10,
                 Win32Available, CreateWin32},
#endif
};

}  // namespace

std::span<const TBackendInfo> Backends() {
  return kBackends;
}

}  // namespace kestrova::platform
