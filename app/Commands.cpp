#include "app/Commands.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <sstream>

#include "app/CommandLine.h"

namespace kestrova {

namespace {

// One row per command; a command family adds its rows here and its functions in its own file.
// Families a build can leave out (app/CMakeLists.txt) keep their rows inside their #ifdef.
constexpr std::array kCommands{
    TCommandInfo{"dump", "print the header and every tag of a SWF file", DumpCommand, DumpOptions,
                 "Prints the file's header (version, compression, stage, frame rate, frame count) "
                 "and one line per tag with its code, name, length and offset. A tag that cannot "
                 "be read is shown with the reason, and the listing goes on.",
                 "kestrova dump movie.swf"},
    TCommandInfo{"rewrite", "read every tag and write the movie again", RewriteCommand,
                 RewriteOptions,
                 "Reads every tag and writes the movie again, compressed or not as the input was "
                 "unless --compress or --plain says otherwise.",
                 "kestrova rewrite old.swf new.swf --compress"},
    TCommandInfo{
        "probe", "print what the image and sound readers know about BMP, JPEG, WAV and MP3 files",
        ProbeCommand, ProbeOptions,
        "Prints, for each BMP, JPEG, WAV or MP3 file, what the readers find (\"name: value\" "
        "lines, or one JSON array with --json). The status is 1 when any file could not be "
        "probed; the others are probed all the same.",
        "kestrova probe picture.bmp sound.mp3 --json"},
#ifdef KESTROVA_RECORD_COMMANDS
    TCommandInfo{
        "record", "record the screen into a movie and its HTML page", RecordCommand, RecordOptions,
#ifdef _WIN32
        "Records the screen at 12 frames a second, in segments of 10 seconds kept while recording "
        "in %LOCALAPPDATA%\\Kestrova\\recording-*, then joins them into FILE and writes FILE's "
        "page (.html) beside it. Errors met while recording go to "
        "%LOCALAPPDATA%\\Kestrova\\CaptureLog.txt. The exit status is 0 only when the movie and "
        "its page were written.",
#else
        "Records the screen at 12 frames a second, in segments of 10 seconds kept while recording "
        "in $XDG_STATE_HOME/kestrova/recording-* (~/.local/state/kestrova when XDG_STATE_HOME is "
        "unset), then joins them into FILE and writes FILE's page (.html) beside it. Errors met "
        "while recording go to $XDG_STATE_HOME/kestrova/CaptureLog.txt. The exit status is 0 only "
        "when the movie and its page were written.",
#endif
        "kestrova record --seconds 30\n"
        "kestrova record --active-window --seconds 10 -o ~/clip.swf\n"
        "kestrova record --region 0,0,1280,720 --colours 32k --seconds 20\n"
        "kestrova record --platform sim --seconds 5 -o demo.swf"},
    TCommandInfo{"recover", "list recordings left unsaved and join one into a movie and page",
                 RecoverCommand, RecoverOptions,
                 "Lists the recordings that were not saved (the program killed, a crash, a failed "
                 "save) and joins the latest, or FOLDER (a path, or a name in the state folder "
#ifdef _WIN32
                 "%LOCALAPPDATA%\\Kestrova), into a movie and its page.",
#else
                 "$XDG_STATE_HOME/kestrova), into a movie and its page.",
#endif
                 "kestrova recover -o ~/rescued.swf"},
    TCommandInfo{"stop", "stop the recording of the Kestrova running on this display, and save it",
                 StopCommand, StopOptions,
                 "Asks the Kestrova running on this display (the tool window, or kestrova record) "
                 "to stop its recording and save it, as its hot key's Stop Record would (the tool "
                 "window asks where to save), and says where the movie went. Bind it to a key in "
                 "the desktop's own keyboard settings where the hot key cannot be had. The exit "
                 "status is 0 when the recording was stopped and saved, 1 when no Kestrova runs "
                 "here, nothing was being recorded or it was not saved.",
                 "kestrova stop"},
#endif
#ifdef KESTROVA_PLAYER_COMMANDS
    TCommandInfo{"frames", "play a movie and write its frames as PNG pictures", FramesCommand,
                 FramesOptions,
                 "Plays the movie and writes frames as PNG pictures (OUTDIR/frame-00001.png...), "
                 "numbered by their frame in the movie.",
                 "kestrova frames movie.swf frames/ --every 12"},
    TCommandInfo{"export", "play a movie into ffmpeg as video (an animated PNG for .png)",
                 ExportCommand, ExportOptions,
                 "Plays the movie into ffmpeg at the movie's frame rate: H.264 for .mp4, VP9 for "
                 ".webm, a palette-optimised GIF, or an animated PNG for .png. Needs ffmpeg.",
                 "kestrova export movie.swf movie.mp4 --scale 2"},
#endif
#ifdef _WIN32
    TCommandInfo{
        "view", "watch a recording in the browser", ViewCommand, ViewOptions,
        "Serves the recording's folder on 127.0.0.1 and opens its page (the movie's .html, "
        "else the movie) in the default browser, as view --browser does elsewhere: this "
        "program has no viewer window on Windows. Ctrl+C stops serving.",
        "kestrova view movie.swf\nkestrova view movie.html"},
#else
    TCommandInfo{"view", "watch a recording in a window, or in the browser", ViewCommand,
                 ViewOptions,
                 "Plays the recording (every part of a split one, as one timeline) in a window: "
                 "Space plays and pauses, Left and Right step a frame, F fits the window, 1 shows "
                 "the movie pixel for pixel; the bar below seeks. Needs a display.",
                 "kestrova view movie.swf\nkestrova view movie.html --browser"},
#endif
    TCommandInfo{
        "thumbnail", "write a small picture of a movie's first frame (for file managers)",
        ThumbnailCommand, ThumbnailOptions,
        "Writes the movie's first frame as a PNG picture whose longer side is at most SIZE "
        "pixels.",
        "kestrova thumbnail movie.swf movie.png 256"},
    TCommandInfo{"slideshow",
                 "make a movie and its page showing BMP and JPEG pictures in turn, with a sound",
                 SlideshowCommand, SlideshowOptions,
                 "Makes a compressed movie and its page showing each BMP or JPEG picture in turn, "
                 "pixel for pixel, centred on a stage as large as the largest picture.",
                 "kestrova slideshow show.swf a.bmp b.jpg --seconds-each 5 --audio music.mp3"},
    TCommandInfo{"join",
                 "join movies one after the other, each as a sprite, into a movie and its page",
                 JoinCommand, JoinOptions,
                 "Joins movies one after the other into one compressed movie and its page, each as "
                 "a sprite shown for its own frames. The stage is the largest input's and the "
                 "frame rate the first one's.",
                 "kestrova join all.swf part1.swf part2.swf"},
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
  const std::string usage = CommandUsage(c);
  os << "Usage: kestrova " << c.Name << (usage.empty() ? "" : " ") << usage << "\n";
}

void PrintUsage(std::ostream& os) {
  os << "Usage: kestrova COMMAND [ARGS]\n\nCommands:\n";
  for (const TCommandInfo& c : kCommands) {
    os << "  " << c.Name << " " << CommandUsage(c) << "\n      " << c.Summary << "\n";
  }
  os << "  help [COMMAND]\n      show this text, or how to use one command\n";
  os << "  completion bash\n      print the bash completion script\n";
  os << "  --version\n      show the program's version\n";
}

// Text filled into lines of at most width columns, each after indent spaces; the text's own line
// breaks are kept.
std::string Fill(const std::string& text, std::size_t indent, std::size_t width = 100) {
  std::string out;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string word, current;
    while (words >> word) {
      if (!current.empty() && indent + current.size() + 1 + word.size() > width) {
        out += std::string(indent, ' ') + current + "\n";
        current.clear();
      }
      current += (current.empty() ? "" : " ") + word;
    }
    out += std::string(indent, ' ') + current + "\n";
  }
  return out;
}

// What help says of one option: its description and, for an option with a value, its default.
std::string OptionText(const CLI::Option& o) {
  std::string text = o.get_description();
  if (!o.get_positional() && TakesValue(o) && !o.get_default_str().empty()) {
    text += " (default: " + o.get_default_str() + ")";
  }
  return text;
}

std::string OptionNames(const CLI::Option& o) {
  if (o.get_positional()) return o.get_type_name();
  std::string names;
  for (const std::string& s : o.get_snames()) names += "-" + s + ", ";
  for (const std::string& l : o.get_lnames()) names += "--" + l + ", ";
  names.resize(names.size() - 2);
  return !TakesValue(o) ? names : names + " " + o.get_type_name();
}

// "Arguments:" and "Options:" lists: each name, and its text filled beside it (or under it when
// the name is long).
void PrintOptionList(const CLI::App& app, std::ostream& os) {
  constexpr std::size_t kColumn = 24;
  for (const bool positional : {true, false}) {
    bool any = false;
    for (const CLI::Option* o : app.get_options()) {
      if (o->get_positional() != positional) continue;
      if (!any) os << "\n" << (positional ? "Arguments:" : "Options:") << "\n";
      any = true;
      const std::string names = "  " + OptionNames(*o);
      const std::string text = Fill(OptionText(*o), kColumn);
      if (names.size() + 2 <= kColumn) {
        os << names << text.substr(names.size());
      } else {
        os << names << "\n" << text;
      }
    }
  }
}

void PrintCommandHelp(const TCommandInfo& c, std::ostream& os) {
  const TDeclaredOptions options = DeclaredOptions(c);
  PrintUsageLine(c, os);
  os << "\n" << c.Summary << "\n";
  if (*c.Details) os << "\n" << Fill(c.Details, 0);
  PrintOptionList(*options.Parser, os);
  if (*c.Examples) {
    os << "\n"
       << (std::strchr(c.Examples, '\n') ? "Examples:" : "Example:") << "\n"
       << Fill(c.Examples, 2, 1000);
  }
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

void PrintManualSection(const TCommandInfo& c, std::ostream& os) {
  const TDeclaredOptions options = DeclaredOptions(c);
  os << ".SS \"" << c.Name << " " << Roff(CommandUsage(c)) << "\"\n" << Roff(c.Summary) << ".\n";
  if (*c.Details) os << ".PP\n" << Roff(c.Details) << "\n";
  for (const CLI::Option* o : options.Parser->get_options()) {
    os << ".TP\n.B " << Roff(OptionNames(*o)) << "\n" << Roff(OptionText(*o)) << "\n";
  }
  if (*c.Examples) {
    os << ".PP\n"
       << (std::strchr(c.Examples, '\n') ? "Examples:" : "Example:") << "\n.nf\n"
       << Roff(Fill(c.Examples, 2, 1000)) << ".fi\n";
  }
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
  for (const TCommandInfo& c : kCommands) PrintManualSection(c, os);
  os << ".SS \"completion bash\"\nPrints the bash completion script (installed as "
        "share/bash\\-completion/completions/kestrova).\n"
     << ".SH FILES\n.TP\n.I $XDG_STATE_HOME/kestrova/\n"
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
  PrintCommandHelp(*c, out);
  return 0;
}

// Words separated by spaces, for the completion script.
std::string Words(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& w : words) text += (text.empty() ? "" : " ") + w;
  return text;
}

// One case of the completion function per command: its options, and what follows an option that
// takes a value (its choices; file names for files and folders; nothing otherwise).
void PrintCompletionCase(const TCommandInfo& c, std::ostream& os) {
  const TDeclaredOptions options = DeclaredOptions(c);
  std::vector<std::string> names = {"--help"};
  std::vector<std::string> files, other;
  std::string choices;
  for (const CLI::Option* o : options.Parser->get_options()) {
    if (o->get_positional()) continue;
    std::vector<std::string> own;
    for (const std::string& s : o->get_snames()) own.push_back("-" + s);
    for (const std::string& l : o->get_lnames()) own.push_back("--" + l);
    names.insert(names.end(), own.begin(), own.end());
    if (!TakesValue(*o)) continue;
    const std::vector<std::string> fixed = Choices(*o);
    const std::string type = o->get_type_name();
    if (!fixed.empty()) {
      std::string pattern = own.front();
      for (std::size_t i = 1; i < own.size(); ++i) pattern += "|" + own[i];
      choices += "        " + pattern + ") COMPREPLY=($(compgen -W \"" + Words(fixed) +
                 "\" -- \"$cur\")); return ;;\n";
    } else if (type.find("FILE") != std::string::npos || type.find("DIR") != std::string::npos) {
      files.insert(files.end(), own.begin(), own.end());
    } else {
      other.insert(other.end(), own.begin(), own.end());
    }
  }
  auto join = [](const std::vector<std::string>& v) {
    std::string t;
    for (const std::string& w : v) t += (t.empty() ? "" : "|") + w;
    return t;
  };
  os << "    " << c.Name << ")\n      options=\"" << Words(names) << "\"\n      case $prev in\n"
     << choices;
  if (!files.empty()) os << "        " << join(files) << ") _kestrova_files; return ;;\n";
  if (!other.empty()) os << "        " << join(other) << ") COMPREPLY=(); return ;;\n";
  os << "      esac ;;\n";
}

}  // namespace

std::span<const TCommandInfo> CommandTable() {
  return kCommands;
}

std::string CommandUsage(const TCommandInfo& command) {
  return UsageText(*DeclaredOptions(command).Parser);
}

std::string BashCompletion() {
  std::ostringstream os;
  std::vector<std::string> commands;
  for (const TCommandInfo& c : kCommands) commands.push_back(c.Name);
  os << "# bash completion for kestrova (written by \"kestrova completion bash\")\n"
     << "_kestrova_files() {\n"
     << "  compopt -o filenames 2>/dev/null\n"
     << "  COMPREPLY=($(compgen -f -- \"$cur\"))\n"
     << "}\n"
     << "_kestrova() {\n"
     << "  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]} options=\n"
     << "  if [ \"$COMP_CWORD\" -eq 1 ]; then\n"
     << "    COMPREPLY=($(compgen -W \"" << Words(commands)
     << " help completion --help --version\" -- \"$cur\"))\n"
     << "    return\n"
     << "  fi\n"
     << "  case ${COMP_WORDS[1]} in\n"
     << "    help)\n"
     << "      [ \"$COMP_CWORD\" -eq 2 ] && COMPREPLY=($(compgen -W \"" << Words(commands)
     << " --man\" -- \"$cur\"))\n"
     << "      return ;;\n"
     << "    completion)\n"
     << "      [ \"$COMP_CWORD\" -eq 2 ] && COMPREPLY=($(compgen -W \"bash\" -- \"$cur\"))\n"
     << "      return ;;\n";
  for (const TCommandInfo& c : kCommands) PrintCompletionCase(c, os);
  os << "  esac\n"
     << "  if [[ $cur == -* ]]; then\n"
     << "    COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))\n"
     << "  else\n"
     << "    _kestrova_files\n"
     << "  fi\n"
     << "}\n"
     << "complete -F _kestrova kestrova\n";
  return os.str();
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
  if (args[0] == "completion") {
    if (rest.size() != 1 || rest[0] != "bash") {
      if (!rest.empty()) err << "kestrova completion: only bash is known\n";
      err << "Usage: kestrova completion bash\n";
      return 2;
    }
    out << BashCompletion();
    return 0;
  }
  const TCommandInfo* c = FindCommand(args[0]);
  if (c == nullptr) {
    err << "kestrova: unknown command \"" << args[0] << "\"\n";
    PrintUsage(err);
    return 2;
  }
  // --help anywhere among a command's arguments answers with its help, like CLI11 itself would.
  if (std::any_of(rest.begin(), rest.end(),
                  [](const std::string& a) { return a == "--help" || a == "-h"; })) {
    return Help({args[0]}, out, err);
  }
  return c->Run(rest, out, err);
}

}  // namespace kestrova
