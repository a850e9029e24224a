// The backends this build holds, and the choice among them: the name asked for, else the
// environment variable KESTROVA_PLATFORM, else the best one that can run here.
#pragma once

#include <memory>
#include <span>
#include <string>

#include "platform/Platform.h"

namespace kestrova::platform {

// One backend's objects, alive as long as this is.
class TPlatformBackend {
 public:
  virtual ~TPlatformBackend() = default;
  virtual const char* Name() const = 0;
  virtual TPlatform& Platform() = 0;
};

struct TBackendInfo {
  const char* Name;
  const char* Summary;
  int Priority;  // the best available is the highest
  // True when the backend can run here; otherwise whyNot says why.
  bool (*Available)(std::string& whyNot);
  // Throws std::runtime_error when the backend cannot start.
  std::unique_ptr<TPlatformBackend> (*Create)();
};

// Every backend built in (Backends.cpp holds the table; a new backend adds its row there).
std::span<const TBackendInfo> Backends();

// Opens the backend named (when not empty), else the one KESTROVA_PLATFORM names (when set and
// not empty), else the available backend of highest priority. Throws std::runtime_error naming
// the backends there are when the name is unknown, or saying why the one named cannot run.
std::unique_ptr<TPlatformBackend> OpenBackend(const std::string& requested);

}  // namespace kestrova::platform
