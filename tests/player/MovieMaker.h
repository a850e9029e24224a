// Builds small movies for the player's tests out of the tag classes, the way the recorder's
// movies are built: lossless bitmaps, rectangle shapes filled with them, placements, sprites.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <vector>

#include "player/Player.h"
#include "swfstreams/SWFStreams.h"

namespace kestrova::test {

using Bytes = std::vector<std::uint8_t>;

class TTestMovie : public TBasedSWFStream {
 public:
  // Stage in pixels.
  TTestMovie(int width, int height, float fps = 12)
      : TBasedSWFStream(0, 0, width, height, fps, true) {}
  TSWFObjectList Tags;

  void MakeStream() override {
    FBody->Clear();
    TBitsEngine be(*FBody);
    FrameCount = 0;
    for (auto& tag : Tags) {
      tag->WriteToStream(be);
      if (tag->TagID == 1) ++FrameCount;
    }
  }
  template <class T>
  T& Add(std::unique_ptr<T> tag) {
    T& ref = *tag;
    Tags.push_back(std::move(tag));
    return ref;
  }
  void ShowFrame(int count = 1) {
    for (int i = 0; i < count; ++i) Tags.push_back(std::make_unique<TSWFShowFrame>());
  }
  Bytes Save() {
    MakeStream();
    TMemoryStream m;
    SaveToStream(m);
    return m.Bytes();
  }
};

inline Bytes Deflate(const Bytes& raw) {
  uLongf size = compressBound(raw.size());
  Bytes out(size);
  if (compress(out.data(), &size, raw.data(), raw.size()) != Z_OK) {
    throw std::runtime_error("compress failed");
  }
  out.resize(size);
  return out;
}

// A lossless bitmap tag holding the given unpacked bytes (colour table and padded rows).
inline std::unique_ptr<TSWFDefineBitsLossless> Lossless(std::uint16_t id, std::uint8_t format,
                                                        int width, int height, const Bytes& raw,
                                                        bool withAlpha = false, int colours = 0) {
  std::unique_ptr<TSWFDefineBitsLossless> tag = withAlpha
                                                    ? std::make_unique<TSWFDefineBitsLossless2>()
                                                    : std::make_unique<TSWFDefineBitsLossless>();
  tag->CharacterId = id;
  tag->BitmapFormat = format;
  tag->BitmapWidth = static_cast<std::uint16_t>(width);
  tag->BitmapHeight = static_cast<std::uint16_t>(height);
  if (format == 3) tag->BitmapColorTableSize = static_cast<std::uint8_t>(colours - 1);
  tag->Data = Deflate(raw);
  return tag;
}

// A 24-bit bitmap (format 5) from RGB triples, row by row.
inline std::unique_ptr<TSWFDefineBitsLossless> Bitmap24(std::uint16_t id, int width, int height,
                                                        const std::vector<std::uint32_t>& rgb) {
  Bytes raw;
  for (std::uint32_t c : rgb) {
    raw.insert(raw.end(), {0xFF, std::uint8_t(c >> 16), std::uint8_t(c >> 8), std::uint8_t(c)});
  }
  return Lossless(id, 5, width, height, raw);
}

inline std::unique_ptr<TSWFImageFill> ImageFill(std::uint16_t bitmapId, std::uint8_t type,
                                                const TSWFMatrixRec& m) {
  auto fill = std::make_unique<TSWFImageFill>();
  fill->FillStyleType = type;
  fill->BitmapId = bitmapId;
  fill->BitmapMatrix.SetRec(m);
  return fill;
}

inline std::unique_ptr<TSWFColorFill> SolidFill(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  auto fill = std::make_unique<TSWFColorFill>();
  fill->Color.SetRGB(SWFRGB(r, g, b));
  return fill;
}

// A rectangle (twips) drawn the way the movie builder draws it: a style-change record with fill
// style 1 (and a move when it does not start at 0,0), then right, down, left, up.
inline std::unique_ptr<TSWFDefineShape> RectShape(std::uint16_t id, int x0, int y0, int x1, int y1,
                                                  std::unique_ptr<TSWFFillStyle> fill) {
  auto shape = std::make_unique<TSWFDefineShape2>();
  shape->ShapeId = id;
  shape->ShapeBounds.SetRect({x0, y0, x1, y1});
  shape->FillStyles.push_back(std::move(fill));
  auto style = std::make_unique<TSWFStyleChangeRecord>();
  style->SetFillStyle1(1);
  if (x0 != 0 || y0 != 0) style->SetMoveTo(x0, y0);
  shape->Edges.push_back(std::move(style));
  auto edge = [&](int dx, int dy) {
    auto e = std::make_unique<TSWFStraightEdgeRecord>();
    e->DeltaX = dx;
    e->DeltaY = dy;
    shape->Edges.push_back(std::move(e));
  };
  edge(x1 - x0, 0);
  edge(0, y1 - y0);
  edge(x0 - x1, 0);
  edge(0, y0 - y1);
  shape->Edges.push_back(std::make_unique<TSWFEndShapeRecord>());
  return shape;
}

// A fill matrix that shows a bitmap one texel per pixel from the shape's (x, y) twips.
inline TSWFMatrixRec PixelScale(int x = 0, int y = 0) {
  return MakeMatrix(true, false, 20 << 16, 20 << 16, 0, 0, x, y);
}

inline std::unique_ptr<TSWFPlaceObject2> Place(std::uint16_t depth, std::uint16_t id, int x = 0,
                                               int y = 0) {
  auto p = std::make_unique<TSWFPlaceObject2>();
  p->Depth = depth;
  p->SetCharacterId(id);
  if (x != 0 || y != 0) p->Matrix().SetTranslate(x, y);
  return p;
}

inline std::unique_ptr<TSWFPlaceObject2> Move(std::uint16_t depth, int x, int y) {
  auto p = std::make_unique<TSWFPlaceObject2>();
  p->Depth = depth;
  p->PlaceFlagMove = true;
  p->Matrix().SetTranslate(x, y);
  return p;
}

inline std::unique_ptr<TSWFRemoveObject2> Remove(std::uint16_t depth) {
  auto r = std::make_unique<TSWFRemoveObject2>();
  r->Depth = depth;
  return r;
}

inline std::unique_ptr<TMoviePlayer> Play(const Bytes& file) {
  return std::make_unique<TMoviePlayer>(std::make_unique<TMemoryStream>(file));
}

// The stage pixel as 0xRRGGBB.
inline std::uint32_t PixelAt(const TMoviePlayer& p, int x, int y) {
  const std::uint8_t* px = p.Pixels() + (std::size_t(y) * p.Width() + x) * 4;
  return (std::uint32_t(px[0]) << 16) | (px[1] << 8) | px[2];
}

}  // namespace kestrova::test
