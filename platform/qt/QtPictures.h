// The pictures of the tool window, the paused dialog, the tray and the desktop entry, drawn
// here in code so the program carries no artwork from anywhere else.
#pragma once

#include <QIcon>
#include <QImage>

namespace kestrova::platform::qt {

enum class TPicture {
  Caption,   // the title banner, 137 x 25
  Start,     // the start button, 78 x 28
  Stop,      // the stop-record button, 77 x 28
  Exit,      // the exit button, 74 x 27
  Continue,  // the continue button, 74 x 27
};

// The picture at its own size in device-independent pixels, drawn with ratio device pixels to
// each (the screen's device pixel ratio) so it is sharp on a scaled desktop. Needs a
// QGuiApplication (the button texts use the fonts).
QImage DrawPicture(TPicture picture, qreal ratio = 1);

// The program's icon (a screen with a red record light), size x size, drawn without text so
// it can be made at build time without a display.
QImage DrawIcon(int size);
// The tray's icon while a recording runs: the program's icon with a red dot in its corner, so
// it shows at the smallest tray size.
QImage DrawRecordingIcon(int size);
// The two as icons holding a picture drawn at every common icon size. Need a QGuiApplication.
QIcon ProgramIcon();
QIcon RecordingIcon();

}  // namespace kestrova::platform::qt
