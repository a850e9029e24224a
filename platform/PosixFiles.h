// The recorder's files on a Linux desktop (the simulated one included): the log and the
// recordings' folders under $XDG_STATE_HOME/kestrova (~/.local/state/kestrova when unset), so
// segments survive a crash or a reboot and nothing has a fixed name in a shared /tmp; the
// default output Kestrova-<date>_<time>.swf in the videos folder (platform/UserDirs.h). On
// Windows the same under %LOCALAPPDATA%\kestrova and the user's profile folder.
#pragma once

#include <functional>
#include <string>

#include "platform/Platform.h"

namespace kestrova::platform {

class TPosixFileLocations : public TFileLocations {
 public:
  // getenv is replaceable so tests can point the folders elsewhere.
  using TGetEnv = std::function<const char*(const char*)>;
  TPosixFileLocations();
  explicit TPosixFileLocations(TGetEnv getEnv);

  std::string StateFolder() override;
  std::string LogFileName() override;
  std::string DefaultOutputName() override;
  // A folder "recording-<date>-<time>-XXXXXX" of mode 0700.
  std::string MakeRecordingFolder() override;
  std::string CurrentDirectory() override;
  // An flock on kLockFileName inside the folder (made when missing).
  std::unique_ptr<TFolderLock> LockFolder(const std::string& folder) override;
#ifdef _WIN32
  char PathSeparator() const override {
    return '\\';
  }
#else
  char PathSeparator() const override {
    return '/';
  }
#endif
  // HOME, else the user's entry; throws std::runtime_error when neither is known.
  std::string Home() const;

 private:
  TGetEnv FGetEnv;
};

// Recording folders are named with this prefix inside the state folder.
inline constexpr const char* kRecordingFolderPrefix = "recording-";
// Whether a process (this one included) holds the folder's lock now.
bool FolderInUse(const std::string& folder);

}  // namespace kestrova::platform
