#include "swftools/Deflate.h"

#ifdef KESTROVA_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif
#include <zlib.h>

#include <algorithm>
#include <array>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>

#include "swftools/ZStream.h"

namespace kestrova {

namespace {

#ifdef KESTROVA_HAVE_LIBDEFLATE
struct TCompressorFree {
  void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};
using TCompressorPtr = std::unique_ptr<libdeflate_compressor, TCompressorFree>;

// A compressor holds large tables; one per level is kept for the thread's lifetime instead of
// being made for every bitmap.
libdeflate_compressor& CompressorFor(int level) {
  thread_local std::array<TCompressorPtr, 10> compressors;
  TCompressorPtr& c = compressors[static_cast<std::size_t>(level)];
  if (!c) c.reset(libdeflate_alloc_compressor(level));
  if (!c) throw EZlibError("libdeflate: cannot allocate a compressor");
  return *c;
}

// zlib's default level is 6; libdeflate's 6 comes out up to about 1% larger on text and UI
// pictures, its 7 no larger on any screen content measured (bench/README.md) and still faster.
constexpr int kLibdeflateDefaultLevel = 7;

void CompressWithLibdeflate(const void* data, std::size_t size, std::vector<std::uint8_t>& out,
                            int level) {
  libdeflate_compressor& c = CompressorFor(level < 0 ? kLibdeflateDefaultLevel : level);
  const std::size_t start = out.size();
  const std::size_t bound = libdeflate_zlib_compress_bound(&c, size);
  out.resize(start + bound);
  const std::size_t written = libdeflate_zlib_compress(&c, data, size, out.data() + start, bound);
  if (written == 0) {
    out.resize(start);
    throw EZlibError("libdeflate: compression failed");
  }
  out.resize(start + written);
}
#endif

std::string ZlibMessage(const char* what, const z_stream& z, int code) {
  return std::string(what) + ": " + (z.msg ? z.msg : zError(code));
}

void CompressWithZlib(const void* data, std::size_t size, std::vector<std::uint8_t>& out,
                      int level) {
  z_stream z{};
  int rc = deflateInit(&z, level);
  if (rc != Z_OK) throw EZlibError(ZlibMessage("zlib compression error", z, rc));
  const std::size_t start = out.size();
  // zlib counts in 32 bits, so a buffer is fed and drained in slices.
  constexpr std::size_t kSlice = std::size_t{1} << 30;
  const auto* in = static_cast<const Bytef*>(data);
  std::size_t left = size;
  out.resize(start + deflateBound(&z, static_cast<uLong>(std::min(size, kSlice))) + 64);
  std::size_t produced = 0;
  do {
    const uInt take = static_cast<uInt>(std::min(left, kSlice));
    z.next_in = const_cast<Bytef*>(in);
    z.avail_in = take;
    in += take;
    left -= take;
    const int flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
    do {
      if (out.size() - start - produced < 64 * 1024)
        out.resize(out.size() + out.size() / 2 + 65536);
      const std::size_t room = std::min(out.size() - start - produced, kSlice);
      z.next_out = out.data() + start + produced;
      z.avail_out = static_cast<uInt>(room);
      rc = deflate(&z, flush);
      produced += room - z.avail_out;
      if (rc == Z_STREAM_ERROR) {
        deflateEnd(&z);
        out.resize(start);
        throw EZlibError(ZlibMessage("zlib compression error", z, rc));
      }
    } while (flush == Z_FINISH ? rc != Z_STREAM_END : z.avail_in != 0);
  } while (left > 0);
  deflateEnd(&z);
  out.resize(start + produced);
}

}  // namespace

TDeflateWriter DefaultDeflateWriter() {
#ifdef KESTROVA_HAVE_LIBDEFLATE
  return TDeflateWriter::Libdeflate;
#else
  return TDeflateWriter::Zlib;
#endif
}

const char* DeflateWriterName(TDeflateWriter writer) {
  return writer == TDeflateWriter::Zlib ? "zlib" : "libdeflate";
}

void ZlibCompress(const void* data, std::size_t size, std::vector<std::uint8_t>& out, int level,
                  TDeflateWriter writer) {
  if (level < -1 || level > 9) {
    throw std::invalid_argument("deflate level out of range: " + std::to_string(level));
  }
#ifdef KESTROVA_HAVE_LIBDEFLATE
  if (writer == TDeflateWriter::Libdeflate) {
    CompressWithLibdeflate(data, size, out, level);
    return;
  }
#endif
  // Without libdeflate (KESTROVA_LIBDEFLATE off) zlib writes for both: the same format.
  (void)writer;
  CompressWithZlib(data, size, out, level);
}

std::vector<std::uint8_t> ZlibDecompress(const void* data, std::size_t size, std::size_t maxSize) {
  z_stream z{};
  int rc = inflateInit(&z);
  if (rc != Z_OK) throw EZlibError(ZlibMessage("zlib decompression error", z, rc));
  std::vector<std::uint8_t> out;
  const auto* in = static_cast<const Bytef*>(data);
  std::size_t left = size;
  std::uint8_t chunk[64 * 1024];
  for (;;) {
    if (z.avail_in == 0 && left > 0) {
      const uInt take = static_cast<uInt>(std::min<std::size_t>(left, 1u << 30));
      z.next_in = const_cast<Bytef*>(in);
      z.avail_in = take;
      in += take;
      left -= take;
    }
    z.next_out = chunk;
    z.avail_out = sizeof chunk;
    rc = inflate(&z, Z_NO_FLUSH);
    const std::size_t got = sizeof chunk - z.avail_out;
    if (rc != Z_OK && rc != Z_STREAM_END && !(rc == Z_BUF_ERROR && got > 0)) {
      const std::string message = rc == Z_BUF_ERROR
                                      ? "zlib decompression error: data cut short"
                                      : ZlibMessage("zlib decompression error", z, rc);
      inflateEnd(&z);
      throw EZlibError(message);
    }
    if (got > maxSize - out.size()) {
      inflateEnd(&z);
      throw EZlibError("zlib decompression error: more than " + std::to_string(maxSize) + " bytes");
    }
    out.insert(out.end(), chunk, chunk + got);
    if (rc == Z_STREAM_END) break;
  }
  const bool trailing = z.avail_in > 0 || left > 0;
  inflateEnd(&z);
  if (trailing) throw EZlibError("zlib decompression error: data after the end of the stream");
  return out;
}

}  // namespace kestrova
