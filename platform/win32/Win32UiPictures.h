// The pictures of the tool window, the paused dialog and the tray, drawn with GDI so the program
// carries no artwork from anywhere else: the same designs as the Linux windows show.
#pragma once

#include "platform/win32/Win32UiCommon.h"

namespace kestrova::platform::win32 {

enum class TPicture {
  Caption,   // the title banner, 137 x 25
  Start,     // the start button (a red dot), 78 x 28
  Stop,      // the stop-record button (a square), 77 x 28
  Exit,      // the exit button (a cross), 74 x 27
  Continue,  // the continue button, 74 x 27
};

// What the picture says: "Start", "Stop", "Exit", "Continue", "Kestrova".
const wchar_t* PictureText(TPicture picture);

// Draws picture stretched over box; pressed darkens it while the mouse button is held on it.
// background is what lies around the rounded corners.
void DrawPicture(HDC dc, const RECT& box, TPicture picture, bool pressed, COLORREF background);

// The program's icon (a screen with a red record light), and with a red dot in its corner while
// a recording runs. The caller owns the icon (DestroyIcon).
HICON MakeProgramIcon(int size, bool recording);

}  // namespace kestrova::platform::win32
