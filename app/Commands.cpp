#include "app/Commands.h"

#include <array>
#include <cstring>
#include <iomanip>

namespace kestrova {

namespace {

// One row per command; a command family adds its rows here and its functions in its own file.
// Families a build can leave out (app/CMakeLists.txt) keep their rows inside their #ifdef.
constexpr std::array kCommands{
    TCommandInfo{"dump", "FILE.swf", "print the header and every tag of a SWF file", DumpCommand},
    TCommandInfo{"rewrite", "IN.swf OUT.swf [--compress|--plain]",
                 "read every tag and write the movie again", RewriteCommand},
    TCommandInfo{"probe", "FILE... [--json]",
                 "print what the image and sound readers know about BMP, JPEG, WAV and MP3 files",
                 ProbeCommand},
#ifdef KESTROVA_RECORD_COMMANDS
    TCommandInfo{"record",
                 "[--platform NAME] [--full-screen|--active-window] [--seconds N] [-o FILE] "
                 "[--web-player URL]",
                 "record the screen into a movie and its HTML page", RecordCommand},
    TCommandInfo{"recover", "[FOLDER] [-o FILE] [--web-player URL]",
                 "list recordings left unsaved and join one into a movie and page", RecoverCommand},
#endif
#ifdef KESTROVA_PLAYER_COMMANDS
    TCommandInfo{"frames", "IN.swf OUTDIR [--from N] [--to M] [--every K]",
                 "play a movie and write its frames as PNG pictures", FramesCommand},
    TCommandInfo{"export", "IN.swf OUT.mp4|OUT.webm|OUT.gif|OUT.png [--scale S]",
                 "play a movie into ffmpeg as video (an animated PNG for .png)", ExportCommand},
#endif
    TCommandInfo{"slideshow",
                 "OUT.swf IMAGE... [--fps N] [--seconds-each S] [--audio FILE.wav|FILE.mp3] "
                 "[--background RRGGBB] [--web-player URL]",
                 "make a movie and its page showing BMP and JPEG pictures in turn, with a sound",
                 SlideshowCommand},
    TCommandInfo{"join", "OUT.swf IN.swf... [--web-player URL]",
                 "join movies one after the other, each as a sprite, into a movie and its page",
                 JoinCommand},
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

int Help(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) {
    PrintUsage(out);
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
