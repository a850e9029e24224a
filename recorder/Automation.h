// Recording without a user at the controls: `kestrova record` takes the same road a user takes,
// through a platform whose input and answers are supplied. The tool window's mode is picked and
// the start picture clicked; after the given seconds (or when a stop is asked for, as on Ctrl+C)
// the hot key is pressed, the paused dialog answered Stop Record, "Do you want to save
// Recording?" answered Yes and the save dialog answered with the output name; once the
// recording has ended the tool window is closed. Every message box is reported and answered.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "platform/Platform.h"
#include "recorder/Recorder.h"

namespace kestrova {

struct TAutomationOptions {
  bool ActiveWindow = false;
  std::optional<std::uint32_t> Seconds;  // of recording; none: until StopRequested
  std::string OutputName;                // the save dialog's answer
  std::function<bool()> StopRequested;   // polled while recording
  std::ostream* Report = nullptr;        // message boxes and progress
};

class TRecordAutomation {
 public:
  // inner must outlive the automation.
  TRecordAutomation(platform::TPlatform& inner, TAutomationOptions options);
  ~TRecordAutomation();

  // The platform to give the recorder: inner with input and answers supplied. Its Halt throws
  // platform::TProcessHalted, so the caller always gets control back.
  platform::TPlatform& Platform() { return FPlatform; }
  // Hooks for TRecorderOptions.
  void SegmentSaved(const TSegmentReport& report);
  void RecordingEnded();
  bool StopSent() const { return FStopSent; }

 private:
  class TApplication;
  class TPaused;
  class TBoxes;
  class TSave;
  class THotKeysWrap;
  bool StopDue();

  platform::TPlatform& FInner;
  TAutomationOptions FOptions;
  platform::TPlatform FPlatform;
  std::unique_ptr<TApplication> FApplication;
  std::unique_ptr<TPaused> FPaused;
  std::unique_ptr<TBoxes> FBoxes;
  std::unique_ptr<TSave> FSave;
  std::unique_ptr<THotKeysWrap> FHotKeys;
  std::optional<std::uint32_t> FRecordingStart;
  bool FStopSent = false;
  bool FStopping = false;
  bool FEnded = false;
  std::uint64_t FTotalFrames = 0, FTotalBytes = 0;
  std::uint16_t FHotKeyId = 0;
};

}  // namespace kestrova
