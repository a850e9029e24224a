#include "app/Commands.h"

#include <array>
#include <cstring>
#include <iomanip>

namespace kestrova {

namespace {

// One row per command; a command family adds its rows here and its functions in its own file.
// Families a build can leave out (app/CMakeLists.txt) keep their rows inside their #ifdef.
constexpr std::array kCommands{
    TCommandInfo{"dump", "FILE.swf", "print the header and every tag of a SWF file", DumpCommand,
                 "Prints the file's header (version, compression, stage, frame rate, frame count) "
                 "and one line\n"
                 "per tag with its code, name, length and offset. A tag that cannot be read is "
                 "shown with the\n"
                 "reason, and the listing goes on.\n"
                 "\n"
                 "Example:\n"
                 "  kestrova dump movie.swf"},
    TCommandInfo{"rewrite", "IN.swf OUT.swf [--compress|--plain]",
                 "read every tag and write the movie again", RewriteCommand,
                 "Reads every tag and writes the movie again.\n"
                 "  --compress   write the body compressed (zlib)\n"
                 "  --plain      write the body uncompressed\n"
                 "  (neither)    keep the input's choice\n"
                 "\n"
                 "Example:\n"
                 "  kestrova rewrite old.swf new.swf --compress"},
    TCommandInfo{
        "probe", "FILE... [--json]",
        "print what the image and sound readers know about BMP, JPEG, WAV and MP3 files",
        ProbeCommand,
        "Prints, for each BMP, JPEG, WAV or MP3 file, what the readers find (\"name: value\" "
        "lines).\n"
        "  --json   one JSON array instead (default: the plain lines)\n"
        "The status is 1 when any file could not be probed; the others are probed all the same.\n"
        "\n"
        "Example:\n"
        "  kestrova probe picture.bmp sound.mp3 --json"},
#ifdef KESTROVA_RECORD_COMMANDS
    TCommandInfo{
        "record",
        "[--platform NAME] [--full-screen|--active-window] [--seconds N] [--delay N] "
        "[--hotkey KEYS] [-o FILE] [--web-player URL]",
        "record the screen into a movie and its HTML page", RecordCommand,
        "Records the screen at 12 frames a second, in segments of 10 seconds kept while recording "
        "in\n"
        "$XDG_STATE_HOME/kestrova/recording-* (~/.local/state/kestrova when XDG_STATE_HOME is "
        "unset), then\n"
        "joins them into FILE and writes FILE's page (.html) beside it.\n"
        "  --platform NAME   the desktop to record: x11 (the X display in $DISPLAY, with the Qt "
        "tool\n"
        "                    window) or sim (a simulated desktop); default: KESTROVA_PLATFORM when "
        "set,\n"
        "                    else the best available (x11 where a display can be opened, else "
        "sim)\n"
        "  --full-screen     the whole screen (the default)\n"
        "  --active-window   the window that is active when the recording starts\n"
        "  --seconds N       stop after N seconds (default: until Ctrl+C or SIGTERM, which save "
        "too)\n"
        "  --delay N         count N seconds down on stderr before recording (default 0)\n"
        "  --hotkey KEYS     the key that stops the recording, such as Ctrl+Shift+R (default "
        "Ctrl+Alt+S)\n"
        "  -o FILE           the movie (default: Kestrova-YYYY-MM-DD_HH-MM-SS.swf in the videos "
        "folder:\n"
        "                    XDG_VIDEOS_DIR of user-dirs.dirs, else ~/Videos, else the home "
        "folder;\n"
        "                    a name already taken gets -2, -3... and nothing is replaced)\n"
        "  --web-player URL  the page loads the Ruffle web player's script from URL (default: "
        "none; the\n"
        "                    page's object/embed markup is for browsers with a player of their "
        "own)\n"
        "Errors met while recording go to $XDG_STATE_HOME/kestrova/CaptureLog.txt. The exit status "
        "is 0\n"
        "only when the movie and its page were written.\n"
        "\n"
        "Examples:\n"
        "  kestrova record --seconds 30\n"
        "  kestrova record --active-window --seconds 10 -o ~/clip.swf\n"
        "  kestrova record --platform sim --seconds 5 -o demo.swf"},
    TCommandInfo{"recover", "[FOLDER] [-o FILE] [--web-player URL]",
                 "list recordings left unsaved and join one into a movie and page", RecoverCommand,
                 "Lists the recordings that were not saved (the program killed, a crash, a failed "
                 "save) and\n"
                 "joins the latest, or FOLDER (a path, or a name in the state folder), into a "
                 "movie and its page.\n"
                 "  -o FILE           the movie (default: ~/Kestrova-<folder name>.swf)\n"
                 "  --web-player URL  as for record (default: none)\n"
                 "\n"
                 "Example:\n"
                 "  kestrova recover -o ~/rescued.swf"},
#endif
#ifdef KESTROVA_PLAYER_COMMANDS
    TCommandInfo{"frames", "IN.swf OUTDIR [--from N] [--to M] [--every K]",
                 "play a movie and write its frames as PNG pictures", FramesCommand,
                 "Plays the movie and writes frames as PNG pictures (OUTDIR/frame-00001.png...).\n"
                 "  --from N    the first frame written (default 1)\n"
                 "  --to M      the last frame written (default: the movie's last)\n"
                 "  --every K   every K-th frame from N (default 1: every frame)\n"
                 "\n"
                 "Example:\n"
                 "  kestrova frames movie.swf frames/ --every 12"},
    TCommandInfo{
        "export", "IN.swf OUT.mp4|OUT.webm|OUT.gif|OUT.png [--scale S]",
        "play a movie into ffmpeg as video (an animated PNG for .png)", ExportCommand,
        "Plays the movie into ffmpeg at the movie's frame rate: H.264 for .mp4, VP9 for .webm, a\n"
        "palette-optimised GIF, or an animated PNG for .png. Needs ffmpeg.\n"
        "  --scale S   resize by S with nearest-neighbour sampling (default 1)\n"
        "\n"
        "Example:\n"
        "  kestrova export movie.swf movie.mp4 --scale 2"},
#endif
    TCommandInfo{"view", "FILE.swf|FILE.html [--browser]",
                 "watch a recording in a window, or in the browser", ViewCommand,
                 "Plays the recording (every part of a split one, as one timeline) in a window:\n"
                 "Space plays and pauses, Left and Right step a frame, F fits the window, 1 shows\n"
                 "the movie pixel for pixel; the bar below seeks. Needs a display.\n"
                 "  --browser   serve the page's folder on 127.0.0.1 and open it in the browser,\n"
                 "              until Ctrl+C\n"
                 "\n"
                 "Example:\n"
                 "  kestrova view movie.html --browser"},
    TCommandInfo{"thumbnail", "IN.swf OUT.png SIZE",
                 "write a small picture of a movie's first frame (for file managers)",
                 ThumbnailCommand,
                 "Writes the movie's first frame as a PNG picture whose longer side is at most "
                 "SIZE pixels.\n"
                 "\n"
                 "Example:\n"
                 "  kestrova thumbnail movie.swf movie.png 256"},
    TCommandInfo{"slideshow",
                 "OUT.swf IMAGE... [--fps N] [--seconds-each S] [--audio FILE.wav|FILE.mp3] "
                 "[--background RRGGBB] [--web-player URL]",
                 "make a movie and its page showing BMP and JPEG pictures in turn, with a sound",
                 SlideshowCommand,
                 "Makes a compressed movie and its page showing each BMP or JPEG picture in turn, "
                 "pixel for\n"
                 "pixel, centred on a stage as large as the largest picture.\n"
                 "  --fps N               frames per second (default 12)\n"
                 "  --seconds-each S      how long each picture shows (default 3)\n"
                 "  --audio FILE          a PCM WAV or MP3 sound started on the first frame "
                 "(default: none)\n"
                 "  --background RRGGBB   the stage's colour around smaller pictures (default "
                 "000000, black)\n"
                 "  --web-player URL      as for record (default: none)\n"
                 "\n"
                 "Example:\n"
                 "  kestrova slideshow show.swf a.bmp b.jpg --seconds-each 5 --audio music.mp3"},
    TCommandInfo{"join", "OUT.swf IN.swf... [--web-player URL]",
                 "join movies one after the other, each as a sprite, into a movie and its page",
                 JoinCommand,
                 "Joins movies one after the other into one compressed movie and its page, each as "
                 "a sprite\n"
                 "shown for its own frames. The stage is the largest input's and the frame rate "
                 "the first one's.\n"
                 "  --web-player URL   as for record (default: none)\n"
                 "\n"
                 "Example:\n"
                 "  kestrova join all.swf part1.swf part2.swf"},
};

// The recorder's window caption and tray tip carry numbers of their own that users take for the
// version; said once, beside the real one.
constexpr const char* kCaptionsAreNotVersions =
    "(\"Kestrova 1.1\", the tool window's title, and \"Kestrova 1.0\", the tray icon's tip, are "
    "fixed captions, not versions.)";

const TCommandInfo* FindCommand(const std::string& name) {
  for (const TCommandInfo& c : kCommands) {
    if (name == c.Name) return &c;
  }
  return nullptr;
}

void PrintUsageLine(const TCommandInfo& c, std::ostream& os) {
  os << "Usage: kestrova " << c.Name;
  if (*c.Usage) os << " " << c.Usage;
  os << "\n";
}

void PrintUsage(std::ostream& os) {
  os << "Usage: kestrova COMMAND [ARGS]\n\nCommands:\n";
  for (const TCommandInfo& c : kCommands) {
    os << "  " << c.Name << " " << c.Usage << "\n      " << c.Summary << "\n";
  }
  os << "  help [COMMAND]\n      show this text, or how to use one command\n";
  os << "  --version\n      show the program's version\n";
}

// Text for roff: a backslash is written \e, and a line starting with "." or "'" would be a
// request.
std::string Roff(const std::string& text) {
  std::string out;
  bool lineStart = true;
  for (char c : text) {
    if (lineStart && (c == '.' || c == '\'')) out += "\\&";
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";
    } else {
      out += c;
    }
    lineStart = c == '\n';
  }
  return out;
}

// The manual page, kestrova.1, from the texts of the command table: the build makes it with
// "kestrova help --man", so the page and the program's help never disagree.
void PrintManualPage(std::ostream& os) {
  os << ".TH KESTROVA 1 \"\" \"kestrova " << ProgramVersion() << "\" \"User Commands\"\n"
     << ".SH NAME\nkestrova \\- record the screen into SWF movies; build, play and inspect them\n"
     << ".SH SYNOPSIS\n.B kestrova\n.br\n.B kestrova\n.I COMMAND\n[ARGS]\n"
     << ".SH DESCRIPTION\n"
     << "Without arguments, kestrova opens its tool window: choose Full Screen or Active Window, "
        "press Start, and stop with Ctrl+Alt+S or the tray icon. The commands below do the same "
        "and more from the command line.\n"
     << ".SH COMMANDS\n";
  for (const TCommandInfo& c : kCommands) {
    os << ".SS \"" << c.Name << " " << Roff(c.Usage) << "\"\n" << Roff(c.Summary) << ".\n";
    if (*c.Details) os << ".PP\n.nf\n" << Roff(c.Details) << "\n.fi\n";
  }
  os << ".SH FILES\n.TP\n.I $XDG_STATE_HOME/kestrova/\n"
     << "Recordings in progress or not saved (recording\\-*), and CaptureLog.txt.\n"
     << ".SH SEE ALSO\n.BR ffmpeg (1)\n";
}

int Help(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) {
    PrintUsage(out);
    return 0;
  }
  if (args.size() == 1 && args[0] == "--man") {
    PrintManualPage(out);
    return 0;
  }
  const TCommandInfo* c = args.size() == 1 ? FindCommand(args[0]) : nullptr;
  if (c == nullptr) {
    if (args.size() == 1) {
      err << "kestrova help: unknown command \"" << args[0] << "\"\n";
    }
    err << "Usage: kestrova help [COMMAND]\n";
    return 2;
  }
  PrintUsageLine(*c, out);
  out << "\n" << c->Summary << "\n";
  if (*c->Details) out << "\n" << c->Details << "\n";
  return 0;
}

}  // namespace

std::span<const TCommandInfo> CommandTable() {
  return kCommands;
}

const char* ProgramVersion() {
  return KESTROVA_VERSION;
}

int UsageError(const char* command, std::ostream& err) {
  const TCommandInfo* c = FindCommand(command);
  if (c) {
    PrintUsageLine(*c, err);
  } else {
    err << "Usage: kestrova " << command << "\n";
  }
  return 2;
}

int UsageError(const char* command, std::ostream& err, const std::string& problem) {
  err << "kestrova " << command << ": " << problem << "\n";
  return UsageError(command, err);
}

int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) {
#ifdef KESTROVA_RECORD_COMMANDS
    return RunToolWindowProgram(out, err);
#else
    PrintUsage(err);
    return 2;
#endif
  }
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (args[0] == "help" || args[0] == "--help" || args[0] == "-h") return Help(rest, out, err);
  if (args[0] == "--version") {
    if (!rest.empty()) {
      err << "Usage: kestrova --version\n";
      return 2;
    }
    out << "kestrova " << ProgramVersion() << "\n" << kCaptionsAreNotVersions << "\n";
    return 0;
  }
  const TCommandInfo* c = FindCommand(args[0]);
  if (c == nullptr) {
    err << "kestrova: unknown command \"" << args[0] << "\"\n";
    PrintUsage(err);
    return 2;
  }
  if (rest.size() == 1 && (rest[0] == "--help" || rest[0] == "-h"))
    return Help({args[0]}, out, err);
  return c->Run(rest, out, err);
}

}  // namespace kestrova
