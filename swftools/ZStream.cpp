#include "swftools/ZStream.h"

#include <string>

namespace kestrova {

static std::string ZMessage(const char* what, const z_stream& z, int code) {
  return std::string(what) + ": " + (z.msg ? z.msg : zError(code));
}

TZCompressionStream::TZCompressionStream(TStream& target, int level)
    : FTarget(target), FLevel(level) {
  const int rc = deflateInit(&FZ, level);
  if (rc != Z_OK) throw EZlibError(ZMessage("zlib compression error", FZ, rc));
}

TZCompressionStream::~TZCompressionStream() {
  deflateEnd(&FZ);
}

std::size_t TZCompressionStream::Read(void*, std::size_t) {
  throw EStreamError("Invalid stream operation: a compression stream cannot be read");
}

void TZCompressionStream::SetPosition(std::uint64_t) {
  throw EStreamError("Invalid stream operation: a compression stream cannot seek");
}

void TZCompressionStream::Pump(int flush) {
  for (;;) {
    FZ.next_out = FOut;
    FZ.avail_out = sizeof FOut;
    const int rc = deflate(&FZ, flush);
    if (rc == Z_STREAM_ERROR) throw EZlibError(ZMessage("zlib compression error", FZ, rc));
    FTarget.Write(FOut, sizeof FOut - FZ.avail_out);
    if (flush == Z_FINISH ? rc == Z_STREAM_END : FZ.avail_in == 0 && FZ.avail_out != 0) return;
  }
}

void TZCompressionStream::Write(const void* buffer, std::size_t count) {
  if (FFinished) throw EStreamError("Invalid stream operation: compression already finished");
  const auto* p = static_cast<const Bytef*>(buffer);
  while (count > 0) {
    // zlib counts in 32 bits; feed large buffers in slices.
    const uInt slice = static_cast<uInt>(std::min<std::size_t>(count, 1u << 30));
    FZ.next_in = const_cast<Bytef*>(p);
    FZ.avail_in = slice;
    Pump(Z_NO_FLUSH);
    p += slice;
    count -= slice;
    FConsumed += slice;
    if (OnProgress) OnProgress(FConsumed);
  }
}

void TZCompressionStream::SetLevel(int level) {
  if (FFinished) throw EStreamError("Invalid stream operation: compression already finished");
  if (level == FLevel) return;
  // zlib ends the current block first; it asks again while its output does not fit.
  for (;;) {
    FZ.next_in = nullptr;
    FZ.avail_in = 0;
    FZ.next_out = FOut;
    FZ.avail_out = sizeof FOut;
    const int rc = deflateParams(&FZ, level, Z_DEFAULT_STRATEGY);
    FTarget.Write(FOut, sizeof FOut - FZ.avail_out);
    if (rc == Z_OK) break;
    if (rc != Z_BUF_ERROR) throw EZlibError(ZMessage("zlib compression error", FZ, rc));
  }
  FLevel = level;
}

void TZCompressionStream::Finish() {
  if (FFinished) return;
  FZ.next_in = nullptr;
  FZ.avail_in = 0;
  Pump(Z_FINISH);
  FFinished = true;
}

TZDecompressionStream::TZDecompressionStream(TStream& source) : FSource(source) {
  const int rc = inflateInit(&FZ);
  if (rc != Z_OK) throw EZlibError(ZMessage("zlib decompression error", FZ, rc));
}

TZDecompressionStream::~TZDecompressionStream() {
  inflateEnd(&FZ);
}

void TZDecompressionStream::Write(const void*, std::size_t) {
  throw EStreamError("Invalid stream operation: a decompression stream cannot be written");
}

void TZDecompressionStream::SetPosition(std::uint64_t) {
  throw EStreamError("Invalid stream operation: a decompression stream cannot seek");
}

std::size_t TZDecompressionStream::Read(void* buffer, std::size_t count) {
  std::size_t produced = 0;
  auto* out = static_cast<Bytef*>(buffer);
  while (produced < count && !FEnded) {
    if (FZ.avail_in == 0) {
      const std::size_t got = FSource.Read(FIn, sizeof FIn);
      if (got == 0) break;  // the source ran dry before the zlib data ended
      FZ.next_in = FIn;
      FZ.avail_in = static_cast<uInt>(got);
    }
    const std::size_t want = std::min<std::size_t>(count - produced, 1u << 30);
    FZ.next_out = out + produced;
    FZ.avail_out = static_cast<uInt>(want);
    const int rc = inflate(&FZ, Z_NO_FLUSH);
    produced += want - FZ.avail_out;
    if (rc == Z_STREAM_END) {
      FEnded = true;
    } else if (rc != Z_OK && rc != Z_BUF_ERROR) {
      throw EZlibError(ZMessage("zlib decompression error", FZ, rc));
    }
  }
  FProduced += produced;
  return produced;
}

}  // namespace kestrova
