#include "platform/sim/SimBackend.h"

namespace kestrova::platform::sim {

TSimBackend::TSimBackend(TSimConfig config) : FDesktop(std::move(config)) {
  FDesktop.SetFiles(&FFiles);
}

}  // namespace kestrova::platform::sim
