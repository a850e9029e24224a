// The settings file, the countdown, the region picker and the hot key dialog of the Win32 user
// interface.
#pragma once

#include <optional>
#include <string>

#include "platform/win32/Win32UiCommon.h"

namespace kestrova::platform::win32 {

class TWin32Settings : public TSettings {
 public:
  // fileName empty: %LOCALAPPDATA%\Kestrova\kestrova.conf (the folder made when first written).
  explicit TWin32Settings(std::wstring fileName = {});
  std::optional<std::string> Get(const std::string& key) override;
  // Rewrites the whole file through a file beside it that then replaces it, so a crash or a full
  // disk midway leaves the old settings rather than half of them.
  void Set(const std::string& key, const std::string& value) override;
  const std::wstring& FileName() const { return FFileName; }

 private:
  std::wstring FFileName;
};

// A small window above every other with the seconds left; it never takes the keyboard from the
// window the user is in (the one an Active Window recording records), so a click on it is what
// cancels. Input for the recorder that arrives meanwhile is dropped.
class TWin32Countdown : public TCountdown {
 public:
  explicit TWin32Countdown(TWin32Input& input) : FInput(input) {}
  bool Run(int seconds) override;

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM w, LPARAM l);
  TWin32Input& FInput;
  int FSeconds = 0;
  bool FCancelled = false;
};

// A layered window over the whole desktop, the screen dimmed under it; a drag with the left
// button makes the rectangle (shown clear), Escape or the right button cancels, a drag of a few
// pixels starts over.
class TWin32RegionPicker : public TRegionPicker {
 public:
  explicit TWin32RegionPicker(TWin32Input& input) : FInput(input) {}
  std::optional<TScreenRect> PickRegion() override;

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM w, LPARAM l);
  LRESULT OnMessage(HWND window, UINT message, WPARAM w, LPARAM l);
  TWin32Input& FInput;
  std::optional<POINT> FAnchor;
  POINT FCurrent{};
  POINT FOrigin{};  // the desktop's top left, which the window's client area starts at
  std::optional<TScreenRect> FResult;
  bool FDone = false;
};

// A modifier and a letter or digit from two lists, and, when the key in use could not be had,
// a line saying so.
class TWin32HotKeyDialog : public THotKeyDialog {
 public:
  explicit TWin32HotKeyDialog(TWin32Input& input) : FInput(input) {}
  std::optional<THotKeyChoice> Choose(const THotKeyChoice& current,
                                      THotKeyProblem problem) override;

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM w, LPARAM l);
  INT_PTR OnMessage(HWND window, UINT message, WPARAM w, LPARAM l);
  std::optional<THotKeyChoice> Selected(HWND window) const;
  TWin32Input& FInput;
  THotKeyChoice FCurrent;
  THotKeyProblem FProblem = THotKeyProblem::Asked;
  std::optional<THotKeyChoice> FResult;
  HFONT FFont = nullptr;
  bool FDone = false;
};

// What the hot key dialog says when the key in use could not be registered.
std::string TakenText(const THotKeyChoice& current);

}  // namespace kestrova::platform::win32
