// The tool window and the paused dialog as dialogs (the dialog manager's window class and
// keyboard handling), each component a child window named as the recorder names it, and the
// TView that drives either one.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/win32/Win32UiCommon.h"
#include "platform/win32/Win32UiPictures.h"

namespace kestrova::platform::win32 {

class TWin32View : public TView {
 public:
  enum class TKind { ToolWindow, PausedDialog };
  // The paused dialog is owned by owner (the tool window), which it disables while it is up.
  // Throws std::runtime_error when the window cannot be made.
  TWin32View(TKind kind, TWin32Input& input, HWND owner = nullptr);
  ~TWin32View() override;
  TWin32View(const TWin32View&) = delete;
  TWin32View& operator=(const TWin32View&) = delete;

  HWND Handle() const { return FWindow; }
  // The component's own window (for tests); nullptr for a name the view does not have.
  HWND ComponentWindow(const std::string& name) const {
    const TComponent* c = Find(name);
    return c != nullptr ? c->Window : nullptr;
  }
  // The tool window's messages that are not its components' (the hot key, the tray icon's
  // callback, the taskbar's restart): true when handled.
  std::function<bool(UINT, WPARAM, LPARAM)> OtherMessages;

  void Show() override;
  void Hide() override;
  bool Visible() const override;
  void BringToFront() override;
  void SetCaption(const std::string& caption) override;
  std::string Caption() const override;
  void SetComponentVisible(const std::string& name, bool visible) override;
  bool ComponentVisible(const std::string& name) const override;
  void SetComponentLeft(const std::string& name, int left) override;
  bool Checked(const std::string& name) const override;
  void SetChecked(const std::string& name, bool checked) override;
  // The paused dialog: 1 Stop Record, 2 Continue (or the caption's close button, Escape), 3
  // Exit. The tool window is shown and gives 0.
  int ShowModal() override;

 private:
  struct TComponent {
    std::string Name;
    HWND Window = nullptr;
    bool Radio = false;
    TPicture Picture = TPicture::Caption;
    bool IsPicture = false;
    int Result = 0;  // the paused dialog's modal result of a picture button
  };
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM w, LPARAM l);
  INT_PTR OnMessage(UINT message, WPARAM w, LPARAM l);
  void OnCommand(int id, int code);
  void BuildToolWindow();
  void BuildPausedDialog();
  HWND AddPanel(int x, int y, int width, int height);
  void Add(HWND parent, const char* name, const wchar_t* cls, const wchar_t* text, DWORD style,
           RECT place, HFONT font);
  void AddPicture(HWND parent, const char* name, TPicture picture, RECT place, int result,
                  bool clickable = true);
  void AddHint(HWND control, const wchar_t* text);
  const TComponent* Find(const std::string& name) const;

  TKind FKind;
  TWin32Input& FInput;
  HWND FOwner;
  HWND FWindow = nullptr;
  HWND FTips = nullptr;
  HFONT FFont = nullptr, FLabelFont = nullptr;
  std::vector<TComponent> FComponents;  // control id - kFirstId is the index
  int FResult = 0;
  bool FDone = false;
};

}  // namespace kestrova::platform::win32
