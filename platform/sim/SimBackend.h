// The simulated desktop as a backend: the demonstration desktop (platform/sim/SimDesktop.h)
// with the recorder's files where a Linux desktop keeps them.
#pragma once

#include <memory>

#include "platform/PosixFiles.h"
#include "platform/Registry.h"
#include "platform/sim/SimDesktop.h"

namespace kestrova::platform::sim {

class TSimBackend : public TPlatformBackend {
 public:
  explicit TSimBackend(TSimConfig config = DemoDesktop());
  const char* Name() const override { return "sim"; }
  TPlatform& Platform() override { return FDesktop.Platform(); }
  TSimDesktop& Desktop() { return FDesktop; }

 private:
  TSimDesktop FDesktop;
  TPosixFileLocations FFiles;
};

}  // namespace kestrova::platform::sim
