#include "platform/win32/Win32Capture.h"

// clang-format off
#include <windows.h>
#include <d3d11.h>
#include <dxgi1_2.h>
// clang-format on

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "platform/win32/Win32Pixels.h"
#include "platform/win32/Win32Text.h"

namespace kestrova::platform::win32 {

namespace {

// A COM pointer that releases what it holds.
template <typename T>
class TCom {
 public:
  TCom() = default;
  ~TCom() { Reset(); }
  TCom(const TCom&) = delete;
  TCom& operator=(const TCom&) = delete;
  T* operator->() const { return FPtr; }
  T* Get() const { return FPtr; }
  T** Put() {
    Reset();
    return &FPtr;
  }
  void Reset() {
    if (FPtr != nullptr) FPtr->Release();
    FPtr = nullptr;
  }
  explicit operator bool() const { return FPtr != nullptr; }

 private:
  T* FPtr = nullptr;
};

HWND Handle(TWindowHandle window) {
  return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(window));
}

std::string HResultText(const char* what, HRESULT hr) {
  return std::string(what) + ": " + ErrorText(static_cast<unsigned long>(hr));
}

}  // namespace

// A DIB section of the size last asked for, selected into a memory drawing context.
class TWin32Capture::TGdi {
 public:
  TGdi() : FMemory(CreateCompatibleDC(nullptr)) {
    if (FMemory == nullptr) {
      throw std::runtime_error("cannot make a drawing context for screen grabs: " +
                               ErrorText(GetLastError()));
    }
  }
  ~TGdi() {
    Free();
    DeleteDC(FMemory);
  }
  TGdi(const TGdi&) = delete;
  TGdi& operator=(const TGdi&) = delete;

  // BitBlt of source's (left, top) into the section; false when the system refused.
  bool Grab(HDC source, std::int32_t left, std::int32_t top, std::int32_t width,
            std::int32_t height) {
    if (!Fit(width, height)) return false;
    const BOOL ok = BitBlt(FMemory, 0, 0, width, height, source, left, top, SRCCOPY | CAPTUREBLT);
    GdiFlush();  // the section's bits are read next, by the CPU
    return ok != FALSE;
  }
  const std::uint8_t* Bits() const { return FBits; }
  std::size_t Stride() const { return static_cast<std::size_t>(FWidth) * 4; }

 private:
  bool Fit(std::int32_t width, std::int32_t height) {
    if (FBitmap != nullptr && width == FWidth && height == FHeight) return true;
    Free();
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down, as the recorder takes frames
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    FBitmap = CreateDIBSection(FMemory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (FBitmap == nullptr || bits == nullptr) {
      Free();
      return false;
    }
    FOld = SelectObject(FMemory, FBitmap);
    FBits = static_cast<std::uint8_t*>(bits);
    FWidth = width;
    FHeight = height;
    return true;
  }
  void Free() {
    if (FBitmap == nullptr) return;
    SelectObject(FMemory, FOld);
    DeleteObject(FBitmap);
    FBitmap = nullptr;
    FBits = nullptr;
    FWidth = FHeight = 0;
  }

  HDC FMemory;
  HBITMAP FBitmap = nullptr;
  HGDIOBJ FOld = nullptr;
  std::uint8_t* FBits = nullptr;
  std::int32_t FWidth = 0, FHeight = 0;
};

// The desktop duplication of the primary output. It keeps its own copy of the desktop, brought up
// to date by the dirty and moved rectangles of each new frame, so a capture that needs the whole
// picture (the first, or after a window was recorded) has it without waiting for the screen to
// change.
class TWin32Capture::TDuplication {
 public:
  enum class TResult { Ok, Lost };

  // Throws std::runtime_error saying why the duplication cannot be had.
  TDuplication() {
    const D3D_FEATURE_LEVEL levels[] = {D3D_FEATURE_LEVEL_11_0, D3D_FEATURE_LEVEL_10_1,
                                        D3D_FEATURE_LEVEL_10_0, D3D_FEATURE_LEVEL_9_1};
    HRESULT hr = D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, levels,
                                   static_cast<UINT>(std::size(levels)), D3D11_SDK_VERSION,
                                   FDevice.Put(), nullptr, FContext.Put());
    if (FAILED(hr)) throw std::runtime_error(HResultText("no Direct3D 11 device", hr));
    TCom<IDXGIDevice> dxgiDevice;
    TCom<IDXGIAdapter> adapter;
    TCom<IDXGIOutput> output;
    TCom<IDXGIOutput1> output1;
    hr = FDevice->QueryInterface(__uuidof(IDXGIDevice), reinterpret_cast<void**>(dxgiDevice.Put()));
    if (SUCCEEDED(hr)) hr = dxgiDevice->GetAdapter(adapter.Put());
    if (SUCCEEDED(hr)) hr = adapter->EnumOutputs(0, output.Put());
    if (FAILED(hr)) throw std::runtime_error(HResultText("no display output", hr));
    hr = output->QueryInterface(__uuidof(IDXGIOutput1), reinterpret_cast<void**>(output1.Put()));
    if (FAILED(hr)) throw std::runtime_error(HResultText("no DXGI 1.2 output", hr));
    DXGI_OUTPUT_DESC desc{};
    output->GetDesc(&desc);
    FBounds = {desc.DesktopCoordinates.left, desc.DesktopCoordinates.top,
               desc.DesktopCoordinates.right, desc.DesktopCoordinates.bottom};
    hr = output1->DuplicateOutput(FDevice.Get(), FDuplication.Put());
    if (FAILED(hr)) throw std::runtime_error(HResultText("DuplicateOutput failed", hr));
    DXGI_OUTDUPL_DESC dupDesc{};
    FDuplication->GetDesc(&dupDesc);
    if (dupDesc.ModeDesc.Format != DXGI_FORMAT_B8G8R8A8_UNORM ||
        static_cast<std::int32_t>(dupDesc.ModeDesc.Width) != FBounds.Width() ||
        static_cast<std::int32_t>(dupDesc.ModeDesc.Height) != FBounds.Height()) {
      // A rotated output or another pixel format: GDI's pixels are the ones to trust there.
      throw std::runtime_error("the duplicated output is rotated or not 32-bit BGRA");
    }
    FPixels.assign(static_cast<std::size_t>(FBounds.Width()) * FBounds.Height() * 4, 0);
  }
  TDuplication(const TDuplication&) = delete;
  TDuplication& operator=(const TDuplication&) = delete;

  const TScreenRect& Bounds() const { return FBounds; }

  // Brings frame (bounds' size) up to date: all of it when full, else the rectangles that
  // changed, which go into damage. Lost: the duplication must be made again (or GDI used).
  TResult Update(TDIBitmap& frame, TDamage& damage, bool full) {
    std::vector<TScreenRect> changed;
    bool havePicture = FHavePicture;
    for (int attempt = 0; attempt < (havePicture ? 1 : 20); ++attempt) {
      // The first frame of a duplication always comes; later ones only when the screen changed.
      const TResult r = Acquire(havePicture ? 0 : 50, changed);
      if (r != TResult::Ok) return r;
      havePicture = FHavePicture;
      if (havePicture) break;
    }
    if (!FHavePicture) return TResult::Lost;
    const std::size_t stride = static_cast<std::size_t>(FBounds.Width()) * 4;
    if (full) {
      std::memcpy(frame.Bits.data(), FPixels.data(), FPixels.size());
      damage.SetAll();
      return TResult::Ok;
    }
    for (const TScreenRect& r : changed) CopyRect(FPixels.data(), stride, r, frame, damage);
    return TResult::Ok;
  }

 private:
  TResult Acquire(UINT timeout, std::vector<TScreenRect>& changed) {
    DXGI_OUTDUPL_FRAME_INFO info{};
    TCom<IDXGIResource> resource;
    const HRESULT hr = FDuplication->AcquireNextFrame(timeout, &info, resource.Put());
    if (hr == DXGI_ERROR_WAIT_TIMEOUT) return TResult::Ok;
    if (FAILED(hr)) return TResult::Lost;
    // Released on every way out: a frame held keeps the next one from coming.
    struct TRelease {
      IDXGIOutputDuplication* D;
      ~TRelease() { D->ReleaseFrame(); }
    } release{FDuplication.Get()};
    if (info.LastPresentTime.QuadPart == 0) return TResult::Ok;  // only the pointer moved
    std::vector<TScreenRect> rects;
    if (!FHavePicture || !Metadata(info, rects)) {
      rects.assign(1, {0, 0, FBounds.Width(), FBounds.Height()});
    }
    if (!CopyFrame(resource.Get(), rects)) return TResult::Lost;
    FHavePicture = true;
    changed.insert(changed.end(), rects.begin(), rects.end());
    return TResult::Ok;
  }

  // The moved rectangles' destinations and the dirty rectangles, in output pixels.
  bool Metadata(const DXGI_OUTDUPL_FRAME_INFO& info, std::vector<TScreenRect>& rects) {
    if (info.TotalMetadataBufferSize == 0) return true;
    FMetadata.resize(info.TotalMetadataBufferSize);
    UINT used = 0;
    HRESULT hr = FDuplication->GetFrameMoveRects(
        static_cast<UINT>(FMetadata.size()),
        reinterpret_cast<DXGI_OUTDUPL_MOVE_RECT*>(FMetadata.data()), &used);
    if (FAILED(hr)) return false;
    const auto* moves = reinterpret_cast<const DXGI_OUTDUPL_MOVE_RECT*>(FMetadata.data());
    for (UINT i = 0; i < used / sizeof(DXGI_OUTDUPL_MOVE_RECT); ++i) {
      const RECT& d = moves[i].DestinationRect;
      rects.push_back({d.left, d.top, d.right, d.bottom});
    }
    hr = FDuplication->GetFrameDirtyRects(static_cast<UINT>(FMetadata.size()),
                                          reinterpret_cast<RECT*>(FMetadata.data()), &used);
    if (FAILED(hr)) return false;
    const auto* dirty = reinterpret_cast<const RECT*>(FMetadata.data());
    for (UINT i = 0; i < used / sizeof(RECT); ++i) {
      rects.push_back({dirty[i].left, dirty[i].top, dirty[i].right, dirty[i].bottom});
    }
    return true;
  }

  // The new desktop picture through a staging texture the CPU can read; only rects are copied.
  bool CopyFrame(IDXGIResource* resource, const std::vector<TScreenRect>& rects) {
    TCom<ID3D11Texture2D> texture;
    if (FAILED(resource->QueryInterface(__uuidof(ID3D11Texture2D),
                                        reinterpret_cast<void**>(texture.Put())))) {
      return false;
    }
    if (!FStaging) {
      D3D11_TEXTURE2D_DESC desc{};
      texture->GetDesc(&desc);
      desc.Usage = D3D11_USAGE_STAGING;
      desc.BindFlags = 0;
      desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
      desc.MiscFlags = 0;
      desc.MipLevels = 1;
      desc.ArraySize = 1;
      if (FAILED(FDevice->CreateTexture2D(&desc, nullptr, FStaging.Put()))) return false;
    }
    FContext->CopyResource(FStaging.Get(), texture.Get());
    D3D11_MAPPED_SUBRESOURCE mapped{};
    if (FAILED(FContext->Map(FStaging.Get(), 0, D3D11_MAP_READ, 0, &mapped))) return false;
    const std::size_t stride = static_cast<std::size_t>(FBounds.Width()) * 4;
    for (const TScreenRect& r0 : rects) {
      const TScreenRect r{std::max(r0.Left, 0), std::max(r0.Top, 0),
                          std::min(r0.Right, FBounds.Width()),
                          std::min(r0.Bottom, FBounds.Height())};
      for (std::int32_t y = r.Top; y < r.Bottom && r.Width() > 0; ++y) {
        std::memcpy(FPixels.data() + y * stride + static_cast<std::size_t>(r.Left) * 4,
                    static_cast<const std::uint8_t*>(mapped.pData) +
                        static_cast<std::size_t>(y) * mapped.RowPitch +
                        static_cast<std::size_t>(r.Left) * 4,
                    static_cast<std::size_t>(r.Width()) * 4);
      }
    }
    FContext->Unmap(FStaging.Get(), 0);
    return true;
  }

  TCom<ID3D11Device> FDevice;
  TCom<ID3D11DeviceContext> FContext;
  TCom<IDXGIOutputDuplication> FDuplication;
  TCom<ID3D11Texture2D> FStaging;
  TScreenRect FBounds;
  std::vector<std::uint8_t> FPixels;
  std::vector<std::uint8_t> FMetadata;
  bool FHavePicture = false;
};

TWin32Capture::TWin32Capture(const std::string& path)
    : FGdi(std::make_unique<TGdi>()), FWantDuplication(path != "gdi") {
  if (!FWantDuplication) {
    FWhyNoDuplication = "GDI was asked for";
    return;
  }
  try {
    FDuplication = std::make_unique<TDuplication>();
  } catch (const std::exception& e) {
    FWhyNoDuplication = e.what();
  }
}

TWin32Capture::~TWin32Capture() = default;

TWin32Capture::TPath TWin32Capture::Path() const {
  if (FStats.Grabs == 0) return FDuplication ? TPath::Duplication : TPath::Gdi;
  return FLastPath;
}

bool TWin32Capture::Capture(TWindowHandle window, const TScreenRect& rect, TDIBitmap& frame,
                            TDamage& damage) {
  damage.Clear();
  ++FStats.Grabs;
  if (rect.Width() <= 0 || rect.Height() <= 0) return false;
  const bool sameFrame = PrepareFrame(frame, rect.Width(), rect.Height());
  const bool duplicated = window == 0 && FDuplication && rect == FDuplication->Bounds();
  const TPath path = duplicated ? TPath::Duplication : TPath::Gdi;
  const bool full = !sameFrame || !FHavePrevious || window != FLastWindow || !(rect == FLastRect) ||
                    path != FPreviousPath;
  FHavePrevious = false;
  bool ok = false;
  if (duplicated) {
    if (FDuplication->Update(frame, damage, full) == TDuplication::TResult::Ok) {
      ++FStats.DuplicationGrabs;
      ok = true;
    } else {
      // Lost (a mode change, the secure desktop): made again next time, GDI meanwhile.
      FWhyNoDuplication = "the duplication was lost";
      FDuplication.reset();
      try {
        FDuplication = std::make_unique<TDuplication>();
      } catch (const std::exception& e) {
        FWhyNoDuplication = e.what();
      }
      ok = CaptureGdi(window, rect, frame, damage, true);
    }
  } else {
    ok = CaptureGdi(window, rect, frame, damage, full);
  }
  if (!ok) return false;
  FLastPath = path;
  FPreviousPath = path;
  FHavePrevious = true;
  FLastWindow = window;
  FLastRect = rect;
  FStats.RectsReported += damage.All ? 1 : damage.Rects.size();
  if (damage.Empty()) ++FStats.FramesUnchanged;
  return true;
}

bool TWin32Capture::CaptureGdi(TWindowHandle window, const TScreenRect& rect, TDIBitmap& frame,
                               TDamage& damage, bool full) {
  ++FStats.GdiGrabs;
  HWND hwnd = Handle(window);
  if (window != 0 && !IsWindow(hwnd)) return false;
  // A window's own device context starts at its outer top-left corner, where rect starts.
  HDC source = window != 0 ? GetWindowDC(hwnd) : GetDC(nullptr);
  if (source == nullptr) return false;
  const bool ok = window != 0
                      ? FGdi->Grab(source, 0, 0, rect.Width(), rect.Height())
                      : FGdi->Grab(source, rect.Left, rect.Top, rect.Width(), rect.Height());
  ReleaseDC(window != 0 ? hwnd : nullptr, source);
  if (!ok) return false;
  if (full) {
    for (std::int32_t y = 0; y < rect.Height(); ++y) {
      std::memcpy(frame.Scanline(y), FGdi->Bits() + static_cast<std::size_t>(y) * FGdi->Stride(),
                  FGdi->Stride());
    }
    damage.SetAll();
    return true;
  }
  FStats.BlocksChanged += CopyChangedBlocks(FGdi->Bits(), FGdi->Stride(), frame, damage);
  return true;
}

}  // namespace kestrova::platform::win32
