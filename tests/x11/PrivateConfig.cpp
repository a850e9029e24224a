// Each test process keeps the desktop programs' settings in a folder of its own: a choice the
// tool window remembers in one test (Active Window, a region) must not become the next test's
// start, nor reach the settings of the user running the tests.
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

class TPrivateConfig {
 public:
  TPrivateConfig() {
    char folder[] = "/tmp/kestrova-test-config-XXXXXX";
    if (mkdtemp(folder) == nullptr) return;
    FFolder = folder;
    setenv("XDG_CONFIG_HOME", folder, 1);
  }
  ~TPrivateConfig() {
    std::error_code ec;
    if (!FFolder.empty()) std::filesystem::remove_all(FFolder, ec);
  }

 private:
  std::string FFolder;
};

const TPrivateConfig GPrivateConfig;

}  // namespace
