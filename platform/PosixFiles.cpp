#include "platform/PosixFiles.h"

#include "platform/UserDirs.h"

#ifdef _WIN32
#include <direct.h>

#include "platform/win32/Win32Files.h"
#else
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <random>
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
#ifdef _WIN32
  if (::_mkdir(path.c_str()) != 0 && errno != EEXIST) {
#else
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
#endif
    throw std::runtime_error("cannot make the folder " + path + ": " + std::strerror(errno));
  }
}

#ifndef _WIN32
// The state folder holds recordings and the log: a folder someone else may write to could have
// links planted in it, or recordings taken away. The user's own is made private; anyone else's
// is refused.
void CheckPrivate(const std::string& folder) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) {
    throw std::runtime_error("cannot use the folder " + folder + ": " + std::strerror(errno));
  }
  if (!S_ISDIR(st.st_mode)) throw std::runtime_error(folder + " is not a folder");
  const bool othersWrite = (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
  if (st.st_uid != ::geteuid()) {
    throw std::runtime_error("the folder " + folder +
                             " belongs to another user; recordings are not kept there (set "
                             "XDG_STATE_HOME to a folder of your own)");
  }
  if (othersWrite && ::chmod(folder.c_str(), 0700) != 0) {
    throw std::runtime_error(
        "the folder " + folder +
        " can be written by other users and could not be made private: " + std::strerror(errno));
  }
}

class TFlockLock : public TFolderLock {
 public:
  explicit TFlockLock(int fd) : FFd(fd) {}
  ~TFlockLock() override { ::close(FFd); }  // closing releases the lock
  TFlockLock(const TFlockLock&) = delete;
  TFlockLock& operator=(const TFlockLock&) = delete;

 private:
  int FFd;
};

int OpenLockFile(const std::string& folder, int flags) {
  const std::string name = folder + "/" + kFolderLockName;
  // Close-on-exec: a program the recorder starts must not keep the folder locked after it.
  return ::open(name.c_str(), flags | O_CLOEXEC | O_NOFOLLOW, 0600);
}
#endif

}  // namespace

bool FolderInUse(const std::string& folder) {
#ifdef _WIN32
  return win32::FolderLocked(folder);
#else
  const int fd = OpenLockFile(folder, O_RDONLY);
  if (fd < 0) return false;
  const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return held;
#endif
}

std::unique_ptr<TFolderLock> TPosixFileLocations::LockFolder(const std::string& folder) {
#ifdef _WIN32
  return win32::TWin32FileLocations().LockFolder(folder);
#else
  const int fd = OpenLockFile(folder, O_RDWR | O_CREAT);
  if (fd < 0) return nullptr;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<TFlockLock>(fd);
#endif
}

TPosixFileLocations::TPosixFileLocations()
    : FGetEnv([](const char* name) { return std::getenv(name); }) {}

TPosixFileLocations::TPosixFileLocations(TGetEnv getEnv) : FGetEnv(std::move(getEnv)) {}

std::string TPosixFileLocations::Home() const {
#ifdef _WIN32
  for (const char* name : {"HOME", "USERPROFILE"}) {
    const char* home = FGetEnv(name);
    if (home != nullptr && *home != '\0') return home;
  }
#else
  const char* home = FGetEnv("HOME");
  if (home != nullptr && home[0] == '/') return home;
  const passwd* pw = ::getpwuid(::getuid());
  if (pw != nullptr && pw->pw_dir != nullptr && pw->pw_dir[0] == '/') return pw->pw_dir;
#endif
  throw std::runtime_error("the home folder is not known (HOME is not set)");
}

std::string TPosixFileLocations::StateFolder() {
  // A relative XDG path is to be ignored, as the base directory rules say.
  const char* state = FGetEnv("XDG_STATE_HOME");
#ifdef _WIN32
  if (state == nullptr || *state == '\0') state = FGetEnv("LOCALAPPDATA");
  if (state != nullptr && *state != '\0') {
    const std::string folder = std::string(state) + "\\kestrova";
    MakeFolders(folder);
    return folder;
  }
#endif
  const std::string base =
      (state != nullptr && state[0] == '/') ? std::string(state) : Home() + "/.local/state";
  const std::string folder = base + "/kestrova";
  MakeFolders(folder);
#ifndef _WIN32
  CheckPrivate(folder);
#endif
  return folder;
}

std::string TPosixFileLocations::LogFileName() {
  return StateFolder() + PathSeparator() + "CaptureLog.txt";
}

std::string TPosixFileLocations::DefaultOutputName() {
  return TimestampedRecordingName(VideosFolder(Home(), FGetEnv), std::time(nullptr));
}

std::string TPosixFileLocations::MakeRecordingFolder() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
#ifdef _WIN32
  ::localtime_s(&local, &now);
#else
  ::localtime_r(&now, &local);
#endif
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  std::string pattern =
      StateFolder() + PathSeparator() + kRecordingFolderPrefix + stamp + "-XXXXXX";
#ifdef _WIN32
  // The folder is made by this call or not at all, so its name is ours alone.
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = pattern.substr(0, pattern.size() - 6);
    for (int i = 0; i < 6; ++i) name += "abcdefghijklmnopqrstuvwxyz0123456789"[random() % 36];
    if (::_mkdir(name.c_str()) == 0) return name;
    if (errno != EEXIST) break;
  }
  throw std::runtime_error("cannot make a folder for the recording in " + StateFolder() + ": " +
                           std::strerror(errno));
#else
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  // mkdtemp makes the folder with mode 0700 and a name nobody else can have taken.
  if (::mkdtemp(buffer.data()) == nullptr) {
    throw std::runtime_error("cannot make a folder for the recording in " + StateFolder() + ": " +
                             std::strerror(errno));
  }
  return buffer.data();
#endif
}

std::string TPosixFileLocations::CurrentDirectory() {
  std::error_code ec;
  const std::filesystem::path p = std::filesystem::current_path(ec);
  return ec ? Home() : p.string();
}

}  // namespace kestrova::platform
