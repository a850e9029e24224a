#include "tests/recorder/MovieRenderer.h"

#include <cmath>
#include <memory>

#include "swfobjects/SWFObjects.h"
#include "swfstreams/SWFStreams.h"
#include "swftools/ZStream.h"

namespace kestrova::test {

namespace {

struct TBitmap {
  std::int32_t Width = 0, Height = 0;
  std::vector<TRgb> Pixels;
};

struct TShape {
  std::int32_t XMin = 0, YMin = 0, XMax = 0, YMax = 0;  // twips
  std::uint16_t BitmapId = 0;
  double FillTx = 0, FillTy = 0, FillSx = 1, FillSy = 1;
};

struct TInstance {
  std::uint16_t Id = 0;
  std::int32_t Tx = 0, Ty = 0;  // twips
  // Sprites: their own display list and where their timeline stands.
  std::map<std::uint16_t, TInstance> Children;
  std::size_t Cursor = 0;
  bool Sprite = false;
};

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

class TPlayer {
 public:
  TMovieInfo Info;
  std::map<std::uint16_t, TBitmap> Bitmaps;
  std::map<std::uint16_t, TShape> Shapes;
  std::map<std::uint16_t, const TSWFDefineSprite*> Sprites;
  std::map<std::uint16_t, TInstance> Root;
  TRgb Background{255, 255, 255};  // what players show where a movie sets no colour

  void Define(const TSWFObject& tag) {
    switch (tag.TagID) {
      case 20:
        DefineBitmap(static_cast<const TSWFDefineBitsLossless&>(tag));
        break;
      case 22:
        DefineShape(static_cast<const TSWFDefineShape&>(tag));
        break;
      case 39: {
        const auto& s = static_cast<const TSWFDefineSprite&>(tag);
        Sprites[s.SpriteId] = &s;
        break;
      }
      case 9: {
        const auto& c = static_cast<const TSWFSetBackgroundColor&>(tag).BackgroundColor();
        Background = {c.R, c.G, c.B};
        Info.HasBackground = true;
        break;
      }
      case 12:  // a part's load of the next part: each part is checked on its own
        break;
      default:
        Info.Problems.push_back("unexpected tag " + std::to_string(tag.TagID));
    }
  }

  void DefineBitmap(const TSWFDefineBitsLossless& b) {
    ++Info.Bitmaps;
    if (b.BitmapFormat != 3) {
      Info.Problems.push_back("bitmap format " + std::to_string(b.BitmapFormat));
      return;
    }
    TMemoryStream in(b.Data);
    TZDecompressionStream z(in);
    const std::size_t colours = static_cast<std::size_t>(b.BitmapColorTableSize) + 1;
    const std::size_t stride = (b.BitmapWidth + 3u) & ~3u;
    std::vector<std::uint8_t> raw(colours * 3 + stride * b.BitmapHeight);
    if (z.Read(raw.data(), raw.size()) != raw.size()) {
      Info.Problems.push_back("short bitmap data");
      return;
    }
    TBitmap& out = Bitmaps[b.CharacterId];
    out.Width = b.BitmapWidth;
    out.Height = b.BitmapHeight;
    out.Pixels.resize(static_cast<std::size_t>(out.Width) * out.Height);
    for (std::int32_t y = 0; y < out.Height; ++y) {
      for (std::int32_t x = 0; x < out.Width; ++x) {
        const std::size_t index = raw[colours * 3 + y * stride + x];
        if (index >= colours) Info.Problems.push_back("pixel outside the colour table");
        const std::size_t i = std::min(index, colours - 1) * 3;
        out.Pixels[static_cast<std::size_t>(y) * out.Width + x] = {raw[i], raw[i + 1], raw[i + 2]};
      }
    }
  }

  void DefineShape(const TSWFDefineShape& s) {
    TShape& out = Shapes[s.ShapeId];
    out.XMin = s.ShapeBounds.XMin();
    out.YMin = s.ShapeBounds.YMin();
    out.XMax = s.ShapeBounds.XMax();
    out.YMax = s.ShapeBounds.YMax();
    if (s.FillStyles.size() != 1 || !IsImageFillType(s.FillStyles[0]->FillStyleType)) {
      Info.Problems.push_back("shape without one bitmap fill");
      return;
    }
    const auto& fill = static_cast<const TSWFImageFill&>(*s.FillStyles[0]);
    out.BitmapId = fill.BitmapId;
    out.FillTx = fill.BitmapMatrix.TranslateX;
    out.FillTy = fill.BitmapMatrix.TranslateY;
    if (fill.BitmapMatrix.HasSkew) Info.Problems.push_back("skewed fill");
    if (fill.BitmapMatrix.HasScale) {
      out.FillSx = fill.BitmapMatrix.ScaleX() / 65536.0;
      out.FillSy = fill.BitmapMatrix.ScaleY() / 65536.0;
    }
  }

  // Display-list tags; returns true for ShowFrame.
  bool Apply(std::map<std::uint16_t, TInstance>& list, const TSWFObject& tag, bool top) {
    switch (tag.TagID) {
      case 1:
        return true;
      case 28: {
        const auto depth = static_cast<const TSWFRemoveObject2&>(tag).Depth;
        list.erase(depth);
        Info.Events.push_back("remove " + std::to_string(depth));
        return false;
      }
      case 26:
        Place(list, static_cast<const TSWFPlaceObject2&>(tag), top);
        return false;
      case 0:
        return false;
      case 18:
      case 45:
        return false;
      case 19:  // the stream sound: heard, not seen
        ++(top ? Info.StreamBlocks : Info.SpriteStreamBlocks);
        return false;
      default:
        if (top) {
          Define(tag);
        } else {
          Info.Problems.push_back("unexpected tag in a sprite " + std::to_string(tag.TagID));
        }
        return false;
    }
  }

  void Place(std::map<std::uint16_t, TInstance>& list, const TSWFPlaceObject2& p, bool top) {
    if (!p.PlaceFlagHasCharacter() || p.PlaceFlagMove) {
      Info.Problems.push_back("a placement that moves");
      return;
    }
    if (list.count(p.Depth) != 0) Info.Problems.push_back("placed on an occupied depth");
    TInstance inst;
    inst.Id = p.CharacterId();
    if (const TSWFMatrix* m = p.MatrixIfAny()) {
      inst.Tx = m->TranslateX;
      inst.Ty = m->TranslateY;
      if (m->HasScale || m->HasSkew) Info.Problems.push_back("scaled placement");
    }
    Info.Events.push_back("place " + std::to_string(p.Depth) + " " + std::to_string(inst.Tx / 20) +
                          "," + std::to_string(inst.Ty / 20));
    inst.Sprite = Sprites.count(inst.Id) != 0;
    if (!inst.Sprite && Shapes.count(inst.Id) == 0) Info.Problems.push_back("placed undefined id");
    if (inst.Sprite && top) Info.SpritePlacements.emplace_back(Info.FramesPlayed, p.Depth);
    TInstance& placed = list[p.Depth] = inst;
    if (placed.Sprite) RunSpriteFrame(placed);
  }

  void RunSpriteFrame(TInstance& sprite) {
    const TSWFObjectList& tags = Sprites[sprite.Id]->ControlTags;
    if (sprite.Cursor >= tags.size()) {  // the sprite loops
      sprite.Cursor = 0;
      sprite.Children.clear();
    }
    while (sprite.Cursor < tags.size()) {
      if (Apply(sprite.Children, *tags[sprite.Cursor++], false)) return;
    }
  }

  void AdvanceSprites(std::map<std::uint16_t, TInstance>& list) {
    for (auto& [depth, inst] : list) {
      if (inst.Sprite) RunSpriteFrame(inst);
    }
  }

  void Paint(const std::map<std::uint16_t, TInstance>& list, std::int32_t ox, std::int32_t oy,
             TFrameImage& image) {
    for (const auto& [depth, inst] : list) {
      if (inst.Sprite) {
        Paint(inst.Children, ox + inst.Tx, oy + inst.Ty, image);
        continue;
      }
      auto s = Shapes.find(inst.Id);
      if (s == Shapes.end()) continue;
      PaintShape(s->second, ox + inst.Tx, oy + inst.Ty, image);
    }
  }

  void PaintShape(const TShape& s, std::int32_t tx, std::int32_t ty, TFrameImage& image) {
    auto b = Bitmaps.find(s.BitmapId);
    if (b == Bitmaps.end() || b->second.Pixels.empty()) return;
    const TBitmap& bm = b->second;
    // Pixel centres (20 p + 10 twips) inside [min, max) of the translated bounds.
    const std::int64_t x0 = std::max<std::int64_t>(0, -FloorDiv(-(s.XMin + tx - 10), 20));
    const std::int64_t x1 = std::min<std::int64_t>(Info.Width, -FloorDiv(-(s.XMax + tx - 10), 20));
    const std::int64_t y0 = std::max<std::int64_t>(0, -FloorDiv(-(s.YMin + ty - 10), 20));
    const std::int64_t y1 = std::min<std::int64_t>(Info.Height, -FloorDiv(-(s.YMax + ty - 10), 20));
    for (std::int64_t y = y0; y < y1; ++y) {
      const double v = (20.0 * y + 10 - ty - s.FillTy) / s.FillSy;
      const std::int64_t row =
          std::clamp<std::int64_t>(static_cast<std::int64_t>(std::floor(v)), 0, bm.Height - 1);
      for (std::int64_t x = x0; x < x1; ++x) {
        const double u = (20.0 * x + 10 - tx - s.FillTx) / s.FillSx;
        const std::int64_t col =
            std::clamp<std::int64_t>(static_cast<std::int64_t>(std::floor(u)), 0, bm.Width - 1);
        image[y * Info.Width + x] = bm.Pixels[row * bm.Width + col];
      }
    }
  }
};

}  // namespace

TMovieInfo PlayMovie(
    const std::string& fileName,
    const std::function<void(std::uint32_t, const TFrameImage&, const TMovieInfo&)>& onFrame) {
  TSWFStreamReader reader(fileName);
  if (!reader.IsValid) throw std::runtime_error(fileName + ": not a SWF file");
  reader.ParseTags(true, false);
  TPlayer player;
  player.Info.Width = (reader.FrameSize.Right - reader.FrameSize.Left) / 20;
  player.Info.Height = (reader.FrameSize.Bottom - reader.FrameSize.Top) / 20;
  player.Info.FrameCount = reader.FrameCount;
  TFrameImage image;
  bool advance = false;
  for (const auto& info : reader.TagList) {
    if (!info->SWFObject) {
      player.Info.Problems.push_back("tag not parsed: " + std::to_string(info->TagID));
      continue;
    }
    if (advance) {
      player.AdvanceSprites(player.Root);
      advance = false;
    }
    if (!player.Apply(player.Root, *info->SWFObject, true)) continue;
    image.assign(static_cast<std::size_t>(player.Info.Width) * player.Info.Height,
                 player.Background);
    player.Paint(player.Root, 0, 0, image);
    onFrame(player.Info.FramesPlayed, image, player.Info);
    ++player.Info.FramesPlayed;
    advance = true;
  }
  return player.Info;
}

}  // namespace kestrova::test
