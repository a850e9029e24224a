#include "platform/PosixFiles.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace kestrova::platform {

namespace {

// mkdir -p, each new folder private to the user.
void MakeFolders(const std::string& path) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) return;
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  if (!parent.empty() && parent != path) MakeFolders(parent.string());
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    throw std::runtime_error("cannot make the folder " + path + ": " + std::strerror(errno));
  }
}

}  // namespace

TPosixFileLocations::TPosixFileLocations()
    : FGetEnv([](const char* name) { return std::getenv(name); }) {}

TPosixFileLocations::TPosixFileLocations(TGetEnv getEnv) : FGetEnv(std::move(getEnv)) {}

std::string TPosixFileLocations::Home() const {
  const char* home = FGetEnv("HOME");
  if (home != nullptr && home[0] == '/') return home;
  const passwd* pw = ::getpwuid(::getuid());
  if (pw != nullptr && pw->pw_dir != nullptr && pw->pw_dir[0] == '/') return pw->pw_dir;
  throw std::runtime_error("the home folder is not known (HOME is not set)");
}

std::string TPosixFileLocations::StateFolder() {
  // A relative XDG path is to be ignored, as the base directory rules say.
  const char* state = FGetEnv("XDG_STATE_HOME");
  const std::string base =
      (state != nullptr && state[0] == '/') ? std::string(state) : Home() + "/.local/state";
  const std::string folder = base + "/kestrova";
  MakeFolders(folder);
  return folder;
}

std::string TPosixFileLocations::LogFileName() {
  return StateFolder() + "/CaptureLog.txt";
}

std::string TPosixFileLocations::DefaultOutputName() {
  return Home() + "/Kestrova.swf";
}

std::string TPosixFileLocations::MakeRecordingFolder() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  std::string pattern = StateFolder() + "/" + kRecordingFolderPrefix + stamp + "-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  // mkdtemp makes the folder with mode 0700 and a name nobody else can have taken.
  if (::mkdtemp(buffer.data()) == nullptr) {
    throw std::runtime_error("cannot make a folder for the recording in " + StateFolder() + ": " +
                             std::strerror(errno));
  }
  return buffer.data();
}

std::string TPosixFileLocations::CurrentDirectory() {
  std::error_code ec;
  const std::filesystem::path p = std::filesystem::current_path(ec);
  return ec ? Home() : p.string();
}

}  // namespace kestrova::platform
