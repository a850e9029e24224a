// view and thumbnail: a recording watched on the desktop (in the viewer window, or served to the
// browser) and a small picture of it for file managers.
#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/CommandLine.h"
#include "app/Commands.h"
#include "app/ViewServer.h"
#include "player/Player.h"
#include "player/Png.h"
#include "recorder/Output.h"
#ifdef _WIN32
// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on
#else
#include <spawn.h>
#include <sys/wait.h>
extern char** environ;
#endif
#ifdef KESTROVA_QT_VIEWER
#include "platform/qt/QtViewer.h"
#endif

namespace kestrova {

namespace {

namespace fs = std::filesystem;

fs::path PathOf(const std::string& name) {
  return fs::path(std::u8string(name.begin(), name.end()));
}

// The movie a page embeds: the first .swf it names, beside the page.
std::string MovieOfPage(const std::string& page, std::ostream& err) {
  std::ifstream in(PathOf(page), std::ios::binary);
  if (!in) {
    err << "kestrova: cannot read \"" << page << "\"\n";
    return "";
  }
  std::string text;
  // A page is small; a file that is not one is not read whole.
  text.resize(1 << 20);
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  // The first quoted value ending in .swf (before a query or fragment).
  std::string name;
  for (std::size_t at = 0; name.empty() && (at = text.find(".swf", at)) != std::string::npos;
       at += 4) {
    const std::size_t after = at + 4;
    if (after >= text.size() || std::string("\"'?#").find(text[after]) == std::string::npos) {
      continue;
    }
    const std::size_t open = text.find_last_of("\"'<>", at);
    if (open == std::string::npos || (text[open] != '"' && text[open] != '\'')) continue;
    name = text.substr(open + 1, after - open - 1);
  }
  if (name.empty()) {
    err << "kestrova: \"" << page << "\" embeds no .swf movie\n";
    return "";
  }
  if (name.find("://") != std::string::npos) {
    err << "kestrova: \"" << page << "\" embeds a movie from elsewhere (" << name << ")\n";
    return "";
  }
  return (PathOf(page).parent_path() / PathOf(name)).string();
}

// The movie and the parts that follow it (movie-2.swf, movie-3.swf, ...) as the recorder names
// them, as far as they exist.
[[maybe_unused]] std::vector<std::string> PartsOf(const std::string& movie) {
  std::vector<std::string> parts{movie};
  for (std::uint32_t k = 2; k < 10000; ++k) {
    const std::string next = PartFileName(movie, k);
    std::error_code ec;
    if (!fs::is_regular_file(PathOf(next), ec)) break;
    parts.push_back(next);
  }
  return parts;
}

bool IsPage(const std::string& name) {
  std::string ext = PathOf(name).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  return ext == ".html" || ext == ".htm";
}

std::atomic<bool> gStop{false};

extern "C" void StopServing(int) {
  gStop.store(true);
}

#ifdef _WIN32
// Opens the URL in the user's default browser.
bool OpenInBrowser(const std::string& url) {
  const std::wstring wide(url.begin(), url.end());  // the URL is ASCII: http://127.0.0.1:port/...
  return reinterpret_cast<INT_PTR>(
             ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL)) > 32;
}
#else
// Opens the URL in the desktop's browser; false when there is no xdg-open.
bool OpenInBrowser(const std::string& url) {
  pid_t pid = 0;
  std::string program = "xdg-open";
  char* argv[] = {program.data(), const_cast<char*>(url.c_str()), nullptr};
  if (posix_spawnp(&pid, "xdg-open", nullptr, nullptr, argv, environ) != 0) return false;
  return true;  // it is not waited for: the browser may live longer than it
}
#endif

int ServeToBrowser(const std::string& file, std::ostream& out, std::ostream& err) {
  const fs::path path = fs::absolute(PathOf(file));
  // A movie is shown through its page where there is one.
  fs::path page = path;
  if (!IsPage(file)) {
    fs::path beside = path;
    beside.replace_extension(".html");
    std::error_code ec;
    if (fs::is_regular_file(beside, ec)) page = beside;
  }
  try {
    TStaticServer server(path.parent_path().string());
    const std::string url =
        "http://127.0.0.1:" + std::to_string(server.Port()) + "/" + page.filename().string();
    out << "Serving " << path.parent_path().string() << " at " << url << " (Ctrl+C stops)"
        << std::endl;
    if (!OpenInBrowser(url)) {
      err << "kestrova: no browser could be started; open " << url << " yourself\n";
    }
    gStop.store(false);
#ifdef _WIN32
    // Ctrl+C in the console; the handler runs on a thread of its own and only sets the flag.
    auto oldInt = std::signal(SIGINT, StopServing);
    auto oldTerm = std::signal(SIGTERM, StopServing);
    server.Serve(gStop);
    std::signal(SIGINT, oldInt);
    std::signal(SIGTERM, oldTerm);
#else
    struct sigaction stop = {};
    stop.sa_handler = StopServing;
    struct sigaction oldInt = {}, oldTerm = {};
    sigaction(SIGINT, &stop, &oldInt);
    sigaction(SIGTERM, &stop, &oldTerm);
    server.Serve(gStop);
    sigaction(SIGINT, &oldInt, nullptr);
    sigaction(SIGTERM, &oldTerm, nullptr);
#endif
  } catch (const std::exception& e) {
    err << "kestrova: " << e.what() << "\n";
    return 1;
  }
  return 0;
}

// The stage shrunk to fit size x size, each pixel the average of the stage pixels it covers (a
// picture no larger keeps its size).
std::vector<std::uint8_t> Shrink(const std::uint8_t* rgba, int w, int h, int size, int& ow,
                                 int& oh) {
  const double scale = std::min(1.0, double(size) / std::max(w, h));
  ow = std::max(1, static_cast<int>(w * scale));
  oh = std::max(1, static_cast<int>(h * scale));
  std::vector<std::uint8_t> out(std::size_t(ow) * oh * 4);
  for (int y = 0; y < oh; ++y) {
    const int y0 = static_cast<int>(std::int64_t(y) * h / oh);
    const int y1 = std::max(y0 + 1, static_cast<int>(std::int64_t(y + 1) * h / oh));
    for (int x = 0; x < ow; ++x) {
      const int x0 = static_cast<int>(std::int64_t(x) * w / ow);
      const int x1 = std::max(x0 + 1, static_cast<int>(std::int64_t(x + 1) * w / ow));
      std::uint64_t sum[4] = {0, 0, 0, 0};
      for (int sy = y0; sy < y1; ++sy) {
        for (int sx = x0; sx < x1; ++sx) {
          for (int c = 0; c < 4; ++c) sum[c] += rgba[(std::size_t(sy) * w + sx) * 4 + c];
        }
      }
      const std::uint64_t n = std::uint64_t(y1 - y0) * (x1 - x0);
      for (int c = 0; c < 4; ++c) {
        out[(std::size_t(y) * ow + x) * 4 + c] = static_cast<std::uint8_t>((sum[c] + n / 2) / n);
      }
    }
  }
  return out;
}

}  // namespace

namespace {

struct TViewOptions {
  std::string File;
  bool Browser = false;
};

void DeclareView(CLI::App& app, TViewOptions& o) {
  AddArgument(app, "FILE.swf|FILE.html", o.File, "the recording, or its page")->required();
  app.add_flag("--browser", o.Browser,
               "serve the page's folder on 127.0.0.1 and open it in the browser, until Ctrl+C "
               "(on Windows view always does this: there is no viewer window)");
}

struct TThumbnailOptions {
  std::string In, Out;
  int Size = 0;
};

void DeclareThumbnail(CLI::App& app, TThumbnailOptions& o) {
  AddArgument(app, "IN.swf", o.In, "the movie")->required();
  AddArgument(app, "OUT.png", o.Out, "the picture written")->required();
  AddNumber(app, "SIZE", o.Size, 1, 4096, "SIZE", "the longer side at most, pixels")->required();
}

}  // namespace

std::shared_ptr<void> ViewOptions(CLI::App& app) {
  return DeclareWith<TViewOptions, DeclareView>(app);
}

std::shared_ptr<void> ThumbnailOptions(CLI::App& app) {
  return DeclareWith<TThumbnailOptions, DeclareThumbnail>(app);
}

int ViewCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  TViewOptions o;
  if (int status = ReadArguments("view", DeclareView, args, o, err); status != 0) return status;
  const std::vector<std::string> names = {o.File};
  const bool browser = o.Browser;
  std::error_code ec;
  if (!fs::is_regular_file(PathOf(names[0]), ec)) {
    err << "kestrova: no file \"" << names[0] << "\"\n";
    return 1;
  }
#ifdef _WIN32
  // Windows has no viewer window in this program: the browser shows the page.
  (void)browser;
  return ServeToBrowser(names[0], out, err);
#else
  if (browser) return ServeToBrowser(names[0], out, err);
#endif
  const std::string movie = IsPage(names[0]) ? MovieOfPage(names[0], err) : names[0];
  if (movie.empty()) return 1;
#ifdef KESTROVA_QT_VIEWER
  return platform::qt::RunViewer(PartsOf(movie), err);
#else
  (void)out;
  err << "kestrova: this build has no desktop viewer; `kestrova view --browser` serves the page "
         "to a browser\n";
  return 1;
#endif
}

int ThumbnailCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  TThumbnailOptions o;
  if (int status = ReadArguments("thumbnail", DeclareThumbnail, args, o, err); status != 0) {
    return status;
  }
  const int size = o.Size;
  try {
    TMoviePlayer player(o.In);
    if (!player.NextFrame()) {
      err << "kestrova: \"" << o.In << "\" has no frame to show"
          << (player.StopReason().empty() ? "" : ": " + player.StopReason()) << "\n";
      return 1;
    }
    int w = 0, h = 0;
    const std::vector<std::uint8_t> small =
        Shrink(player.Pixels(), player.Width(), player.Height(), size, w, h);
    SavePng(o.Out, small.data(), w, h);
    out << "Wrote a " << w << " x " << h << " picture of " << o.In << " to " << o.Out << "\n";
  } catch (const EPlayerError& e) {
    err << "kestrova: \"" << o.In << "\": " << e.what() << "\n";
    return 1;
  } catch (const std::exception& e) {
    err << "kestrova: " << e.what() << "\n";
    return 1;
  }
  return 0;
}

}  // namespace kestrova
