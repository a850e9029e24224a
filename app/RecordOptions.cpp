#include "app/RecordOptions.h"

#include <charconv>

#include "app/CommandLine.h"
#include "app/Commands.h"

namespace kestrova {

namespace {

// "X,Y,WIDTH,HEIGHT" in pixels: a corner anywhere a desktop of screens can put it, a size of at
// least one pixel.
bool ReadRegion(const std::string& text, platform::TScreenRect& region) {
  std::int64_t n[4];
  std::size_t from = 0;
  for (int k = 0; k < 4; ++k) {
    const std::size_t comma = k < 3 ? text.find(',', from) : text.size();
    if (comma == std::string::npos) return false;
    const std::string part = text.substr(from, comma - from);
    if (!commandline_detail::ReadNumber(part, k < 2 ? -65535 : 1, 65535, n[k])) return false;
    from = comma + 1;
  }
  region = {static_cast<std::int32_t>(n[0]), static_cast<std::int32_t>(n[1]),
            static_cast<std::int32_t>(n[0] + n[2]), static_cast<std::int32_t>(n[1] + n[3])};
  return true;
}

// A window's identifier as the window tools print it: 0x3a00007 or 58720263.
bool ReadWindow(const std::string& text, platform::TWindowHandle& window) {
  const bool hex = text.starts_with("0x") || text.starts_with("0X");
  const char* first = text.data() + (hex ? 2 : 0);
  const char* last = text.data() + text.size();
  std::uint64_t id = 0;
  const auto [end, ec] = std::from_chars(first, last, id, hex ? 16 : 10);
  if (first == last || ec != std::errc() || end != last || id == 0) return false;
  window = id;
  return true;
}

bool ReadColours(const std::string& text, TColourDepth& colours) {
  static constexpr std::pair<const char*, TColourDepth> kDepths[] = {
      {"256", TColourDepth::Palette256},
      {"32k", TColourDepth::Rgb15},
      {"16m", TColourDepth::Rgb32}};
  for (const auto& [name, depth] : kDepths) {
    if (text == name) {
      colours = depth;
      return true;
    }
  }
  return false;
}

template <typename T, std::size_t N>
bool ReadChoice(const std::string& text, const std::pair<const char*, T> (&choices)[N], T& out) {
  for (const auto& [name, value] : choices) {
    if (text == name) {
      out = value;
      return true;
    }
  }
  return false;
}

void AddSoundOptions(CLI::App& app, TSoundOptions& s) {
  static constexpr std::pair<const char*, platform::TSoundInput> kInputs[] = {
      {"none", platform::TSoundInput::Off},
      {"mic", platform::TSoundInput::Microphone},
      {"system", platform::TSoundInput::System},
      {"both", platform::TSoundInput::Both}};
  static constexpr std::pair<const char*, TSoundEncoding> kCodings[] = {
      {"mp3", TSoundEncoding::Mp3}, {"adpcm", TSoundEncoding::Adpcm}, {"pcm", TSoundEncoding::Pcm}};
  static constexpr std::pair<const char*, std::int32_t> kRates[] = {
      {"11025", 11025}, {"22050", 22050}, {"44100", 44100}};
  static constexpr std::pair<const char*, std::int32_t> kChannels[] = {{"1", 1}, {"2", 2}};
  AddChecked(
      app, "--audio", [&s](const std::string& text) { return ReadChoice(text, kInputs, s.Input); },
      "none|mic|system|both", "none, mic, system or both",
      "the sound recorded with the screen: the microphone, what the computer plays, or both "
      "mixed",
      "none");
  AddChecked(
      app, "--audio-format",
      [&s](const std::string& text) {
        return ReadChoice(text, kCodings, s.Coding) &&
               (s.Coding != TSoundEncoding::Mp3 || Mp3EncoderBuiltIn());
      },
      "mp3|adpcm|pcm", Mp3EncoderBuiltIn() ? "mp3, adpcm or pcm" : "adpcm or pcm (no MP3 encoder)",
      "how the sound is coded in the movie: mp3 (small), adpcm (4-bit, four times smaller than "
      "pcm) or pcm (uncompressed)",
      Mp3EncoderBuiltIn() ? "mp3" : "adpcm");
  AddChecked(
      app, "--audio-rate",
      [&s](const std::string& text) { return ReadChoice(text, kRates, s.Format.Rate); }, "HZ",
      "11025, 22050 or 44100", "the sound's sample rate", "44100");
  AddChecked(
      app, "--audio-channels",
      [&s](const std::string& text) { return ReadChoice(text, kChannels, s.Format.Channels); },
      "1|2", "1 or 2", "mono or stereo", "2");
}

void DeclareRecord(CLI::App& app, TRecordArgs& r) {
#ifdef _WIN32
  app.add_option("--platform", r.Platform,
                 "the desktop to record: win32 (the Windows desktop, with the Win32 tool window) "
                 "or sim (a simulated desktop)")
      ->type_name("NAME")
      ->default_str("KESTROVA_PLATFORM when set, else win32");
#else
  app.add_option("--platform", r.Platform,
                 "the desktop to record: x11 (the X display in $DISPLAY, with the Qt tool window) "
                 "or sim (a simulated desktop)")
      ->type_name("NAME")
      ->default_str(
          "KESTROVA_PLATFORM when set, else the best available: x11 where a display can be "
          "opened, else sim");
#endif
  CLI::Option* targets[] = {
      app.add_flag_callback(
          "--full-screen", [&r] { r.Target = TRecordTarget::FullScreen; },
          "the whole screen (the default)"),
      app.add_flag_callback(
          "--active-window", [&r] { r.Target = TRecordTarget::ActiveWindow; },
          "the window that is active when the recording starts (after --delay)"),
      AddChecked(
          app, "--region",
          [&r](const std::string& text) {
            r.Target = TRecordTarget::Region;
            return ReadRegion(text, r.Region);
          },
          "X,Y,W,H", "X,Y,WIDTH,HEIGHT in pixels, such as 0,0,640,480",
          "a rectangle of the screen: its top left corner at X,Y, W pixels wide and H high",
          "none"),
      AddChecked(
          app, "--window",
          [&r](const std::string& text) {
            r.Target = TRecordTarget::Window;
            return ReadWindow(text, r.Window);
          },
          "ID", "a window's identifier, such as 0x3a00007",
#ifdef _WIN32
          "the window of that handle (its HWND: 0x3a00007 or decimal)",
#else
          "the window of that identifier (as xwininfo or wmctrl -l show it: 0x3a00007 or "
          "decimal)",
#endif
          "none"),
  };
  for (CLI::Option* a : targets) {
    for (CLI::Option* b : targets) {
      if (a != b) a->excludes(b);
    }
  }
  AddNumber(app, "--seconds",
            std::function<void(std::uint32_t)>([&r](std::uint32_t n) { r.Seconds = n; }), 1u,
            9999999u, "N", "stop after N seconds", "until Ctrl+C or SIGTERM, which save too");
  AddNumber(app, "--delay", r.Delay, 0u, 3600u, "N",
            "count N seconds down on stderr before recording");
  AddChecked(
      app, "--hotkey",
      [&r](const std::string& text) {
        const std::optional<platform::THotKeyChoice> key = platform::ParseHotKey(text);
        if (key) r.HotKey = *key;
        return key.has_value();
      },
      "KEYS", "modifiers and a letter or digit, such as Ctrl+Alt+S",
      "the key that stops the recording, such as Ctrl+Shift+R", "Ctrl+Alt+S");
  AddChecked(
      app, "-o",
      [&r](const std::string& text) {
        r.Output = text;
#ifdef _WIN32
        return !text.empty() && text.back() != '/' && text.back() != '\\';
#else
        return !text.empty() && text.back() != '/';
#endif
      },
      "FILE", "a file name (not a folder)",
      "the movie; a name already taken gets -2, -3... and nothing is replaced",
#ifdef _WIN32
      "Kestrova-YYYY-MM-DD_HH-MM-SS.swf in the Videos folder");
#else
      "Kestrova-YYYY-MM-DD_HH-MM-SS.swf in the videos folder: XDG_VIDEOS_DIR of user-dirs.dirs, "
      "else ~/Videos, else the home folder");
#endif
  AddWebPlayer(app, r.WebPlayer);
  AddChecked(
      app, "--colours", [&r](const std::string& text) { return ReadColours(text, r.Colours); },
      "256|32k|16m", "256, 32k or 16m",
      "the colours recorded: 256 (a fixed palette, the smallest files), 32k (15-bit colour) or "
      "16m (32-bit, lossless; photos and gradients without bands)",
      "256");
  AddSoundOptions(app, r.Sound);
  AddQuiet(app, r.Quiet);
}

void DeclareRecover(CLI::App& app, TRecoverArgs& r) {
  AddArgument(app, "FOLDER", r.Folder,
              "the recording joined: a path, or a name in the state folder (default: the latest "
              "one not in progress)");
  app.add_option("-o", r.Output, "the movie")
      ->type_name("FILE")
      ->default_str("~/Kestrova-<folder name>.swf");
  AddWebPlayer(app, r.WebPlayer);
  AddQuiet(app, r.Quiet);
}

}  // namespace

TSoundOptions DefaultSoundOptions() {
  TSoundOptions s;
  s.Coding = Mp3EncoderBuiltIn() ? TSoundEncoding::Mp3 : TSoundEncoding::Adpcm;
  return s;
}

bool ParseRecordArgs(const std::vector<std::string>& args, TRecordArgs& r, std::string& problem) {
  return ReadArguments("record", DeclareRecord, args, r, problem);
}

bool ParseRecoverArgs(const std::vector<std::string>& args, TRecoverArgs& r, std::string& problem) {
  return ReadArguments("recover", DeclareRecover, args, r, problem);
}

std::shared_ptr<void> RecordOptions(CLI::App& app) {
  return DeclareWith<TRecordArgs, DeclareRecord>(app);
}

std::shared_ptr<void> RecoverOptions(CLI::App& app) {
  return DeclareWith<TRecoverArgs, DeclareRecover>(app);
}

}  // namespace kestrova
