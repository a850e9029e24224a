// The recorder's files on Windows: the log and the recordings' folders in
// %LOCALAPPDATA%\Kestrova, so segments survive a crash or a reboot; the default output
// Kestrova-<date>_<time>.swf in the user's Videos folder. Names are UTF-8 in the program and
// UTF-16 at every call into Windows, so any user name or folder works.
#pragma once

#include <memory>
#include <string>

#include "platform/Platform.h"

namespace kestrova::platform::win32 {

class TWin32FileLocations : public TFileLocations {
 public:
  std::string StateFolder() override;
  std::string LogFileName() override;
  std::string DefaultOutputName() override;
  // A folder "recording-<date>-<time>-XXXXXX", made by this call and no other.
  std::string MakeRecordingFolder() override;
  std::string CurrentDirectory() override;
  char PathSeparator() const override { return '\\'; }
  // An exclusive LockFileEx on kFolderLockName inside the folder, released when the lock goes or
  // the process ends however it ends.
  std::unique_ptr<TFolderLock> LockFolder(const std::string& folder) override;

  // The user's Videos folder (SHGetKnownFolderPath), else the profile folder. Throws
  // std::runtime_error when neither is known.
  static std::string VideosFolder();
};

// Whether a process (this one included) holds the folder's lock now.
bool FolderLocked(const std::string& folder);

}  // namespace kestrova::platform::win32
