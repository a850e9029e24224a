// frames and export: a movie played by the project's own player, written as PNG pictures or
// piped into ffmpeg as video.
#ifdef _WIN32
#include <io.h>
#else
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "app/CommandLine.h"
#include "app/Commands.h"
#include "app/Progress.h"
#include "player/Player.h"
#include "player/Png.h"
#include "swftools/Stream.h"

#ifndef _WIN32
extern char** environ;
#endif

namespace kestrova {

namespace {

// Loads the movie for playing; on failure says why on err and returns null.
std::unique_ptr<TMoviePlayer> OpenMovie(const std::string& name, std::ostream& err) {
  try {
    return std::make_unique<TMoviePlayer>(name);
  } catch (const EPlayerError& e) {
    err << "kestrova: \"" << name << "\": " << e.what() << "\n";
  } catch (const std::exception& e) {
    err << "kestrova: " << e.what() << "\n";
  }
  return nullptr;
}

// Reports what the player could not show, and a stop inside the movie; returns the exit status
// (1 when the movie is damaged, so a script does not take half a movie for all of it).
int Finish(const TMoviePlayer& player, const std::string& name, std::ostream& err) {
  for (const std::string& note : player.Notes()) err << "kestrova: note: " << note << "\n";
  if (player.StopReason().empty()) return 0;
  err << "kestrova: \"" << name << "\": " << player.StopReason() << "\n";
  return 1;
}

struct TFramesOptions {
  std::string In, OutDir;
  int From = 1, To = 1000000, Every = 1;
  bool Quiet = false;
};

void DeclareFrames(CLI::App& app, TFramesOptions& o) {
  AddArgument(app, "IN.swf", o.In, "the movie played")->required();
  AddArgument(app, "OUTDIR", o.OutDir, "the folder the pictures go to (made when missing)")
      ->required();
  AddNumber(app, "--from", o.From, 1, 1000000, "N", "the first frame written");
  AddNumber(app, "--to", std::function<void(int)>([&o](int v) { o.To = v; }), 1, 1000000, "M",
            "the last frame written", "the movie's last");
  AddNumber(app, "--every", o.Every, 1, 1000000, "K", "every K-th frame from the first written");
  AddQuiet(app, o.Quiet);
}

}  // namespace

std::shared_ptr<void> FramesOptions(CLI::App& app) {
  return DeclareWith<TFramesOptions, DeclareFrames>(app);
}

int FramesCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  TFramesOptions o;
  if (int status = ReadArguments("frames", DeclareFrames, args, o, err); status != 0) return status;
  if (o.From > o.To) return UsageError("frames", err, "--from comes after --to");
  const std::vector<std::string> names = {o.In, o.OutDir};
  const int from = o.From, to = o.To, every = o.Every;
  auto player = OpenMovie(names[0], err);
  if (!player) return 1;
  std::error_code ec;
  // The name is UTF-8; a std::string path would be read in the Windows ANSI code page.
  std::filesystem::create_directories(std::u8string(names[1].begin(), names[1].end()), ec);
  if (ec) {
    err << "kestrova: cannot create the folder \"" << names[1] << "\": " << ec.message() << "\n";
    return 1;
  }
  const int last = std::min<int>(to, player->DeclaredFrameCount());
  const int total = last >= from ? (last - from) / every + 1 : 0;
  // Short work finishes before a bar would be read.
  TProgress progress(err, "frames", static_cast<std::uint64_t>(total), o.Quiet || total < 100);
  int written = 0;
  for (int frame = 1; frame <= to; ++frame) {
    const bool wanted = frame >= from && (frame - from) % every == 0;
    if (!(wanted ? player->NextFrame() : player->SkipFrame())) break;
    if (!wanted) continue;
    char name[32];
    std::snprintf(name, sizeof name, "frame-%05d.png", frame);
    try {
      SavePng(names[1] + "/" + name, player->Pixels(), player->Width(), player->Height());
    } catch (const std::exception& e) {
      err << "kestrova: " << e.what() << "\n";
      return 1;
    }
    progress.Update(++written);
  }
  out << "Wrote " << written << " frame(s) of " << player->Width() << " x " << player->Height()
      << " to " << names[1] << "\n";
  return Finish(*player, names[0], err);
}

namespace {

#ifdef _WIN32
constexpr char kPathSeparator = ';';
constexpr const char* kExecutableSuffix = ".exe";
bool IsProgram(const std::string& file) {
  return _access(file.c_str(), 0) == 0;
}
#else
constexpr char kPathSeparator = ':';
constexpr const char* kExecutableSuffix = "";
bool IsProgram(const std::string& file) {
  return access(file.c_str(), X_OK) == 0;
}
#endif

// The full path of a program found on PATH, or empty.
std::string FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    const std::size_t end = std::min(dirs.find(kPathSeparator, start), dirs.size());
    const std::string dir = dirs.substr(start, end - start);
    const std::string candidate = (dir.empty() ? "." : dir) + "/" + name + kExecutableSuffix;
    if (IsProgram(candidate)) return candidate;
    start = end + 1;
  }
  return "";
}

// ffmpeg's output options for the file's kind; false for a kind it is not asked to write.
bool OutputOptions(const std::string& outName, double scale, std::vector<std::string>& options) {
  const std::string ext = std::filesystem::path(outName).extension().string();
  char size[128];
  const bool even = ext == ".mp4" || ext == ".webm";
  // Nearest-neighbour scaling keeps a screen recording's text sharp, and never scales a side to
  // nothing; the video codecs need even sizes, which an odd side gets by a padding column or row
  // rather than by being scaled.
  std::snprintf(size, sizeof size,
                "scale=max(1\\,trunc(iw*%g)):max(1\\,trunc(ih*%g)):flags=neighbor%s", scale, scale,
                even ? ",pad=ceil(iw/2)*2:ceil(ih/2)*2" : "");
  if (ext == ".mp4") {
    options = {"-vf",  size, "-c:v",     "libx264", "-preset", "veryfast",
               "-crf", "18", "-pix_fmt", "yuv420p", "-f",      "mp4"};
  } else if (ext == ".webm") {
    options = {"-vf",     size, "-c:v", "libvpx-vp9", "-deadline", "realtime", "-cpu-used", "8",
               "-row-mt", "1",  "-b:v", "0",          "-crf",      "32",       "-f",        "webm"};
  } else if (ext == ".gif") {
    options = {"-vf", std::string(size) + ",split[a][b];[a]palettegen[p];[b][p]paletteuse", "-f",
               "gif"};
  } else if (ext == ".png") {
    options = {"-vf", size, "-plays", "0", "-f", "apng"};
  } else {
    return false;
  }
  return true;
}

#ifdef _WIN32
// ffmpeg reading raw frames from a pipe, started through the command interpreter.
class TFfmpeg {
 public:
  bool Start(const std::string& program, const std::vector<std::string>& args, std::string& error) {
    // cmd.exe drops the outer quotes of the whole line, so each argument keeps its own.
    std::string line = "\"\"" + program + "\"";
    for (const std::string& a : args) {
      line += " \"";
      for (char c : a) line += c == '"' ? std::string("\\\"") : std::string(1, c);
      line += "\"";
    }
    line += "\"";
    FPipe = _popen(line.c_str(), "wb");
    if (!FPipe) error = std::strerror(errno);
    return FPipe != nullptr;
  }
  bool Write(const std::uint8_t* data, std::size_t size) {
    return std::fwrite(data, 1, size, FPipe) == size;
  }
  int Finish() {
    if (!FPipe) return -1;
    const int status = _pclose(FPipe);
    FPipe = nullptr;
    return status;
  }
  ~TFfmpeg() { Finish(); }

 private:
  std::FILE* FPipe = nullptr;
};
#else
// ffmpeg reading raw frames from a pipe.
class TFfmpeg {
 public:
  bool Start(const std::string& program, const std::vector<std::string>& args, std::string& error) {
    int fds[2];
    if (pipe(fds) != 0) {
      error = std::strerror(errno);
      return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[0], 0);
    posix_spawn_file_actions_addclose(&actions, fds[1]);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const int rc = posix_spawn(&FPid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[0]);
    if (rc != 0) {
      close(fds[1]);
      error = std::strerror(rc);
      return false;
    }
    FPipe = fds[1];
    return true;
  }
  bool Write(const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
      const ssize_t n = write(FPipe, data, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      data += n;
      size -= static_cast<std::size_t>(n);
    }
    return true;
  }
  // Closes the pipe and waits; returns ffmpeg's exit status (-1 when it did not exit normally).
  int Finish() {
    if (FPipe >= 0) close(FPipe);
    FPipe = -1;
    int status = 0;
    while (waitpid(FPid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  ~TFfmpeg() {
    if (FPipe >= 0) Finish();
  }

 private:
  pid_t FPid = 0;
  int FPipe = -1;
};

#endif

// While alive, an ffmpeg that fails and closes the pipe makes writes fail, instead of sending a
// signal that would end the program.
class TIgnoreBrokenPipe {
#ifndef _WIN32
 public:
  TIgnoreBrokenPipe() {
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &FOld);
  }
  ~TIgnoreBrokenPipe() {
    sigaction(SIGPIPE, &FOld, nullptr);
  }

 private:
  struct sigaction FOld = {};
#endif
};

struct TExportOptions {
  std::string In, Out;
  double Scale = 1;
  bool Quiet = false;
};

void DeclareExport(CLI::App& app, TExportOptions& o) {
  AddArgument(app, "IN.swf", o.In, "the movie played")->required();
  AddArgument(app, "OUT.mp4|OUT.webm|OUT.gif|OUT.png", o.Out,
              "the video written; its name's ending chooses the kind")
      ->required();
  AddNumber(app, "--scale", o.Scale, 0.001, 16.0, "S",
            "resize by S with nearest-neighbour sampling");
  AddQuiet(app, o.Quiet);
}

}  // namespace

std::shared_ptr<void> ExportOptions(CLI::App& app) {
  return DeclareWith<TExportOptions, DeclareExport>(app);
}

int ExportCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  TExportOptions o;
  if (int status = ReadArguments("export", DeclareExport, args, o, err); status != 0) return status;
  const std::vector<std::string> names = {o.In, o.Out};
  const double scale = o.Scale;
  std::vector<std::string> options;
  if (!OutputOptions(names[1], scale, options)) {
    err << "kestrova: cannot export to \"" << names[1]
        << "\": the name must end in .mp4, .webm, .gif or .png\n";
    return 2;
  }
  const std::string ffmpeg = FindProgram("ffmpeg");
  if (ffmpeg.empty()) {
    err << "kestrova: export needs ffmpeg, which is not installed (on Debian: apt-get install "
           "ffmpeg); `kestrova frames` writes PNG pictures without it\n";
    return 1;
  }
  auto player = OpenMovie(names[0], err);
  if (!player) return 1;
  double fps = player->FrameRate();
  if (!(fps > 0)) fps = 12;  // a movie without a rate plays at the recorder's
  char rate[32], size[32];
  std::snprintf(rate, sizeof rate, "%.6g", fps);
  std::snprintf(size, sizeof size, "%dx%d", player->Width(), player->Height());
  std::vector<std::string> ffArgs = {"-hide_banner", "-loglevel", "error", "-y", "-f",
                                     "rawvideo",     "-pix_fmt",  "rgba",  "-s", size,
                                     "-framerate",   rate,        "-i",    "-"};
  ffArgs.insert(ffArgs.end(), options.begin(), options.end());
  // ffmpeg writes a file of our own beside the output, named as a plain file ("file:"), so that
  // an output named like one of its protocols ("pipe:1.gif") is a file too, and a failed export
  // leaves an earlier output whole.
  std::string temporary;
  try {
    temporary = CreateTemporaryFile(names[1], std::filesystem::path(names[1]).extension().string());
  } catch (const EStreamError& e) {
    err << "kestrova: " << e.what() << "\n";
    return 1;
  }
  ffArgs.push_back("file:" + temporary);
  [[maybe_unused]] const TIgnoreBrokenPipe ignoreBrokenPipe;
  TFfmpeg encoder;
  std::string error;
  int frames = 0;
  bool piped = encoder.Start(ffmpeg, ffArgs, error);
  if (piped) {
    TProgress progress(err, "export", player->DeclaredFrameCount(),
                       o.Quiet || player->DeclaredFrameCount() < 100);
    const std::size_t bytes = std::size_t(player->Width()) * player->Height() * 4;
    while (player->NextFrame()) {
      if (!encoder.Write(player->Pixels(), bytes)) {
        piped = false;
        break;
      }
      progress.Update(++frames);
    }
  }
  const int status = error.empty() ? encoder.Finish() : -1;
  if (!error.empty()) {
    RemoveFile(temporary);
    err << "kestrova: cannot start ffmpeg: " << error << "\n";
    return 1;
  }
  if (!piped || status != 0) {
    RemoveFile(temporary);
    err << "kestrova: ffmpeg could not write \"" << names[1] << "\" (exit status " << status
        << ")\n";
    return 1;
  }
#ifndef _WIN32
  // The temporary file was private while it was written; the output gets the mode of the file it
  // replaces, or the usual one of a new file.
  struct stat old {};
  const mode_t mask = umask(0);
  umask(mask);
  chmod(temporary.c_str(),
        stat(names[1].c_str(), &old) == 0 ? (old.st_mode & 07777) : (0666 & ~mask));
#endif
  try {
    ReplaceFile(temporary, names[1]);
  } catch (const EStreamError& e) {
    RemoveFile(temporary);
    err << "kestrova: " << e.what() << "\n";
    return 1;
  }
  out << "Wrote " << frames << " frame(s) at " << rate << " fps to " << names[1] << "\n";
  return Finish(*player, names[0], err);
}

}  // namespace kestrova
