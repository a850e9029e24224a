#include "app/Commands.h"

#include <array>
#include <cstring>
#include <iomanip>

namespace kestrova {

namespace {

// One row per command; a command family adds its rows here and its functions in its own file.
constexpr std::array kCommands{
    TCommandInfo{"dump", "FILE.swf", "print the header and every tag of a SWF file", DumpCommand},
    TCommandInfo{"rewrite", "IN.swf OUT.swf [--compress|--plain]",
                 "read every tag and write the movie again", RewriteCommand},
    TCommandInfo{"frames", "IN.swf OUTDIR [--from N] [--to M] [--every K]",
                 "play a movie and write its frames as PNG pictures", FramesCommand},
    TCommandInfo{"export", "IN.swf OUT.mp4|OUT.webm|OUT.gif|OUT.png [--scale S]",
                 "play a movie into ffmpeg as video (an animated PNG for .png)", ExportCommand},
};

const TCommandInfo* FindCommand(const std::string& name) {
  for (const TCommandInfo& c : kCommands) {
    if (name == c.Name) return &c;
  }
  return nullptr;
}

void PrintUsage(std::ostream& os) {
  os << "Usage: kestrova COMMAND [ARGS]\n\nCommands:\n";
  for (const TCommandInfo& c : kCommands) {
    os << "  " << c.Name << " " << c.Usage << "\n      " << c.Summary << "\n";
  }
  os << "  help\n      show this text\n";
}

}  // namespace

std::span<const TCommandInfo> CommandTable() {
  return kCommands;
}

int UsageError(const char* command, std::ostream& err) {
  const TCommandInfo* c = FindCommand(command);
  err << "Usage: kestrova " << command << " " << (c ? c->Usage : "") << "\n";
  return 2;
}

int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty() || args[0] == "help" || args[0] == "--help" || args[0] == "-h") {
    PrintUsage(args.empty() ? err : out);
    return args.empty() ? 2 : 0;
  }
  const TCommandInfo* c = FindCommand(args[0]);
  if (c == nullptr) {
    err << "kestrova: unknown command \"" << args[0] << "\"\n";
    PrintUsage(err);
    return 2;
  }
  return c->Run(std::vector<std::string>(args.begin() + 1, args.end()), out, err);
}

}  // namespace kestrova
