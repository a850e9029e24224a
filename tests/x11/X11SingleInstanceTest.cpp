// One copy of the program per display: a second copy on the same display is told which process
// runs and what it was started to do; a copy on another display runs side by side.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "Xvfb.h"
#include "platform/x11/X11Backend.h"
#include "recorder/FlashSegmentMovie.h"
#include "recorder/Recorder.h"

namespace kestrova::platform::x11 {
namespace {

using kestrova::testing::TXvfb;

class THaltReturns : public TApplicationHost {
 public:
  explicit THaltReturns(TApplicationHost& inner) : I(inner) {}
  void SetTitle(const std::string& t) override { I.SetTitle(t); }
  std::string Title() const override { return I.Title(); }
  void SetEventHandler(TUIEventHandler h) override { I.SetEventHandler(std::move(h)); }
  void RunMessageLoop() override { I.RunMessageLoop(); }
  void Terminate() override { I.Terminate(); }
  bool Terminated() const override { return I.Terminated(); }
  void ProcessMessages() override { I.ProcessMessages(); }
  [[noreturn]] void Halt(int code) override { throw TProcessHalted{code}; }

 private:
  TApplicationHost& I;
};

TEST(X11SingleInstance, ASecondCopyIsToldWhoRunsAndAnotherDisplayIsFree) {
  TXvfb first, second;
  KESTROVA_REQUIRE_XVFB(first);
  KESTROVA_REQUIRE_XVFB(second);
  const std::filesystem::path runtime =
      std::filesystem::temp_directory_path() / ("kestrova-x11single-" + std::to_string(getpid()));
  std::filesystem::create_directories(runtime);
  std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);

  TX11Backend running(first.Name().c_str());
  ASSERT_TRUE(running.Platform().Instance->Acquire(kMutexName));

  // The same display: refused, and the refusal names the process holding it.
  TX11Backend again(first.Name().c_str());
  TPlatform platform = again.Platform();
  THaltReturns application(*platform.Application);
  platform.Application = &application;
  std::ostringstream said;
  TRecorderOptions options;
  options.MovieFactory = FlashSegmentMovieFactory();
  options.Diagnostics = &said;
  TFrmImage form(platform, options);
  EXPECT_THROW(form.Run(), TProcessHalted);
  const std::string self = "process " + std::to_string(getpid()) + " (";
  EXPECT_EQ(platform.Instance->Holder().rfind(self, 0), 0u) << platform.Instance->Holder();
  EXPECT_NE(said.str().find("another Kestrova is running on this desktop: " + self),
            std::string::npos)
      << said.str();
  EXPECT_NE(said.str().find("record another display"), std::string::npos);

  // Another display: free.
  TX11Backend elsewhere(second.Name().c_str());
  EXPECT_TRUE(elsewhere.Platform().Instance->Acquire(kMutexName));
  elsewhere.Platform().Instance->Release();

  // Once the first copy has gone, the display is free again.
  running.Platform().Instance->Release();
  EXPECT_TRUE(again.Platform().Instance->Acquire(kMutexName));
  again.Platform().Instance->Release();
  std::filesystem::remove_all(runtime);
}

}  // namespace
}  // namespace kestrova::platform::x11
