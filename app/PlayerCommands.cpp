// frames and export: a movie played by the project's own player, written as PNG pictures or
// piped into ffmpeg as video.
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "app/CommandLine.h"
#include "app/Commands.h"
#include "app/Export.h"
#include "app/Progress.h"
#include "player/Player.h"
#include "player/Png.h"
#include "swftools/Stream.h"

namespace kestrova {

namespace {

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
  return RunExport({o.In, o.Out, o.Scale, o.Quiet}, out, err);
}

}  // namespace kestrova
