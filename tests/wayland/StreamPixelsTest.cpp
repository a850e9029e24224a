// What a screen stream's buffers claim (sizes, strides, cursor bitmaps) is checked before a byte
// is read; pixels come out in the recorder's order, and a region is cut with its damage.
#include <gtest/gtest.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/raw.h>

#include <cstring>
#include <limits>
#include <vector>

#include "platform/wayland/StreamPixels.h"

namespace kestrova::platform::wayland {
namespace {

struct TFitsCase {
  const char* What;
  std::size_t Size, Offset;
  std::int64_t Stride;
  std::int32_t Width, Height;
  bool Fits;
};

TEST(StreamPixels, FrameFitsOnlyWhenEveryRowIsInsideTheBuffer) {
  const TFitsCase cases[] = {
      {"exact", 4 * 4 * 3, 0, 16, 4, 3, true},
      {"padded rows, last row short of its padding", 20 * 2 + 16, 0, 20, 4, 3, true},
      {"one byte short", 4 * 4 * 3 - 1, 0, 16, 4, 3, false},
      {"offset pushes it out", 48, 4, 16, 4, 3, false},
      {"offset beyond the buffer", 48, 100, 16, 1, 1, false},
      {"stride shorter than a row", 1000, 0, 12, 4, 3, false},
      {"negative stride", 1000, 0, -16, 4, 3, false},
      {"no width", 1000, 0, 16, 0, 3, false},
      {"no height", 1000, 0, 16, 4, 0, false},
      {"product overflows", std::numeric_limits<std::size_t>::max(), 0,
       std::numeric_limits<std::int64_t>::max(), 1, 3, false},
  };
  for (const TFitsCase& c : cases) {
    EXPECT_EQ(FrameFits(c.Size, c.Offset, c.Stride, c.Width, c.Height), c.Fits) << c.What;
  }
}

TEST(StreamPixels, CopiesOnlyTheDamageAndSwapsRedAndBlueForRgbx) {
  // 3x2 picture, pixel (x, y) = {10x+y, 1, 2, 3} in stream order, rows 16 bytes apart.
  std::vector<std::uint8_t> in(16 * 2, 0xEE);
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 3; ++x) {
      std::uint8_t* p = &in[16 * y + 4 * x];
      p[0] = static_cast<std::uint8_t>(10 * x + y), p[1] = 1, p[2] = 2, p[3] = 3;
    }
  }
  struct TCase {
    const char* What;
    TPixelOrder Order;
    TDamage Damage;
    // Bytes of out's pixel (2, 1) and (0, 0) afterwards (out starts all 0x55).
    std::uint8_t At21[4], At00[4];
  };
  TDamage one;
  one.Add({2, 1, 3, 2});
  one.Add({5, 5, 9, 9});  // outside: ignored
  TDamage all;
  all.SetAll();
  const TCase cases[] = {
      {"BGRx, all", TPixelOrder::Bgrx, all, {21, 1, 2, 3}, {0, 1, 2, 3}},
      {"RGBx, all", TPixelOrder::Rgbx, all, {2, 1, 21, 3}, {2, 1, 0, 3}},
      {"RGBx, one pixel", TPixelOrder::Rgbx, one, {2, 1, 21, 3}, {0x55, 0x55, 0x55, 0x55}},
  };
  for (const TCase& c : cases) {
    std::vector<std::uint8_t> out(12 * 2, 0x55);
    CopyAsBgrx(in.data(), 16, c.Order, 3, 2, c.Damage, out.data(), 12);
    EXPECT_EQ(0, std::memcmp(&out[12 + 8], c.At21, 4)) << c.What;
    EXPECT_EQ(0, std::memcmp(&out[0], c.At00, 4)) << c.What;
  }
}

// A cursor metadata block as the compositor lays it out: the cursor, then a bitmap of w x h
// RGBA pixels (premultiplied) right after it.
std::vector<std::uint8_t> CursorMeta(std::uint32_t id, std::int32_t x, std::int32_t y,
                                     std::int32_t hotX, std::int32_t hotY, std::uint32_t w,
                                     std::uint32_t h, bool withBitmap = true,
                                     std::uint32_t format = SPA_VIDEO_FORMAT_RGBA) {
  std::vector<std::uint8_t> meta(sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap) + w * h * 4);
  spa_meta_cursor c{};
  c.id = id;
  c.position = {x, y};
  c.hotspot = {hotX, hotY};
  c.bitmap_offset = withBitmap ? sizeof(spa_meta_cursor) : 0;
  std::memcpy(meta.data(), &c, sizeof c);
  spa_meta_bitmap b{};
  b.format = format;
  b.size = {w, h};
  b.stride = static_cast<std::int32_t>(w * 4);
  b.offset = sizeof(spa_meta_bitmap);
  std::memcpy(meta.data() + sizeof c, &b, sizeof b);
  std::uint8_t* px = meta.data() + sizeof c + sizeof b;
  for (std::uint32_t i = 0; i < w * h; ++i) {
    // Red at half alpha, premultiplied: 128, 0, 0, 128; the rest opaque green.
    const bool half = i == 0;
    px[4 * i] = half ? 128 : 0, px[4 * i + 1] = half ? 0 : 255, px[4 * i + 2] = 0;
    px[4 * i + 3] = half ? 128 : 255;
  }
  return meta;
}

TEST(StreamPixels, ReadsThePointerFromCursorMetadata) {
  TCursorInfo info;
  std::vector<std::uint8_t> meta = CursorMeta(7, 100, 50, 3, 4, 2, 2);
  ASSERT_TRUE(ReadCursorMeta(meta.data(), meta.size(), info));
  EXPECT_TRUE(info.Showing);
  EXPECT_EQ(info.X, 100);
  EXPECT_EQ(info.Y, 50);
  EXPECT_EQ(info.HotX, 3);
  EXPECT_EQ(info.HotY, 4);
  ASSERT_EQ(info.Picture.Width, 2);
  ASSERT_EQ(info.Picture.Height, -2);
  const std::uint8_t* first = info.Picture.Scanline(0);
  EXPECT_EQ(first[0], 0);    // blue
  EXPECT_EQ(first[2], 255);  // red, no longer multiplied by alpha
  EXPECT_EQ(first[3], 128);
  EXPECT_EQ(info.Picture.Scanline(1)[1], 255);  // green

  // Moved without a new bitmap: the picture stays.
  std::vector<std::uint8_t> moved = CursorMeta(7, 120, 60, 3, 4, 0, 0, false);
  ASSERT_TRUE(ReadCursorMeta(moved.data(), moved.size(), info));
  EXPECT_TRUE(info.Showing);
  EXPECT_EQ(info.X, 120);
  EXPECT_EQ(info.Picture.Width, 2);

  // An empty bitmap hides it; id 0 says it is not over the stream.
  std::vector<std::uint8_t> empty = CursorMeta(7, 120, 60, 0, 0, 0, 0);
  ASSERT_TRUE(ReadCursorMeta(empty.data(), empty.size(), info));
  EXPECT_FALSE(info.Showing);
  TCursorInfo away = info;
  away.Showing = true;
  std::vector<std::uint8_t> gone = CursorMeta(0, 1, 1, 0, 0, 2, 2);
  ASSERT_TRUE(ReadCursorMeta(gone.data(), gone.size(), away));
  EXPECT_FALSE(away.Showing);
}

TEST(StreamPixels, RefusesCursorMetadataThatClaimsMoreThanItHolds) {
  struct TCase {
    const char* What;
    std::vector<std::uint8_t> Meta;
    std::size_t Size;  // bytes handed over (may be fewer than Meta has)
  };
  std::vector<std::uint8_t> ok = CursorMeta(1, 0, 0, 0, 0, 4, 4);
  std::vector<std::uint8_t> badOffset = ok;
  spa_meta_cursor c;
  std::memcpy(&c, badOffset.data(), sizeof c);
  c.bitmap_offset = 1u << 30;
  std::memcpy(badOffset.data(), &c, sizeof c);
  std::vector<std::uint8_t> huge = CursorMeta(1, 0, 0, 0, 0, 1, 1);
  spa_meta_bitmap b;
  std::memcpy(&b, huge.data() + sizeof c, sizeof b);
  b.size = {5000, 5000};
  std::memcpy(huge.data() + sizeof c, &b, sizeof b);
  const TCase cases[] = {
      {"too short for the cursor", ok, sizeof(spa_meta_cursor) - 1},
      {"bitmap pixels cut short", ok, ok.size() - 1},
      {"bitmap offset beyond the block", badOffset, badOffset.size()},
      {"a bitmap far larger than any pointer", huge, huge.size()},
      {"a format no pointer comes in", CursorMeta(1, 0, 0, 0, 0, 2, 2, true, SPA_VIDEO_FORMAT_I420),
       0},
  };
  for (const TCase& c0 : cases) {
    TCursorInfo info;
    info.X = -5;
    const std::size_t size = c0.Size != 0 ? c0.Size : c0.Meta.size();
    EXPECT_FALSE(ReadCursorMeta(c0.Meta.data(), size, info)) << c0.What;
    EXPECT_EQ(info.X, -5) << c0.What << ": untouched";
  }
  TCursorInfo info;
  EXPECT_FALSE(ReadCursorMeta(nullptr, 100, info));
}

// A width x height frame whose pixel (x, y) has blue x, green y, red seed.
TDIBitmap Frame(std::int32_t width, std::int32_t height, std::uint8_t seed) {
  TDIBitmap f;
  f.Allocate(width, -height, 32);
  for (std::int32_t y = 0; y < height; ++y) {
    for (std::int32_t x = 0; x < width; ++x) {
      std::uint8_t* p = f.Scanline(y) + 4 * x;
      p[0] = static_cast<std::uint8_t>(x), p[1] = static_cast<std::uint8_t>(y), p[2] = seed;
    }
  }
  return f;
}

TEST(StreamPixels, CropsARegionAndMovesTheDamageIntoIt) {
  TDIBitmap full = Frame(40, 30, 1);
  TDamage all;
  all.SetAll();
  TDIBitmap region;
  TDamage damage;
  ASSERT_TRUE(CropFrame(full, all, {10, 5, 30, 25}, region, damage));
  EXPECT_TRUE(damage.All);
  ASSERT_EQ(region.Width, 20);
  ASSERT_EQ(region.Height, -20);
  EXPECT_EQ(region.Scanline(0)[0], 10);
  EXPECT_EQ(region.Scanline(0)[1], 5);

  // A change that straddles the region's corner, one inside it, one outside it.
  full = Frame(40, 30, 2);
  TDamage changed;
  changed.Add({5, 0, 12, 7});
  changed.Add({20, 10, 22, 11});
  changed.Add({0, 26, 40, 30});
  ASSERT_TRUE(CropFrame(full, changed, {10, 5, 30, 25}, region, damage));
  ASSERT_FALSE(damage.All);
  ASSERT_EQ(damage.Rects.size(), 2u);
  EXPECT_EQ(damage.Rects[0], (TScreenRect{0, 0, 2, 2}));
  EXPECT_EQ(damage.Rects[1], (TScreenRect{10, 5, 12, 6}));
  EXPECT_EQ(region.Scanline(1)[4 * 1 + 2], 2) << "inside the change: new";
  EXPECT_EQ(region.Scanline(1)[4 * 2 + 2], 1) << "outside it: as before";
  EXPECT_EQ(region.Scanline(5)[4 * 10 + 2], 2);

  EXPECT_FALSE(CropFrame(full, all, {50, 50, 60, 60}, region, damage)) << "off the frame";
}

}  // namespace
}  // namespace kestrova::platform::wayland
