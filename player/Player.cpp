#include "player/Player.h"

#include <algorithm>
#include <cmath>

#include "player/JpegBitmap.h"
#include "player/PlayerState.h"
#include "swfobjects/SWFObjects.h"
#include "swftools/ZStream.h"

namespace kestrova {

// ---- matrices and colour transforms ----

bool TAffine::Invert(TAffine& out) const {
  const double det = A * D - B * C;
  if (det == 0 || !std::isfinite(det)) return false;
  out.A = D / det;
  out.B = -B / det;
  out.C = -C / det;
  out.D = A / det;
  out.TX = -(out.A * TX + out.C * TY);
  out.TY = -(out.B * TX + out.D * TY);
  return true;
}

TAffine TAffine::FromRec(const TSWFMatrixRec& r) {
  TAffine m;
  if (r.HasScale) {
    m.A = r.ScaleX / 65536.0;
    m.D = r.ScaleY / 65536.0;
  }
  if (r.HasSkew) {
    m.B = r.SkewY / 65536.0;  // RotateSkew0
    m.C = r.SkewX / 65536.0;  // RotateSkew1
  }
  m.TX = r.TranslateX;
  m.TY = r.TranslateY;
  return m;
}

TCxform TCxform::operator*(const TCxform& in) const {
  TCxform r;
  r.MulR = MulR * in.MulR / 256;
  r.MulG = MulG * in.MulG / 256;
  r.MulB = MulB * in.MulB / 256;
  r.MulA = MulA * in.MulA / 256;
  r.AddR = in.AddR * MulR / 256 + AddR;
  r.AddG = in.AddG * MulG / 256 + AddG;
  r.AddB = in.AddB * MulB / 256 + AddB;
  r.AddA = in.AddA * MulA / 256 + AddA;
  return r;
}

TCxform TCxform::FromRec(const TSWFColorTransformRec& r) {
  TCxform c;
  if (r.HasMult) {
    c.MulR = r.MultR;
    c.MulG = r.MultG;
    c.MulB = r.MultB;
    if (r.HasAlpha) c.MulA = r.MultA;
  }
  if (r.HasAdd) {
    c.AddR = r.AddR;
    c.AddG = r.AddG;
    c.AddB = r.AddB;
    if (r.HasAlpha) c.AddA = r.AddA;
  }
  return c;
}

std::uint32_t TCxform::Apply(std::uint32_t texel) const {
  const int a = texel >> 24;
  auto channel = [&](int premultiplied, int mul, int add) {
    const int straight = a ? premultiplied * 255 / a : 0;
    return std::clamp(straight * mul / 256 + add, 0, 255);
  };
  const int na = std::clamp(a * MulA / 256 + AddA, 0, 255);
  const int r = channel(texel & 0xFF, MulR, AddR);
  const int g = channel((texel >> 8) & 0xFF, MulG, AddG);
  const int b = channel((texel >> 16) & 0xFF, MulB, AddB);
  auto pre = [na](int c) { return std::uint32_t((c * na + 127) / 255); };
  return pre(r) | (pre(g) << 8) | (pre(b) << 16) | (std::uint32_t(na) << 24);
}

TIRect TIRect::Intersect(const TIRect& o) const {
  return {std::max(X0, o.X0), std::max(Y0, o.Y0), std::min(X1, o.X1), std::min(Y1, o.Y1)};
}

void TPlayerState::Note(const std::string& kind, const std::string& text) {
  if (NoteKinds.insert(kind).second) Notes.push_back(text);
}

namespace {

// A tag whose record or body cannot be had: the movie stops there.
struct TStop {
  std::string Why;
};

// The most one tag body may claim before the player refuses it (a lossless bitmap of the largest
// stage it accepts fits easily).
constexpr std::uint64_t kMaxTagBody = 512ull << 20;

std::string At(std::uint64_t offset) {
  return "offset " + std::to_string(offset);
}

// ---- shapes ----

struct TPoint {
  double X = 0, Y = 0;
  bool operator==(const TPoint&) const = default;
};

// The rectangle a closed outline of axis-aligned edges draws, if it draws one.
bool OutlineRectangle(const std::vector<TPoint>& points, TRectPiece& rect) {
  if (points.size() < 5 || !(points.front() == points.back())) return false;
  // Corners: points where the direction changes (a builder splits long sides into pieces).
  std::vector<TPoint> corners;
  for (std::size_t i = 0; i + 1 < points.size(); ++i) {
    const TPoint& p = points[i];
    const TPoint& prev = points[i == 0 ? points.size() - 2 : i - 1];
    const TPoint& next = points[i + 1];
    const bool inHorizontal = prev.Y == p.Y, outHorizontal = p.Y == next.Y;
    const bool inVertical = prev.X == p.X, outVertical = p.X == next.X;
    if (!(inHorizontal || inVertical) || !(outHorizontal || outVertical)) return false;
    if (!((inHorizontal && outHorizontal) || (inVertical && outVertical))) corners.push_back(p);
  }
  if (corners.size() != 4) return false;
  double x0 = corners[0].X, x1 = x0, y0 = corners[0].Y, y1 = y0;
  for (const TPoint& c : corners) {
    x0 = std::min(x0, c.X);
    x1 = std::max(x1, c.X);
    y0 = std::min(y0, c.Y);
    y1 = std::max(y1, c.Y);
  }
  for (const TPoint& c : corners) {
    if ((c.X != x0 && c.X != x1) || (c.Y != y0 && c.Y != y1)) return false;
  }
  rect.X0 = x0;
  rect.X1 = x1;
  rect.Y0 = y0;
  rect.Y1 = y1;
  return x0 < x1 && y0 < y1;
}

std::uint32_t Premultiply(const TSWFRGBA& c, bool hasAlpha) {
  const unsigned a = hasAlpha ? c.A() : 255;
  auto pre = [a](unsigned v) { return (v * a + 127) / 255; };
  return pre(c.R) | (pre(c.G) << 8) | (pre(c.B) << 16) | (std::uint32_t(a) << 24);
}

TFillInfo DescribeFill(const TSWFFillStyle& fill, bool hasAlpha, TPlayerState& s) {
  TFillInfo f;
  if (fill.FillStyleType == 0x00) {
    f.Type = TFillInfo::kSolid;
    f.Color = Premultiply(static_cast<const TSWFColorFill&>(fill).Color, hasAlpha);
  } else if (IsImageFillType(fill.FillStyleType)) {
    const auto& image = static_cast<const TSWFImageFill&>(fill);
    f.Type = TFillInfo::kBitmap;
    f.BitmapId = image.BitmapId;
    f.Clipped = (fill.FillStyleType & 1) != 0;
    f.Matrix = TAffine::FromRec(image.BitmapMatrix.GetRec());
  } else {
    s.Note("gradient fills are not drawn");
  }
  return f;
}

class TShapeReader {
 public:
  TShapeReader(const TSWFDefineShape& shape, TPlayerState& s)
      : FShape(shape), FState(s), FFills(&shape.FillStyles), FLines(&shape.LineStyles) {}

  std::unique_ptr<TShapeInfo> Read() {
    FInfo = std::make_unique<TShapeInfo>();
    FPoints.push_back({0, 0});
    for (const auto& record : FShape.Edges) {
      switch (record->ShapeRecType) {
        case TSWFShapeRecord::kStyleChange:
          StyleChange(static_cast<const TSWFStyleChangeRecord&>(*record));
          break;
        case TSWFShapeRecord::kStraightEdge: {
          const auto& e = static_cast<const TSWFStraightEdgeRecord&>(*record);
          LineTo(FX + e.DeltaX, FY + e.DeltaY);
          break;
        }
        case TSWFShapeRecord::kCurvedEdge: {
          const auto& c = static_cast<const TSWFCurvedEdgeRecord&>(*record);
          FCurved = true;
          LineTo(FX + c.ControlDeltaX + c.AnchorDeltaX, FY + c.ControlDeltaY + c.AnchorDeltaY);
          break;
        }
        default:
          break;
      }
    }
    Finish();
    return std::move(FInfo);
  }

 private:
  void StyleChange(const TSWFStyleChangeRecord& r) {
    Finish();
    if (r.StateNewStyles) {
      if (const TSWFFillStyleList* fills = r.NewFillStylesIfAny()) FFills = fills;
      if (const TSWFLineStyleList* lines = r.NewLineStylesIfAny()) FLines = lines;
    }
    if (r.StateMoveTo) {
      FX = r.MoveDeltaX();
      FY = r.MoveDeltaY();
    }
    if (r.StateFillStyle0) FFill0 = r.FillStyle0();
    if (r.StateFillStyle1) FFill1 = r.FillStyle1();
    if (r.StateLineStyle) FLine = r.LineStyle();
    FPoints.assign(1, {FX, FY});
  }

  void LineTo(double x, double y) {
    FX = x;
    FY = y;
    FPoints.push_back({x, y});
    if (FLine > 0 && FLine <= FLines->size() && (*FLines)[FLine - 1]->Width > 0) {
      FState.Note("outlines (line styles) are not drawn");
    }
  }

  void Finish() {
    const std::uint16_t fill = FFill1 ? FFill1 : FFill0;
    if (FPoints.size() > 1 && fill > 0 && fill <= FFills->size()) {
      if (FCurved) {
        FState.Note("curved edges are not drawn");
      } else {
        TRectPiece piece;
        if (OutlineRectangle(FPoints, piece)) {
          piece.Fill = DescribeFill(*(*FFills)[fill - 1], FShape.HasAlpha, FState);
          if (piece.Fill.Type != TFillInfo::kNone) FInfo->Pieces.push_back(piece);
        } else {
          FState.Note("shapes other than rectangles are not drawn");
        }
      }
    }
    FPoints.assign(1, {FX, FY});
    FCurved = false;
  }

  const TSWFDefineShape& FShape;
  TPlayerState& FState;
  const TSWFFillStyleList* FFills;
  const TSWFLineStyleList* FLines;
  std::unique_ptr<TShapeInfo> FInfo;
  std::vector<TPoint> FPoints;
  double FX = 0, FY = 0;
  std::uint16_t FFill0 = 0, FFill1 = 0, FLine = 0;
  bool FCurved = false;
};

// ---- the display list ----

TCommand PlaceCommand(const TSWFObject& tag, TPlayerState& s) {
  TCommand c;
  c.Type = TCommand::kPlace;
  if (tag.TagID == 4) {
    const auto& p = static_cast<const TSWFPlaceObject&>(tag);
    c.Depth = p.Depth;
    c.HasCharacter = true;
    c.CharacterId = p.CharacterId();
    c.HasMatrix = true;
    c.Matrix = TAffine::FromRec(p.Matrix().GetRec());
    c.HasCxform = p.HasColorTransform;
    c.Cxform = TCxform::FromRec(p.ColorTransform().GetRec());
    return c;
  }
  const auto& p = static_cast<const TSWFPlaceObject2&>(tag);
  c.Depth = p.Depth;
  c.Move = p.PlaceFlagMove;
  c.HasCharacter = p.PlaceFlagHasCharacter();
  c.CharacterId = p.CharacterId();
  if (p.PlaceFlagHasMatrix() && p.MatrixIfAny()) {
    c.HasMatrix = true;
    c.Matrix = TAffine::FromRec(p.MatrixIfAny()->GetRec());
  }
  if (p.PlaceFlagHasColorTransform() && p.ColorTransformIfAny()) {
    c.HasCxform = true;
    c.Cxform = TCxform::FromRec(p.ColorTransformIfAny()->GetRec());
  }
  if (p.PlaceFlagHasClipDepth()) c.ClipDepth = p.ClipDepth();
  if (p.PlaceFlagHasClipActions()) s.Note("scripts (actions) are not run");
  return c;
}

void RunFrame(TClip& clip, TPlayerState& s);

void StartClip(TDisplayItem& item, int level, TPlayerState& s) {
  item.Clip.reset();
  const auto found = s.Dictionary.find(item.CharacterId);
  if (found == s.Dictionary.end() || !found->second.Sprite) return;
  if (level > kMaxNesting) {
    s.Note("sprites nested more than " + std::to_string(kMaxNesting) + " deep are not played");
    return;
  }
  item.Clip = std::make_unique<TClip>();
  item.Clip->Def = found->second.Sprite.get();
  item.Clip->Frame = 1;
  item.Clip->Level = level;
  RunFrame(*item.Clip, s);
}

void Place(TClip& clip, const TCommand& c, TPlayerState& s) {
  auto existing = clip.List.find(c.Depth);
  if (c.Move && existing != clip.List.end()) {
    TDisplayItem& item = existing->second;
    if (c.HasCharacter && c.CharacterId != item.CharacterId) {
      item.CharacterId = c.CharacterId;
      item.Instance = s.NextInstance++;
      StartClip(item, clip.Level + 1, s);
    }
    if (c.HasMatrix) item.Matrix = c.Matrix;
    if (c.HasCxform) item.Cxform = c.Cxform;
    if (c.ClipDepth) item.ClipDepth = c.ClipDepth;
    return;
  }
  if (!c.HasCharacter) return;
  if (s.LiveItems >= kMaxDisplayItems) {
    s.Note("placements beyond " + std::to_string(kMaxDisplayItems) +
           " objects on show were refused");
    return;
  }
  TDisplayItem item;
  item.Live = TLiveCount(s.LiveItems);
  item.CharacterId = c.CharacterId;
  item.Instance = s.NextInstance++;
  if (c.HasMatrix) item.Matrix = c.Matrix;
  if (c.HasCxform) item.Cxform = c.Cxform;
  item.ClipDepth = c.ClipDepth;
  if (item.ClipDepth) s.Note("masks are not applied (the mask is not drawn)");
  TDisplayItem& placed = clip.List[c.Depth] = std::move(item);
  StartClip(placed, clip.Level + 1, s);
}

void Execute(TClip& clip, const TCommand& c, TPlayerState& s) {
  if (c.Type == TCommand::kPlace) {
    Place(clip, c, s);
  } else if (c.Type == TCommand::kRemove) {
    clip.List.erase(c.Depth);
  }
}

// Runs the commands of the clip's current frame.
void RunFrame(TClip& clip, TPlayerState& s) {
  const TSpriteDef& def = *clip.Def;
  if (clip.Frame < 1 || clip.Frame > def.FrameCount()) return;
  for (std::size_t i = def.Bounds[clip.Frame - 1]; i < def.Bounds[clip.Frame]; ++i) {
    Execute(clip, def.Commands[i], s);
  }
}

// One parent frame: the clips already on show advance first, so a clip placed in this frame
// shows its own frame 1 now.
void AdvanceChildren(TClip& clip, TPlayerState& s);

void AdvanceClip(TClip& clip, TPlayerState& s) {
  AdvanceChildren(clip, s);
  const int frames = clip.Def->FrameCount();
  if (frames <= 1) return;
  if (++clip.Frame > frames) {
    // Looping rebuilds the clip from its first frame.
    clip.Frame = 1;
    clip.List.clear();
  }
  RunFrame(clip, s);
}

void AdvanceChildren(TClip& clip, TPlayerState& s) {
  for (auto& [depth, item] : clip.List) {
    if (item.Clip) AdvanceClip(*item.Clip, s);
  }
}

// ---- definitions ----

// The data block of a JPEG tag with the markers it was stored with.
std::vector<std::uint8_t> WithMarkers(const TSWFDataObject& tag) {
  std::vector<std::uint8_t> out;
  out.reserve(tag.Data.size() + 6);
  auto marker = [&out](std::uint8_t code) {
    out.push_back(0xFF);
    out.push_back(code);
  };
  if (tag.JPEGLead == TSWFDataObject::TJPEGLead::ErroneousHeader) marker(0xD9);
  if (tag.JPEGLead != TSWFDataObject::TJPEGLead::None) marker(0xD8);
  out.insert(out.end(), tag.Data.begin(), tag.Data.end());
  if (tag.JPEGEndMarker) marker(0xD9);
  return out;
}

void KeepBitmap(std::uint16_t id, std::unique_ptr<TBitmapDef> def, TPlayerState& s);

void DefineJpeg(const TSWFDefineBits& tag, TPlayerState& s) {
  if (!JpegDecodingAvailable()) {
    // Known, so fills of it are not also reported as missing bitmaps.
    s.Dictionary.try_emplace(tag.CharacterId);
    s.Note("JPEG bitmaps are not drawn (this build has no JPEG decoder)");
    return;
  }
  auto def = std::make_unique<TBitmapDef>();
  def->Jpeg = true;
  static const std::vector<std::uint8_t> kNoTables;
  def->Data = JoinJpegStream(tag.TagID == 6 ? s.JpegTables : kNoTables, WithMarkers(tag));
  def->JpegSize = def->Data.size();
  if (tag.TagID == 35) {
    const auto& alpha = static_cast<const TSWFDefineBitsJPEG3&>(tag).AlphaData;
    def->Data.insert(def->Data.end(), alpha.begin(), alpha.end());
  }
  KeepBitmap(tag.CharacterId, std::move(def), s);
}

void DefineBitmap(const TSWFDefineBitsLossless& tag, TPlayerState& s) {
  auto def = std::make_unique<TBitmapDef>();
  def->Header.WithAlpha = tag.TagID == 36;
  def->Header.Format = tag.BitmapFormat;
  def->Header.Width = tag.BitmapWidth;
  def->Header.Height = tag.BitmapHeight;
  def->Header.ColorTableSize = tag.BitmapColorTableSize;
  def->Data = tag.Data;
  KeepBitmap(tag.CharacterId, std::move(def), s);
}

void KeepBitmap(std::uint16_t id, std::unique_ptr<TBitmapDef> def, TPlayerState& s) {
  def->Size = def->Data.size();
  s.InMemory.push_back(id);
  s.InMemoryBytes += def->Size;
  s.Dictionary[id].Bitmap = std::move(def);
  // The oldest data beyond the budget goes to the spill file, so a long movie does not hold all
  // its pictures in memory.
  while (s.InMemoryBytes > s.InMemoryBudget && !s.InMemory.empty()) {
    if (!s.Spill) s.Spill = std::tmpfile();
    if (!s.Spill) break;  // no spill file: keep everything in memory
    const std::uint16_t id = s.InMemory.front();
    s.InMemory.pop_front();
    auto found = s.Dictionary.find(id);
    if (found == s.Dictionary.end() || !found->second.Bitmap) continue;
    TBitmapDef& old = *found->second.Bitmap;
    if (old.SpillOffset >= 0 || old.Data.empty()) continue;
    // Written at its end, which SpillSize tracks.
    if (std::fseek(s.Spill, 0, SEEK_END) != 0 ||
        std::fwrite(old.Data.data(), 1, old.Data.size(), s.Spill) != old.Data.size()) {
      break;
    }
    old.SpillOffset = static_cast<std::int64_t>(s.SpillSize);
    s.SpillSize += old.Data.size();
    s.InMemoryBytes -= old.Data.size();
    std::vector<std::uint8_t>().swap(old.Data);
  }
}

void AddCommand(TSpriteDef& def, const TCommand& c) {
  if (c.Type == TCommand::kShowFrame) {
    def.Bounds.push_back(def.Commands.size());
    return;
  }
  def.Commands.push_back(c);
}

void HandleTag(const TSWFObject& tag, TClip* clip, TSpriteDef* sprite, TPlayerState& s);

void DefineSprite(const TSWFDefineSprite& tag, TPlayerState& s) {
  auto def = std::make_unique<TSpriteDef>();
  for (const auto& inner : tag.ControlTags) HandleTag(*inner, nullptr, def.get(), s);
  // The frames are those its ShowFrame tags close (tags after the last one never show); a sprite
  // without any still has the one frame its tags make.
  if (def->FrameCount() == 0) def->Bounds.push_back(def->Commands.size());
  s.Dictionary[tag.SpriteId].Sprite = std::move(def);
}

bool Defined(std::uint16_t id, TPlayerState& s) {
  if (s.Dictionary.count(id) == 0) return false;
  s.Note("a character identifier defined twice keeps its first definition");
  return true;
}

// Tags that draw nothing here and are said once; the rest that do not draw are left silently.
const char* UnsupportedNote(std::uint16_t code) {
  switch (code) {
    case 7:
    case 34:
      return "buttons are not drawn";
    case 11:
    case 33:
    case 37:
      return "text is not drawn";
    case 12:
    case 59:
      return "scripts (actions) are not run";
    case 14:
    case 15:
    case 17:
    case 18:
    case 19:
    case 45:
      return "sound is not played";
    case 46:
      return "morph shapes are not drawn";
    case 60:
    case 61:
      return "video is not drawn";
    case 57:
      return "imported assets are not loaded";
    default:
      return nullptr;
  }
}

// One tag of the root timeline (clip set) or of a sprite being defined (sprite set).
void HandleTag(const TSWFObject& tag, TClip* clip, TSpriteDef* sprite, TPlayerState& s) {
  auto command = [&](const TCommand& c) {
    if (sprite) {
      AddCommand(*sprite, c);
    } else if (clip) {
      Execute(*clip, c, s);
    }
  };
  switch (tag.TagID) {
    case 1:
      command(TCommand{});
      break;
    case 4:
    case 26:
      command(PlaceCommand(tag, s));
      break;
    case 5:
    case 28: {
      TCommand c;
      c.Type = TCommand::kRemove;
      c.Depth = tag.TagID == 5 ? static_cast<const TSWFRemoveObject&>(tag).Depth
                               : static_cast<const TSWFRemoveObject2&>(tag).Depth;
      command(c);
      break;
    }
    case 9:
      if (clip) {
        const TSWFRGB& c = static_cast<const TSWFSetBackgroundColor&>(tag).BackgroundColor();
        s.Background = c.R | (c.G << 8) | (c.B << 16) | 0xFF000000u;
      }
      break;
    case 2:
    case 22:
    case 32: {
      const auto& shape = static_cast<const TSWFDefineShape&>(tag);
      if (!Defined(shape.ShapeId, s)) {
        s.Dictionary[shape.ShapeId].Shape = TShapeReader(shape, s).Read();
      }
      break;
    }
    case 20:
    case 36: {
      const auto& bitmap = static_cast<const TSWFDefineBitsLossless&>(tag);
      if (!Defined(bitmap.CharacterId, s)) DefineBitmap(bitmap, s);
      break;
    }
    case 39: {
      const auto& def = static_cast<const TSWFDefineSprite&>(tag);
      if (!Defined(def.SpriteId, s)) DefineSprite(def, s);
      break;
    }
    case 6:
    case 21:
    case 35: {
      const auto& bitmap = static_cast<const TSWFDefineBits&>(tag);
      if (!Defined(bitmap.CharacterId, s)) DefineJpeg(bitmap, s);
      break;
    }
    case 14:
    case 15:
    case 18:
    case 19:
    case 45:
      if (!s.SoundListener) {
        s.Note(UnsupportedNote(tag.TagID));
      } else if (clip) {
        s.SoundListener->SoundTag(tag, s.Frame);
      } else if (tag.TagID != 14) {
        s.Note("sounds inside sprites are not played");
      } else {
        s.SoundListener->SoundTag(tag, s.Frame);
      }
      break;
    case 8:
      s.JpegTables = WithMarkers(static_cast<const TSWFJPEGTables&>(tag));
      break;
    default:
      if (const char* note = UnsupportedNote(tag.TagID)) s.Note(note);
      break;
  }
}

// ---- reading the file as it plays ----

// Reads up to count bytes; fewer only at the end of the data.
std::size_t ReadSome(TStream& in, void* buffer, std::size_t count) {
  std::size_t got = 0;
  while (got < count) {
    const std::size_t n = in.Read(static_cast<std::uint8_t*>(buffer) + got, count - got);
    if (n == 0) break;
    got += n;
  }
  return got;
}

// The next tag, parsed; null at the end of the data. Throws TStop when the data ends inside a
// tag or cannot be inflated.
std::unique_ptr<TSWFObject> NextTag(TPlayerState& s) {
  const std::uint64_t offset = s.Offset;
  std::uint8_t head[6];
  std::size_t got = ReadSome(*s.In, head, 2);
  if (got == 0) return nullptr;
  if (got < 2) throw TStop{"the data ends inside a tag header at " + At(offset)};
  const std::uint16_t code = static_cast<std::uint16_t>((head[0] | (head[1] << 8)) >> 6);
  std::uint64_t length = head[0] & 0x3F;
  std::size_t headSize = 2;
  if (length == 0x3F) {
    if (ReadSome(*s.In, head + 2, 4) < 4) {
      throw TStop{"the data ends inside a tag header at " + At(offset)};
    }
    length = head[2] | (head[3] << 8) | (head[4] << 16) | (std::uint64_t(head[5]) << 24);
    headSize = 6;
  }
  const std::string name = std::string(TagName(code)) + " at " + At(offset);
  if (length > kMaxTagBody) {
    throw TStop{name + " claims " + std::to_string(length) + " bytes, more than a player holds"};
  }
  std::vector<std::uint8_t> body;
  try {
    body = s.In->ReadBytes(static_cast<std::size_t>(length));
  } catch (const EZlibError& e) {
    throw TStop{"the compressed data is damaged inside " + name + " (" + e.what() + ")"};
  } catch (const EStreamError&) {
    throw TStop{"the data ends inside " + name};
  }
  s.Offset += headSize + length;
  std::unique_ptr<TSWFObject> tag = CreateTagByID(code);
  if (!tag) {
    s.Note("code " + std::to_string(code), "tags of code " + std::to_string(code) +
                                               " are not known and were skipped (first at " +
                                               At(offset) + ")");
    return std::make_unique<TSWFFrameLabel>();  // a tag that does nothing here
  }
  if (length == 0) return tag;
  try {
    TMemoryStream m(std::move(body));
    TBitsEngine be(m);
    tag->BodySize = static_cast<std::int32_t>(length);
    // The tag object lives only until it is turned into the player's own records, so the memory
    // budget of reading applies to each tag alone, not to the whole movie.
    s.Context.MemoryUsed = 0;
    ReadTagBody(*tag, be, s.Context);
  } catch (const std::exception& e) {
    if (++s.DamagedTags <= 20) {
      s.Notes.push_back(name + " could not be read and was skipped: " + e.what());
    } else if (s.DamagedTags == 21) {
      s.Notes.push_back("more damaged tags were skipped");
    }
    return std::make_unique<TSWFFrameLabel>();
  }
  return tag;
}

// Runs root tags up to the next ShowFrame; false when there is none.
bool AdvanceRoot(TPlayerState& s) {
  if (s.Ended) return false;
  AdvanceChildren(s.Root, s);
  try {
    while (std::unique_ptr<TSWFObject> tag = NextTag(s)) {
      if (tag->TagID == 0) break;
      if (tag->TagID == 1) {
        ++s.Frame;
        return true;
      }
      HandleTag(*tag, &s.Root, nullptr, s);
    }
  } catch (const TStop& stop) {
    s.StopReason = "stopped after frame " + std::to_string(s.Frame) + ": " + stop.Why;
  } catch (const EStreamError& e) {
    s.StopReason = "stopped after frame " + std::to_string(s.Frame) + ": " + e.what();
  }
  s.Ended = true;
  return false;
}

}  // namespace

// ---- TMoviePlayer ----

TMoviePlayer::TMoviePlayer(const std::string& fileName) {
  Open(std::make_unique<TFileStream>(fileName, TFileStream::Mode::Read));
}

TMoviePlayer::TMoviePlayer(std::unique_ptr<TStream> stream) {
  Open(std::move(stream));
}

TMoviePlayer::~TMoviePlayer() = default;

void TMoviePlayer::Open(std::unique_ptr<TStream> stream) {
  S = std::make_unique<TPlayerState>();
  TPlayerState& s = *S;
  s.InMemoryBudget = kInMemoryBitmapBudget;
  s.File = std::move(stream);
  if (!s.Header.CheckHeader(*s.File)) throw EPlayerError("not a SWF movie");
  s.File->SetPosition(0);
  try {
    s.Header.ReadHeader(*s.File, 1);
    s.In = s.File.get();
    if (s.Header.Compressed()) {
      s.Inflater = std::make_unique<TZDecompressionStream>(*s.File);
      s.In = s.Inflater.get();
    }
    s.Offset = 8 + s.Header.ReadHeader(*s.In, 2);
  } catch (const EStreamError& e) {
    throw EPlayerError(std::string("the movie's header is damaged: ") + e.what());
  }
  s.Context.SWFVersion = s.Header.Version();
  s.Context.ParseActions = false;
  const TRect& f = s.Header.FrameSize;
  const double w = std::round((double(f.Right) - f.Left) / 20.0);
  const double h = std::round((double(f.Bottom) - f.Top) / 20.0);
  if (w < 1 || h < 1 || w * h > double(kMaxStagePixels)) {
    throw EPlayerError("the movie's stage (" + std::to_string(int64_t(w)) + " x " +
                       std::to_string(int64_t(h)) + " pixels) cannot be played");
  }
  s.Width = static_cast<int>(w);
  s.Height = static_cast<int>(h);
  s.Pixels.assign(std::size_t(s.Width) * s.Height, s.Background);
}

int TMoviePlayer::Width() const {
  return S->Width;
}
int TMoviePlayer::Height() const {
  return S->Height;
}
double TMoviePlayer::FrameRate() const {
  return S->Header.FPS / 256.0;
}
std::uint8_t TMoviePlayer::Version() const {
  return S->Header.Version();
}
std::uint16_t TMoviePlayer::DeclaredFrameCount() const {
  return S->Header.FrameCount;
}

bool TMoviePlayer::SkipFrame() {
  return AdvanceRoot(*S);
}

bool TMoviePlayer::NextFrame() {
  if (!AdvanceRoot(*S)) return false;
  Draw();
  return true;
}

void TMoviePlayer::Draw() {
  S->Render();
  S->DrawnFrame = S->Frame;
}

int TMoviePlayer::FrameNumber() const {
  return S->DrawnFrame;
}
const std::uint8_t* TMoviePlayer::Pixels() const {
  return reinterpret_cast<const std::uint8_t*>(S->Pixels.data());
}
std::uint64_t TMoviePlayer::PixelsPainted() const {
  return S->Painted;
}
const std::vector<std::string>& TMoviePlayer::Notes() const {
  return S->Notes;
}
const std::string& TMoviePlayer::StopReason() const {
  return S->StopReason;
}
void TMoviePlayer::SetBitmapMemoryBudget(std::uint64_t bytes) {
  S->InMemoryBudget = bytes;
}
void TMoviePlayer::SetSoundListener(TSoundListener* listener) {
  S->SoundListener = listener;
}
std::uint64_t TMoviePlayer::SpilledBytes() const {
  return S->SpillSize;
}

}  // namespace kestrova
