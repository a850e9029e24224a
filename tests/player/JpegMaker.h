// Encodes small JPEG pictures for the player's tests with libjpeg, whole or split into a tables
// stream and an abbreviated image stream (what DefineBits with JPEGTables holds).
#pragma once

#include <jpeglib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace kestrova::test {

struct TJpegParts {
  std::vector<std::uint8_t> Tables;  // empty for a whole stream
  std::vector<std::uint8_t> Image;
};

// rgb holds width x height pixels as 0xRRGGBB, rows top first.
inline TJpegParts EncodeJpeg(int width, int height, const std::vector<std::uint32_t>& rgb,
                             bool split, int quality = 95) {
  jpeg_compress_struct c;
  jpeg_error_mgr e;
  c.err = jpeg_std_error(&e);
  jpeg_create_compress(&c);
  c.image_width = static_cast<JDIMENSION>(width);
  c.image_height = static_cast<JDIMENSION>(height);
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, quality, TRUE);
  // Full-resolution colour, so flat blocks of colour decode to themselves (within rounding).
  c.comp_info[0].h_samp_factor = c.comp_info[0].v_samp_factor = 1;
  TJpegParts parts;
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  if (split) {
    jpeg_mem_dest(&c, &buffer, &size);
    jpeg_write_tables(&c);
    parts.Tables.assign(buffer, buffer + size);
    std::free(buffer);
    buffer = nullptr;
    size = 0;
    jpeg_suppress_tables(&c, TRUE);
  }
  jpeg_mem_dest(&c, &buffer, &size);
  jpeg_start_compress(&c, split ? FALSE : TRUE);
  std::vector<std::uint8_t> row(std::size_t(width) * 3);
  while (c.next_scanline < c.image_height) {
    for (int x = 0; x < width; ++x) {
      const std::uint32_t p = rgb[std::size_t(c.next_scanline) * width + x];
      row[x * 3] = std::uint8_t(p >> 16);
      row[x * 3 + 1] = std::uint8_t(p >> 8);
      row[x * 3 + 2] = std::uint8_t(p);
    }
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&c, &r, 1);
  }
  jpeg_finish_compress(&c);
  parts.Image.assign(buffer, buffer + size);
  std::free(buffer);
  jpeg_destroy_compress(&c);
  return parts;
}

}  // namespace kestrova::test
