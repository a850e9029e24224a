// The commands of the kestrova program, as functions so tests can run them.
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <span>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace kestrova {

namespace platform::sim {
class TSimDesktop;
}

// A command's arguments exclude the program and command names. Returns the exit status.
using TCommandFunc = int (*)(const std::vector<std::string>& args, std::ostream& out,
                             std::ostream& err);

// Declares a command's arguments and options on a parser (app/CommandLine.h), bound to an options
// object it returns, which must live as long as the parser.
using TDeclareFunc = std::shared_ptr<void> (*)(CLI::App& app);

// The one place a command is described: its usage line, the option list of "help COMMAND" and
// "COMMAND --help", its manual page section and its shell completion are made of this row and of
// the options Declare declares (each with its default).
struct TCommandInfo {
  const char* Name;
  const char* Summary;  // one line
  TCommandFunc Run;
  TDeclareFunc Declare;
  const char* Details = "";   // what the command does and writes where, before the options
  const char* Examples = "";  // one command line a line
};

// Every command of the program, in the order the usage text lists them.
std::span<const TCommandInfo> CommandTable();

// The arguments after the command's name in its usage line, made from its declared options.
std::string CommandUsage(const TCommandInfo& command);

// A bash completion script for the program's commands and options ("kestrova completion bash").
std::string BashCompletion();

// Prints the command's usage line on err and returns the exit status of bad arguments (2).
// Every command answers bad arguments through it, so they all look and exit alike.
int UsageError(const char* command, std::ostream& err);
// The same, after a line saying what was wrong ("kestrova COMMAND: problem").
int UsageError(const char* command, std::ostream& err, const std::string& problem);

// The program's version, from the CMake project version.
const char* ProgramVersion();

// Dispatches a command line (argv without the program name). Besides the commands of the table
// it answers "help", "help COMMAND", "COMMAND ... --help" (on out, status 0), "help --man" (the
// manual page, kestrova.1, made from the same texts), "completion bash" and "--version".
int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// SWF file commands (SWFCommands.cpp).
// Prints the header and one line per tag of a SWF file. Returns the exit status.
int RunDump(const std::string& fileName, std::ostream& out, std::ostream& err);
// Loads, parses and rebuilds a SWF file and saves it; compression: -1 keep, 0 plain, 1 compressed.
int RunRewrite(const std::string& inName, const std::string& outName, int compression,
               std::ostream& out, std::ostream& err);
int DumpCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RewriteCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
std::shared_ptr<void> DumpOptions(CLI::App& app);
std::shared_ptr<void> RewriteOptions(CLI::App& app);

// Image and sound file commands (ProbeCommand.cpp).
// Prints what the image and sound readers know about each file ("name: value" lines, or a JSON
// array with --json). Returns 1 when any file could not be probed, after probing the others.
int ProbeCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
std::shared_ptr<void> ProbeOptions(CLI::App& app);
// Recording commands (RecordCommands.cpp).
// Records through the recorder's own flows (start, hot key, Stop Record, Yes, the save dialog
// answered with the output name); 0 only when the movie and its page were written.
int RecordCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// Lists the recordings left unsaved in the state folder and joins one into a movie and page.
int RecoverCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// Asks the Kestrova running on this display to stop and save its recording (StopCommand.cpp):
// 0 when it was stopped and saved; 1 when none runs, nothing was recorded or it was not saved.
int StopCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
std::shared_ptr<void> StopOptions(CLI::App& app);
// Their options (RecordOptions.cpp).
std::shared_ptr<void> RecordOptions(CLI::App& app);
std::shared_ptr<void> RecoverOptions(CLI::App& app);
// The tool-window program (kestrova without arguments) on the best available desktop; on the
// simulated one, a short scripted demonstration, which says so on err.
int RunToolWindowProgram(std::ostream& out, std::ostream& err);
// The demonstration's script: start a full-screen recording, stop it after six seconds, save it
// as outputName, close the tool window.
void PlayDemonstration(platform::sim::TSimDesktop& desktop, const std::string& outputName);
// Movie building commands (BuilderCommands.cpp).
// kestrova slideshow OUT.swf IMAGE... [--fps N] [--seconds-each S] [--audio FILE]
// [--background RRGGBB] [--web-player URL]: a compressed movie (and its page) showing each BMP
// or JPEG picture in turn, centred on a stage as large as the largest, with the sound started on
// the first frame.
int SlideshowCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// kestrova join OUT.swf IN.swf... [--web-player URL]: the movies one after the other (and a
// page), each as a sprite at its own depth for its own frames, on a stage as large as the
// largest at the first one's frame rate.
int JoinCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
std::shared_ptr<void> SlideshowOptions(CLI::App& app);
std::shared_ptr<void> JoinOptions(CLI::App& app);
// Playing commands (PlayerCommands.cpp): movies played by the project's own player.
// Writes frames as PNG pictures: kestrova frames IN.swf OUTDIR [--from N] [--to M] [--every K].
int FramesCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// Pipes the frames into ffmpeg: kestrova export IN.swf OUT.mp4|.webm|.gif|.png [--scale S].
int ExportCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// Viewing commands (ViewCommand.cpp): kestrova view FILE.swf|FILE.html [--browser] and
// kestrova thumbnail IN.swf OUT.png SIZE.
int ViewCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int ThumbnailCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
std::shared_ptr<void> ViewOptions(CLI::App& app);
std::shared_ptr<void> ThumbnailOptions(CLI::App& app);
std::shared_ptr<void> FramesOptions(CLI::App& app);
std::shared_ptr<void> ExportOptions(CLI::App& app);

}  // namespace kestrova
