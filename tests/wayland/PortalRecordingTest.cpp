// Recordings through the desktop portal on a headless GNOME compositor (scripts/wayland.sh
// starts it, with PipeWire and the portal, and runs these inside it): `kestrova record` as a
// user runs it, the consent dialog answered through the compositor's remote-desktop input, the
// movie decoded with `kestrova frames` and compared with what the screen showed.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace kestrova::test {
namespace {

namespace fs = std::filesystem;

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr ? v : "";
}

#define KESTROVA_REQUIRE_STACK()                                                      \
  if (Env("KESTROVA_WAYLAND_STACK").empty())                                          \
  GTEST_SKIP() << "needs the headless GNOME compositor with the desktop portal: run " \
                  "scripts/wayland.sh BUILD_DIR"

constexpr int kWidth = 1280, kHeight = 720;
// Where the tests' clicks leave the pointer: the dialog's Share button.
constexpr int kShareX = 852, kShareY = 233;

// The known picture's pixel (red, green, blue), as tests/wayland/show_picture.py draws it.
void KnownPixel(int x, int y, std::uint8_t rgb[3]) {
  rgb[0] = static_cast<std::uint8_t>((x * 255) / (kWidth - 1));
  rgb[1] = static_cast<std::uint8_t>((y * 255) / (kHeight - 1));
  rgb[2] = static_cast<std::uint8_t>((x ^ y) & 255);
}

int Shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string ReadFile(const std::string& name) {
  std::ifstream in(name);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

struct TPicture {
  int Width = 0, Height = 0;
  std::vector<std::uint8_t> Rgb;
  const std::uint8_t* At(int x, int y) const { return &Rgb[3 * (std::size_t(y) * Width + x)]; }
};

TPicture ReadPng(const std::string& name) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  TPicture p;
  if (!png_image_begin_read_from_file(&image, name.c_str())) return p;
  image.format = PNG_FORMAT_RGB;
  p.Rgb.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, p.Rgb.data(), 0, nullptr)) return {};
  p.Width = static_cast<int>(image.width);
  p.Height = static_cast<int>(image.height);
  return p;
}

// The known picture full screen (moving when animate) while it lives.
class TPictureWindow {
 public:
  explicit TPictureWindow(bool animate) {
    const std::string command = "/usr/bin/python3 " +
                                Quote(Env("KESTROVA_WAYLAND_HELPERS") + "/show_picture.py") +
                                (animate ? " animate" : "") + " >/dev/null 2>&1 & echo $!";
    FILE* p = ::popen(command.c_str(), "r");
    if (p != nullptr) {
      if (std::fscanf(p, "%d", &FPid) != 1) FPid = -1;
      ::pclose(p);
    }
    // Shown and painted before anything is recorded.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  }
  ~TPictureWindow() {
    if (FPid > 0) Shell("kill " + std::to_string(FPid) + " 2>/dev/null");
  }

 private:
  int FPid = -1;
};

enum class TAnswer { Share, Cancel };

struct TRecording {
  int Status = -1;
  std::string Log, Movie, Dir;
  std::vector<TPicture> Frames;
};

// `kestrova record --platform wayland ARGS -o Dir/out.swf` with a state folder of its own (so
// the dialog comes up), the dialog answered; the movie's frames decoded when there is one.
TRecording Record(const std::string& name, const std::string& args, TAnswer answer) {
  TRecording r;
  r.Dir = Env("KESTROVA_WAYLAND_RUN") + "/" + name;
  fs::remove_all(r.Dir);
  fs::create_directories(r.Dir + "/state");
  r.Movie = r.Dir + "/out.swf";
  const std::string helpers = Env("KESTROVA_WAYLAND_HELPERS");
  const std::string input = "/usr/bin/python3 " + Quote(helpers + "/gnome_input.py");
  // Share needs the monitor picked first; Escape would do for Cancel, a click is what a user does.
  const std::string points = answer == TAnswer::Share ? "640 385 " + std::to_string(kShareX) + " " +
                                                            std::to_string(kShareY)
                                                      : std::string("430 233");
  // The clicker stops once the recorder has its answer: it says so in its log, or has started.
  const std::string done = r.Dir + "/answered";
  const std::string script = "XDG_STATE_HOME=" + Quote(r.Dir + "/state") +
                             " KESTROVA_PORTAL_TIMEOUT=90 " + Quote(Env("KESTROVA_BIN")) +
                             " record --platform wayland " + args + " -o " + Quote(r.Movie) + " >" +
                             Quote(r.Dir + "/log") + " 2>&1 & K=$!\n" + input + " answer " +
                             Quote(done) + " 90 " + points + " >/dev/null 2>&1 & C=$!\n" +
                             "while kill -0 $K 2>/dev/null; do sleep 0.2\n"
                             "  { ls " +
                             Quote(r.Dir + "/state/kestrova") +
                             " 2>/dev/null | grep -q token ||\n"
                             "    grep -q 'Recording can not be started' " +
                             Quote(r.Dir + "/log") + "; } && touch " + Quote(done) +
                             "\ndone\ntouch " + Quote(done) + "\nwait $C\nwait $K\n";
  r.Status = Shell("bash -c " + Quote(script));
  r.Log = ReadFile(r.Dir + "/log");
  if (fs::exists(r.Movie) && Shell(Quote(Env("KESTROVA_BIN")) + " frames " + Quote(r.Movie) + " " +
                                   Quote(r.Dir + "/frames") + " --quiet >/dev/null 2>&1") == 0) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(r.Dir + "/frames")) names.push_back(e.path());
    std::sort(names.begin(), names.end());
    for (const std::string& n : names) r.Frames.push_back(ReadPng(n));
  }
  return r;
}

// Pixels of frame unlike the known picture, and their bounding box.
struct TDifference {
  std::size_t Count = 0;
  int Left = kWidth, Top = kHeight, Right = -1, Bottom = -1;
};

TDifference CompareWithPicture(const TPicture& frame) {
  TDifference d;
  for (int y = 0; y < frame.Height; ++y) {
    for (int x = 0; x < frame.Width; ++x) {
      std::uint8_t want[3];
      KnownPixel(x, y, want);
      if (std::equal(want, want + 3, frame.At(x, y))) continue;
      ++d.Count;
      d.Left = std::min(d.Left, x), d.Top = std::min(d.Top, y);
      d.Right = std::max(d.Right, x), d.Bottom = std::max(d.Bottom, y);
    }
  }
  return d;
}

// One recording of the still picture, shared by the checks on it.
class StillScreen : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (Env("KESTROVA_WAYLAND_STACK").empty()) return;
    TPictureWindow picture(false);
    Still =
        new TRecording(Record("still", "--full-screen --seconds 3 --colours 16m", TAnswer::Share));
  }
  static void TearDownTestSuite() {
    delete Still;
    Still = nullptr;
  }
  void SetUp() override {
    KESTROVA_REQUIRE_STACK();
    ASSERT_EQ(Still->Status, 0) << Still->Log;
    ASSERT_FALSE(Still->Frames.empty()) << Still->Log;
  }
  static TRecording* Still;
};
TRecording* StillScreen::Still = nullptr;

TEST_F(StillScreen, RecordsTheKnownPictureExactly) {
  const TPicture& frame = Still->Frames[Still->Frames.size() / 2];
  ASSERT_EQ(frame.Width, kWidth);
  ASSERT_EQ(frame.Height, kHeight);
  const TDifference d = CompareWithPicture(frame);
  // The pointer is drawn in, where the clicks left it: every other pixel is the picture's.
  EXPECT_GE(d.Left, kShareX - 8);
  EXPECT_GE(d.Top, kShareY - 8);
  EXPECT_LE(d.Right, kShareX + 48);
  EXPECT_LE(d.Bottom, kShareY + 48);
}

TEST_F(StillScreen, DrawsThePointerFromMetadataAtItsHotSpot) {
  const TDifference d = CompareWithPicture(Still->Frames.back());
  ASSERT_GT(d.Count, 20u) << "no pointer in the frame";
  // An arrow's hot spot is its tip, the top-left of what it covers (a pixel or two of outline
  // and shadow around it): where the pointer is, not where its picture's corner is.
  EXPECT_NEAR(d.Left, kShareX, 3);
  EXPECT_NEAR(d.Top, kShareY, 3);
}

TEST_F(StillScreen, StillGivesTwelveFramesASecond) {
  // The compositor sends nothing while the screen is still: the recorder repeats its frame.
  EXPECT_GE(Still->Frames.size(), 34u);
  EXPECT_LE(Still->Frames.size(), 40u);
}

TEST_F(StillScreen, SaysOnceThatTheHotKeyIsNotAvailableAndHowToStop) {
  // GNOME 43's portal has no GlobalShortcuts.
  const std::string said = "Ctrl+Alt+S is not available on this desktop";
  const std::size_t at = Still->Log.find(said);
  ASSERT_NE(at, std::string::npos) << Still->Log;
  EXPECT_EQ(Still->Log.find(said, at + 1), std::string::npos) << "said once";
  EXPECT_NE(Still->Log.find("kestrova stop", at), std::string::npos);
}

// Where the animated picture's white bar is in frame (its left edge), or -1.
int BarPosition(const TPicture& frame) {
  for (int x = 0; x < frame.Width; ++x) {
    const std::uint8_t* p = frame.At(x, 8);
    if (p[0] == 255 && p[1] == 255 && p[2] == 255) return x;
  }
  return -1;
}

TEST(PortalRecording, AnimatedWindowRecordsAtTheRecordersRate) {
  KESTROVA_REQUIRE_STACK();
  TPictureWindow picture(true);
  const TRecording r = Record("animated", "--full-screen --seconds 3", TAnswer::Share);
  ASSERT_EQ(r.Status, 0) << r.Log;
  // Twelve frames a second, whatever the compositor sent.
  EXPECT_GE(r.Frames.size(), 34u) << r.Log;
  EXPECT_LE(r.Frames.size(), 40u) << r.Log;
  // The bar moves on at every frame the compositor draws (as fast as a loaded machine lets the
  // window paint): the movie shows it moving, and never going back.
  int moves = 0;
  int last = -1;
  for (const TPicture& f : r.Frames) {
    const int x = BarPosition(f);
    ASSERT_GE(x, 0) << "a frame without the bar";
    if (last >= 0 && x != last) {
      ++moves;
      EXPECT_LT((x - last + 1280) % 1280, 640) << "the bar went back from " << last << " to " << x;
    }
    last = x;
  }
  EXPECT_GE(moves, 12) << "of " << r.Frames.size() << " frames";
}

TEST(PortalRecording, CancelInTheDialogSaysSoAndWritesNothing) {
  KESTROVA_REQUIRE_STACK();
  TPictureWindow picture(false);
  const TRecording r = Record("cancelled", "--full-screen --seconds 2", TAnswer::Cancel);
  EXPECT_NE(r.Status, 0);
  EXPECT_NE(r.Log.find("Screen recording was cancelled in the desktop's sharing dialog"),
            std::string::npos)
      << r.Log;
  EXPECT_FALSE(fs::exists(r.Movie));
  EXPECT_FALSE(fs::exists(r.Dir + "/out.html"));
}

}  // namespace
}  // namespace kestrova::test
