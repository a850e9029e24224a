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

void SaveFileSafely(const std::string& path, const std::function<void(TStream&)>& write) {
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
    if (!MoveFileExW(temp.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      Fail(path, "cannot replace it", GetLastError());
    }
  } catch (...) {
    if (file.Handle != INVALID_HANDLE_VALUE) file.Close();
    DeleteFileW(temp.c_str());
    throw;
  }
}

}  // namespace kestrova
