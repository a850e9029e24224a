// zlib streams: deflate into a target stream, inflate out of a source stream.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <functional>

#include "swftools/Stream.h"

namespace kestrova {

class EZlibError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

// Compresses what is written to it into Target. Finish() must be called to complete the zlib
// data; the destructor only releases zlib's state.
class TZCompressionStream : public TStream {
 public:
  explicit TZCompressionStream(TStream& target, int level = Z_DEFAULT_COMPRESSION);
  ~TZCompressionStream() override;
  TZCompressionStream(const TZCompressionStream&) = delete;
  TZCompressionStream& operator=(const TZCompressionStream&) = delete;

  // Called after each chunk with the number of uncompressed bytes consumed so far.
  std::function<void(std::uint64_t consumed)> OnProgress;

  std::size_t Read(void*, std::size_t) override;  // throws: write-only
  void Write(const void* buffer, std::size_t count) override;
  std::uint64_t Position() const override { return FConsumed; }
  void SetPosition(std::uint64_t) override;  // throws: not seekable
  std::uint64_t Size() const override { return FConsumed; }
  bool Seekable() const override { return false; }
  void Finish();
  // Compresses what comes next at another level (0: stored blocks); what was written before
  // keeps its own. Throws EZlibError for a level outside -1..9.
  void SetLevel(int level);

 private:
  void Pump(int flush);
  TStream& FTarget;
  z_stream FZ{};
  int FLevel;
  bool FFinished = false;
  std::uint64_t FConsumed = 0;
  std::uint8_t FOut[64 * 1024];
};

// Inflates the zlib data that starts at Source's current position. Read delivers exactly the
// bytes really present: at the end of the zlib data, or when the source runs dry, it returns
// fewer than asked. Corrupt data throws EZlibError.
class TZDecompressionStream : public TStream {
 public:
  explicit TZDecompressionStream(TStream& source);
  ~TZDecompressionStream() override;
  TZDecompressionStream(const TZDecompressionStream&) = delete;
  TZDecompressionStream& operator=(const TZDecompressionStream&) = delete;

  std::size_t Read(void* buffer, std::size_t count) override;
  void Write(const void*, std::size_t) override;  // throws: read-only
  std::uint64_t Position() const override { return FProduced; }
  void SetPosition(std::uint64_t) override;  // throws: not seekable
  std::uint64_t Size() const override { return FProduced; }
  bool Seekable() const override { return false; }
  bool AtEnd() const { return FEnded; }

 private:
  TStream& FSource;
  z_stream FZ{};
  bool FEnded = false;
  std::uint64_t FProduced = 0;
  std::uint8_t FIn[64 * 1024];
};

}  // namespace kestrova
