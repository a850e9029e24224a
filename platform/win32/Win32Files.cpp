#include "platform/win32/Win32Files.h"

// clang-format off
#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>
// clang-format on

#include <ctime>
#include <random>
#include <stdexcept>

#include "platform/win32/Win32Text.h"

namespace kestrova::platform::win32 {

namespace {

std::string KnownFolder(REFKNOWNFOLDERID id) {
  wchar_t* path = nullptr;
  std::string folder;
  if (SUCCEEDED(SHGetKnownFolderPath(id, KF_FLAG_CREATE, nullptr, &path)) && path != nullptr) {
    folder = Utf8(path);
  }
  CoTaskMemFree(path);
  return folder;
}

std::string Environment(const wchar_t* name) {
  const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) return {};
  std::wstring value(size, L'\0');
  const DWORD n = GetEnvironmentVariableW(name, value.data(), size);
  value.resize(n < size ? n : 0);
  return Utf8(value);
}

bool IsFolder(const std::string& path) {
  const DWORD a = GetFileAttributesW(Utf16(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool Exists(const std::string& path) {
  return GetFileAttributesW(Utf16(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// mkdir -p.
void MakeFolders(const std::string& path) {
  if (path.empty() || IsFolder(path)) return;
  const std::size_t cut = path.find_last_of("\\/");
  if (cut != std::string::npos && cut > 0 && path[cut - 1] != ':') MakeFolders(path.substr(0, cut));
  if (!CreateDirectoryW(Utf16(path).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    throw std::runtime_error("cannot make the folder " + path + ": " + ErrorText(GetLastError()));
  }
}

std::string LocalStamp(const char* format) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_s(&local, &now);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, format, &local);
  return stamp;
}

HANDLE OpenLockFile(const std::string& folder, DWORD access, DWORD disposition) {
  // Shared for deleting too: whoever empties the folder removes the file while the lock holds.
  return CreateFileW(Utf16(folder + "\\" + kFolderLockName).c_str(), access,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, disposition,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

class TFileLock : public TFolderLock {
 public:
  TFileLock(HANDLE file, std::wstring folder) : FFile(file), FFolder(std::move(folder)) {}
  ~TFileLock() override {
    CloseHandle(FFile);  // closing releases the lock
    // A folder emptied while locked still held the lock file, which Windows removes only now:
    // the folder goes too, as it would have gone on other systems. A folder with anything left
    // in it stays.
    RemoveDirectoryW(FFolder.c_str());
  }
  TFileLock(const TFileLock&) = delete;
  TFileLock& operator=(const TFileLock&) = delete;

 private:
  HANDLE FFile;
  std::wstring FFolder;
};

}  // namespace

std::string TWin32FileLocations::StateFolder() {
  std::string base = KnownFolder(FOLDERID_LocalAppData);
  if (base.empty()) base = Environment(L"LOCALAPPDATA");
  if (base.empty()) {
    throw std::runtime_error("the local application data folder is not known (LOCALAPPDATA)");
  }
  const std::string folder = base + "\\Kestrova";
  MakeFolders(folder);
  return folder;
}

std::string TWin32FileLocations::LogFileName() {
  return StateFolder() + "\\CaptureLog.txt";
}

std::string TWin32FileLocations::VideosFolder() {
  std::string folder = KnownFolder(FOLDERID_Videos);
  if (!folder.empty() && IsFolder(folder)) return folder;
  folder = KnownFolder(FOLDERID_Profile);
  if (folder.empty()) folder = Environment(L"USERPROFILE");
  if (folder.empty())
    throw std::runtime_error("neither the Videos folder nor the profile is known");
  return folder;
}

std::string TWin32FileLocations::DefaultOutputName() {
  const std::string stem = VideosFolder() + "\\Kestrova-" + LocalStamp("%Y-%m-%d_%H-%M-%S");
  // A second recording in the same second keeps the first.
  for (int n = 1; n < 1000; ++n) {
    const std::string base = n == 1 ? stem : stem + "-" + std::to_string(n);
    if (!Exists(base + ".swf") && !Exists(base + ".html")) return base + ".swf";
  }
  throw std::runtime_error("no free name for a recording (" + stem + "-999.swf exists)");
}

std::string TWin32FileLocations::MakeRecordingFolder() {
  const std::string state = StateFolder();
  const std::string stem = state + "\\recording-" + LocalStamp("%Y%m%d-%H%M%S") + "-";
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = stem;
    for (int i = 0; i < 6; ++i) name += "abcdefghijklmnopqrstuvwxyz0123456789"[random() % 36];
    // Made by this call or not at all, so the folder is ours alone.
    if (CreateDirectoryW(Utf16(name).c_str(), nullptr)) return name;
    if (GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  throw std::runtime_error("cannot make a folder for the recording in " + state + ": " +
                           ErrorText(GetLastError()));
}

std::string TWin32FileLocations::CurrentDirectory() {
  const DWORD size = GetCurrentDirectoryW(0, nullptr);
  std::wstring path(size, L'\0');
  const DWORD n = size == 0 ? 0 : GetCurrentDirectoryW(size, path.data());
  if (n == 0 || n >= size) return VideosFolder();
  path.resize(n);
  return Utf8(path);
}

std::unique_ptr<TFolderLock> TWin32FileLocations::LockFolder(const std::string& folder) {
  HANDLE file = OpenLockFile(folder, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  OVERLAPPED at{};
  if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
    CloseHandle(file);
    return nullptr;
  }
  return std::make_unique<TFileLock>(file, Utf16(folder));
}

bool FolderLocked(const std::string& folder) {
  HANDLE file = OpenLockFile(folder, GENERIC_READ, OPEN_EXISTING);
  if (file == INVALID_HANDLE_VALUE) {
    // Being deleted by its holder still counts as held.
    return GetLastError() == ERROR_ACCESS_DENIED || GetLastError() == ERROR_SHARING_VIOLATION;
  }
  OVERLAPPED at{};
  const bool held = !LockFileEx(file, LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at);
  if (!held) UnlockFileEx(file, 0, 1, 0, &at);
  CloseHandle(file);
  return held;
}

}  // namespace kestrova::platform::win32
