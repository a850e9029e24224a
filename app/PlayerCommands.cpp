// frames and export: a movie played by the project's own player, written as PNG pictures or
// piped into ffmpeg as video.
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "app/Commands.h"
#include "app/Export.h"
#include "app/Progress.h"
#include "player/Player.h"
#include "player/Png.h"
#include "swftools/Stream.h"

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

bool ParseCount(const std::string& text, int& value) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || end == text.c_str() || *end != '\0' || v < 1 || v > 1000000) return false;
  value = static_cast<int>(v);
  return true;
}

}  // namespace

int FramesCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::vector<std::string> names;
  int from = 1, to = 1000000, every = 1;
  for (std::size_t i = 0; i < args.size(); ++i) {
    int* target = args[i] == "--from"    ? &from
                  : args[i] == "--to"    ? &to
                  : args[i] == "--every" ? &every
                                         : nullptr;
    if (target) {
      if (i + 1 >= args.size() || !ParseCount(args[i + 1], *target))
        return UsageError("frames", err);
      ++i;
    } else if (args[i].rfind("--", 0) == 0) {
      return UsageError("frames", err);
    } else {
      names.push_back(args[i]);
    }
  }
  if (names.size() != 2 || from > to) return UsageError("frames", err);
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
  TProgress progress(err, "frames", static_cast<std::uint64_t>(total), total < 100);
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

int ExportCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::vector<std::string> names;
  double scale = 1;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--scale") {
      char* end = nullptr;
      if (i + 1 >= args.size()) return UsageError("export", err);
      scale = std::strtod(args[++i].c_str(), &end);
      if (*end != '\0' || !(scale > 0 && scale <= 16)) return UsageError("export", err);
    } else {
      names.push_back(args[i]);
    }
  }
  if (names.size() != 2) return UsageError("export", err);
  return RunExport({names[0], names[1], scale}, out, err);
}

}  // namespace kestrova
