// The player's inner workings, shared by the timeline (Player.cpp) and the drawing (Render.cpp).
// Not part of the library's interface.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "player/LosslessBitmap.h"
#include "player/Player.h"
#include "swfstreams/SWFStreams.h"
#include "swftools/ZStream.h"

namespace kestrova {

// x' = A x + C y + TX; y' = B x + D y + TY.
struct TAffine {
  double A = 1, B = 0, C = 0, D = 1, TX = 0, TY = 0;
  bool operator==(const TAffine&) const = default;
  // This after o: (this * o)(p) = this(o(p)).
  TAffine operator*(const TAffine& o) const {
    return {A * o.A + C * o.B, B * o.A + D * o.B,        A * o.C + C * o.D,
            B * o.C + D * o.D, A * o.TX + C * o.TY + TX, B * o.TX + D * o.TY + TY};
  }
  bool Separable() const { return B == 0 && C == 0; }
  // False for a matrix that flattens the plane (nothing it maps can be seen).
  bool Invert(TAffine& out) const;
  static TAffine FromRec(const TSWFMatrixRec& r);
};

// Channel' = channel * Mul / 256 + Add, clamped to 0..255.
struct TCxform {
  std::int32_t MulR = 256, MulG = 256, MulB = 256, MulA = 256;
  std::int32_t AddR = 0, AddG = 0, AddB = 0, AddA = 0;
  bool operator==(const TCxform&) const = default;
  bool Identity() const { return *this == TCxform{}; }
  // This after inner.
  TCxform operator*(const TCxform& inner) const;
  static TCxform FromRec(const TSWFColorTransformRec& r);
  // Applies to a premultiplied texel.
  std::uint32_t Apply(std::uint32_t texel) const;
};

struct TFillInfo {
  enum Kind : std::uint8_t { kNone, kSolid, kBitmap };
  Kind Type = kNone;
  std::uint32_t Color = 0;  // premultiplied, kSolid
  std::uint16_t BitmapId = 0;
  bool Clipped = true;
  TAffine Matrix;  // bitmap texels to shape twips
};

// One filled rectangle of a shape, in shape twips.
struct TRectPiece {
  double X0 = 0, Y0 = 0, X1 = 0, Y1 = 0;
  TFillInfo Fill;
};

struct TShapeInfo {
  std::vector<TRectPiece> Pieces;
};

struct TBitmapDef {
  TLosslessHeader Header;
  // A JPEG picture's Data is its whole stream (tables joined in) followed by the zlib data of its
  // alpha plane, if any; a lossless bitmap's is its zlib data.
  bool Jpeg = false;
  std::uint64_t JpegSize = 0;
  std::vector<std::uint8_t> Data;  // while in memory
  std::int64_t SpillOffset = -1;   // where the data went in the spill file
  std::uint64_t Size = 0;
  bool Broken = false;  // could not be unpacked: said once, never tried again
};

// A display-list change of a timeline, kept compact: sprites hold their timelines as these.
struct TCommand {
  enum Kind : std::uint8_t { kPlace, kRemove, kShowFrame };
  Kind Type = kShowFrame;
  bool HasCharacter = false, HasMatrix = false, HasCxform = false, Move = false;
  std::uint16_t Depth = 0, CharacterId = 0, ClipDepth = 0;
  TAffine Matrix;
  TCxform Cxform;
};

struct TSpriteDef {
  std::vector<TCommand> Commands;
  // Frame i (from 1) runs the commands [Bounds[i - 1], Bounds[i]).
  std::vector<std::size_t> Bounds{0};
  int FrameCount() const { return static_cast<int>(Bounds.size()) - 1; }
};

struct TCharacter {
  std::unique_ptr<TShapeInfo> Shape;
  std::unique_ptr<TBitmapDef> Bitmap;
  std::unique_ptr<TSpriteDef> Sprite;
};

struct TClip;

// Counts the display items alive, so a damaged movie whose sprites place each other over and over
// cannot fill the memory.
class TLiveCount {
 public:
  TLiveCount() = default;
  explicit TLiveCount(std::uint64_t& counter) : FCounter(&counter) { ++counter; }
  TLiveCount(TLiveCount&& o) noexcept : FCounter(o.FCounter) { o.FCounter = nullptr; }
  TLiveCount& operator=(TLiveCount&& o) noexcept {
    if (this != &o) {
      Release();
      FCounter = o.FCounter;
      o.FCounter = nullptr;
    }
    return *this;
  }
  ~TLiveCount() { Release(); }

 private:
  void Release() {
    if (FCounter) --*FCounter;
    FCounter = nullptr;
  }
  std::uint64_t* FCounter = nullptr;
};

struct TDisplayItem {
  TLiveCount Live;
  std::uint16_t CharacterId = 0;
  std::uint64_t Instance = 0;  // new for every placement, so a diff sees replacements
  TAffine Matrix;
  TCxform Cxform;
  std::uint16_t ClipDepth = 0;
  std::unique_ptr<TClip> Clip;  // the movie clip of a sprite
};

struct TClip {
  const TSpriteDef* Def = nullptr;
  int Frame = 0;  // the frame on show, from 1
  int Level = 0;  // how many clips enclose this one (the root's is 0)
  std::map<std::uint16_t, TDisplayItem> List;
};

// Pixel rectangle [X0, X1) x [Y0, Y1).
struct TIRect {
  int X0 = 0, Y0 = 0, X1 = 0, Y1 = 0;
  bool Empty() const { return X0 >= X1 || Y0 >= Y1; }
  TIRect Intersect(const TIRect& o) const;
  bool operator==(const TIRect&) const = default;
};

// One rectangle of one shape as it stands on the stage this frame.
struct TRenderItem {
  std::uint64_t Instance = 0;
  std::uint32_t Piece = 0;
  const TRectPiece* Rect = nullptr;
  TAffine Matrix;  // shape twips to stage twips
  TCxform Cxform;
  TIRect Bounds;
  bool SameAs(const TRenderItem& o) const {
    return Rect == o.Rect && Matrix == o.Matrix && Cxform == o.Cxform;
  }
};

struct TTextureEntry {
  std::shared_ptr<const TTexture> Texture;
  std::uint64_t LastUse = 0;
};

struct TPlayerState {
  // ---- the file ----
  std::unique_ptr<TStream> File;
  std::unique_ptr<TZDecompressionStream> Inflater;
  TStream* In = nullptr;  // File or Inflater
  TSWFStreamReader Header;
  std::uint64_t Offset = 0;  // of the next tag in the uncompressed file
  TSWFReadContext Context;

  // ---- the timeline ----
  int Width = 0, Height = 0;
  std::unordered_map<std::uint16_t, TCharacter> Dictionary;
  TClip Root;
  std::uint64_t NextInstance = 1;
  std::uint64_t LiveItems = 0;
  std::uint32_t Background = 0xFFFFFFFF;  // RGBA bytes; white until the movie sets one
  bool Ended = false;
  int Frame = 0;  // frames run
  std::string StopReason;
  std::vector<std::string> Notes;
  std::set<std::string> NoteKinds;
  int DamagedTags = 0;
  std::vector<std::uint8_t> JpegTables;
  TSoundListener* SoundListener = nullptr;  // of DefineBits pictures, with their markers

  // ---- compressed bitmaps beyond the memory budget go to a spill file ----
  std::FILE* Spill = nullptr;
  std::uint64_t SpillSize = 0;
  std::deque<std::uint16_t> InMemory;  // bitmaps whose data is held, oldest first
  std::uint64_t InMemoryBytes = 0;
  std::uint64_t InMemoryBudget = 0;  // Open sets kInMemoryBitmapBudget; the caller may set another

  // ---- the picture ----
  std::vector<std::uint32_t> Pixels;
  std::vector<TRenderItem> Shown;  // what Pixels show, in drawing order
  bool Drawn = false;
  std::uint32_t DrawnBackground = 0;
  int DrawnFrame = 0;
  std::uint64_t Painted = 0;
  std::unordered_map<std::uint16_t, TTextureEntry> Textures;
  std::uint64_t TextureBytes = 0;
  std::uint64_t Uses = 0;

  ~TPlayerState() {
    if (Spill) std::fclose(Spill);
  }

  // Says a kind of thing once per movie.
  void Note(const std::string& kind, const std::string& text);
  void Note(const std::string& text) { Note(text, text); }

  // Render.cpp: brings Pixels up to the display list.
  void Render();
  // The unpacked bitmap, or null when it is missing or broken (said once).
  std::shared_ptr<const TTexture> Texture(std::uint16_t id);
};

// Budgets: compressed bitmap data held in memory before it goes to the spill file, and unpacked
// bitmaps kept after they left the stage.
inline constexpr std::uint64_t kInMemoryBitmapBudget = 8ull << 20;
inline constexpr std::uint64_t kTextureCacheBudget = 64ull << 20;
// Display items alive at once, and clips inside clips, before placements are refused: a damaged
// movie whose sprites place each other can neither fill the memory nor the stack.
inline constexpr std::uint64_t kMaxDisplayItems = 1u << 14;
inline constexpr int kMaxNesting = 32;

}  // namespace kestrova
