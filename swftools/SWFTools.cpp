#include "swftools/SWFTools.h"

#include <algorithm>
#include <cmath>

namespace kestrova {

// ---- free functions ----

std::uint8_t GetBitsCount(std::uint32_t value) {
  if (value == 0 || value >= 0x80000000u) return 0;
  std::uint8_t c = 1;
  while (value >= (1u << c)) ++c;
  return c;
}

static std::uint32_t Abs32(std::int32_t v) {
  return v < 0 ? 0u - static_cast<std::uint32_t>(v) : static_cast<std::uint32_t>(v);
}

std::uint8_t GetBitsCount(std::int32_t value, std::uint8_t add) {
  if (value == 0) return 0;
  return static_cast<std::uint8_t>(GetBitsCount(Abs32(value)) + add);
}

std::uint32_t MaxAbs(std::int32_t a, std::int32_t b) {
  return std::max(Abs32(a), Abs32(b));
}

std::uint32_t MaxAbs(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d) {
  return std::max(MaxAbs(a, b), MaxAbs(c, d));
}

// The signed bit count of a group whose largest magnitude is m.
static std::uint8_t SignedCount(std::uint32_t m) {
  return m == 0 ? 0 : static_cast<std::uint8_t>(GetBitsCount(m) + 1);
}

bool CheckBit(std::uint32_t value, unsigned bit) {
  if (bit < 1 || bit > 16) return false;
  return (value & 0xFFFFu & (1u << (bit - 1))) != 0;
}

float WordToSingle(std::uint16_t w) {
  return static_cast<float>(w >> 8) + (w & 0xFF) / 256.0f;
}

std::uint16_t SingleToWord(float x) {
  if (std::isnan(x)) return 0;
  // Beyond what 16 bits can hold the value wraps anyway; the clamp keeps the conversion defined.
  const double whole = std::clamp(std::trunc(static_cast<double>(x)), -1e9, 1e9);
  const double fraction = static_cast<double>(x) - whole;
  const auto hi = static_cast<std::uint16_t>(static_cast<std::int64_t>(whole) * 256);
  const auto lo = static_cast<std::uint16_t>(std::llround(fraction * 256.0));
  return static_cast<std::uint16_t>(hi + lo);
}

std::int32_t SingleToFixed(float x) {
  if (std::isnan(x)) return 0;
  const double v = std::trunc(static_cast<double>(x) * 65536.0);
  if (v >= 2147483647.0) return INT32_MAX;
  if (v <= -2147483648.0) return INT32_MIN;
  return static_cast<std::int32_t>(v);
}

TSWFRGBRec SWFRGB(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return {r, g, b};
}

TSWFRGBRec SWFRGB(std::uint32_t c) {
  return {static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(c >> 8),
          static_cast<std::uint8_t>(c >> 16)};
}

TSWFRGBARec SWFRGBA(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a) {
  return {r, g, b, a};
}

TSWFRGBARec SWFRGBA(TColor c, std::uint8_t a) {
  const TSWFRGBRec rgb = SWFRGB(c);
  return {rgb.R, rgb.G, rgb.B, a};
}

TSWFRectRec RectToSWFRect(const TRect& rect, bool toTwips) {
  const std::int32_t f = toTwips ? 20 : 1;
  auto scale = [f](std::int32_t v) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(v) * static_cast<std::uint32_t>(f));
  };
  return {scale(std::min(rect.Left, rect.Right)), scale(std::max(rect.Left, rect.Right)),
          scale(std::min(rect.Top, rect.Bottom)), scale(std::max(rect.Top, rect.Bottom))};
}

TSWFMatrixRec MakeMatrix(bool hasScale, bool hasSkew, std::int32_t scaleX, std::int32_t scaleY,
                         std::int32_t skewX, std::int32_t skewY, std::int32_t translateX,
                         std::int32_t translateY) {
  return {hasScale, hasSkew, scaleX, scaleY, skewX, skewY, translateX, translateY};
}

// ---- Windows-1252 ----

// ---- TBitsEngine ----

void TBitsEngine::WriteBits(std::uint32_t value, std::uint8_t bits) {
  if (bits == 0) return;
  if (bits > 32) bits = 32;
  if (bits < 32) value &= (1u << bits) - 1;
  std::uint64_t acc = (static_cast<std::uint64_t>(PendingByte) << bits) | value;
  unsigned count = PendingBitCount + bits;
  while (count >= 8) {
    count -= 8;
    Stream.WriteByte(static_cast<std::uint8_t>(acc >> count));
  }
  PendingBitCount = static_cast<std::uint8_t>(count);
  PendingByte = static_cast<std::uint8_t>(acc & ((1u << count) - 1));
}

void TBitsEngine::FlushLastByte(bool write) {
  if (PendingBitCount == 0) return;
  if (write) Stream.WriteByte(static_cast<std::uint8_t>(PendingByte << (8 - PendingBitCount)));
  PendingByte = 0;
  PendingBitCount = 0;
}

void TBitsEngine::WriteByte(std::uint8_t b) {
  if (PendingBitCount == 0) {
    Stream.WriteByte(b);
  } else {
    WriteBits(b, 8);
  }
}

void TBitsEngine::WriteWord(std::uint16_t w) {
  FlushLastByte(true);
  Stream.WriteByte(static_cast<std::uint8_t>(w));
  Stream.WriteByte(static_cast<std::uint8_t>(w >> 8));
}

void TBitsEngine::WriteDWord(std::uint32_t d) {
  FlushLastByte(true);
  for (int i = 0; i < 4; ++i) Stream.WriteByte(static_cast<std::uint8_t>(d >> (8 * i)));
}

void TBitsEngine::WriteRGB(const TSWFRGBRec& c) {
  const std::uint8_t b[3] = {c.R, c.G, c.B};
  Stream.Write(b, 3);
}

void TBitsEngine::WriteRGBA(const TSWFRGBARec& c) {
  const std::uint8_t b[4] = {c.R, c.G, c.B, c.A};
  Stream.Write(b, 4);
}

// A signed field whose bit count is written in a count field of countBits bits holds at most
// 2^countBits - 1 bits; wider values saturate, since a truncated count would corrupt the record.
static std::int32_t Saturate(std::int32_t v, unsigned countBits) {
  // Counts are taken from magnitudes, so the range is symmetric.
  const std::int32_t limit = (std::int32_t(1) << ((1u << countBits) - 2)) - 1;
  return std::clamp(v, -limit, limit);
}

void TBitsEngine::WriteRect(const TSWFRectRec& rect) {
  const TSWFRectRec r{Saturate(rect.XMin, 5), Saturate(rect.XMax, 5), Saturate(rect.YMin, 5),
                      Saturate(rect.YMax, 5)};
  const std::uint8_t n = SignedCount(MaxAbs(r.XMin, r.XMax, r.YMin, r.YMax));
  WriteBits(n, 5);
  WriteBits(static_cast<std::uint32_t>(r.XMin), n);
  WriteBits(static_cast<std::uint32_t>(r.XMax), n);
  WriteBits(static_cast<std::uint32_t>(r.YMin), n);
  WriteBits(static_cast<std::uint32_t>(r.YMax), n);
  FlushLastByte(true);
}

void TBitsEngine::WriteRect(const TRect& r) {
  WriteRect(RectToSWFRect(r, false));
}

void TBitsEngine::WriteMatrix(const TSWFMatrixRec& matrix) {
  const TSWFMatrixRec m =
      MakeMatrix(matrix.HasScale, matrix.HasSkew, Saturate(matrix.ScaleX, 5),
                 Saturate(matrix.ScaleY, 5), Saturate(matrix.SkewX, 5), Saturate(matrix.SkewY, 5),
                 Saturate(matrix.TranslateX, 5), Saturate(matrix.TranslateY, 5));
  WriteBit(m.HasScale);
  if (m.HasScale) {
    const std::uint8_t n = SignedCount(MaxAbs(m.ScaleX, m.ScaleY));
    WriteBits(n, 5);
    WriteBits(static_cast<std::uint32_t>(m.ScaleX), n);
    WriteBits(static_cast<std::uint32_t>(m.ScaleY), n);
  }
  WriteBit(m.HasSkew);
  if (m.HasSkew) {
    const std::uint8_t n = SignedCount(MaxAbs(m.SkewX, m.SkewY));
    WriteBits(n, 5);
    WriteBits(static_cast<std::uint32_t>(m.SkewY), n);
    WriteBits(static_cast<std::uint32_t>(m.SkewX), n);
  }
  const std::uint8_t n = SignedCount(MaxAbs(m.TranslateX, m.TranslateY));
  WriteBits(n, 5);
  if (n > 0) {
    WriteBits(static_cast<std::uint32_t>(m.TranslateX), n);
    WriteBits(static_cast<std::uint32_t>(m.TranslateY), n);
  }
  FlushLastByte(true);
}

void TBitsEngine::WriteColorTransform(const TSWFColorTransformRec& cx) {
  TSWFColorTransformRec c = cx;
  for (std::int16_t* term :
       {&c.AddR, &c.AddG, &c.AddB, &c.AddA, &c.MultR, &c.MultG, &c.MultB, &c.MultA}) {
    *term = static_cast<std::int16_t>(Saturate(*term, 4));
  }
  std::uint32_t addMax = 0, multMax = 0;
  if (c.HasAdd) {
    addMax = MaxAbs(c.AddR, c.AddG, c.AddB, c.HasAlpha ? c.AddA : 0);
  }
  if (c.HasMult) {
    multMax = MaxAbs(c.MultR, c.MultG, c.MultB, c.HasAlpha ? c.MultA : 0);
  }
  const std::uint8_t n = std::max(SignedCount(addMax), SignedCount(multMax));
  WriteBit(c.HasAdd);
  WriteBit(c.HasMult);
  if (c.HasAdd || c.HasMult) {
    WriteBits(n, 4);
    auto terms = [&](std::int16_t r, std::int16_t g, std::int16_t b, std::int16_t a) {
      WriteBits(static_cast<std::uint32_t>(r), n);
      WriteBits(static_cast<std::uint32_t>(g), n);
      WriteBits(static_cast<std::uint32_t>(b), n);
      if (c.HasAlpha) WriteBits(static_cast<std::uint32_t>(a), n);
    };
    if (c.HasMult) terms(c.MultR, c.MultG, c.MultB, c.MultA);
    if (c.HasAdd) terms(c.AddR, c.AddG, c.AddB, c.AddA);
  }
  FlushLastByte(true);
}

void TBitsEngine::WriteString(std::string_view s, bool nullTerminated, bool utf8) {
  if (utf8 || Cp1252StringsToUtf8) {
    const std::string converted = Cp1252ToUtf8(s);
    WriteBytes(converted.data(), static_cast<std::int64_t>(converted.size()), nullTerminated);
  } else {
    WriteBytes(s.data(), static_cast<std::int64_t>(s.size()), nullTerminated);
  }
}

void TBitsEngine::WriteBytes(const void* data, std::int64_t count, bool nullTerminated) {
  if (count > 0) {
    if (PendingBitCount == 0) {
      Stream.Write(data, static_cast<std::size_t>(count));
    } else {
      const auto* p = static_cast<const std::uint8_t*>(data);
      for (std::int64_t i = 0; i < count; ++i) WriteByte(p[i]);
    }
  }
  if (nullTerminated) WriteByte(0);
}

std::uint32_t TBitsEngine::ReadBits(int n) {
  if (n <= 0) return 0;
  if (n > 32) n = 32;
  std::uint64_t result = 0;
  while (n > PendingBitCount) {
    n -= PendingBitCount;
    result |= static_cast<std::uint64_t>(PendingByte) << n;
    PendingByte = ReadByte();
    PendingBitCount = 8;
  }
  PendingBitCount = static_cast<std::uint8_t>(PendingBitCount - n);
  result |= PendingByte >> PendingBitCount;
  PendingByte &= static_cast<std::uint8_t>((1u << PendingBitCount) - 1);
  return static_cast<std::uint32_t>(result);
}

std::int32_t TBitsEngine::ReadSBits(int n) {
  if (n <= 0) return 0;
  std::uint32_t v = ReadBits(n);
  if (n < 32 && (v & (1u << (n - 1)))) v |= ~((1u << n) - 1);
  return static_cast<std::int32_t>(v);
}

std::uint16_t TBitsEngine::ReadWord() {
  std::uint8_t b[2];
  Stream.ReadBuffer(b, 2);
  return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
}

std::uint32_t TBitsEngine::ReadDWord() {
  std::uint8_t b[4];
  Stream.ReadBuffer(b, 4);
  return b[0] | (b[1] << 8) | (b[2] << 16) | (std::uint32_t(b[3]) << 24);
}

TSWFRGBRec TBitsEngine::ReadRGB() {
  std::uint8_t b[3];
  Stream.ReadBuffer(b, 3);
  return {b[0], b[1], b[2]};
}

TSWFRGBARec TBitsEngine::ReadRGBA() {
  std::uint8_t b[4];
  Stream.ReadBuffer(b, 4);
  return {b[0], b[1], b[2], b[3]};
}

TRect TBitsEngine::ReadRect() {
  const int n = static_cast<int>(ReadBits(5));
  TRect r;
  r.Left = ReadSBits(n);
  r.Right = ReadSBits(n);
  r.Top = ReadSBits(n);
  r.Bottom = ReadSBits(n);
  FlushLastByte(false);
  return r;
}

TSWFMatrixRec TBitsEngine::ReadMatrix() {
  TSWFMatrixRec m;
  m.HasScale = ReadBits(1) == 1;
  if (m.HasScale) {
    const int n = static_cast<int>(ReadBits(5));
    m.ScaleX = ReadSBits(n);
    m.ScaleY = ReadSBits(n);
  }
  m.HasSkew = ReadBits(1) == 1;
  if (m.HasSkew) {
    const int n = static_cast<int>(ReadBits(5));
    m.SkewY = ReadSBits(n);
    m.SkewX = ReadSBits(n);
  }
  const int n = static_cast<int>(ReadBits(5));
  m.TranslateX = ReadSBits(n);
  m.TranslateY = ReadSBits(n);
  FlushLastByte(false);
  return m;
}

TSWFColorTransformRec TBitsEngine::ReadColorTransform(bool withAlpha) {
  TSWFColorTransformRec c;
  c.HasAlpha = withAlpha;
  c.HasAdd = ReadBits(1) == 1;
  c.HasMult = ReadBits(1) == 1;
  if (c.HasAdd || c.HasMult) {
    const int n = static_cast<int>(ReadBits(4));
    auto term = [&] { return static_cast<std::int16_t>(ReadSBits(n)); };
    if (c.HasMult) {
      c.MultR = term();
      c.MultG = term();
      c.MultB = term();
      if (withAlpha) c.MultA = term();
    }
    if (c.HasAdd) {
      c.AddR = term();
      c.AddG = term();
      c.AddB = term();
      if (withAlpha) c.AddA = term();
    }
  }
  FlushLastByte(false);
  return c;
}

std::string TBitsEngine::ReadString() {
  std::string s;
  for (std::uint8_t b = ReadByte(); b != 0; b = ReadByte()) s += static_cast<char>(b);
  return s;
}

std::string TBitsEngine::ReadFixedString(std::uint8_t len) {
  std::string s(len, '\0');
  Stream.ReadBuffer(s.data(), len);
  const std::size_t zero = s.find('\0');
  if (zero != std::string::npos) s.resize(zero);
  return s;
}

// ---- value classes ----

void TSWFRect::NormaliseX() {
  if (FXMax < FXMin) std::swap(FXMin, FXMax);
}

void TSWFRect::NormaliseY() {
  if (FYMax < FYMin) std::swap(FYMin, FYMax);
}

void TSWFRect::SetRec(const TSWFRectRec& r) {
  FXMin = r.XMin;
  FXMax = r.XMax;
  FYMin = r.YMin;
  FYMax = r.YMax;
  NormaliseX();
  NormaliseY();
}

void TSWFRect::SetRect(const TRect& r) {
  SetRec({r.Left, r.Right, r.Top, r.Bottom});
}

void TSWFRGBA::SetRGBA(std::uint32_t value) {
  TSWFRGB::SetRGB(SWFRGB(value));
  SetA(static_cast<std::uint8_t>(value >> 24));
}

void TSWFRGBA::Assign(const TSWFRGB& other) {
  if (const auto* rgba = dynamic_cast<const TSWFRGBA*>(&other)) {
    SetRGBA(rgba->GetRGBA());
  } else {
    SetRGB(other.GetRec());
  }
}

TSWFMatrixRec TSWFMatrix::GetRec() const {
  return {HasScale, HasSkew, FScaleX, FScaleY, FSkewX, FSkewY, TranslateX, TranslateY};
}

void TSWFMatrix::SetRec(const TSWFMatrixRec& r) {
  HasScale = r.HasScale;
  HasSkew = r.HasSkew;
  FScaleX = r.ScaleX;
  FScaleY = r.ScaleY;
  FSkewX = r.SkewX;
  FSkewY = r.SkewY;
  TranslateX = r.TranslateX;
  TranslateY = r.TranslateY;
}

TSWFColorTransformRec TSWFColorTransform::GetRec() const {
  TSWFColorTransformRec r;
  r.HasAlpha = HasAlpha;
  r.HasAdd = HasAdd;
  if (HasAdd) {
    r.AddR = static_cast<std::int16_t>(FAddR);
    r.AddG = static_cast<std::int16_t>(FAddG);
    r.AddB = static_cast<std::int16_t>(FAddB);
    if (HasAlpha) r.AddA = static_cast<std::int16_t>(FAddA);
  }
  r.HasMult = HasMult;
  if (HasMult) {
    r.MultR = static_cast<std::int16_t>(FMultR);
    r.MultG = static_cast<std::int16_t>(FMultG);
    r.MultB = static_cast<std::int16_t>(FMultB);
    if (HasAlpha) r.MultA = static_cast<std::int16_t>(FMultA);
  }
  return r;
}

void TSWFColorTransform::SetRec(const TSWFColorTransformRec& r) {
  HasAlpha = r.HasAlpha;
  if (r.HasAdd) {
    SetAddR(r.AddR);
    SetAddG(r.AddG);
    SetAddB(r.AddB);
    if (r.HasAlpha) SetAddA(r.AddA);
  } else {
    HasAdd = false;
  }
  if (r.HasMult) {
    SetMultR(r.MultR);
    SetMultG(r.MultG);
    SetMultB(r.MultB);
    if (r.HasAlpha) SetMultA(r.MultA);
  } else {
    HasMult = false;
  }
}

}  // namespace kestrova
