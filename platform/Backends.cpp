// The table of backends this build holds. A backend adds its row here (under the option that
// builds it) and nothing else changes: the recorder sees only platform/Platform.h.
#include <array>

#include "platform/Registry.h"
#include "platform/sim/SimBackend.h"

namespace kestrova::platform {

namespace {

bool SimAvailable(std::string&) {
  return true;
}

std::unique_ptr<TPlatformBackend> CreateSim() {
  return std::make_unique<sim::TSimBackend>();
}

const std::array kBackends{
    TBackendInfo{"sim", "a simulated desktop with lively windows (no display needed)", 0,
                 SimAvailable, CreateSim},
};

}  // namespace

std::span<const TBackendInfo> Backends() {
  return kBackends;
}

}  // namespace kestrova::platform
