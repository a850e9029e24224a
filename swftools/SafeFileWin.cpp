// SaveFileSafely on Windows (SafeFile.cpp is the POSIX one): the same promise with the Win32
// calls that keep it. The new bytes go to a file created exclusively beside the target, are
// flushed to disk and moved over the target in one step; on any failure the temporary file is
// removed and an earlier file stays as it was. Windows has no FIFOs or character devices among
// file names a user saves to, so only regular files are written.
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <system_error>
#include <vector>

#include "swftools/ForwardWriteStream.h"
#include "swftools/SafeFile.h"

namespace kestrova {

namespace {

[[noreturn]] void Fail(const std::string& path, const std::string& what, DWORD error) {
  throw EStreamError(
      "Cannot write file \"" + path + "\": " + what +
      (error ? ": " + std::system_category().message(static_cast<int>(error)) : std::string()));
}

std::filesystem::path FilePath(const std::string& fileName) {
  return std::filesystem::path(std::u8string(fileName.begin(), fileName.end()));
}

// Writes all the bytes to a handle it does not own.
TForwardWriteStream::TWriteAll WriteAllTo(HANDLE handle, const std::string& path) {
  return [handle, &path](const std::uint8_t* bytes, std::size_t left) {
    while (left > 0) {
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(left, 1u << 30));
      DWORD done = 0;
      if (!WriteFile(handle, bytes, chunk, &done, nullptr) || done == 0) {
        Fail(path, "write failed", GetLastError());
      }
      bytes += done;
      left -= done;
    }
  };
}

struct THandle {
  HANDLE Handle = INVALID_HANDLE_VALUE;
  ~THandle() {
    if (Handle != INVALID_HANDLE_VALUE) CloseHandle(Handle);
  }
  bool Close() {
    const HANDLE h = Handle;
    Handle = INVALID_HANDLE_VALUE;
    return CloseHandle(h) != 0;
  }
};

// A name beside the target that nobody can predict; created with CREATE_NEW, so never an
// existing file or a link planted under it.
std::wstring TemporaryName(const std::filesystem::path& target) {
  std::random_device random;
  wchar_t suffix[16];
  swprintf(suffix, 16, L".%08x", static_cast<unsigned>(random()));
  std::filesystem::path temp = target;
  temp.replace_filename(L"." + target.filename().wstring() + suffix);
  return temp.wstring();
}

}  // namespace

TSafeFileSet::~TSafeFileSet() {
  for (const TStaged& staged : FStaged) DeleteFileW(FilePath(staged.Temporary).c_str());
}

std::string TSafeFileSet::Stage(const std::string& path,
                                const std::function<void(TStream&)>& write) {
  if (path.empty()) Fail(path, "no file name", 0);
  const std::filesystem::path target = FilePath(path);
  const DWORD attributes = GetFileAttributesW(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) Fail(path, "it is a folder", 0);
    if (attributes & FILE_ATTRIBUTE_READONLY) Fail(path, "it is read-only", ERROR_ACCESS_DENIED);
  }
  THandle file;
  std::wstring temp;
  for (int attempt = 0; attempt < 16 && file.Handle == INVALID_HANDLE_VALUE; ++attempt) {
    temp = TemporaryName(target);
    file.Handle = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file.Handle == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (file.Handle == INVALID_HANDLE_VALUE) {
    Fail(path, "cannot create a file beside it", GetLastError());
  }
  try {
    TForwardWriteStream stream(path, WriteAllTo(file.Handle, path));
    write(stream);
    stream.Flush();
    if (!FlushFileBuffers(file.Handle)) Fail(path, "cannot flush it to disk", GetLastError());
    if (!file.Close()) Fail(path, "close failed", GetLastError());
  } catch (...) {
    if (file.Handle != INVALID_HANDLE_VALUE) file.Close();
    DeleteFileW(temp.c_str());
    throw;
  }
  const std::u8string temp8 = std::filesystem::path(temp).u8string();
  FStaged.push_back(
      {path, path, std::string(temp8.begin(), temp8.end()), attributes != INVALID_FILE_ATTRIBUTES});
  return FStaged.back().Temporary;
}

void TSafeFileSet::Commit() {
  // A second name for each file about to be replaced, so a later failure can put it back.
  std::vector<std::wstring> backups(FStaged.size());
  for (std::size_t i = 0; i < FStaged.size(); ++i) {
    const std::wstring backup = FilePath(FStaged[i].Temporary).wstring() + L".old";
    if (CreateHardLinkW(backup.c_str(), FilePath(FStaged[i].Target).c_str(), nullptr)) {
      backups[i] = backup;
    }
  }
  std::size_t done = 0;
  DWORD error = 0;
  for (; done < FStaged.size(); ++done) {
    if (!MoveFileExW(FilePath(FStaged[done].Temporary).c_str(),
                     FilePath(FStaged[done].Target).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      error = GetLastError();
      break;
    }
  }
  if (done < FStaged.size()) {
    for (std::size_t i = 0; i < done; ++i) {
      // Without a second name the old file is gone already: its replacement then stays.
      if (!backups[i].empty()) {
        MoveFileExW(backups[i].c_str(), FilePath(FStaged[i].Target).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
      } else if (!FStaged[i].Existed) {
        DeleteFileW(FilePath(FStaged[i].Target).c_str());
      }
    }
  }
  for (const std::wstring& backup : backups) {
    if (!backup.empty()) DeleteFileW(backup.c_str());
  }
  if (done < FStaged.size()) {
    const std::string shown = FStaged[done].Shown;
    Fail(shown, "cannot replace it", error);  // the destructor removes the temporary files left
  }
  FStaged.clear();
}

void SaveFileSafely(const std::string& path, const std::function<void(TStream&)>& write) {
  TSafeFileSet set;
  set.Stage(path, write);
  set.Commit();
}

}  // namespace kestrova
