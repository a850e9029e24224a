#include "player/LosslessBitmap.h"

#include <zlib.h>

#include <algorithm>
#include <string>

#include "player/Player.h"

namespace kestrova {

namespace {

std::uint32_t Pack(unsigned r, unsigned g, unsigned b, unsigned a) {
  return r | (g << 8) | (b << 16) | (std::uint32_t(a) << 24);
}

// Premultiplied colour whose channels a damaged file may have made larger than its alpha: they
// are held to the alpha so blending cannot overflow.
std::uint32_t PackPremultiplied(unsigned r, unsigned g, unsigned b, unsigned a) {
  return Pack(std::min(r, a), std::min(g, a), std::min(b, a), a);
}

}  // namespace

std::vector<std::uint8_t> Inflate(const std::uint8_t* data, std::size_t size, std::uint64_t want) {
  std::vector<std::uint8_t> out(static_cast<std::size_t>(want));
  z_stream z{};
  if (inflateInit(&z) != Z_OK) throw EPlayerError("zlib cannot start");
  z.next_in = const_cast<Bytef*>(data);
  std::size_t produced = 0;
  int rc = Z_OK;
  // zlib's counters are 32-bit: feed and drain in pieces.
  std::size_t fed = 0;
  while (produced < out.size() && rc == Z_OK) {
    if (z.avail_in == 0 && fed < size) {
      const std::size_t piece = std::min<std::size_t>(size - fed, 1u << 30);
      z.next_in = const_cast<Bytef*>(data + fed);
      z.avail_in = static_cast<uInt>(piece);
      fed += piece;
    }
    const std::size_t room = std::min<std::size_t>(out.size() - produced, 1u << 30);
    z.next_out = out.data() + produced;
    z.avail_out = static_cast<uInt>(room);
    rc = inflate(&z, Z_NO_FLUSH);
    produced += room - z.avail_out;
    if (rc == Z_BUF_ERROR && z.avail_in == 0 && fed < size) rc = Z_OK;
  }
  const std::string message = z.msg ? z.msg : "error";
  inflateEnd(&z);
  if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) {
    throw EPlayerError("its pixel data is not valid zlib data (" + message + ")");
  }
  if (produced < out.size()) {
    throw EPlayerError("its pixel data ends early: " + std::to_string(produced) + " of " +
                       std::to_string(out.size()) + " bytes");
  }
  return out;
}

namespace {

std::uint64_t RowBytes(const TLosslessHeader& h) {
  switch (h.Format) {
    case 3:
      return (std::uint64_t(h.Width) + 3) & ~3ull;
    case 4:
      return (std::uint64_t(h.Width) * 2 + 3) & ~3ull;
    default:
      return std::uint64_t(h.Width) * 4;
  }
}

void UnpackColorMapped(const TLosslessHeader& h, const std::vector<std::uint8_t>& raw,
                       TTexture& t) {
  const unsigned colours = h.ColorTableSize + 1u;
  const unsigned entry = h.WithAlpha ? 4 : 3;
  // Indices past the table show nothing (or black where there is no alpha).
  std::uint32_t table[256];
  std::fill(std::begin(table), std::end(table), h.WithAlpha ? 0u : Pack(0, 0, 0, 255));
  for (unsigned i = 0; i < colours; ++i) {
    const std::uint8_t* c = raw.data() + i * entry;
    table[i] =
        h.WithAlpha ? PackPremultiplied(c[0], c[1], c[2], c[3]) : Pack(c[0], c[1], c[2], 255);
  }
  const std::uint8_t* pixels = raw.data() + colours * entry;
  const std::uint64_t stride = RowBytes(h);
  for (int y = 0; y < t.Height; ++y) {
    const std::uint8_t* row = pixels + y * stride;
    std::uint32_t* out = t.Texels.data() + std::size_t(y) * t.Width;
    for (int x = 0; x < t.Width; ++x) out[x] = table[row[x]];
  }
}

void Unpack15(const TLosslessHeader& h, const std::vector<std::uint8_t>& raw, TTexture& t) {
  const std::uint64_t stride = RowBytes(h);
  for (int y = 0; y < t.Height; ++y) {
    const std::uint8_t* row = raw.data() + y * stride;
    std::uint32_t* out = t.Texels.data() + std::size_t(y) * t.Width;
    for (int x = 0; x < t.Width; ++x) {
      // One reserved bit, then five bits each of red, green and blue, most significant first.
      const unsigned v = (unsigned(row[2 * x]) << 8) | row[2 * x + 1];
      out[x] = Pack(Expand5((v >> 10) & 31), Expand5((v >> 5) & 31), Expand5(v & 31), 255);
    }
  }
}

void Unpack32(const TLosslessHeader& h, const std::vector<std::uint8_t>& raw, TTexture& t) {
  const std::size_t count = std::size_t(t.Width) * t.Height;
  const std::uint8_t* p = raw.data();
  for (std::size_t i = 0; i < count; ++i, p += 4) {
    // Alpha (or a reserved byte without alpha), red, green, blue.
    t.Texels[i] =
        h.WithAlpha ? PackPremultiplied(p[1], p[2], p[3], p[0]) : Pack(p[1], p[2], p[3], 255);
  }
}

}  // namespace

TTexture DecodeLossless(const TLosslessHeader& h, const std::uint8_t* data, std::size_t size) {
  if (h.Format != 3 && h.Format != 4 && h.Format != 5) {
    throw EPlayerError("its format " + std::to_string(h.Format) + " does not exist");
  }
  if (h.Format == 4 && h.WithAlpha) throw EPlayerError("15-bit pixels cannot carry alpha");
  const std::uint64_t texels = std::uint64_t(h.Width) * h.Height;
  if (texels > kMaxTexels) {
    throw EPlayerError("it is too large (" + std::to_string(h.Width) + " x " +
                       std::to_string(h.Height) + " pixels)");
  }
  TTexture t;
  t.Width = h.Width;
  t.Height = h.Height;
  if (texels == 0) return t;
  const std::uint64_t table = h.Format == 3 ? (h.ColorTableSize + 1u) * (h.WithAlpha ? 4u : 3u) : 0;
  const std::vector<std::uint8_t> raw = Inflate(data, size, table + RowBytes(h) * h.Height);
  t.Texels.resize(static_cast<std::size_t>(texels));
  if (h.Format == 3) {
    UnpackColorMapped(h, raw, t);
  } else if (h.Format == 4) {
    Unpack15(h, raw, t);
  } else {
    Unpack32(h, raw, t);
  }
  if (h.WithAlpha) {
    t.Opaque = std::all_of(t.Texels.begin(), t.Texels.end(),
                           [](std::uint32_t v) { return (v >> 24) == 255; });
  }
  return t;
}

}  // namespace kestrova
