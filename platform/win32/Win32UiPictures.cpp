#include "platform/win32/Win32UiPictures.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace kestrova::platform::win32 {

namespace {

struct TLook {
  COLORREF Top, Bottom;
  const wchar_t* Text;
};

enum class TMark { None, Dot, Square, Cross };

COLORREF Darker(COLORREF c, int percent) {
  return RGB(GetRValue(c) * percent / 100, GetGValue(c) * percent / 100,
             GetBValue(c) * percent / 100);
}

COLORREF Mix(COLORREF a, COLORREF b, int i, int n) {
  const auto mix = [&](int x, int y) { return n <= 0 ? x : x + (y - x) * i / n; };
  return RGB(mix(GetRValue(a), GetRValue(b)), mix(GetGValue(a), GetGValue(b)),
             mix(GetBValue(a), GetBValue(b)));
}

// GDI objects made for one drawing and deleted with it.
class TGdi {
 public:
  TGdi(HDC dc, HGDIOBJ object) : FDc(dc), FObject(object), FOld(SelectObject(dc, object)) {}
  ~TGdi() {
    SelectObject(FDc, FOld);
    DeleteObject(FObject);
  }
  TGdi(const TGdi&) = delete;
  TGdi& operator=(const TGdi&) = delete;

 private:
  HDC FDc;
  HGDIOBJ FObject, FOld;
};

// A gradient, one line at a time (GradientFill would add a library for this alone).
void FillGradient(HDC dc, const RECT& r, COLORREF from, COLORREF to, bool vertical) {
  const int n = vertical ? r.bottom - r.top : r.right - r.left;
  for (int i = 0; i < n; ++i) {
    const RECT line = vertical ? RECT{r.left, r.top + i, r.right, r.top + i + 1}
                               : RECT{r.left + i, r.top, r.left + i + 1, r.bottom};
    HBRUSH brush = CreateSolidBrush(Mix(from, to, i, std::max(1, n - 1)));
    FillRect(dc, &line, brush);
    DeleteObject(brush);
  }
}

void PaintText(HDC dc, RECT box, const wchar_t* text, int height, UINT align) {
  TGdi font(dc, MakeFont(L"Arial", -height, true));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(255, 255, 255));
  DrawTextW(dc, text, -1, &box, align | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
}

void DrawMark(HDC dc, TMark mark, const RECT& m) {
  switch (mark) {
    case TMark::Dot: {
      TGdi pen(dc, CreatePen(PS_SOLID, 1, RGB(255, 255, 255)));
      TGdi brush(dc, CreateSolidBrush(RGB(230, 30, 30)));
      Ellipse(dc, m.left, m.top, m.right, m.bottom);
      break;
    }
    case TMark::Square: {
      const RECT inner{m.left + 1, m.top + 1, m.right - 1, m.bottom - 1};
      HBRUSH white = CreateSolidBrush(RGB(255, 255, 255));
      FillRect(dc, &inner, white);
      DeleteObject(white);
      break;
    }
    case TMark::Cross: {
      TGdi pen(dc, CreatePen(PS_SOLID, 2, RGB(255, 255, 255)));
      MoveToEx(dc, m.left + 1, m.top + 1, nullptr);
      LineTo(dc, m.right - 1, m.bottom - 1);
      MoveToEx(dc, m.right - 2, m.top + 1, nullptr);
      LineTo(dc, m.left, m.bottom - 1);
      break;
    }
    case TMark::None:
      break;
  }
}

void DrawRounded(HDC dc, const RECT& r, COLORREF top, COLORREF bottom, bool vertical, int radius) {
  HRGN clip = CreateRoundRectRgn(r.left, r.top, r.right + 1, r.bottom + 1, radius, radius);
  SelectClipRgn(dc, clip);
  FillGradient(dc, r, top, bottom, vertical);
  SelectClipRgn(dc, nullptr);
  DeleteObject(clip);
  TGdi pen(dc, CreatePen(PS_SOLID, 1, Darker(bottom, 66)));
  const HGDIOBJ old = SelectObject(dc, GetStockObject(NULL_BRUSH));
  RoundRect(dc, r.left, r.top, r.right, r.bottom, radius, radius);
  SelectObject(dc, old);
}

void DrawButton(HDC dc, const RECT& r, const TLook& look, TMark mark, bool pressed) {
  const int shade = pressed ? 80 : 100;
  DrawRounded(dc, r, Darker(look.Top, shade), Darker(look.Bottom, shade), true, 12);
  const int height = r.bottom - r.top;
  const int side = height * 42 / 100;
  const int top = r.top + (height - side) / 2;
  const RECT markBox{r.left + 8, top, r.left + 8 + side, top + side};
  DrawMark(dc, mark, markBox);
  RECT text = r;
  if (mark != TMark::None) text.left = markBox.right + 8 - 8;
  if (pressed) OffsetRect(&text, 1, 1);
  PaintText(dc, text, look.Text, 12, DT_CENTER);
}

void DrawCaption(HDC dc, const RECT& r) {
  DrawRounded(dc, r, RGB(24, 44, 96), RGB(60, 110, 190), false, 10);
  const int h = r.bottom - r.top;
  const int dot = std::max(4, h * 2 / 5);
  {
    TGdi pen(dc, CreatePen(PS_SOLID, 1, RGB(230, 30, 30)));
    TGdi brush(dc, CreateSolidBrush(RGB(230, 30, 30)));
    Ellipse(dc, r.left + 7, r.top + (h - dot) / 2, r.left + 7 + dot, r.top + (h - dot) / 2 + dot);
  }
  RECT text = r;
  text.left += 22;
  PaintText(dc, text, PictureText(TPicture::Caption), 15, DT_LEFT);
}

}  // namespace

const wchar_t* PictureText(TPicture picture) {
  switch (picture) {
    case TPicture::Start:
      return L"Start";
    case TPicture::Stop:
      return L"Stop";
    case TPicture::Exit:
      return L"Exit";
    case TPicture::Continue:
      return L"Continue";
    case TPicture::Caption:
      break;
  }
  return L"Kestrova";
}

void DrawPicture(HDC dc, const RECT& box, TPicture picture, bool pressed, COLORREF background) {
  HBRUSH fill = CreateSolidBrush(background);
  FillRect(dc, &box, fill);
  DeleteObject(fill);
  switch (picture) {
    case TPicture::Caption:
      DrawCaption(dc, box);
      break;
    case TPicture::Start:
      DrawButton(dc, box, {RGB(80, 190, 90), RGB(30, 120, 45), PictureText(TPicture::Start)},
                 TMark::Dot, pressed);
      break;
    case TPicture::Stop:
      DrawButton(dc, box, {RGB(225, 80, 70), RGB(150, 25, 20), PictureText(TPicture::Stop)},
                 TMark::Square, pressed);
      break;
    case TPicture::Exit:
      DrawButton(dc, box, {RGB(150, 150, 160), RGB(85, 85, 95), PictureText(TPicture::Exit)},
                 TMark::Cross, pressed);
      break;
    case TPicture::Continue:
      DrawButton(dc, box, {RGB(80, 140, 225), RGB(30, 75, 160), PictureText(TPicture::Continue)},
                 TMark::None, pressed);
      break;
  }
}

HICON MakeProgramIcon(int size, bool recording) {
  size = std::clamp(size, 8, 256);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = size;
  info.bmiHeader.biHeight = -size;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HBITMAP colour = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  ReleaseDC(nullptr, screen);
  if (colour == nullptr || bits == nullptr) return LoadIconW(nullptr, IDI_APPLICATION);
  HDC dc = CreateCompatibleDC(nullptr);
  const HGDIOBJ old = SelectObject(dc, colour);
  // Drawn on a key colour that no part of the picture uses, which then becomes transparent.
  constexpr COLORREF kKey = RGB(255, 0, 255);
  const RECT all{0, 0, size, size};
  HBRUSH key = CreateSolidBrush(kKey);
  FillRect(dc, &all, key);
  DeleteObject(key);
  const auto s = [size](int v) { return v * size / 64; };
  {
    TGdi pen(dc, CreatePen(PS_SOLID, 1, RGB(40, 44, 52)));
    TGdi brush(dc, CreateSolidBrush(RGB(40, 44, 52)));
    RoundRect(dc, s(4), s(8), s(60), s(48), s(10), s(10));
    Rectangle(dc, s(27), s(48), s(37), s(54));
    Rectangle(dc, s(18), s(53), s(46), s(58));
  }
  FillGradient(dc, RECT{s(8), s(12), s(56), s(44)}, RGB(70, 130, 210), RGB(30, 70, 150), true);
  {
    TGdi pen(dc, CreatePen(PS_SOLID, std::max(1, s(3)), RGB(255, 255, 255)));
    TGdi brush(dc, CreateSolidBrush(RGB(235, 35, 35)));
    Ellipse(dc, s(22), s(18), s(42), s(38));
    if (recording) Ellipse(dc, s(34), s(32), s(63), s(63));
  }
  GdiFlush();
  auto* px = static_cast<std::uint32_t*>(bits);
  for (int i = 0; i < size * size; ++i) {
    const std::uint32_t rgb = px[i] & 0xFFFFFF;
    px[i] = rgb == 0xFF00FF ? 0 : (rgb | 0xFF000000u);
  }
  SelectObject(dc, old);
  DeleteDC(dc);
  // The colour's alpha decides; an all-clear mask leaves it to that.
  const std::vector<BYTE> clear(static_cast<std::size_t>((size + 15) / 16 * 2 * size), 0);
  HBITMAP mask = CreateBitmap(size, size, 1, 1, clear.data());
  ICONINFO icon{};
  icon.fIcon = TRUE;
  icon.hbmColor = colour;
  icon.hbmMask = mask;
  HICON result = CreateIconIndirect(&icon);
  DeleteObject(mask);
  DeleteObject(colour);
  return result != nullptr ? result : LoadIconW(nullptr, IDI_APPLICATION);
}

}  // namespace kestrova::platform::win32
