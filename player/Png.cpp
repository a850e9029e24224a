#include "player/Png.h"

#include <zlib.h>

#include <stdexcept>
#include <vector>

#include "swftools/SafeFile.h"
#include "swftools/ZStream.h"

namespace kestrova {

namespace {

constexpr std::size_t kChunkData = 1 << 16;  // IDAT size: what one deflate output buffer holds

void PutBigEndian(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.insert(out.end(),
             {std::uint8_t(v >> 24), std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v)});
}

// One chunk: length, type, data, and the CRC-32 of type and data.
void WriteChunk(TStream& out, const char* type, const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> head;
  PutBigEndian(head, static_cast<std::uint32_t>(size));
  head.insert(head.end(), type, type + 4);
  uLong crc = crc32(0, head.data() + 4, 4);
  if (size > 0) crc = crc32(crc, data, static_cast<uInt>(size));
  out.Write(head.data(), head.size());
  if (size > 0) out.Write(data, size);
  std::vector<std::uint8_t> tail;
  PutBigEndian(tail, static_cast<std::uint32_t>(crc));
  out.Write(tail.data(), tail.size());
}

// Deflates the filtered rows into IDAT chunks as the output fills.
class TIdatWriter {
 public:
  explicit TIdatWriter(TStream& out) : FOut(out), FBuffer(kChunkData) {
    // The fastest level: a frame of a long movie is written in a few milliseconds, and screen
    // pictures still shrink many times.
    if (deflateInit(&FZ, 1) != Z_OK) throw EZlibError("PNG: cannot start the compressor");
    Reset();
  }
  ~TIdatWriter() { deflateEnd(&FZ); }
  TIdatWriter(const TIdatWriter&) = delete;
  TIdatWriter& operator=(const TIdatWriter&) = delete;

  void Add(const std::uint8_t* data, std::size_t size) {
    FZ.next_in = const_cast<Bytef*>(data);
    FZ.avail_in = static_cast<uInt>(size);
    while (FZ.avail_in > 0) Step(Z_NO_FLUSH);
  }
  void Finish() {
    while (Step(Z_FINISH) != Z_STREAM_END) {
    }
    if (FZ.avail_out < FBuffer.size()) Emit();
  }

 private:
  int Step(int flush) {
    const int rc = deflate(&FZ, flush);
    if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) {
      throw EZlibError("PNG: compression failed");
    }
    if (FZ.avail_out == 0) Emit();
    return rc;
  }
  void Emit() {
    WriteChunk(FOut, "IDAT", FBuffer.data(), FBuffer.size() - FZ.avail_out);
    Reset();
  }
  void Reset() {
    FZ.next_out = FBuffer.data();
    FZ.avail_out = static_cast<uInt>(FBuffer.size());
  }

  TStream& FOut;
  std::vector<std::uint8_t> FBuffer;
  z_stream FZ{};
};

// A row as filter type 2 ("up": each byte less the one above), which turns the rows a screen
// picture repeats into zeros; the first row has nothing above and is written as it is.
void FilterRow(const std::uint8_t* rgba, const std::uint8_t* above, int width,
               std::vector<std::uint8_t>& row) {
  row[0] = above ? 2 : 0;
  std::uint8_t* o = row.data() + 1;
  for (int x = 0; x < width; ++x, rgba += 4) {
    for (int c = 0; c < 3; ++c) *o++ = static_cast<std::uint8_t>(rgba[c] - (above ? above[c] : 0));
    if (above) above += 4;
  }
}

}  // namespace

void WritePng(TStream& out, const std::uint8_t* rgba, int width, int height) {
  if (width <= 0 || height <= 0) throw std::invalid_argument("PNG: the picture is empty");
  static const std::uint8_t kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  out.Write(kSignature, sizeof kSignature);
  std::vector<std::uint8_t> header;
  PutBigEndian(header, static_cast<std::uint32_t>(width));
  PutBigEndian(header, static_cast<std::uint32_t>(height));
  // 8 bits a sample, colour type 2 (RGB), deflate, adaptive filtering, no interlace.
  header.insert(header.end(), {8, 2, 0, 0, 0});
  WriteChunk(out, "IHDR", header.data(), header.size());
  const std::size_t stride = static_cast<std::size_t>(width) * 4;
  std::vector<std::uint8_t> row(1 + static_cast<std::size_t>(width) * 3);
  TIdatWriter idat(out);
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* line = rgba + stride * static_cast<std::size_t>(y);
    FilterRow(line, y > 0 ? line - stride : nullptr, width, row);
    idat.Add(row.data(), row.size());
  }
  idat.Finish();
  WriteChunk(out, "IEND", nullptr, 0);
}

void SavePng(const std::string& fileName, const std::uint8_t* rgba, int width, int height) {
  SaveFileSafely(fileName, [&](TStream& out) { WritePng(out, rgba, width, height); });
}

}  // namespace kestrova
