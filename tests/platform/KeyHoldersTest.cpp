#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/KeyHolders.h"

namespace kestrova::platform {
namespace {

TEST(KeyHolders, KnownKeyTakersRunningAreNamedOnceInTheTablesOrder) {
  const std::filesystem::path proc =
      std::filesystem::temp_directory_path() / ("kestrova-proc-" + std::to_string(getpid()));
  std::filesystem::remove_all(proc);
  const std::pair<const char*, const char*> processes[] = {
      {"12", "bash"},           {"40", "xbindkeys"}, {"41", "xbindkeys"},
      {"77", "gsd-media-keys"}, {"self", "openbox"},  // not a process number
      {"90", "openbox-like"}};
  for (const auto& [pid, comm] : processes) {
    std::filesystem::create_directories(proc / pid);
    std::ofstream(proc / pid / "comm") << comm << "\n";
  }
  std::filesystem::create_directories(proc / "99");  // gone before its name could be read
  EXPECT_EQ(KeyHoldingPrograms(proc.string()),
            (std::vector<std::string>{"GNOME's settings daemon (gsd-media-keys)", "xbindkeys"}));
  EXPECT_TRUE(KeyHoldingPrograms((proc / "missing").string()).empty());
  std::filesystem::remove_all(proc);
}

}  // namespace
}  // namespace kestrova::platform
