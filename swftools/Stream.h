// Byte streams: the seekable byte sequence every writer and reader of the library works on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestrova {

// Raised by the stream layer: short reads, file system failures.
class EStreamError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
  // A file that could not be opened, created, read or written: its name and the system's error
  // number, for callers that tell the user in their own words.
  EStreamError(const std::string& message, std::string file, int systemError)
      : std::runtime_error(message), File(std::move(file)), SystemError(systemError) {}
  std::string File;     // empty when no file is concerned
  int SystemError = 0;  // errno; 0 when unknown
};

inline constexpr const char* kStreamReadError = "Stream read error";

class TStream {
 public:
  virtual ~TStream() = default;

  // Reads up to count bytes; returns how many were really delivered (fewer only at the end).
  virtual std::size_t Read(void* buffer, std::size_t count) = 0;
  // Writes all count bytes at the current position or throws.
  virtual void Write(const void* buffer, std::size_t count) = 0;
  virtual std::uint64_t Position() const = 0;
  virtual void SetPosition(std::uint64_t position) = 0;
  virtual std::uint64_t Size() const = 0;
  // False for streams that only go forward (the zlib streams).
  virtual bool Seekable() const { return true; }

  // One-byte paths are virtual so the memory stream can make the bit engine's per-byte traffic
  // cheap; the defaults go through Read/Write.
  virtual void WriteByte(std::uint8_t b) { Write(&b, 1); }
  // Throws EStreamError(kStreamReadError) at the end of the stream.
  virtual std::uint8_t ReadByte();

  // Reads exactly count bytes or throws EStreamError(kStreamReadError). On failure a seekable
  // stream's position is restored, so a failed read consumes nothing.
  void ReadBuffer(void* buffer, std::size_t count);
  // Reads exactly count bytes into a new buffer, or throws EStreamError(kStreamReadError). The
  // buffer grows with the bytes really read, so a count claimed by a damaged file cannot make it
  // allocate more than the stream holds.
  std::vector<std::uint8_t> ReadBytes(std::size_t count);
  // Copies count bytes from the source's current position; throws on a short source.
  void CopyFrom(TStream& source, std::uint64_t count);
  // Copies the source from its current position to its end; returns the number of bytes copied.
  std::uint64_t CopyRest(TStream& source);
  // Copies the whole source from position 0.
  void CopyAll(TStream& source);
};

// Growable in-memory stream. Appending is amortised O(1): the buffer grows geometrically.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::vector<std::uint8_t> data) : FData(std::move(data)) {
    FSize = FData.size();
  }

  std::size_t Read(void* buffer, std::size_t count) override;
  void Write(const void* buffer, std::size_t count) override;
  std::uint64_t Position() const override { return FPosition; }
  void SetPosition(std::uint64_t position) override;
  std::uint64_t Size() const override { return FSize; }
  void WriteByte(std::uint8_t b) override {
    if (FPosition < FSize) {
      FData[FPosition++] = b;
    } else if (FPosition == FSize && FSize < FData.size()) {
      FData[FPosition++] = b;
      FSize = FPosition;
    } else {
      Write(&b, 1);
    }
  }
  std::uint8_t ReadByte() override {
    if (FPosition >= FSize) throw EStreamError(kStreamReadError);
    return FData[FPosition++];
  }

  // Empties the stream and rewinds it.
  void Clear();
  // Truncates or zero-extends to size; the position is kept but clamped to the new size.
  void SetSize(std::uint64_t size);
  const std::uint8_t* Data() const { return FData.data(); }
  std::uint8_t* Data() { return FData.data(); }
  // A copy of the stream's bytes.
  std::vector<std::uint8_t> Bytes() const {
    return std::vector<std::uint8_t>(FData.begin(), FData.begin() + FSize);
  }

 private:
  void Reserve(std::size_t needed);
  std::vector<std::uint8_t> FData;  // capacity; only the first FSize bytes are content
  std::size_t FSize = 0;
  std::size_t FPosition = 0;
};

// A read-only window [start, start + size) of another stream, with positions counted from the
// window's start. Reading stops at the window's end, so a reader given a window cannot take the
// bytes that follow it. The parent must outlive the window.
class TStreamWindow : public TStream {
 public:
  TStreamWindow(TStream& parent, std::uint64_t start, std::uint64_t size)
      : FParent(parent), FStart(start), FSize(size) {}

  std::size_t Read(void* buffer, std::size_t count) override;
  void Write(const void* buffer, std::size_t count) override;  // throws: read-only
  std::uint64_t Position() const override { return FPosition; }
  void SetPosition(std::uint64_t position) override { FPosition = position; }
  std::uint64_t Size() const override { return FSize; }
  std::uint8_t ReadByte() override;

 private:
  TStream& FParent;
  std::uint64_t FStart, FSize;
  std::uint64_t FPosition = 0;
};

// Buffered stream over a file of the file system.
class TFileStream : public TStream {
 public:
  // Create truncates or makes the file. CreateNew makes a file that must not exist yet: it is
  // created exclusively, readable and writable by its owner only, and a link found under the name
  // (planted there by someone else) makes it fail instead of being followed; used for the
  // temporary files beside an output.
  enum class Mode { Read, Create, CreateNew };
  // Throws EStreamError naming the file and the operating system's reason.
  TFileStream(const std::string& fileName, Mode mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  std::size_t Read(void* buffer, std::size_t count) override;
  void Write(const void* buffer, std::size_t count) override;
  std::uint64_t Position() const override;
  void SetPosition(std::uint64_t position) override;
  std::uint64_t Size() const override;
  // Flushes and closes; throws when buffered data cannot be written.
  void Close();
  // Flushes the buffered bytes and has the system put them on disk; throws EStreamError.
  void Sync();
  const std::string& FileName() const { return FFileName; }

 private:
  [[noreturn]] void Fail(const char* what) const;
  std::string FFileName;
  std::FILE* FFile = nullptr;
};

// Reads a whole file into memory; throws EStreamError as TFileStream does.
std::vector<std::uint8_t> ReadFileBytes(const std::string& fileName);

// File names are UTF-8 on every system (on Windows they are converted to UTF-16 when used).
// Puts the file source in the place of target, replacing any file there; throws EStreamError
// naming target when that cannot be done.
void ReplaceFile(const std::string& source, const std::string& target);
// Creates an empty file exclusively (Mode::CreateNew) in the folder of beside, named after it
// with a dot in front and an unpredictable part ("/d/.out.gif.3f9a01c2" + suffix), and returns
// its name; the caller removes it. Throws EStreamError naming beside when none can be created.
std::string CreateTemporaryFile(const std::string& beside, const std::string& suffix = {});
// Removes a file if it exists; failures are ignored (used to clean up after another failure).
void RemoveFile(const std::string& fileName) noexcept;

}  // namespace kestrova
