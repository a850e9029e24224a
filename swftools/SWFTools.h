// The bit engine and the primitive records of the SWF format: bit fields packed most significant
// bit first, little-endian integers, strings, colours, RECT, MATRIX and CXFORM.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "swftools/Stream.h"
#include "swftools/Text.h"

namespace kestrova {

// Platform rectangle.
struct TRect {
  std::int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
  bool operator==(const TRect&) const = default;
};
// Platform colour: red in the low byte, then green, then blue.
using TColor = std::uint32_t;

struct TSWFRectRec {
  std::int32_t XMin = 0, XMax = 0, YMin = 0, YMax = 0;
  bool operator==(const TSWFRectRec&) const = default;
};
struct TSWFRGBRec {
  std::uint8_t R = 0, G = 0, B = 0;
  bool operator==(const TSWFRGBRec&) const = default;
};
struct TSWFRGBARec {
  std::uint8_t R = 0, G = 0, B = 0, A = 0;
  bool operator==(const TSWFRGBARec&) const = default;
  std::uint32_t Value() const { return R | (G << 8) | (B << 16) | (std::uint32_t(A) << 24); }
};
struct TSWFMatrixRec {
  bool HasScale = false, HasSkew = false;
  std::int32_t ScaleX = 0, ScaleY = 0;          // 16.16 fixed
  std::int32_t SkewX = 0, SkewY = 0;            // SkewY is RotateSkew0, SkewX RotateSkew1
  std::int32_t TranslateX = 0, TranslateY = 0;  // twips
  bool operator==(const TSWFMatrixRec&) const = default;
};
struct TSWFColorTransformRec {
  std::int16_t AddR = 0, AddG = 0, AddB = 0, AddA = 0;
  std::int16_t MultR = 0, MultG = 0, MultB = 0, MultA = 0;
  bool HasAdd = false, HasMult = false, HasAlpha = false;
  bool operator==(const TSWFColorTransformRec&) const = default;
};

// ---- free functions ----
std::uint8_t GetBitsCount(std::uint32_t value);
std::uint8_t GetBitsCount(std::int32_t value, std::uint8_t add);
std::uint32_t MaxAbs(std::int32_t a, std::int32_t b);
std::uint32_t MaxAbs(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d);
bool CheckBit(std::uint32_t value, unsigned bit);
float WordToSingle(std::uint16_t w);
std::uint16_t SingleToWord(float x);
std::int32_t SingleToFixed(float x);
TSWFRGBRec SWFRGB(std::uint8_t r, std::uint8_t g, std::uint8_t b);
TSWFRGBRec SWFRGB(std::uint32_t colorOrValue);
TSWFRGBARec SWFRGBA(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a);
TSWFRGBARec SWFRGBA(TColor color, std::uint8_t a);
TSWFRectRec RectToSWFRect(const TRect& rect, bool toTwips);
TSWFMatrixRec MakeMatrix(bool hasScale, bool hasSkew, std::int32_t scaleX, std::int32_t scaleY,
                         std::int32_t skewX, std::int32_t skewY, std::int32_t translateX,
                         std::int32_t translateY);

// Writes and reads SWF bit fields and primitive records over a stream it does not own.
// It raises nothing of its own; stream errors propagate unchanged.
class TBitsEngine {
 public:
  explicit TBitsEngine(TStream& stream) : Stream(stream) {}
  // An engine on stream with the writing settings (version, string policy) of another: for a
  // body written into a stream of its own before its length is known.
  TBitsEngine(TStream& stream, const TBitsEngine& settingsOf)
      : Stream(stream),
        SWFVersion(settingsOf.SWFVersion),
        Cp1252StringsToUtf8(settingsOf.Cp1252StringsToUtf8) {}

  TStream& Stream;
  std::uint8_t PendingByte = 0;
  std::uint8_t PendingBitCount = 0;
  // The version of the movie being written, for tags whose layout depends on it; 0 when unknown
  // (such a tag then uses the lowest version that holds it).
  std::uint8_t SWFVersion = 0;
  // Set when a movie read before version 6, whose strings are Windows-1252, is written as
  // version 6 or later: every string WriteString writes is then converted to UTF-8.
  bool Cp1252StringsToUtf8 = false;

  void WriteBits(std::uint32_t value, std::uint8_t bits);
  void WriteBit(bool flag) { WriteBits(flag ? 1u : 0u, 1); }
  void FlushLastByte(bool write = true);
  void WriteByte(std::uint8_t b);
  void WriteWord(std::uint16_t w);
  void WriteDWord(std::uint32_t d);
  void WriteRGB(const TSWFRGBRec& c);
  void WriteRGBA(const TSWFRGBARec& c);
  void WriteRect(const TSWFRectRec& r);
  void WriteRect(const TRect& r);
  void WriteMatrix(const TSWFMatrixRec& m);
  void WriteColorTransform(const TSWFColorTransformRec& c);
  // utf8 (or Cp1252StringsToUtf8): convert the Windows-1252 text to UTF-8 first.
  void WriteString(std::string_view s, bool nullTerminated = true, bool utf8 = false);
  void WriteBytes(const void* data, std::int64_t count, bool nullTerminated = false);

  std::uint32_t ReadBits(int n);
  std::int32_t ReadSBits(int n);
  std::uint8_t ReadByte() { return Stream.ReadByte(); }
  std::uint16_t ReadWord();
  std::uint32_t ReadDWord();
  TSWFRGBRec ReadRGB();
  TSWFRGBARec ReadRGBA();
  TRect ReadRect();
  TSWFMatrixRec ReadMatrix();
  TSWFColorTransformRec ReadColorTransform(bool withAlpha);
  std::string ReadString();
  std::string ReadFixedString(std::uint8_t len);
};

// ---- value classes ----

class TSWFRect {
 public:
  std::int32_t XMax() const { return FXMax; }
  std::int32_t XMin() const { return FXMin; }
  std::int32_t YMax() const { return FYMax; }
  std::int32_t YMin() const { return FYMin; }
  void SetXMin(std::int32_t v) {
    FXMin = v;
    NormaliseX();
  }
  void SetXMax(std::int32_t v) {
    FXMax = v;
    NormaliseX();
  }
  void SetYMin(std::int32_t v) {
    FYMin = v;
    NormaliseY();
  }
  void SetYMax(std::int32_t v) {
    FYMax = v;
    NormaliseY();
  }
  void SetRec(const TSWFRectRec& r);
  void SetRect(const TRect& r);
  TSWFRectRec GetRec() const { return {FXMin, FXMax, FYMin, FYMax}; }
  TRect GetRect() const { return {FXMin, FYMin, FXMax, FYMax}; }
  void Assign(const TSWFRect& other) { SetRec(other.GetRec()); }
  // Equal when they write the same record.
  bool operator==(const TSWFRect& other) const { return GetRec() == other.GetRec(); }

 private:
  void NormaliseX();
  void NormaliseY();
  std::int32_t FXMax = 0, FXMin = 0, FYMax = 0, FYMin = 0;
};

class TSWFRGB {
 public:
  virtual ~TSWFRGB() = default;
  std::uint8_t B = 0, G = 0, R = 0;
  virtual void SetRGB(const TSWFRGBRec& c) {
    R = c.R;
    G = c.G;
    B = c.B;
  }
  virtual void Assign(const TSWFRGB& other) { SetRGB(other.GetRec()); }
  TSWFRGBRec GetRec() const { return {R, G, B}; }
  bool operator==(const TSWFRGB& other) const { return GetRec() == other.GetRec(); }
};

class TSWFRGBA : public TSWFRGB {
 public:
  explicit TSWFRGBA(bool hasAlpha = false) { SetHasAlpha(hasAlpha); }
  std::uint8_t A() const { return FA; }
  bool HasAlpha() const { return FHasAlpha; }
  void SetA(std::uint8_t v) {
    FA = v;
    if (v != 255) FHasAlpha = true;
  }
  void SetHasAlpha(bool v) {
    FHasAlpha = v;
    if (!v) FA = 255;
  }
  void SetRGB(const TSWFRGBRec& c) override {
    TSWFRGB::SetRGB(c);
    SetA(255);
  }
  void SetRGBA(std::uint32_t value);
  std::uint32_t GetRGBA() const { return R | (G << 8) | (B << 16) | (std::uint32_t(FA) << 24); }
  TSWFRGBARec GetRGBARec() const { return {R, G, B, FA}; }
  void Assign(const TSWFRGB& other) override;
  bool operator==(const TSWFRGBA& other) const {
    return GetRGBARec() == other.GetRGBARec() && FHasAlpha == other.FHasAlpha;
  }

 private:
  std::uint8_t FA = 0;
  bool FHasAlpha = false;
};

class TSWFMatrix {
 public:
  bool HasScale = false, HasSkew = false;
  std::int32_t TranslateX = 0, TranslateY = 0;
  std::int32_t ScaleX() const { return FScaleX; }
  std::int32_t ScaleY() const { return FScaleY; }
  std::int32_t SkewX() const { return FSkewX; }
  std::int32_t SkewY() const { return FSkewY; }
  void SetScaleX(float v) {
    FScaleX = SingleToFixed(v);
    HasScale = true;
  }
  void SetScaleY(float v) {
    FScaleY = SingleToFixed(v);
    HasScale = true;
  }
  void SetSkewX(float v) {
    FSkewX = SingleToFixed(v);
    HasSkew = true;
  }
  void SetSkewY(float v) {
    FSkewY = SingleToFixed(v);
    HasSkew = true;
  }
  void SetScale(float scaleX, float scaleY) {
    SetScaleX(scaleX);
    SetScaleY(scaleY);
  }
  void SetSkew(float skewX, float skewY) {
    SetSkewX(skewX);
    SetSkewY(skewY);
  }
  void SetTranslate(std::int32_t x, std::int32_t y) {
    TranslateX = x;
    TranslateY = y;
  }
  TSWFMatrixRec GetRec() const;
  void SetRec(const TSWFMatrixRec& r);
  void Assign(const TSWFMatrix& other) { SetRec(other.GetRec()); }
  // Equal when they write the same record.
  bool operator==(const TSWFMatrix& other) const { return GetRec() == other.GetRec(); }

 private:
  std::int32_t FScaleX = 0, FScaleY = 0, FSkewX = 0, FSkewY = 0;
};

class TSWFColorTransform {
 public:
  bool HasAdd = false, HasAlpha = false, HasMult = false;
  std::int32_t AddA() const { return FAddA; }
  std::int32_t AddB() const { return FAddB; }
  std::int32_t AddG() const { return FAddG; }
  std::int32_t AddR() const { return FAddR; }
  std::int32_t MultA() const { return FMultA; }
  std::int32_t MultB() const { return FMultB; }
  std::int32_t MultG() const { return FMultG; }
  std::int32_t MultR() const { return FMultR; }
  void SetAddR(std::int32_t v) {
    FAddR = v;
    HasAdd = true;
  }
  void SetAddG(std::int32_t v) {
    FAddG = v;
    HasAdd = true;
  }
  void SetAddB(std::int32_t v) {
    FAddB = v;
    HasAdd = true;
  }
  void SetAddA(std::int32_t v) {
    FAddA = v;
    HasAdd = true;
    HasAlpha = true;
  }
  void SetMultR(std::int32_t v) {
    FMultR = v;
    HasMult = true;
  }
  void SetMultG(std::int32_t v) {
    FMultG = v;
    HasMult = true;
  }
  void SetMultB(std::int32_t v) {
    FMultB = v;
    HasMult = true;
  }
  void SetMultA(std::int32_t v) {
    FMultA = v;
    HasMult = true;
    HasAlpha = true;
  }
  TSWFColorTransformRec GetRec() const;
  void SetRec(const TSWFColorTransformRec& r);
  void Assign(const TSWFColorTransform& other) { SetRec(other.GetRec()); }
  // Equal when they write the same record.
  bool operator==(const TSWFColorTransform& other) const { return GetRec() == other.GetRec(); }

 private:
  std::int32_t FAddA = 0, FAddB = 0, FAddG = 0, FAddR = 0;
  std::int32_t FMultA = 0, FMultB = 0, FMultG = 0, FMultR = 0;
};

}  // namespace kestrova
