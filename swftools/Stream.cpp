#include "swftools/Stream.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>
#else
#include <unistd.h>
#endif

namespace kestrova {

namespace {

// File names are UTF-8; a std::string path would be read in the Windows ANSI code page.
std::filesystem::path FilePath(const std::string& fileName) {
  return std::filesystem::path(std::u8string(fileName.begin(), fileName.end()));
}

// The C library's file functions with 64-bit offsets (long is 32 bits on Windows) and, on
// Windows, UTF-16 names.
std::FILE* OpenFile(const std::string& fileName, bool create) {
#ifdef _WIN32
  return _wfopen(FilePath(fileName).c_str(), create ? L"w+b" : L"rb");
#else
  return std::fopen(fileName.c_str(), create ? "w+b" : "rb");
#endif
}

// O_EXCL makes the call fail on any name that exists, a link included, so nothing planted under
// the name is ever written through; O_NOFOLLOW says the same to systems that read O_EXCL loosely.
std::FILE* CreateNewFile(const std::string& fileName) {
#ifdef _WIN32
  const int fd =
      _wopen(FilePath(fileName).c_str(), _O_RDWR | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
             _S_IREAD | _S_IWRITE);
  if (fd < 0) return nullptr;
  std::FILE* f = _fdopen(fd, "w+b");
  if (!f) _close(fd);
#else
  const int fd =
      ::open(fileName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600);
  if (fd < 0) return nullptr;
  std::FILE* f = ::fdopen(fd, "w+b");
  if (!f) ::close(fd);
#endif
  return f;
}

int SyncFile(std::FILE* f) {
#ifdef _WIN32
  return _commit(_fileno(f));
#else
  return ::fsync(fileno(f));
#endif
}

std::int64_t TellFile(std::FILE* f) {
#ifdef _WIN32
  return _ftelli64(f);
#else
  return ftello(f);
#endif
}

int SeekFile(std::FILE* f, std::int64_t offset, int origin) {
#ifdef _WIN32
  return _fseeki64(f, offset, origin);
#else
  return fseeko(f, static_cast<off_t>(offset), origin);
#endif
}

}  // namespace

std::uint8_t TStream::ReadByte() {
  std::uint8_t b;
  if (Read(&b, 1) != 1) throw EStreamError(kStreamReadError);
  return b;
}

void TStream::ReadBuffer(void* buffer, std::size_t count) {
  if (count == 0) return;
  const std::uint64_t start = Position();
  if (Read(buffer, count) != count) {
    if (Seekable()) SetPosition(start);
    throw EStreamError(kStreamReadError);
  }
}

std::vector<std::uint8_t> TStream::ReadBytes(std::size_t count) {
  std::vector<std::uint8_t> out;
  const std::uint64_t start = Seekable() ? Position() : 0;
  constexpr std::size_t kStep = 1 << 20;
  while (out.size() < count) {
    const std::size_t chunk = std::min(count - out.size(), std::max(kStep, out.size()));
    const std::size_t have = out.size();
    out.resize(have + chunk);
    const std::size_t got = Read(out.data() + have, chunk);
    if (got != chunk) {
      if (Seekable()) SetPosition(start);
      throw EStreamError(kStreamReadError);
    }
  }
  return out;
}

void TStream::CopyFrom(TStream& source, std::uint64_t count) {
  std::uint8_t buffer[64 * 1024];
  while (count > 0) {
    const std::size_t chunk =
        static_cast<std::size_t>(std::min<std::uint64_t>(count, sizeof buffer));
    const std::size_t got = source.Read(buffer, chunk);
    if (got != chunk) throw EStreamError(kStreamReadError);
    Write(buffer, got);
    count -= got;
  }
}

std::uint64_t TStream::CopyRest(TStream& source) {
  std::uint8_t buffer[64 * 1024];
  std::uint64_t total = 0;
  for (;;) {
    const std::size_t got = source.Read(buffer, sizeof buffer);
    if (got == 0) return total;
    Write(buffer, got);
    total += got;
  }
}

void TStream::CopyAll(TStream& source) {
  source.SetPosition(0);
  CopyRest(source);
}

// ---- TMemoryStream ----

std::size_t TMemoryStream::Read(void* buffer, std::size_t count) {
  if (FPosition >= FSize) return 0;
  const std::size_t n = std::min(count, FSize - FPosition);
  std::memcpy(buffer, FData.data() + FPosition, n);
  FPosition += n;
  return n;
}

void TMemoryStream::Reserve(std::size_t needed) {
  if (needed <= FData.size()) return;
  std::size_t capacity = std::max<std::size_t>(FData.size() * 2, 256);
  while (capacity < needed) capacity *= 2;
  FData.resize(capacity);
}

void TMemoryStream::Write(const void* buffer, std::size_t count) {
  if (count == 0) return;
  Reserve(FPosition + count);
  // A position left past the end by SetPosition leaves a gap that reads back as zeros.
  if (FPosition > FSize) std::fill(FData.begin() + FSize, FData.begin() + FPosition, 0);
  std::memcpy(FData.data() + FPosition, buffer, count);
  FPosition += count;
  FSize = std::max(FSize, FPosition);
}

void TMemoryStream::SetPosition(std::uint64_t position) {
  // Seeking past the end allocates nothing: readers seek by lengths claimed in a file.
  FPosition = static_cast<std::size_t>(std::min<std::uint64_t>(position, SIZE_MAX / 2));
}

void TMemoryStream::Clear() {
  FData.clear();
  FSize = 0;
  FPosition = 0;
}

void TMemoryStream::SetSize(std::uint64_t size) {
  const std::size_t n = static_cast<std::size_t>(size);
  if (n > FSize) {
    Reserve(n);
    std::fill(FData.begin() + FSize, FData.begin() + n, 0);
  }
  FSize = n;
  FPosition = std::min(FPosition, FSize);
}

// ---- TStreamWindow ----

std::size_t TStreamWindow::Read(void* buffer, std::size_t count) {
  if (FPosition >= FSize) return 0;
  const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(count, FSize - FPosition));
  FParent.SetPosition(FStart + FPosition);
  const std::size_t got = FParent.Read(buffer, n);
  FPosition += got;
  return got;
}

void TStreamWindow::Write(const void*, std::size_t) {
  throw EStreamError("Invalid stream operation: a stream window cannot be written");
}

std::uint8_t TStreamWindow::ReadByte() {
  if (FPosition >= FSize) throw EStreamError(kStreamReadError);
  FParent.SetPosition(FStart + FPosition);
  const std::uint8_t b = FParent.ReadByte();
  ++FPosition;
  return b;
}

// ---- TFileStream ----

TFileStream::TFileStream(const std::string& fileName, Mode mode) : FFileName(fileName) {
  FFile =
      mode == Mode::CreateNew ? CreateNewFile(fileName) : OpenFile(fileName, mode == Mode::Create);
  if (!FFile) {
    Fail(mode == Mode::Read ? "Cannot open file" : "Cannot create file");
  }
}

TFileStream::~TFileStream() {
  if (FFile) std::fclose(FFile);
}

void TFileStream::Fail(const char* what) const {
  const int error = errno;
  throw EStreamError(std::string(what) + " \"" + FFileName + "\": " + std::strerror(error),
                     FFileName, error);
}

std::size_t TFileStream::Read(void* buffer, std::size_t count) {
  if (!FFile) Fail("File is closed");
  const std::size_t n = std::fread(buffer, 1, count, FFile);
  if (n < count && std::ferror(FFile)) Fail("Cannot read file");
  return n;
}

void TFileStream::Write(const void* buffer, std::size_t count) {
  if (!FFile) Fail("File is closed");
  if (count && std::fwrite(buffer, 1, count, FFile) != count) Fail("Cannot write file");
}

std::uint64_t TFileStream::Position() const {
  const std::int64_t p = FFile ? TellFile(FFile) : -1;
  if (p < 0) Fail("Cannot tell position in file");
  return static_cast<std::uint64_t>(p);
}

void TFileStream::SetPosition(std::uint64_t position) {
  if (!FFile || position > static_cast<std::uint64_t>(INT64_MAX) ||
      SeekFile(FFile, static_cast<std::int64_t>(position), SEEK_SET) != 0) {
    Fail("Cannot seek in file");
  }
}

std::uint64_t TFileStream::Size() const {
  if (!FFile) Fail("File is closed");
  const std::int64_t here = TellFile(FFile);
  SeekFile(FFile, 0, SEEK_END);
  const std::int64_t end = TellFile(FFile);
  SeekFile(FFile, here, SEEK_SET);
  if (here < 0 || end < 0) Fail("Cannot tell size of file");
  return static_cast<std::uint64_t>(end);
}

void TFileStream::Close() {
  if (!FFile) return;
  std::FILE* f = FFile;
  FFile = nullptr;
  const bool flushed = std::fflush(f) == 0;
  const bool closed = std::fclose(f) == 0;
  if (!flushed || !closed) Fail("Cannot write file");
}

void TFileStream::Sync() {
  if (!FFile) Fail("File is closed");
  if (std::fflush(FFile) != 0 || SyncFile(FFile) != 0) Fail("Cannot write file");
}

std::vector<std::uint8_t> ReadFileBytes(const std::string& fileName) {
  TFileStream f(fileName, TFileStream::Mode::Read);
  TMemoryStream m;
  m.CopyRest(f);
  return m.Bytes();
}

void ReplaceFile(const std::string& source, const std::string& target) {
  // std::filesystem::rename replaces an existing target on Windows too, where rename() fails.
  std::error_code ec;
  std::filesystem::rename(FilePath(source), FilePath(target), ec);
  if (ec) throw EStreamError("Cannot create file \"" + target + "\": " + ec.message());
}

std::string CreateTemporaryFile(const std::string& beside, const std::string& suffix) {
  const std::size_t sep = beside.find_last_of("/\\");
  const std::size_t cut = sep == std::string::npos ? 0 : sep + 1;
  // A folder-less name gets "./", so what follows the dot can never read as a URL's scheme.
  const std::string folder = cut == 0 ? std::string("./") : beside.substr(0, cut);
  std::random_device random;
  std::string reason;
  for (int attempt = 0; attempt < 16; ++attempt) {
    char part[16];
    std::snprintf(part, sizeof part, ".%08x", static_cast<unsigned>(random()));
    const std::string name = folder + "." + beside.substr(cut) + part + suffix;
    try {
      TFileStream(name, TFileStream::Mode::CreateNew).Close();
      return name;
    } catch (const EStreamError& e) {
      // A name already taken is tried again under another; anything else will not get better.
      std::error_code ec;
      const auto type = std::filesystem::symlink_status(FilePath(name), ec).type();
      if (ec || type == std::filesystem::file_type::not_found) {
        reason = e.what();
        break;
      }
    }
  }
  throw EStreamError(
      "Cannot create a file beside \"" + beside + "\"" +
      (reason.empty() ? std::string(": every name tried was taken") : " (" + reason + ")"));
}

void RemoveFile(const std::string& fileName) noexcept {
  std::error_code ec;
  std::filesystem::remove(FilePath(fileName), ec);
}

}  // namespace kestrova
