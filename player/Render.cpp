// Drawing: the display list is flattened into rectangles on the stage; the rectangles that
// changed since the last drawing mark the regions to paint again, and only those are painted.
#include <algorithm>
#include <cmath>

#include "player/JpegBitmap.h"
#include "player/PlayerState.h"

namespace kestrova {

namespace {

constexpr double kTwips = 20.0;

void Flatten(const TClip& clip, const TAffine& m, const TCxform& cx, std::vector<TRenderItem>& out,
             TPlayerState& s) {
  for (const auto& [depth, item] : clip.List) {
    if (item.ClipDepth) continue;  // a mask is not drawn
    const TAffine im = m * item.Matrix;
    const TCxform icx = cx * item.Cxform;
    if (item.Clip) {
      Flatten(*item.Clip, im, icx, out, s);
      continue;
    }
    const auto found = s.Dictionary.find(item.CharacterId);
    if (found == s.Dictionary.end()) continue;
    if (found->second.Bitmap) s.Note("bitmaps placed without a shape are not drawn");
    if (!found->second.Shape) continue;
    const auto& pieces = found->second.Shape->Pieces;
    for (std::uint32_t i = 0; i < pieces.size(); ++i) {
      TRenderItem r;
      r.Instance = item.Instance;
      r.Piece = i;
      r.Rect = &pieces[i];
      r.Matrix = im;
      r.Cxform = icx;
      out.push_back(r);
    }
  }
}

int ClampToInt(double v, int lo, int hi) {
  if (!(v > lo)) return lo;  // NaN too
  if (v >= hi) return hi;
  return static_cast<int>(v);
}

// The pixels whose centres the rectangle can cover, with a pixel to spare.
TIRect PixelBounds(const TRenderItem& r, const TRect& frame, int width, int height) {
  const TRectPiece& p = *r.Rect;
  double x0 = INFINITY, y0 = INFINITY, x1 = -INFINITY, y1 = -INFINITY;
  for (double x : {p.X0, p.X1}) {
    for (double y : {p.Y0, p.Y1}) {
      const double sx = r.Matrix.A * x + r.Matrix.C * y + r.Matrix.TX;
      const double sy = r.Matrix.B * x + r.Matrix.D * y + r.Matrix.TY;
      x0 = std::min(x0, sx);
      x1 = std::max(x1, sx);
      y0 = std::min(y0, sy);
      y1 = std::max(y1, sy);
    }
  }
  return {ClampToInt(std::floor((x0 - frame.Left) / kTwips) - 1, 0, width),
          ClampToInt(std::floor((y0 - frame.Top) / kTwips) - 1, 0, height),
          ClampToInt(std::ceil((x1 - frame.Left) / kTwips) + 1, 0, width),
          ClampToInt(std::ceil((y1 - frame.Top) / kTwips) + 1, 0, height)};
}

// Premultiplied src over the opaque stage pixel.
inline void Blend(std::uint32_t& dst, std::uint32_t src) {
  const std::uint32_t a = src >> 24;
  if (a == 255) {
    dst = src;
    return;
  }
  if (a == 0) return;
  const std::uint32_t keep = 255 - a;
  std::uint32_t out = 0xFF000000u;
  for (int shift = 0; shift < 24; shift += 8) {
    const std::uint32_t d = (dst >> shift) & 0xFF, c = (src >> shift) & 0xFF;
    out |= std::min<std::uint32_t>(255, c + (d * keep + 127) / 255) << shift;
  }
  dst = out;
}

// The texel index along one axis for a bitmap coordinate, or -1 outside a clipped bitmap.
inline int TexelIndex(double u, int size, bool clipped) {
  const double t = std::floor(u);
  if (clipped) return (t >= 0 && t < size) ? static_cast<int>(t) : -1;
  if (!std::isfinite(t)) return -1;
  double m = std::fmod(t, size);
  if (m < 0) m += size;
  return static_cast<int>(m);
}

class TPainter {
 public:
  TPainter(TPlayerState& s) : FS(s), FFrame(s.Header.FrameSize) {}

  void Paint(const TRenderItem& item, const TIRect& area) {
    const TRectPiece& p = *item.Rect;
    if (!item.Matrix.Invert(FPlace)) return;
    FItem = &item;
    if (p.Fill.Type == TFillInfo::kSolid) {
      FTexture.reset();
      FColor = item.Cxform.Identity() ? p.Fill.Color : item.Cxform.Apply(p.Fill.Color);
      FFill = TAffine{};
    } else {
      FTexture = FS.Texture(p.Fill.BitmapId);
      if (!FTexture || FTexture->Width == 0 || FTexture->Height == 0) return;
      if (!p.Fill.Matrix.Invert(FFill)) return;
    }
    if (FPlace.Separable() && FFill.Separable()) {
      PaintSeparable(area);
    } else {
      PaintGeneral(area);
    }
  }

 private:
  double CentreX(int px) const { return FFrame.Left + (px + 0.5) * kTwips; }
  double CentreY(int py) const { return FFrame.Top + (py + 0.5) * kTwips; }

  std::uint32_t Texel(int tx, int ty) const {
    const std::uint32_t t = FTexture->Texels[std::size_t(ty) * FTexture->Width + tx];
    return FItem->Cxform.Identity() ? t : FItem->Cxform.Apply(t);
  }

  // Without rotation or skew each column and each row maps on its own: the texel column of every
  // stage column (and row) is worked out once. The sums are those of PaintGeneral with the zero
  // terms left out, so both give the same texels.
  void PaintSeparable(const TIRect& area) {
    const TRectPiece& p = *FItem->Rect;
    FColumns.assign(area.X1 - area.X0, -1);
    for (int px = area.X0; px < area.X1; ++px) {
      const double sx = FPlace.A * CentreX(px) + FPlace.TX;
      if (!(sx >= p.X0 && sx < p.X1)) continue;
      FColumns[px - area.X0] =
          FTexture ? TexelIndex(FFill.A * sx + FFill.TX, FTexture->Width, p.Fill.Clipped) : 0;
    }
    const bool copy =
        !FTexture ? FColor >> 24 == 255 : FTexture->Opaque && FItem->Cxform.Identity();
    for (int py = area.Y0; py < area.Y1; ++py) {
      const double sy = FPlace.D * CentreY(py) + FPlace.TY;
      if (!(sy >= p.Y0 && sy < p.Y1)) continue;
      int ty = 0;
      if (FTexture) {
        ty = TexelIndex(FFill.D * sy + FFill.TY, FTexture->Height, p.Fill.Clipped);
        if (ty < 0) continue;
      }
      std::uint32_t* row = FS.Pixels.data() + std::size_t(py) * FS.Width;
      const std::uint32_t* texels =
          FTexture ? FTexture->Texels.data() + std::size_t(ty) * FTexture->Width : nullptr;
      for (int px = area.X0; px < area.X1; ++px) {
        const int tx = FColumns[px - area.X0];
        if (tx < 0) continue;
        if (!FTexture) {
          Blend(row[px], FColor);
        } else if (copy) {
          row[px] = texels[tx];
        } else {
          Blend(row[px], Texel(tx, ty));
        }
      }
    }
  }

  void PaintGeneral(const TIRect& area) {
    const TRectPiece& p = *FItem->Rect;
    for (int py = area.Y0; py < area.Y1; ++py) {
      std::uint32_t* row = FS.Pixels.data() + std::size_t(py) * FS.Width;
      const double cy = CentreY(py);
      for (int px = area.X0; px < area.X1; ++px) {
        const double cx = CentreX(px);
        const double sx = FPlace.A * cx + FPlace.C * cy + FPlace.TX;
        const double sy = FPlace.B * cx + FPlace.D * cy + FPlace.TY;
        if (!(sx >= p.X0 && sx < p.X1 && sy >= p.Y0 && sy < p.Y1)) continue;
        if (!FTexture) {
          Blend(row[px], FColor);
          continue;
        }
        const int tx =
            TexelIndex(FFill.A * sx + FFill.C * sy + FFill.TX, FTexture->Width, p.Fill.Clipped);
        const int ty =
            TexelIndex(FFill.B * sx + FFill.D * sy + FFill.TY, FTexture->Height, p.Fill.Clipped);
        if (tx >= 0 && ty >= 0) Blend(row[px], Texel(tx, ty));
      }
    }
  }

  TPlayerState& FS;
  const TRect& FFrame;
  const TRenderItem* FItem = nullptr;
  TAffine FPlace, FFill;
  std::shared_ptr<const TTexture> FTexture;
  std::uint32_t FColor = 0;
  std::vector<int> FColumns;
};

// Joins rectangles that overlap or touch, so no pixel is painted twice; past a few dozen the
// bounding box serves.
std::vector<TIRect> Merge(std::vector<TIRect> rects) {
  bool merged = true;
  while (merged) {
    merged = false;
    for (std::size_t i = 0; i < rects.size() && !merged; ++i) {
      for (std::size_t j = i + 1; j < rects.size(); ++j) {
        const TIRect& a = rects[i];
        const TIRect& b = rects[j];
        if (a.X0 <= b.X1 && b.X0 <= a.X1 && a.Y0 <= b.Y1 && b.Y0 <= a.Y1) {
          rects[i] = {std::min(a.X0, b.X0), std::min(a.Y0, b.Y0), std::max(a.X1, b.X1),
                      std::max(a.Y1, b.Y1)};
          rects.erase(rects.begin() + j);
          merged = true;
          break;
        }
      }
    }
  }
  if (rects.size() > 32) {
    TIRect all = rects.front();
    for (const TIRect& r : rects) {
      all = {std::min(all.X0, r.X0), std::min(all.Y0, r.Y0), std::max(all.X1, r.X1),
             std::max(all.Y1, r.Y1)};
    }
    rects.assign(1, all);
  }
  return rects;
}

// The regions where what is shown differs from what was drawn.
std::vector<TIRect> Changes(const std::vector<TRenderItem>& was,
                            const std::vector<TRenderItem>& now) {
  auto key = [](const TRenderItem& r) { return std::pair(r.Instance, r.Piece); };
  auto sorted = [&](const std::vector<TRenderItem>& items) {
    std::vector<const TRenderItem*> v;
    for (const auto& r : items) v.push_back(&r);
    std::sort(v.begin(), v.end(), [&](auto a, auto b) { return key(*a) < key(*b); });
    return v;
  };
  const auto a = sorted(was), b = sorted(now);
  std::vector<TIRect> dirty;
  auto add = [&](const TIRect& r) {
    if (!r.Empty()) dirty.push_back(r);
  };
  std::size_t i = 0, j = 0;
  while (i < a.size() || j < b.size()) {
    if (j == b.size() || (i < a.size() && key(*a[i]) < key(*b[j]))) {
      add(a[i++]->Bounds);
    } else if (i == a.size() || key(*b[j]) < key(*a[i])) {
      add(b[j++]->Bounds);
    } else {
      if (!a[i]->SameAs(*b[j])) {
        add(a[i]->Bounds);
        add(b[j]->Bounds);
      }
      ++i;
      ++j;
    }
  }
  return Merge(std::move(dirty));
}

// 64-bit offsets everywhere: a long movie's spill file may pass 2 GB.
int SeekSpill(std::FILE* file, std::int64_t offset) {
#ifdef _WIN32
  return _fseeki64(file, offset, SEEK_SET);
#else
  return fseeko(file, offset, SEEK_SET);
#endif
}

}  // namespace

std::shared_ptr<const TTexture> TPlayerState::Texture(std::uint16_t id) {
  auto cached = Textures.find(id);
  if (cached != Textures.end()) {
    cached->second.LastUse = ++Uses;
    return cached->second.Texture;
  }
  const auto found = Dictionary.find(id);
  if (found == Dictionary.end()) {
    Note("missing bitmap " + std::to_string(id),
         "bitmap " + std::to_string(id) + " is never defined; fills of it are not drawn");
    return nullptr;
  }
  TBitmapDef* def = found->second.Bitmap.get();
  if (!def || def->Broken) return nullptr;
  try {
    std::vector<std::uint8_t> spilled;
    const std::vector<std::uint8_t>* data = &def->Data;
    if (def->SpillOffset >= 0) {
      spilled.resize(def->Size);
      if (SeekSpill(Spill, def->SpillOffset) != 0 ||
          std::fread(spilled.data(), 1, spilled.size(), Spill) != spilled.size()) {
        throw EPlayerError("its data cannot be read back from the temporary file");
      }
      data = &spilled;
    }
    auto texture = std::make_shared<TTexture>(
        def->Jpeg
            ? DecodeJpeg(std::vector<std::uint8_t>(data->begin(), data->begin() + def->JpegSize),
                         data->data() + def->JpegSize, data->size() - def->JpegSize)
            : DecodeLossless(def->Header, data->data(), data->size()));
    TextureBytes += texture->Texels.size() * 4;
    Textures[id] = {texture, ++Uses};
    return texture;
  } catch (const EPlayerError& e) {
    def->Broken = true;
    Notes.push_back("bitmap " + std::to_string(id) + " is not drawn: " + e.what());
    return nullptr;
  }
}

void TPlayerState::Render() {
  std::vector<TRenderItem> now;
  Flatten(Root, TAffine{}, TCxform{}, now, *this);
  for (TRenderItem& r : now) r.Bounds = PixelBounds(r, Header.FrameSize, Width, Height);
  std::vector<TIRect> dirty;
  if (!Drawn || Background != DrawnBackground) {
    dirty.push_back({0, 0, Width, Height});
  } else {
    dirty = Changes(Shown, now);
  }
  TPainter painter(*this);
  const std::uint64_t usesBefore = Uses;
  Painted = 0;
  for (const TIRect& area : dirty) {
    for (int y = area.Y0; y < area.Y1; ++y) {
      std::fill_n(Pixels.data() + std::size_t(y) * Width + area.X0, area.X1 - area.X0, Background);
    }
    Painted += std::uint64_t(area.X1 - area.X0) * (area.Y1 - area.Y0);
    for (const TRenderItem& item : now) {
      const TIRect part = item.Bounds.Intersect(area);
      if (!part.Empty()) painter.Paint(item, part);
    }
  }
  Shown = std::move(now);
  Drawn = true;
  DrawnBackground = Background;
  // Unpacked bitmaps that left the stage are kept while they fit the budget, the least recently
  // used going first.
  while (TextureBytes > kTextureCacheBudget) {
    auto oldest = Textures.end();
    for (auto it = Textures.begin(); it != Textures.end(); ++it) {
      if (it->second.LastUse > usesBefore) continue;  // used by this drawing
      if (oldest == Textures.end() || it->second.LastUse < oldest->second.LastUse) oldest = it;
    }
    if (oldest == Textures.end()) break;
    TextureBytes -= oldest->second.Texture->Texels.size() * 4;
    Textures.erase(oldest);
  }
}

}  // namespace kestrova
