// `kestrova stop`: asks the Kestrova running on this display (the tool window, or `record`) to
// stop its recording and save it, through the single-instance socket, and says what became of
// it. A keyboard shortcut of the desktop's own settings can run it where no hot key can be had.
#include <CLI/CLI.hpp>
#include <exception>
#include <iostream>

#include "app/CommandLine.h"
#include "app/Commands.h"
#include "platform/Registry.h"
#include "recorder/Recorder.h"

namespace kestrova {

namespace {

struct TStopOptions {
  std::string Platform;
};

void DeclareStop(CLI::App& app, TStopOptions& o) {
  app.add_option("--platform", o.Platform,
                 "the desktop whose Kestrova is asked: x11 (the X display in $DISPLAY)")
      ->type_name("NAME")
      ->default_str("KESTROVA_PLATFORM when set, else the best available");
}

}  // namespace

std::shared_ptr<void> StopOptions(CLI::App& app) {
  return DeclareWith<TStopOptions, DeclareStop>(app);
}

int StopCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  TStopOptions o;
  if (int status = ReadArguments("stop", DeclareStop, args, o, err); status != 0) return status;
  std::unique_ptr<platform::TPlatformBackend> backend;
  try {
    backend = platform::OpenBackend(o.Platform);
  } catch (const std::exception& e) {
    err << "kestrova stop: " << e.what() << "\n";
    return 1;
  }
  platform::TSingleInstance& instance = *backend->Platform().Instance;
  try {
    if (instance.Acquire(kMutexName)) {
      instance.Release();
      err << "kestrova stop: no Kestrova is running on this display\n";
      return 1;
    }
  } catch (const std::exception& e) {
    err << "kestrova stop: " << e.what() << "\n";
    return 1;
  }
  const std::string holder = instance.Holder().empty() ? "it" : instance.Holder();
  const std::optional<platform::TStopAnswer> answer = instance.RequestStop();
  if (!answer) {
    err << "kestrova stop: another Kestrova runs on this display (" << holder
        << "), but it did not answer; its hot key or its tray icon stops it\n";
    return 1;
  }
  (answer->Saved ? out : err) << "kestrova stop: " << answer->Text << "\n";
  return answer->Saved ? 0 : 1;
}

}  // namespace kestrova
