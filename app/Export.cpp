#include "app/Export.h"

#ifdef _WIN32
#include <io.h>
#else
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "app/Progress.h"
#include "player/Player.h"
#include "player/SoundTrack.h"
#include "swftools/Stream.h"

#ifndef _WIN32
extern char** environ;
#endif

namespace kestrova {

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

// What ffmpeg is asked to write for an output kind.
struct TOutputKind {
  const char* Extension;
  bool EvenSize;                   // the video codecs need even sides
  std::vector<std::string> Codec;  // after the filters
  std::vector<std::string> Audio;  // the audio codec; empty for a kind without sound
  bool Palette;                    // GIF: a palette pass first
};

const TOutputKind kOutputKinds[] = {
    {".mp4",
     true,
     {"-c:v", "libx264", "-preset", "veryfast", "-crf", "18", "-pix_fmt", "yuv420p", "-f", "mp4"},
     {"-c:a", "aac", "-b:a", "160k"},
     false},
    {".webm",
     true,
     {"-c:v", "libvpx-vp9", "-deadline", "realtime", "-cpu-used", "8", "-row-mt", "1", "-b:v", "0",
      "-crf", "32", "-f", "webm"},
     {"-c:a", "libopus", "-b:a", "128k"},
     false},
    {".gif", false, {"-f", "gif"}, {}, true},
    {".png", false, {"-plays", "0", "-f", "apng"}, {}, false},
};

const TOutputKind* OutputKindOf(const std::string& outName) {
  const std::string ext = std::filesystem::path(outName).extension().string();
  for (const TOutputKind& kind : kOutputKinds) {
    if (ext == kind.Extension) return &kind;
  }
  return nullptr;
}

// Nearest-neighbour scaling keeps a screen recording's text sharp, and never scales a side to
// nothing; the video codecs need even sizes, which an odd side gets by a padding column or row
// rather than by being scaled.
std::string ScaleFilter(const TOutputKind& kind, double scale) {
  char size[160];
  std::snprintf(size, sizeof size,
                "scale=max(1\\,trunc(iw*%g)):max(1\\,trunc(ih*%g)):flags=neighbor%s", scale, scale,
                kind.EvenSize ? ",pad=ceil(iw/2)*2:ceil(ih/2)*2" : "");
  return size;
}

// The arguments that make ffmpeg read raw RGBA frames of the movie from its standard input.
std::vector<std::string> RawInput(const TMoviePlayer& player, const std::string& rate) {
  char size[32];
  std::snprintf(size, sizeof size, "%dx%d", player.Width(), player.Height());
  return {"-hide_banner", "-loglevel", "error", "-y",         "-f", "rawvideo", "-pix_fmt",
          "rgba",         "-s",        size,    "-framerate", rate, "-i",       "-"};
}

// Plays the movie into a started ffmpeg, one frame at a time, so memory holds one frame whatever
// the length. Returns false when ffmpeg stopped taking frames.
bool PipeFrames(TMoviePlayer& player, TFfmpeg& encoder, TProgress& progress, int& frames,
                int done) {
  const std::size_t bytes = std::size_t(player.Width()) * player.Height() * 4;
  while (player.NextFrame()) {
    if (!encoder.Write(player.Pixels(), bytes)) return false;
    progress.Update(done + ++frames);
  }
  return true;
}

// Runs one ffmpeg over the movie's frames; says why on err and returns false on failure.
bool EncodePass(TMoviePlayer& player, const std::string& ffmpeg,
                const std::vector<std::string>& args, const std::string& output,
                TProgress& progress, int& frames, int done, std::ostream& err) {
  TFfmpeg encoder;
  std::string error;
  bool piped = encoder.Start(ffmpeg, args, error);
  if (piped) piped = PipeFrames(player, encoder, progress, frames, done);
  const int status = error.empty() ? encoder.Finish() : -1;
  if (!error.empty()) {
    err << "kestrova: cannot start ffmpeg: " << error << "\n";
    return false;
  }
  if (!piped || status != 0) {
    err << "kestrova: ffmpeg could not write \"" << output << "\" (exit status " << status << ")\n";
    return false;
  }
  return true;
}

// Temporary files beside the output, removed when the export ends.
class TTemporaryFiles {
 public:
  ~TTemporaryFiles() {
    for (const std::string& f : FFiles) RemoveFile(f);
  }
  // Throws EStreamError when the file cannot be made.
  std::string Make(const std::string& beside, const std::string& suffix) {
    FFiles.push_back(CreateTemporaryFile(beside, suffix));
    return FFiles.back();
  }
  void Keep(const std::string& f) {
    FFiles.erase(std::remove(FFiles.begin(), FFiles.end(), f), FFiles.end());
  }

 private:
  std::vector<std::string> FFiles;
};

// Mixes the movie's sound into a raw track beside the output, playing the movie a first time
// without drawing it. Returns false, leaving track empty, for a movie without sound.
bool MixSoundTrack(const std::string& input, double fps, const std::string& track,
                   std::vector<std::string>& notes) {
  TMoviePlayer player(input);
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(track.c_str(), "wb"),
                                                       std::fclose);
  if (!file) throw EStreamError("cannot write the sound track \"" + track + "\"");
  TSoundTrack sound(fps, file.get());
  player.SetSoundListener(&sound);
  int frames = 0;
  while (player.SkipFrame()) {
    ++frames;
    sound.MixTo(frames - 1);
  }
  if (!sound.HasSound()) return false;
  sound.MixTo(frames);
  notes = sound.Notes();
  if (std::fflush(file.get()) != 0)
    throw EStreamError("cannot write the sound track \"" + track + "\"");
  return true;
}

// The sound of the drawing pass is the track's, not something left out.
class TSoundHeard : public TSoundListener {
 public:
  void SoundTag(const TSWFObject&, int) override {}
};

// Gives the finished file the mode of the file it replaces (or a new file's) and puts it there.
bool PutInPlace(const std::string& temporary, const std::string& output, std::ostream& err) {
#ifndef _WIN32
  // The temporary file was private while it was written.
  struct stat old {};
  const mode_t mask = umask(0);
  umask(mask);
  chmod(temporary.c_str(),
        stat(output.c_str(), &old) == 0 ? (old.st_mode & 07777) : (0666 & ~mask));
#endif
  try {
    ReplaceFile(temporary, output);
  } catch (const EStreamError& e) {
    err << "kestrova: " << e.what() << "\n";
    return false;
  }
  return true;
}

}  // namespace

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

int RunExport(const TExportRequest& request, std::ostream& out, std::ostream& err) {
  const TOutputKind* kind = OutputKindOf(request.Output);
  if (!kind) {
    err << "kestrova: cannot export to \"" << request.Output
        << "\": the name must end in .mp4, .webm, .gif or .png\n";
    return 2;
  }
  const std::string ffmpeg = FindProgram("ffmpeg");
  if (ffmpeg.empty()) {
    err << "kestrova: export needs ffmpeg, which is not installed (on Debian: apt-get install "
           "ffmpeg); `kestrova frames` writes PNG pictures without it\n";
    return 1;
  }
  TSoundHeard heard;  // outlives the players below, which may point to it
  auto player = OpenMovie(request.Input, err);
  if (!player) return 1;
  double fps = player->FrameRate();
  if (!(fps > 0)) fps = 12;  // a movie without a rate plays at the recorder's
  char rate[32];
  std::snprintf(rate, sizeof rate, "%.6g", fps);
  const std::string scale = ScaleFilter(*kind, request.Scale);
  // ffmpeg writes files of our own beside the output, named as plain files ("file:"), so that
  // an output named like one of its protocols ("pipe:1.gif") is a file too, and a failed export
  // leaves an earlier output whole.
  TTemporaryFiles temporaries;
  std::string temporary, track, palette;
  std::vector<std::string> soundNotes;
  const int declared = player->DeclaredFrameCount();
  int passes = 1, frames = 0;
  try {
    temporary = temporaries.Make(request.Output, kind->Extension);
    if (!kind->Audio.empty()) {
      track = temporaries.Make(request.Output, ".pcm");
      if (!MixSoundTrack(request.Input, fps, track, soundNotes)) track.clear();
    }
    if (kind->Palette) palette = temporaries.Make(request.Output, ".png");
  } catch (const std::exception& e) {
    err << "kestrova: " << e.what() << "\n";
    return 1;
  }
  [[maybe_unused]] const TIgnoreBrokenPipe ignoreBrokenPipe;
  if (kind->Palette) passes = 2;
  TProgress progress(err, "export", std::uint64_t(declared) * passes,
                     request.Quiet || declared < 100);
  if (kind->Palette) {
    // First pass: ffmpeg counts the colours of every frame into one palette, holding a histogram
    // rather than the frames; the second pass maps each frame to it as it arrives.
    std::vector<std::string> args = RawInput(*player, rate);
    args.insert(args.end(), {"-vf", scale + ",palettegen", "-frames:v", "1", "-update", "1", "-f",
                             "image2", "file:" + palette});
    if (!EncodePass(*player, ffmpeg, args, request.Output, progress, frames, 0, err)) return 1;
    player = OpenMovie(request.Input, err);
    if (!player) return 1;
    const int first = frames;
    frames = 0;
    args = RawInput(*player, rate);
    args.insert(args.end(),
                {"-i", "file:" + palette, "-lavfi", "[0:v]" + scale + "[v];[v][1:v]paletteuse"});
    args.insert(args.end(), kind->Codec.begin(), kind->Codec.end());
    args.push_back("file:" + temporary);
    if (!EncodePass(*player, ffmpeg, args, request.Output, progress, frames, first, err)) return 1;
  } else {
    std::vector<std::string> args = RawInput(*player, rate);
    if (!track.empty()) {
      player->SetSoundListener(&heard);
      args.insert(args.end(), {"-f", "s16le", "-ar", std::to_string(kMixRate), "-ac", "2", "-i",
                               "file:" + track, "-map", "0:v", "-map", "1:a"});
      args.insert(args.end(), kind->Audio.begin(), kind->Audio.end());
    }
    args.insert(args.end(), {"-vf", scale});
    args.insert(args.end(), kind->Codec.begin(), kind->Codec.end());
    args.push_back("file:" + temporary);
    if (!EncodePass(*player, ffmpeg, args, request.Output, progress, frames, 0, err)) return 1;
  }
  if (!PutInPlace(temporary, request.Output, err)) return 1;
  temporaries.Keep(temporary);
  out << "Wrote " << frames << " frame(s) at " << rate << " fps"
      << (track.empty() ? "" : " with sound") << " to " << request.Output << "\n";
  for (const std::string& note : player->Notes()) err << "kestrova: note: " << note << "\n";
  for (const std::string& note : soundNotes) err << "kestrova: note: " << note << "\n";
  if (player->StopReason().empty()) return 0;
  err << "kestrova: \"" << request.Input << "\": " << player->StopReason() << "\n";
  return 1;
}

}  // namespace kestrova
