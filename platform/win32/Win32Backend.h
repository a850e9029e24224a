// The Windows desktop as a backend: capture by the desktop duplication or GDI, the cursor, the
// windows and the tick counter through Win32, the user interface in Win32 dialogs, the recorder's
// files in %LOCALAPPDATA%\Kestrova and the Videos folder.
#pragma once

#include <memory>

#include "platform/Registry.h"
#include "platform/win32/WasapiSound.h"
#include "platform/win32/Win32Capture.h"
#include "platform/win32/Win32Cursor.h"
#include "platform/win32/Win32Desktop.h"
#include "platform/win32/Win32Files.h"
#include "platform/win32/Win32UserInterface.h"

namespace kestrova::platform::win32 {

class TWin32Backend : public TPlatformBackend {
 public:
  // The capture path comes from KESTROVA_WIN32_CAPTURE ("gdi" forces GDI, anything else lets the
  // duplication run where it can). Throws std::runtime_error when the user interface's windows or
  // the grab's drawing context cannot be made.
  TWin32Backend();
  // With KESTROVA_WIN32_STATS set, says on stderr which capture path ran and what it grabbed.
  ~TWin32Backend() override;
  const char* Name() const override { return "win32"; }
  TPlatform& Platform() override { return FPlatform; }

  TWin32Capture& Capture() { return FCapture; }
  TWin32UserInterface& UserInterface() { return *FUi; }

 private:
  const char* FDpiAwareness;
  TWin32Clock FClock;
  TWin32Desktop FDesktop;
  TWin32Capture FCapture;
  TWin32Cursor FCursor;
  TWin32FileLocations FFiles;
  std::unique_ptr<TWin32UserInterface> FUi;
  TWasapiSoundSource FSound;  // its end ticks count FClock's milliseconds
  TPlatform FPlatform;
};

}  // namespace kestrova::platform::win32
