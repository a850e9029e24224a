// The options of `kestrova record`, read from its arguments.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/HotKeyName.h"
#include "platform/Platform.h"
#include "recorder/FrameStage.h"
#include "recorder/SoundEncoder.h"

namespace kestrova {

// What a recording captures.
enum class TRecordTarget {
  FullScreen,    // --full-screen (the default)
  ActiveWindow,  // --active-window: the window active once the wait is over
  Region,        // --region X,Y,W,H: a rectangle of the screen
  Window,        // --window ID: one window, by its identifier
};

// No sound; when asked for, MP3 where the build has its encoder (else ADPCM), 44100 Hz stereo.
TSoundOptions DefaultSoundOptions();

struct TRecordArgs {
  std::string Platform;  // empty: the first backend that opens
  TRecordTarget Target = TRecordTarget::FullScreen;
  platform::TScreenRect Region;          // Target Region
  platform::TWindowHandle Window = 0;    // Target Window
  std::optional<std::uint32_t> Seconds;  // none: until Ctrl+C
  std::uint32_t Delay = 0;               // seconds of countdown before the recording starts
  platform::THotKeyChoice HotKey;
  std::string Output;     // empty: the default name
  std::string WebPlayer;  // the page's web player (see player/WebPage.h)
  TColourDepth Colours = TColourDepth::Palette256;
  // --audio (none by default), --audio-format, --audio-rate, --audio-channels.
  TSoundOptions Sound = DefaultSoundOptions();
  bool Quiet = false;  // no progress
};

// False with problem set when the arguments are not understood.
bool ParseRecordArgs(const std::vector<std::string>& args, TRecordArgs& r, std::string& problem);

struct TRecoverArgs {
  std::string Folder;     // empty: the latest recording not in progress
  std::string Output;     // empty: Kestrova-<folder name>.swf in the home folder
  std::string WebPlayer;  // the page's web player
  bool Quiet = false;
};

bool ParseRecoverArgs(const std::vector<std::string>& args, TRecoverArgs& r, std::string& problem);

}  // namespace kestrova
