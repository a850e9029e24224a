#include "platform/UserDirs.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace kestrova::platform {

namespace {

bool IsFolder(const std::string& path) {
  std::error_code ec;
  return !path.empty() && std::filesystem::is_directory(path, ec);
}

// The value of XDG_VIDEOS_DIR="..." in the file, with $HOME expanded; empty when absent.
std::string VideosLine(const std::string& file, const std::string& home) {
  std::ifstream in(file);
  std::string line;
  const std::string key = "XDG_VIDEOS_DIR=";
  while (std::getline(in, line)) {
    const std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line.compare(start, key.size(), key) != 0) continue;
    std::string value = line.substr(start + key.size());
    if (value.size() < 2 || value.front() != '"') return {};
    const std::size_t close = value.find('"', 1);
    if (close == std::string::npos) return {};
    value = value.substr(1, close - 1);
    if (value.rfind("$HOME", 0) == 0) return home + value.substr(5);
    return value.empty() || value.front() != '/' ? std::string() : value;
  }
  return {};
}

}  // namespace

std::string VideosFolder(const std::string& home, const TGetEnvFunction& getEnv) {
  const char* config = getEnv ? getEnv("XDG_CONFIG_HOME") : nullptr;
  const std::string configFolder =
      (config != nullptr && config[0] == '/') ? std::string(config) : home + "/.config";
  const std::string named = VideosLine(configFolder + "/user-dirs.dirs", home);
  if (!named.empty() && IsFolder(named)) return named;
  if (IsFolder(home + "/Videos")) return home + "/Videos";
  return home;
}

std::string TimestampedRecordingName(const std::string& folder, std::time_t when) {
  std::tm local{};
#ifdef _WIN32
  ::localtime_s(&local, &when);
#else
  ::localtime_r(&when, &local);
#endif
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d_%H-%M-%S", &local);
  const std::string stem = folder + "/Kestrova-" + stamp;
  std::error_code ec;
  for (int n = 1; n < 1000; ++n) {
    const std::string base = n == 1 ? stem : stem + "-" + std::to_string(n);
    if (!std::filesystem::exists(base + ".swf", ec) &&
        !std::filesystem::exists(base + ".html", ec)) {
      return base + ".swf";
    }
  }
  throw std::runtime_error("no free name for a recording in " + folder + " (" + stem +
                           "-999.swf exists)");
}

}  // namespace kestrova::platform
