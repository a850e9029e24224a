#include "platform/Registry.h"

#include <cstdlib>
#include <stdexcept>

namespace kestrova::platform {

namespace {

std::string Known() {
  std::string names;
  for (const TBackendInfo& b : Backends())
    names += (names.empty() ? "" : ", ") + std::string(b.Name);
  return names;
}

std::unique_ptr<TPlatformBackend> OpenNamed(const std::string& name, const char* source) {
  for (const TBackendInfo& b : Backends()) {
    if (name != b.Name) continue;
    std::string whyNot;
    if (!b.Available(whyNot)) {
      throw std::runtime_error("platform \"" + name + "\" cannot run here: " + whyNot);
    }
    return b.Create();
  }
  throw std::runtime_error(std::string("unknown platform \"") + name + "\"" + source +
                           " (there are: " + Known() + ")");
}

}  // namespace

std::unique_ptr<TPlatformBackend> OpenBackend(const std::string& requested) {
  if (!requested.empty()) return OpenNamed(requested, "");
  const char* env = std::getenv("KESTROVA_PLATFORM");
  if (env != nullptr && *env != '\0') return OpenNamed(env, " in KESTROVA_PLATFORM");
  const TBackendInfo* best = nullptr;
  for (const TBackendInfo& b : Backends()) {
    std::string whyNot;
    if (b.Available(whyNot) && (best == nullptr || b.Priority > best->Priority)) best = &b;
  }
  if (best == nullptr) throw std::runtime_error("no platform can run here");
  return best->Create();
}

}  // namespace kestrova::platform
