// POSIX safe saving; Windows has its own in SafeFileWin.cpp.
#include "swftools/SafeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "swftools/ForwardWriteStream.h"

namespace kestrova {

namespace {

[[noreturn]] void Fail(const std::string& path, const std::string& what, int error) {
  throw EStreamError("Cannot write file \"" + path + "\": " + what +
                     (error ? std::string(": ") + std::strerror(error) : std::string()));
}

// Writes all the bytes to a descriptor it does not own.
TForwardWriteStream::TWriteAll WriteAllTo(int fd, const std::string& shown) {
  return [fd, &shown](const std::uint8_t* bytes, std::size_t count) {
    while (count > 0) {
      const ssize_t n = ::write(fd, bytes, count);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) Fail(shown, "write failed", n < 0 ? errno : EIO);
      bytes += n;
      count -= static_cast<std::size_t>(n);
    }
  };
}

// Closes a descriptor on every path out.
struct TDescriptor {
  int Fd = -1;
  ~TDescriptor() {
    if (Fd >= 0) ::close(Fd);
  }
  // Closes now and reports whether the close succeeded (a late write error can show up here).
  bool Close() {
    const int fd = Fd;
    Fd = -1;
    return ::close(fd) == 0;
  }
};

mode_t NewFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

void WriteInPlace(const std::string& path, const std::string& shown,
                  const std::function<void(TStream&)>& write) {
  TDescriptor fd;
  // No O_CREAT: the pipe or device must be the one found there, not a file made in its place.
  fd.Fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
  if (fd.Fd < 0) Fail(shown, "cannot open it", errno);
  TForwardWriteStream stream(shown, WriteAllTo(fd.Fd, shown));
  write(stream);
  stream.Flush();
  if (!fd.Close()) Fail(shown, "close failed", errno);
}

// Writes the bytes into a new temporary file beside path, flushed to disk and closed; returns its
// name. The file is removed when anything fails.
std::string WriteTemporary(const std::string& path, const std::string& shown,
                           const struct stat* old, const std::function<void(TStream&)>& write) {
  // ".name.XXXXXX" beside the file, built in the vector mkstemp fills in (GCC 12 at -O3 sees a
  // false overlap in std::string::insert here).
  const std::size_t slash = path.find_last_of('/');
  const std::size_t cut = slash == std::string::npos ? 0 : slash + 1;
  std::vector<char> tempName(path.begin(), path.begin() + static_cast<std::ptrdiff_t>(cut));
  tempName.push_back('.');
  tempName.insert(tempName.end(), path.begin() + static_cast<std::ptrdiff_t>(cut), path.end());
  for (const char c : std::string(".XXXXXX")) tempName.push_back(c);
  tempName.push_back('\0');
  TDescriptor fd;
  // mkstemp creates with O_CREAT|O_EXCL, which never follows a link planted under the name.
  fd.Fd = ::mkstemp(tempName.data());
  if (fd.Fd < 0) Fail(shown, "cannot create a file in \"" + FolderOf(path) + "\"", errno);
  const std::string temp = tempName.data();
  try {
    if (::fchmod(fd.Fd, old ? (old->st_mode & 07777) : NewFileMode()) != 0) {
      Fail(shown, "cannot set its permissions", errno);
    }
    // Keeping the owner needs privileges the caller may lack; the permissions are kept anyway.
    if (old && (old->st_uid != ::geteuid() || old->st_gid != ::getegid())) {
      (void)!::fchown(fd.Fd, old->st_uid, old->st_gid);
    }
    TForwardWriteStream stream(shown, WriteAllTo(fd.Fd, shown));
    write(stream);
    stream.Flush();
    if (::fsync(fd.Fd) != 0) Fail(shown, "cannot flush it to disk", errno);
    if (!fd.Close()) Fail(shown, "close failed", errno);
  } catch (...) {
    ::unlink(temp.c_str());
    throw;
  }
  return temp;
}

// Makes the renames durable; a folder that cannot be synced does not undo the save.
void SyncFolder(const std::string& path) {
  TDescriptor folder;
  folder.Fd = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder.Fd >= 0) (void)::fsync(folder.Fd);
}

}  // namespace

TSafeFileSet::~TSafeFileSet() {
  for (const TStaged& staged : FStaged) ::unlink(staged.Temporary.c_str());
}

std::string TSafeFileSet::Stage(const std::string& path,
                                const std::function<void(TStream&)>& write) {
  if (path.empty()) Fail(path, "no file name", 0);
  std::string target = path;
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    // Saving through a link updates the file it points at; the link stays as it is.
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                         &std::free);
    if (!resolved) Fail(path, "it is a link to a missing file", errno);
    target = resolved.get();
  }
  const struct stat* old = nullptr;
  if (::stat(target.c_str(), &st) != 0) {
    if (errno != ENOENT) Fail(path, "cannot examine it", errno);
  } else if (S_ISREG(st.st_mode)) {
    // A file its owner made read-only is not ours to replace, even though the folder would let us.
    if (::access(target.c_str(), W_OK) != 0) Fail(path, "it is read-only", errno);
    old = &st;
  } else if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode)) {
    WriteInPlace(target, path, write);
    return {};
  } else if (S_ISDIR(st.st_mode)) {
    Fail(path, "it is a folder", 0);
  } else {
    Fail(path, "it is neither a regular file, a pipe nor a character device", 0);
  }
  FStaged.reserve(FStaged.size() + 1);
  FStaged.push_back({path, target, WriteTemporary(target, path, old, write), old != nullptr});
  return FStaged.back().Temporary;
}

void TSafeFileSet::Commit() {
  // A second name for each file about to be replaced, so a later failure can put it back.
  std::vector<std::string> backups(FStaged.size());
  for (std::size_t i = 0; i < FStaged.size(); ++i) {
    const std::string backup = FStaged[i].Temporary + ".old";
    if (::link(FStaged[i].Target.c_str(), backup.c_str()) == 0) backups[i] = backup;
  }
  std::size_t done = 0;
  int error = 0;
  for (; done < FStaged.size(); ++done) {
    if (::rename(FStaged[done].Temporary.c_str(), FStaged[done].Target.c_str()) != 0) {
      error = errno;
      break;
    }
  }
  if (done < FStaged.size()) {
    for (std::size_t i = 0; i < done; ++i) {
      // Without a second name the old file is gone already: its replacement then stays.
      if (!backups[i].empty()) {
        (void)::rename(backups[i].c_str(), FStaged[i].Target.c_str());
      } else if (!FStaged[i].Existed) {
        ::unlink(FStaged[i].Target.c_str());
      }
    }
  }
  for (const std::string& backup : backups) {
    if (!backup.empty()) ::unlink(backup.c_str());
  }
  if (done < FStaged.size()) {
    const std::string shown = FStaged[done].Shown;
    Fail(shown, "cannot replace it", error);  // the destructor removes the temporary files left
  }
  for (const TStaged& staged : FStaged) SyncFolder(staged.Target);
  FStaged.clear();
}

void SaveFileSafely(const std::string& path, const std::function<void(TStream&)>& write) {
  TSafeFileSet set;
  set.Stage(path, write);
  set.Commit();
}

}  // namespace kestrova
